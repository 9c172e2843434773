#include "Inspection.h"

#include "Common/Platform.h"
#include "Companion/TarnXMLText.h"
#include "Companion/TarnXMLUtils.h"
#include "Engine/ORVCollections.h"
#include "Engine/ORVDescriptor.h"
#include "Engine/ORVEngineImpl.h"
#include "Engine/ORVRegistry.h"
#include "LibraryCheck.h"

#include <cstring>
#include <map>
#include <tuple>

using namespace orv;

namespace {

bool IsFolder(const std::string& Path) { return Platform().FolderExists(Path); }

// The manifests under one PATH argument: a manifest file as it stands (whatever its name), or the
// manifests a scan of the folder finds (its folders that cannot be read go to Checks).
std::vector<std::string> ManifestsOf(const std::string& Argument, const std::string& Suffix, TChecks& Checks) {
    const std::string Resolved = TORVEngine::ResolvePath(Argument, [](const std::string& P) {
        return Platform().FileExists(P) || Platform().FolderExists(P);
    });
    if (Platform().FileExists(Resolved)) return {Resolved};
    if (!IsFolder(Resolved)) throw EInspectInput("no such file or folder: " + Argument);
    return TORVEngine::FindConfigFiles(Resolved, Suffix, Argument, &Checks);
}

const char* WhatItIs(TFileKind Kind) {
    switch (Kind) {
        case TFileKind::Folder: return "leads to a folder";
        case TFileKind::Fifo: return "leads to a FIFO";
        case TFileKind::CharacterDevice: return "leads to a character device";
        case TFileKind::BlockDevice: return "leads to a block device";
        case TFileKind::Socket: return "leads to a socket";
        case TFileKind::DanglingLink: return "is a link that leads nowhere";
        default: return "leads to something other than a file";
    }
}

// A Library that was not found as a file but names something else (a folder, a FIFO, a device, a
// link that leads nowhere) is named for what it is: the engine cannot load it, and a plug-in
// that starts with the engine then fails the start.
void NameWhatLibrariesAre(const TORVRegistry& Registry, std::vector<TFinding>& Findings) {
    std::map<std::tuple<std::string, int32_t, int32_t>, bool> Starts;
    TORVDescriptors& Descriptors = Registry.OwnDescriptors();
    for (int32_t I = 0; I < Descriptors.GetCount(); ++I) {
        TORVDescriptor* D = Descriptors.ItemAt(I);
        Starts[std::make_tuple(D->GetConfigFile(), D->GetLine(), D->GetColumn())] = D->GetInitialize();
    }
    for (TFinding& F : Findings) {
        if (std::strcmp(F.Rule->Name, Rules::MissingLibrary.Name) != 0) continue;
        for (const std::string& Place : F.Related) {
            const TFileKind Kind = Platform().KindOf(Place);
            if (Kind == TFileKind::None || Kind == TFileKind::File) continue;
            const auto Plugin = Starts.find(std::make_tuple(F.File, F.Line, F.Column));
            const bool Initialize = Plugin != Starts.end() && Plugin->second;
            F.Rule = &LibraryRules::NotAFile;
            F.Severity = F.Rule->SeverityFor(Initialize);
            F.Entry = TMessageId(0);
            F.Args.clear();
            F.Text = "The library [" + Place + "] of plug-in [" + F.PluginID + "] " + WhatItIs(Kind) +
                     ", not to a library file: the engine cannot load it" +
                     (Initialize ? ", and the plug-in is to start with the engine" : "");
            break;
        }
    }
}

}  // namespace

TInspection Inspect(const TInspectOptions& Options) {
    TInspection Result;
    TPathParser Parser(TPathUtils::GetModulePath(), std::string());
    TEngineConfigEx Config;
    if (!Options.ConfigFile.empty()) {
        if (!Platform().FileExists(TORVEngine::ResolvePath(Options.ConfigFile, [](const std::string& P) {
                return Platform().FileExists(P);
            })))
            throw EInspectInput("configuration file not found: " + Options.ConfigFile);
        try {
            TORVEngine::ReadEngineConfig(Options.ConfigFile, Parser, Config);
        } catch (const std::exception& E) {
            throw EInspectInput(E.what());
        }
    }
    const std::string Suffix = TORVEngine::ManifestSuffix(Config);

    // Discovery, then each manifest on its own: one that is not well-formed is a finding, and the
    // others are read all the same.
    TCollectedChecks Checks;
    for (const std::string& Path : Options.Paths)
        for (std::string& File : ManifestsOf(Path, Suffix, Checks)) Result.Manifests.push_back(std::move(File));
    TPluginConfigDynArray Loaded;
    for (const std::string& File : Result.Manifests) {
        try {
            Loaded.push_back(TPluginConfig{LoadXMLDocument(File), File});
        } catch (const std::exception& E) {
            TFinding F(Rules::MalformedManifest);
            F.File = File;
            if (const auto* Xml = dynamic_cast<const EXMLError*>(&E)) {
                F.Line = Xml->Line;
                F.Column = Xml->Column;
            }
            F.Text = E.what();
            Checks.Report(F);
        }
    }

    // The engine's parse-only build, with its checks collected instead of raised.
    Result.Registry = TORVEngine::BuildRegistry(Config, Loaded, Parser, &Checks);
    NameWhatLibrariesAre(*Result.Registry, Checks.Findings);

    if (Options.CheckLibraries) {
        TORVDescriptors& Descriptors = Result.Registry->OwnDescriptors();
        for (int32_t I = 0; I < Descriptors.GetCount(); ++I) {
            TORVDescriptor* Descriptor = Descriptors.ItemAt(I);
            const std::string& Library = Descriptor->GetLibrary();
            // A library that was not found is a finding of the manifest reader already.
            if (Library.empty() || !TPathUtils::IsAbsolutePath(Library) || !Platform().FileExists(Library)) continue;
            CheckLibrary(*Descriptor, Checks.Findings);
        }
    }
    Result.Findings = std::move(Checks.Findings);
    return Result;
}
