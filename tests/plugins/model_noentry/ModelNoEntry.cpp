// A plug-in library without GetPluginImpl: it only supplies a factory.
#include <ORVPluginHelpers.h>

namespace {
class TThing : public orv::TInterfacedObject<orv::IORVApplication> {
public:
    void ORV_CALL Run(const orv::TVarRec*, int32_t) override {}
};
}  // namespace

ORV_EXPORT_FACTORY(GetExtensionImpl, TThing)
