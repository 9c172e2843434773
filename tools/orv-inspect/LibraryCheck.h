// The checks of --check-libraries: a plug-in's library read as a file (never loaded) against what
// the engine will ask of it.
#ifndef ORV_INSPECT_LIBRARY_CHECK_H
#define ORV_INSPECT_LIBRARY_CHECK_H

#include "Engine/ORVChecks.h"
#include "Engine/ORVDescriptor.h"

#include <string>
#include <vector>

// orv-inspect's own rules, one constant each (LibraryRules::NotALibrary, ...).
namespace LibraryRules {
#define ORV_RULE(Constant, Name, Severity, Starting, Related) \
    inline constexpr orv::TRule Constant{Name, orv::TSeverity::Severity, orv::TSeverity::Starting, Related};
#include "LibraryRules.def"
#undef ORV_RULE
}  // namespace LibraryRules

// A finding about Descriptor's plug-in, placed where its manifest declares it.
orv::TFinding LibraryFinding(orv::TORVDescriptor& Descriptor, const orv::TRule& Rule, const std::string& Text);

// Adds the findings about Descriptor's library (which must exist) to Findings.
void CheckLibrary(orv::TORVDescriptor& Descriptor, std::vector<orv::TFinding>& Findings);

#endif
