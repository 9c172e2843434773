// The three forms of an inspection's report, all in UTF-8.
#ifndef ORV_INSPECT_REPORTS_H
#define ORV_INSPECT_REPORTS_H

#include "Inspection.h"

#include <string>

// A summary line; the findings grouped by file, each as "file:line:col: severity: message [rule]";
// then the tree of plug-ins, their points with the extensions linked to them, and their extensions.
std::string TextReport(const TInspection& Inspection);
// One JSON document: "summary", "plugins", "findings" (the schema is in the README).
std::string JsonReport(const TInspection& Inspection);
// A Graphviz graph: plug-ins as clusters, points (boxes) and extensions (ellipses) as nodes,
// extension -> point edges; what a finding is about is drawn in its severity's colour.
std::string DotReport(const TInspection& Inspection);

// How many findings of each severity.
struct TFindingCounts {
    int Errors = 0, Warnings = 0, Notes = 0;
};
TFindingCounts CountFindings(const TInspection& Inspection);

#endif
