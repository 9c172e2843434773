#include "Engine/ORVExtensionPoint.h"

#include "Common/ORVException.h"
#include "Engine/ORVCollections.h"
#include "Engine/ORVDescriptor.h"
#include "Engine/ORVExtension.h"
#include "Engine/ORVRegistry.h"

namespace orv {

TORVExtensionPoint::TORVExtensionPoint() : Extensions_(new TORVExtensions(true)) {}

// An extension that outlives this point must not keep a link to it.
TORVExtensionPoint::~TORVExtensionPoint() { UnlinkAll(); }

std::string ORV_CALL TORVExtensionPoint::GetID() {
    TExceptionBuilder::Check(Descriptor_ != nullptr);
    return Descriptor_->GetID() + "." + LocalID_;
}

Ref<IORVExtensions> ORV_CALL TORVExtensionPoint::GetExtensions() { return Extensions_; }

Ref<IORVDescriptor> ORV_CALL TORVExtensionPoint::GetDescriptor() {
    TExceptionBuilder::Check(Descriptor_ != nullptr);
    return Ref<IORVDescriptor>(Descriptor_);
}

void TORVExtensionPoint::UnlinkAll() {
    // Each extension forgets the link first: emptying the collection may release the last
    // reference to one of them.
    const int32_t Count = Extensions_->GetCount();
    for (int32_t I = 0; I < Count; ++I) {
        TORVExtension* Extension = Extensions_->ItemAt(I);
        Extension->ForgetPoint(this);
        TORVRegistry::LinkChanged(*this, *Extension, false);
    }
    Extensions_->Clear();
}

}  // namespace orv
