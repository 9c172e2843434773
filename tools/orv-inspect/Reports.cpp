#include "Reports.h"

#include "Engine/ORVCollections.h"
#include "Engine/ORVDescriptor.h"
#include "Engine/ORVExtension.h"
#include "Engine/ORVExtensionPoint.h"
#include "ToolText.h"

#include <algorithm>
#include <cstdio>
#include <map>

using namespace orv;

namespace {

// --- the model as the reports walk it -------------------------------------------------------

struct TPointView {
    TORVExtensionPoint* Point;
    std::string ID;
};
struct TExtensionView {
    TORVExtension* Extension;
    std::string ID;
};
struct TPluginView {
    TORVDescriptor* Descriptor;
    std::vector<TPointView> Points;
    std::vector<TExtensionView> Extensions;
};

std::vector<TPluginView> Plugins(const TInspection& Inspection) {
    std::vector<TPluginView> Result;
    TORVDescriptors& Descriptors = Inspection.Registry->OwnDescriptors();
    for (int32_t I = 0; I < Descriptors.GetCount(); ++I) {
        TPluginView View{Descriptors.ItemAt(I), {}, {}};
        TORVExtensionPoints& Points = View.Descriptor->OwnExtensionPoints();
        for (int32_t J = 0; J < Points.GetCount(); ++J) {
            TORVExtensionPoint* Point = Points.ItemAt(J);
            View.Points.push_back({Point, Point->GetID()});
        }
        TORVExtensions& Extensions = View.Descriptor->OwnExtensions();
        for (int32_t J = 0; J < Extensions.GetCount(); ++J) {
            TORVExtension* Extension = Extensions.ItemAt(J);
            View.Extensions.push_back({Extension, Extension->GetID()});
        }
        Result.push_back(std::move(View));
    }
    return Result;
}

std::vector<std::string> LinkedExtensionIDs(TORVExtensionPoint& Point) {
    std::vector<std::string> IDs;
    TORVExtensions& Linked = Point.LinkedExtensions();
    for (int32_t I = 0; I < Linked.GetCount(); ++I) IDs.push_back(Linked.ItemAt(I)->GetID());
    return IDs;
}

const char* SeverityName(TSeverity S) { return S == TSeverity::Error ? "error" : S == TSeverity::Warning ? "warning" : "note"; }

// What the finding's related names are, for the message; nil where the message names them.
const char* RelatedLabel(const TFinding& F) {
    const std::string Rule = F.Rule;
    if (Rule == Rules::MissingLibrary || Rule == LibraryNotAFile || Rule == "missing-dependency") return "looked for";
    if (Rule == Rules::UniquePointOverfull) return "extensions";
    if (Rule == Rules::DuplicatePluginID || Rule == "decorated-export") return nullptr;
    return "see";
}

// The finding's message with what it names besides, printable: the line breaks of a message-table
// text are kept, those of the data filled into it escaped.
std::string PrintableMessage(const TFinding& F) {
    std::string Text;
    if (F.Entry == TMessageId(0)) {
        Text = PrintableData(F.Text);
    } else {
        const TArgList Args(F.Args);
        Text = PrintableFormat(LoadMessage(F.Entry), Args.Data(), Args.High());
    }
    if (!F.Related.empty() && RelatedLabel(F)) {
        Text += std::string(" (") + RelatedLabel(F) + ": ";
        for (std::size_t I = 0; I < F.Related.size(); ++I) Text += (I ? ", " : "") + PrintableData(F.Related[I]);
        Text += ")";
    }
    return Text;
}

std::vector<const TFinding*> SortedFindings(const TInspection& Inspection) {
    std::vector<const TFinding*> Sorted;
    for (const TFinding& F : Inspection.Findings) Sorted.push_back(&F);
    std::stable_sort(Sorted.begin(), Sorted.end(), [](const TFinding* A, const TFinding* B) {
        if (A->File != B->File) return A->File < B->File;
        if (A->Line != B->Line) return A->Line < B->Line;
        return A->Column < B->Column;
    });
    return Sorted;
}

std::string Plural(int N, const char* One, const char* Many) { return std::to_string(N) + " " + (N == 1 ? One : Many); }

// --- JSON ----------------------------------------------------------------------------------------

// A JSON string of Text (the engine's encoding): UTF-8 throughout. Each part that is not
// well-formed UTF-8 (a stray byte, an overlong form, an encoded surrogate, a value above U+10FFFF,
// a sequence cut short) becomes one U+FFFD, the maximal ill-formed part as Unicode counts it.
std::string Json(const std::string& Text) {
    const std::string Utf8 = ToUtf8(Text);
    std::string Out = "\"";
    for (std::size_t I = 0, Length = 0; I < Utf8.size(); I += Length) {
        const auto C = static_cast<unsigned char>(Utf8[I]);
        if (!Utf8SequenceAt(Utf8, I, Length)) {
            Out += "\xEF\xBF\xBD";
        } else if (C == '"' || C == '\\') {
            Out += '\\';
            Out += static_cast<char>(C);
        } else if (C < 0x20 || C == 0x7F) {
            char Escape[8];
            std::snprintf(Escape, sizeof Escape, "\\u%04x", C);
            Out += Escape;
        } else {
            Out.append(Utf8, I, Length);
        }
    }
    return Out + "\"";
}

std::string JsonList(const std::vector<std::string>& Items) {
    std::string Out = "[";
    for (std::size_t I = 0; I < Items.size(); ++I) Out += (I ? ", " : "") + Json(Items[I]);
    return Out + "]";
}

// --- DOT -----------------------------------------------------------------------------------------

std::string Dot(const std::string& Text) {
    std::string Out = "\"";
    for (char C : ToUtf8(Text)) {
        if (C == '\n') {
            Out += "\\n";
            continue;
        }
        if (C == '"' || C == '\\') Out += '\\';
        if (static_cast<unsigned char>(C) < 0x20) {
            Out += ' ';
            continue;
        }
        Out += C;
    }
    return Out + "\"";
}

const char* SeverityColour(TSeverity S) { return S == TSeverity::Error ? "red" : S == TSeverity::Warning ? "orange" : "gray50"; }

}  // namespace

