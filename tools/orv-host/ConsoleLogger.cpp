#include "ConsoleLogger.h"

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

// A UTF-8 text in the engine's encoding: the process code page, as the engine converts its
// message table (characters the code page lacks become its default character).
std::string FromUtf8(const std::string& Utf8) {
#ifdef _WIN32
    return Recode(Utf8, CP_UTF8, CP_ACP);
#else
    return Utf8;  // the engine's strings are UTF-8
#endif
}

}  // namespace

// The engine's start line, stop line and no-entry-point line (its message table's texts).
TEngineWatch::TEngineWatch()
    : StartLine_(FromUtf8("%s-启动装载器")), StopLine_(FromUtf8("%s-关闭装载器")), NoEntryPoint_(FromUtf8("没有找到入口点")) {}

void TEngineWatch::Seen(TLogLevel Level, bool Formatted, const std::string& Text) {
    if (Formatted && Level == TLogLevel::Info) {
        // Where the code page turns both lines into the same text, each one turns the state over.
        if (Text == StartLine_ && Text == StopLine_) {
            Running_ = !Running_;
        } else if (Text == StartLine_) {
            Running_ = true;
        } else if (Text == StopLine_) {
            Running_ = false;
        }
        if (Text == StartLine_ && Running_) NoApplication_ = false;
    } else if (!Formatted && Level == TLogLevel::Error && Text == NoEntryPoint_) {
        NoApplication_ = true;
    }
}

std::string ToUtf8(const std::string& Text) {
#ifdef _WIN32
    return Recode(Text, CP_ACP, CP_UTF8);
#else
    return Text;  // the engine's strings are UTF-8 already
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

void TConsoleLogger::Write(TLogLevel Level, const std::string& Msg) {
    static const char* const Names[] = {"DEBUG", "INFO ", "WARN ", "ERROR", "FATAL"};
    std::fprintf(Out_, "%s %s\n", Names[static_cast<int>(Level)], Printable(Msg).c_str());
    std::fflush(Out_);
}
