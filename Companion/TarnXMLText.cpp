#include "Companion/TarnXMLText.h"

#include "Common/Platform.h"

#include <ORVInterface.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace orv {

namespace {

char AsciiLower(char C) { return (C >= 'A' && C <= 'Z') ? static_cast<char>(C - 'A' + 'a') : C; }

// The name without letter case, "-" and "_": "UTF-8", "utf_8" and "UTF8" are one.
std::string EncodingKey(const std::string& Name) {
    std::string Key;
    for (char C : Name)
        if (C != '-' && C != '_') Key += AsciiLower(C);
    return Key;
}

bool IsXMLChar(uint32_t C) {
    return C == 0x9 || C == 0xA || C == 0xD || (C >= 0x20 && C <= 0xD7FF) || (C >= 0xE000 && C <= 0xFFFD) ||
           (C >= 0x10000 && C <= 0x10FFFF);
}

std::string CodePointName(uint32_t C) {
    char Buffer[16];
    std::snprintf(Buffer, sizeof Buffer, "U+%04X", static_cast<unsigned>(C));
    return Buffer;
}

void AppendUtf8(uint32_t C, std::string& Out) {
    if (C < 0x80) {
        Out += static_cast<char>(C);
    } else if (C < 0x800) {
        Out += static_cast<char>(0xC0 | (C >> 6));
        Out += static_cast<char>(0x80 | (C & 0x3F));
    } else if (C < 0x10000) {
        Out += static_cast<char>(0xE0 | (C >> 12));
        Out += static_cast<char>(0x80 | ((C >> 6) & 0x3F));
        Out += static_cast<char>(0x80 | (C & 0x3F));
    } else {
        Out += static_cast<char>(0xF0 | (C >> 18));
        Out += static_cast<char>(0x80 | ((C >> 12) & 0x3F));
        Out += static_cast<char>(0x80 | ((C >> 6) & 0x3F));
        Out += static_cast<char>(0x80 | (C & 0x3F));
    }
}

// Decodes the UTF-8 sequence at Text[I]; false for a sequence that is not UTF-8 (overlong,
// a surrogate, beyond U+10FFFF, cut short).
bool DecodeUtf8(const std::string& Text, std::size_t I, uint32_t& C, std::size_t& Length) {
    const auto Byte = [&](std::size_t K) { return static_cast<unsigned char>(Text[K]); };
    const unsigned char B0 = Byte(I);
    if (B0 < 0x80) {
        C = B0;
        Length = 1;
        return true;
    }
    uint32_t Min;
    if ((B0 & 0xE0) == 0xC0) {
        C = B0 & 0x1F, Length = 2, Min = 0x80;
    } else if ((B0 & 0xF0) == 0xE0) {
        C = B0 & 0x0F, Length = 3, Min = 0x800;
    } else if ((B0 & 0xF8) == 0xF0) {
        C = B0 & 0x07, Length = 4, Min = 0x10000;
    } else {
        return false;
    }
    if (I + Length > Text.size()) return false;
    for (std::size_t K = 1; K < Length; ++K) {
        if ((Byte(I + K) & 0xC0) != 0x80) return false;
        C = (C << 6) | (Byte(I + K) & 0x3F);
    }
    return C >= Min && C <= 0x10FFFF && !(C >= 0xD800 && C <= 0xDFFF);
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
    if (Bytes.compare(0, 5, "<?xml") != 0) return std::string();
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

#if defined(__SSE2__)
// The number of bits set in a 16-bit mask (by halves: not every target counts bits in one step).
inline std::size_t BitCount16(unsigned Mask) {
    Mask = Mask - ((Mask >> 1) & 0x5555u);
    Mask = (Mask & 0x3333u) + ((Mask >> 2) & 0x3333u);
    Mask = (Mask + (Mask >> 4)) & 0x0F0Fu;
    return (Mask + (Mask >> 8)) & 0x1Fu;
}
#endif

// The first byte from I on that CheckXMLCharacters must look at: a control or non-ASCII byte (tab
// and carriage return aside), "<", "&", and Stop (the first byte of the end of a skipped section;
// 0 outside one). The "=" passed on the way are counted in Equals.
std::size_t SkipPlain(const unsigned char* Bytes, std::size_t I, std::size_t Size, unsigned char Stop,
                      std::size_t& Equals) {
    static const struct TPlain {
        bool Byte[256];
        TPlain() : Byte() {
            for (int B = 0x20; B < 0x80; ++B) Byte[B] = true;
            Byte['\t'] = Byte['\r'] = true;
            Byte['<'] = Byte['&'] = false;
        }
    } Plain;
#if defined(__SSE2__)
    // Sixteen bytes at a time; the bytes from 0x80 up are negative, and so below the space too.
    const __m128i Space = _mm_set1_epi8(0x20), Tab = _mm_set1_epi8('\t'), Return = _mm_set1_epi8('\r');
    const __m128i Less = _mm_set1_epi8('<'), Amp = _mm_set1_epi8('&'), Equal = _mm_set1_epi8('=');
    const __m128i StopByte = _mm_set1_epi8(static_cast<char>(Stop ? Stop : '<'));
    for (; I + 16 <= Size; I += 16) {
        const __m128i V = _mm_loadu_si128(reinterpret_cast<const __m128i*>(Bytes + I));
        const __m128i Blank = _mm_or_si128(_mm_cmpeq_epi8(V, Tab), _mm_cmpeq_epi8(V, Return));
        __m128i Look = _mm_andnot_si128(Blank, _mm_cmplt_epi8(V, Space));
        Look = _mm_or_si128(Look, _mm_or_si128(_mm_cmpeq_epi8(V, Less), _mm_cmpeq_epi8(V, Amp)));
        Look = _mm_or_si128(Look, _mm_cmpeq_epi8(V, StopByte));
        const auto LookMask = static_cast<unsigned>(_mm_movemask_epi8(Look));
        const auto EqualMask = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(V, Equal)));
        if (LookMask) {
            const auto K = static_cast<unsigned>(__builtin_ctz(LookMask));
            Equals += BitCount16(EqualMask & ((1u << K) - 1));
            return I + K;
        }
        Equals += BitCount16(EqualMask);
    }
#endif
    for (; I < Size; ++I) {
        const unsigned char B = Bytes[I];
        if (!Plain.Byte[B] || B == Stop) break;
        Equals += B == '=';
    }
    return I;
}

}  // namespace

