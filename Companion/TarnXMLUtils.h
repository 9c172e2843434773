// LoadXMLDocument: XML files as IXMLDocument / IXMLNode trees (over pugixml).
// Element names, attribute values and element text come out in the process code page (converted
// from the document's UTF-8 on Windows). Names passed in to look up attributes and child elements
// are compared with the document's UTF-8 as they are, so they must be ASCII.
#ifndef TARN_XML_UTILS_H
#define TARN_XML_UTILS_H

#include <ORVInterface.h>

#include <string>

namespace orv {

// Loads FileName. Raises EORVException naming the file when it is missing or unreadable, and
// naming the file, the parser's description and the line/column when it is not well-formed.
// A document without a root element loads; its GetDocumentElement() is nil.
Ref<IXMLDocument> LoadXMLDocument(const std::string& FileName);

// Parses Text as a document named FileName (same errors as LoadXMLDocument).
Ref<IXMLDocument> LoadXMLDocumentFromString(const std::string& Text, const std::string& FileName);

// The boolean reading of attribute text: "true", "yes", "1" (ASCII case ignored) are true.
bool XMLTextToBool(const std::string& Text);

}  // namespace orv

#endif
