#include "Support/NativeText.h"

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <stdexcept>
#endif

namespace orv::test {

#ifdef _WIN32
std::string NativeText(const std::string& Utf8) {
    if (Utf8.empty()) return Utf8;
    const int Size = static_cast<int>(Utf8.size());
    const int WideLength = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, Utf8.data(), Size, nullptr, 0);
    if (WideLength <= 0) throw std::invalid_argument("NativeText: not UTF-8");
    std::wstring Wide(static_cast<std::size_t>(WideLength), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, Utf8.data(), Size, &Wide[0], WideLength);
    BOOL Lossy = FALSE;
    const int Length = WideCharToMultiByte(CP_ACP, 0, Wide.data(), WideLength, nullptr, 0, nullptr, &Lossy);
    if (Length <= 0 || Lossy) throw std::invalid_argument("NativeText: not representable in the ANSI code page");
    std::string Result(static_cast<std::size_t>(Length), '\0');
    WideCharToMultiByte(CP_ACP, 0, Wide.data(), WideLength, &Result[0], Length, nullptr, nullptr);
    return Result;
}
#else
std::string NativeText(const std::string& Utf8) { return Utf8; }
#endif

}  // namespace orv::test
