// The engine library driven the way a host drives it: through its exports, with real plug-in
// libraries (e2e_probe, e2e_faulty) and a fixture tree written for each test. The probe plug-ins
// write what happens to them into the tree's journal file.
#include "EngineFixture.h"

using namespace orv;
using namespace orv::test;

namespace {

class EngineLifecycleTest : public TEngineFixture {};

// --- the start sequence ------------------------------------------------------------------------

TEST_F(EngineLifecycleTest, StartupRunsTheSequenceInOrderAndShutdownStopsInDescriptorOrder) {
    WriteApplicationTree();
    const std::string Config = EngineConfig(PathAttribute("plugins"), GreetingVariables);
    Ref<IORVEngine> Engine = Module.NewEngine();
    ASSERT_TRUE(Engine);

    const TArgList Args{"alpha", 42, "beta"};
    Engine->Startup(Config, Args.Data(), Args.High());

    // Eager plug-ins start in descriptor order and see the store still empty; the application's
    // plug-in starts on first use, after the configured store was handed over.
    EXPECT_EQ(Journal(), (TStrings{"create ORVEngine.Runtime", "start ORVEngine.Runtime env=", "create e2e.tool",
                                   "start e2e.tool env=", "create e2e.app", "start e2e.app env=hello",
                                   "run e2e.app.main args=s:alpha,i:42,s:beta env=hello"}));
    EXPECT_EQ(NewLogLines(),
              (TStrings{StartLine(), BoundLine("ORVEngine.Runtime"), BoundLine("e2e.app"), BoundLine("e2e.tool")}));

    Ref<IORVRegistry> Registry = Engine->GetRegistry();
    ASSERT_TRUE(Registry);
    EXPECT_EQ(IDsOf(Registry->GetDescriptors()), (TStrings{"ORVEngine.Runtime", "e2e.app", "e2e.tool"}));
    EXPECT_EQ(Registry->GetEnvironmentVariables()->GetValue("Greeting"), "hello");

    Engine->Shutdown();
    EXPECT_EQ(Journal(7), (TStrings{"stop ORVEngine.Runtime", "stop e2e.app", "stop e2e.tool"}));
    EXPECT_EQ(NewLogLines(), (TStrings{StopLine()}));
    // The registry outlives the shutdown; the plug-ins go with it.
    EXPECT_EQ(Engine->GetRegistry().Get(), Registry.Get());
    Registry = nullptr;
    Engine = nullptr;
    TStrings Destroyed = Journal(10);
    std::sort(Destroyed.begin(), Destroyed.end());
    EXPECT_EQ(Destroyed, (TStrings{"destroy ORVEngine.Runtime", "destroy e2e.app", "destroy e2e.tool"}));
}

TEST_F(EngineLifecycleTest, ConfiguredEntryPointWinsAndAnUnknownOneFallsBackToTheFirstApplication) {
    WriteApplicationTree();
    const TArgList Args{"x"};
    {
        // "other" is the second extension of the applications point.
        Ref<IORVEngine> Engine = Module.NewEngine();
        Engine->Startup(EngineConfig(PathAttribute("plugins") + " EntryPoint=\"e2e.app.other\"", "", "chosen.xml"),
                        Args.Data(), Args.High());
        Engine->Shutdown();
    }
    {
        Ref<IORVEngine> Engine = Module.NewEngine();
        Engine->Startup(EngineConfig(PathAttribute("plugins") + " EntryPoint=\"e2e.app.missing\"", "", "unknown.xml"),
                        Args.Data(), Args.High());
        Engine->Shutdown();
    }
    TStrings Runs;
    for (const std::string& Line : Journal())
        if (Line.compare(0, 4, "run ") == 0) Runs.push_back(Line);
    EXPECT_EQ(Runs, (TStrings{"run e2e.app.other args=s:x env=", "run e2e.app.main args=s:x env="}));
    for (const std::string& Line : LogLines()) EXPECT_NE(Line, NoEntryLine());
}

// --- the state table ---------------------------------------------------------------------------

TEST_F(EngineLifecycleTest, SecondStartupLogsTheStartLineAndFailsTheAssertion) {
    WriteApplicationTree();
    const std::string Config = EngineConfig(PathAttribute("plugins"));
    Ref<IORVEngine> Engine = Module.NewEngine();
    Engine->Startup(Config, nullptr, -1);
    Ref<IORVRegistry> Registry = Engine->GetRegistry();
    const std::size_t JournalSize = Journal().size();
    Logger->Clear();

    EXPECT_EQ(AssertionText([&] { Engine->Startup(Config, nullptr, -1); }),
              LoadMessage(SEngineAlreadyStarted) + " (Engine/ORVEngineImpl, line 1607)");
    EXPECT_EQ(NewLogLines(), (TStrings{StartLine()}));
    EXPECT_EQ(AssertionText([&] { Engine->StartupWithConfig(TEngineConfigEx(), {}, nullptr, -1); }),
              LoadMessage(SEngineAlreadyStarted) + " (Engine/ORVEngineImpl, line 1607)");
    EXPECT_EQ(NewLogLines(), (TStrings{StartLine()}));

    // Nothing was touched: same registry, no plug-in started again, still Running.
    EXPECT_EQ(Engine->GetRegistry().Get(), Registry.Get());
    EXPECT_EQ(Journal().size(), JournalSize);
    Engine->Shutdown();
    EXPECT_EQ(Journal(JournalSize), (TStrings{"stop ORVEngine.Runtime", "stop e2e.app", "stop e2e.tool"}));
}

TEST_F(EngineLifecycleTest, ShutdownIsRefusedUnlessRunning) {
    const std::string Refusal = LoadMessage(SCannotStopIdleEngine) + " (Engine/ORVEngineImpl, line 1337)";
    Ref<IORVEngine> Engine = Module.NewEngine();
    EXPECT_EQ(AssertionText([&] { Engine->Shutdown(); }), Refusal);
    EXPECT_FALSE(Engine->GetRegistry());
    EXPECT_TRUE(LogLines().empty());

    // An empty configuration name on a new engine ends Running, without an entry point.
    Engine->Startup("", nullptr, -1);
    EXPECT_EQ(NewLogLines(), (TStrings{StartLine(), NoEntryLine()}));
    Ref<IORVRegistry> First = Engine->GetRegistry();
    ASSERT_TRUE(First);
    EXPECT_EQ(First->GetDescriptors()->GetCount(), 0);
    EXPECT_EQ(First->GetExtensionPoints()->GetCount(), 0);
    Engine->Shutdown();
    EXPECT_EQ(NewLogLines(), (TStrings{StopLine()}));
    EXPECT_EQ(AssertionText([&] { Engine->Shutdown(); }), Refusal);

    // Idle again: a new startup builds a new registry.
    Engine->Startup("", nullptr, -1);
    EXPECT_TRUE(Engine->GetRegistry());
    EXPECT_NE(Engine->GetRegistry().Get(), First.Get());
    Engine->Shutdown();
}

TEST_F(EngineLifecycleTest, FailedPluginStartStopsWhatItStartedAndLeavesTheEngineBuilding) {
    Manifest("plugins/a", PluginElement("e2e.a", true));
    Manifest("plugins/b", PluginElement("e2e.b", true));
    Manifest("plugins/c", PluginElement("e2e.faulty", true, "", TestPluginPath("e2e_faulty")));
    Manifest("plugins/d", PluginElement("e2e.d", true));
    Ref<IORVEngine> Engine = Module.NewEngine();
    try {
        Engine->Startup(EngineConfig(PathAttribute("plugins"), GreetingVariables), nullptr, -1);
        ADD_FAILURE() << "the failing Start did not reach the host";
    } catch (const EORVException& E) {
        EXPECT_STREQ(E.what(), "start refused");
    }
    // The plug-ins started before the failure are stopped again, the last one first.
    EXPECT_EQ(Journal(), (TStrings{"create e2e.a", "start e2e.a env=", "create e2e.b", "start e2e.b env=",
                                   "stop e2e.b", "stop e2e.a"}));
    const TStrings Lines = NewLogLines();
    ASSERT_FALSE(Lines.empty());
    EXPECT_EQ(Lines.back(), LogLine('E', SPluginStartError, {"e2e.faulty"}));
    // The new registry is kept, without the configured store; the engine never got to Running.
    Ref<IORVRegistry> Registry = Engine->GetRegistry();
    ASSERT_TRUE(Registry);
    EXPECT_EQ(Registry->GetDescriptors()->GetCount(), 4);
    EXPECT_EQ(Registry->GetEnvironmentVariables()->GetValue("Greeting"), "");
    EXPECT_EQ(AssertionText([&] { Engine->Shutdown(); }),
              LoadMessage(SCannotStopIdleEngine) + " (Engine/ORVEngineImpl, line 1337)");

    // A new startup is accepted (on a configuration without the faulty plug-in).
    Tree.MakeFolder("none");
    Engine->Startup(EngineConfig(PathAttribute("none"), "", "none.xml"), nullptr, -1);
    EXPECT_NE(Engine->GetRegistry().Get(), Registry.Get());
    Engine->Shutdown();
}

// --- the entry point ---------------------------------------------------------------------------

TEST_F(EngineLifecycleTest, EntryPointFailuresAreLoggedAndReachTheHost) {
    struct TCase {
        const char* Factory;
        const char* FirstArg;
        const char* Raised;  // the exception's message, nullptr when the startup returns
        std::string Line;    // the Error line that precedes the exception
    };
    const std::string EntryPointLine = LoadMessage(SEntryPointError);
    const std::string RunLine = "The application [e2e.app.main] of plug-in [e2e.app] raised: ";
    const TCase Cases[] = {
        {"CreateFailing", "", "factory refused", EntryPointLine + "factory refused"},
        {"CreatePlain", "", "Interface not supported: IORVApplication",
         EntryPointLine + "Interface not supported: IORVApplication"},
        {"CreateNothing", "", nullptr, ""},
        {"NoSuchFactory", "", nullptr, ""},
        {"GetExtensionImpl", "raise", "run refused", RunLine + "run refused"},
        // Not an std::exception: the host learns nothing from it, the log names its origin.
        {"GetExtensionImpl", "raise-int", "<not an std::exception>",
         RunLine + "unknown exception (not derived from std::exception)"},
    };
    int Index = 0;
    for (const TCase& Case : Cases) {
        SCOPED_TRACE(Case.Factory);
        const std::string Root = "case" + std::to_string(Index++) + "/";
        Manifest(Root + "plugins/app",
                 PluginElement("e2e.app", false, ExtensionElement("main", ApplicationsPoint, Case.Factory)));
        Manifest(Root + "plugins/runtime", PluginElement("ORVEngine.Runtime", true, PointElement("applications")));
        const std::string Config = EngineConfig(PathAttribute(Root + "plugins"), "", Root + "engine.xml");
        const TArgList Args{Case.FirstArg};
        Logger->Clear();
        const std::size_t Seen = Journal().size();

        Ref<IORVEngine> Engine = Module.NewEngine();
        std::string Raised;
        try {
            Engine->Startup(Config, Args.Data(), Args.High());
        } catch (const std::exception& E) {
            Raised = E.what();
        } catch (...) {
            Raised = "<not an std::exception>";
        }
        const TStrings Lines = NewLogLines();
        ASSERT_FALSE(Lines.empty());
        if (Case.Raised) {
            EXPECT_EQ(Raised, Case.Raised);
            EXPECT_EQ(Lines.back(), Plain('E', Case.Line));
            for (std::size_t I = 0; I + 1 < Lines.size(); ++I) EXPECT_NE(Lines[I][0], 'E') << Lines[I];
        } else {
            EXPECT_EQ(Raised, "");
            EXPECT_EQ(Lines.back(), NoEntryLine());
        }
        if (std::string(Case.Factory) == "NoSuchFactory") {
            ASSERT_GE(Lines.size(), 2u);
            EXPECT_EQ(Lines[Lines.size() - 2], LogLine('W', SFactoryNotFound, {"e2e.app", "NoSuchFactory"}));
        }

        // The factory was asked for, so the application's plug-in runs; the engine is Running.
        Engine->Shutdown();
        TStrings Stops;
        for (const std::string& Line : Journal(Seen))
            if (Line.compare(0, 5, "stop ") == 0) Stops.push_back(Line);
        EXPECT_EQ(Stops, (TStrings{"stop e2e.app", "stop ORVEngine.Runtime"}));
    }
}

TEST_F(EngineLifecycleTest, StartupWithPluginsReadsTheConfigurationButDiscoversNothing) {
    // The configured folder holds a plug-in that must not be found.
    Manifest("plugins/found", PluginElement("e2e.found", true));
    const std::string Given =
        Manifest("given", PluginElement("e2e.given", true, ExtensionElement("main", "apps") + PointElement("apps")));
    TPluginConfigDynArray PluginConfigs{TPluginConfig{LoadXMLDocument(Given), Given}};
    const std::string Config =
        EngineConfig(PathAttribute("plugins") + " EntryPoint=\"e2e.given.main\"", GreetingVariables);

    Ref<IORVEngine> Engine = Module.NewEngine();
    const TArgList Args{7};
    Engine->StartupWithPlugins(Config, PluginConfigs, Args.Data(), Args.High());
    // A configured entry point need not plug into the applications point.
    EXPECT_EQ(Journal(),
              (TStrings{"create e2e.given", "start e2e.given env=", "run e2e.given.main args=i:7 env=hello"}));
    EXPECT_EQ(IDsOf(Engine->GetRegistry()->GetDescriptors()), (TStrings{"e2e.given"}));
    Engine->Shutdown();
}

// --- adding and removing plug-ins --------------------------------------------------------------

TEST_F(EngineLifecycleTest, LoadPluginsLinksAndValidatesAnewButStartsNothing) {
    Manifest("plugins/base",
             PluginElement("e2e.base", true,
                           ExtensionElement("own", "single") + PointElement("slots", "Required=\"true\"") +
                               PointElement("single", "Unique=\"true\"")));
    Manifest("extra/x", PluginElement("e2e.extra", true, ExtensionElement("x", "e2e.base.slots, e2e.base.single")));
    Manifest("extra/y", PluginElement("e2e.shielded", true, ExtensionElement("y", "e2e.base.slots")));
    Ref<IORVEngine> Engine = Module.NewEngine();
    Engine->Startup(
        EngineConfig(PathAttribute("plugins"), "<ShieldedPlugins><Plugin>e2e.shielded</Plugin></ShieldedPlugins>"),
        nullptr, -1);
    EXPECT_EQ(NewLogLines(), (TStrings{StartLine(), BoundLine("e2e.base"),
                                       LogLine('E', SRequiredPointEmpty, {"e2e.base.slots"}), NoEntryLine()}));
    Ref<IORVRegistry> Registry = Engine->GetRegistry();
    const std::size_t JournalSize = Journal().size();

    Engine->LoadPlugins({Tree.PathOf("extra")});
    // The whole registry was validated again: the required point is served now, the unique one is
    // overfull. The shielded plug-in stayed out.
    EXPECT_EQ(NewLogLines(),
              (TStrings{BoundLine("e2e.extra"), LogLine('E', SUniquePointOverfull, {"e2e.base.single", "int:2"})}));
    EXPECT_EQ(Engine->GetRegistry().Get(), Registry.Get());
    EXPECT_EQ(IDsOf(Registry->GetDescriptors()), (TStrings{"e2e.base", "e2e.extra"}));
    Ref<IORVExtensionPoints> Points = Registry->GetExtensionPoints();
    EXPECT_EQ(IDsOf(Points->Find("e2e.base.slots")->GetExtensions()), (TStrings{"e2e.extra.x"}));
    EXPECT_EQ(IDsOf(Points->Find("e2e.base.single")->GetExtensions()), (TStrings{"e2e.base.own", "e2e.extra.x"}));
    EXPECT_TRUE(Registry->GetExtensions()->Find("e2e.extra.x"));

    // Added plug-ins are not started, not even those marked for initialisation.
    EXPECT_EQ(Journal().size(), JournalSize);
    Engine->Shutdown();
    EXPECT_EQ(Journal(JournalSize), (TStrings{"stop e2e.base"}));
}

// A load links only what can link differently, yet says and links what linking every plug-in anew
// would: an extension whose point went warns at every load until the point is back, a second copy
// of a plug-in takes over its point ids, and validation reports every failing point in registry
// order, those that failed before or lost an extension to an unload included.
TEST_F(EngineLifecycleTest, ALoadLinksAndValidatesAsIfEveryPluginWereLinkedAnew) {
    Manifest("plugins/1base", PluginElement("e2e.base", false,
                                            PointElement("slots", "Required=\"true\"") +
                                                PointElement("single", "Unique=\"true\"") +
                                                ExtensionElement("own", "single")));
    Manifest("plugins/2prov", PluginElement("e2e.prov", false, PointElement("p")));
    Manifest("plugins/3user", PluginElement("e2e.user", false, ExtensionElement("u", "e2e.prov.p, e2e.base.single")));
    Manifest("extra/x", PluginElement("e2e.x", false, ExtensionElement("x", "e2e.base.slots")));
    Manifest("again/prov", PluginElement("e2e.prov", false, PointElement("p")));
    Manifest("empty/y", PluginElement("e2e.y", false));
    Ref<IORVEngine> Engine = Module.NewEngine();
    Engine->Startup(EngineConfig(PathAttribute("plugins")), nullptr, -1);
    const std::string Overfull = LogLine('E', SUniquePointOverfull, {"e2e.base.single", "int:2"});
    const std::string Unsettled =
        Plain('W', "Extension [e2e.user.u] stays unlinked from extension point [e2e.prov.p]: no plug-in in the "
                   "registry declares it any more");
    EXPECT_EQ(NewLogLines(), (TStrings{StartLine(), BoundLine("e2e.base"), BoundLine("e2e.prov"), BoundLine("e2e.user"),
                                       LogLine('E', SRequiredPointEmpty, {"e2e.base.slots"}), Overfull,
                                       NoEntryLine()}));
    Ref<IORVRegistry> Registry = Engine->GetRegistry();
    auto LinkedTo = [&](int32_t Descriptor, const std::string& Point) {
        return IDsOf(Registry->GetDescriptors()->GetItem(Descriptor)->GetExtensionPoints()->Find(Point)->GetExtensions());
    };

    Engine->UnloadPlugins({Tree.PathOf("plugins/2prov")});
    Logger->Clear();
    Engine->LoadPlugins({Tree.PathOf("extra")});
    EXPECT_EQ(NewLogLines(), (TStrings{BoundLine("e2e.x"), Unsettled, Overfull}));
    Engine->LoadPlugins({Tree.PathOf("empty")});
    EXPECT_EQ(NewLogLines(), (TStrings{BoundLine("e2e.y"), Unsettled, Overfull}));

    // The point is back: the extension links to it, silently.
    Engine->LoadPlugins({Tree.PathOf("again")});
    EXPECT_EQ(NewLogLines(), (TStrings{BoundLine("e2e.prov"), Overfull}));
    ASSERT_EQ(IDsOf(Registry->GetDescriptors()), (TStrings{"e2e.base", "e2e.user", "e2e.x", "e2e.y", "e2e.prov"}));
    EXPECT_EQ(LinkedTo(4, "e2e.prov.p"), TStrings{"e2e.user.u"});

    // A second copy takes the point's id over: the extension is linked to both copies' points.
    Engine->LoadPlugins({Tree.PathOf("plugins/2prov")});
    const std::string File = Tree.PathOf("plugins/2prov/plugin.xml"), Earlier = Tree.PathOf("again/prov/plugin.xml");
    EXPECT_EQ(NewLogLines(), (TStrings{BoundLine("e2e.prov"), Overfull,
                                       Plain('W', "Plug-in id [e2e.prov] of [" + File + "] is declared already in [" +
                                                      Earlier + "]: both are kept, lookups by id find the later one")}));
    EXPECT_EQ(LinkedTo(4, "e2e.prov.p"), TStrings{"e2e.user.u"});
    EXPECT_EQ(LinkedTo(5, "e2e.prov.p"), TStrings{"e2e.user.u"});

    // The required point lost its only extension to an unload: the next load reports it, before
    // the unique point that its plug-in declares after it.
    Engine->UnloadPlugins({Tree.PathOf("extra")});
    Engine->UnloadPlugins({Tree.PathOf("empty")});
    Logger->Clear();
    Engine->LoadPlugins({Tree.PathOf("empty")});
    EXPECT_EQ(NewLogLines(),
              (TStrings{BoundLine("e2e.y"), LogLine('E', SRequiredPointEmpty, {"e2e.base.slots"}), Overfull,
                        Plain('W', "Plug-in id [e2e.prov] of [" + File + "] is declared already in [" + Earlier +
                                       "]: both are kept, lookups by id find the later one")}));
    Engine->Shutdown();
}

TEST_F(EngineLifecycleTest, StartupWithConfigLeavesTheEngineConfigurationEmpty) {
    Manifest("more/a", PluginElement("e2e.odd", false), "odd.xml");
    Manifest("more/b", PluginElement("e2e.usual", false));
    Tree.WriteFile("more/c/lib.so", "not a manifest");
    TEngineConfigEx Record;
    Record.ConfigExt = "odd.xml";
    Ref<IORVEngine> Engine = Module.NewEngine();
    Engine->StartupWithConfig(Record, {}, nullptr, -1);
    // The engine's own configuration is still empty, and the record's suffix is not kept: an
    // empty suffix means the default one, not every file.
    Engine->LoadPlugins({Tree.PathOf("more")});
    EXPECT_EQ(IDsOf(Engine->GetRegistry()->GetDescriptors()), (TStrings{"e2e.usual"}));
    Engine->Shutdown();
}

TEST_F(EngineLifecycleTest, UnloadPluginsTakesThePluginsUnderTheGivenFolders) {
    Manifest("plugins/a", PluginElement("e2e.a", true, ExtensionElement("x", "e2e.base.slots")));
    Manifest("plugins/a/sub", PluginElement("e2e.asub", false, ExtensionElement("y", "e2e.base.slots")));
    Manifest("plugins/ab", PluginElement("e2e.ab", true, ExtensionElement("z", "e2e.base.slots")));
    Manifest("plugins/base", PluginElement("e2e.base", true, PointElement("slots")));
    Ref<IORVEngine> Engine = Module.NewEngine();
    Engine->Startup(EngineConfig(PathAttribute("plugins")), nullptr, -1);
    Ref<IORVRegistry> Registry = Engine->GetRegistry();
    ASSERT_EQ(IDsOf(Registry->GetDescriptors()), (TStrings{"e2e.a", "e2e.asub", "e2e.ab", "e2e.base"}));
    EXPECT_EQ(IDsOf(Registry->GetExtensionPoints()->Find("e2e.base.slots")->GetExtensions()),
              (TStrings{"e2e.a.x", "e2e.asub.y", "e2e.ab.z"}));
    std::size_t Seen = Journal().size();
    Logger->Clear();

    // "plugins/a" takes the plug-ins in it and below it, not those of the sibling "plugins/ab".
    Engine->UnloadPlugins({Tree.PathOf("plugins/a")});
    EXPECT_EQ(IDsOf(Registry->GetDescriptors()), (TStrings{"e2e.ab", "e2e.base"}));
    EXPECT_EQ(IDsOf(Registry->GetExtensionPoints()->Find("e2e.base.slots")->GetExtensions()), (TStrings{"e2e.ab.z"}));
    EXPECT_FALSE(Registry->GetExtensions()->Find("e2e.a.x"));
    EXPECT_TRUE(Registry->GetExtensions()->Find("e2e.ab.z"));
    // The started plug-in was stopped, and nothing holds on to it afterwards.
    EXPECT_EQ(Journal(Seen), (TStrings{"stop e2e.a", "destroy e2e.a"}));
    Seen = Journal().size();

    // Folder names are compared as they are written (on POSIX; see the next test for Windows).
    if (!TPathRules::BackslashIsSeparator) {
        Engine->UnloadPlugins({Tree.PathOf("PLUGINS/AB"), Tree.PathOf("plugins/AB")});
        EXPECT_EQ(IDsOf(Registry->GetDescriptors()), (TStrings{"e2e.ab", "e2e.base"}));
    }

    // A plug-in that declares a point goes as well; a trailing separator changes nothing. The
    // extension that stays loses its link, with a line.
    Engine->UnloadPlugins({Tree.PathOf("plugins/base") + TPathRules::Delimiter});
    EXPECT_EQ(IDsOf(Registry->GetDescriptors()), (TStrings{"e2e.ab"}));
    EXPECT_EQ(Registry->GetExtensionPoints()->GetCount(), 0);
    EXPECT_EQ(Journal(Seen), (TStrings{"stop e2e.base", "destroy e2e.base"}));
    EXPECT_EQ(NewLogLines(), TStrings{Plain('W', "Extension [e2e.ab.z] loses its extension point [e2e.base.slots]: "
                                                 "plug-in [e2e.base] is unloaded")});

    // A plug-in whose extension names a point that went earlier can still be taken out.
    Engine->UnloadPlugins({Tree.PathOf("plugins/ab")});
    EXPECT_EQ(Registry->GetDescriptors()->GetCount(), 0);
    EXPECT_EQ(Journal(Seen + 2), (TStrings{"stop e2e.ab", "destroy e2e.ab"}));
    EXPECT_TRUE(LogLines().empty());

    Engine->Shutdown();
    EXPECT_EQ(Journal(Seen + 4), TStrings{});
}

// A folder named in other letters selects its plug-ins where file names ignore letter case
// (Windows), and only there; stored locations use one kind of separator.
TEST_F(EngineLifecycleTest, UnloadPluginsComparesFolderNamesAsTheFileSystemDoes) {
    const bool Windows = TPathRules::BackslashIsSeparator;
    Manifest("app/p/a", PluginElement("e2e.a", true));
    Ref<IORVEngine> Engine = Module.NewEngine();
    Engine->Startup(EngineConfig("Path=\"%config%/p\"", "", "app/engine.xml"), nullptr, -1);
    Ref<IORVRegistry> Registry = Engine->GetRegistry();
    ASSERT_EQ(Registry->GetDescriptors()->GetCount(), 1);
    const std::string Location = Registry->GetDescriptors()->GetItem(0)->GetLocation();
    EXPECT_EQ(Location.find(Windows ? '/' : '\\'), std::string::npos) << Location;

    std::string Upper = Tree.PathOf("app/p/a");
    for (char& C : Upper)
        if (C >= 'a' && C <= 'z') C = static_cast<char>(C - 'a' + 'A');
    Engine->UnloadPlugins({Upper});
    EXPECT_EQ(Registry->GetDescriptors()->GetCount(), Windows ? 0 : 1);
    Engine->UnloadPlugins({Tree.PathOf("app/p/a")});
    EXPECT_EQ(Registry->GetDescriptors()->GetCount(), 0);
    Engine->Shutdown();
}

TEST_F(EngineLifecycleTest, LoadingAndUnloadingNeedARegistry) {
    Manifest("more/p", PluginElement("e2e.p", false));
    Tree.MakeFolder("empty");
    Ref<IORVEngine> Engine = Module.NewEngine();

    EXPECT_EQ(AssertionText([&] { Engine->LoadPlugins({Tree.PathOf("more")}); }),
              "Assertion failure (Engine/ORVEngineImpl, line 1954)");
    EXPECT_THROW(Engine->LoadPlugins({Tree.PathOf("empty")}), EORVException);
    try {
        Engine->UnloadPlugins({Tree.PathOf("more")});
        ADD_FAILURE() << "UnloadPlugins without a registry was accepted";
    } catch (const EORVException& E) {
        EXPECT_NE(std::string(E.what()).find("UnloadPlugins"), std::string::npos) << E.what();
    }
    EXPECT_FALSE(Engine->GetRegistry());
    EXPECT_TRUE(Journal().empty());
}

// --- the parse-only path and the exports -------------------------------------------------------

TEST_F(EngineLifecycleTest, ParsePathsUsesTheConfigurationButStartsNothing) {
    const std::string Probe = ProbeLibrary();
    const std::string ProbeName = Probe.substr(Probe.find_last_of("/\\") + 1);
    const std::string Copied = Tree.CopyFile(Probe, "libs/" + ProbeName);
    // The configured Path would be found with the configured suffix, but ParsePaths ignores it.
    Manifest("configured", PluginElement("e2e.configured", true), "c.manifest.xml");
    Manifest("scan/q", PluginElement("e2e.other", true));
    Manifest("scan/s", PluginElement("e2e.shielded", true), "shield.manifest.xml");
    // A bare library name, found through DllPath.
    Manifest("scan/p",
             PluginElement("e2e.scanned", true,
                           ExtensionElement("main", "slots") + PointElement("slots", "Required=\"true\""), ProbeName),
             "parts.manifest.xml");
    const std::string Config = EngineConfig(
        PathAttribute("configured") + " ConfigExt=\"manifest.xml\" EntryPoint=\"e2e.scanned.main\" DllPath=\"" +
            Tree.PathOf("libs") + "\"",
        "<ShieldedPlugins><Plugin>e2e.shielded</Plugin></ShieldedPlugins>" + GreetingVariables);

    Ref<IORVParser> Parser = Module.NewParser();
    Ref<IORVRegistry> Registry = Parser->ParsePaths({Tree.PathOf("scan")}, Config);
    ASSERT_TRUE(Registry);
    EXPECT_EQ(IDsOf(Registry->GetDescriptors()), (TStrings{"e2e.scanned"}));
    EXPECT_EQ(Registry->GetDescriptors()->GetItem(0)->GetLibrary(), Copied);
    EXPECT_EQ(NewLogLines(), (TStrings{BoundLine("e2e.scanned", Copied)}));
    EXPECT_EQ(IDsOf(Registry->GetExtensionPoints()->Find("e2e.scanned.slots")->GetExtensions()),
              (TStrings{"e2e.scanned.main"}));
    // Nothing loaded or started, no store handed over, and the engine itself untouched.
    EXPECT_TRUE(Journal().empty());
    EXPECT_EQ(Registry->GetEnvironmentVariables()->GetValue("Greeting"), "");
    Ref<IORVEngine> Engine = Parser.Query<IORVEngine>();
    ASSERT_TRUE(Engine);
    EXPECT_FALSE(Engine->GetRegistry());
    EXPECT_FALSE(AssertionText([&] { Engine->Shutdown(); }).empty());

    // The configuration stays for later calls without a file name.
    Ref<IORVRegistry> Again = Parser->ParsePath(Tree.PathOf("scan"), "");
    EXPECT_EQ(IDsOf(Again->GetDescriptors()), (TStrings{"e2e.scanned"}));
    EXPECT_NE(Again.Get(), Registry.Get());

    // On a running engine too, the parsed registry is the caller's alone. This engine has no
    // configuration: the default suffix applies, and nothing is shielded.
    Ref<IORVEngine> Running = Module.NewEngine();
    Running->Startup("", nullptr, -1);
    Ref<IORVRegistry> Own = Running->GetRegistry();
    Ref<IORVRegistry> Parsed = Running.Query<IORVParser>()->ParsePath(Tree.PathOf("scan"), "");
    EXPECT_EQ(IDsOf(Parsed->GetDescriptors()), (TStrings{"e2e.other"}));
    EXPECT_EQ(Running->GetRegistry().Get(), Own.Get());
    Running->Shutdown();
    EXPECT_TRUE(Journal().empty());
}

TEST_F(EngineLifecycleTest, ExportsHandOutOneSingletonAndFreshParsers) {
    Ref<IORVEngine> First = Module.Singleton();
    Ref<IORVEngine> Second = Module.Singleton();
    ASSERT_TRUE(First);
    EXPECT_EQ(First.Get(), Second.Get());

    Ref<IORVParser> P1 = Module.NewParser();
    Ref<IORVParser> P2 = Module.NewParser();
    ASSERT_TRUE(P1 && P2);
    EXPECT_FALSE(SameObject(Identity(P1), Identity(P2)));
    EXPECT_FALSE(SameObject(Identity(P1), Identity(First)));
    EXPECT_FALSE(SameObject(Identity(P2), Identity(First)));
    // Both interfaces lead to one object.
    EXPECT_TRUE(SameObject(Identity(First.Query<IORVParser>()), Identity(First)));
    EXPECT_TRUE(SameObject(Identity(P1.Query<IORVEngine>()), Identity(P1)));
}

}  // namespace

