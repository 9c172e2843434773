// A plug-in whose code throws across the module boundary:
//   Start throws TBoundaryError("Start failed in <ID>", 7), or the int 42 when the descriptor's
//   ID contains "nonstd"; Stop throws the int 43;
//   the factory GetFailingApplication yields an application whose Run throws TBoundaryError.
#include "BoundaryError.h"

#include <ORVPluginHelpers.h>

#include <string>

namespace {

class TPlugin : public orv::TInterfacedObject<orv::IORVPlugin> {
public:
    explicit TPlugin(orv::IORVDescriptor* Descriptor) : ID_(Descriptor ? Descriptor->GetID() : std::string()) {}
    void ORV_CALL Start() override {
        if (ID_.find("nonstd") != std::string::npos) throw 42;
        throw orv::test::TBoundaryError("Start failed in " + ID_, 7);
    }
    void ORV_CALL Stop() override { throw 43; }

private:
    std::string ID_;
};

class TFailingApplication : public orv::TInterfacedObject<orv::IORVApplication> {
public:
    void ORV_CALL Run(const orv::TVarRec*, int32_t) override { throw orv::test::TBoundaryError("Run failed", 9); }
};

}  // namespace

ORV_EXPORT_PLUGIN(TPlugin)
ORV_EXPORT_FACTORY(GetFailingApplication, TFailingApplication)
