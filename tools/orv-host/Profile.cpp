#include "Profile.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <fstream>

namespace {

bool IsPhase(int32_t Kind) { return Kind >= orv::mkConfig && Kind <= orv::mkStartLine; }
bool IsPluginStep(int32_t Kind) { return Kind >= orv::mkLoadLibrary && Kind <= orv::mkStart; }

double Percent(int64_t Part, int64_t Whole) { return Whole > 0 ? 100.0 * Part / Whole : 0.0; }

void Line(std::FILE* Out, const std::string& Label, int64_t Micros, int64_t Total, const std::string& Note = "") {
    std::fprintf(Out, "  %-32s %10.3f ms %6.1f%%%s\n", Label.c_str(), Micros / 1000.0, Percent(Micros, Total),
                 Note.c_str());
}

struct TPluginCost {
    std::string ID;
    int64_t Steps[3] = {0, 0, 0};  // load, GetPluginImpl, Start
    int64_t Total() const { return Steps[0] + Steps[1] + Steps[2]; }
    std::string Note() const {
        char Text[96];
        std::snprintf(Text, sizeof Text, "  (load %.3f, GetPluginImpl %.3f, Start %.3f)", Steps[0] / 1000.0,
                      Steps[1] / 1000.0, Steps[2] / 1000.0);
        return Text;
    }
};

// The plug-ins' costs over the events that Which selects, slowest first.
template <class TWhich>
std::vector<TPluginCost> PluginCosts(const std::vector<TProfileEvent>& Events, TWhich Which) {
    std::vector<TPluginCost> Plugins;
    for (const TProfileEvent& E : Events) {
        if (!IsPluginStep(E.Kind) || !Which(E)) continue;
        auto P = std::find_if(Plugins.begin(), Plugins.end(), [&](const TPluginCost& C) { return C.ID == E.PluginID; });
        if (P == Plugins.end()) P = Plugins.insert(Plugins.end(), TPluginCost{E.PluginID});
        P->Steps[E.Kind - orv::mkLoadLibrary] += E.Duration;
    }
    std::stable_sort(Plugins.begin(), Plugins.end(),
                     [](const TPluginCost& A, const TPluginCost& B) { return A.Total() > B.Total(); });
    return Plugins;
}

}  // namespace

const char* ProfileKindName(int32_t Kind) {
    static const char* const Names[] = {"start",  "configuration", "discovery", "manifests", "linking",
                                        "validation", "start line", "load", "GetPluginImpl", "Start", "factory",
                                        "Run", "Stop", "Shutdown", "LoadPlugins", "UnloadPlugins"};
    return Kind >= 0 && Kind < static_cast<int32_t>(sizeof Names / sizeof *Names) ? Names[Kind] : "step";
}

void TProfileMonitor::PrintSummary(std::FILE* Out) const {
    auto Startup = std::find_if(Events_.begin(), Events_.end(),
                                [](const TProfileEvent& E) { return E.Kind == orv::mkStartup; });
    if (Startup == Events_.end()) {
        std::fprintf(Out, "orv-host: profile: the engine reported no start\n");
        return;
    }
    const int64_t From = Startup->Start, To = Startup->Start + Startup->Duration, Total = Startup->Duration;
    auto Inside = [&](const TProfileEvent& E) { return E.Start >= From && E.Start + E.Duration <= To; };

    std::fprintf(Out, "orv-host: start-up profile\n");
    Line(Out, "total", Total, Total);
    int64_t Accounted = 0;
    for (int32_t Kind = orv::mkConfig; Kind <= orv::mkStartLine; ++Kind) {
        int64_t Phase = 0;
        for (const TProfileEvent& E : Events_)
            if (E.Kind == Kind && Inside(E)) Phase += E.Duration;
        Line(Out, std::string("phase ") + ProfileKindName(Kind), Phase, Total);
        Accounted += Phase;
    }
    for (const TPluginCost& P : PluginCosts(Events_, Inside)) {
        Line(Out, "plug-in " + P.ID, P.Total(), Total, P.Note());
        Accounted += P.Total();
    }
    Line(Out, "other", std::max<int64_t>(Total - Accounted, 0), Total);

    // What came after the start: plug-ins started on first use, the entry point, run-time loading.
    auto After = [&](const TProfileEvent& E) { return E.Start >= To; };
    for (const TPluginCost& P : PluginCosts(Events_, After))
        std::fprintf(Out, "  after the start: plug-in %s %.3f ms%s\n", P.ID.c_str(), P.Total() / 1000.0, P.Note().c_str());
    for (const TProfileEvent& E : Events_)
        if (After(E) && (E.Kind == orv::mkFactory || E.Kind >= orv::mkRun) && E.Kind != orv::mkStop)
            std::fprintf(Out, "  after the start: %s %.3f ms\n", ProfileKindName(E.Kind), E.Duration / 1000.0);
}

bool TProfileMonitor::WriteTrace(const std::string& FileName, std::string& Error) const {
    // The trace starts at the earliest step.
    auto First = std::min_element(Events_.begin(), Events_.end(),
                                  [](const TProfileEvent& A, const TProfileEvent& B) { return A.Start < B.Start; });
    const int64_t Origin = First == Events_.end() ? 0 : First->Start;
    nlohmann::json Trace = nlohmann::json::array();
    for (const TProfileEvent& E : Events_) {
        const std::string Kind = ProfileKindName(E.Kind);
        std::string Name = IsPhase(E.Kind) || E.Name.empty() ? Kind : Kind + " " + E.Name;
        nlohmann::json Args = nlohmann::json::object();
        if (!E.PluginID.empty()) Args["plugin"] = E.PluginID;
        if (!E.Library.empty()) Args["library"] = E.Library;
        if (E.Kind == orv::mkStartup && !E.Name.empty()) Args["config"] = E.Name;
        Trace.push_back({{"name", Name}, {"cat", Kind}, {"ph", "X"}, {"ts", E.Start - Origin}, {"dur", E.Duration},
                         {"pid", 1}, {"tid", 1}, {"args", Args}});
    }
    std::ofstream File(FileName, std::ios::binary | std::ios::trunc);
    if (File) File << nlohmann::json{{"traceEvents", Trace}, {"displayTimeUnit", "ms"}}.dump(1, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
    if (!File) {
        Error = "cannot write " + FileName;
        return false;
    }
    return true;
}