TFindingCounts CountFindings(const TInspection& Inspection) {
    TFindingCounts Counts;
    for (const TFinding& F : Inspection.Findings) {
        if (F.Severity == TSeverity::Error) ++Counts.Errors;
        if (F.Severity == TSeverity::Warning) ++Counts.Warnings;
        if (F.Severity == TSeverity::Note) ++Counts.Notes;
    }
    return Counts;
}

std::string TextReport(const TInspection& Inspection) {
    const std::vector<TPluginView> All = Plugins(Inspection);
    std::size_t Points = 0, Extensions = 0;
    for (const TPluginView& P : All) Points += P.Points.size(), Extensions += P.Extensions.size();
    const TFindingCounts Counts = CountFindings(Inspection);
    std::string Out = "orv-inspect: " + Plural(static_cast<int>(Inspection.Manifests.size()), "manifest", "manifests") +
                      ", " + Plural(static_cast<int>(All.size()), "plug-in", "plug-ins") + ", " +
                      Plural(static_cast<int>(Points), "extension point", "extension points") + ", " +
                      Plural(static_cast<int>(Extensions), "extension", "extensions") + ": " +
                      Plural(Counts.Errors, "error", "errors") + ", " + Plural(Counts.Warnings, "warning", "warnings") +
                      ", " + Plural(Counts.Notes, "note", "notes") + "\n";

    const std::string* File = nullptr;
    for (const TFinding* F : SortedFindings(Inspection)) {
        if (!File || *File != F->File) Out += "\n";
        File = &F->File;
        std::string Place = F->File;
        if (F->Line > 0) Place += ":" + std::to_string(F->Line);
        if (F->Line > 0 && F->Column > 0) Place += ":" + std::to_string(F->Column);
        Out += PrintableData(Place) + ": " + SeverityName(F->Severity) + ": " + PrintableMessage(*F) + " [" + F->Rule + "]\n";
    }

    Out += "\nplug-ins:\n";
    for (const TPluginView& P : All) {
        TORVDescriptor& D = *P.Descriptor;
        Out += "  " + PrintableData(D.GetID()) + "  " + PrintableData(D.GetConfigFile()) + "\n";
        if (!D.GetLibrary().empty()) Out += "    library " + PrintableData(D.GetLibrary()) + "\n";
        for (const TPointView& Point : P.Points) {
            std::string Rules;
            if (Point.Point->IsRequired()) Rules += " required";
            if (Point.Point->IsUnique()) Rules += " unique";
            Out += "    point " + PrintableData(Point.ID) + (Rules.empty() ? "" : " [" + Rules.substr(1) + "]") + "\n";
            for (const std::string& Linked : LinkedExtensionIDs(*Point.Point)) Out += "      <- " + PrintableData(Linked) + "\n";
        }
        for (const TExtensionView& E : P.Extensions) {
            std::string Names;
            for (const std::string& Named : E.Extension->GetPoints()) Names += (Names.empty() ? "" : ", ") + Named;
            Out += "    extension " + PrintableData(E.ID + " -> " + Names) + "\n";
        }
    }
    return Out;
}

