// Where the parts of ELF and PE files that orv-inspect reads lie: byte offsets of fields within
// their header or entry, the sizes of entries, and the values looked for. The names follow the
// formats' own field names (e_phoff is EPhOff). Defined here rather than taken from <elf.h> or
// <windows.h>: each platform has only its own, and both formats are read on either.
#ifndef ORV_INSPECT_LIBRARY_LAYOUT_H
#define ORV_INSPECT_LIBRARY_LAYOUT_H

#include <cstdint>

namespace Elf {

// e_ident: the magic, then the class and the byte order.
constexpr char Magic[] = "\x7F" "ELF";
constexpr unsigned MagicSize = 4;
constexpr unsigned IdentClass = 4, IdentData = 5;
constexpr unsigned char Class32 = 1, Class64 = 2;
constexpr unsigned char DataLittleEndian = 1, DataBigEndian = 2;

// Fields at the same place in both classes.
constexpr unsigned EType = 16, EMachine = 18;
constexpr unsigned PType = 0;   // of a program header
constexpr unsigned ShType = 4;  // of a section header
constexpr unsigned DTag = 0;    // of a dynamic entry
constexpr unsigned StName = 0;  // of a symbol

constexpr uint16_t EtDyn = 3;  // a shared object (position-independent executables are one too)
constexpr uint32_t PtLoad = 1, PtDynamic = 2;
constexpr uint32_t ShtDynsym = 11;
constexpr uint64_t DtNull = 0, DtNeeded = 1, DtStrtab = 5, DtStrsz = 10, DtRpath = 15, DtRunpath = 29;
constexpr uint16_t ShnUndef = 0;  // the section index of an undefined symbol
constexpr uint64_t StnUndef = 0;  // symbol 0 of a table: none; the symbols proper follow
constexpr unsigned StbGlobal = 1, StbWeak = 2, StbGnuUnique = 10;
constexpr unsigned SttObject = 1, SttFunc = 2, SttGnuIfunc = 10;
constexpr unsigned StvDefault = 0, StvProtected = 3;
constexpr unsigned SymbolBind(unsigned char Info) { return Info >> 4; }
constexpr unsigned SymbolType(unsigned char Info) { return Info & 0xF; }
constexpr unsigned SymbolVisibility(unsigned char Other) { return Other & 3; }

// The fields whose place and width depend on the class. Word is the width of addresses, offsets
// and sizes (and of a dynamic entry's tag and value).
struct TLayout32 {
    static constexpr unsigned Word = 4;
    static constexpr unsigned EPhOff = 28, EShOff = 32, EPhEntSize = 42, EPhNum = 44, EShEntSize = 46, EShNum = 48;
    static constexpr unsigned PhdrSize = 32, POffset = 4, PVAddr = 8, PFileSz = 16;
    static constexpr unsigned ShdrSize = 40, ShOffset = 16, ShSize = 20, ShLink = 24, ShEntSize = 36;
    static constexpr unsigned DynSize = 8, DVal = 4;
    static constexpr unsigned SymSize = 16, StInfo = 12, StOther = 13, StShndx = 14;
};
struct TLayout64 {
    static constexpr unsigned Word = 8;
    static constexpr unsigned EPhOff = 32, EShOff = 40, EPhEntSize = 54, EPhNum = 56, EShEntSize = 58, EShNum = 60;
    static constexpr unsigned PhdrSize = 56, POffset = 8, PVAddr = 16, PFileSz = 32;
    static constexpr unsigned ShdrSize = 64, ShOffset = 24, ShSize = 32, ShLink = 40, ShEntSize = 56;
    static constexpr unsigned DynSize = 16, DVal = 8;
    static constexpr unsigned SymSize = 24, StInfo = 4, StOther = 5, StShndx = 6;
};

}  // namespace Elf

namespace Pe {

// The DOS header: its magic, and where it keeps the offset of the PE signature (e_lfanew).
constexpr char DosMagic[] = "MZ";
constexpr unsigned DosMagicSize = 2;
constexpr unsigned DosNewHeader = 0x3C;
constexpr uint32_t Signature = 0x00004550;  // "PE\0\0"
constexpr unsigned SignatureSize = 4;

// The COFF file header, after the signature.
constexpr unsigned FileMachine = 0, FileNumberOfSections = 2, FileSizeOfOptionalHeader = 16, FileCharacteristics = 18;
constexpr unsigned FileHeaderSize = 20;
constexpr uint16_t FileDll = 0x2000;  // IMAGE_FILE_DLL

// The optional header, after the file header: its magic, the number of data directories (PE32,
// PE32+), which follow that number, and the ones read.
constexpr unsigned OptionalMagic = 0;
constexpr uint16_t MagicPe32 = 0x10b, MagicPe32Plus = 0x20b;
constexpr unsigned NumberOfRvaAndSizes32 = 92, NumberOfRvaAndSizes64 = 108;
constexpr unsigned DirectorySize = 8, MaxDirectories = 16;
constexpr unsigned DirectoryExport = 0, DirectoryImport = 1;

// A section header.
constexpr unsigned SectionHeaderSize = 40;
constexpr unsigned SectionVirtualSize = 8, SectionVirtualAddress = 12, SectionSizeOfRawData = 16,
                   SectionPointerToRawData = 20;

// The export directory, and its table of name addresses.
constexpr unsigned ExportNumberOfNames = 24, ExportAddressOfNames = 32;
constexpr unsigned NameAddressSize = 4;

// An import descriptor; an empty one ends the table.
constexpr unsigned ImportDescriptorSize = 20;
constexpr unsigned ImportOriginalFirstThunk = 0, ImportName = 12, ImportFirstThunk = 16;

}  // namespace Pe

#endif
