// orv-probe: loads one plug-in's library as the engine loads it and calls what the engine would
// call, reporting each phase to orv-inspect before entering it, so that a crash of plug-in code
// is known by the phase it happened in. Run by orv-inspect --check-load, one process per plug-in.
//
//   orv-probe [--config FILE] [--start] --plugin ID MANIFEST
//
// The plug-in is the one with that id (and a library) in MANIFEST, read as orv-inspect reads it.
// Without --start its plug-in object is made but never started, and factories are looked up as in
// an inspection (the library loaded, nothing started). The report goes to standard output (see
// ProbeProtocol.h); whatever plug-in code writes there goes to standard error instead.
// Exit codes: 0 the report is complete, 2 usage error or no such plug-in, 3 no report stream.
#include "Inspection.h"
#include "ProbeProtocol.h"

#include "Common/ChildProcess.h"
#include "Common/ORVCommon.h"
#include "Common/ORVException.h"
#include "Engine/ORVCollections.h"
#include "Engine/ORVDescriptor.h"
#include "Engine/ORVExtension.h"
#include "Engine/ORVRegistry.h"

#include <ORVPluginHelpers.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

using namespace orv;

#ifdef ORV_PROBE_PLAIN_SIGNALS
// The sanitizers' own handlers stay out of the way of plug-in faults.
extern "C" __attribute__((visibility("default"))) const char* __asan_default_options() {
    return "handle_segv=0:handle_sigbus=0:handle_sigfpe=0:handle_sigill=0:handle_abort=0";
}
#endif

namespace {

std::FILE* GReport = nullptr;

void Say(std::initializer_list<std::string> Fields) {
    std::string Line;
    for (const std::string& Field : Fields) Line += (Line.empty() ? "" : "\t") + Probe::Escape(Field);
    Line += "\n";
    std::fwrite(Line.data(), 1, Line.size(), GReport);
    std::fflush(GReport);
}

// The engine's Warn and Error lines about the plug-in, kept to explain a failure.
class TKeptLines : public TInterfacedObject<IORVLogger> {
public:
    std::vector<std::string> Lines;
    void ORV_CALL Debug(const std::string&) override {}
    void ORV_CALL DebugFmt(const std::string&, const TVarRec*, int32_t) override {}
    void ORV_CALL Info(const std::string&) override {}
    void ORV_CALL InfoFmt(const std::string&, const TVarRec*, int32_t) override {}
    void ORV_CALL Warn(const std::string& Msg) override { Lines.push_back(Msg); }
    void ORV_CALL WarnFmt(const std::string& Fmt, const TVarRec* Args, int32_t High) override {
        Lines.push_back(FormatArgs(Fmt, Args, High));
    }
    void ORV_CALL Error(const std::string& Msg) override { Lines.push_back(Msg); }
    void ORV_CALL ErrorFmt(const std::string& Fmt, const TVarRec* Args, int32_t High) override {
        Lines.push_back(FormatArgs(Fmt, Args, High));
    }
    void ORV_CALL Fatal(const std::string& Msg) override { Lines.push_back(Msg); }
    void ORV_CALL FatalFmt(const std::string& Fmt, const TVarRec* Args, int32_t High) override {
        Lines.push_back(FormatArgs(Fmt, Args, High));
    }
};

// The system loader's reason among the lines kept, else all of them.
std::string LoaderReason(const std::vector<std::string>& Lines) {
    const std::string Lead = "The system loader's reason: ";
    std::string All;
    for (const std::string& Line : Lines) {
        if (Line.compare(0, Lead.size(), Lead) == 0) return Line.substr(Lead.size());
        All += (All.empty() ? "" : "; ") + Line;
    }
    return All.empty() ? std::string("the library was not loaded") : All;
}

int Usage(const std::string& Problem) {
    std::fprintf(stderr, "orv-probe: %s\nusage: orv-probe [--config FILE] [--start] --plugin ID MANIFEST\n", Problem.c_str());
    return 2;
}

// Everything of one probe but the release of the registry, which the caller reports.
void ProbePlugin(TORVDescriptor& Descriptor, bool Start, TKeptLines& Kept) {
    Say({"phase", "loading"});
    const auto Before = std::chrono::steady_clock::now();
    try {
        Descriptor.LoadDll();
    } catch (const std::exception& E) {
        Say({"load-failed", E.what()});
        return;
    }
    if (!Descriptor.IsLoaded()) {
        Say({"load-failed", LoaderReason(Kept.Lines)});
        return;
    }
    const auto Loaded = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - Before);
    char Milliseconds[32];
    std::snprintf(Milliseconds, sizeof Milliseconds, "%.1f", Loaded.count());
    Say({"loaded", Milliseconds});

