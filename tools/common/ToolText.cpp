#include "ToolText.h"

#include <cstdio>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <algorithm>
#include <climits>
#endif

namespace {

#ifdef _WIN32
// Text in code page From as code page To, through UTF-16; Text itself when it cannot be converted.
std::string Recode(const std::string& Text, UINT From, UINT To) {
    // ASCII reads the same in every ANSI code page and in UTF-8.
    if (std::all_of(Text.begin(), Text.end(), [](char C) { return static_cast<unsigned char>(C) < 0x80; }))
        return Text;
    if (Text.size() > static_cast<std::size_t>(INT_MAX)) return Text;
    const int Size = static_cast<int>(Text.size());
    const int WideLength = MultiByteToWideChar(From, 0, Text.data(), Size, nullptr, 0);
    if (WideLength <= 0) return Text;
    std::wstring Wide(static_cast<std::size_t>(WideLength), L'\0');
    MultiByteToWideChar(From, 0, Text.data(), Size, &Wide[0], WideLength);
    const int Length = WideCharToMultiByte(To, 0, Wide.data(), WideLength, nullptr, 0, nullptr, nullptr);
    if (Length <= 0) return Text;
    std::string Result(static_cast<std::size_t>(Length), '\0');
    WideCharToMultiByte(To, 0, Wide.data(), WideLength, &Result[0], Length, nullptr, nullptr);
    return Result;
}
#endif

}  // namespace

std::string ToUtf8(const std::string& Text) {
#ifdef _WIN32
    return Recode(Text, CP_ACP, CP_UTF8);
#else
    return Text;  // the engine's strings are UTF-8 already
#endif
}

std::string FromUtf8(const std::string& Utf8) {
#ifdef _WIN32
    return Recode(Utf8, CP_UTF8, CP_ACP);
#else
    return Utf8;
#endif
}

std::string Printable(const std::string& Text) {
    const std::string Utf8 = ToUtf8(Text);
    std::string Out;
    Out.reserve(Utf8.size());
    char Escape[8];
    for (std::size_t I = 0; I < Utf8.size(); ++I) {
        const auto C = static_cast<unsigned char>(Utf8[I]);
        const auto Next = I + 1 < Utf8.size() ? static_cast<unsigned char>(Utf8[I + 1]) : 0;
        if (C == '\r' && Next == '\n') continue;
        if (C == '\n' || C == '\t') {
            Out += static_cast<char>(C);
        } else if (C < 0x20 || C == 0x7F) {
            std::snprintf(Escape, sizeof Escape, "\\x%02X", C);
            Out += Escape;
        } else if (C == 0xC2 && Next >= 0x80 && Next <= 0x9F) {  // U+0080..U+009F
            std::snprintf(Escape, sizeof Escape, "\\u%04X", Next);
            Out += Escape;
            ++I;
        } else {
            Out += static_cast<char>(C);
        }
    }
    return Out;
}

