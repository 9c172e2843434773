// LoadXMLDocument: XML files as IXMLDocument / IXMLNode trees.
// Element names, attribute values and element text come out in the process code page (converted
// from the document's UTF-8 on Windows). Names passed in to look up attributes and child elements
// are compared with the document's UTF-8 as they are, so they must be ASCII.
#ifndef TARN_XML_UTILS_H
#define TARN_XML_UTILS_H

#include <ORVInterface.h>

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

// The 1-based line and column of Node's start tag in its file (Node from LoadXMLDocument); false,
// with both 0, when they are not known.
bool XMLNodePosition(IXMLNode* Node, int32_t& Line, int32_t& Column);

// The boolean reading of attribute text: "true", "yes", "1" (ASCII case ignored) are true.
bool XMLTextToBool(const std::string& Text);

}  // namespace orv

#endif
