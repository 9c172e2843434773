#include "LoadCheck.h"

#include "LibraryCheck.h"
#include "ProbeProtocol.h"

#include "Common/ChildProcess.h"
#include "Common/ORVMiscUtils.h"
#include "Common/Platform.h"
#include "Engine/ORVCollections.h"
#include "Engine/ORVDescriptor.h"

#include <algorithm>
#include <atomic>
#include <sstream>
#include <thread>

using namespace orv;

namespace {

// One plug-in to probe, and what became of it.
struct TJob {
    TORVDescriptor* Descriptor;
    TChildResult Run;
};

// What the probe said: the phase it was in last, and its lines of outcome.
struct TProbeReport {
    std::string Phase;
    std::vector<std::vector<std::string>> Outcomes;
    std::string LoadedMs;
    bool Done = false;
};

TProbeReport ReadReport(const std::string& Out) {
    TProbeReport Report;
    std::istringstream In(Out);
    for (std::string Line; std::getline(In, Line);) {
        std::vector<std::string> Fields = Probe::Fields(Line);
        const std::string& Kind = Fields[0];
        if (Kind == "phase" && Fields.size() > 1) Report.Phase = Fields[1];
        else if (Kind == "loaded" && Fields.size() > 1) Report.LoadedMs = Fields[1];
        else if (Kind == "done") Report.Done = true;
        else if (!Kind.empty()) Report.Outcomes.push_back(std::move(Fields));
    }
    return Report;
}

// Where a phase is, for a message: "in GetPluginImpl", "while loading the library".
std::string During(const std::string& Phase) {
    if (Phase.compare(0, 8, "factory ") == 0) return "in the factory of extension [" + Phase.substr(8) + "]";
    if (Phase == "GetPluginImpl" || Phase == "Start" || Phase == "Stop") return "in " + Phase;
    if (Phase == "loading") return "while the library was loaded";
    if (Phase == "releasing") return "while the plug-in's objects and library were released";
    if (Phase.empty()) return "before it began";
    return "while " + Phase;
}

// The last line the probe wrote to its standard error (a runtime's last words, say), or empty.
std::string LastWords(const std::string& Err) {
    std::string Text = Err;
    while (!Text.empty() && (Text.back() == '\n' || Text.back() == '\r' || Text.back() == ' ')) Text.pop_back();
    const std::size_t Cut = Text.find_last_of('\n');
    if (Cut != std::string::npos) Text.erase(0, Cut + 1);
    if (Text.size() > 240) Text = Text.substr(0, 240) + "...";
    return Text.empty() ? Text : " (it wrote: " + Text + ")";
}

// The findings of one probe.
void Judge(const TJob& Job, const TLoadCheckOptions& Options, std::vector<TFinding>& Findings) {
    TORVDescriptor& D = *Job.Descriptor;
    const std::string Named = "The library [" + D.GetLibrary() + "] of plug-in [" + D.GetID() + "]";
    auto Add = [&](const TRule& Rule, const std::string& Text) {
        Findings.push_back(LibraryFinding(D, Rule, Text));
    };
    const TChildResult& Run = Job.Run;
    if (Run.End == TChildEnd::NotStarted) {
        Add(LibraryRules::ProbeFailed, "The probe of plug-in [" + D.GetID() + "] could not run: " + Run.Error);
        return;
    }
    const TProbeReport Report = ReadReport(Run.Out);
    if (Run.End == TChildEnd::TimedOut) {
        Add(LibraryRules::Hung, Named + " did not come back within " + std::to_string(Options.TimeoutSeconds) + " s (" +
                                 During(Report.Phase) + "); the probe was killed");
        return;
    }
    for (const std::vector<std::string>& Line : Report.Outcomes) {
        auto Field = [&Line](std::size_t I) { return I < Line.size() ? Line[I] : std::string(); };
        const std::string& Kind = Line[0];
        if (Kind == "load-failed")
            Add(LibraryRules::LoadFailed, Named + " cannot be loaded: " + Field(1));
        else if (Kind == "raised")
            Add(LibraryRules::Raised, Named + " raised an exception " + During(Field(1)) + ": " + Field(2));
        else if (Kind == "not-a-plugin")
            Add(LibraryRules::NotAPlugin, Named + ": " + Field(1));
        else if (Kind == "factory-failed")
            Add(LibraryRules::FactoryFailed, Named + ": the factory of extension [" + Field(1) + "] failed: " + Field(2));
        else
            Add(LibraryRules::ProbeFailed, "The probe of plug-in [" + D.GetID() + "] failed: " + Field(1));
    }
    if (Report.Done) {
        if (Report.Outcomes.empty())
            Add(LibraryRules::Loads, Named + " loads in " + Report.LoadedMs + " ms" +
                                      (Options.Start ? ", starts and stops" : "") + "; its objects were made and released");
        return;
    }
    // The probe ended before its work was done: plug-in code ended it.
    const std::string Where = During(Report.Phase);
    if (Run.End == TChildEnd::Signalled && SignalName(Run.Code) == "SIGABRT")
        Add(LibraryRules::Aborted, Named + " aborted the process " + Where + LastWords(Run.Err));
    else if (Run.End == TChildEnd::Signalled)
        Add(LibraryRules::Crashed, Named + " crashed with " + SignalName(Run.Code) + " " + Where + LastWords(Run.Err));
    else if (Run.End == TChildEnd::Crashed)
        Add(LibraryRules::Crashed, Named + " crashed with " + ExceptionCodeName(Run.Code) + " " + Where + LastWords(Run.Err));
    else if (Report.Outcomes.empty())
        Add(LibraryRules::Aborted, Named + " ended the process with exit code " + std::to_string(Run.Code) + " " + Where +
                                    LastWords(Run.Err));
}

}  // namespace

