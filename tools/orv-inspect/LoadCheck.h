// The checks of --check-load: each plug-in's library loaded, its GetPluginImpl and factories
// called, in a child process of its own (orv-probe), so that whatever the library does (abort,
// crash, hang) ends the child and becomes a finding, never a fault of orv-inspect.
#ifndef ORV_INSPECT_LOAD_CHECK_H
#define ORV_INSPECT_LOAD_CHECK_H

#include "Inspection.h"

#include <string>

namespace LoadRules {
constexpr const char* LoadFailed = "load-failed";        // the system loader refused the library
constexpr const char* Crashed = "crashed";               // a signal or an exception ended the probe
constexpr const char* Aborted = "aborted";               // plug-in code ended the process (abort, exit)
constexpr const char* Raised = "raised";                 // plug-in code raised an exception
constexpr const char* Hung = "hung";                     // past the time limit
constexpr const char* NotAPlugin = "not-a-plugin";       // GetPluginImpl yielded nothing with IORVPlugin
constexpr const char* FactoryFailed = "factory-failed";  // a factory is missing or yielded nothing
constexpr const char* Loads = "loads";                   // a note: it passed, in so many milliseconds
constexpr const char* ProbeFailed = "probe-failed";      // the probe could not do its work
}  // namespace LoadRules

struct TLoadCheckOptions {
    std::string Probe;         // the orv-probe program
    std::string ConfigFile;    // as the inspection got it
    int TimeoutSeconds = 10;   // per plug-in
    bool Start = false;        // run Start and Stop too
    unsigned Parallel = 0;     // children at once; 0: the machine's core count
};

// orv-probe beside the running program; empty when it is not there.
std::string FindProbe();

// Probes every plug-in of Inspection whose library exists and adds the findings.
void CheckLoads(TInspection& Inspection, const TLoadCheckOptions& Options);

#endif
