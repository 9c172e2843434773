// A well-behaved plug-in: GetPluginImpl, two factories, and a probe for the tests.
//
// Start writes "started.<plug-in id>" into the registry's environment store (when the descriptor
// has a registry), so tests can see which store a starting plug-in was handed.
#include <ORVPluginHelpers.h>

#include <atomic>
#include <string>

namespace {

std::atomic<int32_t> GLive{0};  // plug-in and extension objects alive
std::string GJournal;           // "start:<id>;", "stop:<id>;" in call order

class TPlugin : public orv::TInterfacedObject<orv::IORVPlugin> {
public:
    explicit TPlugin(orv::IORVDescriptor* Descriptor) : Descriptor_(Descriptor) { ++GLive; }
    ~TPlugin() override { --GLive; }

    void ORV_CALL Start() override {
        GJournal += "start:" + Descriptor_->GetID() + ";";
        orv::Ref<orv::IORVRegistry> Registry = Descriptor_->GetRegistry();
        if (Registry) Registry->GetEnvironmentVariables()->SetValue("started." + Descriptor_->GetID(), "yes");
    }
    void ORV_CALL Stop() override { GJournal += "stop:" + Descriptor_->GetID() + ";"; }

private:
    orv::IORVDescriptor* Descriptor_;  // the descriptor outlives its plug-in object
};

class TApplication : public orv::TInterfacedObject<orv::IORVApplication> {
public:
    explicit TApplication(orv::IORVExtension* Extension) : ID_(Extension->GetID()) { ++GLive; }
    ~TApplication() override { --GLive; }
    void ORV_CALL Run(const orv::TVarRec*, int32_t) override { GJournal += "run:" + ID_ + ";"; }

private:
    std::string ID_;
};

}  // namespace

ORV_EXPORT_PLUGIN(TPlugin)
ORV_EXPORT_FACTORY(GetExtensionImpl, TApplication)
ORV_EXPORT_FACTORY(CreateOther, TApplication)

// 0: objects alive; -1: clears the journal and returns 0.
ORV_EXPORT int32_t ORV_CALL ModelProbe(int32_t Which) {
    if (Which == -1) GJournal.clear();
    return Which == 0 ? GLive.load() : 0;
}

ORV_EXPORT const char* ORV_CALL ModelJournal() { return GJournal.c_str(); }
