// GetPluginImpl exported as a 32-bit Windows compiler names a stdcall function (GetPluginImpl@8),
// which GetProcAddress("GetPluginImpl") does not find.
#include <ORVPluginHelpers.h>

namespace {
class TPlugin : public orv::TInterfacedObject<orv::IORVPlugin> {
public:
    void ORV_CALL Start() override {}
    void ORV_CALL Stop() override {}
};
}  // namespace

ORV_EXPORT_PLUGIN(TPlugin)
