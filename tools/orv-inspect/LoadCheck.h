// The checks of --check-load: each plug-in's library loaded, its GetPluginImpl and factories
// called, in a child process of its own (orv-probe), so that whatever the library does (abort,
// crash, hang) ends the child and becomes a finding, never a fault of orv-inspect.
#ifndef ORV_INSPECT_LOAD_CHECK_H
#define ORV_INSPECT_LOAD_CHECK_H

#include "Inspection.h"

#include <string>

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
