// Registry listeners (IORVRegistryEvents) on an engine of this process: what each delta says, the
// order of delivery, listeners that raise, remove listeners or call the engine back, and the
// references the engine holds. The lifecycle fuzz target checks that the deltas add up to the
// registry over random sequences; these are the cases it does not reach.
#include "Engine/ORVEngineImpl.h"
#include "ModelTestSupport.h"
#include "Support/RecordingLogger.h"
#include "Support/TempFolder.h"

#include <functional>
#include <stdexcept>

using namespace orv;
using namespace orv::test;

namespace {

using TStrings = std::vector<std::string>;

std::string KindName(int32_t Kind) {
    static const char* const Names[] = {"startup", "load", "unload", "start", "shutdown"};
    return Kind >= 0 && Kind <= dkShutdown ? Names[Kind] : "?";
}

template <class T>
std::string IDs(const Ref<T>& Items) {
    std::string Text;
    for (int32_t I = 0; I < Items->GetCount(); ++I) Text += (I ? "," : "") + Items->GetItem(I)->GetID();
    return Text;
}

// One line per delta: "load +a,b -c started:a stopped:c a.slot:+b.x-c.y".
std::string Describe(IORVRegistryDelta* Delta) {
    std::string Text = KindName(Delta->GetKind());
    const std::pair<const char*, Ref<IORVDescriptors>> Lists[] = {{" +", Delta->GetAdded()},
                                                                  {" -", Delta->GetRemoved()},
                                                                  {" started:", Delta->GetStarted()},
                                                                  {" stopped:", Delta->GetStopped()}};
    for (const auto& List : Lists)
        if (List.second->GetCount()) Text += List.first + IDs(List.second);
    Ref<IORVExtensionPoints> Points = Delta->GetChangedPoints();
    for (int32_t I = 0; I < Points->GetCount(); ++I) {
        Text += " " + Points->GetItem(I)->GetID() + ":";
        if (Delta->GetLinked(I)->GetCount()) Text += "+" + IDs(Delta->GetLinked(I));
        if (Delta->GetUnlinked(I)->GetCount()) Text += "-" + IDs(Delta->GetUnlinked(I));
    }
    return Text;
}

// Records each delta as "<name>: <Describe>" into a shared journal, then runs OnDelta.
class TListener : public TInterfacedObject<IORVRegistryListener> {
public:
    TListener(std::string Name, TStrings& Journal) : Name_(std::move(Name)), Journal_(Journal) {}
    void ORV_CALL RegistryChanged(IORVRegistryDelta* Delta) override {
        Journal_.push_back(Name_ + ": " + Describe(Delta));
        if (OnDelta) OnDelta(Delta);
    }
    int32_t ORV_CALL AddRef() override { return Count_ = TInterfacedObject::AddRef(); }
    int32_t ORV_CALL Release() override {
        const int32_t Left = TInterfacedObject::Release();
        if (Left) Count_ = Left;
        return Left;
    }
    int32_t RefCount() const { return Count_; }

    std::function<void(IORVRegistryDelta*)> OnDelta;

private:
    std::string Name_;
    TStrings& Journal_;
    int32_t Count_ = 0;
};

class RegistryEventsTest : public ::testing::Test {
protected:
    // Library-less plug-ins: a (started with the engine) declares a.slot; b (started with the
    // engine) extends it; c, in the folder "more", extends it too and starts on first use.
    void SetUp() override {
        Plugin("plugins/a", "<Plugin ID=\"a\" Initialize=\"true\"><ExtensionPoint ID=\"slot\"/></Plugin>");
        Plugin("plugins/b", "<Plugin ID=\"b\" Initialize=\"true\"><Extension ID=\"x\" Points=\"a.slot\"/></Plugin>");
        Plugin("more/c", "<Plugin ID=\"c\"><Extension ID=\"y\" Points=\"a.slot\"/></Plugin>");
        Tree.WriteFile("engine.xml", "<Engine Path=\"" + Tree.PathOf("plugins") + "\"/>");
    }
    void Plugin(const std::string& Folder, const std::string& Body) {
        Tree.WriteFile(Folder + "/plugin.xml", "<?xml version=\"1.0\"?>\n<Plugins>" + Body + "</Plugins>\n");
    }
    Ref<TListener> Listen(const std::string& Name) {
        Ref<TListener> Listener(new TListener(Name, Journal));
        Events->AddListener(Listener.Get());
        return Listener;
    }
    void Startup() { Engine->Startup(Tree.PathOf("engine.xml"), nullptr, -1); }
    TStrings Take() {
        TStrings Result;
        Result.swap(Journal);
        return Result;
    }

