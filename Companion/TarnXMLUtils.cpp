#include "Companion/TarnXMLUtils.h"

#include "Companion/TarnXMLLiveCount.h"
#include "Companion/TarnXMLText.h"
#include "Common/Platform.h"

#include <ORVPluginHelpers.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <system_error>
#include <vector>

#include <pugixml.hpp>

namespace orv {

namespace {

std::atomic<int32_t> LiveDocuments{0};

// pugixml hands out UTF-8; the engine's strings are in the process code page. Every name and text
// that leaves the tree goes through here. Names asked for by callers (attributes, child elements)
// are matched against the tree's UTF-8 unconverted: they are ASCII in every manifest and engine
// configuration.
std::string Native(const char* Utf8) { return Platform().Utf8ToNative(Utf8); }

// Owns the parsed tree; every node, list and attribute object holds a reference to it.
class TXMLDocument final : public TInterfacedObject<IXMLDocument> {
public:
    explicit TXMLDocument(std::string FileName) : FileName_(std::move(FileName)) { ++LiveDocuments; }
    ~TXMLDocument() override { --LiveDocuments; }

    pugi::xml_document& Tree() { return Tree_; }

    Ref<IXMLNode> ORV_CALL GetDocumentElement() override;
    std::string ORV_CALL GetFileName() override { return FileName_; }

    // Remembers where the lines of the parsed text begin.
    void IndexLines(const std::string& Text) {
        LineStarts_.assign(1, 0);
        for (std::size_t I = 0; I < Text.size(); ++I)
            if (Text[I] == '\n') LineStarts_.push_back(static_cast<uint32_t>(I + 1));
    }
    // The 1-based line and column (in bytes) of byte Offset of the parsed text.
    void Position(std::ptrdiff_t Offset, int32_t& Line, int32_t& Column) const {
        if (Offset < 0 || LineStarts_.empty()) return;
        const auto At = static_cast<uint32_t>(Offset);
        const auto Next = std::upper_bound(LineStarts_.begin(), LineStarts_.end(), At);
        Line = static_cast<int32_t>(Next - LineStarts_.begin());
        Column = static_cast<int32_t>(At - *(Next - 1)) + 1;
    }

private:
    pugi::xml_document Tree_;
    std::string FileName_;
    std::vector<uint32_t> LineStarts_;
};

using TDocumentRef = Ref<TXMLDocument>;

Ref<IXMLNode> MakeNode(const TDocumentRef& Doc, pugi::xml_node Node);

class TXMLAttribute final : public TInterfacedObject<IXMLAttribute> {
public:
    TXMLAttribute(TDocumentRef Doc, pugi::xml_attribute Attr) : Doc_(std::move(Doc)), Attr_(Attr) {}

    std::string ORV_CALL GetText() override { return Native(Attr_.value()); }
    bool ORV_CALL GetBool() override { return XMLTextToBool(Attr_.value()); }
    bool ORV_CALL Exists() override { return static_cast<bool>(Attr_); }

private:
    TDocumentRef Doc_;
    pugi::xml_attribute Attr_;  // empty for an attribute the element does not have
};

class TXMLAttributes final : public TInterfacedObject<IXMLAttributes> {
public:
    TXMLAttributes(TDocumentRef Doc, pugi::xml_node Node) : Doc_(std::move(Doc)), Node_(Node) {}

    Ref<IXMLAttribute> ORV_CALL GetNamedItem(const std::string& Name) override {
        return Ref<IXMLAttribute>(new TXMLAttribute(Doc_, Node_.attribute(Name.c_str())));
    }
    int32_t ORV_CALL GetCount() override {
        int32_t Count = 0;
        for (pugi::xml_attribute A = Node_.first_attribute(); A; A = A.next_attribute()) ++Count;
        return Count;
    }

private:
    TDocumentRef Doc_;
    pugi::xml_node Node_;
};

// The child elements of one element, gathered once (the tree never changes after loading).
class TXMLNodeList final : public TInterfacedObject<IXMLNodeList> {
public:
    TXMLNodeList(TDocumentRef Doc, pugi::xml_node Parent) : Doc_(std::move(Doc)) {
        for (pugi::xml_node Child = Parent.first_child(); Child; Child = Child.next_sibling())
            if (Child.type() == pugi::node_element) Items_.push_back(Child);
    }

    int32_t ORV_CALL GetCount() override { return static_cast<int32_t>(Items_.size()); }
    Ref<IXMLNode> ORV_CALL GetItem(int32_t Index) override {
        if (Index < 0 || Index >= GetCount())
            throw EORVException("XML node list index " + std::to_string(Index) + " out of bounds (count " +
                                std::to_string(GetCount()) + ")");
        return MakeNode(Doc_, Items_[static_cast<std::size_t>(Index)]);
    }
    Ref<IXMLNode> ORV_CALL FindNode(const std::string& Name) override {
        for (const pugi::xml_node& Item : Items_)
            if (Name == Item.name()) return MakeNode(Doc_, Item);
        return nullptr;
    }

private:
    TDocumentRef Doc_;
    std::vector<pugi::xml_node> Items_;
};

class TXMLNode final : public TInterfacedObject<IXMLNode> {
public:
    TXMLNode(TDocumentRef Doc, pugi::xml_node Node) : Doc_(std::move(Doc)), Node_(Node) {}

    void Position(int32_t& Line, int32_t& Column) const { Doc_->Position(Node_.offset_debug(), Line, Column); }

