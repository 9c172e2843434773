// TORVEngine: the host-facing engine (IORVParser first, IORVEngine second, then IORVEngineMonitor
// and IORVRegistryEvents)
// and the class-level operations behind it: reading the engine configuration file, plug-in
// discovery and the manifest reader.
#ifndef ORV_ENGINE_IMPL_H
#define ORV_ENGINE_IMPL_H

#include <ORVInterface.h>
#include <ORVPluginHelpers.h>

#include "Common/ORVMiscUtils.h"

#include <functional>
#include <memory>
#include <string>

namespace orv {

class TChecks;
class TMonitorScope;
class TXMLTree;
struct TManifest;
class TORVDescriptor;
class TORVDescriptors;
class TORVExtensions;
class TORVExtensionPoints;
class TORVRegistry;
class TRegistryEventHub;

// A predicate on a path: the platform's file-exists or folder-exists test.
using TExistenceTest = std::function<bool(const std::string&)>;

class TORVEngine : public TInterfacedObject<IORVParser, IORVEngine, IORVEngineMonitor, IORVRegistryEvents> {
public:
    // Both flags false, no registry, empty configuration; the path parser registers %exe% and
    // %module% (this library's folder).
    TORVEngine();
    ~TORVEngine() override;

    // IORVParser
    Ref<IORVRegistry> ORV_CALL ParsePath(const std::string& Path, const std::string& ConfigFile) override;
    Ref<IORVRegistry> ORV_CALL ParsePaths(const TStringDynArray& Paths, const std::string& ConfigFile) override;

    // IORVEngine
    void ORV_CALL Startup(const std::string& ConfigFile, const TVarRec* Args, int32_t ArgsHigh) override;
    void ORV_CALL StartupWithPlugins(const std::string& ConfigFile, const TPluginConfigDynArray& PluginConfigs,
                                     const TVarRec* Args, int32_t ArgsHigh) override;
    void ORV_CALL StartupWithConfig(const TEngineConfigEx& Config, const TPluginConfigDynArray& PluginConfigs,
                                    const TVarRec* Args, int32_t ArgsHigh) override;
    void ORV_CALL Shutdown() override;
    void ORV_CALL LoadPlugins(const TStringDynArray& Folders) override;
    void ORV_CALL UnloadPlugins(const TStringDynArray& Folders) override;
    Ref<IORVRegistry> ORV_CALL GetRegistry() override;

    // IORVEngineMonitor
    void ORV_CALL SetMonitor(IORVMonitor* Monitor) override { Monitor_ = Ref<IORVMonitor>(Monitor); }

    // IORVRegistryEvents: the listeners of the registries this engine starts.
    void ORV_CALL AddListener(IORVRegistryListener* Listener) override;
    void ORV_CALL RemoveListener(IORVRegistryListener* Listener) override;

    bool IsStarted() const { return Started_; }
    const TEngineConfigEx& GetEngineConfig() const { return EngineConfig_; }

    // The manifest suffix a configuration gets when it names none.
    static constexpr const char* DefaultConfigExt = "plugin.xml";
    // The manifest suffix discovery uses under Config: its ConfigExt, or the default when that is
    // empty (a configuration that was never read, or a record given to StartupWithConfig).
    static std::string ManifestSuffix(const TEngineConfigEx& Config);

    // --- engine configuration file ---------------------------------------------------------
    // Reads FileName into Config (a fresh record) and sets or removes %config% on Parser.
    // A file that does not exist is no error: Config then holds only the defaults.
    static void ReadEngineConfig(const std::string& FileName, TPathParser& Parser, TEngineConfigEx& Config);
    // ReadEngineConfig on a document loaded already (named by its file name), for tools.
    static void ReadEngineConfigDocument(const Ref<IXMLDocument>& Document, TPathParser& Parser, TEngineConfigEx& Config);
    // Path itself when Test holds for it (made absolute against the current folder), else beside
    // this library, else beside the host executable, else Path unchanged.
    static std::string ResolvePath(const std::string& Path, const TExistenceTest& Test);