bool XMLTextToUtf8(const std::string& Bytes, const std::string& FileName, std::string& Utf8) {
    // Byte-order marks, then the layout of "<?" in the wide encodings.
    auto Wide = [&](std::size_t Skip, std::size_t Unit, bool BigEndian) {
        Utf8 = WideAsUtf8(Bytes, Skip, Unit, BigEndian, FileName);
        return true;
    };
    if (StartsWith(Bytes, "\xEF\xBB\xBF", 3)) {
        Utf8 = Bytes.substr(3);
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

void CheckXMLCharacters(const std::string& Text, const std::string& FileName, TXMLTextFacts* Facts) {
    // Character references count in content and attribute values, not in comments, CDATA
    // sections and processing instructions, where "&#0;" is plain text.
    // Most bytes are plain ASCII that needs no second look (SkipPlain passes them).
    const char* SkipUntil = nullptr;
    const std::size_t Size = Text.size();
    const auto* Bytes = reinterpret_cast<const unsigned char*>(Text.data());
    TXMLTextFacts Ignored;
    TXMLTextFacts& Counted = Facts ? *Facts : Ignored;
    Counted.LineStarts.reserve(16);
    Counted.LineStarts.assign(1, 0);
    for (std::size_t I = 0; I < Size;) {
        I = SkipPlain(Bytes, I, Size, SkipUntil ? static_cast<unsigned char>(SkipUntil[0]) : 0, Counted.Equals);
        if (I == Size) break;
        if (Bytes[I] == '\n') {
            Counted.LineStarts.push_back(static_cast<uint32_t>(++I));
            continue;
        }
        uint32_t C;
        std::size_t Length;
        if (!DecodeUtf8(Text, I, C, Length))
            RaiseMalformedXML(FileName, Text, "a byte sequence that is not UTF-8", static_cast<std::ptrdiff_t>(I));
        if (!IsXMLChar(C))
            RaiseMalformedXML(FileName, Text, "the character " + CodePointName(C) + ", which XML does not allow",
                              static_cast<std::ptrdiff_t>(I));
        if (SkipUntil) {
            if (Text.compare(I, std::strlen(SkipUntil), SkipUntil) == 0) {
                I += std::strlen(SkipUntil);
                SkipUntil = nullptr;
                continue;
            }
        } else if (C == '<' && I + 1 < Size) {
            // A start tag: not "</", "<!" nor "<?".
            const unsigned char Next = Bytes[I + 1];
            if (Next != '/' && Next != '!' && Next != '?')
                ++Counted.Tags;
            else if (Next == '!' && Text.compare(I, 4, "<!--") == 0)
                SkipUntil = "-->";
            else if (Next == '!' && Text.compare(I, 9, "<![CDATA[") == 0)
                SkipUntil = "]]>";
            else if (Next == '?')
                SkipUntil = "?>";
        } else if (C == '&' && Text.compare(I, 2, "&#") == 0) {
            std::size_t At = I + 2;
            const bool Hex = At < Text.size() && Text[At] == 'x';
            if (Hex) ++At;
            uint64_t Value = 0;
            std::size_t Digits = 0;
            for (; At < Text.size() && Text[At] != ';'; ++At, ++Digits) {
                const char D = AsciiLower(Text[At]);
                int V = -1;
                if (D >= '0' && D <= '9') V = D - '0';
                if (Hex && D >= 'a' && D <= 'f') V = D - 'a' + 10;
                if (V < 0) break;
                Value = std::min<uint64_t>(Value * (Hex ? 16 : 10) + static_cast<uint64_t>(V), 0x110000);
            }
            // A reference the parser cannot read is its own error; one it can must name a character.
            if (At < Text.size() && Text[At] == ';' && Digits > 0 && !IsXMLChar(static_cast<uint32_t>(Value)))
                RaiseMalformedXML(FileName, Text,
                                  "the character reference " + Text.substr(I, At + 1 - I) + ", which XML does not allow",
                                  static_cast<std::ptrdiff_t>(I));
        }
        I += Length;
    }
}

void RaiseMalformedXML(const std::string& FileName, const std::string& Text, const std::string& What,
                       std::ptrdiff_t Offset) {
    int32_t Line, Column;
    PositionOf(Text, Offset, Line, Column);
    throw EXMLError("XML file \"" + FileName + "\" is not well-formed: " + What + " (line " + std::to_string(Line) +
                        ", column " + std::to_string(Column) + ")",
                    Line, Column);
}

}  // namespace orv
