// TORVRegistry: the in-memory model of all plug-ins of one engine run, with the unions of their
// extension points and extensions, the linking and checking passes, and the start and stop passes.
#ifndef ORV_REGISTRY_H
#define ORV_REGISTRY_H

#include "Engine/ORVAdatable.h"

namespace orv {

// The engine drives the states: fill the descriptor collection (GetDescriptors, ToDescriptors,
// Add; set each descriptor's registry to this one), SetParsed(true), Resolve(true, true),
// StartPlugins, SetEnvironmentVariables; at shutdown StopPlugins. After plug-ins are added or
// removed, ClearCaches (and, to link again, SetParsed(true), SetResolved(false), Resolve).
class TORVRegistry : public TAdatableObject<IORVRegistry> {
public:
    // An empty hashed descriptor collection, no unions, no store, neither parsed nor resolved.
    TORVRegistry();
    ~TORVRegistry() override;

    // --- IORVRegistry ---
    // The union of all descriptors' extensions, keyed by qualified id (built on first demand and
    // cached until ClearCaches; of two with one id, the later one wins the key). EORVException
    // "插件注册表没有被解析。" before the registry is parsed.
    Ref<IORVExtensions> ORV_CALL GetExtensions() override;
    // The union of all descriptors' extension points, as GetExtensions.
    Ref<IORVExtensionPoints> ORV_CALL GetExtensionPoints() override;
    // The descriptor collection (a TORVDescriptors), in any state.
    Ref<IORVDescriptors> ORV_CALL GetDescriptors() override { return Descriptors_; }
    // The held store; an empty one is created and held first when there is none.
    Ref<IORVEnvironmentVariables> ORV_CALL GetEnvironmentVariables() override;

    // Links every extension of every descriptor to the points it names (when ResolveExtensions),
    // marks the registry resolved and validates it. Does nothing when already resolved. An
    // exception while linking leaves the registry unresolved with the links made so far. Always true.
    bool Resolve(bool ResolveDescriptorsFirst, bool ResolveExtensions);
    // Hook run by Resolve before the extensions are linked; it has nothing to do.
    void ResolveDescriptors() {}
    // Links every extension of Descriptor; EORVException "Argument cannot be null" for nil.
    void ResolveDescriptor(const Ref<IORVDescriptor>& Descriptor);
    // Adds Extension to the extension collection of each point it names (once per point);
    // EORVException for nil or for a point that no plug-in declares.
    void ResolveExtension(const Ref<IORVExtension>& Extension);
    // Logs an Error line for each unique point with more than one extension and for each
    // required point without one; raises nothing then. Before Resolve: an Error line and
    // EORVException "先解析再验证注册表。".
    void Validate();
    // Starts, in collection order, the plug-ins whose descriptors have Initialize set; the first
    // failure ends the pass and travels on.
    void StartPlugins();
    // Stops every plug-in, in the same forward order; the first failure ends the pass.
    void StopPlugins();
    // Drops both unions; the next request builds them afresh from the descriptors present then.
    void ClearCaches();
    // Holds Store (nil allowed) in place of the store held so far.
    void SetEnvironmentVariables(const Ref<IORVEnvironmentVariables>& Store) { EnvironmentVariables_ = Store; }

    bool IsParsed() const { return Parsed_; }
    void SetParsed(bool Value) { Parsed_ = Value; }
    bool IsResolved() const { return Resolved_; }
    void SetResolved(bool Value) { Resolved_ = Value; }

private:
    Ref<IORVDescriptors> Descriptors_;
    Ref<IORVExtensionPoints> ExtensionPointCache_;
    Ref<IORVExtensions> ExtensionCache_;
    Ref<IORVEnvironmentVariables> EnvironmentVariables_;
    bool Parsed_ = false;
    bool Resolved_ = false;
};

}  // namespace orv

#endif
