// Expected texts in the engine's 8-bit encoding. The engine's strings are UTF-8 on Linux and the
// process ANSI code page on Windows (936 in the test runs), while the tests' literals are UTF-8.
#ifndef ORV_TEST_NATIVE_TEXT_H
#define ORV_TEST_NATIVE_TEXT_H

#include <string>

namespace orv::test {

// Utf8 in the process's 8-bit encoding: unchanged on Linux, converted to CP_ACP on Windows.
// Use it for expected message texts and for non-ASCII file names.
std::string NativeText(const std::string& Utf8);

}  // namespace orv::test

#endif
