// GetPluginImpl yields an object that does not implement IORVPlugin.
#include <ORVPluginHelpers.h>

#include <atomic>

namespace {
std::atomic<int32_t> GLive{0};

class TNotAPlugin : public orv::TInterfacedObject<orv::IORVApplication> {
public:
    TNotAPlugin() { ++GLive; }
    ~TNotAPlugin() override { --GLive; }
    void ORV_CALL Run(const orv::TVarRec*, int32_t) override {}
};
}  // namespace

ORV_EXPORT_PLUGIN(TNotAPlugin)

// 0: objects alive.
ORV_EXPORT int32_t ORV_CALL ModelProbe(int32_t Which) { return Which == 0 ? GLive.load() : 0; }