    std::string ORV_CALL GetNodeName() override { return Native(Node_.name()); }
    Ref<IXMLAttributes> ORV_CALL GetAttributes() override {
        return Ref<IXMLAttributes>(new TXMLAttributes(Doc_, Node_));
    }
    Ref<IXMLNodeList> ORV_CALL GetChildNodes() override { return Ref<IXMLNodeList>(new TXMLNodeList(Doc_, Node_)); }
    Ref<IXMLNode> ORV_CALL GetNextSibling() override {
        for (pugi::xml_node Next = Node_.next_sibling(); Next; Next = Next.next_sibling())
            if (Next.type() == pugi::node_element) return MakeNode(Doc_, Next);
        return nullptr;
    }
    std::string ORV_CALL GetText() override {
        // Text split by comments or CDATA sections comes as several child nodes.
        std::string Text;
        for (pugi::xml_node Child = Node_.first_child(); Child; Child = Child.next_sibling())
            if (Child.type() == pugi::node_pcdata || Child.type() == pugi::node_cdata) Text += Child.value();
        return Platform().Utf8ToNative(Text);
    }
    std::string ORV_CALL GetAttribute(const std::string& Name) override {
        return Native(Node_.attribute(Name.c_str()).value());
    }

private:
    TDocumentRef Doc_;
    pugi::xml_node Node_;
};

Ref<IXMLNode> MakeNode(const TDocumentRef& Doc, pugi::xml_node Node) {
    return Ref<IXMLNode>(new TXMLNode(Doc, Node));
}

Ref<IXMLNode> ORV_CALL TXMLDocument::GetDocumentElement() {
    pugi::xml_node Root = Tree_.document_element();
    if (!Root) return nullptr;
    return MakeNode(TDocumentRef(this), Root);
}

bool IsXMLBlank(char C) { return C == ' ' || C == '\t' || C == '\r' || C == '\n'; }

[[noreturn]] void RaiseFileError(const char* What, const std::string& FileName, int Error) {
    throw EORVException(std::string(What) + " XML file \"" + FileName +
                        "\": " + std::generic_category().message(Error));
}

[[noreturn]] void RaiseTooLarge(const std::string& FileName, int64_t Size) {
    throw EORVException("XML file \"" + FileName + "\" is too large: " +
                        (Size >= 0 ? std::to_string(Size) + " bytes" : std::string("more than that")) +
                        " (at most " + std::to_string(MaxXMLFileSize) + " bytes are read)");
}

std::string ReadWholeFile(const std::string& FileName) {
    // The size is checked before anything is read, and again while reading (the file may grow).
    const int64_t Size = Platform().FileSize(FileName);
    if (Size > MaxXMLFileSize) RaiseTooLarge(FileName, Size);
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> File(std::fopen(FileName.c_str(), "rb"), &std::fclose);
    if (!File) RaiseFileError("Cannot open", FileName, errno);
    std::string Text;
    if (Size > 0) Text.reserve(static_cast<std::size_t>(Size));
    char Chunk[65536];
    for (;;) {
        std::size_t Got = std::fread(Chunk, 1, sizeof Chunk, File.get());
        Text.append(Chunk, Got);
        if (static_cast<int64_t>(Text.size()) > MaxXMLFileSize) RaiseTooLarge(FileName, -1);
        if (Got < sizeof Chunk) break;
    }
    if (std::ferror(File.get())) RaiseFileError("Cannot read", FileName, errno);
    return Text;
}

// XML allows an attribute once per element; the parser keeps the first of two and says nothing.
void CheckUniqueAttributes(const pugi::xml_document& Tree, const std::string& FileName, const std::string& Text) {
    std::vector<pugi::xml_node> Pending;
    for (pugi::xml_node Node = Tree.first_child(); Node; Node = Node.next_sibling()) Pending.push_back(Node);
    while (!Pending.empty()) {
        const pugi::xml_node Node = Pending.back();
        Pending.pop_back();
        if (Node.type() != pugi::node_element) continue;
        for (pugi::xml_attribute A = Node.first_attribute(); A; A = A.next_attribute())
            for (pugi::xml_attribute B = A.next_attribute(); B; B = B.next_attribute())
                if (std::strcmp(A.name(), B.name()) == 0)
                    RaiseMalformedXML(FileName, Text, std::string("attribute \"") + A.name() + "\" given twice",
                                      Node.offset_debug());
        for (pugi::xml_node Child = Node.first_child(); Child; Child = Child.next_sibling()) Pending.push_back(Child);
    }
}

}  // namespace

int32_t LiveXMLDocumentCount() { return LiveDocuments.load(); }

Ref<IXMLDocument> LoadXMLDocumentFromString(const std::string& Bytes, const std::string& FileName) {
    const std::string Text = XMLTextAsUtf8(Bytes, FileName);
    CheckXMLCharacters(Text, FileName);
    Ref<TXMLDocument> Doc(new TXMLDocument(FileName));
    // Fragment mode keeps text outside the root element, so that it can be rejected below
    // instead of being dropped silently; an empty buffer is accepted as a document without root.
    pugi::xml_parse_result Result = Doc->Tree().load_buffer(Text.data(), Text.size(),
                                                            pugi::parse_default | pugi::parse_fragment, pugi::encoding_utf8);
    if (!Result) RaiseMalformedXML(FileName, Text, Result.description(), Result.offset);

    pugi::xml_node Root;
    for (pugi::xml_node Node = Doc->Tree().first_child(); Node; Node = Node.next_sibling()) {
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
    CheckUniqueAttributes(Doc->Tree(), FileName, Text);
    Doc->IndexLines(Text);
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
