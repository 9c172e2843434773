#include "Engine/ORVExtension.h"

#include "Common/ORVCommon.h"
#include "Common/ORVException.h"
#include "Common/ORVMiscUtils.h"
#include "Companion/TarnXMLTree.h"
#include "Companion/TarnXMLUtils.h"
#include "Engine/ORVChecks.h"
#include "Engine/ORVCollections.h"
#include "Engine/ORVDescriptor.h"
#include "Engine/ORVExtensionPoint.h"
#include "Engine/ORVRegistry.h"

#include <algorithm>

namespace orv {

namespace {

bool IsBlankOrControl(char C) { return static_cast<unsigned char>(C) <= ' '; }

void TrimInPlace(std::string& S) {
    std::size_t First = 0, Last = S.size();
    while (First < Last && IsBlankOrControl(S[First])) ++First;
    while (Last > First && IsBlankOrControl(S[Last - 1])) --Last;
    if (First > 0 || Last < S.size()) S = S.substr(First, Last - First);
}

}  // namespace

TORVExtension::TORVExtension(const std::string& LocalID) : LocalID_(LocalID) {}

void TORVExtension::BorrowTexts(const char* LocalID, const char* Name, const char* FactoryMethod) {
    if (LocalID) LocalID_.Borrow(LocalID);
    if (Name) Name_.Borrow(Name);
    if (FactoryMethod) FactoryMethod_.Borrow(FactoryMethod);
}

void TORVExtension::SetConfigElement(const Ref<IXMLDocument>& Document, uint32_t E) {
    if (ConfigDocument_ && ConfigDocument_.Get() != Document.Get()) {
        LocalID_.Keep();
        Name_.Keep();
        FactoryMethod_.Keep();
    }
    ConfigDocument_ = Document;
    ConfigElement_ = E;
}

std::string ORV_CALL TORVExtension::GetID() {
    TExceptionBuilder::Check(Descriptor_ != nullptr);
    return Descriptor_->GetID() + "." + LocalID_.Str();
}

bool TORVExtension::HasID(const std::string& ID) const {
    if (!Descriptor_) return false;
    const std::string& Plugin = Descriptor_->OwnID();
    return ID.size() == Plugin.size() + 1 + LocalID_.Size() && ID.compare(0, Plugin.size(), Plugin) == 0 &&
           ID[Plugin.size()] == '.' &&
           ID.compare(Plugin.size() + 1, std::string::npos, LocalID_.Data(), LocalID_.Size()) == 0;
}

Ref<IORVDescriptor> ORV_CALL TORVExtension::GetDescriptor() {
    TExceptionBuilder::Check(Descriptor_ != nullptr);
    return Ref<IORVDescriptor>(Descriptor_);
}

void TORVExtension::SetPoints(const std::string& Text) {
    const TArgList Args{GetID()};
    const std::string Message = FormatArgs(LoadMessage(SExtensionWithoutPoints), Args.Data(), Args.High());
    TExceptionBuilder::Check(TrySetPoints(Text), Message);
}

bool TORVExtension::TrySetPoints(const std::string& Text) {
    TExceptionBuilder::Check(Descriptor_ != nullptr);
    // Blanks alone name no point either: such a list is as missing as an empty one.
    TStringDynArray Items = TStringUtils::Split(Text, ',');
    if (Items.empty()) return false;
    std::string Prefix;  // made for the first name without a dot
    for (std::string& Item : Items) {
        TrimInPlace(Item);
        if (Item.find('.') != std::string::npos) continue;
        if (Prefix.empty()) Prefix = Descriptor_->GetID() + ".";
        Item.insert(0, Prefix);
    }
    Points_ = std::move(Items);
    return true;
}

Ref<IXMLNode> ORV_CALL TORVExtension::GetConfig() {
    // Made on the first request and kept: every caller gets the same node object.
    if (!Config_ && ConfigDocument_) Config_ = XMLNodeOf(ConfigDocument_.Get(), ConfigElement_);
    return Config_;
}

void TORVExtension::GetPosition(int32_t& Line, int32_t& Column) const {
    Line = Column = 0;
    if (Config_)
        XMLNodePosition(Config_.Get(), Line, Column);
    else if (const TXMLTree* Tree = ConfigDocument_ ? XMLTreeOf(ConfigDocument_.Get()) : nullptr)
        Tree->Position(ConfigElement_, Line, Column);
}

Ref<IORVExtensionPoints> ORV_CALL TORVExtension::GetExtensionPoints() {
    auto* Target = new TORVExtensionPoints(false);
    Ref<IORVExtensionPoints> Result(Target);
    if (Points_.empty()) return Result;
    // Held while the points are looked up.
    const Ref<IORVDescriptor> Descriptor = GetDescriptor();
    const Ref<TORVRegistry> Registry(Descriptor_->GetRegistryObject());
    TExceptionBuilder::Check(static_cast<bool>(Registry));
    std::vector<TORVExtensionPoint*> Found;
    FindNamedPoints(*Registry, WasLinked_ ? TMissingPoint::Pass : TMissingPoint::Report, EngineChecks(), Found);
    for (TORVExtensionPoint* Point : Found) Target->Add(Point);
    return Result;
}

bool TORVExtension::FindNamedPoints(TORVRegistry& Registry, TMissingPoint Missing, TChecks& Checks,
                                    std::vector<TORVExtensionPoint*>& Found) {
    const std::size_t First = Found.size();
    bool Complete = true;
    for (const std::string& PointID : Points_) {
        TORVExtensionPoint* Point = Registry.FindPoint(PointID);
        if (!Point) {
            MissingPoint(PointID, Missing, Checks);
            Complete = false;
        } else if (std::find(Found.begin() + static_cast<std::ptrdiff_t>(First), Found.end(), Point) == Found.end()) {
            Found.push_back(Point);
        }
    }
    return Complete;
}

void TORVExtension::MissingPoint(const std::string& PointID, TMissingPoint Missing, TChecks& Checks) {
    if (Missing == TMissingPoint::Pass) return;
    if (Missing == TMissingPoint::Warn) {
        Log::Warn("Extension [" + GetID() + "] stays unlinked from extension point [" + PointID +
                  "]: no plug-in in the registry declares it any more");
        return;
    }
    TFinding F(Rules::UnknownExtensionPoint);
    F.Reaction = TEngineReaction::LogAndRaise;
    F.File = Descriptor_->GetConfigFile();
    GetPosition(F.Line, F.Column);
    F.PluginID = Descriptor_->GetID();
    F.Subject = GetID();
    F.Entry = SExtensionPointMissing;
    F.Args = {F.File, PointID};
    Checks.Report(F);
}

bool TORVExtension::RecordLink(TORVExtensionPoint& Point) {
    if (std::find(LinkedPoints_.begin(), LinkedPoints_.end(), &Point) != LinkedPoints_.end()) return false;
    if (LinkedPoints_.empty()) LinkedPoints_.reserve(Points_.size());
    LinkedPoints_.push_back(&Point);
    return true;
}

void TORVExtension::UnlinkAll() {
    // The caller holds this extension, so leaving the points' collections cannot end its life.
    std::vector<TORVExtensionPoint*> Points;
    Points.swap(LinkedPoints_);
    for (TORVExtensionPoint* Point : Points) {
        Point->LinkedExtensions().Remove(Ref<IORVExtension>(this));
        TORVRegistry::LinkChanged(*Point, *this, false);
    }
}

void TORVExtension::ForgetPoint(const TORVExtensionPoint* Point) {
    LinkedPoints_.erase(std::remove(LinkedPoints_.begin(), LinkedPoints_.end(), Point), LinkedPoints_.end());
}

TORVFactory ORV_CALL TORVExtension::GetFactory() {
    // Held while its code may run.
    const Ref<IORVDescriptor> Descriptor = GetDescriptor();
    void* Address = Descriptor_->FindFactoryMethod(FactoryMethod_.Str());
    return reinterpret_cast<TORVFactory>(Address);
}

}  // namespace orv
