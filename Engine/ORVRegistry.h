// TORVRegistry: the in-memory model of all plug-ins of one engine run, with the unions of their
// extension points and extensions, the linking and checking passes, and the start and stop passes.
#ifndef ORV_REGISTRY_H
#define ORV_REGISTRY_H

#include "Engine/ORVAdatable.h"
#include "Engine/ORVLinkBatch.h"

#include "Common/ORVMiscUtils.h"
#include "Companion/TarnHashUtils.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace orv {

class TChecks;
class TDeltaRecorder;
class TRegistryEventHub;
class TORVDescriptor;
class TORVDescriptors;
class TORVExtensions;
class TORVExtension;
class TORVExtensionPoint;
class TORVExtensionPoints;

// The engine fills the descriptor collection (OwnDescriptors, Add; each
// descriptor's registry set to this one), then calls Link, StartPlugins (StopStartedPlugins when
// that fails), SetEnvironmentVariables, and at shutdown StopPlugins. At run time it adds plug-ins
// with AddAndLink and drops them with RemoveDescriptors.
//
// A link between an extension and a point is recorded on both sides (the point's collection and
// the extension's list of linked points), so that either can leave exactly the links it has.
class TORVRegistry : public TAdatableObject<IORVRegistry> {
public:
    // An empty hashed descriptor collection, no unions, no store, neither parsed nor resolved.
    TORVRegistry();
    // Clears the back reference of every descriptor it holds before letting go of them.
    ~TORVRegistry() override;

    // --- IORVRegistry ---
    // The union of all descriptors' extensions, keyed by qualified id (built on first demand and
    // cached until ClearCaches; of two with one id, the later one wins the key). EORVException
    // "插件注册表没有被解析。" before the registry is parsed.
    Ref<IORVExtensions> ORV_CALL GetExtensions() override;
    // The union of all descriptors' extension points, as GetExtensions.
    Ref<IORVExtensionPoints> ORV_CALL GetExtensionPoints() override;
    // The descriptor collection (a TORVDescriptors), in any state.
    Ref<IORVDescriptors> ORV_CALL GetDescriptors() override;
    // The descriptor collection as its object.
    TORVDescriptors& OwnDescriptors() const { return *Descriptors_; }
    // The held store; an empty one is created and held first when there is none.
    Ref<IORVEnvironmentVariables> ORV_CALL GetEnvironmentVariables() override;

    // --- the engine's steps ---
    // A freshly filled registry: marks it parsed and resolves it (links and validates).
    void Link();
    // Adds Staged (descriptors read for this registry but not yet in it), links the registry anew
    // and validates it: the links, lines and findings are those of linking and validating the
    // whole registry again, but only the extensions that can link differently are visited (see
    // Relink). When linking raises, the staged descriptors are taken out again with every link
    // they got, the links that plug-ins already present got meanwhile (a point of a plug-in with
    // the id of one that went) are undone, the registry is left as it was, and the exception
    // travels on.
    void AddAndLink(const std::vector<Ref<TORVDescriptor>>& Staged);
    // Drops Leaving from the registry, each in turn: its extensions leave their points, its plug-in
    // is stopped (its own points still hold what plugs into them), its points let go of their
    // extensions (a Warn line for each extension of a plug-in that stays), and it leaves the
    // descriptor collection and forgets this registry. A descriptor that plug-in code dropped
    // meanwhile is passed over. A failing Stop does not end the walk: the first failure is raised
    // once every descriptor is gone (a descriptor whose Stop raised is retained, see Retain). The
    // unions lose the items of each descriptor as it leaves (see Detach).
    void RemoveDescriptors(const std::vector<Ref<TORVDescriptor>>& Leaving);

    // Keeps Descriptor, which has left this registry, loaded until the registry goes: an exception
    // that its plug-in's code raised is still on its way to the host, and its class may live in the
    // plug-in's library.
    void Retain(const Ref<IORVDescriptor>& Descriptor) { Retained_.push_back(Descriptor); }
    // Whether Descriptor is in the descriptor collection.
    bool Holds(IORVDescriptor* Descriptor) const;

    // Where the findings of linking and validating go: Checks, or the engine's own reactions
    // (nil, the default). A collecting one lets linking go on past a point that no plug-in declares.
    void SetChecks(TChecks* Checks) { Checks_ = Checks; }

