#include "Engine/ORVDescriptor.h"

#include "Common/ORVCommon.h"
#include "Common/ORVException.h"
#include "Engine/ORVCollections.h"

#include <exception>

namespace orv {

namespace {
constexpr unsigned FactoryCacheBuckets = 257;
const char* const PluginEntryName = "GetPluginImpl";
// Detail text for an exception that carries no message of its own.
const char* const UnknownExceptionText = "unknown exception";
}  // namespace

TORVDescriptor::TORVDescriptor()
    : Extensions_(new TORVExtensions(false)),
      ExtensionPoints_(new TORVExtensionPoints(false)),
      FactoryCache_(std::make_unique<TStrKeyHash>(FactoryCacheBuckets, false)) {}

TORVDescriptor::~TORVDescriptor() {
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

void TORVDescriptor::LoadDll() {
    if (Handle_) return;
    TExceptionBuilder::CheckFmt(Platform().FileExists(Library_), LoadMessage(SDllNotFound),
                                TArgList{ID_, Location_, Library_});
    std::string Error;
    Handle_ = Platform().OpenLibrary(Library_, Error);
    if (!Handle_) {
        Log::ErrorFmt(SCannotLoadDll, TArgList{ID_, Library_});
        return;
    }
    PluginEntry_ = reinterpret_cast<TGetPluginImpl>(Platform().FindSymbol(Handle_, PluginEntryName));
    if (!PluginEntry_) Log::InfoFmt(SNoGetPluginImpl, TArgList{ID_, Library_});
}

Ref<IORVPlugin> ORV_CALL TORVDescriptor::GetPlugin() {
    if (Plugin_) return Plugin_;
    if (!Library_.empty()) LoadDll();
    if (PluginEntry_) {
        // The export hands over one reference, which Created adopts and releases on every path.
        Ref<IInterface> Created;
        PluginEntry_(Created.Put(), this);
        Plugin_ = Supports<IORVPlugin>(Created, "IORVPlugin");
    }
    return Plugin_;
}

void TORVDescriptor::StartPlugin() {
    GetPlugin();
    if (!Started_ && Plugin_) {
        // Hold the object for the call: Start may reach back into the engine.
        Ref<IORVPlugin> Plugin = Plugin_;
        try {
            Plugin->Start();
        } catch (...) {
            Log::ErrorFmt(SPluginStartError, TArgList{ID_});
            throw;
        }
    }
    Started_ = true;
}

void TORVDescriptor::StopPlugin() {
    if (!Started_ || !Plugin_) return;
    Ref<IORVPlugin> Plugin = Plugin_;
    try {
        Plugin->Stop();
    } catch (...) {
        Log::ErrorFmt(SPluginStopError, TArgList{ID_});
        throw;
    }
}

void* TORVDescriptor::FindFactoryMethod(const std::string& Name) {
    if (Name.empty()) return nullptr;
    if (!Handle_) {
        StartPlugin();
        if (!Handle_) return nullptr;
    }
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
    } catch (const std::exception& E) {
        Log::ErrorFmt(SCannotFreeDll, TArgList{ID_, Library_, E.what()});
    } catch (...) {
        Log::ErrorFmt(SCannotFreeDll, TArgList{ID_, Library_, UnknownExceptionText});
    }
}

}  // namespace orv
