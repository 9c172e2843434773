// The bytes of an XML file before they are parsed: their encoding, and how a file that is not
// well-formed is reported.
#ifndef TARN_XML_TEXT_H
#define TARN_XML_TEXT_H

#include <ORVInterface.h>

#include <cstddef>
#include <cstdint>
#include <string>

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
// Raises EORVException naming the file (and the encoding) when the bytes cannot be read so, when
// a byte-order mark and the declaration disagree, and for UTF-16 or UTF-32 with neither.
bool XMLTextToUtf8(const std::string& Bytes, const std::string& FileName, std::string& Utf8);

// Raises EXMLError: the file FileName is not well-formed, What went wrong at byte Offset of
// Text (reported as line and column), Hint after that.
[[noreturn]] void RaiseMalformedXML(const std::string& FileName, const std::string& Text, const std::string& What,
                                    std::ptrdiff_t Offset, const std::string& Hint = std::string());

}  // namespace orv

#endif
