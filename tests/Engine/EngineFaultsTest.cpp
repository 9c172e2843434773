// The engine under faults, driven through its exports: objects a host keeps after their plug-ins
// went, plug-ins added and dropped at run time, starts and stops that fail, and libraries that are
// unloaded while a call into them is still on the stack.
#include "EngineFixture.h"

#include <cstdint>
#include <cstdio>

using namespace orv;
using namespace orv::test;

namespace {

class EngineFaultsTest : public TEngineFixture {
protected:
    // a declares the point a.slot; b extends it and declares b.own.
    void WriteSlotTree(const std::string& Root = "") const {
        Manifest(Root + "a", PluginElement("a", true, PointElement("slot")));
        Manifest(Root + "b", PluginElement("b", true, ExtensionElement("ext", "a.slot") + PointElement("own")));
    }
};

// Every way in which the owners of held objects go: the objects answer with an exception instead
// of reaching into freed memory.
TEST_F(EngineFaultsTest, HeldObjectsOutliveTheirPluginsWithoutReachingFreedMemory) {
    enum class TOwnersGo { Unloaded, RegistryReplaced, ParseResultDropped };
    for (TOwnersGo How : {TOwnersGo::Unloaded, TOwnersGo::RegistryReplaced, TOwnersGo::ParseResultDropped}) {
        SCOPED_TRACE(static_cast<int>(How));
        const std::string Root = "case" + std::to_string(static_cast<int>(How)) + "/";
        WriteSlotTree(Root);
        Ref<IORVEngine> Engine = Module.NewEngine();
        Ref<IORVRegistry> Registry;
        if (How == TOwnersGo::ParseResultDropped) {
            Registry = Engine.Query<IORVParser>()->ParsePath(Tree.PathOf(Root), "");
        } else {
            Engine->Startup(EngineConfig(PathAttribute(Root), "", Root + "engine.xml"), nullptr, -1);
            Registry = Engine->GetRegistry();
        }
        Ref<IORVExtension> Extension = Registry->GetExtensions()->Find("b.ext");
        Ref<IORVExtensionPoint> Point = Registry->GetExtensionPoints()->Find("a.slot");
        Ref<IORVDescriptor> Descriptor = Registry->GetDescriptors()->Find("b");
        ASSERT_TRUE(Extension && Point && Descriptor);
        Registry = nullptr;

        switch (How) {
            case TOwnersGo::Unloaded:
                Engine->UnloadPlugins({Tree.PathOf(Root + "a"), Tree.PathOf(Root + "b")});
                Engine->Shutdown();
                break;
            case TOwnersGo::RegistryReplaced:
                Engine->Shutdown();
                Tree.MakeFolder(Root + "none");
                Engine->Startup(EngineConfig(PathAttribute(Root + "none"), "", Root + "none.xml"), nullptr, -1);
                Engine->Shutdown();
                break;
            case TOwnersGo::ParseResultDropped:
                break;
        }
        Engine = nullptr;

        // The descriptor kept its own data but belongs to no registry any more.
        EXPECT_EQ(Descriptor->GetID(), "b");
        EXPECT_FALSE(Descriptor->GetRegistry());
        EXPECT_EQ(Descriptor->GetExtensions()->GetCount(), 1);
        // The point's plug-in is gone: whatever needs it raises.
        EXPECT_THROW(Point->GetID(), EORVException);
        EXPECT_THROW(Point->GetDescriptor(), EORVException);
        EXPECT_EQ(Point->GetExtensions()->GetCount(), 0);
        // The extension's plug-in is held, but its registry is gone.
        EXPECT_EQ(Extension->GetID(), "b.ext");
        EXPECT_THROW(Extension->GetExtensionPoints(), EORVException);
        Descriptor = nullptr;
        EXPECT_THROW(Extension->GetID(), EORVException);
        EXPECT_THROW(Extension->GetDescriptor(), EORVException);
        EXPECT_THROW(Extension->GetFactory(), EORVException);
    }
}

TEST_F(EngineFaultsTest, DroppingAPointsOwnerKeepsLaterLoadsWorkingAndReloadingLinksAgain) {
    WriteSlotTree("plugins/");
    Manifest("more/c", PluginElement("c", false, ExtensionElement("ext", "b.own")));
    Ref<IORVEngine> Engine = Module.NewEngine();
    Engine->Startup(EngineConfig(PathAttribute("plugins")), nullptr, -1);
    Ref<IORVRegistry> Registry = Engine->GetRegistry();
    Logger->Clear();

    Engine->UnloadPlugins({Tree.PathOf("plugins/a")});
    EXPECT_EQ(NewLogLines(),
              TStrings{Plain('W', "Extension [b.ext] loses its extension point [a.slot]: plug-in [a] is unloaded")});

    // b's extension stays, unlinked; the load that was asked for is linked and validated.
    Engine->LoadPlugins({Tree.PathOf("more")});
    EXPECT_EQ(NewLogLines(), (TStrings{BoundLine("c"), Plain('W', "Extension [b.ext] stays unlinked from extension "
                                                                  "point [a.slot]: no plug-in in the registry "
                                                                  "declares it any more")}));
    EXPECT_EQ(IDsOf(Registry->GetDescriptors()), (TStrings{"b", "c"}));
    EXPECT_EQ(IDsOf(Registry->GetExtensionPoints()->Find("b.own")->GetExtensions()), TStrings{"c.ext"});

    // The point's plug-in comes back: the extension is linked to the new point.
    Engine->LoadPlugins({Tree.PathOf("plugins/a")});
    EXPECT_EQ(NewLogLines(), TStrings{BoundLine("a")});
    EXPECT_EQ(IDsOf(Registry->GetExtensionPoints()->Find("a.slot")->GetExtensions()), TStrings{"b.ext"});
    Engine->Shutdown();
}

TEST_F(EngineFaultsTest, LoadThatFailsLeavesTheRegistryAsItWas) {
    WriteSlotTree("plugins/");
    // Read fine, linked fine, but the manifests after it break the load.
    Manifest("bad/1good", PluginElement("good", false, ExtensionElement("ext", "a.slot") + PointElement("p")));
    Manifest("unlinkable/1good", PluginElement("good", false, ExtensionElement("ext", "a.slot")));
    Manifest("unlinkable/2nowhere", PluginElement("nowhere", false, ExtensionElement("ext", "no.such")));
    Manifest("bad/2broken", PluginElement("broken", false, "<Extension ID=\"x\"/>"));
    Ref<IORVEngine> Engine = Module.NewEngine();
    Engine->Startup(EngineConfig(PathAttribute("plugins")), nullptr, -1);
    Ref<IORVRegistry> Registry = Engine->GetRegistry();

    for (const char* Folder : {"bad", "unlinkable"}) {
        SCOPED_TRACE(Folder);
        EXPECT_THROW(Engine->LoadPlugins({Tree.PathOf(Folder)}), EORVException);
        EXPECT_EQ(IDsOf(Registry->GetDescriptors()), (TStrings{"a", "b"}));
        EXPECT_EQ(IDsOf(Registry->GetExtensions()), TStrings{"b.ext"});
        EXPECT_EQ(IDsOf(Registry->GetExtensionPoints()), (TStrings{"a.slot", "b.own"}));
        EXPECT_EQ(IDsOf(Registry->GetExtensionPoints()->Find("a.slot")->GetExtensions()), TStrings{"b.ext"});
    }
    // Still usable: the next load goes through, and validates the whole registry.
    Logger->Clear();
    Engine->LoadPlugins({Tree.PathOf("unlinkable/1good")});
    EXPECT_EQ(IDsOf(Registry->GetExtensionPoints()->Find("a.slot")->GetExtensions()), (TStrings{"b.ext", "good.ext"}));
    EXPECT_EQ(NewLogLines(), TStrings{BoundLine("good")});
    Engine->Shutdown();
}

TEST_F(EngineFaultsTest, ExtensionLeavesExactlyThePointsItWasLinkedTo) {
    // Two plug-ins with one id declare points with one qualified id; x extends that id.
    Manifest("plugins/1dup", PluginElement("dup", false, PointElement("slot")));
    Manifest("plugins/2x", PluginElement("x", false, ExtensionElement("ext", "dup.slot")));
    Manifest("later/dup", PluginElement("dup", false, PointElement("slot")));
    Ref<IORVEngine> Engine = Module.NewEngine();
    Engine->Startup(EngineConfig(PathAttribute("plugins")), nullptr, -1);
    // Linking again after the load finds the later point under the id: x is linked to both.
    Engine->LoadPlugins({Tree.PathOf("later")});
    Ref<IORVDescriptors> Descriptors = Engine->GetRegistry()->GetDescriptors();
    ASSERT_EQ(IDsOf(Descriptors), (TStrings{"dup", "x", "dup"}));
    Ref<IORVExtensionPoint> First = Descriptors->GetItem(0)->GetExtensionPoints()->GetItem(0);
    Ref<IORVExtensionPoint> Later = Descriptors->GetItem(2)->GetExtensionPoints()->GetItem(0);
    EXPECT_EQ(IDsOf(First->GetExtensions()), TStrings{"x.ext"});
    EXPECT_EQ(IDsOf(Later->GetExtensions()), TStrings{"x.ext"});

    Engine->UnloadPlugins({Tree.PathOf("plugins/2x")});
    EXPECT_EQ(First->GetExtensions()->GetCount(), 0);
    EXPECT_EQ(Later->GetExtensions()->GetCount(), 0);
    Engine->Shutdown();
}

TEST_F(EngineFaultsTest, UnloadWhoseStopFailsStillDropsEveryPluginAndRaisesAfterwards) {
    const std::string Throwing = TestPluginPath("model_throwing");
    Manifest("plugins/1keep", PluginElement("keep", true, PointElement("slot")));
    Manifest("plugins/2go/a", PluginElement("throw.stop", true, ExtensionElement("x", "keep.slot"), Throwing));
    Manifest("plugins/2go/b", PluginElement("b", true, ExtensionElement("y", "keep.slot")));
    Ref<IORVEngine> Engine = Module.NewEngine();
    Engine->Startup(EngineConfig(PathAttribute("plugins")), nullptr, -1);
    Ref<IORVRegistry> Registry = Engine->GetRegistry();
    ASSERT_EQ(Registry->GetExtensions()->GetCount(), 2);
    Logger->Clear();

    EXPECT_EQ(MessageOf([&] { Engine->UnloadPlugins({Tree.PathOf("plugins/2go")}); }), "Stop failed in throw.stop");
    EXPECT_EQ(IDsOf(Registry->GetDescriptors()), TStrings{"keep"});
    EXPECT_EQ(Registry->GetExtensions()->GetCount(), 0);
    EXPECT_EQ(Registry->GetExtensionPoints()->Find("keep.slot")->GetExtensions()->GetCount(), 0);
    EXPECT_EQ(Journal(), (TStrings{"create keep", "start keep env=", "create b", "start b env=", "stop b",
                                   "destroy b"}));
    EXPECT_EQ(NewLogLines(), TStrings{LogLine('E', SPluginStopError, {"throw.stop"})});
    Engine->Shutdown();
}

TEST_F(EngineFaultsTest, ApplicationThatUnloadsItsOwnPluginInsideRunFinishesRunning) {
    // The application's library is a copy of its own, so that nothing else keeps it loaded.
    const std::string Probe = ProbeLibrary();
    const std::string Own = Tree.CopyFile(Probe, "plugins/app/own_probe" + Probe.substr(Probe.rfind('.')));
    Manifest("plugins/runtime", PluginElement("ORVEngine.Runtime", true, PointElement("applications")));
    Manifest("plugins/app", PluginElement("e2e.app", false, ExtensionElement("main", ApplicationsPoint), Own));
    Ref<IORVEngine> Engine = Module.NewEngine();
    char Address[32];
    std::snprintf(Address, sizeof Address, "%llx", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(Engine.Get())));
    const TArgList Args{"unload-self", Address};

