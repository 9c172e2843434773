// TORVDescriptor: the engine's record of one plug-in, and the only place where plug-in libraries
// are loaded, their plug-in objects started and stopped, factory exports looked up, and the
// libraries freed.
#ifndef ORV_DESCRIPTOR_H
#define ORV_DESCRIPTOR_H

#include "Common/Platform.h"
#include "Companion/TarnHashUtils.h"
#include "Engine/ORVAdatable.h"

#include <memory>
#include <string>

namespace orv {

// Filled by the manifest reader: create it, call SetRegistry, set the fields through the setters
// below, and add extensions and extension points through the collections that GetExtensions and
// GetExtensionPoints return (TConverter::ToExtensions / ToExtensionPoints, then Add).
//
// The library is loaded lazily, by the path held in Library (absolute, as the manifest reader
// resolves it; a relative path is taken against the current folder, never searched for).
// Destruction releases the collections, then the plug-in object, and only then frees the library.
class TORVDescriptor : public TAdatableObject<IORVDescriptor> {
public:
    // Empty fields, both collections empty and unhashed, no library, no plug-in object.
    TORVDescriptor();
    ~TORVDescriptor() override;

    // --- IORVDescriptor ---
    std::string ORV_CALL GetID() override { return ID_; }
    std::string ORV_CALL GetName() override { return Name_; }
    std::string ORV_CALL GetVersion() override { return Version_; }
    std::string ORV_CALL GetProvider() override { return Provider_; }
    std::string ORV_CALL GetLibrary() override { return Library_; }
    std::string ORV_CALL GetLocation() override { return Location_; }
    std::string ORV_CALL GetConfigFile() override { return ConfigFile_; }
    // The plug-in's own extensions (the collection itself, a new reference).
    Ref<IORVExtensions> ORV_CALL GetExtensions() override { return Extensions_; }
    // The plug-in's own extension points (the collection itself, a new reference).
    Ref<IORVExtensionPoints> ORV_CALL GetExtensionPoints() override { return ExtensionPoints_; }
    // The owning registry (a new reference), nil before SetRegistry.
    Ref<IORVRegistry> ORV_CALL GetRegistry() override { return Ref<IORVRegistry>(Registry_); }
    // The plug-in object, obtained on first use through the library's GetPluginImpl without
    // starting it; nil when there is no library, no export, or the export yields nil (then the
    // next call tries again). Raises EORVException when the library file is missing and
    // EIntfCastError when the object lacks IORVPlugin; an exception of GetPluginImpl passes.
    Ref<IORVPlugin> ORV_CALL GetPlugin() override;

    // --- fields written by the manifest reader ---
    void SetID(const std::string& Value) { ID_ = Value; }
    void SetName(const std::string& Value) { Name_ = Value; }
    void SetVersion(const std::string& Value) { Version_ = Value; }
    void SetProvider(const std::string& Value) { Provider_ = Value; }
    // The plug-in library's full path; empty when the plug-in has none.
    void SetLibrary(const std::string& Value) { Library_ = Value; }
    // The manifest's folder, with its trailing separator.
    void SetLocation(const std::string& Value) { Location_ = Value; }
    // The manifest file's full path.
    void SetConfigFile(const std::string& Value) { ConfigFile_ = Value; }
    // Whether the registry starts this plug-in together with the engine.
    void SetInitialize(bool Value) { Initialize_ = Value; }
    bool GetInitialize() const { return Initialize_; }
    // Stores the owning registry without taking a reference; it must outlive the descriptor's use.
    void SetRegistry(IORVRegistry* Registry) { Registry_ = Registry; }

    // --- life of the plug-in ---
    // Loads the library unless it is loaded: EORVException when the file is missing; an Error
    // line (and nothing loaded) when the system cannot load it; an Info line when it lacks
    // GetPluginImpl.
    void LoadDll();
    // Obtains the plug-in object when needed and runs its Start once. Afterwards the plug-in
    // counts as started, also when it has no object. A failing Start is logged and rethrown,
    // and the plug-in stays unstarted.
    void StartPlugin();
    // Runs Stop of a started plug-in object; a failing Stop is logged and rethrown. Neither the
    // started flag nor the library changes.
    void StopPlugin();
    // The address of the library's export Name, nullptr when Name is empty or there is no such
    // export (one Warn line per name; the answer is cached per name). Loads the library and
    // starts the plug-in first when the library is not loaded yet.
    void* FindFactoryMethod(const std::string& Name);

    bool IsStarted() const { return Started_; }
    // Whether the library is loaded.
    bool IsLoaded() const { return Handle_ != nullptr; }
    // Whether the library has a GetPluginImpl export (false while not loaded).
    bool HasPluginEntry() const { return PluginEntry_ != nullptr; }

private:
    // Unloads the library when loaded; a failure is logged and swallowed. Only the destructor
    // calls it, after the plug-in object is gone.
    void FreeDll();

    std::string Provider_;
    std::string ID_;
    std::string Library_;
    std::string Location_;
    std::string Version_;
    std::string Name_;
    Ref<IORVExtensions> Extensions_;
    Ref<IORVExtensionPoints> ExtensionPoints_;
    IORVRegistry* Registry_ = nullptr;  // weak
    bool Started_ = false;
    TLibraryHandle Handle_ = nullptr;
    TGetPluginImpl PluginEntry_ = nullptr;
    bool Initialize_ = false;
    std::unique_ptr<TStrKeyHash> FactoryCache_;  // export name -> address (nil cached too)
    Ref<IORVPlugin> Plugin_;
    std::string ConfigFile_;
};

}  // namespace orv

#endif
