// A plug-in for the end-to-end tests that writes down what happens to it.
//
// The journal is the file "orv-e2e-journal.txt" in the plug-in's manifest folder or in one of the
// few folders above it; without one nothing is written. One line per event:
//   create <plug-in id>                   GetPluginImpl made the plug-in object
//   start <plug-in id> env=<Greeting>     Start; Greeting as the registry's store has it then
//   stop <plug-in id>
//   destroy <plug-in id>                  the plug-in object was released
//   run <extension id> args=<list> env=<Greeting>
// where <list> is the host's arguments, "s:<text>" or "i:<number>" each, separated by ",".
//
// Factories: GetExtensionImpl (an application), CreateNothing (yields nil), CreatePlain (an
// object without IORVApplication), CreateFailing (raises "factory refused"). An application whose
// first argument is "raise" raises "run refused" from Run ("raise-int": the int 42). One whose
// first argument is "unload-self" takes its second argument as the address of the engine (hexadecimal), unloads
// its own plug-in's folder from inside Run and then goes on running code of this library:
//   run continues <extension id>
// and, with "raise" as its third argument, raises "run refused after unloading" then.
// One whose first argument is "shutdown-self" shuts the process-wide engine down from inside Run.
//
// Plug-in code that calls the engine back: the script "orv-e2e-script.txt", found as the journal
// is, names the engine ("engine <address in hexadecimal>"; without it the process-wide one) and
// what a plug-in does in its Start or Stop, one line each:
//   start|stop <plug-in id> startup <configuration file>
//   start|stop <plug-in id> shutdown | unload <folder> | load <folder> | factory <extension id>
//   start|stop <plug-in id> points     the extensions of each of its own points
// Each call is journalled as "call <plug-in id> <action>: ok" or "...: refused: <message>" (the
// probe catches what the engine raises); "points" as "points <point id>=<extension ids>".
#include <ORVPluginHelpers.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace {

const char* const JournalName = "orv-e2e-journal.txt";
const int JournalSearchDepth = 4;  // the manifest folder and three above it

bool IsSeparator(char C) { return C == '/' || C == '\\'; }

std::string FindJournal(std::string Folder, const char* Name = JournalName) {
    for (int Level = 0; Level < JournalSearchDepth && !Folder.empty(); ++Level) {
        while (Folder.size() > 1 && IsSeparator(Folder.back())) Folder.pop_back();
        const std::string Candidate = Folder + "/" + Name;
        if (std::FILE* F = std::fopen(Candidate.c_str(), "rb")) {
            std::fclose(F);
            return Candidate;
        }
        const std::size_t Cut = Folder.find_last_of("/\\");
        if (Cut == std::string::npos || Cut == 0) break;
        Folder.erase(Cut);
    }
    return std::string();
}

void Note(const std::string& Journal, const std::string& Line) {
    if (Journal.empty()) return;
    if (std::FILE* F = std::fopen(Journal.c_str(), "ab")) {
        std::fputs((Line + "\n").c_str(), F);
        std::fclose(F);
    }
}

std::string Greeting(const orv::Ref<orv::IORVRegistry>& Registry) {
    return Registry ? Registry->GetEnvironmentVariables()->GetValue("Greeting") : std::string("<no registry>");
}

std::string ArgsText(const orv::TVarRec* Args, int32_t ArgsHigh) {
    std::string Text;
    for (int32_t I = 0; Args && I <= ArgsHigh; ++I) {
        if (I > 0) Text += ",";
        if (Args[I].VType == orv::vtAnsiString)
            Text += std::string("s:") + (Args[I].VAnsiString ? Args[I].VAnsiString : "");
        else if (Args[I].VType == orv::vtInteger)
            Text += "i:" + std::to_string(Args[I].VInteger);
        else
            Text += "?:" + std::to_string(Args[I].VType);
    }
    return Text;
}

// The GetORVEngine export of the engine library the process has loaded.
orv::TGetORVEngine FindGetORVEngine() {
#ifdef _WIN32
    HMODULE Engine = GetModuleHandleA("ORVEngine.dll");
    return Engine ? reinterpret_cast<orv::TGetORVEngine>(reinterpret_cast<void*>(GetProcAddress(Engine, "GetORVEngine")))
                  : nullptr;
#else
    return reinterpret_cast<orv::TGetORVEngine>(dlsym(RTLD_DEFAULT, "GetORVEngine"));
#endif
}

