// The element tree of a loaded XML document, kept compact: the elements numbered so that the
// children of each lie side by side, their attributes, names, values and texts in one block. The
// engine's own readers walk it directly, without interface objects; hosts and plug-ins see it
// through IXMLDocument and IXMLNode.
#ifndef TARN_XML_TREE_H
#define TARN_XML_TREE_H

#include <ORVInterface.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace orv {

// What a tree is built from: the text parsed in place and the lists that the parser (or a copy of
// another module's document) fills. A TXMLLoader keeps one and reuses its room from document to
// document; TXMLTree::Pack then keeps only what the tree needs, in one block of the exact size.
class TXMLBuild {
public:
    TXMLBuild();
    ~TXMLBuild();
    TXMLBuild(const TXMLBuild&) = delete;
    TXMLBuild& operator=(const TXMLBuild&) = delete;

    struct TElement {
        uint32_t Name;
        uint32_t FirstAttribute;
        uint32_t AttributeCount;
        uint32_t FirstChild;
        uint32_t ChildCount;
        uint32_t Next;
        uint32_t Text;
        uint32_t Offset;
    };
    struct TAttribute {
        uint32_t Name;
        uint32_t Value;
    };

    // Empties the lists, keeping their room.
    void Clear();
    // The text to parse in place: Text between two NULs (the first one is the empty text); the
    // texts that lie in it are entered by InBuffer. Before any text is added.
    void SetBuffer(const std::string& Text);
    char* Buffer() { return &Buffer_[0]; }
    // The offset of Text when it lies in the buffer, else None.
    uint32_t InBuffer(const char* Text) const {
        return Text >= Buffer_.data() && Text < Buffer_.data() + Buffer_.size()
                   ? static_cast<uint32_t>(Text - Buffer_.data())
                   : 0xFFFFFFFFu;
    }
    // Appends Text to the pool; its offset.
    uint32_t Add(const char* Text, std::size_t Length);
    uint32_t Add(const char* Text) { return Add(Text, std::strlen(Text)); }
    uint32_t Add(const std::string& Text) { return Add(Text.data(), Text.size()); }
    // A new element named Name at byte Offset of the file; its number.
    uint32_t AddElement(uint32_t Name, uint32_t Offset);
    void SetChildren(uint32_t E, uint32_t First, uint32_t Count) {
        Elements_[E].FirstChild = First;
        Elements_[E].ChildCount = Count;
    }
    void SetNext(uint32_t E, uint32_t Next) { Elements_[E].Next = Next; }
    void SetText(uint32_t E, uint32_t Text) { Elements_[E].Text = Text; }
    void SetRoot(uint32_t E) { Root_ = E; }
    // Appends an attribute to the element added last.
    void AddAttribute(uint32_t Name, uint32_t Value);
    // Where the lines of the file begin (for positions); the first is 0.
    std::vector<uint32_t>& LineStarts() { return LineStarts_; }
    // The parent of each element added (None for the first, the root), for ArrangeBreadthFirst.
    std::vector<uint32_t>& Parents() { return Parents_; }
    uint32_t ElementCount() const { return static_cast<uint32_t>(Elements_.size()); }
    // Numbers the elements, added in document order with Parents() the parent of each, breadth
    // first, so that the children of each lie side by side; sets the children, the next siblings
    // and the root.
    void ArrangeBreadthFirst();
    // The lists the parser keeps between documents (defined by the parser).
    struct TParserRoom;
    TParserRoom& ParserRoom() { return *ParserRoom_; }

private:
    friend class TXMLTree;

    // The text at offset O: the buffer's offsets come first, then the pool's. Offset 0 is the
    // empty text.
    const char* At(uint32_t O) const {
        return O < Buffer_.size() ? Buffer_.data() + O : Pool_.data() + (O - Buffer_.size());
    }

    std::string Buffer_;  // the parsed file, NUL-ended texts inside it
    std::string Pool_;    // NUL-ended texts added one by one
    std::vector<TElement> Elements_;
    std::vector<TAttribute> Attributes_;
    std::vector<uint32_t> LineStarts_;
    std::vector<uint32_t> Parents_;
    uint32_t Root_ = 0xFFFFFFFFu;
    // Room that arranging and packing reuse.
    std::vector<uint32_t> FirstChild_, NextSibling_, LastChild_, Order_;
    std::vector<TElement> Arranged_;
    std::string Packed_;
    std::unique_ptr<TParserRoom> ParserRoom_;
};

