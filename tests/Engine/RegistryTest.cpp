// The registry: unions, linking, the Unique/Required checks, start and stop passes and the store.
#include "ModelTestSupport.h"

#include "Engine/ORVEnvironmentVariables.h"

#include <gtest/gtest.h>

#include <stdexcept>

using namespace orv;
using namespace orv::test;

namespace {

using TStrings = std::vector<std::string>;

class RegistryTest : public ::testing::Test {
protected:
    TLogCapture Log;
    TModel Model;
    TORVRegistry* Registry = Model.Object();
};

TEST_F(RegistryTest, UnionsAndValidateNeedTheEarlierStepsAndAnEmptyRegistryResolvesQuietly) {
    const std::string NotParsed = LoadMessage(SRegistryNotParsed);
    EXPECT_EQ(MessageOf([&] { Model.Registry->GetExtensions(); }), NotParsed);
    EXPECT_EQ(MessageOf([&] { Model.Registry->GetExtensionPoints(); }), NotParsed);
    Registry->SetParsed(true);
    EXPECT_EQ(MessageOf([&] { Registry->Validate(); }), LoadMessage(SResolveBeforeValidate));
    std::vector<TLogRecord> Lines = Log.Logger->Records();
    ASSERT_EQ(Lines.size(), 1u);
    EXPECT_EQ(Lines[0].Level, TLogLevel::Error);
    EXPECT_FALSE(Lines[0].Formatted);
    EXPECT_EQ(Lines[0].Text, LoadMessage(SResolveBeforeValidate));
    Log.Logger->Clear();

    EXPECT_TRUE(Registry->Resolve(true, true));
    EXPECT_TRUE(Registry->IsResolved());
    EXPECT_EQ(Model.Registry->GetExtensions()->GetCount(), 0);
    EXPECT_EQ(Model.Registry->GetExtensionPoints()->GetCount(), 0);
    Registry->StartPlugins();
    Registry->StopPlugins();
    EXPECT_TRUE(Log.Lines().empty());
}

TEST_F(RegistryTest, UnionsAreCachedUntilClearCaches) {
    Ref<IORVDescriptor> P = Model.AddDescriptor("p");
    AddPoint(P, "a");
    AddExtension(P, "e", "a");
    Registry->SetParsed(true);
    Ref<IORVExtensionPoints> Points = Model.Registry->GetExtensionPoints();
    Ref<IORVExtensions> Extensions = Model.Registry->GetExtensions();
    EXPECT_TRUE(Model.Registry->GetExtensionPoints() == Points);
    EXPECT_TRUE(Model.Registry->GetExtensions() == Extensions);

    Ref<IORVDescriptor> Q = Model.AddDescriptor("q");
    AddPoint(Q, "b");
    EXPECT_FALSE(Model.Registry->GetExtensionPoints()->Find("q.b"));  // served from the cache
    Registry->ClearCaches();
    Ref<IORVExtensionPoints> Rebuilt = Model.Registry->GetExtensionPoints();
    EXPECT_FALSE(Rebuilt == Points);
    EXPECT_EQ(Rebuilt->GetCount(), 2);
    EXPECT_TRUE(Rebuilt->Find("q.b"));
    EXPECT_FALSE(Model.Registry->GetExtensions() == Extensions);
    // The union holds the very objects of the descriptors.
    EXPECT_TRUE(Rebuilt->Find("p.a") == P->GetExtensionPoints()->GetItem(0));
}

TEST_F(RegistryTest, ResolveLinksEachExtensionOncePerPointAndOnlyOnce) {
    Ref<IORVDescriptor> Host = Model.AddDescriptor("host");
    Ref<IORVExtensionPoint> A = AddPoint(Host, "a");
    Ref<IORVExtensionPoint> B = AddPoint(Host, "b");
    Ref<IORVDescriptor> Guest = Model.AddDescriptor("guest");
    Ref<IORVExtension> Twice = AddExtension(Guest, "twice", "host.a, host.a");
    Ref<IORVExtension> Both = AddExtension(Guest, "both", "host.a host.b");
    Registry->SetParsed(true);
    EXPECT_TRUE(Registry->Resolve(true, true));
    ASSERT_EQ(A->GetExtensions()->GetCount(), 2);
    EXPECT_TRUE(A->GetExtensions()->GetItem(0) == Twice);
    EXPECT_TRUE(A->GetExtensions()->Find("guest.both") == Both);
    EXPECT_EQ(B->GetExtensions()->GetCount(), 1);

    // A second Resolve does nothing; resolving again after re-parsing keeps the links as they are.
    EXPECT_TRUE(Registry->Resolve(false, false));
    Registry->ClearCaches();
    Registry->SetResolved(false);
    EXPECT_TRUE(Registry->Resolve(true, true));
    EXPECT_EQ(A->GetExtensions()->GetCount(), 2);
    EXPECT_TRUE(Log.Lines().empty());
}

TEST_F(RegistryTest, ResolvingWithoutLinkingReportsEveryRequiredPoint) {
    Ref<IORVDescriptor> P = Model.AddDescriptor("p");
    AddPoint(P, "needed", true);
    AddPoint(P, "also", true);
    AddExtension(P, "e", "needed, also");
    Registry->SetParsed(true);
    EXPECT_TRUE(Registry->Resolve(true, false));
    EXPECT_TRUE(Registry->IsResolved());
    EXPECT_EQ(Log.Lines(), (TStrings{LogLine('E', SRequiredPointEmpty, {"p.needed"}),
                                     LogLine('E', SRequiredPointEmpty, {"p.also"})}));
}

TEST_F(RegistryTest, UniqueAndRequiredLinesCarryTheQualifiedIdAndTheCount) {
    Ref<IORVDescriptor> P = Model.AddDescriptor("p");
    AddPoint(P, "one", false, true);
    AddPoint(P, "three", false, true);
    AddPoint(P, "bothnone", true, true);
    AddPoint(P, "bothtwo", true, true);
    AddPoint(P, "plain");
    Ref<IORVDescriptor> Q = Model.AddDescriptor("q");
    AddExtension(Q, "x", "p.one, p.three, p.bothtwo");
    AddExtension(Q, "y", "p.three, p.bothtwo");
    AddExtension(Q, "z", "p.three");
    Registry->SetParsed(true);
    Registry->Resolve(true, true);
    EXPECT_EQ(Log.Lines(), (TStrings{LogLine('E', SUniquePointOverfull, {"p.three", "int:3"}),
                                     LogLine('E', SRequiredPointEmpty, {"p.bothnone"}),
                                     LogLine('E', SUniquePointOverfull, {"p.bothtwo", "int:2"})}));
}

TEST_F(RegistryTest, FailedLinkingLeavesTheRegistryUnresolvedWithEarlierLinks) {
    Ref<IORVDescriptor> P = Model.AddDescriptor("p");
    Ref<IORVExtensionPoint> A = AddPoint(P, "a");
    AddExtension(P, "good", "a");
    AddExtension(P, "bad", "a, nowhere");
    Registry->SetParsed(true);
    EXPECT_THROW(Registry->Resolve(true, true), EORVException);
    EXPECT_FALSE(Registry->IsResolved());
    EXPECT_EQ(A->GetExtensions()->GetCount(), 1);
    // The missing point; Validate did not run.
    EXPECT_EQ(Log.Lines(), TStrings{LogLine('E', SExtensionPointMissing, {P->GetConfigFile(), "p.nowhere"})});
}

TEST_F(RegistryTest, LinkingArgumentsAndInvariants) {
    Registry->SetParsed(true);
    EXPECT_EQ(MessageOf([&] { Registry->ResolveDescriptor(nullptr); }), "Argument cannot be null");
    EXPECT_EQ(MessageOf([&] { Registry->ResolveExtension(nullptr); }), "Argument cannot be null");
    // An extension that names no point at all (the reader never builds one) breaks an invariant.
    Ref<IORVDescriptor> P = Model.AddDescriptor("p");
    auto* Pointless = new TORVExtension("e");
    Ref<IORVExtension> Hold(Pointless);
    Pointless->SetDescriptor(ModelObject(P));
    EXPECT_THROW(Registry->ResolveExtension(Hold), EAssertionFailed);
    EXPECT_EQ(MessageOf([&] { Registry->ResolveExtension(Hold); }), "Assertion failure (Engine/ORVEngineImpl, line 557)");
}

TEST_F(RegistryTest, PluginsWithOneIdAreAllKeptStartedAndStopped) {
    TPluginProbe Probe("model_full");
    const std::string Library = TestPluginPath("model_full");
    Ref<IORVDescriptor> First = Model.AddDescriptor("dup", Library, true);
    Ref<IORVDescriptor> Second = Model.AddDescriptor("dup", Library, true);
    AddPoint(First, "a");
    Ref<IORVExtensionPoint> Later = AddPoint(Second, "a");
    Registry->SetParsed(true);
    Registry->Resolve(true, true);
    EXPECT_EQ(Model.Registry->GetDescriptors()->GetCount(), 2);
    EXPECT_TRUE(Model.Registry->GetDescriptors()->Find("dup") == Second);
    EXPECT_EQ(Model.Registry->GetExtensionPoints()->GetCount(), 2);
    EXPECT_TRUE(Model.Registry->GetExtensionPoints()->Find("dup.a") == Later);

    Registry->StartPlugins();
    Registry->StopPlugins();
    EXPECT_EQ(Probe.Journal(), "start:dup;start:dup;stop:dup;stop:dup;");
    EXPECT_EQ(Probe.Probe(0), 2);
}

TEST_F(RegistryTest, StartPassTakesInitializeOnlyAndStopPassVisitsAllInTheSameOrder) {
    TPluginProbe Probe("model_full");
    const std::string Library = TestPluginPath("model_full");
    Model.AddDescriptor("a", Library, true);
    Ref<IORVDescriptor> B = Model.AddDescriptor("b", Library, false);
    Model.AddDescriptor("c", Library, true);
    Registry->StartPlugins();
    EXPECT_EQ(Probe.Journal(), "start:a;start:c;");
    EXPECT_FALSE(TConverter::ToDescriptor(B)->IsLoaded());

    TConverter::ToDescriptor(B)->StartPlugin();  // as a factory lookup would
    Registry->StopPlugins();
    EXPECT_EQ(Probe.Journal(), "start:a;start:c;start:b;stop:a;stop:b;stop:c;");
}

TEST_F(RegistryTest, FirstFailureEndsTheStartPassAndIsRaisedAfterTheStopPass) {
    TPluginProbe Probe("model_full");
    const std::string Full = TestPluginPath("model_full");
    const std::string Throwing = TestPluginPath("model_throwing");
    Model.AddDescriptor("a", Full, true);
    Model.AddDescriptor("throw.start", Throwing, true);
    Ref<IORVDescriptor> C = Model.AddDescriptor("c", Full, true);
    EXPECT_THROW(Registry->StartPlugins(), std::runtime_error);
    EXPECT_EQ(Probe.Journal(), "start:a;");
    EXPECT_FALSE(TConverter::ToDescriptor(C)->IsStarted());

    TModel Other;
    Other.AddDescriptor("x", Full, true);
    Other.AddDescriptor("throw.stop", Throwing, true);
    Other.AddDescriptor("y", Full, true);
    Other.AddDescriptor("throw.stop.nonstd", Throwing, true);
    Other.Object()->StartPlugins();
    // Every started plug-in is stopped; the first failure comes out after the pass.
    EXPECT_EQ(MessageOf([&] { Other.Object()->StopPlugins(); }), "Stop failed in throw.stop");
    EXPECT_EQ(Probe.Journal(), "start:a;start:x;start:y;stop:x;stop:y;");
    EXPECT_EQ(Log.Lines(), (TStrings{LogLine('E', SPluginStartError, {"throw.start"}),
                                     LogLine('E', SPluginStopError, {"throw.stop"}),
                                     LogLine('E', SPluginStopError, {"throw.stop.nonstd"})}));
    // A stopped plug-in is not stopped again.
    Other.Object()->StopPlugins();
    EXPECT_EQ(Probe.Journal(), "start:a;start:x;start:y;stop:x;stop:y;");
}

TEST_F(RegistryTest, StoreHandedOutDuringStartIsReplacedAfterwards) {
    Model.AddDescriptor("a", TestPluginPath("model_full"), true);
    Ref<IORVEnvironmentVariables> Early = Model.Registry->GetEnvironmentVariables();
    EXPECT_TRUE(Model.Registry->GetEnvironmentVariables() == Early);
    Registry->StartPlugins();
    EXPECT_EQ(Early->GetValue("STARTED.A"), "yes");  // the plug-in wrote into the on-demand store

    Ref<IORVEnvironmentVariables> Configured(new TORVEnvironmentVariables());
    Configured->SetValue("mode", "test");
    Registry->SetEnvironmentVariables(Configured);
    EXPECT_TRUE(Model.Registry->GetEnvironmentVariables() == Configured);
    EXPECT_EQ(Configured->GetValue("started.a"), "");
    EXPECT_EQ(Early->GetValue("started.a"), "yes");  // earlier holders keep the old store

    Registry->SetEnvironmentVariables(nullptr);
    Ref<IORVEnvironmentVariables> Fresh = Model.Registry->GetEnvironmentVariables();
    EXPECT_FALSE(Fresh == Configured);
    EXPECT_EQ(Fresh->GetValue("mode"), "");
}

}  // namespace
