#include "Engine/ORVExtension.h"

#include "Common/ORVCommon.h"
#include "Common/ORVException.h"
#include "Common/ORVMiscUtils.h"
#include "Engine/ORVCollections.h"
#include "Engine/ORVDescriptor.h"

namespace orv {

namespace {

bool IsBlankOrControl(char C) { return static_cast<unsigned char>(C) <= ' '; }

std::string Trim(const std::string& S) {
    std::size_t First = 0, Last = S.size();
    while (First < Last && IsBlankOrControl(S[First])) ++First;
    while (Last > First && IsBlankOrControl(S[Last - 1])) --Last;
    return S.substr(First, Last - First);
}

}  // namespace

TORVExtension::TORVExtension(const std::string& LocalID) : LocalID_(LocalID) {}

std::string ORV_CALL TORVExtension::GetID() {
    TExceptionBuilder::Check(Descriptor_ != nullptr);
    return Descriptor_->GetID() + "." + LocalID_;
}

Ref<IORVDescriptor> ORV_CALL TORVExtension::GetDescriptor() {
    TExceptionBuilder::Check(Descriptor_ != nullptr);
    return Ref<IORVDescriptor>(Descriptor_);
}

void TORVExtension::SetPoints(const std::string& Text) {
    const TArgList Args{GetID()};
    const std::string Message = FormatArgs(LoadMessage(SExtensionWithoutPoints), Args.Data(), Args.High());
    TExceptionBuilder::CheckNotEmpty(Text, Message);
    TStringDynArray Items = TStringUtils::Split(Text, ',');
    const std::string Prefix = Descriptor_->GetID() + ".";
    for (std::string& Item : Items) {
        Item = Trim(Item);
        if (Item.find('.') == std::string::npos) Item = Prefix + Item;
    }
    Points_ = std::move(Items);
}

Ref<IORVExtensionPoints> ORV_CALL TORVExtension::GetExtensionPoints() {
    auto* Target = new TORVExtensionPoints(false);
    Ref<IORVExtensionPoints> Result(Target);
    if (Points_.empty()) return Result;
    Ref<IORVDescriptor> Descriptor = GetDescriptor();
    Ref<IORVRegistry> Registry = Descriptor->GetRegistry();
    TExceptionBuilder::Check(static_cast<bool>(Registry));
    for (const std::string& PointID : Points_) {
        // Asked for each entry: the registry hands out its cached union.
        Ref<IORVExtensionPoint> Point = Registry->GetExtensionPoints()->Find(PointID);
        if (!Point) {
            const std::string ConfigFile = Descriptor->GetConfigFile();
            Log::ErrorFmt(SExtensionPointMissing, TArgList{ConfigFile, PointID});
            TExceptionBuilder::RaiseErrorFmt(LoadMessage(SExtensionPointMissing), TArgList{ConfigFile, PointID});
        }
        Target->Add(Point);
    }
    return Result;
}

TORVFactory ORV_CALL TORVExtension::GetFactory() {
    Ref<IORVDescriptor> Descriptor = GetDescriptor();
    void* Address = TConverter::ToDescriptor(Descriptor)->FindFactoryMethod(FactoryMethod_);
    return reinterpret_cast<TORVFactory>(Address);
}

}  // namespace orv