class TXMLTree {
public:
    static constexpr uint32_t None = 0xFFFFFFFFu;

    // The root element, None when the document has none.
    uint32_t Root() const { return Root_; }
    // Element E's name, in the engine's encoding.
    const char* Name(uint32_t E) const { return At(Elements()[E].Name); }
    uint32_t ChildCount(uint32_t E) const { return Elements()[E].ChildCount; }
    // The I-th child element of E (I below ChildCount(E)).
    uint32_t Child(uint32_t E, uint32_t I) const { return Elements()[E].FirstChild + I; }
    // The next sibling element of E, None after the last one.
    uint32_t Next(uint32_t E) const { return Elements()[E].Next; }
    // The value of E's attribute Name (exact match), nullptr when E has none.
    const char* Attribute(uint32_t E, const char* Name) const {
        const TElement& Element = Elements()[E];
        const TAttribute* Attributes = this->Attributes();
        for (uint32_t A = Element.FirstAttribute; A < Element.FirstAttribute + Element.AttributeCount; ++A)
            if (std::strcmp(At(Attributes[A].Name), Name) == 0) return At(Attributes[A].Value);
        return nullptr;
    }
    uint32_t AttributeCount(uint32_t E) const { return Elements()[E].AttributeCount; }
    // The text content of E: its text and CDATA children joined, empty when it has none.
    const char* Text(uint32_t E) const { return At(Elements()[E].Text); }
    // The 1-based line and column (in bytes) of E's start tag in its file; 0 when not known.
    void Position(uint32_t E, int32_t& Line, int32_t& Column) const;
    // Whether the texts are in the engine's encoding already (a copy of another document) rather
    // than UTF-8.
    bool IsNative() const { return Native_; }
    void SetNative(bool Value) { Native_ = Value; }

    // Takes what Build holds, leaving Build to be cleared for the next document. A loaded manifest
    // lives as long as its plug-ins, so the tree keeps only what it reads, in one block: the
    // elements, the attributes, the line starts and the texts that they name (the names of
    // elements and attributes once each while they are few), not the file's text. With the
    // loader's reused room: parse of scripts/bench's 10,000 plug-ins, 7.82 KiB resident a plug-in
    // down to 7.19 (a document and its tree from 2.2 KB in five blocks to 1.6 KB in two).
    void Pack(TXMLBuild& Build);

private:
    using TElement = TXMLBuild::TElement;
    using TAttribute = TXMLBuild::TAttribute;

    const TElement* Elements() const { return reinterpret_cast<const TElement*>(Block_.get()); }
    const TAttribute* Attributes() const {
        return reinterpret_cast<const TAttribute*>(Block_.get() + ElementCount_ * (sizeof(TElement) / 4));
    }
    const uint32_t* LineStarts() const {
        return Block_.get() + ElementCount_ * (sizeof(TElement) / 4) + AttributeCount_ * (sizeof(TAttribute) / 4);
    }
    // The text at offset O of the texts; offset 0 is the empty text.
    const char* At(uint32_t O) const { return reinterpret_cast<const char*>(LineStarts() + LineCount_) + O; }

    std::unique_ptr<uint32_t[]> Block_;
    uint32_t ElementCount_ = 0;
    uint32_t AttributeCount_ = 0;
    uint32_t LineCount_ = 0;
    uint32_t Root_ = None;
    bool Native_ = false;
};

// The tree of Document when LoadXMLDocument made it; nullptr otherwise.
const TXMLTree* XMLTreeOf(IXMLDocument* Document);
// The node object of element E of Document (which LoadXMLDocument or XMLDocumentCopy made).
Ref<IXMLNode> XMLNodeOf(IXMLDocument* Document, uint32_t E);
// A document of this XML layer with the elements of Document, an implementation of another module
// (another engine's XML layer, a host's own): the names, the texts and the attributes named in
// Attributes (an attribute list cannot be walked through the interfaces), each element's node
// object being Document's own. No positions are known.
Ref<IXMLDocument> XMLDocumentCopy(IXMLDocument* Document, const std::vector<const char*>& Attributes);

}  // namespace orv

#endif
