// The hello application: greets with every extension of its own "greeters" point. Then it picks up
// the greeters installed in the folder "more" beside "plugins": it loads that folder into the
// running engine, greets again, and drops it, while a registry listener prints what each of these
// steps changed. With the argument "--wait" it then waits for Ctrl+C (SIGINT), SIGTERM or SIGHUP
// and returns from Run, so that the host stops every plug-in as usual: the engine has one driving
// thread, and a signal that is not handled ends the process with the plug-ins still running.
#include "HelloInterfaces.h"
#include "HelloPlugin.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <string>
#include <thread>
#include <utility>

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

// The ids of Items joined by ", ".
template <class T>
std::string IDs(const orv::Ref<T>& Items) {
    std::string Text;
    for (int32_t I = 0; I < Items->GetCount(); ++I) Text += (I ? ", " : "") + Items->GetItem(I)->GetID();
    return Text;
}

// Prints what a delta says: the plug-ins added, removed, started and stopped, and per point the
// extensions that joined (+) and left (-) it.
class TChangePrinter : public orv::TInterfacedObject<orv::IORVRegistryListener> {
public:
    void ORV_CALL RegistryChanged(orv::IORVRegistryDelta* Delta) override {
        static const char* const Kinds[] = {"startup", "load", "unload", "start", "shutdown"};
        std::printf("registry changed (%s):\n", Kinds[Delta->GetKind()]);
        const std::pair<const char*, orv::Ref<orv::IORVDescriptors>> Lists[] = {{"added", Delta->GetAdded()},
                                                                               {"removed", Delta->GetRemoved()},
                                                                               {"started", Delta->GetStarted()},
                                                                               {"stopped", Delta->GetStopped()}};
        for (const auto& List : Lists)
            if (List.second->GetCount()) std::printf("  %s: %s\n", List.first, IDs(List.second).c_str());
        orv::Ref<orv::IORVExtensionPoints> Points = Delta->GetChangedPoints();
        for (int32_t I = 0; I < Points->GetCount(); ++I) {
            std::printf("  %s:", Points->GetItem(I)->GetID().c_str());
            if (Delta->GetLinked(I)->GetCount()) std::printf(" +%s", IDs(Delta->GetLinked(I)).c_str());
            if (Delta->GetUnlinked(I)->GetCount()) std::printf(" -%s", IDs(Delta->GetUnlinked(I)).c_str());
            std::printf("\n");
        }
        std::fflush(stdout);
    }
};

// Greets Who with every greeter linked to the point "hello.app.greeters" of Registry.
void Greet(const orv::Ref<orv::IORVRegistry>& Registry, const std::string& Who) {
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

// The folder "more" beside the folder "plugins" that holds the plug-in folder Location.
std::string MoreFolder(std::string Location) {
    for (int Up = 0; Up < 2; ++Up) {
        while (!Location.empty() && (Location.back() == '/' || Location.back() == '\\')) Location.pop_back();
        const std::size_t Last = Location.find_last_of("/\\");
        if (Last == std::string::npos) return std::string();
        Location.erase(Last + 1);
    }
    return Location + "more";
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

        Greet(Registry, Who);

        // The greeters installed since the start: the engine this application runs in loads their
        // folder, and a listener tells what that changed.
        const std::string More = MoreFolder(Extension_->GetDescriptor()->GetLocation());
        orv::Ref<orv::IORVEngine> Engine;
        GetORVEngine(Engine.Put());
        orv::Ref<orv::IORVRegistryEvents> Events = Engine.Query<orv::IORVRegistryEvents>();
        // (Only when it is the engine this application runs in, the process-wide one.)
        if (!More.empty() && Events && Engine->GetRegistry() == Registry) {
            orv::Ref<orv::IORVRegistryListener> Printer(new TChangePrinter());
            Events->AddListener(Printer.Get());
            std::printf("loading the folder \"more\"\n");
            Engine->LoadPlugins({More});
            Greet(Registry, Who);
            Engine->UnloadPlugins({More});
            Events->RemoveListener(Printer.Get());
        }
        if (Wait) WaitForSignal();
    }

private:
    orv::IORVExtension* Extension_;  // the engine keeps the extension alive while Run executes
};

}  // namespace

ORV_EXPORT_PLUGIN(THelloPlugin)
ORV_EXPORT_FACTORY(GetExtensionImpl, THelloApp)