    // --- linking ---
    // Links every extension of every descriptor to the points it names (when ResolveExtensions),
    // marks the registry resolved and validates it. Does nothing when already resolved. An
    // exception while linking leaves the registry unresolved with the links made so far. Always true.
    bool Resolve(bool ResolveDescriptorsFirst, bool ResolveExtensions);
    // Hook run by Resolve before the extensions are linked; it has nothing to do.
    void ResolveDescriptors() {}
    // Links every extension of Descriptor; EORVException "Argument cannot be null" for nil.
    void ResolveDescriptor(const Ref<IORVDescriptor>& Descriptor);
    // The point with id ID (exactly as written) that the union of points would give: of two with
    // one id, the one that entered later; nil when none. EORVException "插件注册表没有被解析。"
    // before the registry is parsed.
    TORVExtensionPoint* FindPoint(const std::string& ID);
    // The extension with id ID that the union of extensions would give (the later of two), nil
    // when none; the union is not made for it.
    TORVExtension* FindExtension(const std::string& ID) const;
    // The descriptors whose location begins with one of Prefixes (as TPathUtils::StartsWithPath
    // compares; an empty prefix selects nothing), last to first as the collection holds them.
    std::vector<Ref<TORVDescriptor>> DescriptorsUnder(const TStringDynArray& Prefixes);
    // Every link made or undone, on either side, passes here: the registry of the extension's
    // plug-in (or else of the point's) is told. Nothing happens for objects without a registry.
    static void LinkChanged(TORVExtensionPoint& Point, TORVExtension& Extension, bool Made);
    // Links Extension into the extension collection of each point it names (once per point). A
    // point that no plug-in declares raises EORVException, unless the extension was linked before:
    // then the point has gone with its plug-in, and a Warn line names both. EORVException for nil.
    void ResolveExtension(const Ref<IORVExtension>& Extension);
    // Logs an Error line for each unique point with more than one extension and for each
    // required point without one, and a Warn line for each plug-in whose id an earlier one has
    // already; raises nothing then. Before Resolve: an Error line and EORVException
    // "先解析再验证注册表。".
    void Validate();

    // --- starting and stopping ---
    // From now on none of the registry's plug-ins starts: the registry was read for inspection
    // only, or its engine has shut it down or failed to start it. A factory lookup then loads a
    // plug-in's library without starting the plug-in, so that no plug-in runs that nothing stops.
    void Close() {
        if (Recorder_ && !Closed_) RecordClosing();
        Closed_ = true;
    }
    bool IsClosed() const { return Closed_; }
    // Starts, in collection order, the plug-ins whose descriptors have Initialize set; the first
    // failure ends the pass and travels on. A descriptor that plug-in code dropped from the
    // registry meanwhile is passed over.
    void StartPlugins();
    // After a failed start pass: stops the plug-ins that are started, the one started last first.
    // Failures are logged by the descriptors and go no further.
    void StopStartedPlugins();
    // Stops every started plug-in, in collection order (passing over descriptors that plug-in code
    // dropped meanwhile). A failing Stop does not end the pass: the first failure is raised after it.
    void StopPlugins();

    // Drops both unions and the point index; the next request builds them afresh from the
    // descriptors present then.
    void ClearCaches();
    // Holds Store (nil allowed) in place of the store held so far.
    void SetEnvironmentVariables(const Ref<IORVEnvironmentVariables>& Store) { EnvironmentVariables_ = Store; }

    bool IsParsed() const { return Parsed_; }
    void SetParsed(bool Value) { Parsed_ = Value; }
    bool IsResolved() const { return Resolved_; }
    void SetResolved(bool Value) { Resolved_ = Value; }

    // --- listeners (ORVRegistryEvents.h) ---
    // The listeners of the engine that built this registry; nil for one read for inspection.
    void SetEventHub(std::shared_ptr<TRegistryEventHub> Hub) { EventHub_ = std::move(Hub); }
    const std::shared_ptr<TRegistryEventHub>& EventHub() const { return EventHub_; }
    // What the engine call under way records, nil when nothing records.
    TDeltaRecorder* Recorder() const { return Recorder_; }
    void SetRecorder(TDeltaRecorder* Recorder) { Recorder_ = Recorder; }
    // Descriptor, of this registry or entering it, is about to change (enter, leave, start, stop).
    void NoteChanging(TORVDescriptor& Descriptor) {
        if (Recorder_) RecordChanging(Descriptor);
    }

private:
    // The recorder's side of NoteChanging and Close.
    void RecordChanging(TORVDescriptor& Descriptor);
    void RecordClosing();

