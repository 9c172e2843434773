// What a plug-in library file says about itself, read as bytes (never loaded): its format and
// architecture, the names it exports, the libraries it needs and where it asks for them. ELF and
// PE files are both read on either platform.
#ifndef ORV_INSPECT_LIBRARY_FILE_H
#define ORV_INSPECT_LIBRARY_FILE_H

#include <cstdint>
#include <string>
#include <vector>

enum class TLibraryFormat { Unknown, Elf, Pe };

struct TLibraryFile {
    TLibraryFormat Format = TLibraryFormat::Unknown;
    bool Wide = false;           // ELF class 64, PE32+
    bool BigEndian = false;      // ELF only
    uint16_t Machine = 0;        // e_machine, or the COFF header's Machine
    bool IsLibrary = false;      // an ELF shared object, a PE with the DLL flag
    bool ExportsKnown = false;   // the export table could be read
    std::vector<std::string> Exports;
    std::vector<std::string> Needed;   // DT_NEEDED, or the import directory's DLL names, each once
    std::vector<std::string> RunPath;  // DT_RUNPATH entries (ELF), as written
    std::vector<std::string> RPath;    // DT_RPATH entries (ELF), as written
    // Why the file could not be read (truncated, damaged); empty when it was.
    std::string Problem;
};

// Reads Bytes, the whole content of a file. Never fails: what cannot be read is set in Problem,
// and Format stays Unknown for a file that is neither ELF nor PE.
TLibraryFile ReadLibraryFile(const std::string& Bytes);

// ELF machine and PE machine numbers and their names.
constexpr uint16_t ElfMachineX86 = 3;
constexpr uint16_t ElfMachineX86_64 = 62;
constexpr uint16_t ElfMachineAArch64 = 183;
constexpr uint16_t PeMachineI386 = 0x14c;
constexpr uint16_t PeMachineAmd64 = 0x8664;
constexpr uint16_t PeMachineArm64 = 0xAA64;
// "ELF 64-bit x86-64", "PE32 i386", ...
std::string DescribeLibraryFormat(const TLibraryFile& File);

#endif
