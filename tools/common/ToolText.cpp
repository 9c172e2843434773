#include "ToolText.h"

#include "Common/ORVText.h"

#include <cstdio>
#include <vector>

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

bool Utf8SequenceAt(const std::string& Text, std::size_t At, std::size_t& Length) {
    uint32_t CodePoint;
    return orv::DecodeUtf8(Text, At, CodePoint, Length);
}

std::string Printable(const std::string& Text) {
    const std::string Utf8 = ToUtf8(Text);
    std::string Out;
    Out.reserve(Utf8.size());
    char Escape[8];
    for (std::size_t I = 0; I < Utf8.size();) {
        uint32_t C;
        std::size_t Length;
        if (!orv::DecodeUtf8(Utf8, I, C, Length)) {
            for (std::size_t K = 0; K < Length; ++K) {
                std::snprintf(Escape, sizeof Escape, "\\x%02X", static_cast<unsigned char>(Utf8[I + K]));
                Out += Escape;
            }
        } else if (C == '\r' && I + 1 < Utf8.size() && Utf8[I + 1] == '\n') {
            // dropped: the line feed ends the line
        } else if (C == '\n' || C == '\t') {
            Out += static_cast<char>(C);
        } else if (C < 0x20 || C == 0x7F) {
            std::snprintf(Escape, sizeof Escape, "\\x%02X", static_cast<unsigned>(C));
            Out += Escape;
        } else if (C >= 0x80 && C <= 0x9F) {  // the C1 controls
            std::snprintf(Escape, sizeof Escape, "\\u%04X", static_cast<unsigned>(C));
            Out += Escape;
        } else if (C == 0x2028 || C == 0x2029) {  // the line and paragraph separators
            Out += C == 0x2028 ? "\\u2028" : "\\u2029";
        } else {
            Out.append(Utf8, I, Length);
        }
        I += Length;
    }
    return Out;
}

namespace {

// Text with its line feeds and carriage returns written as \x0A and \x0D (ASCII, the same in
// every code page the engine's text may be in).
std::string EscapeLineBreaks(const std::string& Text) {
    if (Text.find_first_of("\r\n") == std::string::npos) return Text;
    std::string Out;
    for (char C : Text) {
        if (C == '\n')
            Out += "\\x0A";
        else if (C == '\r')
            Out += "\\x0D";
        else
            Out += C;
    }
    return Out;
}

}  // namespace

std::string PrintableData(const std::string& Text) { return Printable(EscapeLineBreaks(Text)); }

std::string PrintableFormat(const std::string& Template, const orv::TVarRec* Args, int32_t High) {
    std::vector<orv::TArgList::Arg> Escaped;
    for (int32_t I = 0; Args && I <= High; ++I) {
        if (Args[I].VType == orv::vtAnsiString)
            Escaped.emplace_back(EscapeLineBreaks(Args[I].VAnsiString ? Args[I].VAnsiString : ""));
        else if (Args[I].VType == orv::vtInteger)
            Escaped.emplace_back(Args[I].VInteger);
        else
            break;  // an element FormatArgs does not know: it and what follows are left unfilled
    }
    const orv::TArgList List(Escaped);
    return Printable(orv::FormatArgs(Template, List.Data(), List.High()));
}
