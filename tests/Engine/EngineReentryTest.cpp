// Plug-in code that calls the engine back (the probe's script), and the registry it leaves: every
// call is honoured or refused before anything changes, every plug-in whose Start returned gets
// exactly one Stop, and every collection finds what it lists.
#include "EngineFixture.h"

#include <cstdint>
#include <cstdio>
#include <map>

using namespace orv;
using namespace orv::test;

namespace {

class EngineReentryTest : public TEngineFixture {
protected:
    // a.first, b.actor, c.last (started with the engine, in this order), d.app (the application,
    // started on first use), e.lazy (never asked for) and the runtime plug-in that declares the
    // applications point.
    void WriteActorTree() const {
        Manifest("plugins/0runtime", PluginElement("ORVEngine.Runtime", true, PointElement("applications")));
        Manifest("plugins/a", PluginElement("a.first", true));
        Manifest("plugins/b", PluginElement("b.actor", true));
        Manifest("plugins/c", PluginElement("c.last", true));
        Manifest("plugins/d", PluginElement("d.app", false, ExtensionElement("main", ApplicationsPoint)));
        Manifest("plugins/e", PluginElement("e.lazy", false, ExtensionElement("x", ApplicationsPoint)));
    }
    // The probe's script: the engine Engine, then Lines.
    void Script(const Ref<IORVEngine>& Engine, const TStrings& Lines) const {
        char Address[32];
        std::snprintf(Address, sizeof Address, "%llx", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(Engine.Get())));
        std::string Text = std::string("engine ") + Address + "\n";
        for (const std::string& Line : Lines) Text += Line + "\n";
        Tree.WriteFile("orv-e2e-script.txt", Text);
    }
    // Every plug-in the journal shows started was stopped exactly once, and none other was.
    void ExpectEveryStartStoppedOnce() const {
        std::map<std::string, int> Started, Stopped;
        for (const std::string& Line : Journal()) {
            const std::size_t Space = Line.find(' ');
            const std::string Event = Line.substr(0, Space), Rest = Line.substr(Space + 1);
            if (Event == "start") ++Started[Rest.substr(0, Rest.find(' '))];
            if (Event == "stop") ++Stopped[Rest];
        }
        EXPECT_EQ(Started.size(), Stopped.size());
        for (const auto& Entry : Started) EXPECT_EQ(Stopped[Entry.first], 1) << Entry.first;
        for (const auto& Entry : Stopped) EXPECT_EQ(Started[Entry.first], 1) << Entry.first;
    }
    // The journal's call lines.
    TStrings Calls() const {
        TStrings Result;
        for (const std::string& Line : Journal())
            if (Line.compare(0, 5, "call ") == 0) Result.push_back(Line);
        return Result;
    }
};

// Every item a collection lists is found by that collection under its id.
template <class T>
void ExpectListedItemsFound(const Ref<T>& Collection, const std::string& What) {
    for (int32_t I = 0; I < Collection->GetCount(); ++I) {
        const std::string ID = Collection->GetItem(I)->GetID();
        auto Found = Collection->Find(ID);
        EXPECT_TRUE(Found && Found->GetID() == ID) << What << " lists " << ID << " but does not find it";
    }
}
void ExpectRegistryFindsWhatItLists(const Ref<IORVRegistry>& Registry) {
    ExpectListedItemsFound(Registry->GetDescriptors(), "the registry");
    ExpectListedItemsFound(Registry->GetExtensions(), "the extension union");
    Ref<IORVExtensionPoints> Points = Registry->GetExtensionPoints();
    ExpectListedItemsFound(Points, "the point union");
    for (int32_t I = 0; I < Points->GetCount(); ++I)
        ExpectListedItemsFound(Points->GetItem(I)->GetExtensions(), Points->GetItem(I)->GetID());
}

TEST_F(EngineReentryTest, CallsFromStartAndStopAreHonouredOrRefusedAndEveryStartIsStoppedOnce) {
    struct TCase {
        const char* Name;
        std::string Line;        // the script line of b.actor
        TStrings ExpectedCalls;  // the call lines of the journal
        TStrings NotStarted;     // plug-ins that must never start
    };
    const std::string Refusal = "call b.actor startup: refused: Startup refused: the engine is ";
    const TCase Cases[] = {
        // The start pass walks a registry that a nested start would replace.
        {"startup-in-start", "start b.actor startup " + Tree.PathOf("engine.xml"),
         {Refusal + "starting its plug-ins; call it once the start has ended"}, {}},
        // The pass goes on without the plug-ins dropped under it; b.actor, dropped while it started,
        // is stopped as soon as its Start returns.
        {"unload-all-in-start", "start b.actor unload " + Tree.PathOf("plugins"),
         {"call b.actor unload: ok"}, {"c.last", "d.app"}},
        {"unload-own-in-start", "start b.actor unload " + Tree.PathOf("plugins/b"),
         {"call b.actor unload: ok"}, {}},
        // Shutdown's stop pass would leave the new start's plug-ins running.
        {"startup-in-stop", "stop b.actor startup " + Tree.PathOf("engine.xml"),
         {Refusal + "stopping its plug-ins; call it once Shutdown has returned"}, {}},
        // A lazy plug-in asked for during the stop pass is not started: nothing would stop it.
        {"factory-in-stop", "stop b.actor factory e.lazy.x", {"call b.actor factory: ok"}, {"e.lazy"}},
    };
    for (const TCase& Case : Cases) {
        SCOPED_TRACE(Case.Name);
        WriteActorTree();
        Tree.WriteFile(JournalName, "");
        Ref<IORVEngine> Engine = Module.NewEngine();
        Script(Engine, {Case.Line});
        Engine->Startup(EngineConfig(PathAttribute("plugins")), nullptr, -1);
        Engine->Shutdown();
        Engine = nullptr;
        EXPECT_EQ(Calls(), Case.ExpectedCalls);
        for (const std::string& ID : Case.NotStarted)
            for (const std::string& Line : Journal()) EXPECT_NE(Line.rfind("start " + ID + " ", 0), 0u) << Line;
        ExpectEveryStartStoppedOnce();
    }
}

