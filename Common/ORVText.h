// The small text rules that the engine, its XML reader and its tools share: ASCII letter case,
// trimming, and UTF-8 sequences. Nothing here depends on the platform or the engine's types, so
// the tools that only load the engine library link it too (library ORVText).
#ifndef ORV_TEXT_H
#define ORV_TEXT_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace orv {

// --- ASCII letter case ----------------------------------------------------------------------

// C with A-Z lower-cased; every other byte, non-ASCII ones among them, unchanged.
constexpr char AsciiLower(char C) { return C >= 'A' && C <= 'Z' ? static_cast<char>(C - 'A' + 'a') : C; }

// S with its ASCII letters A-Z lower-cased.
std::string AsciiLowerCase(std::string S);

// Whether A and B are equal ignoring the letter case of ASCII letters only.
bool SameTextAscii(std::string_view A, std::string_view B);

// --- trimming -------------------------------------------------------------------------------

// Whether C is one of the codes 0 to 32: a control character or a space.
constexpr bool IsControlOrBlank(char C) { return static_cast<unsigned char>(C) <= 32; }

// Text without the leading and trailing characters for which IsBlank holds.
std::string Trim(std::string_view Text, bool (*IsBlank)(char) = IsControlOrBlank);

// --- UTF-8 ----------------------------------------------------------------------------------

// Whether Text holds a well-formed UTF-8 sequence at At (below Text.size()): no overlong form, no
// encoded surrogate, nothing above U+10FFFF, nothing cut short. When it does, CodePoint receives
// its value and Length its length (1 for ASCII). When it does not, Length receives the length of
// the maximal ill-formed part there (at least 1), which counts as one character, and CodePoint is
// left unspecified. Inline: the XML reader calls it for every non-ASCII character.
inline bool DecodeUtf8(std::string_view Text, std::size_t At, uint32_t& CodePoint, std::size_t& Length) {
    const auto Byte = [&Text](std::size_t I) { return static_cast<unsigned char>(Text[I]); };
    const unsigned char Lead = Byte(At);
    Length = 1;
    CodePoint = Lead;
    if (Lead < 0x80) return true;
    // The lead byte decides the length and the range of the second byte, which excludes overlong
    // forms, surrogates and values above U+10FFFF.
    std::size_t Need;
    unsigned char Low = 0x80, High = 0xBF;
    if (Lead >= 0xC2 && Lead <= 0xDF) {
        Need = 2, CodePoint = Lead & 0x1F;
    } else if (Lead >= 0xE0 && Lead <= 0xEF) {
        Need = 3, CodePoint = Lead & 0x0F;
        if (Lead == 0xE0) Low = 0xA0;
        if (Lead == 0xED) High = 0x9F;
    } else if (Lead >= 0xF0 && Lead <= 0xF4) {
        Need = 4, CodePoint = Lead & 0x07;
        if (Lead == 0xF0) Low = 0x90;
        if (Lead == 0xF4) High = 0x8F;
    } else {
        return false;
    }
    for (std::size_t K = 1; K < Need; ++K, Low = 0x80, High = 0xBF) {
        if (At + K >= Text.size() || Byte(At + K) < Low || Byte(At + K) > High) {
            Length = K;
            return false;
        }
        CodePoint = (CodePoint << 6) | (Byte(At + K) & 0x3F);
    }
    Length = Need;
    return true;
}

// Writes CodePoint (at most U+10FFFF) as UTF-8 at Out, which has room for 4 bytes; the number of
// bytes written.
inline std::size_t EncodeUtf8(uint32_t CodePoint, char* Out) {
    if (CodePoint < 0x80) {
        Out[0] = static_cast<char>(CodePoint);
        return 1;
    }
    if (CodePoint < 0x800) {
        Out[0] = static_cast<char>(0xC0 | (CodePoint >> 6));
        Out[1] = static_cast<char>(0x80 | (CodePoint & 0x3F));
        return 2;
    }
    if (CodePoint < 0x10000) {
        Out[0] = static_cast<char>(0xE0 | (CodePoint >> 12));
        Out[1] = static_cast<char>(0x80 | ((CodePoint >> 6) & 0x3F));
        Out[2] = static_cast<char>(0x80 | (CodePoint & 0x3F));
        return 3;
    }
    Out[0] = static_cast<char>(0xF0 | (CodePoint >> 18));
    Out[1] = static_cast<char>(0x80 | ((CodePoint >> 12) & 0x3F));
    Out[2] = static_cast<char>(0x80 | ((CodePoint >> 6) & 0x3F));
    Out[3] = static_cast<char>(0x80 | (CodePoint & 0x3F));
    return 4;
}

// Appends CodePoint (at most U+10FFFF) to Out as UTF-8.
inline void AppendUtf8(uint32_t CodePoint, std::string& Out) {
    char Bytes[4];
    Out.append(Bytes, EncodeUtf8(CodePoint, Bytes));
}

}  // namespace orv

#endif
