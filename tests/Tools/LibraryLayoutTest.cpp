// The places and values of LibraryLayout.h against the platform's own definitions of its format
// (<elf.h> here, <windows.h> in the Windows build): checked when this file compiles.
#include "LibraryLayout.h"

#include <cstddef>

#ifdef _WIN32
#include <windows.h>

static_assert(Pe::DosNewHeader == offsetof(IMAGE_DOS_HEADER, e_lfanew));
static_assert(Pe::Signature == IMAGE_NT_SIGNATURE && Pe::SignatureSize == sizeof(DWORD));
static_assert(Pe::FileMachine == offsetof(IMAGE_FILE_HEADER, Machine) &&
              Pe::FileNumberOfSections == offsetof(IMAGE_FILE_HEADER, NumberOfSections) &&
              Pe::FileSizeOfOptionalHeader == offsetof(IMAGE_FILE_HEADER, SizeOfOptionalHeader) &&
              Pe::FileCharacteristics == offsetof(IMAGE_FILE_HEADER, Characteristics) &&
              Pe::FileHeaderSize == sizeof(IMAGE_FILE_HEADER) && Pe::FileDll == IMAGE_FILE_DLL);
static_assert(Pe::OptionalMagic == offsetof(IMAGE_OPTIONAL_HEADER32, Magic) &&
              Pe::MagicPe32 == IMAGE_NT_OPTIONAL_HDR32_MAGIC && Pe::MagicPe32Plus == IMAGE_NT_OPTIONAL_HDR64_MAGIC);
static_assert(Pe::NumberOfRvaAndSizes32 == offsetof(IMAGE_OPTIONAL_HEADER32, NumberOfRvaAndSizes) &&
              Pe::NumberOfRvaAndSizes64 == offsetof(IMAGE_OPTIONAL_HEADER64, NumberOfRvaAndSizes) &&
              Pe::NumberOfRvaAndSizes32 + sizeof(DWORD) == offsetof(IMAGE_OPTIONAL_HEADER32, DataDirectory) &&
              Pe::NumberOfRvaAndSizes64 + sizeof(DWORD) == offsetof(IMAGE_OPTIONAL_HEADER64, DataDirectory));
static_assert(Pe::DirectorySize == sizeof(IMAGE_DATA_DIRECTORY) && Pe::MaxDirectories == IMAGE_NUMBEROF_DIRECTORY_ENTRIES &&
              Pe::DirectoryExport == IMAGE_DIRECTORY_ENTRY_EXPORT && Pe::DirectoryImport == IMAGE_DIRECTORY_ENTRY_IMPORT);
static_assert(Pe::SectionHeaderSize == IMAGE_SIZEOF_SECTION_HEADER &&
              Pe::SectionVirtualSize == offsetof(IMAGE_SECTION_HEADER, Misc.VirtualSize) &&
              Pe::SectionVirtualAddress == offsetof(IMAGE_SECTION_HEADER, VirtualAddress) &&
              Pe::SectionSizeOfRawData == offsetof(IMAGE_SECTION_HEADER, SizeOfRawData) &&
              Pe::SectionPointerToRawData == offsetof(IMAGE_SECTION_HEADER, PointerToRawData));
static_assert(Pe::ExportNumberOfNames == offsetof(IMAGE_EXPORT_DIRECTORY, NumberOfNames) &&
              Pe::ExportAddressOfNames == offsetof(IMAGE_EXPORT_DIRECTORY, AddressOfNames) &&
              Pe::NameAddressSize == sizeof(DWORD));
static_assert(Pe::ImportDescriptorSize == sizeof(IMAGE_IMPORT_DESCRIPTOR) &&
              Pe::ImportOriginalFirstThunk == offsetof(IMAGE_IMPORT_DESCRIPTOR, OriginalFirstThunk) &&
              Pe::ImportName == offsetof(IMAGE_IMPORT_DESCRIPTOR, Name) &&
              Pe::ImportFirstThunk == offsetof(IMAGE_IMPORT_DESCRIPTOR, FirstThunk));
#else
#include <elf.h>

static_assert(Elf::IdentClass == EI_CLASS && Elf::IdentData == EI_DATA && Elf::MagicSize == SELFMAG);
static_assert(Elf::Class32 == ELFCLASS32 && Elf::Class64 == ELFCLASS64 && Elf::DataLittleEndian == ELFDATA2LSB &&
              Elf::DataBigEndian == ELFDATA2MSB);
