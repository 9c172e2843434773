// A plug-in for the end-to-end tests whose Start raises "start refused".
#include <ORVPluginHelpers.h>

namespace {

class TFaultyPlugin : public orv::TInterfacedObject<orv::IORVPlugin> {
public:
    void ORV_CALL Start() override { throw orv::EORVException("start refused"); }
    void ORV_CALL Stop() override {}
};

}  // namespace

ORV_EXPORT_PLUGIN(TFaultyPlugin)
