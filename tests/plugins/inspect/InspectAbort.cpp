// A plug-in library that aborts the process as soon as it is loaded: whatever inspects it must
// read it as a file.
#include <ORVPluginHelpers.h>

#include <cstdlib>

namespace {

struct TAbortOnLoad {
    TAbortOnLoad() { std::abort(); }
};
TAbortOnLoad GAbortOnLoad;

class TPlugin : public orv::TInterfacedObject<orv::IORVPlugin> {
public:
    void ORV_CALL Start() override {}
    void ORV_CALL Stop() override {}
};

}  // namespace

ORV_EXPORT_PLUGIN(TPlugin)
