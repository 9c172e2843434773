// TORVDescriptor: the engine's record of one plug-in, and the only place where plug-in libraries
// are loaded, their plug-in objects started and stopped, factory exports looked up, and the
// libraries freed.
#ifndef ORV_DESCRIPTOR_H
#define ORV_DESCRIPTOR_H

#include "Common/Platform.h"
#include "Companion/TarnHashUtils.h"
#include "Engine/ORVAdatable.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>

namespace orv {

class TORVExtensions;
class TORVExtensionPoints;

// Filled by the manifest reader: create it, call SetRegistry, set the fields through the setters
// below, and add extensions and extension points through the collections that GetExtensions and
// GetExtensionPoints return (OwnExtensions / OwnExtensionPoints, then Add).
//
// The library is loaded lazily, by the path held in Library, which must be absolute (as the
// manifest reader resolves it): a relative one is reported missing, never searched for.
// While the engine calls into the plug-in's code (GetPluginImpl, Start, Stop) the descriptor holds
// a reference to itself, so that the library stays loaded until the call has returned even when
// the plug-in is dropped meanwhile.
// Destruction unlinks the plug-in's extensions and points and clears their references back to it
// (so that objects a host still holds raise instead of reaching freed memory), releases the
// collections, then the plug-in object, and only then frees the library.
class TORVDescriptor : public TAdatableObject<IORVDescriptor> {
public:
    // Empty fields, both collections empty and unhashed, no library, no plug-in object.
    TORVDescriptor();
    ~TORVDescriptor() override;

    // --- IORVDescriptor ---
    std::string ORV_CALL GetID() override { return ID_; }
    // GetID without a copy.
    const std::string& OwnID() const { return ID_; }
    std::string ORV_CALL GetName() override { return Name_; }
    std::string ORV_CALL GetVersion() override { return Version_; }
    std::string ORV_CALL GetProvider() override { return Provider_; }
    std::string ORV_CALL GetLibrary() override { return Library_; }
    std::string ORV_CALL GetLocation() override { return Location_; }
    // GetLocation without a copy.
    const std::string& OwnLocation() const { return Location_; }
    std::string ORV_CALL GetConfigFile() override { return ConfigFile_; }
    // The plug-in's own extensions (the collection itself, a new reference).
    Ref<IORVExtensions> ORV_CALL GetExtensions() override;
    // The plug-in's own extension points (the collection itself, a new reference).
    Ref<IORVExtensionPoints> ORV_CALL GetExtensionPoints() override;
    // The owning registry (a new reference); nil before SetRegistry and once the plug-in has left
    // its registry or the registry is gone.
    Ref<IORVRegistry> ORV_CALL GetRegistry() override;
    // The plug-in object, obtained on first use through the library's GetPluginImpl without
    // starting it; nil when there is no library, no export, or the export yields nil (a Warn line;
    // the next call tries again). Raises EORVException when the library file is missing and
    // EIntfCastError when the object lacks IORVPlugin; an exception of GetPluginImpl passes. Each
    // failure of GetPluginImpl is logged with the plug-in's id and library first.
    Ref<IORVPlugin> ORV_CALL GetPlugin() override;

    // The collections as their objects.
    TORVExtensions& OwnExtensions() const { return *Extensions_; }
    TORVExtensionPoints& OwnExtensionPoints() const { return *ExtensionPoints_; }

    // --- fields written by the manifest reader ---
    void SetID(const std::string& Value) { ID_ = Value; }
    void SetName(std::string Value) { Name_ = std::move(Value); }
    void SetVersion(const std::string& Value) { Version_ = Value; }
    void SetProvider(const std::string& Value) { Provider_ = Value; }
    // The plug-in library's full path; empty when the plug-in has none.
    void SetLibrary(const std::string& Value) { Library_ = Value; }
    // The manifest's folder, with its trailing separator.
    void SetLocation(const std::string& Value) { Location_ = Value; }
    // The manifest file's full path.
    void SetConfigFile(const std::string& Value) { ConfigFile_ = Value; }
    // Where the manifest declares the plug-in (1-based line and column; 0 when unknown).
    void SetPosition(int32_t Line, int32_t Column) {
        Line_ = Line;
        Column_ = Column;
    }
    int32_t GetLine() const { return Line_; }
    int32_t GetColumn() const { return Column_; }
    // Whether the registry starts this plug-in together with the engine.
    void SetInitialize(bool Value) { Initialize_ = Value; }
    bool GetInitialize() const { return Initialize_; }
    // Stores the owning registry without taking a reference. The registry clears it when the
    // descriptor leaves it or the registry goes.
    void SetRegistry(TORVRegistry* Registry) { Registry_ = Registry; }
    TORVRegistry* GetRegistryObject() const { return Registry_; }
    // The registry lets go of this descriptor (it was unloaded, or the registry is gone): the
    // back reference is cleared, and the plug-in is never started from now on.
    void Detach() {
        Registry_ = nullptr;
        Detached_ = true;
    }
    bool IsDetached() const { return Detached_; }
    // Orders the descriptors of a registry as its collection does: one that entered later has a
    // greater number (the registry numbers them).
    void SetRegistryOrder(uint64_t Value) { RegistryOrder_ = Value; }
    uint64_t GetRegistryOrder() const { return RegistryOrder_; }

