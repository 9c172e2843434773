// The host interface driven over a generated plug-in tree (LifecycleWorld.h): start-ups, loads and
// unloads of folders, parse-only registries, factory lookups and shut-downs, with engine objects
// held across steps and plug-in code that calls the engine back. The rules, each checked after
// every step (or where the call happens) and named in the line that aborts when one breaks:
//  - a registry holds the plug-ins of the manifests read, in order, minus those unloaded; its
//    unions are its plug-ins' own items; each point lists the extensions that linking gives it, in
//    the order linking every plug-in anew would make them (every named point id leads to the last
//    present point of that id; links made stay until one side leaves), and an extension's GetExtensionPoints gives the present points it names;
//  - every collection reachable, held ones included, finds each item it lists by its id;
//  - a LoadPlugins that raises leaves every collection as it was;
//  - a Startup from plug-in code while the engine builds or stops is refused with EORVException
//    before anything changes; a Shutdown is accepted only while running;
//  - only a plug-in still in its registry is started; every plug-in object whose Start returned
//    gets exactly one Stop (checked at the end, after a last Shutdown and with everything let go);
//  - a mirror built only from the deltas that a registry listener receives equals the engine's
//    registry: its plug-ins in order, each point's extensions in order, the plug-ins started. The
//    listener may raise, or load, unload or shut down from inside the delivery, once per input.
//
// The steps follow the tree in the input (see TWorld), each an operation byte and its arguments:
//   0 drop a held object: slot byte
//   1 hold an engine object: kind, index and slot bytes
//   2 GetFactory of a held extension: slot byte, then a byte whose bit 0 calls the factory
//   3 LoadPlugins: a folder byte   4 UnloadPlugins: a folder byte
//   5 ParsePaths: a count byte, folder bytes, then the slot that holds the registry
//   6 Shutdown                     7 StartupWithPlugins: a count byte, then folder bytes
//   8 Startup                      9 what the listener does with the next delta: an action byte
//                                    (nothing, raise, load, unload, shut down), a folder byte
// (The costly start-ups take the rarer bytes: mutations write zeros most.)
#include "Common/ORVException.h"
#include "Companion/TarnXMLUtils.h"
#include "Engine/ORVDescriptor.h"
#include "Engine/ORVEngineImpl.h"
#include "Engine/ORVExtensionPoint.h"
#include "Engine/ORVRegistry.h"
#include "FuzzSupport.h"
#include "LifecycleWorld.h"

#include <algorithm>
#include <cstdio>
#include <deque>
#include <memory>
#include <set>

using namespace orv;
using namespace orv::fuzz;

namespace {

std::string Addr(const void* P) {
    char Buffer[32];
    std::snprintf(Buffer, sizeof Buffer, "%p", P);
    return Buffer;
}

// Appends the items of Collection, as pointers.
template <class C>
void Append(std::vector<const void*>& List, const Ref<C>& Collection) {
    for (int32_t I = 0; I < Collection->GetCount(); ++I) List.push_back(Collection->GetItem(I).Get());
}

template <class T>
std::string IdOf(const Ref<T>& Item) {
    try {
        return Item->GetID();
    } catch (const EORVException&) {
        return "?";  // its plug-in is gone
    }
}

// --- the model ---------------------------------------------------------------------------------

struct TInstance {
    const TPluginPlan* Plan;
    uint32_t Serial;  // tells apart the copies that loading one folder twice makes
};
using TEnd = std::pair<uint32_t, int>;  // a plug-in copy and the index of its extension or point
using TLink = std::pair<TEnd, TEnd>;    // extension -> point

// What one registry must hold: the plug-ins of the manifests read, in order, minus those unloaded,
// and the links between their extensions and points.
struct TRegistryModel {
    std::vector<TInstance> Present;
    std::map<TLink, uint64_t> Links;  // each link with the number of its making: a point lists its links in that order
    uint64_t Made = 0;
    std::map<const void*, uint32_t> Bound;  // descriptor object <-> copy, learnt by the checks
    std::map<uint32_t, const void*> BoundBack;

