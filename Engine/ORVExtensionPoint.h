// TORVExtensionPoint: a named socket that a plug-in offers, with the Required and Unique rules
// that the registry checks after linking.
#ifndef ORV_EXTENSION_POINT_H
#define ORV_EXTENSION_POINT_H

#include "Engine/ORVAdatable.h"

#include <string>
#include <utility>

namespace orv {

class TORVExtensions;

// Filled by the manifest reader: create it, call SetDescriptor at once, set the local id, name and
// flags, and add it to the descriptor's extension-point collection.
class TORVExtensionPoint : public TAdatableObject<IORVExtensionPoint> {
public:
    // No descriptor, empty local id and name, both flags false, an empty hashed collection.
    TORVExtensionPoint();
    // Lets go of the extensions still linked to it (see UnlinkAll).
    ~TORVExtensionPoint() override;

    // --- IORVExtensionPoint ---
    // "<plug-in id>.<local id>", the plug-in id asked from the descriptor on every call.
    // EORVException "Condition is not valid" when no descriptor is set.
    std::string ORV_CALL GetID() override;
    std::string ORV_CALL GetName() override { return Name_; }
    // The extensions linked to this point (the collection itself, a new reference).
    Ref<IORVExtensions> ORV_CALL GetExtensions() override;
    // The declaring plug-in (a new reference); EORVException "Condition is not valid" when none is set.
    Ref<IORVDescriptor> ORV_CALL GetDescriptor() override;

    // --- fields written by the manifest reader ---
    // Stores the declaring plug-in without taking a reference; nil when the plug-in goes (then
    // GetID and GetDescriptor raise).
    void SetDescriptor(TORVDescriptor* Descriptor) { Descriptor_ = Descriptor; }
    // The declaring plug-in without a reference; nil when none is set.
    TORVDescriptor* GetDescriptorObject() const { return Descriptor_; }
    // The id without the plug-in prefix (never contains ".").
    void SetLocalID(std::string Value) { LocalID_ = std::move(Value); }
    const std::string& GetLocalID() const { return LocalID_; }
    void SetName(std::string Value) { Name_ = std::move(Value); }
    // At least one extension must plug in.
    void SetRequired(bool Value) { Required_ = Value; }
    bool IsRequired() const { return Required_; }
    // Where the manifest declares the point (1-based line and column; 0 when unknown).
    void SetPosition(int32_t Line, int32_t Column) {
        Line_ = Line;
        Column_ = Column;
    }
    int32_t GetLine() const { return Line_; }
    int32_t GetColumn() const { return Column_; }
    // At most one extension may plug in.
    void SetUnique(bool Value) { Unique_ = Value; }
    bool IsUnique() const { return Unique_; }

    // --- links, made and undone by the registry (TORVExtension::LinkTo) ---
    // The linked extensions as their collection object.
    TORVExtensions& LinkedExtensions() const { return *Extensions_; }
    // Empties the collection of linked extensions and tells each extension that the link is gone.
    void UnlinkAll();

private:
    TORVDescriptor* Descriptor_ = nullptr;  // weak
    Ref<TORVExtensions> Extensions_;
    std::string LocalID_;
    std::string Name_;
    bool Unique_ = false;
    bool Required_ = false;
    int32_t Line_ = 0;
    int32_t Column_ = 0;
};

}  // namespace orv

#endif
