// Ref<T>: which conversions exist, and that the ones that do keep counts and pointers right for
// an object with several interfaces.
#include <ORVPluginHelpers.h>

#include <gtest/gtest.h>

#include <type_traits>

using namespace orv;

namespace {

// Upcasts convert; a downcast or a sideways cast does not compile, and goes through Query<T>().
static_assert(std::is_convertible<Ref<IORVPlugin>, Ref<IInterface>>::value, "an upcast converts");
static_assert(!std::is_constructible<Ref<IORVPlugin>, Ref<IInterface>>::value, "a downcast does not compile");
static_assert(!std::is_constructible<Ref<IORVApplication>, Ref<IORVPlugin>>::value, "a cross cast does not compile");
static_assert(!std::is_convertible<IORVPlugin*, Ref<IORVPlugin>>::value, "taking a raw pointer is explicit");

// The plug-in interface second, so that its pointer differs from the object's first interface.
class TTwoFaced : public TInterfacedObject<IORVApplication, IORVPlugin> {
public:
    void ORV_CALL Run(const TVarRec*, int32_t) override {}
    void ORV_CALL Start() override { ++Starts; }
    void ORV_CALL Stop() override {}
    int Starts = 0;
};

TEST(RefTest, ConversionsAndQueriesKeepCountsAndReachTheRightInterface) {
    auto* Object = new TTwoFaced();
    Ref<IORVApplication> Application(Object);
    Ref<IORVPlugin> Plugin = Application.Query<IORVPlugin>();
    ASSERT_TRUE(Plugin);
    EXPECT_EQ(Plugin.Get(), static_cast<IORVPlugin*>(Object));
    Plugin->Start();
    EXPECT_EQ(Object->Starts, 1);

    // Upcasting keeps the interface's own pointer and adds a reference.
    Ref<IInterface> Base = Plugin;
    EXPECT_EQ(Base.Get(), static_cast<IInterface*>(static_cast<IORVPlugin*>(Object)));
    EXPECT_EQ(Object->AddRef(), 4);
    Object->Release();
    // Identity goes through IInterface: both interfaces answer the same object.
    EXPECT_FALSE(Application == Plugin);
    EXPECT_TRUE(Application.Query<IInterface>() == Plugin.Query<IInterface>());

    Base = nullptr;
    Plugin = nullptr;
    EXPECT_EQ(Object->AddRef(), 2);
    Object->Release();
}

}  // namespace
