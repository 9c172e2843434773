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

// Drops the registry's unions when it goes out of scope.
class TClearCachesOnExit {
public:
    explicit TClearCachesOnExit(TORVRegistry& Registry) : Registry_(Registry) {}
    ~TClearCachesOnExit() { Registry_.ClearCaches(); }
    TClearCachesOnExit(const TClearCachesOnExit&) = delete;
    TClearCachesOnExit& operator=(const TClearCachesOnExit&) = delete;

private:
    TORVRegistry& Registry_;
};

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

Ref<IORVExtensionPoints> ORV_CALL TORVRegistry::GetExtensionPoints() { return ExtensionPointUnion(); }

Ref<TORVExtensionPoints> TORVRegistry::ExtensionPointUnion() {
    CheckParsed(Parsed_);
    if (!ExtensionPointCache_)
        ExtensionPointCache_ = BuildUnion<TORVExtensionPoints>(
            *Descriptors_, [](TORVDescriptor& D) -> TORVExtensionPoints& { return D.OwnExtensionPoints(); });
    return ExtensionPointCache_;
}

Ref<IORVDescriptors> ORV_CALL TORVRegistry::GetDescriptors() { return Descriptors_; }

TORVExtensionPoints& TORVRegistry::PointUnion() {
    if (!ExtensionPointCache_ || !Parsed_) GetExtensionPoints();
    return *ExtensionPointCache_;
}

Ref<IORVEnvironmentVariables> ORV_CALL TORVRegistry::GetEnvironmentVariables() {
    if (!EnvironmentVariables_) EnvironmentVariables_ = Ref<IORVEnvironmentVariables>(new TORVEnvironmentVariables());
    return EnvironmentVariables_;
}

// --- the engine's steps ----------------------------------------------------------------------

void TORVRegistry::Link() {
    for (int32_t I = 0; I < Descriptors_->GetCount(); ++I) Descriptors_->ItemAt(I)->SetRegistryOrder(++LastOrder_);
    Parsed_ = true;
    Resolve(true, true);
}

void TORVRegistry::AddAndLink(const std::vector<Ref<TORVDescriptor>>& Staged) {
    const bool WasResolved = Resolved_;
    for (const Ref<TORVDescriptor>& Descriptor : Staged) {
        NoteChanging(*Descriptor);
        Descriptors_->Add(Descriptor.Get());
        Descriptor->SetRegistryOrder(++LastOrder_);
    }
    std::vector<TLinkBatch::TMade> Made;
    try {
        ClearCaches();
        Parsed_ = true;
        Resolved_ = false;
        MadeLinks_ = &Made;
        Resolve(true, true);
        MadeLinks_ = nullptr;
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
        ClearCaches();
        Resolved_ = WasResolved;
        throw;
    }
}

void TORVRegistry::RemoveDescriptors(const std::vector<Ref<TORVDescriptor>>& Leaving) {
    TClearCachesOnExit ClearCachesOnExit(*this);
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

void TORVRegistry::Detach(TORVDescriptor& Descriptor) {
    NoteChanging(Descriptor);
    // The caller holds Descriptor: leaving the collection does not end its life.
    Descriptors_->Remove(Ref<IORVDescriptor>(&Descriptor));
    if (Descriptor.GetRegistryObject() == this) Descriptor.Detach();
}

void TORVRegistry::LinkChanged(TORVExtensionPoint& Point, TORVExtension& Extension, bool Made) {
    TORVDescriptor* ExtensionOwner = Extension.GetDescriptorObject();
    TORVDescriptor* PointOwner = Point.GetDescriptorObject();
    TORVRegistry* Registry = ExtensionOwner ? ExtensionOwner->GetRegistryObject() : nullptr;
    if (!Registry && PointOwner) Registry = PointOwner->GetRegistryObject();
    if (Registry && Registry->Recorder_) Registry->Recorder_->LinkChanged(Point, Extension, Made);
}

// --- linking ---------------------------------------------------------------------------------

bool TORVRegistry::Resolve(bool ResolveDescriptorsFirst, bool ResolveExtensions) {
    if (Resolved_) return true;
    if (ResolveDescriptorsFirst) ResolveDescriptors();
    if (ResolveExtensions) {
        TMonitorScope Step(mkLink, std::string());
        // The links made before a failure are entered before it travels on.
        TLinkBatch Batch;
        try {
            const int32_t Count = Descriptors_->GetCount();
            for (int32_t I = 0; I < Count; ++I) {
                TORVExtensions& Extensions = Descriptors_->ItemAt(I)->OwnExtensions();
                for (int32_t J = 0; J < Extensions.GetCount(); ++J) LinkExtension(*Extensions.ItemAt(J), Batch);
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

void TORVRegistry::LinkExtension(TORVExtension& Extension, TLinkBatch& Batch) {
    // Linked before: a named point that is missing now has gone with its plug-in since.
    const bool Relinking = Extension.WasLinked();
    // Every named point is looked up before the first link is made: a missing one leaves this
    // extension without links.
    FoundPoints_.clear();
    Extension.ForEachNamedPoint(PointUnion(), Relinking ? TMissingPoint::Warn : TMissingPoint::Report, Checks(),
                                [this](TORVExtensionPoint* Point) { FoundPoints_.push_back(Point); });
    Assert(Relinking || Checks().Collecting() || !FoundPoints_.empty(), AssertSites::ResolveExtensionPoints);
    Batch.Add(Extension, FoundPoints_);
    FoundPoints_.clear();
    Extension.SetLinked();
}

void TORVRegistry::Validate() {
    if (!Resolved_) {
        Log::Error(LoadMessage(SResolveBeforeValidate));
        TExceptionBuilder::RaiseError(LoadMessage(SResolveBeforeValidate));
    }
    TChecks& Findings = Checks();
    Ref<TORVExtensionPoints> Points = ExtensionPointUnion();
    const int32_t Count = Points->GetCount();
    for (int32_t I = 0; I < Count; ++I) {
        Ref<TORVExtensionPoint> Point(Points->ItemAt(I));
        Assert(static_cast<bool>(Point), AssertSites::ValidatePoint);
        TORVExtensions& Linked = Point->LinkedExtensions();
        const int32_t LinkedCount = Linked.GetCount();
        const bool Overfull = Point->IsUnique() && LinkedCount > 1;
        const bool Empty = Point->IsRequired() && LinkedCount == 0;
        if (!Overfull && !Empty) continue;
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
            for (int32_t J = 0; J < LinkedCount; ++J) F.Related.push_back(Linked.ItemAt(J)->GetID());
        } else {
            F.Entry = SRequiredPointEmpty;
        }
        Findings.Report(F);
    }

    // A plug-in id taken already: both descriptors stay, the later one wins lookups by id.
    std::unordered_map<std::string, TORVDescriptor*> First;
    const int32_t DescriptorCount = Descriptors_->GetCount();
    First.reserve(static_cast<std::size_t>(DescriptorCount));
    for (int32_t I = 0; I < DescriptorCount; ++I) {
        TORVDescriptor* Descriptor = Descriptors_->ItemAt(I);
        const auto Known = First.emplace(Descriptor->GetID(), Descriptor);
        if (Known.second) continue;
        const std::string Earlier = Known.first->second->GetConfigFile();
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
    ExtensionPointCache_ = nullptr;
    ExtensionCache_ = nullptr;
}

}  // namespace orv
