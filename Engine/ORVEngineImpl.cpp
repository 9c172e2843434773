// TORVEngine: lifecycle of one engine (Idle -> Building -> Running -> Idle) and the parse-only
// path. Configuration reading, discovery and the manifest reader live in their own units.
#include "Engine/ORVEngineImpl.h"

#include "Common/ORVCommon.h"
#include "Common/ORVException.h"
#include "Common/Platform.h"
#include "Engine/ORVAdatable.h"
#include "Engine/ORVCollections.h"
#include "Engine/ORVDescriptor.h"
#include "Engine/ORVExtension.h"
#include "Engine/ORVExtensionPoint.h"
#include "Engine/ORVMonitor.h"
#include "Engine/ORVRegistry.h"
#include "Engine/ORVRegistryEvents.h"

#include <ctime>
#include <vector>

namespace orv {

namespace {

const char* const DefaultApplicationsPoint = "ORVEngine.Runtime.applications";

// The current local date and time, short date followed by long time, as the locale writes them.
std::string NowText() {
    std::time_t Now = std::time(nullptr);
    // The engine is driven from one thread; the C runtime's shared buffer is good enough.
    std::tm Local = *std::localtime(&Now);
    char Buffer[64];
    std::size_t N = std::strftime(Buffer, sizeof Buffer, "%x %X", &Local);
    return std::string(Buffer, N);
}

// The host's argument list, copied for the duration of one startup.
std::vector<TVarRec> CopyArgs(const TVarRec* Args, int32_t ArgsHigh) {
    if (!Args || ArgsHigh < 0) return {};
    return std::vector<TVarRec>(Args, Args + ArgsHigh + 1);
}

// Sets a pass for the lifetime of this object.
template <class TPassKind>
class TPassScope {
public:
    TPassScope(TPassKind& Pass, TPassKind Value) : Pass_(Pass), Previous_(Pass) { Pass_ = Value; }
    ~TPassScope() { Pass_ = Previous_; }
    TPassScope(const TPassScope&) = delete;
    TPassScope& operator=(const TPassScope&) = delete;

private:
    TPassKind& Pass_;
    TPassKind Previous_;
};

}  // namespace

TORVEngine::TORVEngine()
    : PathParser_(std::make_unique<TPathParser>(TPathUtils::GetModulePath(), std::string())),
      Listeners_(std::make_shared<TRegistryEventHub>()) {}

// Registries that others still hold keep the hub, which no longer holds anyone.
TORVEngine::~TORVEngine() { Listeners_->Clear(); }

void ORV_CALL TORVEngine::AddListener(IORVRegistryListener* Listener) { Listeners_->AddListener(Listener); }

void ORV_CALL TORVEngine::RemoveListener(IORVRegistryListener* Listener) { Listeners_->RemoveListener(Listener); }

// --- IORVEngine --------------------------------------------------------------------------------

void TORVEngine::RefuseStartupDuringPass() const {
    if (Pass_ == TPass::Starting)
        TExceptionBuilder::RaiseError("Startup refused: the engine is starting its plug-ins; call it once the start "
                                      "has ended");
    if (Pass_ == TPass::Stopping)
        TExceptionBuilder::RaiseError("Startup refused: the engine is stopping its plug-ins; call it once Shutdown "
                                      "has returned");
}

void ORV_CALL TORVEngine::Startup(const std::string& ConfigFile, const TVarRec* Args, int32_t ArgsHigh) {
    TMonitorSession Session(Monitor_);
    TMonitorScope Total(mkStartup, ConfigFile);
    RefuseStartupDuringPass();
    AdoptConfigFile(ConfigFile);
    TPluginConfigDynArray PluginConfigs;
    {
        TMonitorScope Step(mkDiscovery, std::string());
        PluginConfigs = DiscoverPluginConfigs(EngineConfig_.Path, ManifestSuffix(EngineConfig_));
    }
    // A copy: the startup must not see its own configuration change under it.
    TEngineConfigEx Config = EngineConfig_;
    StartWith(Config, PluginConfigs, Args, ArgsHigh, Total);
}

void ORV_CALL TORVEngine::StartupWithPlugins(const std::string& ConfigFile, const TPluginConfigDynArray& PluginConfigs,
                                             const TVarRec* Args, int32_t ArgsHigh) {
    TMonitorSession Session(Monitor_);
    TMonitorScope Total(mkStartup, ConfigFile);
    RefuseStartupDuringPass();
    AdoptConfigFile(ConfigFile);
    TEngineConfigEx Config = EngineConfig_;
    StartWith(Config, PluginConfigs, Args, ArgsHigh, Total);
}

void ORV_CALL TORVEngine::StartupWithConfig(const TEngineConfigEx& Config, const TPluginConfigDynArray& PluginConfigs,
                                            const TVarRec* Args, int32_t ArgsHigh) {
    TMonitorSession Session(Monitor_);
    TMonitorScope Total(mkStartup, std::string());
    StartWith(Config, PluginConfigs, Args, ArgsHigh, Total);
}

void TORVEngine::StartWith(const TEngineConfigEx& Config, const TPluginConfigDynArray& PluginConfigs,
                           const TVarRec* Args, int32_t ArgsHigh, TMonitorScope& Total) {
    RefuseStartupDuringPass();
    std::vector<TVarRec> ArgsCopy = CopyArgs(Args, ArgsHigh);
    {
        TMonitorScope Step(mkStartLine, std::string());
        Log::InfoFmt(SEngineStarted, TArgList{NowText()});
    }
    Assert(!Started_, AssertSites::StartupWithConfig, SEngineAlreadyStarted);
    Registry_ = BuildRegistry(Config, PluginConfigs, *PathParser_);
    Registry_->SetEventHub(Listeners_);
    // Held here: the pass below runs plug-in code, which may replace the engine's registry later.
    Ref<TORVRegistry> Registry = Registry_;
    // What the start changed reaches the listeners also when it fails (see TDeltaSession).
    TDeltaSession Changes(Registry.Get(), dkStartup);
    {
        TPassScope<TPass> Pass(Pass_, TPass::Starting);
        try {
            Registry->StartPlugins();
        } catch (...) {
            // Nothing is left running that no one could stop.
            Registry->Close();
            Registry->StopStartedPlugins();
            throw;
        }
    }
    // After the start pass: a store that a plug-in fetched while starting is replaced.
    Registry->SetEnvironmentVariables(Config.EnvironmentVariables);

    Started_ = true;
    Total.End();
    // Before the application runs: the listeners see the registry it starts with.
    Changes.Deliver();

    // The application's plug-in stays loaded while Run executes, even when Run drops it; the
    // application object goes first (declared last).
    Ref<IORVDescriptor> ApplicationOwner;
    std::string ApplicationID;
    try {
        Ref<IORVApplication> Application = FindEntryPoint(Config.EntryPoint, ApplicationOwner, ApplicationID);
        if (Application) {
            try {
                TMonitorScope Step(mkRun, ApplicationID, ApplicationOwner.Get());
                Application->Run(ArgsCopy.empty() ? nullptr : ArgsCopy.data(),
                                 static_cast<int32_t>(ArgsCopy.size()) - 1);
            } catch (...) {
                // Whatever the application raised, the log names where it came from.
                Log::Error("The application [" + ApplicationID + "] of plug-in [" + ApplicationOwner->GetID() +
                           "] raised: " + CurrentExceptionMessage());
                throw;
            }
        } else {
            Log::Error(LoadMessage(SNoEntryPoint));
        }
    } catch (...) {
        // The application's plug-in may have been dropped meanwhile: its library must outlive the
        // exception its code raised.
        if (ApplicationOwner && Registry_ && !Registry_->Holds(ApplicationOwner.Get())) Registry_->Retain(ApplicationOwner);
        throw;
    }
}

void ORV_CALL TORVEngine::Shutdown() {
    TMonitorSession Session(Monitor_);
    TMonitorScope Total(mkShutdown, std::string());
    Assert(Started_, AssertSites::Shutdown, SCannotStopIdleEngine);
    Started_ = false;
    Ref<TORVRegistry> Registry = Registry_;
    TDeltaSession Changes(Registry.Get(), dkShutdown);
    {
        TPassScope<TPass> Pass(Pass_, TPass::Stopping);
        // From here on nothing of this registry starts: a plug-in that a Stop asks for is loaded,
        // not started, so that no plug-in is left running after the pass.
        Registry->Close();
        Registry->StopPlugins();
    }
    Log::InfoFmt(SEngineStopped, TArgList{NowText()});
    Changes.Deliver();
}

void ORV_CALL TORVEngine::LoadPlugins(const TStringDynArray& Folders) {
    TMonitorSession Session(Monitor_);
    TMonitorScope Total(mkLoadPlugins, std::string());
    TPluginConfigDynArray PluginConfigs;
    {
        TMonitorScope Step(mkDiscovery, std::string());
        PluginConfigs = DiscoverPluginConfigs(Folders, ManifestSuffix(EngineConfig_));
    }
    // Everything is read before anything enters the registry: a manifest that fails leaves the
    // registry as it was.
    Ref<TORVDescriptors> Staged(new TORVDescriptors());
    {
        TMonitorScope Step(mkManifests, std::string());
        for (const TPluginConfig& PluginConfig : PluginConfigs)
            ReadPluginConfig(Registry_, EngineConfig_, PluginConfig, *PathParser_, Staged.Get());
    }

    std::vector<Ref<TORVDescriptor>> Added;
    Added.reserve(static_cast<std::size_t>(Staged->GetCount()));
    for (int32_t I = 0; I < Staged->GetCount(); ++I) Added.emplace_back(Staged->ItemAt(I));
    Staged = nullptr;
    // No registry before the first startup: "Argument cannot be null", as ever.
    TExceptionBuilder::CheckNotNil(Registry_);
    TDeltaSession Changes(Registry_.Get(), dkLoad);
    Registry_->AddAndLink(Added);
    Changes.Deliver();
}

void ORV_CALL TORVEngine::UnloadPlugins(const TStringDynArray& Folders) {
    TMonitorSession Session(Monitor_);
    TMonitorScope Total(mkUnloadPlugins, std::string());
    if (!Registry_)
        TExceptionBuilder::RaiseError("UnloadPlugins needs a registry: the engine has not built one yet");

    // Each folder ends in a separator, so "/a/b" selects plug-ins under "/a/b/" but not "/a/bc/".
    // Names compare as the platform's file names do (on Windows ignoring letter case).
    TStringDynArray Prefixes;
    Prefixes.reserve(Folders.size());
    for (const std::string& Folder : Folders) {
        std::string Resolved = ResolvePath(Folder, [](const std::string& P) { return Platform().FolderExists(P); });
        Prefixes.push_back(TPathUtils::IncludeTrailingSeparator(Resolved));
    }

    // Last to first, as the registry holds them; the selected descriptors stay held (and their
    // libraries loaded) until every one of them has left.
    const std::vector<Ref<TORVDescriptor>> Leaving = Registry_->DescriptorsUnder(Prefixes);
    TDeltaSession Changes(Registry_.Get(), dkUnload);
    Registry_->RemoveDescriptors(Leaving);
    Changes.Deliver();
}

Ref<IORVRegistry> ORV_CALL TORVEngine::GetRegistry() { return Registry_; }

// --- IORVParser --------------------------------------------------------------------------------

Ref<IORVRegistry> ORV_CALL TORVEngine::ParsePath(const std::string& Path, const std::string& ConfigFile) {
    return ParsePaths(TStringDynArray{Path}, ConfigFile);
}

Ref<IORVRegistry> ORV_CALL TORVEngine::ParsePaths(const TStringDynArray& Paths, const std::string& ConfigFile) {
    // Also when plug-in code of a monitored engine parses: the steps are this engine's.
    TMonitorSession Session(Monitor_);
    AdoptConfigFile(ConfigFile);
    TPluginConfigDynArray PluginConfigs = DiscoverPluginConfigs(Paths, ManifestSuffix(EngineConfig_));
    Ref<TORVRegistry> Result = BuildRegistry(EngineConfig_, PluginConfigs, *PathParser_);
    // Read for inspection: its plug-ins never start.
    Result->Close();
    return Result;
}

Ref<TORVRegistry> TORVEngine::BuildRegistry(const TEngineConfigEx& Config, const TPluginConfigDynArray& PluginConfigs,
                                            const TPathParser& Parser, TChecks* Checks) {
    Ref<TORVRegistry> Result(new TORVRegistry());
    // Most manifests declare one plug-in.
    Result->OwnDescriptors().Reserve(PluginConfigs.size());
    {
        TMonitorScope Step(mkManifests, std::string());
        for (const TPluginConfig& PluginConfig : PluginConfigs)
            ReadPluginConfig(Result, Config, PluginConfig, Parser, nullptr, Checks);
    }
    Result->SetChecks(Checks);
    Result->Link();
    Result->SetChecks(nullptr);
    return Result;
}

// --- internals ---------------------------------------------------------------------------------

void TORVEngine::AdoptConfigFile(const std::string& ConfigFile) {
    if (ConfigFile.empty()) return;
    TMonitorScope Step(mkConfig, ConfigFile);
    TEngineConfigEx Config;
    ReadEngineConfig(ConfigFile, *PathParser_, Config);
    EngineConfig_ = Config;
}

Ref<IORVApplication> TORVEngine::FindEntryPoint(const std::string& EntryPointID, Ref<IORVDescriptor>& Owner,
                                                std::string& ExtensionID) {
    TExceptionBuilder::Check(Started_, LoadMessage(SEngineNotStarted));

    // Looked up as the unions would answer, without making them.
    Ref<IORVExtension> Extension(Registry_->FindExtension(EntryPointID));
    if (!Extension) {
        if (TORVExtensionPoint* Point = Registry_->FindPoint(DefaultApplicationsPoint)) {
            TORVExtensions& Applications = Point->LinkedExtensions();
            if (Applications.GetCount() > 0) Extension = Ref<IORVExtension>(Applications.ItemAt(0));
        }
    }
    if (!Extension) return nullptr;

    Owner = Extension->GetDescriptor();
    ExtensionID = Extension->GetID();
    TORVFactory Factory = Extension->GetFactory();
    if (!Factory) return nullptr;
    try {
        TMonitorScope Step(mkFactory, ExtensionID, Owner.Get());
        Ref<IInterface> Created;
        Factory(Created.Put(), Extension.Get());
        return Supports<IORVApplication>(Created, "IORVApplication");
    } catch (...) {
        Log::Error(LoadMessage(SEntryPointError) + CurrentExceptionMessage());
        throw;
    }
}

}  // namespace orv
