// Child processes: what does not depend on the system here, the system calls in the included
// implementation file of the build's platform.
#include "ChildProcess.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

namespace orv {

namespace {

// Appends Size bytes of Data to Text while it holds fewer than Max bytes.
void Keep(std::string& Text, const char* Data, std::size_t Size, std::size_t Max) {
    if (Text.size() < Max) Text.append(Data, std::min(Size, Max - Text.size()));
}

double SecondsSince(std::chrono::steady_clock::time_point Start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - Start).count();
}

}  // namespace

std::string ExceptionCodeName(uint32_t Code) {
    switch (Code) {
        case 0xC0000005u: return "EXCEPTION_ACCESS_VIOLATION";
        case 0xC00000FDu: return "EXCEPTION_STACK_OVERFLOW";
        case 0xC000001Du: return "EXCEPTION_ILLEGAL_INSTRUCTION";
        case 0xC0000094u: return "EXCEPTION_INT_DIVIDE_BY_ZERO";
        case 0xC0000096u: return "EXCEPTION_PRIV_INSTRUCTION";
        case 0xC0000409u: return "STATUS_STACK_BUFFER_OVERRUN";
        case 0xC0000374u: return "STATUS_HEAP_CORRUPTION";
        case 0xC0000135u: return "STATUS_DLL_NOT_FOUND";
        case 0xC0000139u: return "STATUS_ENTRYPOINT_NOT_FOUND";
        case 0x80000003u: return "EXCEPTION_BREAKPOINT";
        default: break;
    }
    char Text[16];
    std::snprintf(Text, sizeof Text, "0x%08X", static_cast<unsigned>(Code));
    return Text;
}

}  // namespace orv

#ifdef _WIN32
#include "Windows/ChildProcess.inc"
#else
#include "Posix/ChildProcess.inc"
#endif