TEST_F(EngineReentryTest, UnloadedPluginsAreNeverStartedAgainAndTheirExtensionsLeaveNoHoles) {
    Manifest("plugins/p1", PluginElement("p1", true, PointElement("slot")));
    Manifest("plugins/p2", PluginElement("p2", true, PointElement("slot")));
    Manifest("plugins/x", PluginElement("x", false, ExtensionElement("e", "p1.slot,p2.slot")));
    // Two plug-ins of one id, each with an extension of one qualified id.
    Manifest("plugins/y1", PluginElement("dup", false, ExtensionElement("e", "p2.slot")));
    Manifest("plugins/y2", PluginElement("dup", false, ExtensionElement("e", "p2.slot")));
    Manifest("plugins/z", PluginElement("z", false, ExtensionElement("lazy", "p2.slot")));
    Ref<IORVEngine> Engine = Module.NewEngine();
    Script(Engine, {"stop p2 points"});
    Engine->Startup(EngineConfig(PathAttribute("plugins")), nullptr, -1);
    Ref<IORVRegistry> Registry = Engine->GetRegistry();
    Ref<IORVExtension> Held = Registry->GetExtensions()->Find("z.lazy");
    Ref<IORVDescriptor> HeldOwner = Held->GetDescriptor();
    Ref<IORVExtension> Survivor = Registry->GetExtensions()->Find("x.e");
    // The extension's element is one node object, however often it is asked for.
    EXPECT_EQ(Survivor->GetConfig().Get(), Survivor->GetConfig().Get());
    Logger->Clear();

    // The plug-in that owns one of x.e's points goes: x.e keeps the other, without an error.
    Engine->UnloadPlugins({Tree.PathOf("plugins/p1")});
    EXPECT_EQ(IDsOf(Survivor->GetExtensionPoints()), TStrings{"p2.slot"});
    for (const std::string& Line : LogLines()) EXPECT_NE(Line[0], 'E') << Line;

    // One of the two "dup" plug-ins goes: the other's extension is still listed and found.
    Engine->UnloadPlugins({Tree.PathOf("plugins/y2")});
    ExpectRegistryFindsWhatItLists(Registry);
    EXPECT_EQ(IDsOf(Registry->GetExtensionPoints()->Find("p2.slot")->GetExtensions()),
              (TStrings{"x.e", "dup.e", "z.lazy"}));

    // A held extension (and plug-in) of an unloaded plug-in does not start it.
    Engine->UnloadPlugins({Tree.PathOf("plugins/z")});
    EXPECT_EQ(MessageOf([&] { Held->GetFactory(); }), "Plug-in [z] has been unloaded: it cannot be started any more");

    // p2 still sees what plugs into its point while it stops.
    Engine->UnloadPlugins({Tree.PathOf("plugins/p2")});
    const TStrings Lines = Journal();
    EXPECT_NE(std::find(Lines.begin(), Lines.end(), "points p2.slot=x.e,dup.e"), Lines.end());
    Engine->Shutdown();
    for (const std::string& Line : Journal()) EXPECT_NE(Line, "start z env=");
    ExpectEveryStartStoppedOnce();
}

// A load that fails leaves every collection, keys included, as it was: here with a folder that
// was loaded, dropped and loaded again while another of its plug-ins fails.
TEST_F(EngineReentryTest, FailedLoadLeavesEveryCollectionAndKeyAsItWas) {
    Manifest("plugins/base", PluginElement("base", true, PointElement("slot")));
    Manifest("more/a", PluginElement("a", false, ExtensionElement("e", "base.slot")));
    Ref<IORVEngine> Engine = Module.NewEngine();
    Engine->Startup(EngineConfig(PathAttribute("plugins")), nullptr, -1);
    Ref<IORVRegistry> Registry = Engine->GetRegistry();
    Engine->LoadPlugins({Tree.PathOf("more")});
    Engine->UnloadPlugins({Tree.PathOf("more")});
    Engine->LoadPlugins({Tree.PathOf("more")});
    Ref<IORVExtensions> Linked = Registry->GetExtensionPoints()->Find("base.slot")->GetExtensions();
    const TStrings Before = IDsOf(Linked);
    IORVExtension* Found = Linked->Find("a.e").Get();

    Manifest("more/b", PluginElement("b", false, ExtensionElement("e", "base.nowhere")));
    EXPECT_FALSE(MessageOf([&] { Engine->LoadPlugins({Tree.PathOf("more")}); }).empty());
    EXPECT_EQ(IDsOf(Linked), Before);
    EXPECT_EQ(Linked->Find("a.e").Get(), Found);
    ExpectRegistryFindsWhatItLists(Registry);
    Engine->Shutdown();
}

}  // namespace
