#include "Engine/ORVRegistry.h"

#include "Common/ORVCommon.h"
#include "Common/ORVException.h"
#include "Engine/ORVChecks.h"
#include "Engine/ORVCollections.h"
#include "Engine/ORVDescriptor.h"
#include "Engine/ORVEnvironmentVariables.h"
#include "Engine/ORVExtension.h"
#include "Engine/ORVExtensionPoint.h"
#include "Engine/ORVMonitor.h"
#include "Engine/ORVRegistryEvents.h"

#include <algorithm>
#include <exception>
#include <unordered_map>
#include <unordered_set>

namespace orv {

namespace {

void CheckParsed(bool Parsed) {
    if (!Parsed) TExceptionBuilder::RaiseError(LoadMessage(SRegistryNotParsed));
}

// A new hashed union of the items of each descriptor's own collection (Select picks it), in order.
// The items of distinct descriptors are distinct objects: only a descriptor held twice needs to be
// skipped, and no item is looked for before it is added.
template <class UnionClass, class Selector>
Ref<UnionClass> BuildUnion(TORVDescriptors& Descriptors, Selector Select) {
    Ref<UnionClass> Union(new UnionClass(true));
    const int32_t Count = Descriptors.GetCount();
    std::size_t Items = 0;
    for (int32_t I = 0; I < Count; ++I) Items += static_cast<std::size_t>(Select(*Descriptors.ItemAt(I)).GetCount());
    Union->Reserve(Items);
    std::unordered_set<TORVDescriptor*> Seen;
    Seen.reserve(static_cast<std::size_t>(Count));
    for (int32_t I = 0; I < Count; ++I) {
        TORVDescriptor* Descriptor = Descriptors.ItemAt(I);
        if (!Seen.insert(Descriptor).second) continue;
        auto& Own = Select(*Descriptor);
        const int32_t OwnCount = Own.GetCount();
        for (int32_t J = 0; J < OwnCount; ++J) {
            auto* Item = Own.ItemAt(J);
            Union->AppendNew(Item, Item->GetID());
        }
    }
    return Union;
}

// The descriptors of the collection, held, so that a pass survives plug-in code that changes the
// collection.
std::vector<Ref<TORVDescriptor>> Snapshot(TORVDescriptors& Descriptors) {
    std::vector<Ref<TORVDescriptor>> Result;
    const int32_t Count = Descriptors.GetCount();
    Result.reserve(static_cast<std::size_t>(Count));
    for (int32_t I = 0; I < Count; ++I) Result.emplace_back(Descriptors.ItemAt(I));
    return Result;
}

// Items of the registry's descriptors (points or extensions, Own picks the collection) in registry
// order: by their descriptors' places, then as each descriptor lists them; each once.
template <class Model, class Selector>
std::vector<Model*> InRegistryOrder(const std::vector<Model*>& Items, Selector Own) {
    const std::unordered_set<Model*> Wanted(Items.begin(), Items.end());
    std::vector<TORVDescriptor*> Owners;
    Owners.reserve(Wanted.size());
    for (Model* Item : Wanted) Owners.push_back(Item->GetDescriptorObject());
    std::sort(Owners.begin(), Owners.end(), ComesBefore);
    Owners.erase(std::unique(Owners.begin(), Owners.end()), Owners.end());
    std::vector<Model*> Result;
    Result.reserve(Wanted.size());
    for (TORVDescriptor* Owner : Owners) {
        auto& List = Own(*Owner);
        const int32_t Count = List.GetCount();
        for (int32_t I = 0; I < Count; ++I)
            if (Wanted.count(List.ItemAt(I))) Result.push_back(List.ItemAt(I));
    }
    return Result;
}

TORVExtensions& OwnExtensionsOf(TORVDescriptor& Descriptor) { return Descriptor.OwnExtensions(); }
TORVExtensionPoints& OwnPointsOf(TORVDescriptor& Descriptor) { return Descriptor.OwnExtensionPoints(); }

}  // namespace

TORVRegistry::TORVRegistry() : Descriptors_(new TORVDescriptors()) {}

TORVRegistry::~TORVRegistry() {
    // The unions first: the descriptors hold the points and extensions as well.
    ExtensionPointCache_ = nullptr;
    ExtensionCache_ = nullptr;
    // Descriptors that others still hold must not reach back to this registry.
    const int32_t Count = Descriptors_->GetCount();
    for (int32_t I = 0; I < Count; ++I) {
        TORVDescriptor* Descriptor = Descriptors_->ItemAt(I);
        if (Descriptor->GetRegistryObject() == this) Descriptor->Detach();
    }
    Descriptors_ = nullptr;
    EnvironmentVariables_ = nullptr;
    Retained_.clear();
}

bool TORVRegistry::Holds(IORVDescriptor* Descriptor) const { return Descriptors_->Holds(Descriptor); }

Ref<IORVExtensions> ORV_CALL TORVRegistry::GetExtensions() {
    CheckParsed(Parsed_);
    if (!ExtensionCache_)
        ExtensionCache_ = BuildUnion<TORVExtensions>(
            *Descriptors_, [](TORVDescriptor& D) -> TORVExtensions& { return D.OwnExtensions(); });
    return ExtensionCache_;
}

Ref<IORVExtensionPoints> ORV_CALL TORVRegistry::GetExtensionPoints() {
    CheckParsed(Parsed_);
    if (!ExtensionPointCache_)
        ExtensionPointCache_ = BuildUnion<TORVExtensionPoints>(
            *Descriptors_, [](TORVDescriptor& D) -> TORVExtensionPoints& { return D.OwnExtensionPoints(); });
    return ExtensionPointCache_;
}

Ref<IORVDescriptors> ORV_CALL TORVRegistry::GetDescriptors() { return Descriptors_; }

Ref<IORVEnvironmentVariables> ORV_CALL TORVRegistry::GetEnvironmentVariables() {
    if (!EnvironmentVariables_) EnvironmentVariables_ = Ref<IORVEnvironmentVariables>(new TORVEnvironmentVariables());
    return EnvironmentVariables_;
}

// --- the engine's steps ----------------------------------------------------------------------

void TORVRegistry::Link() {
    Parsed_ = true;
    Resolve(true, true);
}

void TORVRegistry::AddAndLink(const std::vector<Ref<TORVDescriptor>>& Staged) {
    const bool WasResolved = Resolved_;
    const TChangeState Saved = Changes_;
    // The extensions linked to a point whose id a staged point takes over link to the staged one
    // as well. The index is made before the staged descriptors enter it.
    std::vector<TORVExtension*> TakenOver;
    for (const Ref<TORVDescriptor>& Descriptor : Staged) {
        TORVExtensionPoints& Points = Descriptor->OwnExtensionPoints();
        for (int32_t I = 0; I < Points.GetCount(); ++I) {
            const TORVExtensionPoint* Previous = FindPoint(Points.ItemAt(I)->GetID());
            if (!Previous) continue;
            TORVExtensions& Linked = Previous->LinkedExtensions();
            for (int32_t J = 0; J < Linked.GetCount(); ++J) TakenOver.push_back(Linked.ItemAt(J));
        }
    }
    std::vector<TLinkBatch::TMade> Made;
    try {
        for (const Ref<TORVDescriptor>& Descriptor : Staged) Enter(*Descriptor);
        Parsed_ = true;
        Resolved_ = false;
        MadeLinks_ = &Made;
        std::vector<TORVExtensionPoint*> Check;
        {
            TMonitorScope Step(mkLink, std::string());
            Check = Relink(Staged, TakenOver);
        }
        MadeLinks_ = nullptr;
        Resolved_ = true;
        TMonitorScope Step(mkValidate, std::string());
        // Only a point that is new, gained or lost a link, or failed before can fail now.
        for (const TLinkBatch::TMade& Link : Made) Check.push_back(Link.first);
        Check.insert(Check.end(), Changes_.Touched.begin(), Changes_.Touched.end());
        Check.insert(Check.end(), Changes_.Failing.begin(), Changes_.Failing.end());
        ReportFindings(InRegistryOrder(Check, OwnPointsOf));
    } catch (...) {
        MadeLinks_ = nullptr;
        // The new links of the plug-ins that stay go first, the newest first; the staged plug-ins
        // then leave with all of theirs.
        std::unordered_set<TORVDescriptor*> Leaving;
        for (const Ref<TORVDescriptor>& Descriptor : Staged) Leaving.insert(Descriptor.Get());
        for (auto Link = Made.rbegin(); Link != Made.rend(); ++Link) {
            if (Leaving.count(Link->second->GetDescriptorObject())) continue;
            Link->first->LinkedExtensions().Remove(Ref<IORVExtension>(Link->second));
            Link->second->ForgetPoint(Link->first);
            LinkChanged(*Link->first, *Link->second, false);
        }
        for (const Ref<TORVDescriptor>& Descriptor : Staged) {
            UnlinkExtensions(*Descriptor);
            UnlinkPoints(*Descriptor, nullptr);
            Detach(*Descriptor);
        }
        Changes_ = Saved;
        Resolved_ = WasResolved;
        throw;
    }
}

std::vector<TORVExtensionPoint*> TORVRegistry::Relink(const std::vector<Ref<TORVDescriptor>>& Staged,
                                                      const std::vector<TORVExtension*>& TakenOver) {
    // Every other extension is linked to the point each of its names leads to, and linking it
    // again would change nothing and say nothing.
    std::vector<TORVExtension*> Candidates(Changes_.Unsettled.begin(), Changes_.Unsettled.end());
    Candidates.insert(Candidates.end(), TakenOver.begin(), TakenOver.end());
    std::vector<TORVExtensionPoint*> StagedPoints;
    for (const Ref<TORVDescriptor>& Descriptor : Staged) {
        TORVExtensions& Extensions = Descriptor->OwnExtensions();
        for (int32_t I = 0; I < Extensions.GetCount(); ++I) Candidates.push_back(Extensions.ItemAt(I));
        TORVExtensionPoints& Points = Descriptor->OwnExtensionPoints();
        for (int32_t I = 0; I < Points.GetCount(); ++I) StagedPoints.push_back(Points.ItemAt(I));
    }
    TLinkBatch Batch;
    try {
        for (TORVExtension* Extension : InRegistryOrder(Candidates, OwnExtensionsOf)) {
            if (LinkExtension(*Extension, Batch))
                Changes_.Unsettled.erase(Extension);
            else
                Changes_.Unsettled.insert(Extension);
        }
    } catch (...) {
        Batch.Enter(MadeLinks_);
        throw;
    }
    Batch.Enter(MadeLinks_);
    return StagedPoints;
}

void TORVRegistry::RemoveDescriptors(const std::vector<Ref<TORVDescriptor>>& Leaving) {
    std::exception_ptr FirstFailure;
    std::unordered_set<TORVDescriptor*> Going;
    Going.reserve(Leaving.size());
    for (const Ref<TORVDescriptor>& Descriptor : Leaving) Going.insert(Descriptor.Get());
    for (const Ref<TORVDescriptor>& Descriptor : Leaving) {
        // Plug-in code running during the walk (a Stop) may have dropped it already.
        if (!Descriptors_->Holds(Descriptor.Get())) continue;
        TORVDescriptor* Object = Descriptor.Get();
        UnlinkExtensions(*Object);
        try {
            Object->StopPlugin();
        } catch (...) {
            if (!FirstFailure) FirstFailure = std::current_exception();
            Retain(Descriptor);
        }
        // Only now: a provider still sees, while it stops, what plugs into its own points.
        UnlinkPoints(*Object, &Going);
        // Links that plug-in code made while it stopped (a load links anew) go as well.
        UnlinkExtensions(*Object);
        Detach(*Object);
    }
    if (FirstFailure) std::rethrow_exception(FirstFailure);
}

void TORVRegistry::UnlinkExtensions(TORVDescriptor& Descriptor) {
    TORVExtensions& Extensions = Descriptor.OwnExtensions();
    for (int32_t I = 0; I < Extensions.GetCount(); ++I) Extensions.ItemAt(I)->UnlinkAll();
}

void TORVRegistry::UnlinkPoints(TORVDescriptor& Descriptor, const std::unordered_set<TORVDescriptor*>* Leaving) {
    TORVExtensionPoints& Points = Descriptor.OwnExtensionPoints();
    for (int32_t I = 0; I < Points.GetCount(); ++I) {
        TORVExtensionPoint* Point = Points.ItemAt(I);
        if (Leaving) {
            TORVExtensions& Linked = Point->LinkedExtensions();
            for (int32_t J = 0; J < Linked.GetCount(); ++J) {
                TORVExtension* Extension = Linked.ItemAt(J);
                if (Leaving->count(Extension->GetDescriptorObject())) continue;
                Log::Warn("Extension [" + Extension->GetID() + "] loses its extension point [" + Point->GetID() +
                          "]: plug-in [" + Descriptor.GetID() + "] is unloaded");
            }
        }
        Point->UnlinkAll();
    }
}

void TORVRegistry::Enter(TORVDescriptor& Descriptor) {
    NoteChanging(Descriptor);
    const std::string ID = Descriptor.GetID();
    if (TORVDescriptor* Holder = Descriptors_->FindItem(ID)) {
        std::vector<TORVDescriptor*>& Sharing = Changes_.SharedIDs[ID];
        if (Sharing.empty()) Sharing.push_back(Holder);
        Sharing.push_back(&Descriptor);
    }
    Descriptors_->Add(&Descriptor);
    Descriptor.SetRegistryOrder(++LastOrder_);
    if (PointIndex_) {
        TORVExtensionPoints& Points = Descriptor.OwnExtensionPoints();
        for (int32_t I = 0; I < Points.GetCount(); ++I) {
            TORVExtensionPoint* Point = Points.ItemAt(I);
            PointIndex_->Add(Point->GetID(), reinterpret_cast<uintptr_t>(Point));
        }
    }
    if (Locations_) Locations_->emplace(TPathUtils::PathKey(Descriptor.OwnLocation()), &Descriptor);
    DropUnions();
}

void TORVRegistry::Detach(TORVDescriptor& Descriptor) {
    NoteChanging(Descriptor);
    if (Locations_) {
        auto Range = Locations_->equal_range(TPathUtils::PathKey(Descriptor.OwnLocation()));
        for (auto It = Range.first; It != Range.second; ++It)
            if (It->second == &Descriptor) {
                Locations_->erase(It);
                break;
            }
    }
    TORVExtensionPoints& Points = Descriptor.OwnExtensionPoints();
    for (int32_t I = 0; I < Points.GetCount(); ++I) {
        TORVExtensionPoint* Point = Points.ItemAt(I);
        if (PointIndex_) PointIndex_->RemoveValue(Point->GetID(), reinterpret_cast<uintptr_t>(Point));
        Changes_.Touched.erase(Point);
        auto& Failing = Changes_.Failing;
        Failing.erase(std::remove(Failing.begin(), Failing.end(), Point), Failing.end());
    }
    TORVExtensions& Extensions = Descriptor.OwnExtensions();
    for (int32_t I = 0; I < Extensions.GetCount(); ++I) Changes_.Unsettled.erase(Extensions.ItemAt(I));
    const auto Sharing = Changes_.SharedIDs.find(Descriptor.GetID());
    if (Sharing != Changes_.SharedIDs.end()) {
        auto& Holders = Sharing->second;
        Holders.erase(std::remove(Holders.begin(), Holders.end(), &Descriptor), Holders.end());
        if (Holders.size() < 2) Changes_.SharedIDs.erase(Sharing);
    }
    DropUnions();
    // The caller holds Descriptor: leaving the collection does not end its life.
    Descriptors_->Remove(Ref<IORVDescriptor>(&Descriptor));
    if (Descriptor.GetRegistryObject() == this) Descriptor.Detach();
}

TORVExtensionPoint* TORVRegistry::FindPoint(const std::string& ID) {
    CheckParsed(Parsed_);
    if (!PointIndex_) {
        auto Index = std::make_unique<TStrKeyHash>();
        std::size_t Count = 0;
        for (int32_t I = 0; I < Descriptors_->GetCount(); ++I)
            Count += static_cast<std::size_t>(Descriptors_->ItemAt(I)->OwnExtensionPoints().GetCount());
        Index->Reserve(Count);
        for (int32_t I = 0; I < Descriptors_->GetCount(); ++I) {
            TORVExtensionPoints& Points = Descriptors_->ItemAt(I)->OwnExtensionPoints();
            for (int32_t J = 0; J < Points.GetCount(); ++J) {
                TORVExtensionPoint* Point = Points.ItemAt(J);
                Index->Add(Point->GetID(), reinterpret_cast<uintptr_t>(Point));
            }
        }
        PointIndex_ = std::move(Index);
    }
    if (ID.empty()) return nullptr;
    const uintptr_t* Found = PointIndex_->FindNode(ID);
    return Found ? reinterpret_cast<TORVExtensionPoint*>(*Found) : nullptr;
}

void TORVRegistry::MakeLocations() {
    auto Made = std::make_unique<std::multimap<std::string, TORVDescriptor*>>();
    for (int32_t I = 0; I < Descriptors_->GetCount(); ++I) {
        TORVDescriptor* Descriptor = Descriptors_->ItemAt(I);
        Made->emplace(TPathUtils::PathKey(Descriptor->OwnLocation()), Descriptor);
    }
    Locations_ = std::move(Made);
}

std::vector<Ref<TORVDescriptor>> TORVRegistry::DescriptorsUnder(const TStringDynArray& Prefixes) {
    if (!Locations_) MakeLocations();
    std::vector<TORVDescriptor*> Found;
    for (const std::string& Prefix : Prefixes) {
        if (Prefix.empty()) continue;
        const std::string Key = TPathUtils::PathKey(Prefix);
        for (auto It = Locations_->lower_bound(Key); It != Locations_->end() && It->first.compare(0, Key.size(), Key) == 0;
             ++It)
            Found.push_back(It->second);
    }
    std::sort(Found.begin(), Found.end(), [](TORVDescriptor* A, TORVDescriptor* B) { return ComesBefore(B, A); });
    Found.erase(std::unique(Found.begin(), Found.end()), Found.end());
    return std::vector<Ref<TORVDescriptor>>(Found.begin(), Found.end());
}

TORVExtension* TORVRegistry::FindExtension(const std::string& ID) const {
    // The last one of that id wins, as in the union of extensions.
    for (int32_t I = Descriptors_->GetCount() - 1; I >= 0; --I) {
        TORVExtensions& Extensions = Descriptors_->ItemAt(I)->OwnExtensions();
        for (int32_t J = Extensions.GetCount() - 1; J >= 0; --J)
            if (Extensions.ItemAt(J)->HasID(ID)) return Extensions.ItemAt(J);
    }
    return nullptr;
}

void TORVRegistry::DropUnions() {
    ExtensionPointCache_ = nullptr;
    ExtensionCache_ = nullptr;
}

void TORVRegistry::LinkChanged(TORVExtensionPoint& Point, TORVExtension& Extension, bool Made) {
    TORVDescriptor* ExtensionOwner = Extension.GetDescriptorObject();
    TORVDescriptor* PointOwner = Point.GetDescriptorObject();
    TORVRegistry* Registry = ExtensionOwner ? ExtensionOwner->GetRegistryObject() : nullptr;
    if (!Registry && PointOwner) Registry = PointOwner->GetRegistryObject();
    if (Registry && Registry->Recorder_) Registry->Recorder_->LinkChanged(Point, Extension, Made);
    if (!Registry || Made) return;
    // An extension that lost a link has to be linked again; a point that lost one checked again.
    if (ExtensionOwner && ExtensionOwner->GetRegistryObject() == Registry) Registry->Changes_.Unsettled.insert(&Extension);
    if (PointOwner && PointOwner->GetRegistryObject() == Registry) Registry->Changes_.Touched.insert(&Point);
}

// --- linking ---------------------------------------------------------------------------------

bool TORVRegistry::Resolve(bool ResolveDescriptorsFirst, bool ResolveExtensions) {
    if (Resolved_) return true;
    if (ResolveDescriptorsFirst) ResolveDescriptors();
    // Everything is looked at: the change state starts afresh, and the descriptors are numbered
    // in collection order (a descriptor held twice keeps its first place).
    Changes_ = TChangeState();
    PointIndex_ = nullptr;
    // Made now, with everything else that walks the registry whole, rather than by the first unload.
    MakeLocations();
    Descriptors_->MakeIndex();
    const uint64_t Before = LastOrder_;
    const int32_t Count = Descriptors_->GetCount();
    for (int32_t I = 0; I < Count; ++I) {
        TORVDescriptor* Descriptor = Descriptors_->ItemAt(I);
        if (Descriptor->GetRegistryOrder() <= Before) Descriptor->SetRegistryOrder(++LastOrder_);
    }
    {
        TMonitorScope Step(mkLink, std::string());
        // The links made before a failure are entered before it travels on.
        TLinkBatch Batch;
        try {
            for (int32_t I = 0; I < Count; ++I) {
                TORVExtensions& Extensions = Descriptors_->ItemAt(I)->OwnExtensions();
                for (int32_t J = 0; J < Extensions.GetCount(); ++J) {
                    TORVExtension& Extension = *Extensions.ItemAt(J);
                    if (!ResolveExtensions || !LinkExtension(Extension, Batch))
                        Changes_.Unsettled.insert(&Extension);
                }
            }
        } catch (...) {
            Batch.Enter(MadeLinks_);
            throw;
        }
        Batch.Enter(MadeLinks_);
    }
    Resolved_ = true;
    TMonitorScope Step(mkValidate, std::string());
    Validate();
    return true;
}

void TORVRegistry::ResolveDescriptor(const Ref<IORVDescriptor>& Descriptor) {
    TExceptionBuilder::CheckNotNil(Descriptor);
    TORVExtensions& Extensions = TConverter::ToDescriptor(Descriptor)->OwnExtensions();
    TLinkBatch Batch;
    try {
        for (int32_t I = 0; I < Extensions.GetCount(); ++I) LinkExtension(*Extensions.ItemAt(I), Batch);
    } catch (...) {
        Batch.Enter();
        throw;
    }
    Batch.Enter();
}

void TORVRegistry::ResolveExtension(const Ref<IORVExtension>& Extension) {
    TExceptionBuilder::CheckNotNil(Extension);
    TLinkBatch Batch;
    LinkExtension(*TConverter::ToExtension(Extension), Batch);
    Batch.Enter();
}

bool TORVRegistry::LinkExtension(TORVExtension& Extension, TLinkBatch& Batch) {
    // Linked before: a named point that is missing now has gone with its plug-in since.
    const bool Relinking = Extension.WasLinked();
    // Every named point is looked up before the first link is made: a missing one leaves this
    // extension without links.
    std::vector<TORVExtensionPoint*> Found;
    const bool Complete = Extension.FindNamedPoints(*this, Relinking ? TMissingPoint::Warn : TMissingPoint::Report,
                                                    Checks(), Found);
    Assert(Relinking || Checks().Collecting() || !Found.empty(), AssertSites::ResolveExtensionPoints);
    Batch.Add(Extension, Found);
    Extension.SetLinked();
    return Complete;
}

void TORVRegistry::Validate() {
    if (!Resolved_) {
        Log::Error(LoadMessage(SResolveBeforeValidate));
        TExceptionBuilder::RaiseError(LoadMessage(SResolveBeforeValidate));
    }
    // Every point of every descriptor, in collection order (a descriptor held twice once).
    std::vector<TORVExtensionPoint*> Points;
    std::unordered_set<TORVDescriptor*> Seen;
    const int32_t Count = Descriptors_->GetCount();
    Seen.reserve(static_cast<std::size_t>(Count));
    for (int32_t I = 0; I < Count; ++I) {
        TORVDescriptor* Descriptor = Descriptors_->ItemAt(I);
        if (!Seen.insert(Descriptor).second) continue;
        TORVExtensionPoints& Own = Descriptor->OwnExtensionPoints();
        for (int32_t J = 0; J < Own.GetCount(); ++J) Points.push_back(Own.ItemAt(J));
    }
    // The plug-in ids held more than once, each with its descriptors in collection order.
    Changes_.SharedIDs.clear();
    std::unordered_map<std::string, TORVDescriptor*> First;
    First.reserve(static_cast<std::size_t>(Count));
    for (int32_t I = 0; I < Count; ++I) {
        TORVDescriptor* Descriptor = Descriptors_->ItemAt(I);
        const auto Known = First.emplace(Descriptor->GetID(), Descriptor);
        if (Known.second) continue;
        std::vector<TORVDescriptor*>& Sharing = Changes_.SharedIDs[Descriptor->GetID()];
        if (Sharing.empty()) Sharing.push_back(Known.first->second);
        Sharing.push_back(Descriptor);
    }
    ReportFindings(Points);
}

void TORVRegistry::ReportFindings(const std::vector<TORVExtensionPoint*>& Points) {
    TChecks& Findings = Checks();
    std::vector<TORVExtensionPoint*> Failing;
    for (TORVExtensionPoint* Point : Points) {
        Assert(Point != nullptr, AssertSites::ValidatePoint);
        TORVExtensions& Linked = Point->LinkedExtensions();
        const int32_t LinkedCount = Linked.GetCount();
        const bool Overfull = Point->IsUnique() && LinkedCount > 1;
        const bool Empty = Point->IsRequired() && LinkedCount == 0;
        if (!Overfull && !Empty) continue;
        Failing.push_back(Point);
        TFinding F(Overfull ? Rules::UniquePointOverfull : Rules::RequiredPointEmpty);
        if (TORVDescriptor* Owner = Point->GetDescriptorObject()) {
            F.File = Owner->GetConfigFile();
            F.PluginID = Owner->GetID();
        }
        F.Line = Point->GetLine();
        F.Column = Point->GetColumn();
        F.Subject = Point->GetID();
        F.Args = {F.Subject};
        if (Overfull) {
            F.Entry = SUniquePointOverfull;
            F.Args.emplace_back(LinkedCount);
            // Only a collecting reader shows them; the engine's line names the point alone.
            if (Findings.Collecting())
                for (int32_t J = 0; J < LinkedCount; ++J) F.Related.push_back(Linked.ItemAt(J)->GetID());
        } else {
            F.Entry = SRequiredPointEmpty;
        }
        Findings.Report(F);
    }
    Changes_.Failing = std::move(Failing);

    // A plug-in id taken already: both descriptors stay, the later one wins lookups by id.
    std::vector<std::pair<TORVDescriptor*, TORVDescriptor*>> Repeats;  // a later descriptor, the first of its id
    for (const auto& Sharing : Changes_.SharedIDs)
        for (std::size_t I = 1; I < Sharing.second.size(); ++I) Repeats.emplace_back(Sharing.second[I], Sharing.second[0]);
    std::stable_sort(Repeats.begin(), Repeats.end(), [](const auto& A, const auto& B) {
        return A.first->GetRegistryOrder() < B.first->GetRegistryOrder();
    });
    for (const auto& Repeat : Repeats) {
        TORVDescriptor* Descriptor = Repeat.first;
        const std::string Earlier = Repeat.second->GetConfigFile();
        TFinding F(Rules::DuplicatePluginID);
        F.File = Descriptor->GetConfigFile();
        F.Line = Descriptor->GetLine();
        F.Column = Descriptor->GetColumn();
        F.PluginID = Descriptor->GetID();
        F.Text = "Plug-in id [" + Descriptor->GetID() + "] of [" + F.File + "] is declared already in [" + Earlier +
                 "]: both are kept, lookups by id find the later one";
        F.Related = {Earlier};
        Findings.Report(F);
    }
    Changes_.Touched.clear();
}

TChecks& TORVRegistry::Checks() const { return Checks_ ? *Checks_ : EngineChecks(); }

// --- starting and stopping -------------------------------------------------------------------

void TORVRegistry::StartPlugins() {
    for (const Ref<TORVDescriptor>& Descriptor : Snapshot(*Descriptors_)) {
        // A Start before this one may have unloaded it.
        if (!Descriptors_->Holds(Descriptor.Get())) continue;
        if (Descriptor->GetInitialize()) Descriptor->StartPlugin();
    }
}

void TORVRegistry::StopStartedPlugins() {
    std::vector<Ref<TORVDescriptor>> Started;
    for (const Ref<TORVDescriptor>& Item : Snapshot(*Descriptors_))
        if (Item->GetStartOrder() != 0) Started.push_back(Item);
    std::sort(Started.begin(), Started.end(), [](const Ref<TORVDescriptor>& A, const Ref<TORVDescriptor>& B) {
        return A->GetStartOrder() > B->GetStartOrder();
    });
    for (const Ref<TORVDescriptor>& Item : Started) {
        try {
            Item->StopPlugin();
        } catch (...) {
            // Logged by the descriptor; the failure that ended the start goes on alone.
        }
    }
}

void TORVRegistry::StopPlugins() {
    std::exception_ptr FirstFailure;
    for (const Ref<TORVDescriptor>& Item : Snapshot(*Descriptors_)) {
        // A Stop before this one may have unloaded it (and stopped it on the way).
        if (!Descriptors_->Holds(Item.Get())) continue;
        try {
            Item->StopPlugin();
        } catch (...) {
            if (!FirstFailure) FirstFailure = std::current_exception();
        }
    }
    if (FirstFailure) std::rethrow_exception(FirstFailure);
}

void TORVRegistry::ClearCaches() {
    DropUnions();
    PointIndex_ = nullptr;
    Locations_ = nullptr;
}

}  // namespace orv
