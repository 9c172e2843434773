// The plug-in library of the benchmark's plug-ins that start with the engine: it does nothing.
#include <ORVPluginHelpers.h>

namespace {
class TPlugin : public orv::TInterfacedObject<orv::IORVPlugin> {
public:
    void ORV_CALL Start() override {}
    void ORV_CALL Stop() override {}
};
}  // namespace

ORV_EXPORT_PLUGIN(TPlugin)
