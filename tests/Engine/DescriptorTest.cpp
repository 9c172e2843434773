// Plug-in descriptors against real plug-in libraries: lazy loading, plug-in objects, start and
// stop, the factory cache, unloading, and every failure line.
#include "ModelTestSupport.h"

#include "Support/TempFolder.h"

#include <gtest/gtest.h>

#include <stdexcept>

using namespace orv;
using namespace orv::test;

namespace {

using TStrings = std::vector<std::string>;

class DescriptorTest : public ::testing::Test {
protected:
    TSpyPlatform Spy;
    TPlatformOverride UseSpy{Spy};
    TLogCapture Log;
    TModel Model;

    // A descriptor of Model whose library is the test plug-in Plugin.
    Ref<IORVDescriptor> Of(const std::string& ID, const std::string& Plugin) {
        return Model.AddDescriptor(ID, TestPluginPath(Plugin));
    }
    static TORVDescriptor* Obj(const Ref<IORVDescriptor>& D) { return TConverter::ToDescriptor(D); }
};

TEST_F(DescriptorTest, LibraryIsLoadedOnFirstUseAndThePluginStartedOnce) {
    TPluginProbe Probe("model_full");
    Ref<IORVDescriptor> D = Of("full", "model_full");
    EXPECT_FALSE(Obj(D)->IsLoaded());
    EXPECT_EQ(Spy.Opens, 0);

    Ref<IORVPlugin> Plugin = D->GetPlugin();
    ASSERT_TRUE(Plugin);
    EXPECT_TRUE(Obj(D)->IsLoaded());
    EXPECT_TRUE(D->GetPlugin() == Plugin);
    // Obtained, not started.
    EXPECT_EQ(Probe.Journal(), "");
    EXPECT_FALSE(Obj(D)->IsStarted());
    // The first factory lookup starts it, although the library is loaded already.
    EXPECT_NE(Obj(D)->FindFactoryMethod("GetExtensionImpl"), nullptr);
    EXPECT_EQ(Probe.Journal(), "start:full;");

    Obj(D)->StartPlugin();
    EXPECT_TRUE(Obj(D)->IsStarted());
    Obj(D)->StopPlugin();
    Obj(D)->StopPlugin();
    EXPECT_EQ(Probe.Journal(), "start:full;stop:full;");
    EXPECT_TRUE(Obj(D)->IsStarted());  // stopping leaves the flag
    EXPECT_TRUE(Obj(D)->IsStopped());
    EXPECT_EQ(Spy.Opens, 1);
    EXPECT_TRUE(Log.Lines().empty());
}

TEST_F(DescriptorTest, PluginWithoutLibraryCountsAsStartedAndHasNoFactories) {
    Ref<IORVDescriptor> D = Model.AddDescriptor("bare");
    EXPECT_FALSE(D->GetPlugin());
    Obj(D)->StopPlugin();
    Obj(D)->StartPlugin();
    EXPECT_TRUE(Obj(D)->IsStarted());
    EXPECT_EQ(Obj(D)->FindFactoryMethod("GetExtensionImpl"), nullptr);
    EXPECT_EQ(Spy.Opens, 0);
    EXPECT_TRUE(Log.Lines().empty());
}

TEST_F(DescriptorTest, MissingLibraryFileRaisesAndLoadsNothing) {
    TTempFolder Tree;
    const std::string Gone = Tree.PathOf("gone.so");
    Ref<IORVDescriptor> D = Model.AddDescriptor("lost", Gone);
    const TArgList Args{"lost", "/plugins/lost/", Gone};
    const std::string Expected = FormatArgs(LoadMessage(SDllNotFound), Args.Data(), Args.High());
    for (int Attempt = 0; Attempt < 2; ++Attempt) {
        try {
            if (Attempt == 0)
                Obj(D)->StartPlugin();
            else
                Obj(D)->FindFactoryMethod("GetExtensionImpl");
            ADD_FAILURE() << "nothing raised";
        } catch (const EORVException& E) {
            EXPECT_EQ(E.what(), Expected);
        }
    }
    EXPECT_FALSE(Obj(D)->IsStarted());
    EXPECT_EQ(Spy.Opens, 0);
    EXPECT_TRUE(Log.Lines().empty());
}

TEST_F(DescriptorTest, UnloadableFileIsRetriedOnEveryLookupUntilItLoads) {
    TTempFolder Tree;
    const std::string Path = Tree.WriteFile("broken.so", "this is not a library\n");
    TModel Local;  // unloads the library before the folder is removed
    Ref<IORVDescriptor> D = Local.AddDescriptor("broken", Path);

    Obj(D)->StartPlugin();  // no exception: the failure is only logged
    EXPECT_FALSE(Obj(D)->IsStarted());
    EXPECT_EQ(Obj(D)->FindFactoryMethod("GetExtensionImpl"), nullptr);
    // The engine's line, then the system loader's reason, on each attempt.
    const TStrings Lines = Log.Lines();
    ASSERT_EQ(Lines.size(), 4u);
    for (std::size_t I : {0u, 2u}) {
        EXPECT_EQ(Lines[I], LogLine('E', SCannotLoadDll, {"broken", Path}));
        EXPECT_EQ(Lines[I + 1].compare(0, 2, "E "), 0) << Lines[I + 1];
        EXPECT_NE(Lines[I + 1].find(Path), std::string::npos) << Lines[I + 1];
    }

    // The file becomes a real plug-in: the next lookup loads it, and the plug-in, which never
    // got started, is started now.
    Tree.CopyFile(TestPluginPath("model_full"), "broken.so");
    EXPECT_NE(Obj(D)->FindFactoryMethod("GetExtensionImpl"), nullptr);
    EXPECT_TRUE(Obj(D)->IsLoaded());
    EXPECT_TRUE(Obj(D)->IsStarted());
    EXPECT_EQ(Local.Registry->GetEnvironmentVariables()->GetValue("started.broken"), "yes");
    EXPECT_EQ(Spy.Opens, 3);
    EXPECT_EQ(Log.Lines().size(), 4u);
}

TEST_F(DescriptorTest, LibraryWithoutGetPluginImplStillSuppliesFactories) {
    Ref<IORVDescriptor> D = Of("noentry", "model_noentry");
    EXPECT_NE(Obj(D)->FindFactoryMethod("GetExtensionImpl"), nullptr);
    EXPECT_FALSE(D->GetPlugin());
    EXPECT_TRUE(Obj(D)->IsStarted());
    EXPECT_FALSE(Obj(D)->HasPluginEntry());
    EXPECT_EQ(Log.Lines(), TStrings{LogLine('I', SNoGetPluginImpl, {"noentry", D->GetLibrary()})});
}

TEST_F(DescriptorTest, FactoryLookupsAreCachedAndAMissingOneIsReportedOnce) {
    TPluginProbe Probe("model_full");
    Ref<IORVDescriptor> D = Of("full", "model_full");
    EXPECT_EQ(Obj(D)->FindFactoryMethod(""), nullptr);
    EXPECT_FALSE(Obj(D)->IsLoaded());  // an empty name loads nothing

    EXPECT_EQ(Obj(D)->FindFactoryMethod("Missing"), nullptr);
    EXPECT_EQ(Obj(D)->FindFactoryMethod("Missing"), nullptr);
    void* Factory = Obj(D)->FindFactoryMethod("CreateOther");
    EXPECT_NE(Factory, nullptr);
    EXPECT_EQ(Obj(D)->FindFactoryMethod("CreateOther"), Factory);
    EXPECT_EQ(Spy.LookupsOf("Missing"), 1);
    EXPECT_EQ(Spy.LookupsOf("CreateOther"), 1);
    EXPECT_EQ(Log.Lines(), TStrings{LogLine('W', SFactoryNotFound, {"full", "Missing"})});
    // The first lookup loaded the library and started the plug-in.
    EXPECT_EQ(Probe.Journal(), "start:full;");
}

TEST_F(DescriptorTest, NilPluginObjectIsAskedForAgainEachTime) {
    TPluginProbe Probe("model_nilplugin");
    Ref<IORVDescriptor> D = Of("nil", "model_nilplugin");
    EXPECT_FALSE(D->GetPlugin());
    EXPECT_FALSE(D->GetPlugin());
    EXPECT_EQ(Probe.Probe(2), 2);
    Obj(D)->StartPlugin();
    EXPECT_TRUE(Obj(D)->IsStarted());
    EXPECT_EQ(Probe.Probe(2), 3);
    EXPECT_EQ(Spy.Opens, 1);
    const std::string Nil = "W GetPluginImpl of plug-in [nil] (library " + D->GetLibrary() + ") yielded no plug-in object";
    EXPECT_EQ(Log.Lines(), (TStrings{Nil, Nil, Nil}));
}

TEST_F(DescriptorTest, ObjectThatIsNoPluginOrAThrowingEntryFailsLoggedAndUnstarted) {
    TPluginProbe Probe("model_notplugin");
    Ref<IORVDescriptor> Odd = Of("odd", "model_notplugin");
    EXPECT_THROW(Odd->GetPlugin(), EIntfCastError);
    EXPECT_EQ(Probe.Probe(0), 0);  // the object lacking IORVPlugin was released
    EXPECT_THROW(Obj(Odd)->StartPlugin(), EIntfCastError);
    EXPECT_FALSE(Obj(Odd)->IsStarted());

    Ref<IORVDescriptor> Throwing = Of("throw.entry", "model_throwing");
    EXPECT_THROW(Throwing->GetPlugin(), std::runtime_error);
    EXPECT_THROW(Obj(Throwing)->StartPlugin(), std::runtime_error);
    EXPECT_FALSE(Obj(Throwing)->IsStarted());
    // Each failure names the plug-in and its library; no start line: Start was never reached.
    const std::string OddAt = "plug-in [odd] (library " + Odd->GetLibrary() + ")";
    const std::string ThrowingAt = "plug-in [throw.entry] (library " + Throwing->GetLibrary() + ")";
    const std::string NotPlugin = "E GetPluginImpl of " + OddAt + " yielded an object without IORVPlugin";
    const std::string Raised = "E GetPluginImpl of " + ThrowingAt + " raised: GetPluginImpl failed in throw.entry";
    EXPECT_EQ(Log.Lines(), (TStrings{NotPlugin, NotPlugin, Raised, Raised}));
}

TEST_F(DescriptorTest, FailingStartIsLoggedRethrownAndTriedAgainLater) {
    TPluginProbe Probe("model_throwing");
    Ref<IORVDescriptor> D = Of("throw.start", "model_throwing");
    try {
        Obj(D)->StartPlugin();
        ADD_FAILURE() << "nothing raised";
    } catch (const std::runtime_error& E) {
        EXPECT_STREQ(E.what(), "Start failed in throw.start");
    }
    EXPECT_FALSE(Obj(D)->IsStarted());
    EXPECT_THROW(Obj(D)->StartPlugin(), std::runtime_error);
    EXPECT_EQ(Probe.Probe(1), 2);
    const std::string Failed = LogLine('E', SPluginStartError, {"throw.start"});
    EXPECT_EQ(Log.Lines(), (TStrings{Failed, Failed}));
}

TEST_F(DescriptorTest, FailingStopAndNonStdValuesAreLoggedAndRethrownUnchanged) {
    Ref<IORVDescriptor> Starting = Of("throw.start.nonstd", "model_throwing");
    Ref<IORVDescriptor> StoppingNonStd = Of("throw.stop.nonstd", "model_throwing");
    Ref<IORVDescriptor> Stopping = Of("throw.stop", "model_throwing");
    try {
        Obj(Starting)->StartPlugin();
        ADD_FAILURE() << "nothing raised";
    } catch (int Value) {
        EXPECT_EQ(Value, 42);
    }
    Obj(StoppingNonStd)->StartPlugin();
    try {
        Obj(StoppingNonStd)->StopPlugin();
        ADD_FAILURE() << "nothing raised";
    } catch (int Value) {
        EXPECT_EQ(Value, 42);
    }
    Obj(Stopping)->StartPlugin();
    EXPECT_THROW(Obj(Stopping)->StopPlugin(), std::runtime_error);
    EXPECT_TRUE(Obj(Stopping)->IsStarted());
    EXPECT_EQ(Log.Lines(), (TStrings{LogLine('E', SPluginStartError, {"throw.start.nonstd"}),
                                     LogLine('E', SPluginStopError, {"throw.stop.nonstd"}),
                                     LogLine('E', SPluginStopError, {"throw.stop"})}));
}

TEST_F(DescriptorTest, PluginObjectIsReleasedBeforeTheLibraryIsUnloaded) {
    TPluginProbe Probe("model_full");
    int32_t AliveAtUnload = -1;
    Spy.BeforeClose = [&] { AliveAtUnload = Probe.Probe(0); };
    {
        Ref<IORVDescriptor> D = NewDescriptor("full", TestPluginPath("model_full"));
        Obj(D)->StartPlugin();
        EXPECT_EQ(Probe.Probe(0), 1);
    }
    EXPECT_EQ(Spy.Closes, 1);
    EXPECT_EQ(AliveAtUnload, 0);
}

TEST_F(DescriptorTest, UnloadFailureIsLoggedAndSwallowed) {
    const std::string Library = TestPluginPath("model_noentry");
    for (auto Fault : {TSpyPlatform::TFault::Std, TSpyPlatform::TFault::NonStd}) {
        Spy.CloseFault = Fault;
        Ref<IORVDescriptor> D = NewDescriptor(Fault == TSpyPlatform::TFault::Std ? "a" : "b", Library);
        Obj(D)->StartPlugin();
    }
    { Ref<IORVDescriptor> NeverLoaded = NewDescriptor("c", Library); }
    EXPECT_EQ(Spy.Closes, 2);
    EXPECT_EQ(Log.Lines(), (TStrings{LogLine('I', SNoGetPluginImpl, {"a", Library}),
                                     LogLine('E', SCannotFreeDll, {"a", Library, "unload refused"}),
                                     LogLine('I', SNoGetPluginImpl, {"b", Library}),
                                     LogLine('E', SCannotFreeDll, {"b", Library, "unknown exception (not derived from std::exception)"})}));
}

}  // namespace
