// ORVPluginHelpers.h - small helpers for writing hosts and plug-ins against ORVInterface.h.
//
// A plug-in is typically:
//
//   class TMyPlugin : public orv::TInterfacedObject<orv::IORVPlugin> {
//   public:
//       void ORV_CALL Start() override {}
//       void ORV_CALL Stop() override {}
//   };
//   class TMyApp : public orv::TInterfacedObject<orv::IORVApplication> {
//   public:
//       void ORV_CALL Run(const orv::TVarRec*, int32_t) override { ... }
//   };
//   ORV_EXPORT_PLUGIN(TMyPlugin)
//   ORV_EXPORT_FACTORY(GetExtensionImpl, TMyApp)
//
// On 32-bit Windows the exports are __stdcall; link the plug-in with -Wl,--kill-at so that they
// are exported under their plain names.
#ifndef ORV_PLUGIN_HELPERS_H
#define ORV_PLUGIN_HELPERS_H

#include "ORVInterface.h"

#include <atomic>
#include <type_traits>

namespace orv {

// Reference-counting base that answers QueryInterface for IInterface and for each of Intfs.
// Objects are created with new and destroyed when the last reference is released.
template <class First, class... Rest>
class TInterfacedObject : public First, public Rest... {
public:
    TInterfacedObject() = default;
    TInterfacedObject(const TInterfacedObject&) = delete;
    TInterfacedObject& operator=(const TInterfacedObject&) = delete;
    virtual ~TInterfacedObject() = default;

    int32_t ORV_CALL QueryInterface(const TGUID& IID, void** Obj) override {
        if (!Obj) return E_NOINTERFACE_;
        *Obj = nullptr;
        if (IID == IInterface::IID) {
            *Obj = AsInterface();
        } else if (!(TryQuery<First>(IID, Obj) || (TryQuery<Rest>(IID, Obj) || ...))) {
            return E_NOINTERFACE_;
        }
        AddRef();
        return S_OK_;
    }
    int32_t ORV_CALL AddRef() override { return ++RefCount_; }
    int32_t ORV_CALL Release() override {
        int32_t N = --RefCount_;
        if (N == 0) delete this;
        return N;
    }

    // This object as its primary IInterface (no reference added).
    IInterface* AsInterface() { return static_cast<IInterface*>(static_cast<First*>(this)); }

private:
    template <class I>
    bool TryQuery(const TGUID& IID, void** Obj) {
        if (IID != I::IID) return false;
        *Obj = static_cast<I*>(this);
        return true;
    }
    std::atomic<int32_t> RefCount_{0};
};

namespace detail {
// Creates T (from Arg when T has such a constructor) and hands it out through *Result.
template <class T, class A>
void Produce(IInterface** Result, A* Arg) {
    if (!Result) return;
    if (*Result) {
        (*Result)->Release();
        *Result = nullptr;
    }
    T* Obj;
    if constexpr (std::is_constructible<T, A*>::value)
        Obj = new T(Arg);
    else
        Obj = new T();
    IInterface* I = Obj->AsInterface();
    I->AddRef();
    *Result = I;
}
}  // namespace detail

}  // namespace orv

// Exports GetPluginImpl yielding a new Class (constructed from the IORVDescriptor* when it has
// such a constructor).
#define ORV_EXPORT_PLUGIN(Class)                                                                 \
    ORV_EXPORT void ORV_CALL GetPluginImpl(orv::IInterface** Result, orv::IORVDescriptor* Descriptor) { \
        orv::detail::Produce<Class>(Result, Descriptor);                                       \
    }

// Exports a factory named Name yielding a new Class (constructed from the IORVExtension* when it
// has such a constructor).
#define ORV_EXPORT_FACTORY(Name, Class)                                                     \
    ORV_EXPORT void ORV_CALL Name(orv::IInterface** Result, orv::IORVExtension* Extension) { \
        orv::detail::Produce<Class>(Result, Extension);                                   \
    }

#endif  // ORV_PLUGIN_HELPERS_H
