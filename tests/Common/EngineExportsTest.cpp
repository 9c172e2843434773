// The engine library's exports, reached the way a host reaches them.
#include "Common/Platform.h"
#include "Support/RecordingLogger.h"

#include <gtest/gtest.h>

using namespace orv;
using namespace orv::test;

namespace {

const std::string EngineLibrary =
    std::string(ORV_TEST_BIN_DIR) + (TPathRules::Delimiter == '/' ? "/libORVEngine.so" : "/ORVEngine.dll");

// The engine library, loaded for one test.
class TEngineLibrary {
public:
    TEngineLibrary() {
        std::string Error;
        Handle_ = Platform().OpenLibrary(EngineLibrary, Error);
        if (!Handle_) ADD_FAILURE() << Error;
    }
    ~TEngineLibrary() { Platform().CloseLibrary(Handle_); }
    void* Symbol(const char* Name) const { return Handle_ ? Platform().FindSymbol(Handle_, Name) : nullptr; }

private:
    TLibraryHandle Handle_ = nullptr;
};

}  // namespace

TEST(EngineExportsTest, SetLoggerKeepsNoReference) {
    TEngineLibrary Engine;
    auto Set = reinterpret_cast<TSetLogger>(Engine.Symbol("SetLogger"));
    ASSERT_NE(Set, nullptr);
    Ref<TRecordingLogger> L1 = TRecordingLogger::Create();
    Ref<TRecordingLogger> L2 = TRecordingLogger::Create();
    Set(L1.Get());
    EXPECT_EQ(L1->RefCount(), 1);
    Set(L2.Get());
    EXPECT_EQ(L1->RefCount(), 1);
    EXPECT_EQ(L2->RefCount(), 1);
    Set(nullptr);
    EXPECT_EQ(L2->RefCount(), 1);
}
