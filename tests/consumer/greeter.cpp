#include <ORVPluginHelpers.h>
#include <cstdio>
class TGreeter : public orv::TInterfacedObject<orv::IORVApplication> {
public:
    void ORV_CALL Run(const orv::TVarRec* Args, int32_t High) override {
        std::printf("Hello, %s!\n", High >= 0 ? Args[0].VAnsiString : "world");
    }
};
class TPlugin : public orv::TInterfacedObject<orv::IORVPlugin> {
public:
    void ORV_CALL Start() override { std::printf("started\n"); }
    void ORV_CALL Stop() override { std::printf("stopped\n"); }
};
ORV_EXPORT_PLUGIN(TPlugin)
ORV_EXPORT_FACTORY(GetExtensionImpl, TGreeter)
