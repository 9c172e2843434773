#include "Reports.h"

#include "Engine/ORVCollections.h"
#include "Engine/ORVDescriptor.h"
#include "Engine/ORVExtension.h"
#include "Engine/ORVExtensionPoint.h"
#include "ToolText.h"

#include <nlohmann/json.hpp>

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
    if (!F.Related.empty() && F.Rule->Related) {
        Text += std::string(" (") + F.Rule->Related + ": ";
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

using TJson = nlohmann::ordered_json;

TJson JsonList(const std::vector<std::string>& Items) {
    TJson List = TJson::array();
    for (const std::string& Item : Items) List.push_back(ToUtf8(Item));
    return List;
}

// The control character a two-character escape of the library's dump (\n, \t, ...) stands for;
// 0 for the others (\\, \", \uxxxx).
char ShortEscape(char E) {
    switch (E) {
        case 'b': return '\b';
        case 't': return '\t';
        case 'n': return '\n';
        case 'f': return '\f';
        case 'r': return '\r';
        default: return 0;
    }
}

// The document as text, UTF-8 throughout: each part of a string that is not well-formed UTF-8 (a
// stray byte, an overlong form, an encoded surrogate, a value above U+10FFFF, a sequence cut
// short) becomes one U+FFFD, the maximal ill-formed part as Unicode counts it. Control characters
// and DEL are written as \u00xx, as this report always wrote them (the library's dump writes \n,
// \t, ... and leaves DEL as it is).
std::string JsonText(const TJson& Document) {
    const std::string Dumped = Document.dump(2, ' ', false, TJson::error_handler_t::replace);
    std::string Out;
    Out.reserve(Dumped.size() + 1);
    for (std::size_t I = 0; I < Dumped.size(); ++I) {
        char C = Dumped[I];
        if (C == '\\') {
            // Every backslash of the dump begins an escape, inside a string.
            const char Control = ShortEscape(Dumped[I + 1]);
            if (!Control) {
                Out += C;
                Out += Dumped[++I];
                continue;
            }
            C = Control;
            ++I;
        } else if (C != '\x7F') {
            Out += C;
            continue;
        }
        char Code[8];
        std::snprintf(Code, sizeof Code, "\\u%04x", static_cast<unsigned char>(C));
        Out += Code;
    }
    return Out + "\n";
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
        Out += PrintableData(Place) + ": " + SeverityName(F->Severity) + ": " + PrintableMessage(*F) + " [" +
               F->Rule->Name + "]\n";
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
    TJson Plugins = TJson::array();
    for (const TPluginView& Plugin : All) {
        TORVDescriptor& D = *Plugin.Descriptor;
        TJson Points = TJson::array(), Extensions = TJson::array();
        for (const TPointView& Point : Plugin.Points) {
            TORVExtensionPoint& P = *Point.Point;
            Points.push_back({{"id", ToUtf8(Point.ID)},
                              {"name", ToUtf8(P.GetName())},
                              {"required", P.IsRequired()},
                              {"unique", P.IsUnique()},
                              {"extensions", JsonList(LinkedExtensionIDs(P))}});
        }
        for (const TExtensionView& Extension : Plugin.Extensions) {
            TORVExtension& E = *Extension.Extension;
            std::vector<std::string> Linked;
            for (TORVExtensionPoint* P : E.GetLinkedPoints()) Linked.push_back(P->GetID());
            Extensions.push_back({{"id", ToUtf8(Extension.ID)},
                                  {"name", ToUtf8(E.GetName())},
                                  {"points", JsonList(E.GetPoints())},
                                  {"linked", JsonList(Linked)},
                                  {"factory", ToUtf8(E.GetFactoryMethod())}});
        }
        Plugins.push_back({{"id", ToUtf8(D.GetID())},
                           {"name", ToUtf8(D.GetName())},
                           {"version", ToUtf8(D.GetVersion())},
                           {"provider", ToUtf8(D.GetProvider())},
                           {"file", ToUtf8(D.GetConfigFile())},
                           {"line", D.GetLine()},
                           {"library", ToUtf8(D.GetLibrary())},
                           {"initialize", D.GetInitialize()},
                           {"points", std::move(Points)},
                           {"extensions", std::move(Extensions)}});
    }
    TJson Findings = TJson::array();
    for (const TFinding* F : SortedFindings(Inspection))
        Findings.push_back({{"severity", SeverityName(F->Severity)},
                            {"rule", F->Rule->Name},
                            {"file", ToUtf8(F->File)},
                            {"line", F->Line},
                            {"column", F->Column},
                            {"plugin", ToUtf8(F->PluginID)},
                            {"subject", ToUtf8(F->Subject)},
                            {"message", ToUtf8(F->Message())},
                            {"related", JsonList(F->Related)}});
    return JsonText({{"summary",
                      {{"manifests", Inspection.Manifests.size()},
                       {"plugins", All.size()},
                       {"points", PointCount},
                       {"extensions", ExtensionCount},
                       {"errors", Counts.Errors},
                       {"warnings", Counts.Warnings},
                       {"notes", Counts.Notes}}},
                     {"plugins", std::move(Plugins)},
                     {"findings", std::move(Findings)}});
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