    // The plug-ins of Folders join (in order) and every extension present is linked anew, one after
    // the other: each point id it names leads to the last present point with that id; links made
    // before stay where they are.
    void Add(const TWorld& World, const std::vector<int>& Folders, uint32_t& Serial) {
        for (int F : Folders)
            for (int K : World.Folders[static_cast<std::size_t>(F)].Plugins)
                Present.push_back(TInstance{&World.Plugins[static_cast<std::size_t>(K)], ++Serial});
        std::map<std::string, TEnd> Union;
        for (const TInstance& I : Present)
            for (int X = 0; X < I.Plan->Points; ++X) Union[I.Plan->ID + ".x" + std::to_string(X)] = {I.Serial, X};
        for (const TInstance& I : Present)
            for (std::size_t E = 0; E < I.Plan->Named.size(); ++E)
                for (const std::string& Id : I.Plan->Named[E]) {
                    auto It = Union.find(Id);
                    if (It != Union.end()) Links.insert({{{I.Serial, static_cast<int>(E)}, It->second}, ++Made});
                }
    }
    // The copies present whose folder lies under Path.
    std::set<uint32_t> Under(const TWorld& World, const std::string& Path) const {
        std::set<uint32_t> Result;
        for (const TInstance& I : Present)
            if ((World.Folders[static_cast<std::size_t>(I.Plan->Folder)].Path + "/")
                    .compare(0, Path.size() + 1, Path + "/") == 0)
                Result.insert(I.Serial);
        return Result;
    }
    void Remove(const std::set<uint32_t>& Leaving) {
        std::vector<TInstance> Staying;
        for (const TInstance& I : Present)
            if (!Leaving.count(I.Serial)) Staying.push_back(I);
        Present.swap(Staying);
        for (auto It = Links.begin(); It != Links.end();)
            It = Leaving.count(It->first.first.first) || Leaving.count(It->first.second.first) ? Links.erase(It)
                                                                                               : std::next(It);
        for (uint32_t S : Leaving) {
            auto B = BoundBack.find(S);
            if (B == BoundBack.end()) continue;
            Bound.erase(B->second);
            BoundBack.erase(B);
        }
    }
};

// One collection as a check sees it: each item with its id and what Find of that id gives.
struct TItemView {
    const void* Item = nullptr;
    const void* Found = nullptr;
    std::string Id = "?";
    bool Searched = false;  // false: the item's id or Find raised (its plug-in is gone)
    bool SameId = false;    // Find gave an item with this id
};
struct TCollectionView {
    const char* What;     // which collection of its owner
    const void* Owner;    // nil for a collection held on its own (OwnerId names the slot)
    std::string OwnerId;  // the owner's id or name, for messages
    std::vector<TItemView> Items;
    bool FromCache = false;  // a registry's union (a cache), or built from one
    bool SameRole(const TCollectionView& O) const { return What == O.What && Owner == O.Owner && OwnerId == O.OwnerId; }
    std::string Role() const {
        return What + (OwnerId.empty() ? std::string() : " [" + OwnerId + "]") +
               (Owner ? " at " + Addr(Owner) : std::string());
    }
    std::string Text() const {
        std::string T;
        for (const TItemView& I : Items)
            T += (T.empty() ? "" : ", ") + I.Id + "->" + (I.Found ? (I.SameId ? "itself" : "another id") : "nil");
        return "[" + T + "]";
    }
};

template <class C>
TCollectionView View(const char* What, const void* Owner, std::string OwnerId, const Ref<C>& Collection) {
    TCollectionView V{What, Owner, std::move(OwnerId), {}};
    const int32_t Count = Collection->GetCount();
    V.Items.resize(static_cast<std::size_t>(Count));
    for (int32_t I = 0; I < Count; ++I) {
        auto Item = Collection->GetItem(I);
        TItemView& Entry = V.Items[static_cast<std::size_t>(I)];
        Entry.Item = Item.Get();
        try {
            Entry.Id = Item->GetID();
            auto Found = Collection->Find(Entry.Id);
            Entry.Found = Found.Get();
            Entry.SameId = Found && Found->GetID() == Entry.Id;
            Entry.Searched = true;
        } catch (const EORVException&) {
        }
    }
    return V;
}

// An engine object held across steps.
struct THeld {
    Ref<IORVRegistry> Registry;
    std::shared_ptr<TRegistryModel> Model;  // of Registry
    Ref<IORVDescriptor> Descriptor;
    Ref<IORVExtension> Extension;
    Ref<IORVExtensionPoint> Point;
    Ref<IORVExtensions> Extensions;
    Ref<IORVExtensionPoints> Points;
    Ref<IORVDescriptors> Descriptors;
};

// The registry as the deltas tell it (held: a host keeps what it mirrors).
struct TMirror {
    Ref<IORVRegistry> Registry;
    std::vector<Ref<IORVDescriptor>> Plugins;
    std::map<const void*, std::pair<Ref<IORVExtensionPoint>, std::vector<Ref<IORVExtension>>>> Links;
    std::set<const void*> Started;
};

// Raised by the listener on purpose: the call that delivers passes it on after its work is done.
class TListenerFault : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum class TState { Idle, Building, Running, Stopping };
const char* NameOf(TState S) {
    static const char* const Names[] = {"idle", "building", "running", "stopping"};
    return Names[static_cast<int>(S)];
}

// --- the driver --------------------------------------------------------------------------------

class TDriver;

class TMirrorListener : public TInterfacedObject<IORVRegistryListener> {
public:
    explicit TMirrorListener(TDriver& Driver) : Driver_(Driver) {}
    void ORV_CALL RegistryChanged(IORVRegistryDelta* Delta) override;

private:
    TDriver& Driver_;
};

class TDriver : public TPluginHooks {
public:
    explicit TDriver(TWorld& World)
        : World_(World), Object_(new TORVEngine()), Engine_(static_cast<IORVEngine*>(Object_)) {
        World_.Hooks = this;
        Engine_.Query<IORVRegistryEvents>()->AddListener(Ref<IORVRegistryListener>(new TMirrorListener(*this)).Get());
    }

    // A delta: the mirror follows it, then the listener does what the input asked for.
    void Apply(IORVRegistryDelta* Delta);

    void Step(TBytes& In);
    // The end of the input: a last Shutdown when running, then everything is let go.
    void Finish();

    // --- plug-in code ---
    void Start(std::size_t Record, IORVDescriptor* Descriptor) override;
    void Stop(std::size_t Record) override;
    void Factory(TPluginPlan& Plan) override { Perform(Plan, OnFactory); }

private:
    [[noreturn]] void Fail(const std::string& Rule);
    void Note(const std::string& Line) {
        if (Trace_.size() == 200) Trace_.pop_front();  // the last steps tell most
        Trace_.push_back(std::string(static_cast<std::size_t>(Depth_) * 2, ' ') + Line);
    }
    // Runs one engine call: whether it returned. An exception that the interface documents is an
    // outcome (Refusal_ names it), anything else a finding.
    template <class F>
    bool Call(const std::string& What, F&& Body);
    // The piece of code Code of Plan calls the engine back, the first time it runs.
    void Perform(TPluginPlan& Plan, TCode Code);

    // The engine calls, for steps and plug-in code alike, keeping the model in step.
    void Startup(const std::vector<int>* Chosen);
    void Shutdown();
    // Before: what the collections were when the call begins, when the caller knows it.
    void Load(const std::string& Folder, const std::vector<TCollectionView>* Before = nullptr);
    void Unload(const std::string& Folder);
    // Follows the engine to a registry that a start-up built.
    void Sync();

    void CheckAll();
    void CheckMirror();
    void CheckRegistry(IORVRegistry* Registry, TRegistryModel& Model, const std::string& Which);
    void CheckFind(const TCollectionView& View);
    // Every collection reachable from the engine's registry and the objects held.
    std::vector<TCollectionView> Reachable();