    Engine->Startup(EngineConfig(PathAttribute("plugins")), Args.Data(), Args.High());
    // Run went on after its plug-in was dropped; the plug-in went once Run had returned.
    EXPECT_EQ(Journal(), (TStrings{"create ORVEngine.Runtime", "start ORVEngine.Runtime env=", "create e2e.app",
                                   "start e2e.app env=",
                                   "run e2e.app.main args=s:unload-self,s:" + std::string(Address) + " env=",
                                   "stop e2e.app", "run continues e2e.app.main", "destroy e2e.app"}));
    EXPECT_FALSE(LibraryIsLoaded(Own));
    EXPECT_EQ(IDsOf(Engine->GetRegistry()->GetDescriptors()), TStrings{"ORVEngine.Runtime"});
    Engine->Shutdown();

    // Raising after the unload: the exception (of a class the plug-in's library holds) reaches the
    // host intact, and the library stays until the registry goes.
    Ref<IORVEngine> Again = Module.NewEngine();
    std::snprintf(Address, sizeof Address, "%llx", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(Again.Get())));
    const TArgList Raising{"unload-self", Address, "raise"};
    EXPECT_EQ(MessageOf([&] { Again->Startup(EngineConfig(PathAttribute("plugins")), Raising.Data(), Raising.High()); }),
              "run refused after unloading");
    EXPECT_TRUE(LibraryIsLoaded(Own));
    Again->Shutdown();
    Again = nullptr;
    EXPECT_FALSE(LibraryIsLoaded(Own));
}

}  // namespace
