#include "Engine/ORVExtensionPoint.h"

#include "Common/ORVException.h"
#include "Engine/ORVCollections.h"

namespace orv {

TORVExtensionPoint::TORVExtensionPoint() : Extensions_(new TORVExtensions(true)) {}

std::string ORV_CALL TORVExtensionPoint::GetID() {
    TExceptionBuilder::Check(Descriptor_ != nullptr);
    return Descriptor_->GetID() + "." + LocalID_;
}

Ref<IORVDescriptor> ORV_CALL TORVExtensionPoint::GetDescriptor() {
    TExceptionBuilder::Check(Descriptor_ != nullptr);
    return Ref<IORVDescriptor>(Descriptor_);
}

}  // namespace orv
