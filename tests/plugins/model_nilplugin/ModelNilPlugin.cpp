// GetPluginImpl that yields nil (and counts its calls); a factory is there all the same.
#include <ORVPluginHelpers.h>

#include <atomic>

namespace {
std::atomic<int32_t> GEntryCalls{0};

class TThing : public orv::TInterfacedObject<orv::IORVApplication> {
public:
    void ORV_CALL Run(const orv::TVarRec*, int32_t) override {}
};
}  // namespace

ORV_EXPORT void ORV_CALL GetPluginImpl(orv::IInterface**, orv::IORVDescriptor*) { ++GEntryCalls; }

ORV_EXPORT_FACTORY(GetExtensionImpl, TThing)

// 2: GetPluginImpl calls; -1: resets them.
ORV_EXPORT int32_t ORV_CALL ModelProbe(int32_t Which) {
    if (Which == -1) GEntryCalls = 0;
    return Which == 2 ? GEntryCalls.load() : 0;
}
