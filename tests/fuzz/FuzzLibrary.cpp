// The ELF and PE readers of orv-inspect over one file's bytes: never a crash, whatever the file.
#include "LibraryFile.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, std::size_t Size) {
    const TLibraryFile File = ReadLibraryFile(std::string(reinterpret_cast<const char*>(Data), Size));
    // Tables may name one string many times, but what is kept stays within the reader's bound.
    std::size_t Names = 0;
    for (const auto* List : {&File.Exports, &File.Needed, &File.RunPath, &File.RPath})
        for (const std::string& Name : *List) Names += Name.size();
    if (Names > 2 * Size + 4096) std::abort();
    DescribeLibraryFormat(File);
    return 0;
}
