#include "LibraryCheck.h"

#include "Common/ORVMiscUtils.h"
#include "Common/Platform.h"
#include "Engine/ORVCollections.h"
#include "Engine/ORVExtension.h"
#include "LibraryFile.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <set>

#ifdef _WIN32
#include <windows.h>
#endif

using namespace orv;

namespace {

// Plug-in libraries are small; a file larger than this is not read.
constexpr int64_t MaxLibrarySize = 512ll * 1024 * 1024;

// The library format this engine loads.
bool IsThisPlatform(const TLibraryFile& File) {
#ifdef _WIN32
    return File.Format == TLibraryFormat::Pe && !File.Wide && File.Machine == PeMachineI386;
#else
    const bool Wide = sizeof(void*) == 8;
#if defined(__x86_64__)
    const uint16_t Machine = ElfMachineX86_64;
#elif defined(__i386__)
    const uint16_t Machine = ElfMachineX86;
#elif defined(__aarch64__)
    const uint16_t Machine = ElfMachineAArch64;
#else
    const uint16_t Machine = File.Machine;
#endif
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    const bool BigEndian = true;
#else
    const bool BigEndian = false;
#endif
    return File.Format == TLibraryFormat::Elf && File.Wide == Wide && File.Machine == Machine &&
           File.BigEndian == BigEndian;
#endif
}

std::string ThisPlatform() {
#ifdef _WIN32
    return "PE32 i386";
#else
    TLibraryFile Native;
    Native.Format = TLibraryFormat::Elf;
    Native.Wide = sizeof(void*) == 8;
#if defined(__x86_64__)
    Native.Machine = ElfMachineX86_64;
#elif defined(__i386__)
    Native.Machine = ElfMachineX86;
#elif defined(__aarch64__)
    Native.Machine = ElfMachineAArch64;
#endif
    return DescribeLibraryFormat(Native);
#endif
}

std::string FolderOf(const std::string& File) { return TPathUtils::ExtractFilePath(File); }

std::string Join(const std::vector<std::string>& Items) {
    std::string Text;
    for (const std::string& Item : Items) Text += (Text.empty() ? "" : ", ") + Item;
    return Text;
}

#ifndef _WIN32
// The folders /etc/ld.so.conf names, its "include" lines followed.
void ReadLdConfig(const std::string& File, std::vector<std::string>& Folders, int Depth = 0) {
    std::ifstream In(File);
    for (std::string Line; Depth < 4 && std::getline(In, Line);) {
        Line = Line.substr(0, Line.find('#'));
        while (!Line.empty() && std::isspace(static_cast<unsigned char>(Line.back()))) Line.pop_back();
        while (!Line.empty() && std::isspace(static_cast<unsigned char>(Line.front()))) Line.erase(0, 1);
        if (Line.compare(0, 8, "include ") == 0) {
            // "include /etc/ld.so.conf.d/*.conf": every file of the folder with that ending.
            std::string Pattern = Line.substr(8);
            while (!Pattern.empty() && Pattern.front() == ' ') Pattern.erase(0, 1);
            const std::string Folder = FolderOf(Pattern);
            const std::string Tail = Pattern.substr(Folder.size());
            const std::string Suffix = Tail.compare(0, 1, "*") == 0 ? Tail.substr(1) : Tail;
            for (const TFolderEntry& Entry : Platform().ListFolder(Folder))
                if (!Entry.IsFolder && Entry.Name.size() >= Suffix.size() &&
                    Entry.Name.compare(Entry.Name.size() - Suffix.size(), Suffix.size(), Suffix) == 0)
                    ReadLdConfig(Folder + Entry.Name, Folders, Depth + 1);
        } else if (!Line.empty() && Line[0] == '/') {
            Folders.push_back(Line);
        }
    }
}
#endif

// The folders the system's loader searches for the libraries that File (at Path) needs.
std::vector<std::string> SearchFolders(const TLibraryFile& File, const std::string& Path) {
    std::vector<std::string> Folders;
    const std::string Origin = ExcludeTrailingSeparator(FolderOf(Path));
#ifdef _WIN32
    (void)File;
    // As LoadLibraryEx with LOAD_WITH_ALTERED_SEARCH_PATH: the library's folder, the executable's,
    // the system folders, then PATH.
    Folders.push_back(Origin);
    Folders.push_back(ExcludeTrailingSeparator(TPathUtils::GetExePath()));
    char Buffer[MAX_PATH];
    if (UINT N = GetSystemDirectoryA(Buffer, MAX_PATH); N > 0 && N < MAX_PATH) Folders.emplace_back(Buffer, N);
    if (UINT N = GetWindowsDirectoryA(Buffer, MAX_PATH); N > 0 && N < MAX_PATH) Folders.emplace_back(Buffer, N);
    if (const char* PathList = std::getenv("PATH")) {
        const std::string List = PathList;
        for (std::size_t Start = 0; Start <= List.size();) {
            const std::size_t End = std::min(List.find(';', Start), List.size());
            if (End > Start) Folders.push_back(List.substr(Start, End - Start));
            Start = End + 1;
        }
    }
#else
    auto Expand = [&Origin](std::string Entry) {
        for (const char* Name : {"${ORIGIN}", "$ORIGIN"})
            for (std::size_t At; (At = Entry.find(Name)) != std::string::npos;) Entry.replace(At, std::strlen(Name), Origin);
        return Entry;
    };
    // As ld.so: DT_RPATH (when there is no DT_RUNPATH), LD_LIBRARY_PATH, DT_RUNPATH, the cache's
    // folders, the default ones.
    if (File.RunPath.empty())
        for (const std::string& Entry : File.RPath) Folders.push_back(Expand(Entry));
    if (const char* Env = std::getenv("LD_LIBRARY_PATH")) {
        std::string List = Env;
        for (std::size_t Start = 0; Start <= List.size();) {
            const std::size_t End = std::min(List.find(':', Start), List.size());
            if (End > Start) Folders.push_back(List.substr(Start, End - Start));
            Start = End + 1;
        }
    }
    for (const std::string& Entry : File.RunPath) Folders.push_back(Expand(Entry));
    ReadLdConfig("/etc/ld.so.conf", Folders);
    for (const char* Default : {"/lib", "/usr/lib", "/lib64", "/usr/lib64"}) Folders.emplace_back(Default);
#endif
    return Folders;
}

// Names the system always provides without a file of that name to find.
bool IsProvidedBySystem(const std::string& Name) {
#ifdef _WIN32
    std::string Lower = AsciiLowerCase(Name);
    return Lower.compare(0, 7, "api-ms-") == 0 || Lower.compare(0, 7, "ext-ms-") == 0;
#else
    return Name.compare(0, 10, "linux-vdso") == 0 || Name.compare(0, 11, "linux-gate.") == 0;
#endif
}

}  // namespace

