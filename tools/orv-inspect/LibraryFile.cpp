#include "LibraryFile.h"

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

constexpr unsigned PtLoad = 1, PtDynamic = 2;
constexpr unsigned ShtDynsym = 11;
constexpr uint64_t DtNull = 0, DtNeeded = 1, DtStrtab = 5, DtStrsz = 10, DtRpath = 15, DtRunpath = 29;

struct TSegment {
    uint64_t Offset, VirtualAddress, FileSize;
};

void ReadElf(const std::string& Data, TLibraryFile& File) {
    File.Format = TLibraryFormat::Elf;
    const unsigned char Class = static_cast<unsigned char>(Data.size() > 4 ? Data[4] : 0);
    const unsigned char Encoding = static_cast<unsigned char>(Data.size() > 5 ? Data[5] : 0);
    if ((Class != 1 && Class != 2) || (Encoding != 1 && Encoding != 2)) {
        File.Problem = "unknown ELF class or byte order";
        return;
    }
    File.Wide = Class == 2;
    File.BigEndian = Encoding == 2;
    const TBytes B(Data, File.BigEndian);
    const bool W = File.Wide;
    try {
        const uint16_t Type = B.U16(16);
        File.Machine = B.U16(18);
        File.IsLibrary = Type == 3;  // ET_DYN (position-independent executables are ET_DYN too)
        const uint64_t PhOff = W ? B.U64(32) : B.U32(28);
        const uint64_t ShOff = W ? B.U64(40) : B.U32(32);
        const uint16_t PhEntSize = B.U16(W ? 54 : 42), PhNum = B.U16(W ? 56 : 44);
        const uint16_t ShEntSize = B.U16(W ? 58 : 46), ShNum = B.U16(W ? 60 : 48);

        // The loadable segments, to turn addresses into file offsets, and the dynamic segment.
        std::vector<TSegment> Loads;
        uint64_t DynOffset = 0, DynSize = 0;
        if (PhNum > 0 && (PhEntSize < (W ? 56u : 32u) || !B.Fits(PhOff, PhNum, PhEntSize))) throw TOutside();
        for (unsigned I = 0; I < PhNum; ++I) {
            const uint64_t P = PhOff + uint64_t(I) * PhEntSize;
            const uint32_t PType = B.U32(P);
            const uint64_t Offset = W ? B.U64(P + 8) : B.U32(P + 4);
            const uint64_t VAddr = W ? B.U64(P + 16) : B.U32(P + 8);
            const uint64_t FileSz = W ? B.U64(P + 32) : B.U32(P + 16);
            if (PType == PtLoad) Loads.push_back({Offset, VAddr, FileSz});
            if (PType == PtDynamic) DynOffset = Offset, DynSize = FileSz;
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
            const unsigned EntSize = W ? 16 : 8;
            std::vector<std::pair<uint64_t, uint64_t>> Entries;
            uint64_t StrTab = 0, StrSz = 0;
            for (uint64_t At = DynOffset; At + EntSize <= DynOffset + DynSize; At += EntSize) {
                const uint64_t Tag = W ? B.U64(At) : B.U32(At);
                const uint64_t Value = W ? B.U64(At + 8) : B.U32(At + 4);
                if (Tag == DtNull) break;
                if (Tag == DtStrtab) StrTab = Value;
                if (Tag == DtStrsz) StrSz = Value;
                Entries.emplace_back(Tag, Value);
            }
            uint64_t StrOffset = 0;
            const bool HaveStrings = ToOffset(StrTab, StrOffset);
            TNameSet Needed(File.Needed);
            for (const auto& Entry : Entries) {
                if (Entry.first != DtNeeded && Entry.first != DtRpath && Entry.first != DtRunpath) continue;
                if (!HaveStrings) throw TOutside();
                std::string Text = B.Name(StrOffset + Entry.second, StrOffset + StrSz);
                if (Entry.first == DtNeeded) Needed.Add(Text, Text);
                if (Entry.first == DtRpath) File.RPath = SplitPathList(Text);
                if (Entry.first == DtRunpath) File.RunPath = SplitPathList(Text);
            }
        }

        // The dynamic symbol table, through the section headers. A file has one; further headers
        // that claim to be one are not read again.
        if (ShOff != 0 && ShNum > 0) {
            if (ShEntSize < (W ? 64u : 40u) || !B.Fits(ShOff, ShNum, ShEntSize)) throw TOutside();
            for (unsigned I = 0; I < ShNum && !File.ExportsKnown; ++I) {
                const uint64_t S = ShOff + uint64_t(I) * ShEntSize;
                if (B.U32(S + 4) != ShtDynsym) continue;
                const uint64_t Offset = W ? B.U64(S + 24) : B.U32(S + 16);
                const uint64_t Size = W ? B.U64(S + 32) : B.U32(S + 20);
                const uint32_t Link = B.U32(W ? S + 40 : S + 24);
                const uint64_t EntSize = W ? B.U64(S + 56) : B.U32(S + 36);
                if (Link >= ShNum || EntSize < (W ? 24u : 16u) || !B.Fits(Offset, Size / EntSize, EntSize))
                    throw TOutside();
                const uint64_t L = ShOff + uint64_t(Link) * ShEntSize;
                const uint64_t StrOffset = W ? B.U64(L + 24) : B.U32(L + 16);
                const uint64_t StrSize = W ? B.U64(L + 32) : B.U32(L + 20);
                for (uint64_t K = 1; K < Size / EntSize; ++K) {
                    const uint64_t Sym = Offset + K * EntSize;
                    const uint32_t NameAt = B.U32(Sym);
                    const unsigned char Info = static_cast<unsigned char>(B.Get(W ? Sym + 4 : Sym + 12, 1));
                    const unsigned char Other = static_cast<unsigned char>(B.Get(W ? Sym + 5 : Sym + 13, 1));
                    const uint16_t Index = B.U16(W ? Sym + 6 : Sym + 14);
                    const unsigned Bind = Info >> 4, SymType = Info & 0xF, Visibility = Other & 3;
                    const bool Global = Bind == 1 || Bind == 2 || Bind == 10;
                    const bool Code = SymType == 1 || SymType == 2 || SymType == 10;
                    if (Index == 0 || !Global || !Code || (Visibility != 0 && Visibility != 3)) continue;
                    File.Exports.push_back(B.Name(StrOffset + NameAt, StrOffset + StrSize));
                }
                File.ExportsKnown = true;
            }
        }
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
        const uint32_t PeOffset = B.U32(0x3C);
        if (B.U32(PeOffset) != 0x00004550) return;  // no "PE\0\0": a DOS program or no PE at all
        File.Format = TLibraryFormat::Pe;
        const uint64_t Coff = PeOffset + 4;
        File.Machine = B.U16(Coff);
        const uint16_t Sections = B.U16(Coff + 2);
        const uint16_t OptionalSize = B.U16(Coff + 16);
        const uint16_t Characteristics = B.U16(Coff + 18);
        File.IsLibrary = (Characteristics & 0x2000) != 0;
        const uint64_t Optional = Coff + 20;
        const uint16_t Magic = B.U16(Optional);
        if (Magic != 0x10b && Magic != 0x20b) {
            File.Problem = "unknown PE optional header";
            return;
        }
        File.Wide = Magic == 0x20b;
        const uint64_t DirectoryCountAt = Optional + (File.Wide ? 108 : 92);
        const uint32_t DirectoryCount = B.U32(DirectoryCountAt);
        const uint64_t Directories = DirectoryCountAt + 4;
        if (DirectoryCount > 16 || Directories + uint64_t(DirectoryCount) * 8 > Optional + OptionalSize) throw TOutside();

        std::vector<TSection> Table;
        const uint64_t SectionAt = Optional + OptionalSize;
        if (!B.Fits(SectionAt, Sections, 40)) throw TOutside();
        for (unsigned I = 0; I < Sections; ++I) {
            const uint64_t S = SectionAt + uint64_t(I) * 40;
            Table.push_back({B.U32(S + 12), B.U32(S + 8), B.U32(S + 16), B.U32(S + 20)});
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
        if (DirectoryCount > 0 && B.U32(Directories) != 0) {
            if (!ToOffset(B.U32(Directories), Offset, End)) throw TOutside();
            const uint32_t NameCount = B.U32(Offset + 24);
            uint64_t Names = 0, NamesEnd = 0;
            if (NameCount > 0 && (!ToOffset(B.U32(Offset + 32), Names, NamesEnd) || !B.Fits(Names, NameCount, 4) ||
                                  Names + uint64_t(NameCount) * 4 > NamesEnd))
                throw TOutside();
            for (uint32_t I = 0; I < NameCount; ++I) {
                uint64_t NameAt = 0, NameEnd = 0;
                if (!ToOffset(B.U32(Names + uint64_t(I) * 4), NameAt, NameEnd)) throw TOutside();
                File.Exports.push_back(B.Name(NameAt, NameEnd));
            }
        }
        File.ExportsKnown = true;
        // The import directory: one descriptor of 20 bytes per DLL, up to an empty one.
        if (DirectoryCount > 1 && B.U32(Directories + 8) != 0) {
            if (!ToOffset(B.U32(Directories + 8), Offset, End)) throw TOutside();
            // DLL names ignore letter case.
            TNameSet Needed(File.Needed);
            for (uint64_t At = Offset;; At += 20) {
                if (At + 20 > End) throw TOutside();
                const uint32_t NameRva = B.U32(At + 12);
                if (NameRva == 0 && B.U32(At) == 0 && B.U32(At + 16) == 0) break;
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
    if (Bytes.size() >= 4 && std::memcmp(Bytes.data(), "\x7F" "ELF", 4) == 0)
        ReadElf(Bytes, File);
    else if (Bytes.size() >= 2 && Bytes[0] == 'M' && Bytes[1] == 'Z')
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
