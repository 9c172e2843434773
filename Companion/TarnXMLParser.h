// The XML reader: one pass over a document's UTF-8 text that checks it against XML 1.0 (fifth
// edition) and builds its element tree.
#ifndef TARN_XML_PARSER_H
#define TARN_XML_PARSER_H

#include <string>

namespace orv {

class TXMLBuild;

// Parses Text, the content of the XML file FileName as UTF-8, into Build (cleared before): the
// elements, their attributes and their text, in a copy of Text that becomes the build's buffer.
// Raises EXMLError naming the file, the rule broken, the line and the column for the first thing
// that keeps the document from being well-formed, the declarations of a DOCTYPE's internal subset
// included. Text without a root element (nothing but a prolog) gives a tree without root.
// Entity references other than the five predefined ones and character references are checked
// (declared, not recursive, well-formed where they are used) but stay in the text as written.
// Where Text was taken as UTF-8 without a declaration saying so, the message of a byte sequence
// that is not UTF-8 says how to declare another encoding (UndeclaredUtf8).
void ParseXMLDocument(const std::string& Text, const std::string& FileName, TXMLBuild& Build, bool UndeclaredUtf8);

}  // namespace orv

#endif
