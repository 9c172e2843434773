// A plug-in that needs its own library (inspect_helper, beside it) to load.
#include <ORVPluginHelpers.h>

extern "C" int InspectHelperValue();

namespace {
class TPlugin : public orv::TInterfacedObject<orv::IORVPlugin> {
public:
    void ORV_CALL Start() override {}
    void ORV_CALL Stop() override {}
};
}  // namespace

ORV_EXPORT_PLUGIN(TPlugin)
ORV_EXPORT int32_t ORV_CALL InspectDependentValue() { return InspectHelperValue() + 1; }
