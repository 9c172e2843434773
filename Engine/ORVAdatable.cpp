#include "Engine/ORVAdatable.h"

#include "Common/ORVException.h"
#include "Engine/ORVCollections.h"
#include "Engine/ORVDescriptor.h"
#include "Engine/ORVExtension.h"
#include "Engine/ORVExtensionPoint.h"
#include "Engine/ORVRegistry.h"

namespace orv {

namespace {

std::atomic<int64_t> GLiveObjects{0};

// The object behind Intf as a Target; see TConverter for the failure reactions.
template <class Target, class Intf>
Target* Convert(Intf* Given) {
    TExceptionBuilder::CheckNotNil(Given);
    void* Answer = nullptr;
    if (Given->QueryInterface(IAdatable::IID, &Answer) != S_OK_)
        throw EIntfCastError("Interface not supported: IAdatable");
    Ref<IAdatable> Adapter;
    Adapter.Attach(static_cast<IAdatable*>(Answer));
    void* Implementor = Adapter ? Adapter->GetImplementor() : nullptr;
    TExceptionBuilder::CheckNotNil(Implementor);
    // Only the adapter is inspected, never the untyped implementor pointer: an object of another
    // module that answers IAdatable is a valid polymorphic object, but not one of ours.
    auto* Object = dynamic_cast<TAdatableInterfacedObject*>(Adapter.Get());
    TExceptionBuilder::Check(Object != nullptr && static_cast<void*>(Object) == Implementor);
    auto* Result = dynamic_cast<Target*>(Object);
    TExceptionBuilder::Check(Result != nullptr);
    return Result;
}

}  // namespace

TAdatableInterfacedObject::TAdatableInterfacedObject() { ++GLiveObjects; }

TAdatableInterfacedObject::~TAdatableInterfacedObject() { --GLiveObjects; }

int64_t TAdatableInterfacedObject::LiveObjectCount() { return GLiveObjects.load(); }

int32_t ORV_CALL TAdatableInterfacedObject::QueryInterface(const TGUID& Iid, void** Obj) {
    if (!Obj) return E_NOINTERFACE_;
    IInterface* Found = nullptr;
    if (Iid == IInterface::IID || Iid == IAdatable::IID)
        Found = static_cast<IAdatable*>(this);
    else
        Found = FindInterface(Iid);
    *Obj = Found;
    if (!Found) return E_NOINTERFACE_;
    Found->AddRef();
    return S_OK_;
}

int32_t ORV_CALL TAdatableInterfacedObject::AddRef() { return ++RefCount_; }

int32_t ORV_CALL TAdatableInterfacedObject::Release() {
    const int32_t Count = --RefCount_;
    if (Count == 0) {
        // A destructor that hands out and drops a temporary reference to this object must not
        // start a second destruction.
        RefCount_ = 1;
        delete this;
    }
    return Count;
}

void* ORV_CALL TAdatableInterfacedObject::GetImplementor() { return this; }

IInterface* TAdatableInterfacedObject::FindInterface(const TGUID&) { return nullptr; }

TORVDescriptor* TConverter::ToDescriptor(IORVDescriptor* Intf) { return Convert<TORVDescriptor>(Intf); }
TORVDescriptors* TConverter::ToDescriptors(IORVDescriptors* Intf) { return Convert<TORVDescriptors>(Intf); }
TORVRegistry* TConverter::ToRegistry(IORVRegistry* Intf) { return Convert<TORVRegistry>(Intf); }
TORVExtensions* TConverter::ToExtensions(IORVExtensions* Intf) { return Convert<TORVExtensions>(Intf); }
TORVExtension* TConverter::ToExtension(IORVExtension* Intf) { return Convert<TORVExtension>(Intf); }
TORVExtensionPoints* TConverter::ToExtensionPoints(IORVExtensionPoints* Intf) {
    return Convert<TORVExtensionPoints>(Intf);
}
TORVExtensionPoint* TConverter::ToExtensionPoint(IORVExtensionPoint* Intf) {
    return Convert<TORVExtensionPoint>(Intf);
}

}  // namespace orv