// --- the monitor -------------------------------------------------------------------------------

namespace {

// Writes "<kind> <name>" of each event to Lines, which outlives it; clears the engine's monitor
// when it sees a Stop, from inside that event.
class TRecordingMonitor : public TInterfacedObject<IORVMonitor> {
public:
    TRecordingMonitor(TStrings& Lines, IORVEngineMonitor& Engine) : Lines_(Lines), Engine_(Engine) {}
    void ORV_CALL Event(int32_t Kind, const std::string& Name, const std::string& PluginID, const std::string&,
                        int64_t, int64_t Duration) override {
        static const char* const Kinds[] = {"startup", "config",  "discovery", "manifests", "link",
                                            "validate", "startline", "load",   "impl",      "start",     "factory",
                                            "run",      "stop",   "shutdown",  "load-plugins", "unload-plugins"};
        EXPECT_GE(Duration, 0);
        // A plug-in's steps are named after it.
        if (Kind >= mkLoadLibrary && Kind <= mkStart) {
            EXPECT_EQ(Name, PluginID);
        }
        Lines_.push_back(Name.empty() || Kind == mkStartup || Kind == mkConfig ? Kinds[Kind]
                                                                                 : std::string(Kinds[Kind]) + " " + Name);
        if (Kind == mkStop) Engine_.SetMonitor(nullptr);
    }

private:
    TStrings& Lines_;
    IORVEngineMonitor& Engine_;
};

}  // namespace

