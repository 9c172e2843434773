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

std::string ToUtf8(const std::string& Text) {
#ifdef _WIN32
    // ASCII reads the same in every ANSI code page and in UTF-8.
    if (std::all_of(Text.begin(), Text.end(), [](char C) { return static_cast<unsigned char>(C) < 0x80; }))
        return Text;
    if (Text.size() > static_cast<std::size_t>(INT_MAX)) return Text;
    const int Size = static_cast<int>(Text.size());
    const int WideLength = MultiByteToWideChar(CP_ACP, 0, Text.data(), Size, nullptr, 0);
    if (WideLength <= 0) return Text;
    std::wstring Wide(static_cast<std::size_t>(WideLength), L'\0');
    MultiByteToWideChar(CP_ACP, 0, Text.data(), Size, &Wide[0], WideLength);
    const int Length = WideCharToMultiByte(CP_UTF8, 0, Wide.data(), WideLength, nullptr, 0, nullptr, nullptr);
    if (Length <= 0) return Text;
    std::string Result(static_cast<std::size_t>(Length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, Wide.data(), WideLength, &Result[0], Length, nullptr, nullptr);
    return Result;
#else
    return Text;  // the engine's strings are UTF-8 already
#endif
}

void TConsoleLogger::Write(TLogLevel Level, const std::string& Msg) {
    static const char* const Names[] = {"DEBUG", "INFO ", "WARN ", "ERROR", "FATAL"};
    if (Level < MinLevel_) return;
    std::fprintf(Out_, "%s %s\n", Names[static_cast<int>(Level)], ToUtf8(Msg).c_str());
    std::fflush(Out_);
}
