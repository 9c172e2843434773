// One inspection of a plug-in tree: the registry that the engine's parse-only path builds from it,
// with every finding of the engine's checks collected instead of the first one raised, and, on
// request, the plug-in libraries read as files. No plug-in library is ever loaded.
#ifndef ORV_INSPECT_INSPECTION_H
#define ORV_INSPECT_INSPECTION_H

#include "Engine/ORVChecks.h"
#include "Engine/ORVRegistry.h"

#include <ORVInterface.h>

#include <stdexcept>
#include <string>
#include <vector>

struct TInspectOptions {
    std::string ConfigFile;  // an engine configuration (its ConfigExt, ShieldedPlugins, DllPath), or empty
    std::vector<std::string> Paths;
    bool CheckLibraries = false;
};

struct TInspection {
    orv::Ref<orv::TORVRegistry> Registry;
    std::vector<std::string> Manifests;  // every manifest file found, in discovery order
    std::vector<orv::TFinding> Findings;
};

// An input that cannot be inspected at all (a missing path, an unreadable configuration).
class EInspectInput : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

TInspection Inspect(const TInspectOptions& Options);

#endif
