#include "Engine/ORVDescriptor.h"

#include "Common/ORVCommon.h"
#include "Common/ORVException.h"
#include "Common/ORVMiscUtils.h"
#include "Engine/ORVCollections.h"
#include "Engine/ORVExtension.h"
#include "Engine/ORVExtensionPoint.h"
#include "Engine/ORVMonitor.h"
#include "Engine/ORVRegistry.h"
#include "Engine/ORVRegistryEvents.h"

#include <atomic>

namespace orv {

namespace {
constexpr unsigned FactoryCacheBuckets = 257;
const char* const PluginEntryName = "GetPluginImpl";

std::atomic<uint64_t> GStartCounter{0};
}  // namespace

TORVDescriptor::TORVDescriptor()
    : Extensions_(new TORVExtensions(false)), ExtensionPoints_(new TORVExtensionPoints(false)) {}

TORVDescriptor::~TORVDescriptor() {
    try {
        // Objects of this plug-in that others still hold must not reach back into it.
        const int32_t PointCount = ExtensionPoints_->GetCount();
        for (int32_t I = 0; I < PointCount; ++I) {
            TORVExtensionPoint* Point = ExtensionPoints_->ItemAt(I);
            Point->UnlinkAll();
            Point->SetDescriptor(nullptr);
        }
        const int32_t ExtensionCount = Extensions_->GetCount();
        for (int32_t I = 0; I < ExtensionCount; ++I) {
            TORVExtension* Extension = Extensions_->ItemAt(I);
            Extension->UnlinkAll();
            Extension->SetDescriptor(nullptr);
        }
    } catch (...) {
        // A destructor must not pass on what unlinking raised.
    }
    ExtensionPoints_ = nullptr;
    Extensions_ = nullptr;
    // The plug-in object's code lives in the library: release it while the library is loaded.
    Plugin_ = nullptr;
    Registry_ = nullptr;
    PluginEntry_ = nullptr;
    FactoryCache_.reset();
    try {
        FreeDll();
    } catch (...) {
        // Only a logger that raises gets here; a destructor must not pass it on.
    }
}

Ref<IORVExtensions> ORV_CALL TORVDescriptor::GetExtensions() { return Extensions_; }

Ref<IORVExtensionPoints> ORV_CALL TORVDescriptor::GetExtensionPoints() { return ExtensionPoints_; }

Ref<IORVRegistry> ORV_CALL TORVDescriptor::GetRegistry() { return Ref<IORVRegistry>(Registry_); }

void TORVDescriptor::LoadDll() {
    if (Handle_) return;
    TMonitorScope Step(mkLoadLibrary, ID_, ID_, Library_);
    // Only a path that resolution made absolute is loaded: a relative one would be taken against
    // the current folder, which may hold anything.
    TExceptionBuilder::CheckFmt(TPathUtils::IsAbsolutePath(Library_) && Platform().FileExists(Library_),
                                LoadMessage(SDllNotFound), TArgList{ID_, Location_, Library_});
    std::string Error;
    Handle_ = Platform().OpenLibrary(Library_, Error);
    if (!Handle_) {
        Log::ErrorFmt(SCannotLoadDll, TArgList{ID_, Library_});
        Log::Error("The system loader's reason: " + Error);
        return;
    }
    PluginEntry_ = reinterpret_cast<TGetPluginImpl>(Platform().FindSymbol(Handle_, PluginEntryName));
    if (!PluginEntry_) Log::InfoFmt(SNoGetPluginImpl, TArgList{ID_, Library_});
}

Ref<IORVPlugin> ORV_CALL TORVDescriptor::GetPlugin() {
    if (Plugin_) return Plugin_;
    if (!Library_.empty()) LoadDll();
    if (PluginEntry_) CreatePlugin();
    return Plugin_;
}

void TORVDescriptor::CreatePlugin() {
    TMonitorScope Step(mkGetPluginImpl, ID_, ID_, Library_);
    const std::string Where = "plug-in [" + ID_ + "] (library " + Library_ + ")";
    // The library's code runs: it stays loaded until the call has returned.
    Ref<IORVDescriptor> Hold(this);
    // The export hands over one reference, which Created adopts and releases on every path.
    Ref<IInterface> Created;
    try {
        PluginEntry_(Created.Put(), this);
    } catch (...) {
        Log::Error("GetPluginImpl of " + Where + " raised: " + CurrentExceptionMessage());
        throw;
    }
    if (!Created) {
        Log::Warn("GetPluginImpl of " + Where + " yielded no plug-in object");
        return;
    }
    Plugin_ = Created.Query<IORVPlugin>();
    if (!Plugin_) {
        Log::Error("GetPluginImpl of " + Where + " yielded an object without IORVPlugin");
        throw EIntfCastError("Interface not supported: IORVPlugin");
    }
    // An object that appears only now (the export yielded nil before) has not been started.
    if (Started_ && Registry_) Registry_->NoteChanging(*this);
    Started_ = false;
    StartOrder_ = 0;
}

void TORVDescriptor::MarkStarted() {
    if (Registry_) Registry_->NoteChanging(*this);
    Started_ = true;
    StartOrder_ = ++GStartCounter;
}

bool TORVDescriptor::MayStart() const {
    if (Detached_) return false;
    // A descriptor of no registry at all is started as it is asked to.
    return !Registry_ || !Registry_->IsClosed();
}

void TORVDescriptor::StartPlugin() {
    if (Detached_)
        TExceptionBuilder::RaiseError("Plug-in [" + ID_ + "] has been unloaded: it cannot be started any more");
    GetPlugin();
    if (Started_) return;
    if (!Plugin_) {
        // Nothing to start, unless the library is still to be loaded.
        if (Library_.empty() || Handle_) MarkStarted();
        return;
    }
    // Hold the object and this descriptor for the call: Start may reach back into the engine,
    // even drop its own plug-in.
    Ref<IORVDescriptor> Hold(this);
    Ref<IORVPlugin> Plugin = Plugin_;
    try {
        TMonitorScope Step(mkStart, ID_, ID_, Library_);
        Plugin->Start();
    } catch (...) {
        Log::ErrorFmt(SPluginStartError, TArgList{ID_});
        throw;
    }
    MarkStarted();
    if (!MayStart()) {
        // Its Start unloaded it or shut its engine down: no pass will come back for it.
        Log::Warn("Plug-in [" + ID_ + "] was unloaded or its engine stopped while it started: it is stopped at once");
        StopPlugin();
    }
}

void TORVDescriptor::StopPlugin() {
    if (!Started_ || !Plugin_ || Stopped_) return;
    if (Registry_) Registry_->NoteChanging(*this);
    Stopped_ = true;
    Ref<IORVDescriptor> Hold(this);
    Ref<IORVPlugin> Plugin = Plugin_;
    try {
        TMonitorScope Step(mkStop, ID_, ID_, Library_);
        Plugin->Stop();
    } catch (...) {
        Log::ErrorFmt(SPluginStopError, TArgList{ID_});
        throw;
    }
}

void* TORVDescriptor::FindFactoryMethod(const std::string& Name) {
    if (Name.empty()) return nullptr;
    if (!Started_) {
        if (MayStart() || Detached_) {
            // Started on first use: the engine's listeners hear of it.
            TDeltaSession Session(Registry_, dkStart);
            StartPlugin();
            Session.Deliver();
        } else if (!Library_.empty())
            LoadDll();
    }
    if (!Handle_) return nullptr;
    // Made on the first lookup: most plug-ins are never asked for a factory.
    if (!FactoryCache_) FactoryCache_ = std::make_unique<TStrKeyHash>(FactoryCacheBuckets, false);
    if (uintptr_t* Node = FactoryCache_->FindNode(Name)) return reinterpret_cast<void*>(*Node);
    void* Address = Platform().FindSymbol(Handle_, Name);
    if (!Address) Log::WarnFmt(SFactoryNotFound, TArgList{ID_, Name});
    FactoryCache_->Add(Name, reinterpret_cast<uintptr_t>(Address));
    return Address;
}

void TORVDescriptor::FreeDll() {
    if (!Handle_) return;
    TLibraryHandle Handle = Handle_;
    Handle_ = nullptr;
    PluginEntry_ = nullptr;
    try {
        Platform().CloseLibrary(Handle);
    } catch (...) {
        Log::ErrorFmt(SCannotFreeDll, TArgList{ID_, Library_, CurrentExceptionMessage()});
    }
}

}  // namespace orv
