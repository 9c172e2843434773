#include "LibraryCheck.h"

#include "Common/ORVMiscUtils.h"
#include "Common/Platform.h"
#include "Engine/ORVCollections.h"
#include "Engine/ORVExtension.h"
#include "LibraryFile.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <set>

using namespace orv;

namespace {

// Plug-in libraries are small; a file larger than this is not read.
constexpr int64_t MaxLibrarySize = 512ll * 1024 * 1024;

// The library format this engine loads.
bool IsThisPlatform(const TLibraryFile& File) {
    const TNativeLibraryKind Native = NativeLibraryKind();
    return File.Format == (Native.Pe ? TLibraryFormat::Pe : TLibraryFormat::Elf) && File.Wide == Native.Wide &&
           (Native.Machine == 0 || File.Machine == Native.Machine) && File.BigEndian == Native.BigEndian;
}

std::string ThisPlatform() {
    const TNativeLibraryKind Native = NativeLibraryKind();
    TLibraryFile File;
    File.Format = Native.Pe ? TLibraryFormat::Pe : TLibraryFormat::Elf;
    File.Wide = Native.Wide;
    File.Machine = Native.Machine;
    return DescribeLibraryFormat(File);
}

std::string FolderOf(const std::string& File) { return TPathUtils::ExtractFilePath(File); }

std::string Join(const std::vector<std::string>& Items) {
    std::string Text;
    for (const std::string& Item : Items) Text += (Text.empty() ? "" : ", ") + Item;
    return Text;
}

// The folders the system's loader searches for the libraries that File (at Path) needs.
std::vector<std::string> SearchFolders(const TLibraryFile& File, const std::string& Path) {
    return LibrarySearchFolders(ExcludeTrailingSeparator(FolderOf(Path)), File.RPath, File.RunPath);
}

// Names the system always provides without a file of that name to find.
bool IsProvidedBySystem(const std::string& Name) { return IsSystemProvidedLibrary(Name); }

}  // namespace

TFinding LibraryFinding(TORVDescriptor& Descriptor, const TRule& Rule, const std::string& Text) {
    TFinding F(Rule);
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
        Findings.push_back(LibraryFinding(Descriptor, LibraryRules::Unreadable,
                                          "The " + Named + " cannot be read" +
                                              (Size > MaxLibrarySize ? " (larger than 512 MiB)" : "")));
        return;
    }
    const TLibraryFile File = ReadLibraryFile(ReadWhole(Path));
    if (File.Format == TLibraryFormat::Unknown) {
        Findings.push_back(LibraryFinding(Descriptor, LibraryRules::NotALibrary,
                                          "The " + Named + " is not a library (neither ELF nor PE)"));
        return;
    }
    if (!File.Problem.empty()) {
        Findings.push_back(LibraryFinding(Descriptor, LibraryRules::Unreadable,
                                          "The " + Named + " cannot be read: " + File.Problem));
        return;
    }
    if (!IsThisPlatform(File)) {
        Findings.push_back(LibraryFinding(Descriptor, LibraryRules::WrongArchitecture,
                                          "The " + Named + " is " + DescribeLibraryFormat(File) +
                                              ", this engine loads " + ThisPlatform()));
        return;
    }
    if (!File.IsLibrary) {
        Findings.push_back(LibraryFinding(Descriptor, LibraryRules::NotALibrary,
                                          "The " + Named + " is a program, not a library"));
        return;
    }

    // The exports the engine asks for by name.
    const std::set<std::string> Exports(File.Exports.begin(), File.Exports.end());
    const std::map<std::string, std::vector<std::string>> DecoratedForms = DecoratedExports(Exports);
    auto CheckExport = [&](const std::string& Name, const TRule& MissingRule, const std::string& Role) {
        if (!File.ExportsKnown || Exports.count(Name)) return;
        const auto Forms = DecoratedForms.find(Name);
        if (Forms != DecoratedForms.end()) {
            const std::vector<std::string>& Decorated = Forms->second;
            TFinding F = LibraryFinding(Descriptor, LibraryRules::DecoratedExport,
                                        "The " + Named + " exports " + Role + " only as [" + Join(Decorated) +
                                            "]; the engine looks for [" + Name + "] (link with -Wl,--kill-at)");
            F.Related = Decorated;
            Findings.push_back(F);
            return;
        }
        Findings.push_back(
            LibraryFinding(Descriptor, MissingRule, "The " + Named + " does not export " + Role + " [" + Name + "]"));
    };
    CheckExport("GetPluginImpl", LibraryRules::MissingPluginEntry, "its plug-in entry");
    TORVExtensions& Extensions = Descriptor.OwnExtensions();
    std::set<std::string> Asked;
    for (int32_t I = 0; I < Extensions.GetCount(); ++I) {
        TORVExtension* Extension = Extensions.ItemAt(I);
        const std::string& Factory = Extension->GetFactoryMethod();
        if (Factory.empty() || !Asked.insert(Factory).second) continue;
        CheckExport(Factory, LibraryRules::MissingFactory,
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
        TFinding F = LibraryFinding(Descriptor, LibraryRules::MissingDependency,
                                    "The " + Named + " needs [" + Needed + "], which the system's loader will not find");
        F.Related = std::move(Places);
        Findings.push_back(F);
    }
}
