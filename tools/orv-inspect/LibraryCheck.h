// The checks of --check-libraries: a plug-in's library read as a file (never loaded) against what
// the engine will ask of it.
#ifndef ORV_INSPECT_LIBRARY_CHECK_H
#define ORV_INSPECT_LIBRARY_CHECK_H

#include "Engine/ORVChecks.h"
#include "Engine/ORVDescriptor.h"

#include <string>
#include <vector>

namespace LibraryRules {
constexpr const char* Unreadable = "library-unreadable";
constexpr const char* NotALibrary = "not-a-library";
constexpr const char* WrongArchitecture = "wrong-architecture";
constexpr const char* MissingPluginEntry = "missing-plugin-entry";
constexpr const char* MissingFactory = "missing-factory";
constexpr const char* DecoratedExport = "decorated-export";
constexpr const char* MissingDependency = "missing-dependency";
}  // namespace LibraryRules

// A finding about Descriptor's plug-in, placed where its manifest declares it.
orv::TFinding LibraryFinding(orv::TORVDescriptor& Descriptor, const char* Rule, orv::TSeverity Severity,
                             const std::string& Text);

// Adds the findings about Descriptor's library (which must exist) to Findings.
void CheckLibrary(orv::TORVDescriptor& Descriptor, std::vector<orv::TFinding>& Findings);

#endif
