#include "Companion/TarnXMLText.h"

#include "Common/ORVText.h"
#include "Common/Platform.h"

#include <ORVInterface.h>

#include <algorithm>
#include <cstdio>
#include <cstring>


namespace orv {

namespace {

// The name without letter case, "-" and "_": "UTF-8", "utf_8" and "UTF8" are one.
std::string EncodingKey(const std::string& Name) {
    std::string Key;
    for (char C : Name)
        if (C != '-' && C != '_') Key += AsciiLower(C);
    return Key;
}

// UTF-16 or UTF-32 (Unit bytes, big-endian or not) from byte Start on, as UTF-8.
std::string WideAsUtf8(const std::string& Bytes, std::size_t Start, std::size_t Unit, bool BigEndian,
                       const std::string& FileName) {
    const auto UnitAt = [&](std::size_t At) {
        uint32_t V = 0;
        for (std::size_t K = 0; K < Unit; ++K) {
            const uint32_t B = static_cast<unsigned char>(Bytes[At + K]);
            V |= BigEndian ? B << (8 * (Unit - 1 - K)) : B << (8 * K);
        }
        return V;
    };
    const char* Name = Unit == 2 ? "UTF-16" : "UTF-32";
    std::string Out;
    Out.reserve(Bytes.size());
    std::size_t At = Start;
    while (At < Bytes.size()) {
        if (At + Unit > Bytes.size())
            throw EORVException("XML file \"" + FileName + "\" is not well-formed: it ends inside a " + Name +
                                " character");
        uint32_t C = UnitAt(At);
        At += Unit;
        if (Unit == 2 && C >= 0xD800 && C <= 0xDBFF && At + 2 <= Bytes.size()) {
            const uint32_t Low = UnitAt(At);
            if (Low >= 0xDC00 && Low <= 0xDFFF) {
                C = 0x10000 + ((C - 0xD800) << 10) + (Low - 0xDC00);
                At += 2;
            }
        }
        if (C > 0x10FFFF || (C >= 0xD800 && C <= 0xDFFF))
            throw EORVException("XML file \"" + FileName + "\" is not well-formed: byte " + std::to_string(At - Unit) +
                                " is not a " + Name + " character");
        AppendUtf8(C, Out);
    }
    return Out;
}

// The encoding that an XML declaration at the start of Bytes names; empty when there is none.
std::string DeclaredEncoding(const std::string& Bytes) {
    // "<?xml" and a blank: "<?xml-stylesheet encoding=...?>" declares nothing.
    if (Bytes.compare(0, 5, "<?xml") != 0 || Bytes.size() < 6 || std::strchr(" \t\r\n", Bytes[5]) == nullptr ||
        Bytes[5] == '\0')
        return std::string();
    const std::size_t End = Bytes.find("?>");
    const std::string Declaration = Bytes.substr(0, End == std::string::npos ? std::min<std::size_t>(Bytes.size(), 256) : End);
    std::size_t At = Declaration.find("encoding");
    if (At == std::string::npos) return std::string();
    At += 8;
    while (At < Declaration.size() && (Declaration[At] == ' ' || Declaration[At] == '\t' || Declaration[At] == '\r' ||
                                       Declaration[At] == '\n' || Declaration[At] == '='))
        ++At;
    if (At >= Declaration.size() || (Declaration[At] != '"' && Declaration[At] != '\'')) return std::string();
    const std::size_t Close = Declaration.find(Declaration[At], At + 1);
    if (Close == std::string::npos) return std::string();
    return Declaration.substr(At + 1, Close - At - 1);
}

bool StartsWith(const std::string& Bytes, const char* Prefix, std::size_t Length) {
    return Bytes.size() >= Length && std::memcmp(Bytes.data(), Prefix, Length) == 0;
}

// The line and column of a byte offset into Text (both 1-based; the column counts bytes).
void PositionOf(const std::string& Text, std::ptrdiff_t Offset, int32_t& Line, int32_t& Column) {
    std::size_t End = Offset < 0 ? 0 : std::min(static_cast<std::size_t>(Offset), Text.size());
    Line = 1;
    std::size_t LineStart = 0;
    for (std::size_t I = 0; I < End; ++I)
        if (Text[I] == '\n') {
            ++Line;
            LineStart = I + 1;
        }
    Column = static_cast<int32_t>(End - LineStart + 1);
}

}  // namespace

bool XMLTextToUtf8(const std::string& Bytes, const std::string& FileName, std::string& Utf8) {
    // Byte-order marks, then the layout of "<?" in the wide encodings.
    // What the text declares must agree with what its first bytes say.
    auto Agree = [&](const std::string& Text, const char* Found, bool Mark) {
        const std::string Declared = DeclaredEncoding(Text);
        const std::string Key = EncodingKey(Declared);
        const std::string Family = EncodingKey(Found).substr(0, 5);
        const bool Same = Family == "utf8" ? Key == "utf8"
                          : Family == "utf16" ? Key.compare(0, 5, "utf16") == 0 || Key == "ucs2" || Key == "iso10646ucs2"
                                              : Key.compare(0, 5, "utf32") == 0 || Key == "ucs4" || Key == "iso10646ucs4";
        if (!Declared.empty() && !Same)
            throw EORVException("XML file \"" + FileName + "\" is not well-formed: it declares the encoding \"" + Declared +
                                "\" but " + (Mark ? "starts with the byte-order mark of " : "is written in ") + Found);
        if (Declared.empty() && !Mark && Family != "utf8")
            throw EORVException("XML file \"" + FileName + "\" is not well-formed: it is written in " + Found +
                                " without a byte-order mark and without an encoding declaration");
    };
    auto Wide = [&](std::size_t Skip, std::size_t Unit, bool BigEndian) {
        Utf8 = WideAsUtf8(Bytes, Skip, Unit, BigEndian, FileName);
        Agree(Utf8, Unit == 2 ? "UTF-16" : "UTF-32", Skip > 0);
        return true;
    };
    if (StartsWith(Bytes, "\xEF\xBB\xBF", 3)) {
        Utf8 = Bytes.substr(3);
        Agree(Utf8, "UTF-8", true);
        return true;
    }
    if (StartsWith(Bytes, "\x00\x00\xFE\xFF", 4)) return Wide(4, 4, true);
    if (StartsWith(Bytes, "\xFF\xFE\x00\x00", 4)) return Wide(4, 4, false);
    if (StartsWith(Bytes, "\xFE\xFF", 2)) return Wide(2, 2, true);
    if (StartsWith(Bytes, "\xFF\xFE", 2)) return Wide(2, 2, false);
    if (StartsWith(Bytes, "\x00\x00\x00<", 4)) return Wide(0, 4, true);
    if (StartsWith(Bytes, "<\x00\x00\x00", 4)) return Wide(0, 4, false);
    if (StartsWith(Bytes, "\x00<\x00?", 4)) return Wide(0, 2, true);
    if (StartsWith(Bytes, "<\x00?\x00", 4)) return Wide(0, 2, false);

    const std::string Encoding = DeclaredEncoding(Bytes);
    const std::string Key = EncodingKey(Encoding);
    if (Key.empty() || Key == "utf8") return false;
    if (Key.compare(0, 5, "utf16") == 0 || Key.compare(0, 5, "utf32") == 0 || Key == "ucs2" || Key == "ucs4")
        throw EORVException("XML file \"" + FileName + "\" declares the encoding \"" + Encoding +
                            "\" but is not written in it");
    std::string Error;
    if (!Platform().DecodeText(Bytes, Encoding, Utf8, Error))
        throw EORVException("XML file \"" + FileName + "\" declares the encoding \"" + Encoding +
                            "\", which cannot be read: " + Error);
    return true;
}

void RaiseMalformedXML(const std::string& FileName, const std::string& Text, const std::string& What,
                       std::ptrdiff_t Offset, const std::string& Hint) {
    int32_t Line, Column;
    PositionOf(Text, Offset, Line, Column);
    throw EXMLError("XML file \"" + FileName + "\" is not well-formed: " + What + " (line " + std::to_string(Line) +
                        ", column " + std::to_string(Column) + ")" + Hint,
                    Line, Column);
}

}  // namespace orv
