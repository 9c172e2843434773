// A plug-in that needs its own DLL (win_dependent_helper.dll, in the same folder) to load.
#include <ORVPluginHelpers.h>

extern "C" __declspec(dllimport) int DependentHelperValue();

namespace {

class TPlugin : public orv::TInterfacedObject<orv::IORVPlugin> {
public:
    void ORV_CALL Start() override {}
    void ORV_CALL Stop() override {}
};

}  // namespace

ORV_EXPORT_PLUGIN(TPlugin)

// The helper's value plus one: proves that the helper's code is reachable.
ORV_EXPORT int32_t ORV_CALL DependentValue() { return DependentHelperValue() + 1; }
