// Plug-in discovery: finding manifest files under the configured folders, and the rule that
// leaves shielded plug-ins out.
#include "Engine/ORVEngineImpl.h"

#include "Common/ORVCommon.h"
#include "Common/ORVException.h"
#include "Common/Platform.h"
#include "Companion/TarnXMLUtils.h"
#include "Engine/ORVChecks.h"

#include <unordered_map>
#include <unordered_set>
#include <utility>

namespace orv {

namespace {

bool FolderExistsTest(const std::string& Path) { return Platform().FolderExists(Path); }

// The key under which a found file name is remembered. Where file names ignore letter case, two
// spellings of one name are one file; elsewhere they are two files and both are kept.
std::string FoundNameKey(const std::string& FileName) {
    return TPathRules::LowerCaseValues ? AsciiLowerCase(FileName) : FileName;
}

// What a walk learnt of a manifest besides its name, for reading it.
struct TManifestFacts {
    std::shared_ptr<const TFileNames> FilesBeside;  // nil when the walk did not list them
};

// Collects the manifests that one walk meets, dropping names listed already and files met before
// under another name (a link or a second hard link to one manifest). With Facts, also notes the
// files beside each manifest, one item for each name listed.
class TManifestCollector : public TFolderWalker {
public:
    TManifestCollector(const std::string& ConfigExt, TStringDynArray& List, const std::string& Entry, TChecks& Checks,
                       std::vector<TManifestFacts>* Facts = nullptr)
        : ConfigExt_(ConfigExt), List_(List), Entry_(Entry), Checks_(Checks), Facts_(Facts) {
        for (const std::string& Name : List_) Found_.insert(FoundNameKey(Name));
    }