TFinding LibraryFinding(TORVDescriptor& Descriptor, const char* Rule, TSeverity Severity, const std::string& Text) {
    TFinding F;
    F.Severity = Severity;
    F.Rule = Rule;
    F.File = Descriptor.GetConfigFile();
    F.Line = Descriptor.GetLine();
    F.Column = Descriptor.GetColumn();
    F.PluginID = Descriptor.GetID();
    F.Text = Text;
    return F;
}

namespace {

// The stdcall-decorated exports (_Name@8, Name@8) among Exports by the names they decorate, each
// export looked at once however many names are asked for.
std::map<std::string, std::vector<std::string>> DecoratedExports(const std::set<std::string>& Exports) {
    std::map<std::string, std::vector<std::string>> Forms;
    for (const std::string& Export : Exports) {
        const std::size_t At = Export.rfind('@');
        if (At == std::string::npos || At + 1 == Export.size()) continue;
        if (!std::all_of(Export.begin() + static_cast<std::ptrdiff_t>(At) + 1, Export.end(),
                         [](char C) { return C >= '0' && C <= '9'; }))
            continue;
        const std::string Base = Export.substr(0, At);
        Forms[Base].push_back(Export);
        if (Base.size() > 1 && Base[0] == '_') Forms[Base.substr(1)].push_back(Export);
    }
    return Forms;
}

std::string ReadWhole(const std::string& Path) {
    std::ifstream In(Path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>());
}

}  // namespace

