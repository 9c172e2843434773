// The engine library's exports, reached the way a host reaches them.
#include "Support/EngineModule.h"
#include "Support/RecordingLogger.h"

#include <gtest/gtest.h>

using namespace orv;
using namespace orv::test;

TEST(EngineExportsTest, SetLoggerKeepsNoReference) {
    TEngineModule Engine(TEngineModule::LibraryIn(ORV_TEST_BIN_DIR));
    Ref<TRecordingLogger> L1 = TRecordingLogger::Create();
    Ref<TRecordingLogger> L2 = TRecordingLogger::Create();
    Engine.SetLogger(L1.Get());
    EXPECT_EQ(L1->RefCount(), 1);
    Engine.SetLogger(L2.Get());
    EXPECT_EQ(L1->RefCount(), 1);
    EXPECT_EQ(L2->RefCount(), 1);
    Engine.SetLogger(nullptr);
    EXPECT_EQ(L2->RefCount(), 1);
}
