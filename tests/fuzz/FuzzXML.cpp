// The XML layer over one document: loading (encodings, well-formedness checks) and every node
// operation on what loads.
#include "Companion/TarnXMLUtils.h"
#include "FuzzSupport.h"

#include <vector>

using namespace orv;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, std::size_t Size) {
    try {
        Ref<IXMLDocument> Document = LoadXMLDocumentFromString(fuzz::Input(Data, Size), "fuzz.xml");
        std::vector<Ref<IXMLNode>> Pending;
        if (Ref<IXMLNode> Root = Document->GetDocumentElement()) Pending.push_back(Root);
        while (!Pending.empty()) {
            Ref<IXMLNode> Node = Pending.back();
            Pending.pop_back();
            Node->GetNodeName();
            Node->GetText();
            Ref<IXMLAttributes> Attributes = Node->GetAttributes();
            Attributes->GetCount();
            Ref<IXMLAttribute> ID = Attributes->GetNamedItem("ID");
            ID->GetText();
            ID->GetBool();
            Ref<IXMLNodeList> Children = Node->GetChildNodes();
            Children->FindNode("Plugin");
            for (int32_t I = 0; I < Children->GetCount(); ++I) Pending.push_back(Children->GetItem(I));
            Node->GetNextSibling();
        }
    } catch (const EORVException&) {
    }
    fuzz::CheckNothingLeft();
    return 0;
}
