#include "Companion/TarnXMLUtils.h"

#include "Companion/TarnXMLLiveCount.h"
#include "Companion/TarnXMLText.h"
#include "Companion/TarnXMLTree.h"
#include "Common/Platform.h"

#include <ORVPluginHelpers.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include <pugixml.hpp>

namespace orv {

namespace {

std::atomic<int32_t> LiveDocuments{0};

// The tree keeps UTF-8; the engine's strings are in the process code page. Every name and text
// that leaves through the interfaces goes through here. Names asked for by callers (attributes,
// child elements) are matched against the tree's UTF-8 unconverted: they are ASCII in every
// manifest and engine configuration.
std::string Native(const char* Utf8) { return Platform().Utf8ToNative(Utf8); }
std::string Native(const TXMLTree& Tree, const char* Text) { return Tree.IsNative() ? std::string(Text) : Native(Text); }

// Owns the tree; every node, list and attribute object holds a reference to it.
class TXMLDocument final : public TInterfacedObject<IXMLDocument> {
public:
    explicit TXMLDocument(std::string FileName) : FileName_(std::move(FileName)) { ++LiveDocuments; }
    ~TXMLDocument() override { --LiveDocuments; }

    TXMLTree& Tree() { return Tree_; }
    // For a copy: the node objects of the document copied, by element.
    std::vector<Ref<IXMLNode>>& Originals() { return Originals_; }

    Ref<IXMLNode> ORV_CALL GetDocumentElement() override;
    std::string ORV_CALL GetFileName() override { return FileName_; }

private:
    TXMLTree Tree_;
    std::string FileName_;
    std::vector<Ref<IXMLNode>> Originals_;
};

using TDocumentRef = Ref<TXMLDocument>;

Ref<IXMLNode> MakeNode(const TDocumentRef& Doc, uint32_t E);

class TXMLAttribute final : public TInterfacedObject<IXMLAttribute> {
public:
    TXMLAttribute(TDocumentRef Doc, const char* Value) : Doc_(std::move(Doc)), Value_(Value) {}

    std::string ORV_CALL GetText() override { return Value_ ? Native(Doc_->Tree(), Value_) : std::string(); }
    bool ORV_CALL GetBool() override { return Value_ && XMLTextToBool(Value_); }
    bool ORV_CALL Exists() override { return Value_ != nullptr; }

private:
    TDocumentRef Doc_;
    const char* Value_;  // in the tree's pool; nullptr for an attribute the element does not have
};

class TXMLAttributes final : public TInterfacedObject<IXMLAttributes> {
public:
    TXMLAttributes(TDocumentRef Doc, uint32_t E) : Doc_(std::move(Doc)), E_(E) {}

    Ref<IXMLAttribute> ORV_CALL GetNamedItem(const std::string& Name) override {
        return Ref<IXMLAttribute>(new TXMLAttribute(Doc_, Doc_->Tree().Attribute(E_, Name.c_str())));
    }
    int32_t ORV_CALL GetCount() override { return static_cast<int32_t>(Doc_->Tree().AttributeCount(E_)); }

private:
    TDocumentRef Doc_;
    uint32_t E_;
};

// The child elements of one element.
class TXMLNodeList final : public TInterfacedObject<IXMLNodeList> {
public:
    TXMLNodeList(TDocumentRef Doc, uint32_t Parent) : Doc_(std::move(Doc)), Parent_(Parent) {}

    int32_t ORV_CALL GetCount() override { return static_cast<int32_t>(Doc_->Tree().ChildCount(Parent_)); }
    Ref<IXMLNode> ORV_CALL GetItem(int32_t Index) override {
        if (Index < 0 || Index >= GetCount())
            throw EORVException("XML node list index " + std::to_string(Index) + " out of bounds (count " +
                                std::to_string(GetCount()) + ")");
        return MakeNode(Doc_, Doc_->Tree().Child(Parent_, static_cast<uint32_t>(Index)));
    }
    Ref<IXMLNode> ORV_CALL FindNode(const std::string& Name) override {
        const TXMLTree& Tree = Doc_->Tree();
        for (uint32_t I = 0; I < Tree.ChildCount(Parent_); ++I)
            if (Name == Tree.Name(Tree.Child(Parent_, I))) return MakeNode(Doc_, Tree.Child(Parent_, I));
        return nullptr;
    }

private:
    TDocumentRef Doc_;
    uint32_t Parent_;
};

class TXMLNode final : public TInterfacedObject<IXMLNode> {
public:
    TXMLNode(TDocumentRef Doc, uint32_t E) : Doc_(std::move(Doc)), E_(E) {}

