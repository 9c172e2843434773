// The hello application: greets with every extension of its own "greeters" point.
#include "HelloInterfaces.h"
#include "HelloPlugin.h"

#include <cstdio>
#include <string>

namespace {

class THelloApp : public orv::TInterfacedObject<orv::IORVApplication> {
public:
    explicit THelloApp(orv::IORVExtension* Extension) : Extension_(Extension) {}

    void ORV_CALL Run(const orv::TVarRec* Args, int32_t ArgsHigh) override {
        orv::Ref<orv::IORVRegistry> Registry = Extension_->GetDescriptor()->GetRegistry();
        // Whom to greet: the first argument, else the configured UserName.
        std::string Who = Registry->GetEnvironmentVariables()->GetValue("UserName");
        if (ArgsHigh >= 0 && Args[0].VType == orv::vtAnsiString) Who = Args[0].VAnsiString;
        if (Who.empty()) Who = "world";

        orv::Ref<orv::IORVExtensionPoint> Point = Registry->GetExtensionPoints()->Find("hello.app.greeters");
        if (!Point) {
            std::printf("no greeters point\n");
            return;
        }
        orv::Ref<orv::IORVExtensions> Greeters = Point->GetExtensions();
        std::printf("%d greeter(s) for %s:\n", Greeters->GetCount(), Who.c_str());
        for (int32_t I = 0; I < Greeters->GetCount(); ++I) {
            orv::Ref<orv::IORVExtension> Ext = Greeters->GetItem(I);
            orv::TORVFactory Factory = Ext->GetFactory();  // loads and starts a lazy plug-in
            if (!Factory) continue;
            orv::Ref<orv::IInterface> Obj;
            Factory(Obj.Put(), Ext.Get());
            orv::Ref<IGreeter> Greeter = Obj.Query<IGreeter>();
            if (!Greeter) continue;
            std::printf("  %s: %s\n", Ext->GetID().c_str(), Greeter->Greet(Who).c_str());
        }
        std::fflush(stdout);
    }

private:
    orv::IORVExtension* Extension_;  // the engine keeps the extension alive while Run executes
};

}  // namespace

ORV_EXPORT_PLUGIN(THelloPlugin)
ORV_EXPORT_FACTORY(GetExtensionImpl, THelloApp)
