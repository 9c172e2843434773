#include "LibraryFile.h"
#include "LibraryLayout.h"

#include "Common/ORVText.h"

#include <algorithm>
#include <cstring>
#include <unordered_set>

namespace {

// Bounds-checked reading of little- or big-endian numbers out of the file's bytes. A read outside
// the file throws TOutside, which ends the reading of that part with a Problem.
struct TOutside {};

class TBytes {
public:
    TBytes(const std::string& Bytes, bool BigEndian)
        : Data_(Bytes), Big_(BigEndian), NamesLeft_(2 * static_cast<uint64_t>(Bytes.size()) + 4096) {}

    uint64_t Size() const { return Data_.size(); }
    uint64_t Get(uint64_t Offset, unsigned Width) const {
        if (Offset > Data_.size() || Width > Data_.size() - Offset) throw TOutside();
        uint64_t V = 0;
        for (unsigned I = 0; I < Width; ++I) {
            const uint64_t B = static_cast<unsigned char>(Data_[Offset + I]);
            V |= Big_ ? B << (8 * (Width - 1 - I)) : B << (8 * I);
        }
        return V;
    }
    unsigned char U8(uint64_t Offset) const { return static_cast<unsigned char>(Get(Offset, 1)); }
    uint16_t U16(uint64_t Offset) const { return static_cast<uint16_t>(Get(Offset, 2)); }
    uint32_t U32(uint64_t Offset) const { return static_cast<uint32_t>(Get(Offset, 4)); }
    uint64_t U64(uint64_t Offset) const { return Get(Offset, 8); }
    // A NUL-terminated name at Offset, which must end before Limit (and the file). The names of
    // one file, each counted with its terminator, together stay within twice its size: tables
    // that name one string over and over are damage, not a reason to fill the memory.
    std::string Name(uint64_t Offset, uint64_t Limit) const {
        Limit = std::min<uint64_t>(Limit, Data_.size());
        if (Offset >= Limit) throw TOutside();
        const char* Start = Data_.data() + Offset;
        const void* End = std::memchr(Start, '\0', static_cast<std::size_t>(Limit - Offset));
        if (!End) throw TOutside();
        const auto Length = static_cast<uint64_t>(static_cast<const char*>(End) - Start);
        if (Length + 1 > NamesLeft_) throw TOutside();
        NamesLeft_ -= Length + 1;
        return std::string(Start, static_cast<std::size_t>(Length));
    }
    // Whether Count entries of Width bytes at Offset lie in the file.
    bool Fits(uint64_t Offset, uint64_t Count, uint64_t Width) const {
        return Offset <= Data_.size() && (Width == 0 || Count <= (Data_.size() - Offset) / Width);
    }

private:
    const std::string& Data_;
    bool Big_;
    mutable uint64_t NamesLeft_;
};

// A list of names that keeps each once (under its Key), so that a table naming one library over
// and over gives it once.
class TNameSet {
public:
    explicit TNameSet(std::vector<std::string>& Names) : Names_(Names) {}
    void Add(std::string Name, const std::string& Key) {
        if (Seen_.insert(Key).second) Names_.push_back(std::move(Name));
    }

private:
    std::vector<std::string>& Names_;
    std::unordered_set<std::string> Seen_;
};

std::vector<std::string> SplitPathList(const std::string& Text) {
    std::vector<std::string> Result;
    std::size_t Start = 0;
    for (;;) {
        const std::size_t Colon = Text.find(':', Start);
        Result.push_back(Text.substr(Start, Colon == std::string::npos ? std::string::npos : Colon - Start));
        if (Colon == std::string::npos) break;
        Start = Colon + 1;
    }
    return Result;
}

// --- ELF -----------------------------------------------------------------------------------------

struct TSegment {
    uint64_t Offset, VirtualAddress, FileSize;
};

// The headers of an ELF file of the class whose layout L gives.
template <class L>
void ReadElfHeaders(const TBytes& B, TLibraryFile& File) {
    auto Word = [&B](uint64_t Offset) { return B.Get(Offset, L::Word); };
    const uint16_t Type = B.U16(Elf::EType);
    File.Machine = B.U16(Elf::EMachine);
    File.IsLibrary = Type == Elf::EtDyn;
    const uint64_t PhOff = Word(L::EPhOff);
    const uint64_t ShOff = Word(L::EShOff);
    const uint16_t PhEntSize = B.U16(L::EPhEntSize), PhNum = B.U16(L::EPhNum);
    const uint16_t ShEntSize = B.U16(L::EShEntSize), ShNum = B.U16(L::EShNum);

    // The loadable segments, to turn addresses into file offsets, and the dynamic segment.
    std::vector<TSegment> Loads;
    uint64_t DynOffset = 0, DynSize = 0;
    if (PhNum > 0 && (PhEntSize < L::PhdrSize || !B.Fits(PhOff, PhNum, PhEntSize))) throw TOutside();
    for (unsigned I = 0; I < PhNum; ++I) {
        const uint64_t P = PhOff + uint64_t(I) * PhEntSize;
        const uint32_t PType = B.U32(P + Elf::PType);
        const uint64_t Offset = Word(P + L::POffset);
        const uint64_t VAddr = Word(P + L::PVAddr);
        const uint64_t FileSz = Word(P + L::PFileSz);
        if (PType == Elf::PtLoad) Loads.push_back({Offset, VAddr, FileSz});
        if (PType == Elf::PtDynamic) DynOffset = Offset, DynSize = FileSz;
    }
    auto ToOffset = [&](uint64_t Address, uint64_t& Offset) {
        for (const TSegment& S : Loads)
            if (Address >= S.VirtualAddress && Address - S.VirtualAddress < S.FileSize) {
                Offset = S.Offset + (Address - S.VirtualAddress);
                return true;
            }
        return false;
    };

    // The dynamic section: needed libraries and search paths.
    if (DynSize > 0) {
        std::vector<std::pair<uint64_t, uint64_t>> Entries;
        uint64_t StrTab = 0, StrSz = 0;
        for (uint64_t At = DynOffset; At + L::DynSize <= DynOffset + DynSize; At += L::DynSize) {
            const uint64_t Tag = Word(At + Elf::DTag);
            const uint64_t Value = Word(At + L::DVal);
            if (Tag == Elf::DtNull) break;
            if (Tag == Elf::DtStrtab) StrTab = Value;
            if (Tag == Elf::DtStrsz) StrSz = Value;
            Entries.emplace_back(Tag, Value);
        }
        uint64_t StrOffset = 0;
        const bool HaveStrings = ToOffset(StrTab, StrOffset);
        TNameSet Needed(File.Needed);
        for (const auto& Entry : Entries) {
            if (Entry.first != Elf::DtNeeded && Entry.first != Elf::DtRpath && Entry.first != Elf::DtRunpath) continue;
            if (!HaveStrings) throw TOutside();
            std::string Text = B.Name(StrOffset + Entry.second, StrOffset + StrSz);
            if (Entry.first == Elf::DtNeeded) Needed.Add(Text, Text);
            if (Entry.first == Elf::DtRpath) File.RPath = SplitPathList(Text);
            if (Entry.first == Elf::DtRunpath) File.RunPath = SplitPathList(Text);
        }
    }

    // The dynamic symbol table, through the section headers. A file has one; further headers
    // that claim to be one are not read again.
    if (ShOff != 0 && ShNum > 0) {
        if (ShEntSize < L::ShdrSize || !B.Fits(ShOff, ShNum, ShEntSize)) throw TOutside();
        for (unsigned I = 0; I < ShNum && !File.ExportsKnown; ++I) {
            const uint64_t S = ShOff + uint64_t(I) * ShEntSize;
            if (B.U32(S + Elf::ShType) != Elf::ShtDynsym) continue;
            const uint64_t Offset = Word(S + L::ShOffset);
            const uint64_t Size = Word(S + L::ShSize);
            const uint32_t Link = B.U32(S + L::ShLink);
            const uint64_t EntSize = Word(S + L::ShEntSize);
            if (Link >= ShNum || EntSize < L::SymSize || !B.Fits(Offset, Size / EntSize, EntSize)) throw TOutside();
            // The linked section holds the symbols' names.
            const uint64_t Strings = ShOff + uint64_t(Link) * ShEntSize;
            const uint64_t StrOffset = Word(Strings + L::ShOffset);
            const uint64_t StrSize = Word(Strings + L::ShSize);
            for (uint64_t K = Elf::StnUndef + 1; K < Size / EntSize; ++K) {
                const uint64_t Sym = Offset + K * EntSize;
                const uint32_t NameAt = B.U32(Sym + Elf::StName);
                const unsigned char Info = B.U8(Sym + L::StInfo);
                const unsigned char Other = B.U8(Sym + L::StOther);
                const uint16_t Index = B.U16(Sym + L::StShndx);
                const unsigned Bind = Elf::SymbolBind(Info), SymType = Elf::SymbolType(Info);
                const unsigned Visibility = Elf::SymbolVisibility(Other);
                const bool Global = Bind == Elf::StbGlobal || Bind == Elf::StbWeak || Bind == Elf::StbGnuUnique;
                const bool Code = SymType == Elf::SttObject || SymType == Elf::SttFunc || SymType == Elf::SttGnuIfunc;
                if (Index == Elf::ShnUndef || !Global || !Code ||
                    (Visibility != Elf::StvDefault && Visibility != Elf::StvProtected))
                    continue;
                File.Exports.push_back(B.Name(StrOffset + NameAt, StrOffset + StrSize));
            }
            File.ExportsKnown = true;
        }
    }
}

void ReadElf(const std::string& Data, TLibraryFile& File) {
    File.Format = TLibraryFormat::Elf;
    const auto Class = static_cast<unsigned char>(Data.size() > Elf::IdentClass ? Data[Elf::IdentClass] : 0);
    const auto Encoding = static_cast<unsigned char>(Data.size() > Elf::IdentData ? Data[Elf::IdentData] : 0);
    if ((Class != Elf::Class32 && Class != Elf::Class64) ||
        (Encoding != Elf::DataLittleEndian && Encoding != Elf::DataBigEndian)) {
        File.Problem = "unknown ELF class or byte order";
        return;
    }
    File.Wide = Class == Elf::Class64;
    File.BigEndian = Encoding == Elf::DataBigEndian;
    const TBytes B(Data, File.BigEndian);
    try {
        if (File.Wide)
            ReadElfHeaders<Elf::TLayout64>(B, File);
        else
            ReadElfHeaders<Elf::TLayout32>(B, File);
    } catch (const TOutside&) {
        File.Problem = "truncated or damaged ELF file";
    }
}

// --- PE ------------------------------------------------------------------------------------------

struct TSection {
    uint32_t VirtualAddress, VirtualSize, RawSize, RawOffset;
};

void ReadPe(const std::string& Data, TLibraryFile& File) {
    const TBytes B(Data, false);
    try {
        const uint32_t PeOffset = B.U32(Pe::DosNewHeader);
        if (B.U32(PeOffset) != Pe::Signature) return;  // a DOS program or no PE at all
        File.Format = TLibraryFormat::Pe;
        const uint64_t Coff = PeOffset + Pe::SignatureSize;
        File.Machine = B.U16(Coff + Pe::FileMachine);
        const uint16_t Sections = B.U16(Coff + Pe::FileNumberOfSections);
        const uint16_t OptionalSize = B.U16(Coff + Pe::FileSizeOfOptionalHeader);
        const uint16_t Characteristics = B.U16(Coff + Pe::FileCharacteristics);
        File.IsLibrary = (Characteristics & Pe::FileDll) != 0;
        const uint64_t Optional = Coff + Pe::FileHeaderSize;
        const uint16_t Magic = B.U16(Optional + Pe::OptionalMagic);
        if (Magic != Pe::MagicPe32 && Magic != Pe::MagicPe32Plus) {
            File.Problem = "unknown PE optional header";
            return;
        }
        File.Wide = Magic == Pe::MagicPe32Plus;
        const uint64_t DirectoryCountAt =
            Optional + (File.Wide ? Pe::NumberOfRvaAndSizes64 : Pe::NumberOfRvaAndSizes32);
        const uint32_t DirectoryCount = B.U32(DirectoryCountAt);
        const uint64_t Directories = DirectoryCountAt + sizeof(uint32_t);
        if (DirectoryCount > Pe::MaxDirectories ||
            Directories + uint64_t(DirectoryCount) * Pe::DirectorySize > Optional + OptionalSize)
            throw TOutside();
        // The address of a data directory (its first field, its size following).
        auto DirectoryAddress = [&](unsigned Index) {
            return B.U32(Directories + uint64_t(Index) * Pe::DirectorySize);
        };

        std::vector<TSection> Table;
        const uint64_t SectionAt = Optional + OptionalSize;
        if (!B.Fits(SectionAt, Sections, Pe::SectionHeaderSize)) throw TOutside();
        for (unsigned I = 0; I < Sections; ++I) {
            const uint64_t S = SectionAt + uint64_t(I) * Pe::SectionHeaderSize;
            Table.push_back({B.U32(S + Pe::SectionVirtualAddress), B.U32(S + Pe::SectionVirtualSize),
                             B.U32(S + Pe::SectionSizeOfRawData), B.U32(S + Pe::SectionPointerToRawData)});
        }
        // The file offset of an address relative to the image, and the end of its section's data.
        auto ToOffset = [&](uint32_t Rva, uint64_t& Offset, uint64_t& End) {
            for (const TSection& S : Table) {
                const uint32_t Span = std::max(S.VirtualSize, S.RawSize);
                if (Rva >= S.VirtualAddress && Rva - S.VirtualAddress < Span && Rva - S.VirtualAddress < S.RawSize) {
                    Offset = uint64_t(S.RawOffset) + (Rva - S.VirtualAddress);
                    End = uint64_t(S.RawOffset) + S.RawSize;
                    return true;
                }
            }
            return false;
        };

        uint64_t Offset = 0, End = 0;
        // The export directory: the exported names.
        if (DirectoryCount > Pe::DirectoryExport && DirectoryAddress(Pe::DirectoryExport) != 0) {
            if (!ToOffset(DirectoryAddress(Pe::DirectoryExport), Offset, End)) throw TOutside();
            const uint32_t NameCount = B.U32(Offset + Pe::ExportNumberOfNames);
            uint64_t Names = 0, NamesEnd = 0;
            if (NameCount > 0 && (!ToOffset(B.U32(Offset + Pe::ExportAddressOfNames), Names, NamesEnd) ||
                                  !B.Fits(Names, NameCount, Pe::NameAddressSize) ||
                                  Names + uint64_t(NameCount) * Pe::NameAddressSize > NamesEnd))
                throw TOutside();
            for (uint32_t I = 0; I < NameCount; ++I) {
                uint64_t NameAt = 0, NameEnd = 0;
                if (!ToOffset(B.U32(Names + uint64_t(I) * Pe::NameAddressSize), NameAt, NameEnd)) throw TOutside();
                File.Exports.push_back(B.Name(NameAt, NameEnd));
            }
        }
        File.ExportsKnown = true;
        // The import directory: one descriptor per DLL, up to an empty one.
        if (DirectoryCount > Pe::DirectoryImport && DirectoryAddress(Pe::DirectoryImport) != 0) {
            if (!ToOffset(DirectoryAddress(Pe::DirectoryImport), Offset, End)) throw TOutside();
            // DLL names ignore letter case.
            TNameSet Needed(File.Needed);
            for (uint64_t At = Offset;; At += Pe::ImportDescriptorSize) {
                if (At + Pe::ImportDescriptorSize > End) throw TOutside();
                const uint32_t NameRva = B.U32(At + Pe::ImportName);
                if (NameRva == 0 && B.U32(At + Pe::ImportOriginalFirstThunk) == 0 &&
                    B.U32(At + Pe::ImportFirstThunk) == 0)
                    break;
                uint64_t NameAt = 0, NameEnd = 0;
                if (!ToOffset(NameRva, NameAt, NameEnd)) throw TOutside();
                std::string Name = B.Name(NameAt, NameEnd);
                const std::string Key = orv::AsciiLowerCase(Name);
                Needed.Add(std::move(Name), Key);
            }
        }
    } catch (const TOutside&) {
        if (File.Format == TLibraryFormat::Pe) File.Problem = "truncated or damaged PE file";
    }
}

}  // namespace