std::string FindProbe() {
    const std::string Folder = TPathUtils::GetExePath();
    for (const char* Suffix : {"", ".exe"}) {
        const std::string Candidate = TPathUtils::CombinePath(Folder, std::string("orv-probe") + Suffix);
        if (Platform().FileExists(Candidate)) return Candidate;
    }
    return std::string();
}

void CheckLoads(TInspection& Inspection, const TLoadCheckOptions& Options) {
    std::vector<TJob> Jobs;
    TORVDescriptors& Descriptors = Inspection.Registry->OwnDescriptors();
    for (int32_t I = 0; I < Descriptors.GetCount(); ++I) {
        TORVDescriptor* Descriptor = Descriptors.ItemAt(I);
        const std::string& Library = Descriptor->GetLibrary();
        // A library that was not found is a finding of the manifest reader already.
        if (Library.empty() || !TPathUtils::IsAbsolutePath(Library) || !Platform().FileExists(Library)) continue;
        Jobs.push_back({Descriptor, {}});
    }

    unsigned Parallel = Options.Parallel ? Options.Parallel : std::max(1u, std::thread::hardware_concurrency());
    Parallel = std::min<unsigned>(Parallel, static_cast<unsigned>(Jobs.size()));
    std::atomic<std::size_t> Next{0};
    // The workers touch nothing of the registry: each takes its job's arguments from Requests.
    std::vector<TChildOptions> Requests;
    for (const TJob& Job : Jobs) {
        TChildOptions Request;
        Request.Program = Options.Probe;
        if (!Options.ConfigFile.empty()) Request.Args = {"--config", Options.ConfigFile};
        if (Options.Start) Request.Args.push_back("--start");
        Request.Args.insert(Request.Args.end(), {"--plugin", Job.Descriptor->GetID(), Job.Descriptor->GetConfigFile()});
        Request.TimeoutMs = Options.TimeoutSeconds * 1000;
        Request.MaxOutput = 64 * 1024;
        Requests.push_back(std::move(Request));
    }
    std::vector<std::thread> Workers;
    for (unsigned W = 0; W < Parallel; ++W)
        Workers.emplace_back([&] {
            for (std::size_t I; (I = Next++) < Jobs.size();) Jobs[I].Run = RunChild(Requests[I]);
        });
    for (std::thread& Worker : Workers) Worker.join();
    for (const TJob& Job : Jobs) Judge(Job, Options, Inspection.Findings);
}
