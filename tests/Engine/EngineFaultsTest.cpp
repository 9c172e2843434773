// The engine under faults, driven through its exports: objects a host keeps after their plug-ins
// went, plug-ins added and dropped at run time, starts and stops that fail, and libraries that are
// unloaded while a call into them is still on the stack.
#include "EngineFixture.h"

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

}  // namespace