    // What a change of the registry leaves for the next link and validation to look at again.
    struct TChangeState {
        // Extensions of the registry that are not linked to the point each of their names leads
        // to: a point they were linked to has gone (or its link was undone).
        std::unordered_set<TORVExtension*> Unsettled;
        // Points that lost links since the last validation.
        std::unordered_set<TORVExtensionPoint*> Touched;
        // The points that the last validation reported.
        std::vector<TORVExtensionPoint*> Failing;
        // The plug-in ids held by more than one descriptor, with those descriptors in order.
        std::unordered_map<std::string, std::vector<TORVDescriptor*>> SharedIDs;
    };

    TChecks& Checks() const;
    // ResolveExtension of one of the model's own extensions, the points' side of its links left to
    // Batch. Whether every point it names was found.
    bool LinkExtension(TORVExtension& Extension, TLinkBatch& Batch);
    // AddAndLink's linking: the extensions of Staged, the unsettled ones and those linked to a
    // point whose id a staged point takes over are linked in registry order, as linking every
    // extension would (the others would link as they are). Returns the points of Staged.
    std::vector<TORVExtensionPoint*> Relink(const std::vector<Ref<TORVDescriptor>>& Staged,
                                            const std::vector<TORVExtension*>& TakenOver);
    // Reports each of Points (in registry order) that breaks its Required or Unique rule, then each
    // plug-in whose id an earlier one has; the reported points become the failing ones.
    void ReportFindings(const std::vector<TORVExtensionPoint*>& Points);
    // Adds Descriptor (not held yet) at the end: the collection, the point index, its place, a
    // shared id; the unions are let go.
    void Enter(TORVDescriptor& Descriptor);
    // Lets go of both unions (a union a host holds stays as it was); the next request builds them
    // afresh.
    void DropUnions();
    // Locations_ from the descriptors present.
    void MakeLocations();
    // Undoes every link of Descriptor's extensions.
    static void UnlinkExtensions(TORVDescriptor& Descriptor);
    // Undoes every link to Descriptor's points. With Leaving, each extension that loses one of
    // them and whose own plug-in is not in Leaving gets a Warn line.
    static void UnlinkPoints(TORVDescriptor& Descriptor, const std::unordered_set<TORVDescriptor*>* Leaving);
    // Takes Descriptor out of the collection, the point index and the change state, lets go of the
    // unions, and detaches it from this registry.
    void Detach(TORVDescriptor& Descriptor);

    Ref<TORVDescriptors> Descriptors_;
    Ref<TORVExtensionPoints> ExtensionPointCache_;
    Ref<TORVExtensions> ExtensionCache_;
    Ref<IORVEnvironmentVariables> EnvironmentVariables_;
    bool Parsed_ = false;
    bool Resolved_ = false;
    bool Closed_ = false;
    std::vector<TLinkBatch::TMade>* MadeLinks_ = nullptr;  // while AddAndLink links: every link it makes
    // Every present point under its id, the later of two on top (uncounted): what linking looks up.
    // Made from the descriptors when missing, kept up to date by Enter and Detach afterwards.
    std::unique_ptr<TStrKeyHash> PointIndex_;
    // The descriptors by TPathUtils::PathKey of their location (uncounted); made and kept as the
    // point index is.
    std::unique_ptr<std::multimap<std::string, TORVDescriptor*>> Locations_;
    TChangeState Changes_;
    uint64_t LastOrder_ = 0;  // of the descriptor that entered last (see TORVDescriptor::GetRegistryOrder)
    std::vector<Ref<IORVDescriptor>> Retained_;
    TChecks* Checks_ = nullptr;
    std::shared_ptr<TRegistryEventHub> EventHub_;
    TDeltaRecorder* Recorder_ = nullptr;
};

}  // namespace orv

#endif
