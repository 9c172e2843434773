// Plug-in discovery: finding manifest files under the configured folders, and the rule that
// leaves shielded plug-ins out.
#include "Engine/ORVEngineImpl.h"

#include "Common/ORVException.h"
#include "Common/Platform.h"
#include "Companion/TarnXMLUtils.h"

#include <unordered_set>

namespace orv {

namespace {

bool FolderExistsTest(const std::string& Path) { return Platform().FolderExists(Path); }

char AsciiLower(char C) { return (C >= 'A' && C <= 'Z') ? static_cast<char>(C - 'A' + 'a') : C; }

// The key under which a found file name is remembered. Where file names ignore letter case, two
// spellings of one name are one file; elsewhere they are two files and both are kept.
std::string FoundNameKey(const std::string& FileName) {
    return TPathRules::LowerCaseValues ? AsciiLowerCase(FileName) : FileName;
}

// The state of one walk: the names found so far, and the folders that enclose the one being
// scanned (by canonical path), so that a link back to one of them is not followed.
struct TScanState {
    const std::string& ConfigExt;
    TStringDynArray& List;
    std::unordered_set<std::string> Found;
    std::unordered_set<std::string> Enclosing;
};

// Marks a folder as being scanned for as long as the object lives.
class TEnclosingFolder {
public:
    TEnclosingFolder(std::unordered_set<std::string>& Set, std::string Key) : Set_(Set) {
        Entered_ = Set_.insert(std::move(Key));
    }
    ~TEnclosingFolder() {
        if (Entered_.second) Set_.erase(Entered_.first);
    }
    TEnclosingFolder(const TEnclosingFolder&) = delete;
    TEnclosingFolder& operator=(const TEnclosingFolder&) = delete;
    // False when the folder is already being scanned further up the walk.
    bool Entered() const { return Entered_.second; }

private:
    std::unordered_set<std::string>& Set_;
    std::pair<std::unordered_set<std::string>::iterator, bool> Entered_;
};

// Depth-first: a subfolder's manifests are listed where the subfolder is met.
void ScanFolderInto(const std::string& FolderName, TScanState& State) {
    const std::string Folder = TPathUtils::IncludeTrailingSeparator(FolderName);
    std::string Identity = Platform().CanonicalPath(Folder);
    if (Identity.empty()) Identity = Folder;
    TEnclosingFolder Guard(State.Enclosing, std::move(Identity));
    if (!Guard.Entered()) return;

    for (const TFolderEntry& Entry : Platform().ListFolder(Folder)) {
        if (Entry.IsFolder) {
            if (!Entry.Name.empty() && Entry.Name[0] != '.')
                ScanFolderInto(Folder + Entry.Name + TPathRules::Delimiter, State);
        } else if (TORVEngine::EndsWithText(Entry.Name, State.ConfigExt)) {
            std::string FileName = Folder + Entry.Name;
            if (State.Found.insert(FoundNameKey(FileName)).second) State.List.push_back(std::move(FileName));
        }
    }
}

}  // namespace

TPluginConfigDynArray TORVEngine::DiscoverPluginConfigs(const TStringDynArray& Paths, const std::string& ConfigExt) {
    TPluginConfigDynArray Result;
    for (const std::string& Entry : Paths) {
        const std::string Resolved = ResolvePath(Entry, &FolderExistsTest);
        for (std::string& FileName : FindConfigFiles(Resolved, ConfigExt))
            Result.push_back(TPluginConfig{nullptr, std::move(FileName)});
    }
    for (TPluginConfig& Config : Result) Config.Document = LoadXMLDocument(Config.FileName);
    return Result;
}

TStringDynArray TORVEngine::FindConfigFiles(const std::string& Path, const std::string& ConfigExt) {
    TStringDynArray Result;
    if (Platform().FileExists(Path) && EndsWithText(Path, ConfigExt)) {
        Result.push_back(Path);
    } else if (Platform().FolderExists(Path)) {
        ScanFolder(Path, ConfigExt, Result);
    }
    return Result;
}

void TORVEngine::ScanFolder(const std::string& Folder, const std::string& ConfigExt, TStringDynArray& List) {
    Assert(!Folder.empty(), AssertSites::ScanFolder);
    TScanState State{ConfigExt, List, {}, {}};
    for (const std::string& Name : List) State.Found.insert(FoundNameKey(Name));
    ScanFolderInto(Folder, State);
}

bool TORVEngine::EndsWithText(const std::string& Name, const std::string& Suffix) {
    if (Name.size() < Suffix.size()) return false;
    const std::size_t Offset = Name.size() - Suffix.size();
    for (std::size_t I = 0; I < Suffix.size(); ++I)
        if (AsciiLower(Name[Offset + I]) != AsciiLower(Suffix[I])) return false;
    return true;
}

bool TORVEngine::IsPluginAllowed(const std::string& ID, const TStringDynArray& ShieldedPlugins) {
    for (const std::string& Entry : ShieldedPlugins)
        if (SameTextAscii(Entry, ID)) return false;
    return true;
}

}  // namespace orv
