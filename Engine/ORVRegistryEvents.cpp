#include "Engine/ORVRegistryEvents.h"

#include "Common/ORVCommon.h"
#include "Common/ORVException.h"
#include "Engine/ORVCollections.h"
#include "Engine/ORVDescriptor.h"
#include "Engine/ORVExtension.h"
#include "Engine/ORVExtensionPoint.h"
#include "Engine/ORVRegistry.h"

#include <algorithm>
#include <exception>
#include <unordered_set>

namespace orv {

namespace {

bool IsPresent(TORVRegistry& Registry, TORVDescriptor& Descriptor) {
    return Descriptor.GetRegistryObject() == &Registry && Registry.Holds(&Descriptor);
}

// Started as the delta counts it: a plug-in of a registry that is closed, or one that has left its
// registry, is not running whatever its flags say (one without a plug-in object is never stopped).
bool IsRunning(TORVRegistry& Registry, TORVDescriptor& Descriptor) {
    return IsPresent(Registry, Descriptor) && !Registry.IsClosed() && Descriptor.IsStarted() && !Descriptor.IsStopped();
}

// The place of Point among its plug-in's own points.
int32_t PlaceOf(TORVExtensionPoint* Point) {
    TORVDescriptor* Owner = Point->GetDescriptorObject();
    if (!Owner) return 0;
    TORVExtensionPoints& Own = Owner->OwnExtensionPoints();
    for (int32_t I = 0; I < Own.GetCount(); ++I)
        if (Own.ItemAt(I) == Point) return I;
    return 0;
}

class TRegistryDelta : public TAdatableObject<IORVRegistryDelta> {
public:
    TRegistryDelta(int32_t Kind, TORVRegistry& Registry)
        : Kind_(Kind),
          Registry_(&Registry),
          Added(new TORVDescriptors()),
          Removed(new TORVDescriptors()),
          Started(new TORVDescriptors()),
          Stopped(new TORVDescriptors()),
          Points(new TORVExtensionPoints(false)) {}

    int32_t ORV_CALL GetKind() override { return Kind_; }
    Ref<IORVDescriptors> ORV_CALL GetAdded() override { return Added; }
    Ref<IORVDescriptors> ORV_CALL GetRemoved() override { return Removed; }
    Ref<IORVDescriptors> ORV_CALL GetStarted() override { return Started; }
    Ref<IORVDescriptors> ORV_CALL GetStopped() override { return Stopped; }
    Ref<IORVExtensionPoints> ORV_CALL GetChangedPoints() override { return Points; }
    Ref<IORVExtensions> ORV_CALL GetLinked(int32_t Index) override { return At(Linked, Index); }
    Ref<IORVExtensions> ORV_CALL GetUnlinked(int32_t Index) override { return At(Unlinked, Index); }
    Ref<IORVRegistry> ORV_CALL GetRegistry() override { return Registry_; }

    bool Empty() const {
        return Added->GetCount() == 0 && Removed->GetCount() == 0 && Started->GetCount() == 0 &&
               Stopped->GetCount() == 0 && Points->GetCount() == 0;
    }
    // Appends Point with what joined and left it.
    void AddPoint(TORVExtensionPoint* Point, Ref<TORVExtensions> Joined, Ref<TORVExtensions> Left) {
        Points->AppendNew(Point, std::string());
        Linked.push_back(std::move(Joined));
        Unlinked.push_back(std::move(Left));
    }

