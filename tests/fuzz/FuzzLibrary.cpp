// The ELF and PE readers of orv-inspect over one file's bytes: never a crash, whatever the file.
#include "LibraryFile.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, std::size_t Size) {
    const TLibraryFile File = ReadLibraryFile(std::string(reinterpret_cast<const char*>(Data), Size));
    // What was read lies inside the file.
    std::size_t Names = 0;
    for (const std::string& Name : File.Exports) Names += Name.size();
    for (const std::string& Name : File.Needed) Names += Name.size();
    if (Names > Size) std::abort();
    DescribeLibraryFormat(File);
    return 0;
}