    // --- discovery -------------------------------------------------------------------------
    // Every manifest under Paths, in discovery order, each loaded as an XML document. A manifest
    // file found through two entries is listed twice, with a Warn line naming both.
    static TPluginConfigDynArray DiscoverPluginConfigs(const TStringDynArray& Paths, const std::string& ConfigExt);
    // Path alone when it is a manifest file; else the manifests found under the folder Path.
    static TStringDynArray FindConfigFiles(const std::string& Path, const std::string& ConfigExt);
    // The same for the configured entry Entry, resolved to Path: the lines about the walk name
    // Entry, and a folder that cannot be read goes to Checks (the engine's own reactions, a Warn
    // line, when nil).
    static TStringDynArray FindConfigFiles(const std::string& Path, const std::string& ConfigExt,
                                           const std::string& Entry, TChecks* Checks);
    // Appends the manifests under Folder (depth-first, a subfolder's at the place it is met) to
    // List, dropping repeats. Each real folder is entered once (a link to a folder met already is
    // not followed, with a Debug line), and pseudo file systems such as /proc are never entered;
    // a file met again under another name (a link to it) is listed once, with a Warn line; a
    // folder that cannot be read is named in a Warn line with the system's reason.
    static void ScanFolder(const std::string& Folder, const std::string& ConfigExt, TStringDynArray& List);
    // Whether Name ends with Suffix, ignoring ASCII letter case (an empty Suffix matches all).
    static bool EndsWithText(const std::string& Name, const std::string& Suffix);
    // False when ID equals an entry of ShieldedPlugins, ignoring ASCII letter case.
    static bool IsPluginAllowed(const std::string& ID, const TStringDynArray& ShieldedPlugins);

    // --- manifest reader -------------------------------------------------------------------
    // Reads one discovered manifest into Registry's descriptor collection (or, with Target, into
    // Target: descriptors of Registry that are not in it yet), honouring EngineConfig's
    // ShieldedPlugins and DllPath; Parser expands library paths. The findings of its checks go to
    // Checks (the engine's own reactions when nil); a collecting one lets the reading go on with
    // the next plug-in where the engine stops.
    static void ReadPluginConfig(const Ref<TORVRegistry>& Registry, const TEngineConfigEx& EngineConfig,
                                 const TPluginConfig& PluginConfig, const TPathParser& Parser,
                                 TORVDescriptors* Target = nullptr, TChecks* Checks = nullptr);

    // --- parse-only build ------------------------------------------------------------------
    // A new registry of the manifests PluginConfigs, each read under Config (Parser expands library
    // paths), then linked and validated; no plug-in is loaded. The findings of reading, linking and
    // validating go to Checks (the engine's own reactions when nil); a collecting one lets the
    // build go on past a plug-in or point where the engine stops.
    static Ref<TORVRegistry> BuildRegistry(const TEngineConfigEx& Config, const TPluginConfigDynArray& PluginConfigs,
                                           const TPathParser& Parser, TChecks* Checks = nullptr);

private:
    // The steps of ReadPluginConfig for one Plugin element of the manifest FileName: its fields
    // and library, the library's place (beside the manifest, in DllPath, or by Parser), its
    // extensions and its extension points, each added in document order.
    static void ReadPlugin(const TManifest& Manifest, uint32_t Element, TORVDescriptor& Descriptor,
                           const TEngineConfigEx& EngineConfig, const TPathParser& Parser, TChecks& Findings);
    // Whether the library was found (Descriptor's Library is then its path); Searched receives
    // every place looked at, in order.
    static bool ResolveLibrary(TORVDescriptor& Descriptor, const TStringDynArray& DllPath, const TPathParser& Parser,
                               TStringDynArray& Searched);
    static void ReadExtensions(const TManifest& Manifest, const Ref<IXMLDocument>& Document, uint32_t Element,
                               TORVDescriptor& Descriptor, TORVExtensions* Extensions, TChecks& Findings);
    static void ReadExtensionPoints(const TManifest& Manifest, uint32_t Element, TORVDescriptor& Descriptor,
                                    TORVExtensionPoints* ExtensionPoints);

    // Reads the configuration file ConfigFile, when one is named, and makes it the engine's
    // configuration (see ReadEngineConfig); an empty name keeps the configuration as it is.
    void AdoptConfigFile(const std::string& ConfigFile);
    // The application of the entry-point extension, nil when there is none. Owner receives the
    // entry point's plug-in, which the caller holds while the application's code runs, and
    // ExtensionID the entry point's id.
    Ref<IORVApplication> FindEntryPoint(const std::string& EntryPointID, Ref<IORVDescriptor>& Owner,
                                        std::string& ExtensionID);

    // StartupWithConfig's steps; Total, the start's monitor step, ends with the start pass.
    void StartWith(const TEngineConfigEx& Config, const TPluginConfigDynArray& PluginConfigs, const TVarRec* Args,
                   int32_t ArgsHigh, TMonitorScope& Total);

    // Refuses (EORVException) a startup asked for while a start or stop pass runs plug-in code:
    // the pass would walk a registry that the new start replaces.
    void RefuseStartupDuringPass() const;

    // What the engine is doing while it calls plug-in code in bulk.
    enum class TPass { None, Starting, Stopping };

    bool Started_ = false;
    TPass Pass_ = TPass::None;
    Ref<TORVRegistry> Registry_;
    std::unique_ptr<TPathParser> PathParser_;
    TEngineConfigEx EngineConfig_;
    Ref<IORVMonitor> Monitor_;
    std::shared_ptr<TRegistryEventHub> Listeners_;
};

}  // namespace orv

#endif