    TTempFolder Tree;
    Ref<TRecordingLogger> Logger = TRecordingLogger::Create();
    TLoggerScope UseLogger{Logger};
    Ref<IORVEngine> Engine{static_cast<IORVEngine*>(new TORVEngine())};
    Ref<IORVRegistryEvents> Events = Engine.Query<IORVRegistryEvents>();
    TStrings Journal;
};

TEST_F(RegistryEventsTest, EachCallDeliversItsNetChangeToTheListenersInTheOrderTheyWereAdded) {
    ASSERT_TRUE(Events);
    Ref<TListener> First = Listen("1"), Second = Listen("2");
    Startup();
    EXPECT_EQ(Take(), (TStrings{"1: startup +a,b started:a,b a.slot:+b.x", "2: startup +a,b started:a,b a.slot:+b.x"}));

    Engine->LoadPlugins({Tree.PathOf("more")});
    EXPECT_EQ(Take(), (TStrings{"1: load +c a.slot:+c.y", "2: load +c a.slot:+c.y"}));

    // The factory lookup starts c; a second one changes nothing and says nothing.
    Ref<IORVExtension> Lazy = Engine->GetRegistry()->GetExtensions()->Find("c.y");
    Lazy->GetFactory();
    Lazy->GetFactory();
    EXPECT_EQ(Take(), (TStrings{"1: start started:c", "2: start started:c"}));

    // b leaves: stopped, and its extension leaves a.slot.
    Engine->UnloadPlugins({Tree.PathOf("plugins/b")});
    EXPECT_EQ(Take(), (TStrings{"1: unload -b stopped:b a.slot:-b.x", "2: unload -b stopped:b a.slot:-b.x"}));

    // An unload that selects nothing still reports, empty.
    Engine->UnloadPlugins({Tree.PathOf("nowhere")});
    EXPECT_EQ(Take(), (TStrings{"1: unload", "2: unload"}));

    Engine->Shutdown();
    EXPECT_EQ(Take(), (TStrings{"1: shutdown stopped:a,c", "2: shutdown stopped:a,c"}));

    // After a shutdown plug-ins still come and go, none of them started.
    Engine->UnloadPlugins({Tree.PathOf("plugins/a")});
    EXPECT_EQ(Take(), (TStrings{"1: unload -a a.slot:-c.y", "2: unload -a a.slot:-c.y"}));
}

TEST_F(RegistryEventsTest, ARemovedPluginStillAnswersThroughADeltaHeldAfterItsCall) {
    Ref<IORVRegistryDelta> Kept;
    Ref<TListener> Listener = Listen("1");
    Listener->OnDelta = [&](IORVRegistryDelta* Delta) { Kept = Ref<IORVRegistryDelta>(Delta); };
    Startup();
    Engine->UnloadPlugins({Tree.PathOf("plugins")});
    Engine->Shutdown();
    Events->RemoveListener(Listener.Get());
    Engine = nullptr;
    Events = nullptr;
    ASSERT_TRUE(Kept);
    EXPECT_EQ(Describe(Kept.Get()), "shutdown");
    Kept = nullptr;
    Take();
}

TEST_F(RegistryEventsTest, ListenersThatRaiseAreLoggedTheOthersStillHearAndTheCallRaisesTheFirst) {
    Ref<TListener> First = Listen("1"), Second = Listen("2"), Third = Listen("3");
    First->OnDelta = [](IORVRegistryDelta*) { throw std::runtime_error("first refuses"); };
    Second->OnDelta = [](IORVRegistryDelta*) { throw EORVException("second refuses"); };
    EXPECT_EQ(MessageOf([&] { Startup(); }), "first refuses");
    EXPECT_EQ(Take().size(), 3u);
    TStrings Errors;
    for (const TLogRecord& R : Logger->Records())
        if (R.Level == TLogLevel::Error) Errors.push_back(R.Message);
    EXPECT_EQ(Errors, (TStrings{"A registry listener raised: first refuses", "A registry listener raised: second refuses"}));

    // The change happened all the same: the engine runs, and the load is in the registry.
    EXPECT_EQ(MessageOf([&] { Engine->LoadPlugins({Tree.PathOf("more")}); }), "first refuses");
    EXPECT_TRUE(Engine->GetRegistry()->GetDescriptors()->Find("c"));
    First->OnDelta = nullptr;
    Second->OnDelta = nullptr;
    Engine->Shutdown();
    EXPECT_EQ(Take(), (TStrings{"1: load +c a.slot:+c.y", "2: load +c a.slot:+c.y", "3: load +c a.slot:+c.y",
                                "1: shutdown stopped:a,b", "2: shutdown stopped:a,b", "3: shutdown stopped:a,b"}));
}

TEST_F(RegistryEventsTest, AFailedLoadLeavesTheRegistryAsItWasAndDeliversNothing) {
    Plugin("broken/d", "<Plugin ID=\"d\"><ExtensionPoint ID=\"own\"/><Extension ID=\"z\" Points=\"nowhere.point\"/></Plugin>");
    Ref<TListener> Listener = Listen("1");
    Startup();
    Take();
    EXPECT_NE(MessageOf([&] { Engine->LoadPlugins({Tree.PathOf("broken")}); }), "<nothing raised>");
    EXPECT_EQ(Take(), TStrings{});
    // The next call reports from where the registry stands.
    Engine->LoadPlugins({Tree.PathOf("more")});
    Engine->Shutdown();
    EXPECT_EQ(Take(), (TStrings{"1: load +c a.slot:+c.y", "1: shutdown stopped:a,b"}));
}

TEST_F(RegistryEventsTest, ListenersAddedOrRemovedDuringDeliveryTakeEffectForTheNextDelta) {
    Ref<TListener> Remover = Listen("remover"), Removed = Listen("removed"), Self = Listen("self");
    Ref<TListener> Late(new TListener("late", Journal));
    Remover->OnDelta = [&](IORVRegistryDelta*) {
        Events->RemoveListener(Removed.Get());
        Events->AddListener(Late.Get());
    };
    Self->OnDelta = [&](IORVRegistryDelta*) { Events->RemoveListener(Self.Get()); };
    Startup();
    Engine->Shutdown();
    EXPECT_EQ(Take(), (TStrings{"remover: startup +a,b started:a,b a.slot:+b.x", "self: startup +a,b started:a,b a.slot:+b.x",
                                "remover: shutdown stopped:a,b", "late: shutdown stopped:a,b"}));
    // Only what is registered is held: the test's reference, and the engine's for the two left.
    EXPECT_EQ(Removed->RefCount(), 1);
    EXPECT_EQ(Self->RefCount(), 1);
    EXPECT_EQ(Remover->RefCount(), 2);
    EXPECT_EQ(Late->RefCount(), 2);
    Remover->OnDelta = nullptr;
    // A listener added twice is held once; nil is refused.
    Events->AddListener(Late.Get());
    EXPECT_EQ(Late->RefCount(), 2);
    EXPECT_EQ(MessageOf([&] { Events->AddListener(nullptr); }), "Argument cannot be null");
    Events->RemoveListener(Late.Get());
    EXPECT_EQ(Late->RefCount(), 1);
    // The engine lets go of the listeners still added when it goes.
    Events = nullptr;
    Engine = nullptr;
    EXPECT_EQ(Remover->RefCount(), 1);
}

TEST_F(RegistryEventsTest, ALoadFromInsideAListenerReachesEveryListenerAfterTheDeltaUnderWay) {
    Ref<TListener> Loader = Listen("loader"), Watcher = Listen("watcher");
    bool Loaded = false;
    Loader->OnDelta = [&](IORVRegistryDelta* Delta) {
        if (Delta->GetKind() != dkStartup || Loaded) return;
        Loaded = true;
        // The registry is complete when the delta arrives, and the load is honoured at once.
        EXPECT_EQ(IDs(Engine->GetRegistry()->GetDescriptors()), "a,b");
        Engine->LoadPlugins({Tree.PathOf("more")});
        EXPECT_EQ(IDs(Engine->GetRegistry()->GetDescriptors()), "a,b,c");
    };
    Startup();
    Engine->Shutdown();
    EXPECT_EQ(Take(), (TStrings{"loader: startup +a,b started:a,b a.slot:+b.x", "watcher: startup +a,b started:a,b a.slot:+b.x",
                                "loader: load +c a.slot:+c.y", "watcher: load +c a.slot:+c.y",
                                "loader: shutdown stopped:a,b", "watcher: shutdown stopped:a,b"}));
}

TEST_F(RegistryEventsTest, AShutdownFromAListenerIsHonouredAndTheStartupThatDeliveredItRunsNoApplication) {
    Ref<TListener> Stopper = Listen("stopper");
    Stopper->OnDelta = [&](IORVRegistryDelta* Delta) {
        if (Delta->GetKind() == dkStartup) Engine->Shutdown();
    };
    EXPECT_EQ(MessageOf([&] { Startup(); }), LoadMessage(SEngineNotStarted));
    EXPECT_EQ(Take(), (TStrings{"stopper: startup +a,b started:a,b a.slot:+b.x", "stopper: shutdown stopped:a,b"}));
}

}  // namespace