void CheckLibrary(TORVDescriptor& Descriptor, std::vector<TFinding>& Findings) {
    const std::string Path = Descriptor.GetLibrary();
    const std::string Named = "library [" + Path + "] of plug-in [" + Descriptor.GetID() + "]";
    const int64_t Size = Platform().FileSize(Path);
    if (Size < 0 || Size > MaxLibrarySize) {
        Findings.push_back(LibraryFinding(Descriptor, LibraryRules::Unreadable, TSeverity::Error,
                                          "The " + Named + " cannot be read" +
                                              (Size > MaxLibrarySize ? " (larger than 512 MiB)" : "")));
        return;
    }
    const TLibraryFile File = ReadLibraryFile(ReadWhole(Path));
    if (File.Format == TLibraryFormat::Unknown) {
        Findings.push_back(LibraryFinding(Descriptor, LibraryRules::NotALibrary, TSeverity::Error,
                                          "The " + Named + " is not a library (neither ELF nor PE)"));
        return;
    }
    if (!File.Problem.empty()) {
        Findings.push_back(LibraryFinding(Descriptor, LibraryRules::Unreadable, TSeverity::Error,
                                          "The " + Named + " cannot be read: " + File.Problem));
        return;
    }
    if (!IsThisPlatform(File)) {
        Findings.push_back(LibraryFinding(Descriptor, LibraryRules::WrongArchitecture, TSeverity::Error,
                                          "The " + Named + " is " + DescribeLibraryFormat(File) +
                                              ", this engine loads " + ThisPlatform()));
        return;
    }
    if (!File.IsLibrary) {
        Findings.push_back(LibraryFinding(Descriptor, LibraryRules::NotALibrary, TSeverity::Error,
                                          "The " + Named + " is a program, not a library"));
        return;
    }

    // The exports the engine asks for by name.
    const std::set<std::string> Exports(File.Exports.begin(), File.Exports.end());
    const std::map<std::string, std::vector<std::string>> DecoratedForms = DecoratedExports(Exports);
    auto CheckExport = [&](const std::string& Name, const char* MissingRule, TSeverity Severity,
                           const std::string& Role) {
        if (!File.ExportsKnown || Exports.count(Name)) return;
        const auto Forms = DecoratedForms.find(Name);
        if (Forms != DecoratedForms.end()) {
            const std::vector<std::string>& Decorated = Forms->second;
            TFinding F = LibraryFinding(Descriptor, LibraryRules::DecoratedExport, TSeverity::Error,
                                        "The " + Named + " exports " + Role + " only as [" + Join(Decorated) +
                                            "]; the engine looks for [" + Name + "] (link with -Wl,--kill-at)");
            F.Related = Decorated;
            Findings.push_back(F);
            return;
        }
        Findings.push_back(
            LibraryFinding(Descriptor, MissingRule, Severity, "The " + Named + " does not export " + Role + " [" + Name + "]"));
    };
    CheckExport("GetPluginImpl", LibraryRules::MissingPluginEntry, TSeverity::Warning, "its plug-in entry");
    TORVExtensions& Extensions = Descriptor.OwnExtensions();
    std::set<std::string> Asked;
    for (int32_t I = 0; I < Extensions.GetCount(); ++I) {
        auto* Extension = TConverter::ToExtension(Extensions.ItemAt(I));
        const std::string& Factory = Extension->GetFactoryMethod();
        if (Factory.empty() || !Asked.insert(Factory).second) continue;
        CheckExport(Factory, LibraryRules::MissingFactory, TSeverity::Warning,
                    "the factory of extension [" + Extension->GetID() + "]");
    }

    // The libraries it needs, where the system's loader would look for them.
    const std::vector<std::string> Folders = SearchFolders(File, Path);
    for (const std::string& Needed : File.Needed) {
        if (IsProvidedBySystem(Needed)) continue;
        std::vector<std::string> Places;
        bool Found = false;
        if (Needed.find('/') != std::string::npos) {
            Places.push_back(Needed);
            Found = Platform().FileExists(Needed);
        } else {
            for (const std::string& Folder : Folders) {
                Places.push_back(TPathUtils::CombinePath(Folder, Needed));
                if (Platform().FileExists(Places.back())) {
                    Found = true;
                    break;
                }
            }
        }
        if (Found) continue;
        TFinding F = LibraryFinding(Descriptor, LibraryRules::MissingDependency, TSeverity::Error,
                                    "The " + Named + " needs [" + Needed + "], which the system's loader will not find");
        F.Related = std::move(Places);
        Findings.push_back(F);
    }
}
