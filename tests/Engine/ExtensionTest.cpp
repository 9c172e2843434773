// Extensions and extension points: qualified ids, the point list, the fresh point lookup and
// the factory that starts its plug-in on demand.
#include "ModelTestSupport.h"

#include <gtest/gtest.h>

#include <stdexcept>

using namespace orv;
using namespace orv::test;

namespace {

using TStrings = std::vector<std::string>;

class ExtensionTest : public ::testing::Test {
protected:
    TLogCapture Log;
    TModel Model;
    Ref<IORVDescriptor> Plugin = Model.AddDescriptor("p");

    TStrings PointsOf(const std::string& Text) {
        auto* E = new TORVExtension("e");
        Ref<IORVExtension> Hold(E);
        E->SetDescriptor(ModelObject(Plugin));
        E->SetPoints(Text);
        return E->GetPoints();
    }
};

TEST_F(ExtensionTest, QualifiedIdsJoinPluginIdAndLocalId) {
    Ref<IORVDescriptor> Runtime = Model.AddDescriptor("ORVEngine.Runtime");
    EXPECT_EQ(AddPoint(Runtime, "applications")->GetID(), "ORVEngine.Runtime.applications");
    EXPECT_EQ(AddExtension(Plugin, "x", "a")->GetID(), "p.x");
    // The plug-in id is asked for on every call, not remembered.
    TConverter::ToDescriptor(Plugin)->SetID("q");
    EXPECT_EQ(Plugin->GetExtensions()->GetItem(0)->GetID(), "q.x");
}

TEST_F(ExtensionTest, PointListRule) {
    EXPECT_EQ(PointsOf("a, b"), (TStrings{"p.a", "p.b"}));
    EXPECT_EQ(PointsOf("a b"), (TStrings{"p.a", "p.b"}));
    EXPECT_EQ(PointsOf("ORVEngine.Runtime.applications"), TStrings{"ORVEngine.Runtime.applications"});
    EXPECT_EQ(PointsOf("a,"), (TStrings{"p.a", "p."}));
    EXPECT_EQ(PointsOf(",a,,b"), (TStrings{"p.", "p.a", "p.", "p.b"}));
    EXPECT_EQ(PointsOf("\"two words\", \"q.x\"\"y\"\"\""), (TStrings{"p.two words", "q.x\"y\""}));
    EXPECT_EQ(PointsOf("\" \tpadded\x01 \""), TStrings{"p.padded"});
}

TEST_F(ExtensionTest, EmptyPointListAndMissingDescriptorAreRefused) {
    auto* E = new TORVExtension("e");
    Ref<IORVExtension> Hold(E);
    EXPECT_THROW(E->SetPoints("a"), EORVException);  // no descriptor: "Condition is not valid"
    EXPECT_THROW(E->GetID(), EORVException);
    EXPECT_THROW(E->GetDescriptor(), EORVException);
    EXPECT_THROW(E->GetFactory(), EORVException);
    Ref<IORVExtensionPoint> Orphan(new TORVExtensionPoint());
    EXPECT_THROW(Orphan->GetID(), EORVException);

    E->SetDescriptor(ModelObject(Plugin));
    E->SetPoints("a");
    const TArgList Args{"p.e"};
    try {
        E->SetPoints("");
        ADD_FAILURE() << "nothing raised";
    } catch (const EORVException& Error) {
        EXPECT_EQ(Error.what(), FormatArgs(LoadMessage(SExtensionWithoutPoints), Args.Data(), Args.High()));
    }
    EXPECT_EQ(E->GetPoints(), TStrings{"p.a"});
}

TEST_F(ExtensionTest, PointsAreLookedUpAfreshHeldOnceAndAnUnknownOneIsLoggedAndRaised) {
    Ref<IORVExtensionPoint> A = AddPoint(Plugin, "a");
    Ref<IORVExtension> E = AddExtension(Plugin, "e", "a, p.a");
    Ref<IORVExtension> Dangling = AddExtension(Plugin, "d", "a,");
    EXPECT_THROW(E->GetExtensionPoints(), EORVException);  // the registry is not parsed yet
    Model.Object()->SetParsed(true);

    Ref<IORVExtensionPoints> First = E->GetExtensionPoints();
    Ref<IORVExtensionPoints> Second = E->GetExtensionPoints();
    EXPECT_FALSE(First == Second);
    ASSERT_EQ(First->GetCount(), 1);
    EXPECT_TRUE(First->GetItem(0) == A);
    EXPECT_EQ(Second->GetCount(), 1);
    EXPECT_TRUE(Log.Lines().empty());

    const TArgList Args{"/plugins/p/plugin.xml", "p."};
    try {
        Dangling->GetExtensionPoints();
        ADD_FAILURE() << "nothing raised";
    } catch (const EORVException& Error) {
        EXPECT_EQ(Error.what(), FormatArgs(LoadMessage(SExtensionPointMissing), Args.Data(), Args.High()));
    }
    EXPECT_EQ(Log.Lines(), TStrings{LogLine('E', SExtensionPointMissing, {"/plugins/p/plugin.xml", "p."})});
}

TEST_F(ExtensionTest, FactoryStartsALazyPluginFirst) {
    TPluginProbe Probe("model_full");
    Ref<IORVDescriptor> Lazy = Model.AddDescriptor("lazy", TestPluginPath("model_full"), false);
    Ref<IORVExtension> E = AddExtension(Lazy, "app", "p.a");
    Ref<IORVExtension> Missing = AddExtension(Lazy, "none", "p.a", "NotExported");
    Ref<IORVExtension> Nameless = AddExtension(Lazy, "nameless", "p.a", "");

    TORVFactory Factory = E->GetFactory();
    ASSERT_NE(Factory, nullptr);
    EXPECT_EQ(Probe.Journal(), "start:lazy;");

    Ref<IInterface> Made;
    Factory(Made.Put(), E.Get());
    Ref<IORVApplication> App = Supports<IORVApplication>(Made, "IORVApplication");
    App->Run(nullptr, -1);
    EXPECT_EQ(Probe.Journal(), "start:lazy;run:lazy.app;");

    EXPECT_EQ(Missing->GetFactory(), nullptr);
    EXPECT_EQ(Missing->GetFactory(), nullptr);
    EXPECT_EQ(Nameless->GetFactory(), nullptr);
    EXPECT_EQ(Log.Lines(), TStrings{LogLine('W', SFactoryNotFound, {"lazy", "NotExported"})});
}

TEST_F(ExtensionTest, FailuresOfStartAndOfFactoriesReachTheCaller) {
    Ref<IORVDescriptor> Failing = Model.AddDescriptor("throw.start", TestPluginPath("model_throwing"));
    Ref<IORVExtension> Blocked = AddExtension(Failing, "x", "p.a");
    EXPECT_THROW(Blocked->GetFactory(), std::runtime_error);
    EXPECT_EQ(Log.Lines(), TStrings{LogLine('E', SPluginStartError, {"throw.start"})});

    Ref<IORVDescriptor> Working = Model.AddDescriptor("calm", TestPluginPath("model_throwing"));
    TORVFactory Std = AddExtension(Working, "std", "p.a")->GetFactory();
    TORVFactory Other = AddExtension(Working, "other", "p.a", "ThrowOther")->GetFactory();
    ASSERT_NE(Std, nullptr);
    ASSERT_NE(Other, nullptr);
    Ref<IInterface> Made;
    EXPECT_THROW(Std(Made.Put(), nullptr), std::runtime_error);
    EXPECT_THROW(Other(Made.Put(), nullptr), int);
    EXPECT_FALSE(Made);
}

}  // namespace
