// Reads the documents of the W3C XML Conformance Test Suite with the engine's XML loader and counts
// how many it judges as the suite's authors did.
//   orv-xml-conformance SUITE [--list | --messages]
// SUITE is the unpacked package (the folder holding cleaned/xmlconf-flattened.xml and xmlconf/).
// The documents taken are those of XML 1.0, fifth edition, that need no external entity: the valid
// and invalid ones must load (a loader that does not validate takes both), the not-well-formed ones
// must be refused. A document without a root element loads without one, and every reader of the
// engine refuses it then ("格式非法", orv-inspect's no-root-element): it counts as refused, and the
// counts say how many were refused so. --list names every document judged otherwise, with the
// loader's message; --messages names every document refused, with its message.
// Exit 0 when all are judged right, 1 when not, 2 when the suite cannot be read.
#include "Companion/TarnXMLUtils.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

using namespace orv;

namespace {

struct TCase {
    std::string Id, Type, File;
};

// "a/b/" + "../c.xml" -> "a/c.xml".
std::string Join(const std::string& Base, const std::string& Relative) {
    std::string Path = Base + Relative;
    std::vector<std::string> Parts;
    std::size_t Start = 0;
    for (;;) {
        const std::size_t Slash = Path.find('/', Start);
        const std::string Part = Path.substr(Start, Slash == std::string::npos ? std::string::npos : Slash - Start);
        if (Part == ".." && !Parts.empty() && Parts.back() != "..")
            Parts.pop_back();
        else if (Part != "." && !(Part.empty() && !Parts.empty()))
            Parts.push_back(Part);
        if (Slash == std::string::npos) break;
        Start = Slash + 1;
    }
    std::string Out;
    for (std::size_t I = 0; I < Parts.size(); ++I) Out += (I ? "/" : "") + Parts[I];
    return Out;
}

bool Selected(IXMLNode* Test) {
    const std::string Version = Test->GetAttribute("VERSION"), Edition = Test->GetAttribute("EDITION");
    if (!Version.empty() && Version != "1.0") return false;
    if (!Edition.empty() && (" " + Edition + " ").find(" 5 ") == std::string::npos) return false;
    const std::string Recommendation = Test->GetAttribute("RECOMMENDATION");
    if (!Recommendation.empty() && Recommendation != "XML1.0") return false;
    const std::string Entities = Test->GetAttribute("ENTITIES");
    if (!Entities.empty() && Entities != "none") return false;
    const std::string Type = Test->GetAttribute("TYPE");
    return Type == "valid" || Type == "invalid" || Type == "not-wf";
}

void Collect(IXMLNode* Node, std::string Base, std::vector<TCase>& Cases) {
    const std::string XmlBase = Node->GetAttribute("xml:base");
    if (!XmlBase.empty()) Base = Join(Base, XmlBase) + (XmlBase.back() == '/' ? "/" : "");
    if (Node->GetNodeName() == "TEST") {
        if (Selected(Node))
            Cases.push_back({Node->GetAttribute("ID"), Node->GetAttribute("TYPE"), Join(Base, Node->GetAttribute("URI"))});
        return;
    }
    Ref<IXMLNodeList> Children = Node->GetChildNodes();
    for (int32_t I = 0; I < Children->GetCount(); ++I) Collect(Children->GetItem(I).Get(), Base, Cases);
}

bool HasDoctype(const std::string& File) {
    std::ifstream In(File, std::ios::binary);
    const std::string Bytes((std::istreambuf_iterator<char>(In)), std::istreambuf_iterator<char>());
    return Bytes.find("<!DOCTYPE ") != std::string::npos;
}

}  // namespace

int main(int argc, char** argv) {
    const bool List = argc == 3 && std::strcmp(argv[2], "--list") == 0;
    const bool Messages = argc == 3 && std::strcmp(argv[2], "--messages") == 0;
    if (argc < 2 || argc > 3 || (argc == 3 && !List && !Messages)) {
        std::fprintf(stderr, "usage: orv-xml-conformance SUITE [--list | --messages]\n");
        return 2;
    }
    const std::string Suite = std::string(argv[1]) + "/";
    std::vector<TCase> Cases;
    try {
        Ref<IXMLDocument> Catalogue = LoadXMLDocument(Suite + "cleaned/xmlconf-flattened.xml");
        Collect(Catalogue->GetDocumentElement().Get(), Suite + "xmlconf/", Cases);
    } catch (const EORVException& E) {
        std::fprintf(stderr, "orv-xml-conformance: cannot read the suite's catalogue: %s\n", E.what());
        return 2;
    }

    // Accepted well-formed; refused not-well-formed without and with a DOCTYPE.
    int Right[3] = {0, 0, 0}, Total[3] = {0, 0, 0}, Rootless[3] = {0, 0, 0};
    for (const TCase& Case : Cases) {
        const bool WellFormed = Case.Type != "not-wf";
        const int Group = WellFormed ? 0 : HasDoctype(Case.File) ? 2 : 1;
        std::string Message;
        bool Loaded = true;
        try {
            if (!LoadXMLDocument(Case.File)->GetDocumentElement()) {
                Loaded = false;
                Message = "no root element";
                ++Rootless[Group];
            }
        } catch (const EORVException& E) {
            Loaded = false;
            Message = E.what();
        }
        ++Total[Group];
        if (Messages && !Loaded) std::printf("%s: %s\n", Case.Id.c_str(), Message.c_str());
        if (Loaded == WellFormed) {
            ++Right[Group];
        } else if (List) {
            std::printf("%s %s (%s)%s%s\n", WellFormed ? "REFUSED " : "ACCEPTED", Case.Id.c_str(), Case.File.c_str(),
                        Message.empty() ? "" : ": ", Message.c_str());
        }
    }
    const char* const Names[3] = {"well-formed accepted", "not-well-formed without DOCTYPE refused",
                                  "not-well-formed with DOCTYPE refused"};
    for (int G = 0; G < 3; ++G) {
        std::printf("%s: %d/%d", Names[G], Right[G], Total[G]);
        if (Rootless[G]) std::printf(" (%d of them for want of a root element)", Rootless[G]);
        std::printf("\n");
    }
    const int Passed = Right[0] + Right[1] + Right[2], All = Total[0] + Total[1] + Total[2];
    std::printf("%d passed, %d failed\n", Passed, All - Passed);
    return Passed == All && All > 0 ? 0 : 1;
}
