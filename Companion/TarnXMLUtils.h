// LoadXMLDocument: XML files as IXMLDocument / IXMLNode trees.
// Element names, attribute values and element text come out in the process code page (converted
// from the document's UTF-8 on Windows). Names passed in to look up attributes and child elements
// are compared with the document's UTF-8 as they are, so they must be ASCII.
#ifndef TARN_XML_UTILS_H
#define TARN_XML_UTILS_H

#include <ORVInterface.h>

#include "Common/Platform.h"

#include <memory>
#include <string>

namespace orv {

// Loads FileName. Raises EORVException naming the file when it is missing, unreadable or larger
// than 16 MiB (before reading it), naming the encoding when the file declares one that cannot be
// read, and naming the file, the rule broken and the line/column when it is not well-formed XML 1.0
// (the declarations of a DOCTYPE included). References to entities that a DOCTYPE declares are
// checked but not replaced: they stay in the text as written.
// A document without a root element loads; its GetDocumentElement() is nil.
Ref<IXMLDocument> LoadXMLDocument(const std::string& FileName);

// Parses Bytes, the content of a file, as a document named FileName (same errors as
// LoadXMLDocument, the size limit aside).
Ref<IXMLDocument> LoadXMLDocumentFromString(const std::string& Bytes, const std::string& FileName);

class TXMLBuild;

// Loads documents one after another (as LoadXMLDocument and LoadXMLDocumentFromString do), keeping
// its working memory from one to the next: the bytes read, the text parsed in place and the lists
// of the tree being built. A run of manifests read through one loader costs each a document
// object and its tree's block, where a loader per document made some thirty allocations (with the
// packed tree: parse of scripts/bench's 10,000 plug-ins, 124 allocations a plug-in down to 88).
// Not to be used by two threads at once.
class TXMLLoader {
public:
    TXMLLoader();
    ~TXMLLoader();
    TXMLLoader(const TXMLLoader&) = delete;
    TXMLLoader& operator=(const TXMLLoader&) = delete;

    Ref<IXMLDocument> Load(const std::string& FileName);
    Ref<IXMLDocument> LoadFromString(const std::string& Bytes, const std::string& FileName);

private:
    std::unique_ptr<TXMLBuild> Build_;
    std::string Bytes_;
    std::string Converted_;
};

// What the finder of Document's file knew of the file's folder: its regular files, as a walk listed
// them (Document from LoadXMLDocument or a TXMLLoader; nothing happens for another). Taken by
// the first reader that asks: the document does not keep them.
void XMLSetFilesBeside(IXMLDocument* Document, std::shared_ptr<const TFileNames> Files);
// Those files, nil when nobody set them or a reader took them already.
std::shared_ptr<const TFileNames> XMLTakeFilesBeside(IXMLDocument* Document);

// The 1-based line and column of Node's start tag in its file (Node from LoadXMLDocument); false,
// with both 0, when they are not known.
bool XMLNodePosition(IXMLNode* Node, int32_t& Line, int32_t& Column);

// The boolean reading of attribute text: "true", "yes", "1" (ASCII case ignored) are true.
bool XMLTextToBool(const std::string& Text);

}  // namespace orv

#endif
