// The message table: which ids exist, their texts, and that every use reads it afresh.
#include "Common/ORVConsts.h"
#include "Common/Platform.h"
#include "Support/NativeText.h"

#include <gtest/gtest.h>

#include <vector>

using namespace orv;

TEST(MessageTableTest, HoldsThirtyEntriesInTwoBlocks) {
    std::vector<unsigned> Present;
    for (unsigned Id = 65400; Id <= 65600; ++Id)
        if (!Platform().LoadMessage(Id).empty()) Present.push_back(Id);
    std::vector<unsigned> Expected;
    for (unsigned Id = 65504; Id <= 65535; ++Id)
        if (Id != 65518 && Id != 65519) Expected.push_back(Id);
    EXPECT_EQ(Present, Expected);
    EXPECT_EQ(Platform().LoadMessage(0), "");
}

TEST(MessageTableTest, TextsAreTheEnginesOwn) {
    EXPECT_EQ(LoadMessage(SEntryPointError), test::NativeText("获取入口点扩展点时发生错误："));
    EXPECT_EQ(LoadMessage(SEngineStopped), test::NativeText("%s-关闭装载器"));
    EXPECT_EQ(LoadMessage(SArgumentIsNil), test::NativeText("参数[%s]不能为空"));
    EXPECT_EQ(LoadMessage(SCannotFreeDll), test::NativeText("不能释放Dll[插件=%s 路径=%s]，详细信息：%s"));
    EXPECT_EQ(LoadMessage(SInvalidPluginNode), test::NativeText("配置文件[%s]格式非法。\r\n节点[%s]名称错误."));
    EXPECT_EQ(LoadMessage(SUniquePointOverfull), test::NativeText("唯一扩展点[%s]包含%d个扩展。"));
    EXPECT_EQ(LoadMessage(SRequiredPointEmpty), test::NativeText("必选扩展点[%s]没有实现。"));
    EXPECT_EQ(SEntryPointError, 65504);
    EXPECT_EQ(SArgumentIsNil, 65520);
    EXPECT_EQ(SRequiredPointEmpty, 65535);
}

namespace {
class TFixedMessages : public TPlatform {
public:
    explicit TFixedMessages(std::string Text) : Text_(std::move(Text)) {}
    int Loads = 0;
    std::string LoadMessage(unsigned) override {
        ++Loads;
        return Text_;
    }

private:
    std::string Text_;
};
}  // namespace

TEST(MessageTableTest, EveryLoadGoesThroughThePlatformLayer) {
    TFixedMessages Outer("outer");
    {
        TPlatformOverride O1(Outer);
        EXPECT_EQ(LoadMessage(SNoEntryPoint), "outer");
        EXPECT_EQ(LoadMessage(SNoEntryPoint), "outer");
        EXPECT_EQ(Outer.Loads, 2);  // nothing cached
        TFixedMessages Inner("inner");
        {
            TPlatformOverride O2(Inner);
            EXPECT_EQ(LoadMessage(SNoEntryPoint), "inner");
        }
        EXPECT_EQ(LoadMessage(SNoEntryPoint), "outer");
    }
    EXPECT_EQ(LoadMessage(SNoEntryPoint), test::NativeText("没有找到入口点"));
}