    // --- life of the plug-in ---
    // Loads the library unless it is loaded: EORVException when the file is missing; two Error
    // lines (the engine's and the system loader's reason) and nothing loaded when the system
    // cannot load it; an Info line when it lacks GetPluginImpl.
    void LoadDll();
    // Obtains the plug-in object when needed and runs its Start once. The plug-in counts as
    // started once Start has returned, or when there is nothing to start: no library, or a loaded
    // library without a plug-in object. A library that failed to load leaves it unstarted, so
    // that a later attempt loads and starts it. A failing Start is logged and rethrown, and the
    // plug-in stays unstarted. A detached descriptor raises EORVException and starts nothing; a
    // plug-in that was detached, or whose registry stopped running, while its Start ran is stopped
    // at once (with a Warn line), so that it is not left running with nothing to stop it. The
    // same when its registry was closed meanwhile (its engine shut down).
    void StartPlugin();
    // Runs Stop of a started plug-in object, once: a plug-in that was stopped is not stopped
    // again. A failing Stop is logged and rethrown. Neither the started flag nor the library
    // changes.
    void StopPlugin();
    // The address of the library's export Name, nullptr when Name is empty or there is no such
    // export (one Warn line per name; the answer is cached per name). Starts the plug-in first
    // (loading its library) when it has not been started, whatever loaded the library before;
    // when its registry is closed (read for inspection, or shut down) it only loads the library.
    // A detached descriptor raises EORVException, as StartPlugin.
    void* FindFactoryMethod(const std::string& Name);

    bool IsStarted() const { return Started_; }
    // Whether Stop has been called on the plug-in object.
    bool IsStopped() const { return Stopped_; }
    // Orders the starts of the process: a plug-in started later has a greater number; 0 while
    // not started.
    uint64_t GetStartOrder() const { return StartOrder_; }
    // Whether the library is loaded.
    bool IsLoaded() const { return Handle_ != nullptr; }
    // Whether the library has a GetPluginImpl export (false while not loaded).
    bool HasPluginEntry() const { return PluginEntry_ != nullptr; }

private:
    // Whether the plug-in may start now: not detached, and its registry (when it has one) not closed.
    bool MayStart() const;
    // Unloads the library when loaded; a failure is logged and swallowed. Only the destructor
    // calls it, after the plug-in object is gone.
    void FreeDll();
    // Calls GetPluginImpl and keeps the object it yields (see GetPlugin).
    void CreatePlugin();
    // Marks the plug-in started now.
    void MarkStarted();

    std::string Provider_;
    std::string ID_;
    std::string Library_;
    std::string Location_;
    std::string Version_;
    std::string Name_;
    Ref<TORVExtensions> Extensions_;
    Ref<TORVExtensionPoints> ExtensionPoints_;
    TORVRegistry* Registry_ = nullptr;  // weak
    bool Started_ = false;
    bool Stopped_ = false;
    bool Detached_ = false;
    uint64_t StartOrder_ = 0;
    uint64_t RegistryOrder_ = 0;
    TLibraryHandle Handle_ = nullptr;
    TGetPluginImpl PluginEntry_ = nullptr;
    bool Initialize_ = false;
    std::unique_ptr<TStrKeyHash> FactoryCache_;  // export name -> address (nil cached too)
    Ref<IORVPlugin> Plugin_;
    std::string ConfigFile_;
    int32_t Line_ = 0;
    int32_t Column_ = 0;
};

// Whether A comes before B in their registry (see GetRegistryOrder); two with one number (one
// descriptor, or one never numbered) by address, so that sorting with it keeps a descriptor's
// repeats together.
inline bool ComesBefore(const TORVDescriptor* A, const TORVDescriptor* B) {
    if (A->GetRegistryOrder() != B->GetRegistryOrder()) return A->GetRegistryOrder() < B->GetRegistryOrder();
    return std::less<const TORVDescriptor*>()(A, B);
}

}  // namespace orv

#endif