    if (Descriptor.HasPluginEntry()) {
        Say({"phase", "GetPluginImpl"});
        Ref<IORVPlugin> Plugin;
        try {
            Plugin = Descriptor.GetPlugin();
        } catch (const EIntfCastError&) {
            Say({"not-a-plugin", "GetPluginImpl yielded an object without IORVPlugin"});
            return;
        } catch (...) {
            Say({"raised", "GetPluginImpl", CurrentExceptionMessage()});
            return;
        }
        if (!Plugin) {
            Say({"not-a-plugin", "GetPluginImpl yielded no plug-in object"});
            return;
        }
    }
    if (Start) {
        Say({"phase", "Start"});
        try {
            Descriptor.StartPlugin();
        } catch (...) {
            Say({"raised", "Start", CurrentExceptionMessage()});
            return;
        }
    }
    TORVExtensions& Extensions = Descriptor.OwnExtensions();
    for (int32_t I = 0; I < Extensions.GetCount(); ++I) {
        Ref<TORVExtension> Extension(Extensions.ItemAt(I));
        const std::string ID = Extension->GetID();
        const std::string Phase = "factory " + ID;
        Say({"phase", Phase});
        try {
            const TORVFactory Factory = Extension->GetFactory();
            if (!Factory) {
                Say({"factory-failed", ID,
                     "the library has no export [" + Extension->GetFactoryMethod() + "]"});
                continue;
            }
            Ref<IInterface> Created;
            Factory(Created.Put(), Extension.Get());
            if (!Created) Say({"factory-failed", ID, "the factory yielded no object"});
        } catch (...) {
            Say({"raised", Phase, CurrentExceptionMessage()});
        }
    }
    if (Start) {
        Say({"phase", "Stop"});
        try {
            Descriptor.StopPlugin();
        } catch (...) {
            Say({"raised", "Stop", CurrentExceptionMessage()});
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    GReport = TakeReportStream();
    if (!GReport) return 3;
    TInspectOptions Options;
    std::string PluginID;
    bool Start = false;
    for (int I = 1; I < argc; ++I) {
        const std::string Arg = argv[I];
        if (Arg == "--config" || Arg == "--plugin") {
            if (I + 1 >= argc) return Usage(Arg + " needs a value");
            (Arg == "--config" ? Options.ConfigFile : PluginID) = argv[++I];
        } else if (Arg == "--start") {
            Start = true;
        } else if (Arg.compare(0, 2, "--") == 0) {
            return Usage("unknown option " + Arg);
        } else {
            Options.Paths.push_back(Arg);
        }
    }
    if (Options.Paths.size() != 1 || PluginID.empty()) return Usage("one MANIFEST and --plugin ID are needed");

    Ref<TKeptLines> Kept(new TKeptLines());
    SetThreadLogger(Kept.Get());
    Say({"phase", "reading the manifest"});
    TInspection Inspection;
    try {
        Inspection = Inspect(Options);
    } catch (const std::exception& E) {
        Say({"problem", E.what()});
        return 2;
    }
    if (!Start) Inspection.Registry->Close();
    TORVDescriptors& Descriptors = Inspection.Registry->OwnDescriptors();
    TORVDescriptor* Descriptor = nullptr;
    for (int32_t I = 0; I < Descriptors.GetCount() && !Descriptor; ++I) {
        TORVDescriptor* D = Descriptors.ItemAt(I);
        if (D->GetID() == PluginID && !D->GetLibrary().empty()) Descriptor = D;
    }
    if (!Descriptor) {
        Say({"problem", "no plug-in [" + PluginID + "] with a library in " + Options.Paths[0]});
        return 2;
    }
    ProbePlugin(*Descriptor, Start, *Kept);
    // The plug-in object goes, then the library: their destructors are plug-in code too.
    Say({"phase", "releasing"});
    Inspection = TInspection();
    Say({"done"});
    SetThreadLogger(nullptr);
    return 0;
}