std::string JsonReport(const TInspection& Inspection) {
    const std::vector<TPluginView> All = Plugins(Inspection);
    std::size_t PointCount = 0, ExtensionCount = 0;
    for (const TPluginView& P : All) PointCount += P.Points.size(), ExtensionCount += P.Extensions.size();
    const TFindingCounts Counts = CountFindings(Inspection);
    std::string Out = "{\n  \"summary\": {\"manifests\": " + std::to_string(Inspection.Manifests.size()) +
                      ", \"plugins\": " + std::to_string(All.size()) + ", \"points\": " + std::to_string(PointCount) +
                      ", \"extensions\": " + std::to_string(ExtensionCount) + ", \"errors\": " +
                      std::to_string(Counts.Errors) + ", \"warnings\": " + std::to_string(Counts.Warnings) +
                      ", \"notes\": " + std::to_string(Counts.Notes) + "},\n  \"plugins\": [";
    for (std::size_t I = 0; I < All.size(); ++I) {
        TORVDescriptor& D = *All[I].Descriptor;
        Out += std::string(I ? "," : "") + "\n    {\"id\": " + Json(D.GetID()) + ", \"name\": " + Json(D.GetName()) +
               ", \"version\": " + Json(D.GetVersion()) + ", \"provider\": " + Json(D.GetProvider()) +
               ", \"file\": " + Json(D.GetConfigFile()) + ", \"line\": " + std::to_string(D.GetLine()) +
               ", \"library\": " + Json(D.GetLibrary()) + ", \"initialize\": " + (D.GetInitialize() ? "true" : "false") +
               ",\n     \"points\": [";
        for (std::size_t J = 0; J < All[I].Points.size(); ++J) {
            TORVExtensionPoint& P = *All[I].Points[J].Point;
            Out += std::string(J ? ", " : "") + "{\"id\": " + Json(All[I].Points[J].ID) + ", \"name\": " + Json(P.GetName()) +
                   ", \"required\": " + (P.IsRequired() ? "true" : "false") + ", \"unique\": " +
                   (P.IsUnique() ? "true" : "false") + ", \"extensions\": " + JsonList(LinkedExtensionIDs(P)) + "}";
        }
        Out += "],\n     \"extensions\": [";
        for (std::size_t J = 0; J < All[I].Extensions.size(); ++J) {
            TORVExtension& E = *All[I].Extensions[J].Extension;
            std::vector<std::string> Linked;
            for (TORVExtensionPoint* P : E.GetLinkedPoints()) Linked.push_back(P->GetID());
            Out += std::string(J ? ", " : "") + "{\"id\": " + Json(All[I].Extensions[J].ID) + ", \"name\": " +
                   Json(E.GetName()) + ", \"points\": " + JsonList(E.GetPoints()) + ", \"linked\": " + JsonList(Linked) +
                   ", \"factory\": " + Json(E.GetFactoryMethod()) + "}";
        }
        Out += "]}";
    }
    Out += "\n  ],\n  \"findings\": [";
    const std::vector<const TFinding*> Sorted = SortedFindings(Inspection);
    for (std::size_t I = 0; I < Sorted.size(); ++I) {
        const TFinding& F = *Sorted[I];
        Out += std::string(I ? "," : "") + "\n    {\"severity\": \"" + SeverityName(F.Severity) + "\", \"rule\": \"" +
               F.Rule + "\", \"file\": " + Json(F.File) + ", \"line\": " + std::to_string(F.Line) +
               ", \"column\": " + std::to_string(F.Column) + ", \"plugin\": " + Json(F.PluginID) +
               ", \"subject\": " + Json(F.Subject) + ", \"message\": " + Json(F.Message()) +
               ", \"related\": " + JsonList(F.Related) + "}";
    }
    return Out + "\n  ]\n}\n";
}

