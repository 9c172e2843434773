// The hello application: greets with every extension of its own "greeters" point. With the
// argument "--wait" it then waits for Ctrl+C (SIGINT), SIGTERM or SIGHUP and returns from Run, so
// that the host stops every plug-in as usual: the engine has one driving thread, and a signal that
// is not handled ends the process with the plug-ins still running.
#include "HelloInterfaces.h"
#include "HelloPlugin.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <string>
#include <thread>

namespace {

volatile std::sig_atomic_t GSignalled = 0;
extern "C" void NoteSignal(int) { GSignalled = 1; }

// Waits until one of the signals that ask a program to end arrives, then restores their handlers.
void WaitForSignal() {
    const int Signals[] = {SIGINT, SIGTERM,
#ifdef SIGHUP
                           SIGHUP
#endif
    };
    using THandler = void (*)(int);
    THandler Previous[sizeof Signals / sizeof Signals[0]];
    for (std::size_t I = 0; I < sizeof Signals / sizeof Signals[0]; ++I) Previous[I] = std::signal(Signals[I], NoteSignal);
    std::printf("waiting for Ctrl+C, SIGTERM or SIGHUP\n");
    std::fflush(stdout);
    while (!GSignalled) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    for (std::size_t I = 0; I < sizeof Signals / sizeof Signals[0]; ++I) std::signal(Signals[I], Previous[I]);
    std::printf("signalled: leaving Run\n");
    std::fflush(stdout);
}

class THelloApp : public orv::TInterfacedObject<orv::IORVApplication> {
public:
    explicit THelloApp(orv::IORVExtension* Extension) : Extension_(Extension) {}

    void ORV_CALL Run(const orv::TVarRec* Args, int32_t ArgsHigh) override {
        orv::Ref<orv::IORVRegistry> Registry = Extension_->GetDescriptor()->GetRegistry();
        // Whom to greet: the first argument that is not "--wait", else the configured UserName.
        std::string Who = Registry->GetEnvironmentVariables()->GetValue("UserName");
        bool Wait = false, Named = false;
        for (int32_t I = 0; I <= ArgsHigh; ++I) {
            if (Args[I].VType != orv::vtAnsiString) continue;
            if (std::string(Args[I].VAnsiString) == "--wait") {
                Wait = true;
            } else if (!Named) {
                Who = Args[I].VAnsiString;
                Named = true;
            }
        }
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
        if (Wait) WaitForSignal();
    }

private:
    orv::IORVExtension* Extension_;  // the engine keeps the extension alive while Run executes
};

}  // namespace

ORV_EXPORT_PLUGIN(THelloPlugin)
ORV_EXPORT_FACTORY(GetExtensionImpl, THelloApp)