    const int32_t Kind_;
    const Ref<IORVRegistry> Registry_;
    const Ref<TORVDescriptors> Added, Removed, Started, Stopped;
    const Ref<TORVExtensionPoints> Points;
    std::vector<Ref<TORVExtensions>> Linked, Unlinked;  // per point of Points

private:
    static Ref<IORVExtensions> At(const std::vector<Ref<TORVExtensions>>& List, int32_t Index) {
        if (Index < 0 || static_cast<std::size_t>(Index) >= List.size())
            TExceptionBuilder::RaiseError("No changed extension point at index " + std::to_string(Index) + " of " +
                                          std::to_string(List.size()));
        return List[static_cast<std::size_t>(Index)];
    }
};

}  // namespace

// --- TRegistryEventHub -------------------------------------------------------------------------

void TRegistryEventHub::AddListener(IORVRegistryListener* Listener) {
    TExceptionBuilder::CheckNotNil(Listener);
    Ref<IORVRegistryListener> Held(Listener);
    if (std::find(Listeners_.begin(), Listeners_.end(), Held) == Listeners_.end()) Listeners_.push_back(Held);
}

void TRegistryEventHub::RemoveListener(IORVRegistryListener* Listener) {
    auto It = std::find_if(Listeners_.begin(), Listeners_.end(),
                           [Listener](const Ref<IORVRegistryListener>& L) { return L.Get() == Listener; });
    if (It == Listeners_.end()) return;
    // Released after it has left the list: its release may run code that adds or removes listeners.
    Ref<IORVRegistryListener> Leaving = std::move(*It);
    Listeners_.erase(It);
}

void TRegistryEventHub::Deliver(const Ref<IORVRegistryDelta>& Delta) {
    Waiting_.push_back(Delta);
    if (Delivering_) return;
    Delivering_ = true;
    std::exception_ptr First;
    while (!Waiting_.empty()) {
        const Ref<IORVRegistryDelta> Next = std::move(Waiting_.front());
        Waiting_.pop_front();
        // The listeners of the moment, held: one may add or remove listeners, itself included.
        const std::vector<Ref<IORVRegistryListener>> Called = Listeners_;
        for (const Ref<IORVRegistryListener>& Listener : Called) {
            if (std::find(Listeners_.begin(), Listeners_.end(), Listener) == Listeners_.end()) continue;
            try {
                Listener->RegistryChanged(Next.Get());
            } catch (...) {
                if (!First) First = std::current_exception();
                try {
                    Log::Error("A registry listener raised: " + CurrentExceptionMessage());
                } catch (...) {
                    // A logger that raises as well: the listener's exception is the one to report.
                }
            }
        }
    }
    Delivering_ = false;
    if (First) std::rethrow_exception(First);
}

// --- TDeltaRecorder ----------------------------------------------------------------------------

TDeltaRecorder::TDeltaRecorder(TORVRegistry& Registry) : Registry_(Registry) {}

TDeltaRecorder::~TDeltaRecorder() = default;

void TDeltaRecorder::Touch(TORVDescriptor& Descriptor) {
    if (Before_.count(&Descriptor)) return;
    Before_.emplace(&Descriptor, TBefore{Ref<IORVDescriptor>(&Descriptor), IsPresent(Registry_, Descriptor),
                                         IsRunning(Registry_, Descriptor)});
}

void TDeltaRecorder::TouchAll() {
    TORVDescriptors& Descriptors = Registry_.OwnDescriptors();
    const int32_t Count = Descriptors.GetCount();
    for (int32_t I = 0; I < Count; ++I) Touch(*Descriptors.ItemAt(I));
}

void TDeltaRecorder::LinkChanged(TORVExtensionPoint& Point, TORVExtension& Extension, bool Made) {
    TORVDescriptor* PointOwner = Point.GetDescriptorObject();
    TORVDescriptor* ExtensionOwner = Extension.GetDescriptorObject();
    // Links run between plug-ins of this registry only; anything else is a plug-in that goes.
    if (!PointOwner || !ExtensionOwner || PointOwner->GetRegistryObject() != &Registry_ ||
        ExtensionOwner->GetRegistryObject() != &Registry_)
        return;
    Touch(*PointOwner);
    Touch(*ExtensionOwner);
    auto Known = PointAt_.emplace(&Point, Points_.size());
    if (Known.second) Points_.push_back(TPointChanges{Ref<IORVExtensionPoint>(&Point), {}, {}});
    TPointChanges& Changes = Points_[Known.first->second];
    const std::pair<const void*, const void*> Key(&Point, &Extension);
    if (Made) {
        LinkedAt_[Key] = Changes.Linked.size();
        Changes.Linked.emplace_back(&Extension);
        return;
    }
    // A link made during the call and undone again changes nothing.
    auto Linked = LinkedAt_.find(Key);
    if (Linked != LinkedAt_.end()) {
        Changes.Linked[Linked->second] = nullptr;
        LinkedAt_.erase(Linked);
    } else {
        Changes.Unlinked.emplace_back(&Extension);
    }
}

Ref<IORVRegistryDelta> TDeltaRecorder::Delta(int32_t Kind) const {
    Ref<TRegistryDelta> Result(new TRegistryDelta(Kind, Registry_));
    std::vector<TORVDescriptor*> Added, Removed, Started, Stopped;
    for (const auto& Entry : Before_) {
        TORVDescriptor* Descriptor = Entry.first;
        const bool Present = IsPresent(Registry_, *Descriptor);
        const bool Running = IsRunning(Registry_, *Descriptor);
        if (!Entry.second.Present && Present) Added.push_back(Descriptor);
        if (Entry.second.Present && !Present) Removed.push_back(Descriptor);
        if (!Entry.second.Running && Running) Started.push_back(Descriptor);
        if (Entry.second.Running && !Running) Stopped.push_back(Descriptor);
    }
    const std::pair<std::vector<TORVDescriptor*>*, TORVDescriptors*> Lists[] = {
        {&Added, Result->Added.Get()},
        {&Removed, Result->Removed.Get()},
        {&Started, Result->Started.Get()},
        {&Stopped, Result->Stopped.Get()}};
    for (const auto& List : Lists) {
        std::sort(List.first->begin(), List.first->end(), ComesBefore);
        for (TORVDescriptor* Descriptor : *List.first) List.second->Add(Descriptor);
    }

    // The changed points by their plug-ins' places, then their own places.
    std::vector<std::pair<std::pair<const TORVDescriptor*, int32_t>, const TPointChanges*>> Changed;
    for (const TPointChanges& Changes : Points_) {
        const bool Joined = std::any_of(Changes.Linked.begin(), Changes.Linked.end(),
                                        [](const Ref<IORVExtension>& E) { return static_cast<bool>(E); });
        if (!Joined && Changes.Unlinked.empty()) continue;
        auto* Point = static_cast<TORVExtensionPoint*>(Changes.Point.Get());
        Changed.push_back({{Point->GetDescriptorObject(), PlaceOf(Point)}, &Changes});
    }
    std::sort(Changed.begin(), Changed.end(), [](const auto& A, const auto& B) {
        if (A.first.first != B.first.first) return ComesBefore(A.first.first, B.first.first);
        return A.first.second < B.first.second;
    });
    for (const auto& Entry : Changed) {
        Ref<TORVExtensions> Joined(new TORVExtensions(false)), Left(new TORVExtensions(false));
        for (const Ref<IORVExtension>& E : Entry.second->Linked)
            if (E) Joined->AppendNew(static_cast<TORVExtension*>(E.Get()), std::string());
        for (const Ref<IORVExtension>& E : Entry.second->Unlinked)
            Left->AppendNew(static_cast<TORVExtension*>(E.Get()), std::string());
        Result->AddPoint(static_cast<TORVExtensionPoint*>(Entry.second->Point.Get()), Joined, Left);
    }
    if (Result->Empty()) return nullptr;
    return Ref<IORVRegistryDelta>(Result.Get());
}

Ref<IORVRegistryDelta> TDeltaRecorder::Whole(TORVRegistry& Registry) {
    Ref<TRegistryDelta> Result(new TRegistryDelta(dkStartup, Registry));
    TORVDescriptors& Descriptors = Registry.OwnDescriptors();
    const int32_t Count = Descriptors.GetCount();
    std::unordered_set<TORVDescriptor*> Seen;
    Seen.reserve(static_cast<std::size_t>(Count));
    for (int32_t I = 0; I < Count; ++I) {
        TORVDescriptor* Descriptor = Descriptors.ItemAt(I);
        if (!Seen.insert(Descriptor).second) continue;
        Result->Added->Add(Descriptor);
        if (IsRunning(Registry, *Descriptor)) Result->Started->Add(Descriptor);
        TORVExtensionPoints& Points = Descriptor->OwnExtensionPoints();
        for (int32_t J = 0; J < Points.GetCount(); ++J) {
            TORVExtensionPoint* Point = Points.ItemAt(J);
            TORVExtensions& Linked = Point->LinkedExtensions();
            if (Linked.GetCount() == 0) continue;
            Ref<TORVExtensions> Joined(new TORVExtensions(false));
            Joined->Grow(static_cast<std::size_t>(Linked.GetCount()));
            for (int32_t K = 0; K < Linked.GetCount(); ++K) Joined->AppendNew(Linked.ItemAt(K), std::string());
            Result->AddPoint(Point, Joined, Ref<TORVExtensions>(new TORVExtensions(false)));
        }
    }
    return Ref<IORVRegistryDelta>(Result.Get());
}

// --- TDeltaSession -----------------------------------------------------------------------------

TDeltaSession::TDeltaSession(TORVRegistry* Registry, int32_t Kind) : Kind_(Kind) {
    if (!Registry || Registry->Recorder()) return;
    const std::shared_ptr<TRegistryEventHub>& Hub = Registry->EventHub();
    if (!Hub || !Hub->HasListeners()) return;
    Registry_ = Ref<TORVRegistry>(Registry);
    Hub_ = Hub;
    Recorder_ = std::make_unique<TDeltaRecorder>(*Registry);
    Registry->SetRecorder(Recorder_.get());
}

TDeltaSession::~TDeltaSession() {
    if (Recorder_) Failed();
}

Ref<IORVRegistryDelta> TDeltaSession::End(bool Always) {
    if (!Recorder_) return nullptr;
    if (Registry_->Recorder() == Recorder_.get()) Registry_->SetRecorder(nullptr);
    const std::unique_ptr<TDeltaRecorder> Recorder = std::move(Recorder_);
    // A start describes the registry as a whole: whatever plug-in code did during it is in there.
    Ref<IORVRegistryDelta> Result = Kind_ == dkStartup ? TDeltaRecorder::Whole(*Registry_) : Recorder->Delta(Kind_);
    if (!Result && Always) Result = Ref<IORVRegistryDelta>(new TRegistryDelta(Kind_, *Registry_));
    return Result;
}

void TDeltaSession::Deliver() {
    const Ref<IORVRegistryDelta> Delta = End(Kind_ != dkStart);
    if (Delta) Hub_->Deliver(Delta);
}

void TDeltaSession::Failed() noexcept {
    try {
        const Ref<IORVRegistryDelta> Delta = End(false);
        if (Delta) Hub_->Deliver(Delta);
    } catch (...) {
        // Logged by the hub; the call's own failure is what travels on.
    }
}

}  // namespace orv

// --- the registry's side -----------------------------------------------------------------------

namespace orv {

void TORVRegistry::RecordChanging(TORVDescriptor& Descriptor) { Recorder_->Touch(Descriptor); }

void TORVRegistry::RecordClosing() { Recorder_->TouchAll(); }

}  // namespace orv