    TWorld& World_;
    TORVEngine* Object_;
    Ref<IORVEngine> Engine_;
    TState State_ = TState::Idle;
    IORVRegistry* Registry_ = nullptr;  // the engine's, as last seen
    std::shared_ptr<TRegistryModel> Model_;
    std::vector<std::vector<int>> Building_;  // the folders each start-up in progress reads
    uint32_t Serial_ = 0;
    int Depth_ = 0;
    std::string Refusal_;
    THeld Held_[6];
    std::deque<std::string> Trace_;
    std::vector<TCollectionView> Checked_;  // the collections as the last step left them
    std::unique_ptr<TMirror> Mirror_;         // of the registry the last dkStartup delta reported
    std::vector<Ref<IORVRegistry>> Superseded_;  // the registries that earlier startup deltas reported
    TAction ListenerAction_ = TAction::None;  // for the next delta: None, Throw, Load, Unload or Shutdown
    std::string ListenerArg_;
    std::vector<std::pair<std::string, bool>> PendingLoads_;  // the loads under way: folder, model updated
};

void ORV_CALL TMirrorListener::RegistryChanged(IORVRegistryDelta* Delta) { Driver_.Apply(Delta); }

void TDriver::Fail(const std::string& Rule) {
    std::fprintf(stderr, "lifecycle invariant broken: %s\n", Rule.c_str());
    std::fprintf(stderr, "tree:\n");
    for (const TFolderPlan& F : World_.Folders) {
        std::fprintf(stderr, "  %s%s:", F.Path.c_str(),
                     F.Broken == 1   ? " (an extension without points)"
                     : F.Broken == 2 ? " (no XML)"
                                     : "");
        for (int K : F.Plugins) {
            const TPluginPlan& P = World_.Plugins[static_cast<std::size_t>(K)];
            std::fprintf(stderr, " %s=%s%s%s x%d [", P.Name.c_str(), P.ID.c_str(), P.Initialize ? " init" : "",
                         P.HasLibrary ? "" : " nolib", P.Points);
            for (const auto& Named : P.Named) {
                for (const std::string& Id : Named) std::fprintf(stderr, " %s", Id.c_str());
                std::fprintf(stderr, ";");
            }
            static const char* const Actions[] = {"-",         "Startup", "Shutdown", "LoadOwn",
                                                  "UnloadOwn", "Load",    "Unload",   "Throw"};
            std::fprintf(stderr, " ] Start/Stop/factory: %s/%s/%s;", Actions[static_cast<int>(P.Actions[0])],
                         Actions[static_cast<int>(P.Actions[1])], Actions[static_cast<int>(P.Actions[2])]);
        }
        std::fprintf(stderr, "\n");
    }
    std::fprintf(stderr, "steps:\n");
    for (const std::string& Line : Trace_) std::fprintf(stderr, "  %s\n", Line.c_str());
    std::abort();
}

template <class F>
bool TDriver::Call(const std::string& What, F&& Body) {
    Note(What);
    try {
        Body();
        return true;
    } catch (const EORVException& E) {
        Refusal_ = "EORVException";
        Note("  -> EORVException: " + std::string(E.what()));
    } catch (const EAssertionFailed& E) {
        const std::string Text = E.what();
        bool Documented = false;
        for (const TAssertSite& Site :
             {AssertSites::Shutdown, AssertSites::StartupWithConfig, AssertSites::ReadPluginConfig})
            Documented = Documented || Text.find("line " + std::to_string(Site.Line) + ")") != std::string::npos;
        if (!Documented) Fail(What + " failed an internal assertion: " + Text);
        Refusal_ = "EAssertionFailed";
        Note("  -> EAssertionFailed: " + Text);
    } catch (const TPluginFault& E) {
        Refusal_ = "a plug-in's exception";
        Note("  -> " + std::string(E.what()));
    } catch (const TListenerFault& E) {
        // Raised once the call's work was done: the call counts as returned.
        Note("  -> " + std::string(E.what()));
        return true;
    } catch (const std::exception& E) {
        Fail(What + " raised an exception no caller can expect: " + E.what());
    }
    return false;
}

void TDriver::Perform(TPluginPlan& Plan, TCode Code) {
    static const char* const Where[] = {"Start", "Stop", "factory"};
    const TAction Action = Plan.Actions[Code];
    if (Action == TAction::None || Plan.Fired[Code] || Depth_ >= 3) return;
    if (Action == TAction::Throw && Code == OnStop) return;
    Plan.Fired[Code] = true;
    Note(std::string("in ") + Where[Code] + " of " + Plan.Name + ":");
    if (Action == TAction::Throw) throw TPluginFault(std::string(Where[Code]) + " of " + Plan.Name + " fails");
    const std::string& Own = World_.Folders[static_cast<std::size_t>(Plan.Folder)].Path;
    ++Depth_;
    if (Action == TAction::Startup)
        Startup(nullptr);
    else if (Action == TAction::Shutdown)
        Shutdown();
    else if (Action == TAction::LoadOwn || Action == TAction::Load)
        Load(Action == TAction::LoadOwn ? Own : Plan.Args[Code]);
    else
        Unload(Action == TAction::UnloadOwn ? Own : Plan.Args[Code]);
    --Depth_;
}

void TDriver::Sync() {
    IORVRegistry* Now = Engine_->GetRegistry().Get();
    if (Now == Registry_) return;
    Registry_ = Now;
    if (Building_.empty()) Fail("the engine's registry was replaced outside a start-up");
    Model_ = std::make_shared<TRegistryModel>();
    Model_->Add(World_, Building_.back(), Serial_);
}

void TDriver::Startup(const std::vector<int>* Chosen) {
    Sync();
    const TState Before = State_;
    TPluginConfigDynArray Configs;
    std::vector<int> Read = Chosen ? std::vector<int>() : World_.FoldersUnder("/fz/plugins");
    std::string Folders;
    for (std::size_t I = 0; Chosen && I < Chosen->size(); ++I) {
        const int F = (*Chosen)[I];
        TPluginConfig Config{nullptr, World_.ManifestOf(F)};
        try {
            Config.Document = LoadXMLDocument(Config.FileName);
            Read.push_back(F);
        } catch (const EORVException&) {
            // Handed over without a document: the engine skips it.
        }
        Configs.push_back(Config);
        Folders += (I ? " " : "") + std::to_string(F);
    }
    Building_.push_back(Read);
    if (Before == TState::Idle) State_ = TState::Building;
    IORVRegistry* RegistryBefore = Registry_;
    const bool Returned = Call(Chosen ? "StartupWithPlugins(" + Folders + ")" : "Startup", [&] {
        if (Chosen)
            Engine_->StartupWithPlugins("/fz/engine.xml", Configs, nullptr, -1);
        else
            Engine_->Startup("/fz/engine.xml", nullptr, -1);
    });
    Sync();
    Building_.pop_back();
    if (Before == TState::Idle) {
        State_ = Returned ? TState::Running : TState::Idle;
        return;
    }
    if (Returned)
        Fail(std::string("a Startup while the engine was ") + NameOf(Before) +
             " was accepted: it must be refused before anything changes");
    if (Registry_ != RegistryBefore)
        Fail(std::string("a Startup while the engine was ") + NameOf(Before) + " replaced the registry, then raised " +
             Refusal_ + ": it must be refused before anything changes");
    if (Before != TState::Running && Refusal_ != "EORVException")
        Fail(std::string("a Startup while the engine was ") + NameOf(Before) + " was refused with " + Refusal_ +
             ", not with EORVException");
}

void TDriver::Shutdown() {
    Sync();
    const TState Before = State_;
    if (Before == TState::Running) State_ = TState::Stopping;
    const bool Returned = Call("Shutdown", [&] { Engine_->Shutdown(); });
    Sync();
    if (Before == TState::Running)
        State_ = TState::Idle;
    else if (Returned)
        Fail(std::string("a Shutdown while the engine was ") + NameOf(Before) + " was accepted");
}

void TDriver::Load(const std::string& Folder, const std::vector<TCollectionView>* Known) {
    Sync();
    std::vector<TCollectionView> Fresh;
    const std::vector<TCollectionView>& BeforeViews = Known ? *Known : (Fresh = Reachable());
    // The model takes the load when its delta arrives (a listener may act on the registry then),
    // or else when the call returns.
    PendingLoads_.push_back({Folder, false});
    const bool Returned = Call("LoadPlugins(" + Folder + ")", [&] { Engine_->LoadPlugins({Folder}); });
    const bool Taken = PendingLoads_.back().second;
    PendingLoads_.pop_back();
    Sync();
    if (Returned) {
        if (!Model_) Fail("LoadPlugins returned on an engine without a registry");
        if (!Taken) Model_->Add(World_, World_.FoldersUnder(Folder), Serial_);
        return;
    }
    if (Taken) Fail("LoadPlugins(" + Folder + ") delivered a delta, then raised");
    // The registry's unions are caches, rebuilt from the plug-ins present whenever plug-ins come or
    // go (an unload in progress drops them only at its end): CheckRegistry holds them, and what an
    // extension's GetExtensionPoints finds in them, to the plug-ins present.
    auto WithoutUnions = [](const std::vector<TCollectionView>& Views) {
        std::vector<const TCollectionView*> Result;
        for (const TCollectionView& V : Views)
            if (!V.FromCache) Result.push_back(&V);
        return Result;
    };
    const std::vector<TCollectionView> AfterViews = Reachable();
    const std::vector<const TCollectionView*> Before = WithoutUnions(BeforeViews), After = WithoutUnions(AfterViews);
    for (std::size_t I = 0; I < std::max(Before.size(), After.size()); ++I) {
        if (I >= Before.size() || I >= After.size())
            Fail("a LoadPlugins that raised left another set of collections: " +
                 (I < Before.size() ? "lost the " + Before[I]->Role() : "gained the " + After[I]->Role()));
        bool Same = Before[I]->SameRole(*After[I]) && Before[I]->Items.size() == After[I]->Items.size();
        for (std::size_t J = 0; Same && J < Before[I]->Items.size(); ++J)
            Same = Before[I]->Items[J].Item == After[I]->Items[J].Item &&
                   (Before[I]->Items[J].Found == After[I]->Items[J].Found);
        if (!Same)
            Fail("a LoadPlugins that raised changed the " + Before[I]->Role() + " from " + Before[I]->Text() + " to " +
                 (Before[I]->SameRole(*After[I]) ? "" : "the " + After[I]->Role() + " ") + After[I]->Text());
    }
}

void TDriver::Unload(const std::string& Folder) {
    Sync();
    // The plug-ins present when the call begins leave; copies that plug-in code loads meanwhile stay.
    const std::set<uint32_t> Leaving = Model_ ? Model_->Under(World_, Folder) : std::set<uint32_t>();
    const bool Returned = Call("UnloadPlugins(" + Folder + ")", [&] { Engine_->UnloadPlugins({Folder}); });
    Sync();
    if (Returned && Model_) Model_->Remove(Leaving);
}

void TDriver::Start(std::size_t Record, IORVDescriptor* Descriptor) {
    const std::string Name = World_.Records[Record].Plan->Name;
    if (World_.Records[Record].StartReturned) Fail("Start of plug-in " + Name + " again, after its Start had returned");
    bool InRegistry = false;
    if (Ref<IORVRegistry> Registry = Descriptor->GetRegistry()) {
        Ref<IORVDescriptors> All = Registry->GetDescriptors();
        for (int32_t I = 0; I < All->GetCount() && !InRegistry; ++I) InRegistry = All->GetItem(I).Get() == Descriptor;
    }
    if (!InRegistry) Fail("Start of plug-in " + Name + " whose descriptor has left its registry (unloaded)");
    ++World_.Records[Record].StartCalls;
    Perform(*World_.Records[Record].Plan, OnStart);
    World_.Records[Record].StartReturned = true;
}

void TDriver::Stop(std::size_t Record) {
    const std::string Name = World_.Records[Record].Plan->Name;
    const int Stops = ++World_.Records[Record].StopCalls;
    if (!World_.Records[Record].StartReturned) Fail("Stop of plug-in " + Name + " whose Start never returned");
    if (Stops > 1) Fail("a second Stop of plug-in " + Name);
    Perform(*World_.Records[Record].Plan, OnStop);
}

// --- the checks --------------------------------------------------------------------------------

void TDriver::CheckRegistry(IORVRegistry* Registry, TRegistryModel& Model, const std::string& Which) {
    Ref<IORVDescriptors> Descriptors = Registry->GetDescriptors();
    std::vector<Ref<IORVDescriptor>> Items;
    bool Same = static_cast<std::size_t>(Descriptors->GetCount()) == Model.Present.size();
    for (int32_t I = 0; I < Descriptors->GetCount(); ++I) {
        Items.push_back(Descriptors->GetItem(I));
        Same = Same && Items.back()->GetName() == Model.Present[static_cast<std::size_t>(I)].Plan->Name;
    }
    if (!Same) {
        std::string Actual, Expected;
        for (const auto& D : Items) Actual += " " + D->GetName();
        for (const TInstance& I : Model.Present) Expected += " " + I.Plan->Name;
        Fail(Which + " holds the plug-ins [" + Actual + " ]; the manifests read, minus those unloaded, are [" +
             Expected + " ]");
    }

    // Which copy and extension each extension object of the registry is; the ids of the points.
    std::vector<std::pair<const void*, TEnd>> ExtensionOf;
    std::vector<std::string> PresentPoints;
    std::vector<const void*> OwnExtensions, OwnPoints;
    for (std::size_t I = 0; I < Items.size(); ++I) {
        const uint32_t Serial = Model.Present[I].Serial;
        auto B = Model.Bound.find(Items[I].Get());
        auto Back = Model.BoundBack.find(Serial);
        if ((B != Model.Bound.end() && B->second != Serial) ||
            (Back != Model.BoundBack.end() && Back->second != Items[I].Get()))
            Fail(Which + " holds at " + std::to_string(I) + " another copy of plug-in " + Model.Present[I].Plan->Name +
                 " than the one left there");
        if (Back == Model.BoundBack.end()) {
            Model.Bound[Items[I].Get()] = Serial;
            Model.BoundBack[Serial] = Items[I].Get();
        }
        Ref<IORVExtensions> Own = Items[I]->GetExtensions();
        for (int32_t J = 0; J < Own->GetCount(); ++J) ExtensionOf.push_back({Own->GetItem(J).Get(), {Serial, J}});
        for (int X = 0; X < Model.Present[I].Plan->Points; ++X)
            PresentPoints.push_back(Model.Present[I].Plan->ID + ".x" + std::to_string(X));
        Append(OwnExtensions, Own);
        Append(OwnPoints, Items[I]->GetExtensionPoints());
    }
    // The unions: the plug-ins' own items, plug-in after plug-in.
    std::vector<const void*> UnionExtensions, UnionPoints;
    Append(UnionExtensions, Registry->GetExtensions());
    Append(UnionPoints, Registry->GetExtensionPoints());
    if (UnionExtensions != OwnExtensions) Fail(Which + ": its union of extensions is not its plug-ins' extensions");
    if (UnionPoints != OwnPoints) Fail(Which + ": its union of extension points is not its plug-ins' points");
    std::sort(ExtensionOf.begin(), ExtensionOf.end());
    std::sort(PresentPoints.begin(), PresentPoints.end());
    auto Text = [](const std::vector<TEnd>& Ends) {
        std::string T;
        for (const TEnd& E : Ends) T += " e" + std::to_string(E.second) + " of copy " + std::to_string(E.first);
        return T + " ";
    };

    for (std::size_t I = 0; I < Items.size(); ++I) {
        const TInstance& Copy = Model.Present[I];
        Ref<IORVExtensionPoints> Points = Items[I]->GetExtensionPoints();
        for (int32_t J = 0; J < Points->GetCount(); ++J) {
            Ref<IORVExtensionPoint> Point = Points->GetItem(J);
            Ref<IORVExtensions> Linked = Point->GetExtensions();
            std::vector<TEnd> Have, Want;
            for (int32_t K = 0; K < Linked->GetCount(); ++K) {
                Ref<IORVExtension> Extension = Linked->GetItem(K);
                auto It = std::lower_bound(ExtensionOf.begin(), ExtensionOf.end(),
                                           std::make_pair<const void*, TEnd>(Extension.Get(), {}));
                if (It == ExtensionOf.end() || It->first != Extension.Get())
                    Fail(Which + ": point [" + Point->GetID() + "] of " + Copy.Plan->Name + " lists extension [" +
                         IdOf(Extension) + "] of a plug-in that is not in the registry");
                Have.push_back(It->second);
            }
            std::vector<std::pair<uint64_t, TEnd>> Making;
            for (const auto& L : Model.Links)
                if (L.first.second == TEnd{Copy.Serial, J}) Making.emplace_back(L.second, L.first.first);
            std::sort(Making.begin(), Making.end());
            for (const auto& M : Making) Want.push_back(M.second);
            if (Have != Want)
                Fail(Which + ": point [" + Point->GetID() + "] of " + Copy.Plan->Name + " (copy " +
                     std::to_string(Copy.Serial) + ") lists the extensions [" + Text(Have) +
                     "]; the plug-ins present link [" + Text(Want) + "] to it");
        }
        Ref<IORVExtensions> Own = Items[I]->GetExtensions();
        for (int32_t J = 0; J < Own->GetCount(); ++J) {
            Ref<IORVExtension> Extension = Own->GetItem(J);
            if (static_cast<std::size_t>(J) >= Copy.Plan->Named.size())
                Fail(Which + ": plug-in " + Copy.Plan->Name + " has more extensions than its manifest declares");
            Ref<IORVExtensionPoints> Named;
            try {
                Named = Extension->GetExtensionPoints();
            } catch (const std::exception& E) {
                Fail(Which + ": GetExtensionPoints() of extension [" + IdOf(Extension) + "] of " + Copy.Plan->Name +
                     " raised: " + E.what());
            }
            const TCollectionView View = ::View("points of extension", Extension.Get(), IdOf(Extension), Named);
            CheckFind(View);
            std::vector<std::string> Have, Want;
            for (const TItemView& Item : View.Items) Have.push_back(Item.Id);
            for (const std::string& Id : Copy.Plan->Named[static_cast<std::size_t>(J)])
                if (std::binary_search(PresentPoints.begin(), PresentPoints.end(), Id)) Want.push_back(Id);
            std::sort(Have.begin(), Have.end());
            std::sort(Want.begin(), Want.end());
            Want.erase(std::unique(Want.begin(), Want.end()), Want.end());
            if (Have != Want)
                Fail(Which + ": GetExtensionPoints() of extension [" + IdOf(Extension) + "] of " + Copy.Plan->Name +
                     " does not give the present points it names");
        }
    }
}

void TDriver::CheckFind(const TCollectionView& View) {
    for (const TItemView& I : View.Items) {
        if (!I.Searched) continue;
        if (!I.Found)
            Fail("the " + View.Role() + " lists [" + I.Id + "] but its Find(\"" + I.Id +
                 "\") gives nil: " + View.Text());
        if (!I.SameId)
            Fail("the " + View.Role() + " lists [" + I.Id + "] but its Find of that id gives an item with another id");
    }
}

std::vector<TCollectionView> TDriver::Reachable() {
    std::vector<TCollectionView> Result;
    Result.reserve(64);
    std::set<const void*> Seen;
    auto Point = [&](const Ref<IORVExtensionPoint>& P) {
        Result.push_back(View("extensions linked to point", P.Get(), IdOf(P), P->GetExtensions()));
    };
    auto Descriptor = [&](const Ref<IORVDescriptor>& D) {
        Ref<IORVExtensions> Extensions = D->GetExtensions();
        Ref<IORVExtensionPoints> Points = D->GetExtensionPoints();
        Result.push_back(View("extensions of plug-in", D.Get(), D->GetName(), Extensions));
        Result.push_back(View("extension points of plug-in", D.Get(), D->GetName(), Points));
        for (int32_t I = 0; I < Points->GetCount(); ++I) Point(Points->GetItem(I));
    };
    auto Registry = [&](const Ref<IORVRegistry>& R) {
        if (!R || !Seen.insert(R.Get()).second) return;
        Ref<IORVDescriptors> Descriptors = R->GetDescriptors();
        Result.push_back(View("descriptors of registry", R.Get(), "", Descriptors));
        Result.push_back(View("union of extensions of registry", R.Get(), "", R->GetExtensions()));
        Result.back().FromCache = true;
        Result.push_back(View("union of extension points of registry", R.Get(), "", R->GetExtensionPoints()));
        Result.back().FromCache = true;
        for (int32_t I = 0; I < Descriptors->GetCount(); ++I) Descriptor(Descriptors->GetItem(I));
    };
    Registry(Ref<IORVRegistry>(Registry_));
    for (std::size_t S = 0; S < 6; ++S) {
        const THeld& H = Held_[S];
        const std::string Slot = "slot " + std::to_string(S);
        Registry(H.Registry);
        if (H.Descriptor) Descriptor(H.Descriptor);
        if (H.Point) Point(H.Point);
        if (H.Extension) {
            try {
                Result.push_back(View("points of extension", H.Extension.Get(), IdOf(H.Extension),
                                      H.Extension->GetExtensionPoints()));
                Result.back().FromCache = true;
            } catch (const EORVException&) {
                // Its plug-in or registry is gone, or a named point is missing (checked with the registry).
            }
        }
        if (H.Extensions) Result.push_back(View("extensions held in", nullptr, Slot, H.Extensions));
        if (H.Points) Result.push_back(View("extension points held in", nullptr, Slot, H.Points));
        if (H.Descriptors) Result.push_back(View("descriptors held in", nullptr, Slot, H.Descriptors));
    }
    return Result;
}

void TDriver::CheckAll() {
    Sync();
    if (Registry_) CheckRegistry(Registry_, *Model_, "the engine's registry");
    CheckMirror();
    for (std::size_t S = 0; S < 6; ++S)
        if (Held_[S].Registry && Held_[S].Registry.Get() != Registry_)
            CheckRegistry(Held_[S].Registry.Get(), *Held_[S].Model, "the registry held in slot " + std::to_string(S));
    Checked_ = Reachable();
    for (const TCollectionView& V : Checked_) CheckFind(V);
}

// --- the steps ---------------------------------------------------------------------------------

void TDriver::Step(TBytes& In) {
    const int Op = In.Next() % 10;
    switch (Op) {
        case 0: {
            const int S = In.Next() % 6;
            Note("drop slot " + std::to_string(S));
            Held_[S] = THeld();
            break;
        }
        case 1: {
            const int Kind = In.Next() % 8;
            const int32_t Index = In.Next();
            THeld& Slot = Held_[In.Next() % 6];
            Sync();
            if (!Registry_) break;
            Ref<IORVRegistry> R(Registry_);
            Note("hold object kind " + std::to_string(Kind) + " #" + std::to_string(Index));
            Slot = THeld();
            Ref<IORVDescriptors> Descriptors = R->GetDescriptors();
            Ref<IORVExtensions> Extensions = R->GetExtensions();
            Ref<IORVExtensionPoints> Points = R->GetExtensionPoints();
            auto Pick = [Index](const auto& Collection) {
                return Collection->GetItem(Collection->GetCount() ? Index % Collection->GetCount() : 0);
            };
            if (Kind == 0) {
                Slot.Registry = R;
                Slot.Model = Model_;
            }
            if (Kind == 1 && Descriptors->GetCount()) Slot.Descriptor = Pick(Descriptors);
            if (Kind == 2 && Extensions->GetCount()) Slot.Extension = Pick(Extensions);
            if (Kind == 3 && Points->GetCount()) Slot.Point = Pick(Points);
            if (Kind == 4) Slot.Extensions = Extensions;
            if (Kind == 5) Slot.Points = Points;
            if (Kind == 6) Slot.Descriptors = Descriptors;
            if (Kind == 7 && Points->GetCount()) Slot.Extensions = Pick(Points)->GetExtensions();
            break;
        }
        case 2: {
            THeld& Slot = Held_[In.Next() % 6];
            const bool CallIt = In.Next() & 1;
            if (!Slot.Extension) break;
            // Only a plug-in of the running registry, or one that has left its registry, is asked:
            // nothing would ever stop a plug-in that a registry not running starts.
            Ref<IORVDescriptor> Owner;
            try {
                Owner = Slot.Extension->GetDescriptor();
            } catch (const EORVException&) {
            }
            Ref<IORVRegistry> OwnerRegistry = Owner ? Owner->GetRegistry() : nullptr;
            if (OwnerRegistry && (OwnerRegistry.Get() != Registry_ || State_ != TState::Running)) break;
            Ref<IORVExtension> Extension = Slot.Extension;
            Call("GetFactory of " + IdOf(Extension) + (CallIt ? ", called" : ""), [&] {
                TORVFactory Factory = Extension->GetFactory();
                if (!Factory || !CallIt) return;
                Ref<IInterface> Made;
                Factory(Made.Put(), Extension.Get());
            });
            break;
        }
        case 3:
            Load(World_.FolderArg(In.Next()), &Checked_);
            break;
        case 4:
            Unload(World_.FolderArg(In.Next()));
            break;
        case 5: {
            TStringDynArray Paths(1 + In.Next() % 2);
            std::vector<int> Read;
            std::string Text;
            for (std::string& Path : Paths) {
                Path = World_.FolderArg(In.Next());
                for (int F : World_.FoldersUnder(Path)) Read.push_back(F);
                Text += (Text.empty() ? "" : " ") + Path;
            }
            THeld& Slot = Held_[In.Next() % 6];
            Ref<IORVRegistry> Parsed;
            if (!Call("ParsePaths(" + Text + ")", [&] { Parsed = Object_->ParsePaths(Paths, ""); })) break;
            Slot = THeld();
            Slot.Registry = Parsed;
            Slot.Model = std::make_shared<TRegistryModel>();
            Slot.Model->Add(World_, Read, Serial_);
            break;
        }
        case 6:
            Shutdown();
            break;
        case 7: {
            std::vector<int> Chosen(1 + In.Next() % 3);
            for (int& F : Chosen) F = In.Next() % static_cast<int>(World_.Folders.size());
            Startup(&Chosen);
            break;
        }
        case 8:
            Startup(nullptr);
            break;
        case 9: {
            static const TAction Actions[] = {TAction::None, TAction::Throw, TAction::Load, TAction::Unload,
                                              TAction::Shutdown};
            ListenerAction_ = Actions[In.Next() % 5];
            ListenerArg_ = World_.FolderArg(In.Next());
            break;
        }
        default:
            break;
    }
    CheckAll();
}

void TDriver::Finish() {
    if (State_ == TState::Running) Shutdown();
    CheckAll();
    Mirror_.reset();
    Superseded_.clear();
    for (THeld& H : Held_) H = THeld();
    Model_.reset();
    Registry_ = nullptr;
    Engine_ = nullptr;
    for (const TPluginRecord& R : World_.Records)
        if (R.StartReturned && R.StopCalls == 0)
            Fail("plug-in " + R.Plan->Name + " was started (its Start returned) and never stopped");
    if (World_.LibrariesOpen != 0)
        Fail(std::to_string(World_.LibrariesOpen) + " plug-in libraries outlived the engine");
}

// --- the mirror ----------------------------------------------------------------------------------

void TDriver::Apply(IORVRegistryDelta* Delta) {
    static const char* const Kinds[] = {"startup", "load", "unload", "start", "shutdown"};
    const int32_t Kind = Delta->GetKind();
    if (Kind < dkStartup || Kind > dkShutdown) Fail("a delta of kind " + std::to_string(Kind));
    Ref<IORVRegistry> Registry = Delta->GetRegistry();
    Note(std::string("delta: ") + Kinds[Kind]);
    if (Kind == dkStartup) {
        if (Mirror_) Superseded_.push_back(Mirror_->Registry);
        Mirror_ = std::make_unique<TMirror>();
        Mirror_->Registry = Registry;
        // Delivered before Startup returns: the engine runs, unless its start failed.
        if (State_ == TState::Building && !TConverter::ToRegistry(Registry)->IsClosed()) State_ = TState::Running;
    } else if (!Mirror_ || Mirror_->Registry.Get() != Registry.Get()) {
        // A call that was under way on a registry when plug-in code started the engine anew ends
        // after the new registry's startup delta: the mirror follows the new one.
        const bool Earlier = std::any_of(Superseded_.begin(), Superseded_.end(),
                                         [&Registry](const Ref<IORVRegistry>& R) { return R.Get() == Registry.Get(); });
        if (Earlier) return;
        Fail(std::string("a ") + Kinds[Kind] + " delta of a registry that no startup delta reported");
    }
    TMirror& M = *Mirror_;
    auto Position = [&M](const Ref<IORVDescriptor>& D) {
        return std::find_if(M.Plugins.begin(), M.Plugins.end(),
                            [&D](const Ref<IORVDescriptor>& P) { return P.Get() == D.Get(); });
    };
    if (Kind == dkLoad && !PendingLoads_.empty() && !PendingLoads_.back().second) {
        Sync();
        if (Model_) Model_->Add(World_, World_.FoldersUnder(PendingLoads_.back().first), Serial_);
        PendingLoads_.back().second = true;
    }
    Ref<IORVDescriptors> Added = Delta->GetAdded();
    for (int32_t I = 0; I < Added->GetCount(); ++I) {
        Ref<IORVDescriptor> D = Added->GetItem(I);
        if (Position(D) != M.Plugins.end()) Fail("a delta adds plug-in " + D->GetName() + ", which the mirror holds");
        M.Plugins.push_back(D);
    }
    Ref<IORVExtensionPoints> Points = Delta->GetChangedPoints();
    for (int32_t I = 0; I < Points->GetCount(); ++I) {
        Ref<IORVExtensionPoint> Point = Points->GetItem(I);
        auto& Entry = M.Links[Point.Get()];
        Entry.first = Point;
        auto& List = Entry.second;
        auto Find = [&List](IORVExtension* E) {
            return std::find_if(List.begin(), List.end(), [E](const Ref<IORVExtension>& X) { return X.Get() == E; });
        };
        Ref<IORVExtensions> Unlinked = Delta->GetUnlinked(I), Linked = Delta->GetLinked(I);
        for (int32_t J = 0; J < Unlinked->GetCount(); ++J) {
            auto It = Find(Unlinked->GetItem(J).Get());
            if (It == List.end())
                Fail("a delta unlinks [" + IdOf(Unlinked->GetItem(J)) + "] from [" + IdOf(Point) +
                     "], which the mirror does not link");
            List.erase(It);
        }
        for (int32_t J = 0; J < Linked->GetCount(); ++J) {
            if (Find(Linked->GetItem(J).Get()) != List.end())
                Fail("a delta links [" + IdOf(Linked->GetItem(J)) + "] to [" + IdOf(Point) + "] twice");
            List.push_back(Linked->GetItem(J));
        }
    }
    Ref<IORVDescriptors> Removed = Delta->GetRemoved();
    for (int32_t I = 0; I < Removed->GetCount(); ++I) {
        Ref<IORVDescriptor> D = Removed->GetItem(I);
        auto It = Position(D);
        if (It == M.Plugins.end()) Fail("a delta removes plug-in " + D->GetName() + ", which the mirror lacks");
        M.Plugins.erase(It);
        Ref<IORVExtensionPoints> Own = D->GetExtensionPoints();
        for (int32_t J = 0; J < Own->GetCount(); ++J) {
            auto Links = M.Links.find(Own->GetItem(J).Get());
            if (Links == M.Links.end()) continue;
            if (!Links->second.second.empty())
                Fail("a delta removes plug-in " + D->GetName() + " whose point [" + IdOf(Own->GetItem(J)) +
                     "] still lists extensions");
            M.Links.erase(Links);
        }
        M.Started.erase(D.Get());
    }
    Ref<IORVDescriptors> Started = Delta->GetStarted(), Stopped = Delta->GetStopped();
    for (int32_t I = 0; I < Stopped->GetCount(); ++I)
        if (!M.Started.erase(Stopped->GetItem(I).Get()) && Position(Stopped->GetItem(I)) != M.Plugins.end())
            Fail("a delta stops plug-in " + Stopped->GetItem(I)->GetName() + ", which was not started");
    for (int32_t I = 0; I < Started->GetCount(); ++I)
        if (!M.Started.insert(Started->GetItem(I).Get()).second)
            Fail("a delta starts plug-in " + Started->GetItem(I)->GetName() + " twice");

    const TAction Action = ListenerAction_;
    if (Action == TAction::None || Depth_ >= 3) return;
    ListenerAction_ = TAction::None;
    Note("in the listener:");
    if (Action == TAction::Throw) throw TListenerFault("the listener fails");
    ++Depth_;
    if (Action == TAction::Load)
        Load(ListenerArg_);
    else if (Action == TAction::Unload)
        Unload(ListenerArg_);
    else
        Shutdown();
    --Depth_;
}

void TDriver::CheckMirror() {
    if (!Registry_) return;
    if (!Mirror_ || Mirror_->Registry.Get() != Registry_) Fail("no startup delta reported the engine's registry");
    const TMirror& M = *Mirror_;
    TORVRegistry* Object = TConverter::ToRegistry(Registry_);
    Ref<IORVDescriptors> Descriptors = Registry_->GetDescriptors();
    bool Same = static_cast<std::size_t>(Descriptors->GetCount()) == M.Plugins.size();
    std::string Actual, Mirrored;
    for (int32_t I = 0; I < Descriptors->GetCount(); ++I) {
        Actual += " " + Descriptors->GetItem(I)->GetName();
        Same = Same && Descriptors->GetItem(I).Get() == M.Plugins[static_cast<std::size_t>(I)].Get();
    }
    for (const Ref<IORVDescriptor>& D : M.Plugins) Mirrored += " " + D->GetName();
    if (!Same) Fail("the deltas add up to the plug-ins [" + Mirrored + " ], the registry holds [" + Actual + " ]");

    std::size_t Linked = 0;
    std::set<const void*> Running;
    for (int32_t I = 0; I < Descriptors->GetCount(); ++I) {
        Ref<IORVDescriptor> D = Descriptors->GetItem(I);
        TORVDescriptor* Plugin = TConverter::ToDescriptor(D);
        if (!Object->IsClosed() && Plugin->IsStarted() && !Plugin->IsStopped()) Running.insert(D.Get());
        Ref<IORVExtensionPoints> Points = D->GetExtensionPoints();
        for (int32_t J = 0; J < Points->GetCount(); ++J) {
            Ref<IORVExtensionPoint> Point = Points->GetItem(J);
            Ref<IORVExtensions> Have = Point->GetExtensions();
            auto Entry = M.Links.find(Point.Get());
            const std::size_t Count = Entry == M.Links.end() ? 0 : Entry->second.second.size();
            bool Equal = Count == static_cast<std::size_t>(Have->GetCount());
            for (std::size_t K = 0; Equal && K < Count; ++K)
                Equal = Entry->second.second[K].Get() == Have->GetItem(static_cast<int32_t>(K)).Get();
            if (!Equal) {
                std::string Want;
                for (std::size_t K = 0; K < Count; ++K) Want += " " + IdOf(Entry->second.second[K]);
                Fail("the deltas add up to the extensions [" + Want + " ] of point [" + IdOf(Point) + "] of " +
                     D->GetName() + ", which lists " + ::View("", nullptr, "", Have).Text());
            }
            Linked += Count;
        }
    }
    std::size_t Mirrored_ = 0;
    for (const auto& Entry : M.Links) Mirrored_ += Entry.second.second.size();
    if (Mirrored_ != Linked) Fail("the deltas leave links to points that are not in the registry");
    if (Running != M.Started) Fail("the deltas add up to another set of started plug-ins than the registry's");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, std::size_t Size) {
    TBytes In(Data, Size);
    TWorld World(In);
    TPlatformOverride UseWorld(World);
    {
        TDriver Driver(World);
        for (int Steps = 0; !In.Done() && Steps < 32; ++Steps) Driver.Step(In);
        Driver.Finish();
    }
    fuzz::CheckNothingLeft();
    return 0;
}
