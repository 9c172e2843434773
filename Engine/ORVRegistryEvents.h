// The engine's side of IORVRegistryEvents: the hub that holds one engine's listeners and delivers
// deltas to them, the recorder that notes what one engine call changes in a registry, and the
// session that ties the two to that call.
//
// The registry, its descriptors and the link paths tell the registry's recorder, when it has one,
// before anything of a descriptor changes (TORVRegistry::NoteChanging, Close) and after every link
// made or undone (TORVRegistry::LinkChanged). The recorder keeps each descriptor's state as it
// first saw it and each point's links made and undone; the delta is the difference between those
// and the state at the end of the call, so its cost follows what changed, not the registry's size.
#ifndef ORV_REGISTRY_EVENTS_H
#define ORV_REGISTRY_EVENTS_H

#include <ORVInterface.h>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <unordered_map>
#include <utility>
#include <vector>

namespace orv {

class TORVDescriptor;
class TORVExtension;
class TORVExtensionPoint;
class TORVRegistry;

// The listeners of one engine, in the order they were added, and the deltas waiting for them.
class TRegistryEventHub {
public:
    // Holds Listener (once); EORVException "Argument cannot be null" for nil.
    void AddListener(IORVRegistryListener* Listener);
    // Lets go of Listener when held.
    void RemoveListener(IORVRegistryListener* Listener);
    bool HasListeners() const { return !Listeners_.empty(); }
    // Lets go of every listener (the engine goes).
    void Clear() { Listeners_.clear(); }
    // Calls every listener with Delta, then with each delta that they caused meanwhile. Called
    // while listeners are being called, it only queues Delta for the loop under way. An exception
    // of a listener is logged and the rest are called; the first one is raised at the end.
    void Deliver(const Ref<IORVRegistryDelta>& Delta);

private:
    std::vector<Ref<IORVRegistryListener>> Listeners_;
    std::deque<Ref<IORVRegistryDelta>> Waiting_;
    bool Delivering_ = false;
};

// What one engine call changes in Registry, noted while the call runs.
class TDeltaRecorder {
public:
    explicit TDeltaRecorder(TORVRegistry& Registry);
    ~TDeltaRecorder();
    TDeltaRecorder(const TDeltaRecorder&) = delete;
    TDeltaRecorder& operator=(const TDeltaRecorder&) = delete;

    // Descriptor (of this registry, or about to enter it) is about to change: its state before the
    // call is taken now, unless it was taken already.
    void Touch(TORVDescriptor& Descriptor);
    // The registry is about to close: every plug-in of it stops counting as started.
    void TouchAll();
    // A link between Point and Extension was made or undone (see TORVRegistry::LinkChanged).
    void LinkChanged(TORVExtensionPoint& Point, TORVExtension& Extension, bool Made);
    // The net change since the recorder was made, as a delta of Kind; nil when nothing changed.
    Ref<IORVRegistryDelta> Delta(int32_t Kind) const;
    // The whole of Registry as a dkStartup delta: all its plug-ins and links, those started.
    static Ref<IORVRegistryDelta> Whole(TORVRegistry& Registry);

private:
    struct TBefore {
        Ref<IORVDescriptor> Descriptor;  // held: a removed one still answers
        bool Present;
        bool Running;
    };
    struct TPointChanges {
        Ref<IORVExtensionPoint> Point;
        std::vector<Ref<IORVExtension>> Linked;  // nil where a link was undone again
        std::vector<Ref<IORVExtension>> Unlinked;
    };
    struct TPairHash {
        std::size_t operator()(const std::pair<const void*, const void*>& P) const noexcept {
            return std::hash<const void*>()(P.first) * 31u ^ std::hash<const void*>()(P.second);
        }
    };

    TORVRegistry& Registry_;
    std::unordered_map<TORVDescriptor*, TBefore> Before_;
    std::vector<TPointChanges> Points_;
    std::unordered_map<const TORVExtensionPoint*, std::size_t> PointAt_;  // index in Points_
    // Of each link made during the call and not undone: its place in its point's Linked.
    std::unordered_map<std::pair<const void*, const void*>, std::size_t, TPairHash> LinkedAt_;
};

// One engine call of Kind on Registry, as far as listeners are concerned. It records when the
// registry's engine has listeners and no call records on the registry yet (a call that plug-in code
// makes meanwhile adds its changes to the outer call's delta), and delivers once at the end.
class TDeltaSession {
public:
    TDeltaSession(TORVRegistry* Registry, int32_t Kind);
    // A call that did not reach Deliver (it raises): Failed.
    ~TDeltaSession();
    TDeltaSession(const TDeltaSession&) = delete;
    TDeltaSession& operator=(const TDeltaSession&) = delete;

    // The call's work is done: the listeners get the delta (a dkStart one only when something
    // changed). Raises the first exception of a listener.
    void Deliver();

private:
    // The call raises: the listeners get what it changed, if anything; what they raise is logged
    // only, the call's own exception goes on.
    void Failed() noexcept;
    // Stops recording; the delta, nil when this session did not record or nothing changed (Always:
    // a delta even then).
    Ref<IORVRegistryDelta> End(bool Always);

    Ref<TORVRegistry> Registry_;
    std::shared_ptr<TRegistryEventHub> Hub_;
    std::unique_ptr<TDeltaRecorder> Recorder_;
    int32_t Kind_;
};

}  // namespace orv

#endif