TEST_F(EngineLifecycleTest, AMonitorSeesEachStepOnceItEndsUntilItIsCleared) {
    WriteApplicationTree();
    Manifest("extra", PluginElement("e2e.extra", false));
    Ref<IORVEngine> Engine = Module.NewEngine();
    Ref<IORVEngineMonitor> Monitoring = Engine.Query<IORVEngineMonitor>();
    ASSERT_TRUE(Monitoring);
    TStrings Lines;
    // The engine holds the only reference: the monitor that clears itself lives until its call ends.
    Monitoring->SetMonitor(Ref<IORVMonitor>(new TRecordingMonitor(Lines, *Monitoring)).Get());

    Engine->Startup(EngineConfig(PathAttribute("plugins")), nullptr, -1);
    EXPECT_EQ(Lines, (TStrings{"config", "discovery", "startline", "manifests", "link", "validate",
                               "load ORVEngine.Runtime", "impl ORVEngine.Runtime", "start ORVEngine.Runtime",
                               "load e2e.tool", "impl e2e.tool", "start e2e.tool", "startup",
                               // The application's plug-in starts on first use, after the start.
                               "load e2e.app", "impl e2e.app", "start e2e.app", "factory e2e.app.main",
                               "run e2e.app.main"}));
    Lines.clear();
    Engine->LoadPlugins({Tree.PathOf("extra")});
    EXPECT_EQ(Lines, (TStrings{"discovery", "manifests", "link", "validate", "load-plugins"}));
    Lines.clear();
    // The monitor clears itself at the Stop: the end of UnloadPlugins and the shutdown go unseen.
    Engine->UnloadPlugins({Tree.PathOf("plugins/3tool")});
    Engine->Shutdown();
    EXPECT_EQ(Lines, (TStrings{"stop e2e.tool"}));
    EXPECT_EQ(Journal(Journal().size() - 2), (TStrings{"stop ORVEngine.Runtime", "stop e2e.app"}));
}
