// Reading the engine configuration file and locating files named relative to the engine.
#include "Engine/ORVEngineImpl.h"

#include "Common/ORVCommon.h"
#include "Common/Platform.h"
#include "Companion/TarnXMLUtils.h"
#include "Engine/ORVEnvironmentVariables.h"

#include <algorithm>

namespace orv {

namespace {

const char ListSeparator = ';';

bool FileExistsTest(const std::string& Path) { return Platform().FileExists(Path); }

void DropEmptyEntries(TStringDynArray& List) {
    List.erase(std::remove(List.begin(), List.end(), std::string()), List.end());
}

// Every child element's text, in document order.
void ReadShieldedPlugins(const Ref<IXMLNode>& Element, TStringDynArray& Shielded) {
    Ref<IXMLNodeList> Children = Element->GetChildNodes();
    const int32_t Count = Children->GetCount();
    Shielded.reserve(Shielded.size() + static_cast<std::size_t>(Count));
    for (int32_t I = 0; I < Count; ++I) Shielded.push_back(Children->GetItem(I)->GetText());
}

// A new store with one Name/Value pair per child element; a later name overwrites an earlier one.
Ref<IORVEnvironmentVariables> ReadEnvironmentVariables(const Ref<IXMLNode>& Element) {
    Ref<IORVEnvironmentVariables> Store(new TORVEnvironmentVariables());
    Ref<IXMLNodeList> Children = Element->GetChildNodes();
    const int32_t Count = Children->GetCount();
    for (int32_t I = 0; I < Count; ++I) {
        Ref<IXMLNode> Child = Children->GetItem(I);
        const std::string Value = Child->GetAttribute("Value");
        const std::string Name = Child->GetAttribute("Name");
        Store->SetValue(Name, Value);
    }
    return Store;
}

// What the file says, without defaults. Config is filled as far as reading gets.
void ReadConfigValues(const Ref<IXMLDocument>& Document, TPathParser& Parser, TEngineConfigEx& Config) {
    Ref<IXMLNode> Root = Document->GetDocumentElement();
    if (!Root) return;

    Config.Path = TStringUtils::Split(Root->GetAttribute("Path"), ListSeparator);
    Config.ConfigExt = Root->GetAttribute("ConfigExt");
    Config.EntryPoint = Root->GetAttribute("EntryPoint");
    Config.DllPath = TStringUtils::Split(Root->GetAttribute("DllPath"), ListSeparator);
    // An empty entry (a trailing ";", two in a row) would expand to the executable's folder.
    DropEmptyEntries(Config.DllPath);
    DropEmptyEntries(Config.Path);
    for (std::string& Entry : Config.DllPath) Entry = Parser.Replace(Entry);
    for (std::string& Entry : Config.Path) Entry = Parser.Replace(Entry);

    Ref<IXMLNodeList> Children = Root->GetChildNodes();
    if (Ref<IXMLNode> Shielded = Children->FindNode("ShieldedPlugins")) ReadShieldedPlugins(Shielded, Config.ShieldedPlugins);

    Config.EnvironmentVariables = nullptr;
    if (Ref<IXMLNode> Variables = Children->FindNode("EnvironmentVariables"))
        Config.EnvironmentVariables = ReadEnvironmentVariables(Variables);
}

// The defaults, which hold however reading ended: the file's own folder (not expanded) and the
// standard manifest name.
void ApplyConfigDefaults(const std::string& FileName, TEngineConfigEx& Config) {
    if (Config.Path.empty()) Config.Path.push_back(TPathUtils::ExtractFilePath(FileName));
    if (Config.ConfigExt.empty()) Config.ConfigExt = TORVEngine::DefaultConfigExt;
}

}  // namespace

void TORVEngine::ReadEngineConfig(const std::string& FileName, TPathParser& Parser, TEngineConfigEx& Config) {
    const std::string Resolved =
        TPathUtils::IsAbsolutePath(FileName) ? FileName : ResolvePath(FileName, &FileExistsTest);
    const bool Exists = Platform().FileExists(Resolved);
    // Without a file, %config% is removed so that later expansions leave the text in place.
    Parser.SetVariable("%config%", Exists ? TPathUtils::ExtractFilePath(Resolved) : std::string());
    if (!Exists) Log::Warn("Engine configuration file [" + FileName + "] not found: the defaults apply");

    try {
        if (Exists) ReadConfigValues(LoadXMLDocument(Resolved), Parser, Config);
    } catch (...) {
        ApplyConfigDefaults(Resolved, Config);
        throw;
    }
    ApplyConfigDefaults(Resolved, Config);
}

void TORVEngine::ReadEngineConfigDocument(const Ref<IXMLDocument>& Document, TPathParser& Parser,
                                          TEngineConfigEx& Config) {
    const std::string FileName = Document->GetFileName();
    Parser.SetVariable("%config%", TPathUtils::ExtractFilePath(FileName));
    try {
        ReadConfigValues(Document, Parser, Config);
    } catch (...) {
        ApplyConfigDefaults(FileName, Config);
        throw;
    }
    ApplyConfigDefaults(FileName, Config);
}

std::string TORVEngine::ManifestSuffix(const TEngineConfigEx& Config) {
    return Config.ConfigExt.empty() ? std::string(DefaultConfigExt) : Config.ConfigExt;
}

std::string TORVEngine::ResolvePath(const std::string& Path, const TExistenceTest& Test) {
    const bool Absolute = TPathUtils::IsAbsolutePath(Path);
    if (Test(Path)) return Absolute ? Path : TPathUtils::CombinePath(Platform().GetCurrentFolder(), Path);
    // Joining a folder with an absolute path would only prepend the folder, which names some
    // other file (on POSIX a real one may exist there): an absolute path stands for itself alone.
    if (Absolute) return Path;

    const std::string BesideModule = TPathUtils::CombinePath(TPathUtils::GetModulePath(), Path);
    if (Test(BesideModule)) return BesideModule;
    const std::string BesideExe = TPathUtils::CombinePath(TPathUtils::GetExePath(), Path);
    if (Test(BesideExe)) return BesideExe;
    return Path;
}

}  // namespace orv