static_assert(Elf::EType == offsetof(Elf32_Ehdr, e_type) && Elf::EType == offsetof(Elf64_Ehdr, e_type) &&
              Elf::EMachine == offsetof(Elf32_Ehdr, e_machine) && Elf::EMachine == offsetof(Elf64_Ehdr, e_machine));
static_assert(Elf::PType == offsetof(Elf32_Phdr, p_type) && Elf::PType == offsetof(Elf64_Phdr, p_type) &&
              Elf::ShType == offsetof(Elf32_Shdr, sh_type) && Elf::ShType == offsetof(Elf64_Shdr, sh_type) &&
              Elf::DTag == offsetof(Elf32_Dyn, d_tag) && Elf::DTag == offsetof(Elf64_Dyn, d_tag) &&
              Elf::StName == offsetof(Elf32_Sym, st_name) && Elf::StName == offsetof(Elf64_Sym, st_name));
static_assert(Elf::EtDyn == ET_DYN && Elf::PtLoad == PT_LOAD && Elf::PtDynamic == PT_DYNAMIC && Elf::ShtDynsym == SHT_DYNSYM);
static_assert(Elf::DtNull == DT_NULL && Elf::DtNeeded == DT_NEEDED && Elf::DtStrtab == DT_STRTAB &&
              Elf::DtStrsz == DT_STRSZ && Elf::DtRpath == DT_RPATH && Elf::DtRunpath == DT_RUNPATH);
static_assert(Elf::ShnUndef == SHN_UNDEF && Elf::StnUndef == STN_UNDEF);
static_assert(Elf::StbGlobal == STB_GLOBAL && Elf::StbWeak == STB_WEAK && Elf::StbGnuUnique == STB_GNU_UNIQUE &&
              Elf::SttObject == STT_OBJECT && Elf::SttFunc == STT_FUNC && Elf::SttGnuIfunc == STT_GNU_IFUNC &&
              Elf::StvDefault == STV_DEFAULT && Elf::StvProtected == STV_PROTECTED);
static_assert(Elf::SymbolBind(0xA2) == ELF64_ST_BIND(0xA2) && Elf::SymbolType(0xA2) == ELF64_ST_TYPE(0xA2) &&
              Elf::SymbolVisibility(0xFF) == ELF64_ST_VISIBILITY(0xFF));

// One class's layout against its structures.
#define ORV_CHECK_ELF_LAYOUT(L, Addr, Ehdr, Phdr, Shdr, Dyn, Sym)                                                  \
    static_assert(L::Word == sizeof(Addr) && L::EPhOff == offsetof(Ehdr, e_phoff) &&                              \
                  L::EShOff == offsetof(Ehdr, e_shoff) && L::EPhEntSize == offsetof(Ehdr, e_phentsize) &&         \
                  L::EPhNum == offsetof(Ehdr, e_phnum) && L::EShEntSize == offsetof(Ehdr, e_shentsize) &&         \
                  L::EShNum == offsetof(Ehdr, e_shnum));                                                           \
    static_assert(L::PhdrSize == sizeof(Phdr) && L::POffset == offsetof(Phdr, p_offset) &&                        \
                  L::PVAddr == offsetof(Phdr, p_vaddr) && L::PFileSz == offsetof(Phdr, p_filesz));                \
    static_assert(L::ShdrSize == sizeof(Shdr) && L::ShOffset == offsetof(Shdr, sh_offset) &&                      \
                  L::ShSize == offsetof(Shdr, sh_size) && L::ShLink == offsetof(Shdr, sh_link) &&                 \
                  L::ShEntSize == offsetof(Shdr, sh_entsize));                                                     \
    static_assert(L::DynSize == sizeof(Dyn) && L::DVal == offsetof(Dyn, d_un.d_val) &&                            \
                  L::Word == sizeof(Dyn::d_tag));                                                                  \
    static_assert(L::SymSize == sizeof(Sym) && L::StInfo == offsetof(Sym, st_info) &&                             \
                  L::StOther == offsetof(Sym, st_other) && L::StShndx == offsetof(Sym, st_shndx))

ORV_CHECK_ELF_LAYOUT(Elf::TLayout32, Elf32_Addr, Elf32_Ehdr, Elf32_Phdr, Elf32_Shdr, Elf32_Dyn, Elf32_Sym);
ORV_CHECK_ELF_LAYOUT(Elf::TLayout64, Elf64_Addr, Elf64_Ehdr, Elf64_Phdr, Elf64_Shdr, Elf64_Dyn, Elf64_Sym);
#endif
