// Per-thread loggers: the null logger, the host slot, and how log calls reach the logger.
#include "Common/ORVCommon.h"
#include "Support/NativeText.h"
#include "Support/RecordingLogger.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <thread>

using namespace orv;
using namespace orv::test;

namespace {

// The reference count of an object we hold a reference to.
int32_t CountOf(IInterface* I) {
    I->AddRef();
    return I->Release();
}

// Lets a fixed number of threads wait for each other.
class TRendezvous {
public:
    explicit TRendezvous(int Parties) : Left_(Parties) {}
    void ArriveAndWait() {
        std::unique_lock<std::mutex> G(Lock_);
        if (--Left_ == 0) Done_.notify_all();
        Done_.wait(G, [this] { return Left_ == 0; });
    }

private:
    std::mutex Lock_;
    std::condition_variable Done_;
    int Left_;
};

}  // namespace

TEST(LoggingTest, NullLoggerIsCreatedOncePerThreadReusedAndReleasedWithTheThread) {
    Ref<IORVLogger> First = GetLogger();
    ASSERT_TRUE(First);
    Ref<IORVLogger> Second = GetLogger();
    EXPECT_EQ(First.Get(), Second.Get());
    EXPECT_EQ(CountOf(First.Get()), 3);  // the thread's slot, First, Second
    EXPECT_TRUE(First.Query<IORVLogger>());

    Ref<IORVLogger> Other;
    std::thread([&] {
        Log::ErrorFmt(SRequiredPointEmpty, TArgList{"p"});  // creates the thread's null logger
        Other = GetLogger();
        EXPECT_EQ(GetLogger().Get(), Other.Get());
    }).join();
    ASSERT_TRUE(Other);
    EXPECT_NE(Other.Get(), First.Get());
    EXPECT_EQ(CountOf(Other.Get()), 1);  // the ended thread's slot let go
    EXPECT_EQ(GetLogger().Get(), First.Get());

    Second = nullptr;
    ReleaseThreadNullLogger();
    EXPECT_EQ(CountOf(First.Get()), 1);
    EXPECT_NE(GetLogger().Get(), First.Get());
    ReleaseThreadNullLogger();  // twice in a row is harmless
    ReleaseThreadNullLogger();
}

TEST(LoggingTest, HostLoggerIsSeenOnlyOnItsOwnThread) {
    Ref<TRecordingLogger> L1 = TRecordingLogger::Create();
    Ref<TRecordingLogger> L2 = TRecordingLogger::Create();
    TRendezvous BothSet(2), BothLogged(2);
    auto Worker = [&](TRecordingLogger* Mine, const char* Name) {
        TLoggerScope Scope(Mine);
        BothSet.ArriveAndWait();
        EXPECT_EQ(GetLogger().Get(), static_cast<IORVLogger*>(Mine));
        Log::ErrorFmt(SPluginStartError, TArgList{Name});
        BothLogged.ArriveAndWait();
    };
    std::thread T1(Worker, L1.Get(), "one");
    std::thread T2(Worker, L2.Get(), "two");
    T1.join();
    T2.join();
    Log::ErrorFmt(SPluginStartError, TArgList{"main"});  // this thread has no host logger

    EXPECT_EQ(L1->Messages(), std::vector<std::string>{NativeText("插件[one]启动时发生错误")});
    EXPECT_EQ(L2->Messages(), std::vector<std::string>{NativeText("插件[two]启动时发生错误")});
    EXPECT_EQ(L1->RefCount(), 1);
    EXPECT_EQ(L2->RefCount(), 1);
}

TEST(LoggingTest, SettingTakesNoReferenceReplacesWithoutReleasingAndClearingReturnsToTheNullLogger) {
    Ref<IORVLogger> Null = GetLogger();
    Ref<TRecordingLogger> L1 = TRecordingLogger::Create();
    Ref<TRecordingLogger> L2 = TRecordingLogger::Create();
    SetThreadLogger(L1.Get());
    Log::Error("to L1");
    SetThreadLogger(L2.Get());
    Log::WarnFmt(SPluginDocumentEmpty, TArgList{"a.xml"});
    EXPECT_EQ(L1->RefCount(), 1);
    EXPECT_EQ(L2->RefCount(), 1);
    SetThreadLogger(nullptr);
    EXPECT_EQ(L2->RefCount(), 1);
    Log::Error("to the null logger");
    EXPECT_EQ(L1->Messages(), std::vector<std::string>{"to L1"});
    EXPECT_EQ(L2->Size(), 1u);
    EXPECT_EQ(GetLogger().Get(), Null.Get());
}

TEST(LoggingTest, EachHelperMakesOneUnformattedCallAtItsLevel) {
    Ref<TRecordingLogger> L = TRecordingLogger::Create();
    TLoggerScope Scope(L);
    Log::Error("获取入口点扩展点时发生错误：x");
    Log::InfoFmt(SPluginBoundToDll, TArgList{"P", "/p/libP.so"});
    Log::WarnFmt(SDllNotFound, TArgList{"P", "/p", "libP.so"});
    Log::ErrorFmt(SUniquePointOverfull, TArgList{"Core.Apps", 3});

    std::vector<TLogRecord> R = L->Records();
    ASSERT_EQ(R.size(), 4u);
    EXPECT_EQ(R[0].Level, TLogLevel::Error);
    EXPECT_FALSE(R[0].Formatted);
    EXPECT_EQ(R[0].Text, "获取入口点扩展点时发生错误：x");

    EXPECT_TRUE(R[1].Formatted);
    EXPECT_EQ(R[1].Message, NativeText("插件[P]绑定到Dll[/p/libP.so]"));
    EXPECT_EQ(L->Lines()[1], "I " + NativeText("插件[%s]绑定到Dll[%s]") + " {P} {/p/libP.so}");
    EXPECT_EQ(L->Lines()[2], "W " + NativeText("插件[ID=%s Location=%s]的Dll[%s]不存在。") + " {P} {/p} {libP.so}");

    // The unique-point entry arrives as the raw template with a string, then an integer.
    EXPECT_EQ(L->Lines()[3], "E " + NativeText("唯一扩展点[%s]包含%d个扩展。") + " {Core.Apps} {int:3}");
    EXPECT_EQ(R[3].Args[0].Type, vtAnsiString);
    EXPECT_EQ(R[3].Message, NativeText("唯一扩展点[Core.Apps]包含3个扩展。"));
    EXPECT_EQ(L->RefCount(), 1);
}

TEST(LoggingTest, LoggerExceptionReachesTheCallerWithCountsBalanced) {
    Ref<TRecordingLogger> L = TRecordingLogger::Create();
    L->ThrowAfterRecording("logger failed");
    TLoggerScope Scope(L);
    EXPECT_THROW(Log::ErrorFmt(SRequiredPointEmpty, TArgList{"p"}), std::runtime_error);
    EXPECT_THROW(Log::Error("x"), std::runtime_error);
    EXPECT_EQ(L->Size(), 2u);
    EXPECT_EQ(L->RefCount(), 1);
}