    void File(const std::string& Folder, const std::string& Name, const TEntryIdentity& Identity) override {
        if (!TORVEngine::EndsWithText(Name, ConfigExt_)) return;
        std::string FileName = Folder + Name;
        // A walk enters each real folder once, so it meets each name once: only names listed
        // before it began can come again.
        if (!Found_.empty() && !Found_.insert(FoundNameKey(FileName)).second) return;
        TFileIdentity Key;
        if (Identity.Get(Key)) {
            auto Known = Met_.emplace(Key, List_.size());
            if (!Known.second) {
                Log::Warn("Manifest [" + FileName + "] found again through the entry [" + Entry_ + "] (first as [" +
                          List_[Known.first->second] + "] through [" + Entry_ + "]): its plug-ins are read once");
                return;
            }
        }
        List_.push_back(std::move(FileName));
        if (Facts_) Facts_->push_back(TManifestFacts{Identity.FilesBeside()});
    }
    void Skipped(const std::string& Path, const std::string& Reason) override {
        Log::Debug("Discovery does not enter [" + Path + "]: " + Reason);
    }
    void Unreadable(const std::string& Path, const std::string& Reason) override {
        TFinding F(Rules::UnreadableFolder);
        F.Reaction = TEngineReaction::Log;
        F.File = Path;
        F.Text = "Folder [" + Path + "] cannot be read: " + Reason + "; the manifests in it are not found";
        Checks_.Report(F);
    }

private:
    const std::string& ConfigExt_;
    TStringDynArray& List_;
    const std::string& Entry_;
    TChecks& Checks_;
    std::vector<TManifestFacts>* Facts_;
    std::unordered_set<std::string> Found_;
    // The files listed by this walk, by identity, with their place in List_.
    std::unordered_map<TFileIdentity, std::size_t, TFileIdentityHash> Met_;
};

// FindConfigFiles, with the facts of each manifest the walk met (none for Path itself).
TStringDynArray FindManifests(const std::string& Path, const std::string& ConfigExt, const std::string& Entry,
                              TChecks* Checks, std::vector<TManifestFacts>* Facts);

}  // namespace

TPluginConfigDynArray TORVEngine::DiscoverPluginConfigs(const TStringDynArray& Paths, const std::string& ConfigExt) {
    TPluginConfigDynArray Result;
    std::vector<TManifestFacts> Facts;  // beside Result
    // Which entry each manifest file came from, by identity: one file listed under two entries is
    // read twice (overlapping folders say so), but not without a word.
    std::unordered_map<TFileIdentity, std::pair<std::string, std::string>, TFileIdentityHash> Origins;
    for (const std::string& Entry : Paths) {
        const std::string Resolved = ResolvePath(Entry, &FolderExistsTest);
        std::vector<TManifestFacts> Found;
        TStringDynArray Names = FindManifests(Resolved, ConfigExt, Entry, nullptr, &Found);
        for (std::size_t I = 0; I < Names.size(); ++I) {
            std::string& FileName = Names[I];
            // One scan finds each file once: only a second entry can find one again.
            TFileIdentity Identity;
            if (Paths.size() > 1 && Platform().FileIdentity(FileName, Identity)) {
                auto Known = Origins.emplace(Identity, std::make_pair(FileName, Entry));
                if (!Known.second)
                    Log::Warn("Manifest [" + FileName + "] found again through the entry [" + Entry +
                              "] (first as [" + Known.first->second.first + "] through [" +
                              Known.first->second.second + "]): its plug-ins are read twice");
            }
            Result.push_back(TPluginConfig{nullptr, std::move(FileName)});
            Facts.push_back(std::move(Found[I]));
        }
    }
    TXMLLoader Loader;
    for (std::size_t I = 0; I < Result.size(); ++I) {
        TPluginConfig& Config = Result[I];
        Config.Document = Loader.Load(Config.FileName);
        // For the manifest reader, which finds a library beside its manifest by them.
        XMLSetFilesBeside(Config.Document.Get(), std::move(Facts[I].FilesBeside));
    }
    return Result;
}

TStringDynArray TORVEngine::FindConfigFiles(const std::string& Path, const std::string& ConfigExt) {
    return FindConfigFiles(Path, ConfigExt, Path, nullptr);
}

TStringDynArray TORVEngine::FindConfigFiles(const std::string& Path, const std::string& ConfigExt,
                                            const std::string& Entry, TChecks* Checks) {
    return FindManifests(Path, ConfigExt, Entry, Checks, nullptr);
}

namespace {

TStringDynArray FindManifests(const std::string& Path, const std::string& ConfigExt, const std::string& Entry,
                              TChecks* Checks, std::vector<TManifestFacts>* Facts) {
    TStringDynArray Result;
    if (Platform().FileExists(Path) && TORVEngine::EndsWithText(Path, ConfigExt)) {
        Result.push_back(Path);
        if (Facts) Facts->emplace_back();
    } else if (Platform().FolderExists(Path)) {
        Assert(!Path.empty(), AssertSites::ScanFolder);
        TManifestCollector Collector(ConfigExt, Result, Entry, Checks ? *Checks : EngineChecks(), Facts);
        Platform().WalkFolderTree(TPathUtils::IncludeTrailingSeparator(Path), Collector);
    }
    return Result;
}

}  // namespace

void TORVEngine::ScanFolder(const std::string& Folder, const std::string& ConfigExt, TStringDynArray& List) {
    Assert(!Folder.empty(), AssertSites::ScanFolder);
    TManifestCollector Collector(ConfigExt, List, Folder, EngineChecks());
    Platform().WalkFolderTree(TPathUtils::IncludeTrailingSeparator(Folder), Collector);
}

bool TORVEngine::EndsWithText(const std::string& Name, const std::string& Suffix) {
    return Name.size() >= Suffix.size() &&
           SameTextAscii(std::string_view(Name).substr(Name.size() - Suffix.size()), Suffix);
}

bool TORVEngine::IsPluginAllowed(const std::string& ID, const TStringDynArray& ShieldedPlugins) {
    for (const std::string& Entry : ShieldedPlugins)
        if (SameTextAscii(Entry, ID)) return false;
    return true;
}

}  // namespace orv