TLibraryFile ReadLibraryFile(const std::string& Bytes) {
    TLibraryFile File;
    if (Bytes.size() >= Elf::MagicSize && std::memcmp(Bytes.data(), Elf::Magic, Elf::MagicSize) == 0)
        ReadElf(Bytes, File);
    else if (Bytes.size() >= Pe::DosMagicSize && std::memcmp(Bytes.data(), Pe::DosMagic, Pe::DosMagicSize) == 0)
        ReadPe(Bytes, File);
    return File;
}

std::string DescribeLibraryFormat(const TLibraryFile& File) {
    std::string Machine;
    switch (File.Format) {
        case TLibraryFormat::Elf:
            Machine = File.Machine == ElfMachineX86      ? "i386"
                      : File.Machine == ElfMachineX86_64 ? "x86-64"
                      : File.Machine == ElfMachineAArch64 ? "AArch64"
                                                          : "machine " + std::to_string(File.Machine);
            return std::string("ELF ") + (File.Wide ? "64" : "32") + "-bit " + Machine;
        case TLibraryFormat::Pe:
            Machine = File.Machine == PeMachineI386    ? "i386"
                      : File.Machine == PeMachineAmd64 ? "x86-64"
                      : File.Machine == PeMachineArm64 ? "ARM64"
                                                       : "machine " + std::to_string(File.Machine);
            return std::string(File.Wide ? "PE32+ " : "PE32 ") + Machine;
        default:
            return "neither ELF nor PE";
    }
}
