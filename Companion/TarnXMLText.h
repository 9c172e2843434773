// The bytes of an XML file before they are parsed: their encoding, and the characters XML 1.0
// allows.
#ifndef TARN_XML_TEXT_H
#define TARN_XML_TEXT_H

#include <ORVInterface.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace orv {

// An XML file that is not well-formed: the message names the file, what is wrong and where; Line
// and Column (1-based) say where for tools.
class EXMLError : public EORVException {
public:
    EXMLError(const std::string& Message, int32_t Line, int32_t Column)
        : EORVException(Message), Line(Line), Column(Column) {}
    int32_t Line;
    int32_t Column;
};

// The largest XML file that is read (a manifest or an engine configuration).
constexpr int64_t MaxXMLFileSize = 16 * 1024 * 1024;

// Bytes, the content of the XML file FileName, as UTF-8: a byte-order mark or the UTF-16/UTF-32
// layout of "<?" decides first, then the encoding that the XML declaration names (UTF-8 when it
// names none); text in another encoding is decoded by the platform layer. Stores the UTF-8 text in
// Utf8 and returns true, or returns false when Bytes is UTF-8 as it stands (Utf8 untouched).
// Raises EORVException naming the file (and the encoding) when the bytes cannot be read so.
bool XMLTextToUtf8(const std::string& Bytes, const std::string& FileName, std::string& Utf8);

// What CheckXMLCharacters counts on its way through a text.
struct TXMLTextFacts {
    std::vector<uint32_t> LineStarts;  // the offset of every line's first byte
    std::size_t Tags = 0;              // "<" outside comments and CDATA: at most as many elements
    std::size_t Equals = 0;            // "=": at most as many attributes
};

// Raises EORVException, "not well-formed" with line and column, for the first thing in the UTF-8
// text Text that XML 1.0 forbids and a lenient parser lets through: a byte sequence that is not
// UTF-8, a character outside XML's character range, or a character reference to one (&#0;).
// Facts, when given, receives what the pass counted.
void CheckXMLCharacters(const std::string& Text, const std::string& FileName, TXMLTextFacts* Facts = nullptr);

// Raises EXMLError: the file FileName is not well-formed, What went wrong at byte Offset of
// Text (reported as line and column).
[[noreturn]] void RaiseMalformedXML(const std::string& FileName, const std::string& Text, const std::string& What,
                                    std::ptrdiff_t Offset);

}  // namespace orv

#endif
