// The shared text rules: ASCII letter case, trimming, UTF-8 sequences.
#include "Common/ORVText.h"

#include <gtest/gtest.h>

#include <string>

using namespace orv;

namespace {

std::string Encoded(uint32_t CodePoint) {
    std::string Out;
    AppendUtf8(CodePoint, Out);
    return Out;
}

}  // namespace

TEST(TextTest, AsciiCaseTouchesOnlyAsciiLetters) {
    EXPECT_EQ(AsciiLowerCase(""), "");
    // The neighbours of A-Z and a-z, and bytes whose low seven bits are letters, stay as they are.
    EXPECT_EQ(AsciiLowerCase("%EXE%\\Ab@[`{Z\xC4"), "%exe%\\ab@[`{z\xC4");
    EXPECT_EQ(AsciiLowerCase("\xC1\xDA\xFF"), "\xC1\xDA\xFF");
    EXPECT_TRUE(SameTextAscii("", ""));
    EXPECT_TRUE(SameTextAscii("%Config%", "%CONFIG%"));
    EXPECT_FALSE(SameTextAscii("\xC4", "\xE4"));  // Latin-1 A-umlaut and a-umlaut differ
    EXPECT_FALSE(SameTextAscii("@[", "`{"));      // 0x20 apart, but not letters
    EXPECT_FALSE(SameTextAscii("abc", "ab"));
    EXPECT_FALSE(SameTextAscii("ab", "abc"));
    // Lengths, not NULs, end the texts.
    EXPECT_FALSE(SameTextAscii(std::string_view("a\0b", 3), std::string_view("a\0c", 3)));
    EXPECT_TRUE(SameTextAscii(std::string_view("A\0B", 3), std::string_view("a\0b", 3)));
}

TEST(TextTest, TrimRemovesControlsAndSpacesAtBothEndsOnly) {
    EXPECT_EQ(Trim(""), "");
    EXPECT_EQ(Trim(" \t\r\n"), "");
    EXPECT_EQ(Trim(std::string_view("\0\x1F x y\x01 \0", 9)), "x y");
    // DEL and non-ASCII bytes (a no-break space among them) are not blanks.
    EXPECT_EQ(Trim("\x7F" "a\xA0"), "\x7F" "a\xA0");
    EXPECT_EQ(Trim("\xC2\xA0 a "), "\xC2\xA0 a");
    // A caller's own blanks.
    EXPECT_EQ(Trim("--a-b--", [](char C) { return C == '-'; }), "a-b");
    EXPECT_EQ(Trim("\x01 a \x01", [](char C) { return C == ' '; }), "\x01 a \x01");
}

TEST(TextTest, Utf8RoundTripsAtTheBoundariesOfEachLength) {
    struct TRow {
        uint32_t CodePoint;
        const char* Bytes;
    };
    const TRow Rows[] = {{0x7F, "\x7F"},
                         {0x80, "\xC2\x80"},
                         {0x7FF, "\xDF\xBF"},
                         {0x800, "\xE0\xA0\x80"},
                         {0xD7FF, "\xED\x9F\xBF"},
                         {0xE000, "\xEE\x80\x80"},
                         {0xFFFF, "\xEF\xBF\xBF"},
                         {0x10000, "\xF0\x90\x80\x80"},
                         {0x10FFFF, "\xF4\x8F\xBF\xBF"}};
    for (const TRow& Row : Rows) {
        EXPECT_EQ(Encoded(Row.CodePoint), Row.Bytes) << std::hex << Row.CodePoint;
        // Decoded where it stands after other text, and up to the end of the text only.
        const std::string Text = "ab" + std::string(Row.Bytes);
        uint32_t CodePoint = 0;
        std::size_t Length = 0;
        EXPECT_TRUE(DecodeUtf8(Text, 2, CodePoint, Length)) << std::hex << Row.CodePoint;
        EXPECT_EQ(CodePoint, Row.CodePoint);
        EXPECT_EQ(Length, Text.size() - 2);
    }
    // U+0000 is a character like any other.
    uint32_t CodePoint = 1;
    std::size_t Length = 0;
    EXPECT_TRUE(DecodeUtf8(std::string_view("\0", 1), 0, CodePoint, Length));
    EXPECT_EQ(CodePoint, 0u);
    EXPECT_EQ(Length, 1u);
    EXPECT_EQ(Encoded(0), std::string(1, '\0'));
}

TEST(TextTest, Utf8RejectsIllFormedSequencesAsTheirMaximalPart) {
    struct TRow {
        std::string_view Bytes;
        std::size_t Length;  // of the maximal ill-formed part at the start
    };
    const TRow Rows[] = {
        {"\x80", 1},                   // a continuation byte alone
        {"\xBF\x80", 1},
        {"\xC0\x80", 1},               // overlong forms
        {"\xC1\xBF", 1},
        {"\xE0\x9F\xBF", 1},
        {"\xF0\x8F\xBF\xBF", 1},
        {"\xED\xA0\x80", 1},           // surrogates
        {"\xED\xBF\xBF", 1},
        {"\xF4\x90\x80\x80", 1},       // above U+10FFFF
        {"\xF5\x80\x80\x80", 1},
        {"\xFF", 1},
        {"\xC2", 1},                   // cut short by the end of the text
        {"\xE0\xA0", 2},
        {"\xF0\x90\x80", 3},
        {"\xE2\x82" "A", 2},           // cut short by a byte that cannot continue it
        {"\xF4\x8F\xBF\xC0", 3},
        {std::string_view("\xE2\x82\xAC", 2), 2},  // the text ends before its last byte
    };
    for (const TRow& Row : Rows) {
        uint32_t CodePoint;
        std::size_t Length = 0;
        EXPECT_FALSE(DecodeUtf8(Row.Bytes, 0, CodePoint, Length)) << testing::PrintToString(std::string(Row.Bytes));
        EXPECT_EQ(Length, Row.Length) << testing::PrintToString(std::string(Row.Bytes));
    }
}
