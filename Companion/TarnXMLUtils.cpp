#include "Companion/TarnXMLUtils.h"

#include "Companion/TarnXMLLiveCount.h"
#include "Companion/TarnXMLParser.h"
#include "Companion/TarnXMLText.h"
#include "Companion/TarnXMLTree.h"
#include "Common/ORVText.h"
#include "Common/Platform.h"

#include <ORVPluginHelpers.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>
#include <vector>

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

}  // namespace

int32_t LiveXMLDocumentCount() { return LiveDocuments.load(); }

Ref<IXMLDocument> LoadXMLDocumentFromString(const std::string& Bytes, const std::string& FileName) {
    std::string Converted;
    const bool Decoded = XMLTextToUtf8(Bytes, FileName, Converted);
    Ref<TXMLDocument> Doc(new TXMLDocument(FileName));
    ParseXMLDocument(Decoded ? Converted : Bytes, FileName, Doc->Tree(), !Decoded);
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

void TXMLTree::ArrangeBreadthFirst(const std::vector<uint32_t>& Parent) {
    const auto Count = static_cast<uint32_t>(Elements_.size());
    // The children of each element in document order, as first child and next sibling.
    std::vector<uint32_t> FirstChild(Count, None), NextSibling(Count, None), LastChild(Count, None);
    for (uint32_t E = 1; E < Count; ++E) {
        const uint32_t P = Parent[E];
        (LastChild[P] == None ? FirstChild[P] : NextSibling[LastChild[P]]) = E;
        LastChild[P] = E;
    }
    std::vector<uint32_t> Order;  // the element numbers of the new order
    Order.reserve(Count);
    Order.push_back(0);
    std::vector<TElement> Arranged;
    Arranged.reserve(Count);
    for (uint32_t K = 0; K < Order.size(); ++K) {
        TElement Element = Elements_[Order[K]];
        Element.FirstChild = static_cast<uint32_t>(Order.size());
        Element.ChildCount = 0;
        Element.Next = None;
        for (uint32_t C = FirstChild[Order[K]]; C != None; C = NextSibling[C], ++Element.ChildCount) Order.push_back(C);
        Arranged.push_back(Element);
    }
    for (const TElement& Element : Arranged)
        for (uint32_t C = Element.FirstChild; C + 1 < Element.FirstChild + Element.ChildCount; ++C) Arranged[C].Next = C + 1;
    Elements_.swap(Arranged);
    Root_ = 0;
}

void TXMLTree::Reserve(std::size_t Elements, std::size_t Attributes, std::size_t Pool) {
    Elements_.reserve(Elements);
    Attributes_.reserve(Attributes);
    Pool_.reserve(Pool);
}

bool XMLTextToBool(const std::string& Text) {
    return SameTextAscii(Text, "true") || SameTextAscii(Text, "yes") || Text == "1";
}

}  // namespace orv
