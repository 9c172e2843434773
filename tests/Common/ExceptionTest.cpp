// Checks, explicit raises, argument-list formatting and assertions.
#include "Common/ORVException.h"
#include "Common/Platform.h"
#include "Support/NativeText.h"

#include <gtest/gtest.h>

#include <functional>

using namespace orv;

namespace {

// The message of the EORVException that Action raises ("<none>" when it raises nothing).
std::string RaisedText(const std::function<void()>& Action) {
    try {
        Action();
    } catch (const EORVException& E) {
        return E.what();
    }
    return "<none>";
}

std::string AssertionText(const std::function<void()>& Action) {
    try {
        Action();
    } catch (const EAssertionFailed& E) {
        return E.what();
    }
    return "<none>";
}

// Counts message-table loads and can replace an entry's text.
class TCountingMessages : public TPlatform {
public:
    int Loads = 0;
    std::string LoadMessage(unsigned Id) override {
        ++Loads;
        return TPlatform::LoadMessage(Id);
    }
};

}  // namespace

TEST(ExceptionTest, ChecksPassQuietlyOrRaiseExactlyTheirMessage) {
    using TB = TExceptionBuilder;
    int Object = 0;
    EXPECT_NO_THROW(TB::Check(true));
    EXPECT_NO_THROW(TB::Check(true, "never"));
    EXPECT_NO_THROW(TB::CheckFmt(true, "never %s", TArgList{"x"}));
    EXPECT_NO_THROW(TB::CheckNotNil(&Object));
    EXPECT_NO_THROW(TB::CheckNotEmpty("x", "never"));
    EXPECT_EQ(RaisedText([] { TB::Check(false); }), "Condition is not valid");
    EXPECT_EQ(RaisedText([] { TB::Check(false, " Text as given\r\n"); }), " Text as given\r\n");
    EXPECT_EQ(RaisedText([] { TB::CheckFmt(false, "[%s] %d%%", TArgList{"a", -7}); }), "[a] -7%");
    EXPECT_EQ(RaisedText([] { TB::CheckNotNil(nullptr); }), "Argument cannot be null");
    EXPECT_EQ(RaisedText([] { TB::CheckNotNil(Ref<IORVLogger>()); }), "Argument cannot be null");
    EXPECT_EQ(RaisedText([] { TB::CheckNotEmpty("", "插件[x]"); }), "插件[x]");
    EXPECT_EQ(RaisedText([] { TB::RaiseError(""); }), "");
    EXPECT_EQ(RaisedText([] { TB::RaiseError("boom"); }), "boom");
    EXPECT_EQ(RaisedText([] { TB::RaiseErrorFmt("%s/%s", TArgList{"a", "b"}); }), "a/b");
}

TEST(ExceptionTest, CheckArgNotNilAndAssertNameTheirSubjectAndLoadTheirEntryOnlyOnFailure) {
    TCountingMessages Counting;
    TPlatformOverride Override(Counting);
    int Object = 0;
    TExceptionBuilder::CheckArgNotNil(&Object, "Descriptor");
    Assert(true, AssertSites::Shutdown, SCannotStopIdleEngine);
    EXPECT_EQ(Counting.Loads, 0);
    EXPECT_EQ(RaisedText([] { TExceptionBuilder::CheckArgNotNil(nullptr, "Descriptor"); }),
              test::NativeText("参数[Descriptor]不能为空"));
    EXPECT_EQ(RaisedText([] { TExceptionBuilder::CheckArgNotNil(nullptr, ""); }), test::NativeText("参数[]不能为空"));
    EXPECT_EQ(AssertionText([] { Assert(false, AssertSites::Shutdown, SCannotStopIdleEngine); }),
              test::NativeText("不能关闭没有启动的装载器 (Engine/ORVEngineImpl, line 1337)"));
    EXPECT_EQ(Counting.Loads, 3);  // loaded afresh for every failure
}

TEST(ExceptionTest, FormattingFillsPlaceholdersLeftToRight) {
    TArgList Args{"x", 12, "y"};
    EXPECT_EQ(FormatArgs("%s-%d-%s", Args.Data(), Args.High()), "x-12-y");
    // A mistyped element leaves its placeholder as written and is used up; so is a missing one.
    EXPECT_EQ(FormatArgs("%d %s %s %s", Args.Data(), Args.High()), "%d %s y %s");
    EXPECT_EQ(FormatArgs("%s", Args.Data(), Args.High()), "x");  // surplus elements are ignored
    EXPECT_EQ(FormatArgs("%s", nullptr, -1), "%s");
    EXPECT_EQ(FormatArgs("100%", nullptr, -1), "100%");
    TVarRec NilString{};
    NilString.VType = vtAnsiString;
    NilString.VAnsiString = nullptr;
    EXPECT_EQ(FormatArgs("[%s]", &NilString, 0), "[]");

    // Entry 65534 takes an id and an integer; placeholder characters inside an argument are copied.
    const std::string Fmt = LoadMessage(SUniquePointOverfull);
    EXPECT_EQ(RaisedText([&] { TExceptionBuilder::RaiseErrorFmt(Fmt, TArgList{"Core.Apps", 3}); }),
              test::NativeText("唯一扩展点[Core.Apps]包含3个扩展。"));
    EXPECT_EQ(RaisedText([&] { TExceptionBuilder::RaiseErrorFmt(Fmt, TArgList{"a%db%s", 2147483647}); }),
              test::NativeText("唯一扩展点[a%db%s]包含2147483647个扩展。"));
}

TEST(ExceptionTest, AssertionsNameUnitAndLine) {
    EXPECT_NO_THROW(Assert(true, AssertSites::SetVariable));
    EXPECT_EQ(AssertionText([] { Assert(false, AssertSites::SetVariable); }),
              "Assertion failure (Common/ORVMiscUtils, line 71)");
    EXPECT_EQ(AssertionText([] { Assert(false, AssertSites::ReadPluginConfig); }),
              "Assertion failure (Engine/ORVEngineImpl, line 1954)");
    EXPECT_EQ(AssertionText([] { Assert(false, AssertSites::StartupWithConfig, SEngineAlreadyStarted); }),
              test::NativeText("插件已经启动 (Engine/ORVEngineImpl, line 1607)"));
}
