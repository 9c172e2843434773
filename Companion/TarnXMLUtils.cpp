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
    std::shared_ptr<const TFileNames>& FilesBeside() { return FilesBeside_; }

    Ref<IXMLNode> ORV_CALL GetDocumentElement() override;
    std::string ORV_CALL GetFileName() override { return FileName_; }

private:
    TXMLTree Tree_;
    std::string FileName_;
    std::vector<Ref<IXMLNode>> Originals_;
    std::shared_ptr<const TFileNames> FilesBeside_;
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

// Reads FileName whole into Bytes.
void ReadWholeFile(const std::string& FileName, std::string& Bytes) {
    std::string Error;
    int64_t Size = -1;
    switch (Platform().ReadFile(FileName, MaxXMLFileSize, Bytes, Size, Error)) {
        case TReadResult::Ok:
            return;
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

TXMLLoader::TXMLLoader() : Build_(new TXMLBuild) {}

TXMLLoader::~TXMLLoader() = default;

Ref<IXMLDocument> TXMLLoader::LoadFromString(const std::string& Bytes, const std::string& FileName) {
    const bool Decoded = XMLTextToUtf8(Bytes, FileName, Converted_);
    Ref<TXMLDocument> Doc(new TXMLDocument(FileName));
    ParseXMLDocument(Decoded ? Converted_ : Bytes, FileName, *Build_, !Decoded);
    Doc->Tree().Pack(*Build_);
    return Doc;
}

Ref<IXMLDocument> TXMLLoader::Load(const std::string& FileName) {
    ReadWholeFile(FileName, Bytes_);
    return LoadFromString(Bytes_, FileName);
}

Ref<IXMLDocument> LoadXMLDocumentFromString(const std::string& Bytes, const std::string& FileName) {
    return TXMLLoader().LoadFromString(Bytes, FileName);
}

Ref<IXMLDocument> LoadXMLDocument(const std::string& FileName) { return TXMLLoader().Load(FileName); }

bool XMLNodePosition(IXMLNode* Node, int32_t& Line, int32_t& Column) {
    Line = Column = 0;
    const auto* Own = dynamic_cast<const TXMLNode*>(Node);
    if (Own) Own->Position(Line, Column);
    return Line > 0;
}

void XMLSetFilesBeside(IXMLDocument* Document, std::shared_ptr<const TFileNames> Files) {
    if (auto* Own = dynamic_cast<TXMLDocument*>(Document)) Own->FilesBeside() = std::move(Files);
}

std::shared_ptr<const TFileNames> XMLTakeFilesBeside(IXMLDocument* Document) {
    std::shared_ptr<const TFileNames> Files;
    if (auto* Own = dynamic_cast<TXMLDocument*>(Document)) Files.swap(Own->FilesBeside());
    return Files;
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
    Copy->Tree().SetNative(true);
    TXMLBuild Tree;
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
    if (!Root) {
        Copy->Tree().Pack(Tree);
        return Copy;
    }
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
    Copy->Tree().Pack(Tree);
    return Copy;
}

// --- TXMLBuild, TXMLTree --------------------------------------------------------------------------

void TXMLBuild::Clear() {
    Buffer_.clear();
    Pool_.clear();
    Elements_.clear();
    Attributes_.clear();
    LineStarts_.clear();
    Parents_.clear();
    Root_ = TXMLTree::None;
}

void TXMLBuild::SetBuffer(const std::string& Text) {
    Buffer_.reserve(Text.size() + 2);
    Buffer_.assign(1, '\0');
    Buffer_ += Text;
    Buffer_.push_back('\0');
}

uint32_t TXMLBuild::Add(const char* Text, std::size_t Length) {
    if (Length == 0) return 0;
    if (Pool_.empty() && Buffer_.empty()) Pool_.push_back('\0');
    const auto At = static_cast<uint32_t>(Buffer_.size() + Pool_.size());
    Pool_.append(Text, Length);
    Pool_.push_back('\0');
    return At;
}

uint32_t TXMLBuild::AddElement(uint32_t Name, uint32_t Offset) {
    if (Pool_.empty() && Buffer_.empty()) Pool_.push_back('\0');
    Elements_.push_back(TElement{Name, static_cast<uint32_t>(Attributes_.size()), 0, 0, 0, TXMLTree::None, 0, Offset});
    return static_cast<uint32_t>(Elements_.size() - 1);
}

void TXMLBuild::AddAttribute(uint32_t Name, uint32_t Value) {
    Attributes_.push_back(TAttribute{Name, Value});
    ++Elements_.back().AttributeCount;
}

void TXMLBuild::ArrangeBreadthFirst() {
    const auto Count = static_cast<uint32_t>(Elements_.size());
    constexpr uint32_t None = TXMLTree::None;
    // The children of each element in document order, as first child and next sibling.
    FirstChild_.assign(Count, None);
    NextSibling_.assign(Count, None);
    LastChild_.assign(Count, None);
    for (uint32_t E = 1; E < Count; ++E) {
        const uint32_t P = Parents_[E];
        (LastChild_[P] == None ? FirstChild_[P] : NextSibling_[LastChild_[P]]) = E;
        LastChild_[P] = E;
    }
    Order_.clear();  // the element numbers of the new order
    Order_.push_back(0);
    Arranged_.clear();
    for (uint32_t K = 0; K < Order_.size(); ++K) {
        TElement Element = Elements_[Order_[K]];
        Element.FirstChild = static_cast<uint32_t>(Order_.size());
        Element.ChildCount = 0;
        Element.Next = None;
        for (uint32_t C = FirstChild_[Order_[K]]; C != None; C = NextSibling_[C], ++Element.ChildCount)
            Order_.push_back(C);
        Arranged_.push_back(Element);
    }
    for (const TElement& Element : Arranged_)
        for (uint32_t C = Element.FirstChild; C + 1 < Element.FirstChild + Element.ChildCount; ++C) Arranged_[C].Next = C + 1;
    Elements_.swap(Arranged_);
    Root_ = 0;
}

void TXMLTree::Pack(TXMLBuild& Build) {
    // The texts, each NUL-ended, offset 0 the empty one. The names of elements and attributes
    // repeat: the first few distinct ones are kept once (a scan of at most Kept names, so that a
    // document of many distinct names costs no more than a copy of each).
    std::string& Texts = Build.Packed_;
    Texts.assign(1, '\0');
    constexpr std::size_t Kept = 16;
    struct TKept {
        uint32_t At;
        std::size_t Length;
    } Names[Kept];
    std::size_t NameCount = 0;
    auto Copy = [&](uint32_t Offset) -> uint32_t {
        const char* Text = Build.At(Offset);
        const std::size_t Length = std::strlen(Text);
        if (Length == 0) return 0;
        const auto At = static_cast<uint32_t>(Texts.size());
        Texts.append(Text, Length + 1);
        return At;
    };
    auto Name = [&](uint32_t Offset) -> uint32_t {
        const char* Text = Build.At(Offset);
        const std::size_t Length = std::strlen(Text);
        for (std::size_t K = 0; K < NameCount; ++K)
            if (Names[K].Length == Length && std::memcmp(Texts.data() + Names[K].At, Text, Length) == 0) return Names[K].At;
        const uint32_t At = Copy(Offset);
        if (NameCount < Kept && At != 0) Names[NameCount++] = TKept{At, Length};
        return At;
    };
    for (TElement& Element : Build.Elements_) {
        Element.Name = Name(Element.Name);
        Element.Text = Copy(Element.Text);
    }
    for (TAttribute& Attribute : Build.Attributes_) {
        Attribute.Name = Name(Attribute.Name);
        Attribute.Value = Copy(Attribute.Value);
    }

    ElementCount_ = static_cast<uint32_t>(Build.Elements_.size());
    AttributeCount_ = static_cast<uint32_t>(Build.Attributes_.size());
    LineCount_ = static_cast<uint32_t>(Build.LineStarts_.size());
    const std::size_t Words = ElementCount_ * (sizeof(TElement) / 4) + AttributeCount_ * (sizeof(TAttribute) / 4) +
                              LineCount_ + (Texts.size() + 3) / 4;
    Block_.reset(new uint32_t[Words]);
    char* Into = reinterpret_cast<char*>(Block_.get());
    auto Put = [&Into](const void* From, std::size_t Bytes) {
        if (Bytes) std::memcpy(Into, From, Bytes);
        Into += Bytes;
    };
    Put(Build.Elements_.data(), ElementCount_ * sizeof(TElement));
    Put(Build.Attributes_.data(), AttributeCount_ * sizeof(TAttribute));
    Put(Build.LineStarts_.data(), LineCount_ * sizeof(uint32_t));
    Put(Texts.data(), Texts.size());
    Root_ = ElementCount_ > 0 ? Build.Root_ : None;
}

void TXMLTree::Position(uint32_t E, int32_t& Line, int32_t& Column) const {
    Line = Column = 0;
    if (LineCount_ == 0) return;
    const uint32_t At = Elements()[E].Offset;
    const uint32_t* Starts = LineStarts();
    const uint32_t* Next = std::upper_bound(Starts, Starts + LineCount_, At);
    Line = static_cast<int32_t>(Next - Starts);
    Column = static_cast<int32_t>(At - *(Next - 1)) + 1;
}

bool XMLTextToBool(const std::string& Text) {
    return SameTextAscii(Text, "true") || SameTextAscii(Text, "yes") || Text == "1";
}

}  // namespace orv
