// The element tree of a loaded XML document, kept compact: names, values and texts in the buffer
// the parser worked in or in one string pool, the elements numbered so that the children of each
// lie side by side. The engine's
// own readers walk it directly, without interface objects; hosts and plug-ins see it through
// IXMLDocument and IXMLNode.
#ifndef TARN_XML_TREE_H
#define TARN_XML_TREE_H

#include <ORVInterface.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace orv {

class TXMLTree {
public:
    static constexpr uint32_t None = 0xFFFFFFFFu;

    // The root element, None when the document has none.
    uint32_t Root() const { return Root_; }
    // Element E's name, in the engine's encoding.
    const char* Name(uint32_t E) const { return At(Elements_[E].Name); }
    uint32_t ChildCount(uint32_t E) const { return Elements_[E].ChildCount; }
    // The I-th child element of E (I below ChildCount(E)).
    uint32_t Child(uint32_t E, uint32_t I) const { return Elements_[E].FirstChild + I; }
    // The next sibling element of E, None after the last one.
    uint32_t Next(uint32_t E) const { return Elements_[E].Next; }
    // The value of E's attribute Name (exact match), nullptr when E has none.
    const char* Attribute(uint32_t E, const char* Name) const {
        const TElement& Element = Elements_[E];
        for (uint32_t A = Element.FirstAttribute; A < Element.FirstAttribute + Element.AttributeCount; ++A)
            if (std::strcmp(At(Attributes_[A].Name), Name) == 0) return At(Attributes_[A].Value);
        return nullptr;
    }
    uint32_t AttributeCount(uint32_t E) const { return Elements_[E].AttributeCount; }
    // The text content of E: its text and CDATA children joined, empty when it has none.
    const char* Text(uint32_t E) const { return At(Elements_[E].Text); }
    // The 1-based line and column (in bytes) of E's start tag in its file; 0 when not known.
    void Position(uint32_t E, int32_t& Line, int32_t& Column) const;
    // Whether the texts are in the engine's encoding already (a copy of another document) rather
    // than UTF-8.
    bool IsNative() const { return Native_; }
    void SetNative(bool Value) { Native_ = Value; }

    // --- building (the XML layer) ---
    // Keeps Buffer, whose first byte must be a NUL (the empty text), for the texts that lie in it
    // (entered by InBuffer); before any text is added. The buffer's bytes stay where they are.
    void AdoptBuffer(std::string&& Buffer) { Buffer_ = std::move(Buffer); }
    char* Buffer() { return &Buffer_[0]; }
    // The offset of Text when it lies in the buffer, else None.
    uint32_t InBuffer(const char* Text) const {
        return Text >= Buffer_.data() && Text < Buffer_.data() + Buffer_.size()
                   ? static_cast<uint32_t>(Text - Buffer_.data())
                   : None;
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
    // Where the lines of the file begin (for Position).
    void SetLineStarts(std::vector<uint32_t> LineStarts) { LineStarts_ = std::move(LineStarts); }
    uint32_t ElementCount() const { return static_cast<uint32_t>(Elements_.size()); }
    // Numbers the elements, added in document order with Parent[E] the parent of each (None for
    // the first, the root), breadth first, so that the children of each lie side by side; sets
    // the children, the next siblings and the root.
    void ArrangeBreadthFirst(const std::vector<uint32_t>& Parent);
    // Gives back the spare room of the lists that building grew (a loaded manifest lives as long
    // as its plug-ins).
    void ShrinkToFit() {
        Attributes_.shrink_to_fit();
        LineStarts_.shrink_to_fit();
    }
    // Makes room for what building will add.
    void Reserve(std::size_t Elements, std::size_t Attributes, std::size_t Pool);

private:
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
