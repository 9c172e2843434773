#include "Engine/ORVRegistry.h"

#include "Common/ORVCommon.h"
#include "Common/ORVException.h"
#include "Engine/ORVCollections.h"
#include "Engine/ORVDescriptor.h"
#include "Engine/ORVEnvironmentVariables.h"
#include "Engine/ORVExtensionPoint.h"

namespace orv {

namespace {

void CheckParsed(bool Parsed) {
    if (!Parsed) TExceptionBuilder::RaiseError(LoadMessage(SRegistryNotParsed));
}

// Adds the items of each descriptor's own collection (Select picks it) to Union, in order.
template <class UnionClass, class Intf, class Selector>
Ref<Intf> BuildUnion(const Ref<IORVDescriptors>& Descriptors, Selector Select) {
    Ref<Intf> Result(new UnionClass(true));
    UnionClass* Union = static_cast<UnionClass*>(Result.Get());
    const int32_t Count = Descriptors->GetCount();
    for (int32_t I = 0; I < Count; ++I) {
        auto Own = Select(Descriptors->GetItem(I));
        const int32_t OwnCount = Own->GetCount();
        for (int32_t J = 0; J < OwnCount; ++J) Union->Add(Own->GetItem(J));
    }
    return Result;
}

}  // namespace

TORVRegistry::TORVRegistry() : Descriptors_(new TORVDescriptors()) {}

TORVRegistry::~TORVRegistry() {
    // The unions first: the descriptors hold the points and extensions as well.
    ExtensionPointCache_ = nullptr;
    ExtensionCache_ = nullptr;
    Descriptors_ = nullptr;
    EnvironmentVariables_ = nullptr;
}

Ref<IORVExtensions> ORV_CALL TORVRegistry::GetExtensions() {
    CheckParsed(Parsed_);
    if (!ExtensionCache_)
        ExtensionCache_ = BuildUnion<TORVExtensions, IORVExtensions>(
            Descriptors_, [](const Ref<IORVDescriptor>& D) { return D->GetExtensions(); });
    return ExtensionCache_;
}

Ref<IORVExtensionPoints> ORV_CALL TORVRegistry::GetExtensionPoints() {
    CheckParsed(Parsed_);
    if (!ExtensionPointCache_)
        ExtensionPointCache_ = BuildUnion<TORVExtensionPoints, IORVExtensionPoints>(
            Descriptors_, [](const Ref<IORVDescriptor>& D) { return D->GetExtensionPoints(); });
    return ExtensionPointCache_;
}

Ref<IORVEnvironmentVariables> ORV_CALL TORVRegistry::GetEnvironmentVariables() {
    if (!EnvironmentVariables_) EnvironmentVariables_ = Ref<IORVEnvironmentVariables>(new TORVEnvironmentVariables());
    return EnvironmentVariables_;
}

bool TORVRegistry::Resolve(bool ResolveDescriptorsFirst, bool ResolveExtensions) {
    if (Resolved_) return true;
    if (ResolveDescriptorsFirst) ResolveDescriptors();
    if (ResolveExtensions) {
        const int32_t Count = Descriptors_->GetCount();
        for (int32_t I = 0; I < Count; ++I) ResolveDescriptor(Descriptors_->GetItem(I));
    }
    Resolved_ = true;
    Validate();
    return true;
}

void TORVRegistry::ResolveDescriptor(const Ref<IORVDescriptor>& Descriptor) {
    TExceptionBuilder::CheckNotNil(Descriptor);
    Ref<IORVExtensions> Extensions = Descriptor->GetExtensions();
    const int32_t Count = Extensions->GetCount();
    for (int32_t I = 0; I < Count; ++I) ResolveExtension(Extensions->GetItem(I));
}

void TORVRegistry::ResolveExtension(const Ref<IORVExtension>& Extension) {
    TExceptionBuilder::CheckNotNil(Extension);
    Ref<IORVExtensionPoints> Points = Extension->GetExtensionPoints();
    const int32_t Count = Points->GetCount();
    Assert(Count > 0, AssertSites::ResolveExtensionPoints);
    for (int32_t I = 0; I < Count; ++I) {
        TORVExtensionPoint* Point = TConverter::ToExtensionPoint(Points->GetItem(I));
        Ref<IORVExtensions> Linked = Point->GetExtensions();
        Assert(static_cast<bool>(Linked), AssertSites::ResolveExtensionTarget);
        TConverter::ToExtensions(Linked)->Add(Extension);
    }
}

void TORVRegistry::Validate() {
    if (!Resolved_) {
        Log::Error(LoadMessage(SResolveBeforeValidate));
        TExceptionBuilder::RaiseError(LoadMessage(SResolveBeforeValidate));
    }
    Ref<IORVExtensionPoints> Points = GetExtensionPoints();
    const int32_t Count = Points->GetCount();
    for (int32_t I = 0; I < Count; ++I) {
        Ref<IORVExtensionPoint> Item = Points->GetItem(I);
        Assert(static_cast<bool>(Item), AssertSites::ValidatePoint);
        TORVExtensionPoint* Point = TConverter::ToExtensionPoint(Item);
        const int32_t Linked = Point->GetExtensions()->GetCount();
        if (Point->IsUnique() && Linked > 1) Log::ErrorFmt(SUniquePointOverfull, TArgList{Point->GetID(), Linked});
        if (Point->IsRequired() && Linked == 0) Log::ErrorFmt(SRequiredPointEmpty, TArgList{Point->GetID()});
    }
}

void TORVRegistry::StartPlugins() {
    const int32_t Count = Descriptors_->GetCount();
    for (int32_t I = 0; I < Count; ++I) {
        Ref<IORVDescriptor> Item = Descriptors_->GetItem(I);
        TORVDescriptor* Descriptor = TConverter::ToDescriptor(Item);
        if (Descriptor->GetInitialize()) Descriptor->StartPlugin();
    }
}

void TORVRegistry::StopPlugins() {
    const int32_t Count = Descriptors_->GetCount();
    for (int32_t I = 0; I < Count; ++I) {
        Ref<IORVDescriptor> Item = Descriptors_->GetItem(I);
        TConverter::ToDescriptor(Item)->StopPlugin();
    }
}

void TORVRegistry::ClearCaches() {
    ExtensionPointCache_ = nullptr;
    ExtensionCache_ = nullptr;
}

}  // namespace orv