    void Position(int32_t& Line, int32_t& Column) const { Doc_->Tree().Position(E_, Line, Column); }

    std::string ORV_CALL GetNodeName() override { return Native(Doc_->Tree(), Doc_->Tree().Name(E_)); }
    Ref<IXMLAttributes> ORV_CALL GetAttributes() override { return Ref<IXMLAttributes>(new TXMLAttributes(Doc_, E_)); }
    Ref<IXMLNodeList> ORV_CALL GetChildNodes() override { return Ref<IXMLNodeList>(new TXMLNodeList(Doc_, E_)); }
    Ref<IXMLNode> ORV_CALL GetNextSibling() override {
        const uint32_t Next = Doc_->Tree().Next(E_);
        return Next == TXMLTree::None ? nullptr : MakeNode(Doc_, Next);
    }
    std::string ORV_CALL GetText() override { return Native(Doc_->Tree(), Doc_->Tree().Text(E_)); }
    std::string ORV_CALL GetAttribute(const std::string& Name) override {
        const char* Value = Doc_->Tree().Attribute(E_, Name.c_str());
        return Value ? Native(Doc_->Tree(), Value) : std::string();
    }

private:
    TDocumentRef Doc_;
    uint32_t E_;
};

Ref<IXMLNode> MakeNode(const TDocumentRef& Doc, uint32_t E) {
    if (!Doc->Originals().empty()) return Doc->Originals()[E];
    return Ref<IXMLNode>(new TXMLNode(Doc, E));
}

Ref<IXMLNode> ORV_CALL TXMLDocument::GetDocumentElement() {
    if (Tree_.Root() == TXMLTree::None) return nullptr;
    return MakeNode(TDocumentRef(this), Tree_.Root());
}

bool IsXMLBlank(char C) { return C == ' ' || C == '\t' || C == '\r' || C == '\n'; }

std::string ReadWholeFile(const std::string& FileName) {
    std::string Bytes, Error;
    int64_t Size = -1;
    switch (Platform().ReadFile(FileName, MaxXMLFileSize, Bytes, Size, Error)) {
        case TReadResult::Ok:
            return Bytes;
        case TReadResult::TooLarge:
            throw EORVException("XML file \"" + FileName + "\" is too large: " + std::to_string(Size) + " bytes (at most " +
                                std::to_string(MaxXMLFileSize) + " bytes are read)");
        case TReadResult::CannotOpen:
            throw EORVException("Cannot open XML file \"" + FileName + "\": " + Error);
        case TReadResult::CannotRead:
            break;
    }
    throw EORVException("Cannot read XML file \"" + FileName + "\": " + Error);
}

// The pugixml tree below Root as Tree's elements, breadth first, so that the children of each
// element are numbered side by side; Tree's pool is the buffer that the parser worked in. XML
// allows an attribute once per element, while the parser keeps the first of two and says nothing:
// that is checked here.
void BuildTree(pugi::xml_node Root, TXMLTree& Tree, const char* Base, const std::string& FileName,
               const std::string& Text) {
    // Parsing in place leaves every name and value in the buffer, ended by a NUL.
    auto Enter = [&Tree](const char* Piece) {
        if (!*Piece) return uint32_t{0};
        const uint32_t At = Tree.InBuffer(Piece);
        return At != TXMLTree::None ? At : Tree.Add(Piece);
    };
    thread_local std::vector<pugi::xml_node> Nodes;
    thread_local std::vector<const char*> Names;
    Nodes.clear();
    auto Add = [&](pugi::xml_node Node) {
        // The start tag's "<" comes right before the name.
        const std::ptrdiff_t Tag = Node.name() - Base - 1;
        Tree.AddElement(Enter(Node.name()), static_cast<uint32_t>(Tag));
        Names.clear();
        for (pugi::xml_attribute A = Node.first_attribute(); A; A = A.next_attribute()) {
            const char* Name = A.name();
            for (const char* Earlier : Names)
                if (Earlier[0] == Name[0] && std::strcmp(Earlier, Name) == 0)
                    RaiseMalformedXML(FileName, Text, std::string("attribute \"") + Name + "\" given twice", Tag);
            Names.push_back(Name);
            Tree.AddAttribute(Enter(Name), Enter(A.value()));
        }
        Nodes.push_back(Node);
    };
    Add(Root);
    Tree.SetRoot(0);
    std::string Joined;
    for (uint32_t E = 0; E < Nodes.size(); ++E) {
        const uint32_t First = Tree.ElementCount();
        // Text split by comments or CDATA sections comes as several child nodes.
        const char* Only = nullptr;
        std::size_t Pieces = 0;
        Joined.clear();
        for (pugi::xml_node Child = Nodes[E].first_child(); Child; Child = Child.next_sibling()) {
            if (Child.type() == pugi::node_element) Add(Child);
            if (Child.type() != pugi::node_pcdata && Child.type() != pugi::node_cdata) continue;
            if (++Pieces == 2) Joined = Only;
            if (Pieces == 1)
                Only = Child.value();
            else
                Joined += Child.value();
        }
        const uint32_t Count = Tree.ElementCount() - First;
        Tree.SetChildren(E, First, Count);
        for (uint32_t K = First; K + 1 < First + Count; ++K) Tree.SetNext(K, K + 1);
        if (Pieces == 1) Tree.SetText(E, Enter(Only));
        if (Pieces > 1 && !Joined.empty()) Tree.SetText(E, Tree.Add(Joined));
    }
}

}  // namespace

int32_t LiveXMLDocumentCount() { return LiveDocuments.load(); }

Ref<IXMLDocument> LoadXMLDocumentFromString(const std::string& Bytes, const std::string& FileName) {
    std::string Converted;
    const std::string& Text = XMLTextToUtf8(Bytes, FileName, Converted) ? Converted : Bytes;
    TXMLTextFacts Facts;
    CheckXMLCharacters(Text, FileName, &Facts);
    Ref<TXMLDocument> Doc(new TXMLDocument(FileName));
    TXMLTree& Tree = Doc->Tree();
    Tree.SetLineStarts(std::move(Facts.LineStarts));

    // The parser works in place, on a copy that becomes the tree's pool (a NUL first: the empty
    // text), so that names and values need no copy of their own. Its document is kept for the next
    // file: the tree is copied out, and the parser's own storage is used again instead of being
    // held by every loaded file.
    // Fragment mode keeps text outside the root element, so that it can be rejected below
    // instead of being dropped silently; an empty buffer is accepted as a document without root.
    thread_local pugi::xml_document Parsed;
    std::string Work;
    Work.reserve(Text.size() + 1);
    Work.push_back('\0');
    Work += Text;
    Tree.AdoptBuffer(std::move(Work));
    char* Base = Tree.Buffer() + 1;
    pugi::xml_parse_result Result =
        Parsed.load_buffer_inplace(Base, Text.size(), pugi::parse_default | pugi::parse_fragment, pugi::encoding_utf8);
    if (!Result) RaiseMalformedXML(FileName, Text, Result.description(), Result.offset);

    pugi::xml_node Root;
    for (pugi::xml_node Node = Parsed.first_child(); Node; Node = Node.next_sibling()) {
        switch (Node.type()) {
            case pugi::node_pcdata:
            case pugi::node_cdata: {
                // Point at the first non-blank character: the text node starts with the blanks.
                std::ptrdiff_t At = Node.offset_debug();
                while (At >= 0 && static_cast<std::size_t>(At) < Text.size() && IsXMLBlank(Text[At])) ++At;
                RaiseMalformedXML(FileName, Text, "text outside the root element", At);
            }
            case pugi::node_element:
                if (Root) RaiseMalformedXML(FileName, Text, "more than one root element", Node.offset_debug());
                Root = Node;
                break;
            default:
                break;
        }
    }
    if (Root) {
        Tree.Reserve(Facts.Tags, Facts.Equals, 0);
        BuildTree(Root, Tree, Base, FileName, Text);
    }
    Parsed.reset();
    return Doc;
}

Ref<IXMLDocument> LoadXMLDocument(const std::string& FileName) {
    return LoadXMLDocumentFromString(ReadWholeFile(FileName), FileName);
}

bool XMLNodePosition(IXMLNode* Node, int32_t& Line, int32_t& Column) {
    Line = Column = 0;
    const auto* Own = dynamic_cast<const TXMLNode*>(Node);
    if (Own) Own->Position(Line, Column);
    return Line > 0;
}

const TXMLTree* XMLTreeOf(IXMLDocument* Document) {
    auto* Own = dynamic_cast<TXMLDocument*>(Document);
    return Own ? &Own->Tree() : nullptr;
}

Ref<IXMLNode> XMLNodeOf(IXMLDocument* Document, uint32_t E) {
    return MakeNode(TDocumentRef(dynamic_cast<TXMLDocument*>(Document)), E);
}

Ref<IXMLDocument> XMLDocumentCopy(IXMLDocument* Document, const std::vector<const char*>& Attributes) {
    Ref<TXMLDocument> Copy(new TXMLDocument(Document->GetFileName()));
    TXMLTree& Tree = Copy->Tree();
    Tree.SetNative(true);
    std::vector<Ref<IXMLNode>>& Nodes = Copy->Originals();
    auto Add = [&](const Ref<IXMLNode>& Node) {
        Tree.AddElement(Tree.Add(Node->GetNodeName()), 0);
        const Ref<IXMLAttributes> Present = Node->GetAttributes();
        for (const char* Name : Attributes) {
            const Ref<IXMLAttribute> A = Present->GetNamedItem(Name);
            if (A && A->Exists()) Tree.AddAttribute(Tree.Add(Name), Tree.Add(A->GetText()));
        }
        Nodes.push_back(Node);
    };
    Ref<IXMLNode> Root = Document->GetDocumentElement();
    if (!Root) return Copy;
    Add(Root);
    Tree.SetRoot(0);
    for (uint32_t E = 0; E < Nodes.size(); ++E) {
        const uint32_t First = Tree.ElementCount();
        const Ref<IXMLNodeList> Children = Nodes[E]->GetChildNodes();
        const int32_t Count = Children->GetCount();
        for (int32_t I = 0; I < Count; ++I) Add(Children->GetItem(I));
        Tree.SetChildren(E, First, static_cast<uint32_t>(Count));
        for (uint32_t K = First; K + 1 < First + static_cast<uint32_t>(Count); ++K) Tree.SetNext(K, K + 1);
        const std::string Text = Nodes[E]->GetText();
        if (!Text.empty()) Tree.SetText(E, Tree.Add(Text));
    }
    return Copy;
}

// --- TXMLTree ----------------------------------------------------------------------------------

uint32_t TXMLTree::Add(const char* Text, std::size_t Length) {
    if (Length == 0) return 0;
    if (Pool_.empty() && Buffer_.empty()) Pool_.push_back('\0');
    const auto At = static_cast<uint32_t>(Buffer_.size() + Pool_.size());
    Pool_.append(Text, Length);
    Pool_.push_back('\0');
    return At;
}

uint32_t TXMLTree::AddElement(uint32_t Name, uint32_t Offset) {
    if (Pool_.empty() && Buffer_.empty()) Pool_.push_back('\0');
    Elements_.push_back(TElement{Name, static_cast<uint32_t>(Attributes_.size()), 0, 0, 0, None, 0, Offset});
    return static_cast<uint32_t>(Elements_.size() - 1);
}

void TXMLTree::AddAttribute(uint32_t Name, uint32_t Value) {
    Attributes_.push_back(TAttribute{Name, Value});
    ++Elements_.back().AttributeCount;
}

void TXMLTree::Position(uint32_t E, int32_t& Line, int32_t& Column) const {
    Line = Column = 0;
    if (LineStarts_.empty()) return;
    const uint32_t At = Elements_[E].Offset;
    const auto Next = std::upper_bound(LineStarts_.begin(), LineStarts_.end(), At);
    Line = static_cast<int32_t>(Next - LineStarts_.begin());
    Column = static_cast<int32_t>(At - *(Next - 1)) + 1;
}

void TXMLTree::Reserve(std::size_t Elements, std::size_t Attributes, std::size_t Pool) {
    Elements_.reserve(Elements);
    Attributes_.reserve(Attributes);
    Pool_.reserve(Pool);
}

bool XMLTextToBool(const std::string& Text) {
    auto EqualsIgnoringCase = [&Text](const char* Word) {
        std::size_t N = std::strlen(Word);
        if (Text.size() != N) return false;
        for (std::size_t I = 0; I < N; ++I) {
            char C = Text[I];
            if (C >= 'A' && C <= 'Z') C = static_cast<char>(C - 'A' + 'a');
            if (C != Word[I]) return false;
        }
        return true;
    };
    return EqualsIgnoringCase("true") || EqualsIgnoringCase("yes") || EqualsIgnoringCase("1");
}

}  // namespace orv
