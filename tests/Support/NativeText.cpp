#include "Support/NativeText.h"

#include "Common/Platform.h"

#include <stdexcept>

namespace orv::test {

std::string NativeText(const std::string& Utf8) {
    std::string Native;
    if (!RecodeText(Utf8, TTextEncoding::Utf8, TTextEncoding::Native, true, Native))
        throw std::invalid_argument("NativeText: not UTF-8, or not representable in the ANSI code page");
    return Native;
}

}  // namespace orv::test