// Runs the script's lines for Event ("start" or "stop") of the plug-in of Descriptor.
void RunScript(const std::string& Event, orv::IORVDescriptor* Descriptor, const std::string& Journal) {
    const std::string Script = FindJournal(Descriptor->GetLocation(), "orv-e2e-script.txt");
    if (Script.empty()) return;
    std::ifstream In(Script);
    const std::string ID = Descriptor->GetID();
    orv::Ref<orv::IORVEngine> Engine;
    for (std::string Line; std::getline(In, Line);) {
        std::istringstream Words(Line);
        std::string When, Who, Action, Argument;
        Words >> When >> Who;
        if (When == "engine") {
            Engine = orv::Ref<orv::IORVEngine>(reinterpret_cast<orv::IORVEngine*>(std::stoull(Who, nullptr, 16)));
            continue;
        }
        if (When != Event || Who != ID) continue;
        Words >> Action;
        std::getline(Words >> std::ws, Argument);
        if (!Engine)
            if (orv::TGetORVEngine Get = FindGetORVEngine()) Get(Engine.Put());
        if (Action == "points") {
            orv::Ref<orv::IORVExtensionPoints> Points = Descriptor->GetExtensionPoints();
            for (int32_t I = 0; I < Points->GetCount(); ++I) {
                orv::Ref<orv::IORVExtensions> Linked = Points->GetItem(I)->GetExtensions();
                std::string IDs;
                for (int32_t J = 0; J < Linked->GetCount(); ++J) IDs += (J ? "," : "") + Linked->GetItem(J)->GetID();
                Note(Journal, "points " + Points->GetItem(I)->GetID() + "=" + IDs);
            }
            continue;
        }
        std::string Outcome = "ok";
        try {
            if (Action == "startup")
                Engine->Startup(Argument, nullptr, -1);
            else if (Action == "shutdown")
                Engine->Shutdown();
            else if (Action == "unload")
                Engine->UnloadPlugins({Argument});
            else if (Action == "load")
                Engine->LoadPlugins({Argument});
            else if (Action == "factory")
                Engine->GetRegistry()->GetExtensions()->Find(Argument)->GetFactory();
        } catch (const std::exception& E) {
            Outcome = std::string("refused: ") + E.what();
        }
        Note(Journal, "call " + ID + " " + Action + ": " + Outcome);
    }
}

std::string StringArg(const orv::TVarRec* Args, int32_t ArgsHigh, int32_t Index) {
    if (!Args || Index > ArgsHigh || Args[Index].VType != orv::vtAnsiString || !Args[Index].VAnsiString) return "";
    return Args[Index].VAnsiString;
}

class TProbePlugin : public orv::TInterfacedObject<orv::IORVPlugin> {
public:
    explicit TProbePlugin(orv::IORVDescriptor* Descriptor)
        : Descriptor_(Descriptor), ID_(Descriptor->GetID()), Journal_(FindJournal(Descriptor->GetLocation())) {
        Note(Journal_, "create " + ID_);
    }
    ~TProbePlugin() override { Note(Journal_, "destroy " + ID_); }

    void ORV_CALL Start() override {
        Note(Journal_, "start " + ID_ + " env=" + Greeting(Descriptor_->GetRegistry()));
        RunScript("start", Descriptor_, Journal_);
    }
    void ORV_CALL Stop() override {
        Note(Journal_, "stop " + ID_);
        RunScript("stop", Descriptor_, Journal_);
    }

private:
    orv::IORVDescriptor* Descriptor_;  // the descriptor outlives its plug-in object
    std::string ID_;
    std::string Journal_;
};

class TProbeApplication : public orv::TInterfacedObject<orv::IORVApplication> {
public:
    explicit TProbeApplication(orv::IORVExtension* Extension)
        : Extension_(Extension),
          ID_(Extension->GetID()),
          Journal_(FindJournal(Extension->GetDescriptor()->GetLocation())) {}

    void ORV_CALL Run(const orv::TVarRec* Args, int32_t ArgsHigh) override {
        Note(Journal_, "run " + ID_ + " args=" + ArgsText(Args, ArgsHigh) +
                           " env=" + Greeting(Extension_->GetDescriptor()->GetRegistry()));
        const std::string First = StringArg(Args, ArgsHigh, 0);
        if (First == "raise") throw orv::EORVException("run refused");
        if (First == "raise-int") throw 42;
        if (First == "unload-self") {
            auto* Engine = reinterpret_cast<orv::IORVEngine*>(std::stoull(StringArg(Args, ArgsHigh, 1), nullptr, 16));
            Engine->UnloadPlugins({Extension_->GetDescriptor()->GetLocation()});
            Note(Journal_, "run continues " + ID_);
            if (StringArg(Args, ArgsHigh, 2) == "raise") throw orv::EORVException("run refused after unloading");
        }
        if (First == "shutdown-self") {
            orv::Ref<orv::IORVEngine> Engine;
            if (orv::TGetORVEngine Get = FindGetORVEngine()) Get(Engine.Put());
            if (Engine) Engine->Shutdown();
        }
    }

private:
    orv::IORVExtension* Extension_;  // the engine holds the extension's plug-in while Run executes
    std::string ID_;
    std::string Journal_;
};

// A plug-in object offered where an application is expected.
class TPlainObject : public orv::TInterfacedObject<orv::IORVPlugin> {
public:
    void ORV_CALL Start() override {}
    void ORV_CALL Stop() override {}
};

}  // namespace

ORV_EXPORT_PLUGIN(TProbePlugin)
ORV_EXPORT_FACTORY(GetExtensionImpl, TProbeApplication)
ORV_EXPORT_FACTORY(CreatePlain, TPlainObject)

ORV_EXPORT void ORV_CALL CreateNothing(orv::IInterface** Result, orv::IORVExtension*) {
    if (Result && *Result) {
        (*Result)->Release();
        *Result = nullptr;
    }
}

ORV_EXPORT void ORV_CALL CreateFailing(orv::IInterface**, orv::IORVExtension*) {
    throw orv::EORVException("factory refused");
}