std::string DotReport(const TInspection& Inspection) {
    const std::vector<TPluginView> All = Plugins(Inspection);
    // The worst severity found about each plug-in (by manifest and place) and each point or extension.
    std::map<std::string, TSeverity> Subjects;
    std::map<std::pair<std::string, int32_t>, TSeverity> PluginsAt;
    auto Worse = [](auto& Map, const auto& Key, TSeverity S) {
        auto It = Map.find(Key);
        if (It == Map.end() || S < It->second) Map[Key] = S;
    };
    for (const TFinding& F : Inspection.Findings) {
        if (!F.Subject.empty())
            Worse(Subjects, F.Subject, F.Severity);
        else if (!F.PluginID.empty())
            Worse(PluginsAt, std::make_pair(F.File, F.Line), F.Severity);
    }
    // The attributes that draw a subject in the colour of its worst finding, each after Separator
    // (", " in a node's attribute list, "; " among a cluster's statements).
    auto Colour = [](const auto& Map, const auto& Key, const char* Separator = ", ") -> std::string {
        auto It = Map.find(Key);
        if (It == Map.end()) return "";
        const std::string C = SeverityColour(It->second);
        return Separator + std::string("color=") + C + Separator + "fontcolor=" + C + Separator + "penwidth=2";
    };

    std::string Out = "digraph \"plug-ins\" {\n  graph [rankdir=LR, fontname=\"Helvetica\", fontsize=11];\n"
                      "  node [fontname=\"Helvetica\", fontsize=10];\n  edge [color=gray30];\n";
    std::map<TORVExtensionPoint*, std::string> PointNodes;
    for (std::size_t I = 0; I < All.size(); ++I)
        for (std::size_t J = 0; J < All[I].Points.size(); ++J)
            PointNodes[All[I].Points[J].Point] = "p" + std::to_string(I) + "_" + std::to_string(J);
    std::string Edges;
    std::map<std::string, std::string> MissingNodes;
    for (std::size_t I = 0; I < All.size(); ++I) {
        TORVDescriptor& D = *All[I].Descriptor;
        Out += "  subgraph \"cluster_" + std::to_string(I) + "\" {\n    label=" + Dot(D.GetID()) + "; style=rounded" +
               Colour(PluginsAt, std::make_pair(D.GetConfigFile(), D.GetLine()), "; ") + ";\n";
        for (std::size_t J = 0; J < All[I].Points.size(); ++J) {
            TORVExtensionPoint& P = *All[I].Points[J].Point;
            std::string Label = P.GetLocalID();
            if (P.IsRequired() || P.IsUnique())
                Label += std::string("\n(") + (P.IsRequired() ? "required" : "") +
                         (P.IsRequired() && P.IsUnique() ? ", " : "") + (P.IsUnique() ? "unique" : "") + ")";
            Out += "    " + PointNodes[&P] + " [shape=box, label=" + Dot(Label) + Colour(Subjects, All[I].Points[J].ID) + "];\n";
        }
        for (std::size_t J = 0; J < All[I].Extensions.size(); ++J) {
            TORVExtension& E = *All[I].Extensions[J].Extension;
            const std::string Node = "e" + std::to_string(I) + "_" + std::to_string(J);
            Out += "    " + Node + " [shape=ellipse, label=" + Dot(E.GetLocalID()) + Colour(Subjects, All[I].Extensions[J].ID) +
                   "];\n";
            std::vector<std::string> LinkedIDs;
            for (TORVExtensionPoint* P : E.GetLinkedPoints()) {
                Edges += "  " + Node + " -> " + PointNodes[P] + ";\n";
                LinkedIDs.push_back(P->GetID());
            }
            // A named point that is not linked: drawn apart, dashed.
            for (const std::string& Named : E.GetPoints()) {
                if (std::find(LinkedIDs.begin(), LinkedIDs.end(), Named) != LinkedIDs.end()) continue;
                auto Missing = MissingNodes.emplace(Named, "m" + std::to_string(MissingNodes.size()));
                Edges += "  " + Node + " -> " + Missing.first->second + " [style=dashed, color=red];\n";
            }
        }
        Out += "  }\n";
    }
    for (const auto& Missing : MissingNodes)
        Out += "  " + Missing.second + " [shape=box, style=dashed, color=red, fontcolor=red, label=" +
               Dot(Missing.first + "\n(no such point)") + "];\n";
    return Out + Edges + "}\n";
}
