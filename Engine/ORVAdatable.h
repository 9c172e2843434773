// TAdatableInterfacedObject, the reference-counted base of every model class, and TConverter,
// which turns a model interface back into the object behind it.
#ifndef ORV_ADATABLE_H
#define ORV_ADATABLE_H

#include <ORVInterface.h>

#include <atomic>
#include <cstdint>

namespace orv {

class TORVDescriptor;
class TORVDescriptors;
class TORVRegistry;
class TORVExtensions;
class TORVExtension;
class TORVExtensionPoints;
class TORVExtensionPoint;

// A reference-counted object that hands out itself through IAdatable. The count is zero after
// construction; the object deletes itself when the last reference is released. Every live
// instance is counted process-wide (LiveObjectCount), so that tests can prove the counts balance.
class TAdatableInterfacedObject : public IAdatable {
public:
    TAdatableInterfacedObject(const TAdatableInterfacedObject&) = delete;
    TAdatableInterfacedObject& operator=(const TAdatableInterfacedObject&) = delete;

    // Answers IInterface and IAdatable, then whatever FindInterface of the class answers.
    int32_t ORV_CALL QueryInterface(const TGUID& Iid, void** Obj) override;
    int32_t ORV_CALL AddRef() override;
    int32_t ORV_CALL Release() override;
    // This object as a TAdatableInterfacedObject*; no reference is added.
    void* ORV_CALL GetImplementor() override;

    // The number of model objects alive in the process.
    static int64_t LiveObjectCount();

protected:
    TAdatableInterfacedObject();
    virtual ~TAdatableInterfacedObject();
    // The interface Iid of this object without a reference added, nullptr when unsupported.
    virtual IInterface* FindInterface(const TGUID& Iid);

private:
    std::atomic<int32_t> RefCount_{0};
};

// Joins the counted base with the model interface Intf: the three base operations of Intf are
// those of TAdatableInterfacedObject, and QueryInterface answers Intf::IID as well.
template <class Intf>
class TAdatableObject : public TAdatableInterfacedObject, public Intf {
public:
    int32_t ORV_CALL QueryInterface(const TGUID& Iid, void** Obj) override {
        return TAdatableInterfacedObject::QueryInterface(Iid, Obj);
    }
    int32_t ORV_CALL AddRef() override { return TAdatableInterfacedObject::AddRef(); }
    int32_t ORV_CALL Release() override { return TAdatableInterfacedObject::Release(); }

protected:
    TAdatableObject() = default;
    IInterface* FindInterface(const TGUID& Iid) override {
        if (Iid == Intf::IID) return static_cast<Intf*>(this);
        return nullptr;
    }
};

// Class operations that return the object behind a model interface, without a reference: the
// caller keeps holding the interface while it uses the object. Each raises EORVException
// "Argument cannot be null" for nil (or when the adapter yields no object), EIntfCastError when
// the object does not implement IAdatable, and EORVException "Condition is not valid" when the
// object is not of the requested class.
class TConverter {
public:
    TConverter() = delete;

    static TORVDescriptor* ToDescriptor(IORVDescriptor* Intf);
    static TORVDescriptors* ToDescriptors(IORVDescriptors* Intf);
    static TORVRegistry* ToRegistry(IORVRegistry* Intf);
    static TORVExtensions* ToExtensions(IORVExtensions* Intf);
    static TORVExtension* ToExtension(IORVExtension* Intf);
    static TORVExtensionPoints* ToExtensionPoints(IORVExtensionPoints* Intf);
    static TORVExtensionPoint* ToExtensionPoint(IORVExtensionPoint* Intf);

    static TORVDescriptor* ToDescriptor(const Ref<IORVDescriptor>& R) { return ToDescriptor(R.Get()); }
    static TORVDescriptors* ToDescriptors(const Ref<IORVDescriptors>& R) { return ToDescriptors(R.Get()); }
    static TORVRegistry* ToRegistry(const Ref<IORVRegistry>& R) { return ToRegistry(R.Get()); }
    static TORVExtensions* ToExtensions(const Ref<IORVExtensions>& R) { return ToExtensions(R.Get()); }
    static TORVExtension* ToExtension(const Ref<IORVExtension>& R) { return ToExtension(R.Get()); }
    static TORVExtensionPoints* ToExtensionPoints(const Ref<IORVExtensionPoints>& R) {
        return ToExtensionPoints(R.Get());
    }
    static TORVExtensionPoint* ToExtensionPoint(const Ref<IORVExtensionPoint>& R) {
        return ToExtensionPoint(R.Get());
    }
};

}  // namespace orv

#endif
