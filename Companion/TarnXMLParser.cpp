#include "Companion/TarnXMLParser.h"

#include "Companion/TarnXMLText.h"
#include "Companion/TarnXMLTree.h"
#include "Common/ORVText.h"

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace orv {

namespace {

// What breaks the document, and where (a byte offset into the text being read).
struct TFailure {
    std::string What;
    std::size_t Offset;
};

const char* const NotUtf8 = "a byte sequence that is not UTF-8";
const char* const ReferenceForm = "'&' must start a reference: '&name;', '&#N;' or '&#xN;'";

// Entity references within entities may nest this deep (a chain of entities each naming the next).
constexpr int MaxEntityDepth = 200;
// A message names the entities of a chain up to this depth.
constexpr int NamedEntities = 4;

bool IsXMLChar(uint32_t C) {
    return C == 0x9 || C == 0xA || C == 0xD || (C >= 0x20 && C <= 0xD7FF) || (C >= 0xE000 && C <= 0xFFFD) ||
           (C >= 0x10000 && C <= 0x10FFFF);
}

bool IsNameStart(uint32_t C) {
    return (C >= 'a' && C <= 'z') || (C >= 'A' && C <= 'Z') || C == '_' || C == ':' || (C >= 0xC0 && C <= 0xD6) ||
           (C >= 0xD8 && C <= 0xF6) || (C >= 0xF8 && C <= 0x2FF) || (C >= 0x370 && C <= 0x37D) ||
           (C >= 0x37F && C <= 0x1FFF) || (C >= 0x200C && C <= 0x200D) || (C >= 0x2070 && C <= 0x218F) ||
           (C >= 0x2C00 && C <= 0x2FEF) || (C >= 0x3001 && C <= 0xD7FF) || (C >= 0xF900 && C <= 0xFDCF) ||
           (C >= 0xFDF0 && C <= 0xFFFD) || (C >= 0x10000 && C <= 0xEFFFF);
}

bool IsNameChar(uint32_t C) {
    return IsNameStart(C) || C == '-' || C == '.' || (C >= '0' && C <= '9') || C == 0xB7 ||
           (C >= 0x300 && C <= 0x36F) || (C >= 0x203F && C <= 0x2040);
}

bool IsBlank(unsigned char C) { return C == ' ' || C == '\t' || C == '\n' || C == '\r'; }

bool IsPubidChar(unsigned char C) {
    return C == ' ' || C == '\r' || C == '\n' || (C >= 'a' && C <= 'z') || (C >= 'A' && C <= 'Z') ||
           (C >= '0' && C <= '9') || (C != 0 && std::strchr("-'()+,./:=?;!*#@$_%", C) != nullptr);
}

std::string CodePointName(uint32_t C) {
    char Buffer[16];
    std::snprintf(Buffer, sizeof Buffer, "U+%04X", static_cast<unsigned>(C));
    return Buffer;
}

// The ASCII bytes that may continue a name (1) or also start one (2).
struct TNameBytes {
    unsigned char Kind[128];
    TNameBytes() : Kind() {
        for (int C = 'a'; C <= 'z'; ++C) Kind[C] = 2;
        for (int C = 'A'; C <= 'Z'; ++C) Kind[C] = 2;
        Kind[int{'_'}] = Kind[int{':'}] = 2;
        for (int C = '0'; C <= '9'; ++C) Kind[C] = 1;
        Kind[int{'-'}] = Kind[int{'.'}] = 1;
    }
};
const TNameBytes NameBytes;

// The first byte from I on that needs a second look: a control or non-ASCII byte (tab and carriage
// return aside, unless Blanks), "<", "&", and Stop.
template <bool Blanks>
std::size_t SkipPlain(const unsigned char* Bytes, std::size_t I, std::size_t Size, unsigned char Stop) {
    static const struct TPlain {
        bool Byte[256];
        TPlain() : Byte() {
            for (int B = 0x20; B < 0x80; ++B) Byte[B] = true;
            Byte[int{'\t'}] = Byte[int{'\r'}] = !Blanks;
            Byte[int{'<'}] = Byte[int{'&'}] = false;
        }
    } Plain;
    for (; I < Size; ++I) {
        const unsigned char B = Bytes[I];
        if (!Plain.Byte[B] || B == Stop) break;
    }
    return I;
}

// An entity declared in the DOCTYPE.
struct TEntity {
    std::string Value;  // the replacement text of an internal entity
    bool External = false;
    bool Unparsed = false;
    // Whether the replacement text was checked as content, as part of an attribute value, as
    // declarations: 0 not yet, 1 under way (a reference now is one to itself), 2 done.
    uint8_t AsContent = 0, InAttribute = 0, AsDeclarations = 0;
};

// What the DOCTYPE declared, shared by the document and the entities read for it.
struct TDeclarations {
    std::unordered_map<std::string, TEntity> General, Parameter;
    bool ExternalSubset = false;
    bool ParameterReferenced = false;
    bool Standalone = false;
    bool Ignoring = false;  // after a parameter entity that is not read, declarations are not entered
    int Depth = 0;
    // Whether an undeclared entity is an error: no DTD, or one that says all there is.
    bool AllDeclared() const { return Standalone || (!ExternalSubset && !ParameterReferenced); }
};

// One level deeper into entities (or conditional sections) while it lives.
struct TDeeper {
    explicit TDeeper(int& Depth) : Depth_(Depth) { ++Depth_; }
    ~TDeeper() { --Depth_; }
    TDeeper(const TDeeper&) = delete;
    TDeeper& operator=(const TDeeper&) = delete;
    int& Depth_;
};

// An element whose end tag is still to come.
struct TOpen {
    const char* Name;
    std::size_t Length;
    uint32_t Element;  // in the tree
    uint32_t Pieces;   // of text
    uint32_t First;    // the first piece, when it is the only one
    std::string Joined;
};

// An attribute name of the tag being read.
struct TName {
    const char* Name;
    std::size_t Length;
};

}  // namespace

// The parser's lists, kept by the build from document to document.
struct TXMLBuild::TParserRoom {
    std::vector<TOpen> Open;
    std::vector<TName> Attributes;
    std::vector<std::size_t> Ends;  // where the names of a tag end: NULs once the tag is read
    std::vector<uint32_t> Seen;     // an open-addressing table of attribute numbers
};

TXMLBuild::TXMLBuild() : ParserRoom_(new TParserRoom) {}
TXMLBuild::~TXMLBuild() = default;

namespace {

class TParser {
public:
    // Reads B[0, N) (B[N] is readable); Lines (the top document only) receives where lines start;
    // Tree, when given, the elements.
    TParser(char* B, std::size_t N, TDeclarations& Declared, std::vector<uint32_t>* Lines, TXMLBuild* Tree)
        : B_(B), U_(reinterpret_cast<unsigned char*>(B)), N_(N), Declared_(Declared), Lines_(Lines), Tree_(Tree),
          Room_(Tree ? Tree->ParserRoom() : Own_) {}

    void Document();
    // The replacement text of an entity as content, or as a part of an attribute value.
    void EntityContent();
    void EntityInAttribute();
    // The replacement text of a parameter entity between declarations.
    void EntityDeclarations();

private:
    [[noreturn]] void Fail(const std::string& What, std::size_t At) const { throw TFailure{What, At}; }
    [[noreturn]] void FailHere(const std::string& What) const { Fail(What, I_); }
    [[noreturn]] void FailEnd(const char* Inside) const { Fail(std::string("the end of the file inside ") + Inside, I_); }

    // The text being read, B[0, N).
    std::string_view Text() const { return std::string_view(B_, N_); }
    bool At(const char* Word) const {
        const std::size_t Length = std::strlen(Word);
        return I_ + Length <= N_ && std::memcmp(B_ + I_, Word, Length) == 0;
    }
    bool Skip(const char* Word) {
        if (!At(Word)) return false;
        I_ += std::strlen(Word);
        return true;
    }
    void NewLine(std::size_t Start) {
        if (Lines_) Lines_->push_back(static_cast<uint32_t>(Start));
    }
    // The character at I (below N), checked; its length.
    uint32_t Peek(std::size_t& Length) const {
        const unsigned char C = U_[I_];
        if (C < 0x80) {
            Length = 1;
            if (C < 0x20 && C != '\t' && C != '\n' && C != '\r')
                FailHere("the character " + CodePointName(C) + ", which XML does not allow");
            return C;
        }
        uint32_t Code;
        if (!DecodeUtf8(Text(), I_, Code, Length)) FailHere(NotUtf8);
        if (!IsXMLChar(Code)) FailHere("the character " + CodePointName(Code) + ", which XML does not allow");
        return Code;
    }
    // Passes one character (I below N).
    void Step() {
        std::size_t Length;
        if (Peek(Length) == '\n') NewLine(I_ + 1);
        I_ += Length;
    }
    bool SkipBlanks() {
        const std::size_t Start = I_;
        for (; I_ < N_ && IsBlank(U_[I_]); ++I_)
            if (U_[I_] == '\n') NewLine(I_ + 1);
        return I_ > Start;
    }
    void NeedBlank(const char* What) {
        if (!SkipBlanks()) FailHere(What);
    }
    // Passes a name (or, with Token, a name token, which may start with any name character);
    // false, and I unmoved, when none starts at I.
    bool Name(bool Token = false);
    std::string NameHere(const char* What) {
        const std::size_t Start = I_;
        if (!Name()) FailHere(What);
        return std::string(B_ + Start, I_ - Start);
    }

    void XMLDeclaration();
    void Comment();
    void ProcessingInstruction(std::size_t Start);
    void Content(bool InEntity);
    void StartTag(std::size_t Start, bool& Empty);
    void EndTag(std::size_t Start, bool InEntity);
    // Character data up to "<" or the end, decoded in place from W on; whether it is all blanks.
    bool CharData(std::size_t& W);
    void CData(std::size_t& W);
    // A reference at I ("&"), decoded to W (a character) or kept as written there (an entity).
    void Reference(std::size_t& W, bool InAttribute);
    // After "&#": the character that a character reference starting at Start names.
    uint32_t CharacterReference(std::size_t Start);
    // The attribute value at I (its quote), decoded in place; its start (NUL-ended).
    std::size_t AttributeValue();
    void CheckEntity(const std::string& Name, std::size_t Reference, bool InAttribute);
    void AddPiece(std::size_t Start, std::size_t End);
    void CheckUniqueAttributes(std::size_t Tag);

    void Doctype();
    void Declarations(int Mode);
    void ParameterReference();
    void ElementDeclaration();
    void ContentModel();
    void AttributeListDeclaration();
    void EntityDeclaration();
    void NotationDeclaration();
    void ConditionalSection();
    // 'SYSTEM' S SystemLiteral | 'PUBLIC' S PubidLiteral (S SystemLiteral, optional when
    // PublicAlone); false when no external identifier starts at I.
    bool ExternalId(bool PublicAlone);
    void Literal(bool Pubid);
    std::string EntityValue();

    char* B_;
    unsigned char* U_;
    std::size_t N_;
    std::size_t I_ = 0;
    TDeclarations& Declared_;
    std::vector<uint32_t>* Lines_;
    TXMLBuild* Tree_;
    TXMLBuild::TParserRoom Own_;  // the lists of a parser without a tree (the text of an entity)
    TXMLBuild::TParserRoom& Room_;
    std::size_t Depth_ = 0;  // elements open
    bool HasDoctype_ = false;
};

bool TParser::Name(bool Token) {
    const std::size_t Start = I_;
    bool First = !Token;
    while (I_ < N_) {
        const unsigned char C = U_[I_];
        if (C < 0x80) {
            if (NameBytes.Kind[C] < (First ? 2 : 1)) break;
            ++I_;
        } else {
            uint32_t Code;
            std::size_t Length;
            if (!DecodeUtf8(Text(), I_, Code, Length)) FailHere(NotUtf8);
            if (!(First ? IsNameStart(Code) : IsNameChar(Code))) {
                if (!IsXMLChar(Code)) FailHere("the character " + CodePointName(Code) + ", which XML does not allow");
                break;
            }
            I_ += Length;
        }
        First = false;
    }
    return I_ > Start;
}

// --- the document ---------------------------------------------------------------------------

void TParser::Document() {
    if (At("<?xml") && I_ + 5 < N_ && (IsBlank(U_[5]) || U_[5] == '?')) XMLDeclaration();
    bool Root = false;
    for (;;) {
        SkipBlanks();
        if (I_ >= N_) return;
        if (U_[I_] != '<') {
            std::size_t Length;
            Peek(Length);  // a character XML does not allow is named as such
            if (Root) FailHere("text outside the root element");
            FailHere("text before the root element");
        }
        const std::size_t Start = I_++;
        if (I_ < N_ && U_[I_] == '?') {
            ProcessingInstruction(Start);
        } else if (At("!--")) {
            Comment();
        } else if (At("!DOCTYPE")) {
            if (Root) Fail("a DOCTYPE after the root element", Start);
            if (HasDoctype_) Fail("a second DOCTYPE", Start);
            HasDoctype_ = true;
            Doctype();
        } else if (I_ < N_ && U_[I_] == '!') {
            Fail("'<!' outside the root element must start a comment or the DOCTYPE", Start);
        } else if (I_ < N_ && U_[I_] == '/') {
            Fail("an end tag without its start tag", Start);
        } else {
            if (Root) FailHere("more than one root element");
            Root = true;
            bool Empty;
            StartTag(Start, Empty);
            if (!Empty) Content(false);
        }
    }
}

void TParser::XMLDeclaration() {
    I_ = 5;
    // Its pseudo-attributes in their order: version, then encoding and standalone when given.
    auto Value = [&](const char* Name) {
        SkipBlanks();
        if (!Skip("=")) FailHere(std::string("the XML declaration's ") + Name + " needs '=' and a quoted value");
        SkipBlanks();
        const unsigned char Quote = I_ < N_ ? U_[I_] : 0;
        if (Quote != '"' && Quote != '\'') FailHere(std::string("the XML declaration's ") + Name + " must be quoted");
        const std::size_t Start = ++I_;
        while (I_ < N_ && U_[I_] != Quote && U_[I_] != '?' && U_[I_] != '<') Step();
        if (I_ >= N_ || U_[I_] != Quote) FailHere(std::string("the XML declaration's ") + Name + " is not closed");
        return std::string(B_ + Start, I_++ - Start);
    };
    bool Blank = SkipBlanks();
    if (!Skip("version")) FailHere("the XML declaration must give the version first");
    const std::size_t VersionAt = I_;
    const std::string Version = Value("version");
    if (Version.size() < 3 || Version.compare(0, 2, "1.") != 0 ||
        Version.find_first_not_of("0123456789", 2) != std::string::npos)
        Fail("the XML version \"" + Version + "\" is not 1.x", VersionAt);
    Blank = SkipBlanks();
    if (At("encoding")) {
        if (!Blank) FailHere("a space must come before encoding in the XML declaration");
        I_ += 8;
        const std::size_t EncodingAt = I_;
        const std::string Encoding = Value("encoding");
        bool Good = !Encoding.empty() && std::isalpha(static_cast<unsigned char>(Encoding[0]));
        for (char C : Encoding) Good = Good && (std::isalnum(static_cast<unsigned char>(C)) || std::strchr("._-", C));
        if (!Good) Fail("\"" + Encoding + "\" is not an encoding name", EncodingAt);
        Blank = SkipBlanks();
    }
    if (At("standalone")) {
        if (!Blank) FailHere("a space must come before standalone in the XML declaration");
        I_ += 10;
        const std::size_t StandaloneAt = I_;
        const std::string Standalone = Value("standalone");
        if (Standalone != "yes" && Standalone != "no")
            Fail("standalone must be \"yes\" or \"no\", not \"" + Standalone + "\"", StandaloneAt);
        Declared_.Standalone = Standalone == "yes";
        SkipBlanks();
    }
    if (!Skip("?>")) FailHere("the XML declaration must end with '?>' after version, encoding and standalone");
}

void TParser::Comment() {
    // I at "!--".
    const std::size_t Start = I_ - 1;
    I_ += 3;
    for (;;) {
        I_ = SkipPlain<false>(U_, I_, N_, '-');
        if (I_ >= N_) Fail("the end of the file inside a comment", Start);
        if (U_[I_] == '-' && I_ + 1 < N_ && U_[I_ + 1] == '-') {
            if (I_ + 2 < N_ && U_[I_ + 2] == '>') {
                I_ += 3;
                return;
            }
            FailHere("'--' inside a comment");
        }
        if (U_[I_] == '-' || U_[I_] == '<' || U_[I_] == '&')
            ++I_;
        else
            Step();
    }
}

void TParser::ProcessingInstruction(std::size_t Start) {
    // I at "?".
    ++I_;
    const std::size_t Target = I_;
    if (!Name()) FailHere("a processing instruction needs a target name after '<?'");
    if (SameTextAscii(std::string_view(B_ + Target, I_ - Target), "xml"))
        Fail(Start == 0 && Lines_ ? "the XML declaration must be written '<?xml' and a space"
                                  : "'<?xml' is allowed only at the very start of the file",
             Start);
    if (Skip("?>")) return;
    NeedBlank("a space must follow the target of a processing instruction");
    for (;;) {
        I_ = SkipPlain<false>(U_, I_, N_, '?');
        if (I_ >= N_) Fail("the end of the file inside a processing instruction", Start);
        if (Skip("?>")) return;
        if (U_[I_] == '?' || U_[I_] == '<' || U_[I_] == '&')
            ++I_;
        else
            Step();
    }
}

// --- elements and their content ----------------------------------------------------------------

void TParser::StartTag(std::size_t Start, bool& Empty) {
    // I after "<".
    const std::size_t NameStart = I_;
    if (!Name()) FailHere("'<' must start a tag: a name, '/', '!' or '?' must follow it");
    const std::size_t NameLength = I_ - NameStart;
    Room_.Ends.clear();
    Room_.Ends.push_back(I_);
    Room_.Attributes.clear();
    uint32_t Element = 0;
    if (Tree_) {
        Element = Tree_->AddElement(Tree_->InBuffer(B_ + NameStart), static_cast<uint32_t>(Start));
        Tree_->Parents().push_back(Depth_ == 0 ? TXMLTree::None : Room_.Open[Depth_ - 1].Element);
    }
    for (;;) {
        const bool Blank = SkipBlanks();
        if (I_ >= N_) Fail("the end of the file inside the tag <" + std::string(B_ + NameStart, NameLength) + ">", Start);
        const unsigned char C = U_[I_];
        if (C == '>') {
            ++I_;
            Empty = false;
            break;
        }
        if (C == '/') {
            if (I_ + 1 >= N_ || U_[I_ + 1] != '>') FailHere("'/' in a tag must be followed by '>'");
            I_ += 2;
            Empty = true;
            break;
        }
        const std::size_t AttributeStart = I_;
        if (!Name()) FailHere("expected an attribute name, '>' or '/>' in a tag");
        if (!Blank) Fail("a space must separate attributes", AttributeStart);
        const std::string_view AttributeName(B_ + AttributeStart, I_ - AttributeStart);
        Room_.Ends.push_back(I_);
        SkipBlanks();
        if (!Skip("=")) FailHere("attribute \"" + std::string(AttributeName) + "\" needs '=' and a quoted value");
        SkipBlanks();
        if (I_ >= N_ || (U_[I_] != '"' && U_[I_] != '\''))
            FailHere("the value of attribute \"" + std::string(AttributeName) + "\" must be quoted");
        const std::size_t Value = AttributeValue();
        Room_.Attributes.push_back({AttributeName.data(), AttributeName.size()});
        if (Tree_) Tree_->AddAttribute(Tree_->InBuffer(B_ + AttributeStart), Tree_->InBuffer(B_ + Value));
    }
    CheckUniqueAttributes(Start);
    // The bytes after the names are read: the names end there.
    for (std::size_t End : Room_.Ends) B_[End] = '\0';
    if (!Empty) {
        if (Room_.Open.size() <= Depth_) Room_.Open.emplace_back();
        TOpen& Top = Room_.Open[Depth_++];
        Top.Name = B_ + NameStart;
        Top.Length = NameLength;
        Top.Element = Element;
        Top.Pieces = 0;
        Top.Joined.clear();
    }
}

// Pairwise while the attributes are few; through a hash table of their names once they are many,
// so that one tag with a million attributes costs a million steps.
void TParser::CheckUniqueAttributes(std::size_t Tag) {
    const std::size_t Count = Room_.Attributes.size();
    auto Same = [&](std::size_t A, std::size_t K) {
        return Room_.Attributes[A].Length == Room_.Attributes[K].Length &&
               std::memcmp(Room_.Attributes[A].Name, Room_.Attributes[K].Name, Room_.Attributes[A].Length) == 0;
    };
    auto Twice = [&](std::size_t K) {
        Fail("attribute \"" + std::string(Room_.Attributes[K].Name, Room_.Attributes[K].Length) + "\" given twice", Tag);
    };
    if (Count <= 16) {
        for (std::size_t K = 1; K < Count; ++K)
            for (std::size_t A = 0; A < K; ++A)
                if (Same(A, K)) Twice(K);
        return;
    }
    std::size_t Size = 64;
    while (Size < 2 * Count) Size *= 2;
    Room_.Seen.assign(Size, 0xFFFFFFFFu);
    for (std::size_t K = 0; K < Count; ++K) {
        uint32_t Hash = 2166136261u;
        for (std::size_t J = 0; J < Room_.Attributes[K].Length; ++J)
            Hash = (Hash ^ static_cast<unsigned char>(Room_.Attributes[K].Name[J])) * 16777619u;
        for (std::size_t Slot = Hash & (Size - 1);; Slot = (Slot + 1) & (Size - 1)) {
            if (Room_.Seen[Slot] == 0xFFFFFFFFu) {
                Room_.Seen[Slot] = static_cast<uint32_t>(K);
                break;
            }
            if (Same(Room_.Seen[Slot], K)) Twice(K);
        }
    }
}

void TParser::EndTag(std::size_t Start, bool InEntity) {
    // I at "/".
    ++I_;
    const std::size_t NameStart = I_;
    if (!Name()) FailHere("'</' must be followed by the name of the element it ends");
    const std::size_t Length = I_ - NameStart;
    SkipBlanks();
    if (!Skip(">")) FailHere("expected '>' to end the end tag");
    if (Depth_ == 0)
        Fail("the end tag </" + std::string(B_ + NameStart, Length) + "> has no start tag" +
                 (InEntity ? " in the same entity" : ""),
             Start);
    TOpen& Top = Room_.Open[Depth_ - 1];
    if (Top.Length != Length || std::memcmp(Top.Name, B_ + NameStart, Length) != 0)
        Fail("mismatched end tag: </" + std::string(B_ + NameStart, Length) + "> where </" +
                 std::string(Top.Name, Top.Length) + "> is due",
             Start);
    if (Tree_) {
        if (Top.Pieces == 1) Tree_->SetText(Top.Element, Top.First);
        if (Top.Pieces > 1 && !Top.Joined.empty()) Tree_->SetText(Top.Element, Tree_->Add(Top.Joined));
    }
    --Depth_;
}

void TParser::AddPiece(std::size_t Start, std::size_t End) {
    if (!Tree_ || Depth_ == 0) return;
    TOpen& Top = Room_.Open[Depth_ - 1];
    B_[End] = '\0';
    if (++Top.Pieces == 1) {
        Top.First = Start == End ? 0 : Tree_->InBuffer(B_ + Start);
        return;
    }
    // Text split by comments, processing instructions, CDATA sections or child elements is joined.
    if (Top.Pieces == 2) Top.Joined.assign(Top.First ? Tree_->Buffer() + Top.First : "");
    Top.Joined.append(B_ + Start, End - Start);
}

void TParser::Content(bool InEntity) {
    for (;;) {
        const std::size_t Start = I_;
        std::size_t W = I_;
        const bool Blank = CharData(W);
        if (I_ >= N_) {
            if (InEntity && Depth_ == 0) return;
            const TOpen& Top = Room_.Open[Depth_ - 1];
            FailHere("the end of the " + std::string(InEntity ? "entity" : "file") + " inside the element <" +
                     std::string(Top.Name, Top.Length) + ">");
        }
        // I at "<": the text ends there.
        const std::size_t Tag = I_++;
        if (!Blank) AddPiece(Start, W);
        const unsigned char C = I_ < N_ ? U_[I_] : 0;
        if (C == '/') {
            EndTag(Tag, InEntity);
            if (Depth_ == 0 && !InEntity) return;
        } else if (C == '!') {
            if (At("!--")) {
                Comment();
            } else if (At("![CDATA[")) {
                I_ += 8;
                std::size_t From = I_, To = I_;
                CData(To);
                AddPiece(From, To);
            } else {
                Fail("'<!' inside an element must start a comment or a CDATA section", Tag);
            }
        } else if (C == '?') {
            ProcessingInstruction(Tag);
        } else {
            bool Empty;
            StartTag(Tag, Empty);
        }
    }
}

bool TParser::CharData(std::size_t& W) {
    bool Blank = true;
    for (;;) {
        const std::size_t Run = SkipPlain<true>(U_, I_, N_, ']');
        if (Run > I_) {
            for (std::size_t K = I_; Blank && K < Run; ++K) Blank = U_[K] == ' ';
            if (W != I_) std::memmove(B_ + W, B_ + I_, Run - I_);
            W += Run - I_;
            I_ = Run;
        }
        if (I_ >= N_) return Blank;
        const unsigned char C = U_[I_];
        if (C == '<') return Blank;
        if (C == '&') {
            Blank = false;
            Reference(W, false);
        } else if (C == '\r') {
            // A line end, "\r\n" or a lone "\r", reads as one line feed.
            B_[W++] = '\n';
            ++I_;
            if (I_ < N_ && U_[I_] == '\n') {
                ++I_;
                NewLine(I_);
            }
        } else if (C == ']') {
            if (At("]]>")) FailHere("']]>' in text outside a CDATA section");
            Blank = false;
            B_[W++] = ']';
            ++I_;
        } else {
            const std::size_t From = I_;
            Step();
            if (C != '\n' && C != '\t') Blank = false;
            if (W != From) std::memmove(B_ + W, B_ + From, I_ - From);
            W += I_ - From;
        }
    }
}

void TParser::CData(std::size_t& W) {
    const std::size_t Start = I_ - 9;
    for (;;) {
        const std::size_t Run = SkipPlain<true>(U_, I_, N_, ']');
        if (W != I_) std::memmove(B_ + W, B_ + I_, Run - I_);
        W += Run - I_;
        I_ = Run;
        if (I_ >= N_) Fail("the end of the file inside a CDATA section", Start);
        const unsigned char C = U_[I_];
        if (C == ']' && At("]]>")) {
            I_ += 3;
            return;
        }
        if (C == '\r') {
            B_[W++] = '\n';
            ++I_;
            if (I_ < N_ && U_[I_] == '\n') {
                ++I_;
                NewLine(I_);
            }
        } else if (C == ']' || C == '<' || C == '&') {
            B_[W++] = static_cast<char>(U_[I_++]);
        } else {
            const std::size_t From = I_;
            Step();
            if (W != From) std::memmove(B_ + W, B_ + From, I_ - From);
            W += I_ - From;
        }
    }
}

uint32_t TParser::CharacterReference(std::size_t Start) {
    // I after "&#".
    const bool Hex = I_ < N_ && U_[I_] == 'x';
    if (Hex) ++I_;
    uint32_t Value = 0;
    const std::size_t Digits = I_;
    for (; I_ < N_; ++I_) {
        const unsigned char D = U_[I_];
        uint32_t V;
        if (D >= '0' && D <= '9')
            V = D - '0';
        else if (Hex && (D | 0x20) >= 'a' && (D | 0x20) <= 'f')
            V = (D | 0x20) - 'a' + 10;
        else
            break;
        Value = Value * (Hex ? 16 : 10) + V;
        if (Value > 0x10FFFF) Value = 0x110000;
    }
    if (I_ == Digits || I_ >= N_ || U_[I_] != ';') Fail(ReferenceForm, Start);
    ++I_;
    if (!IsXMLChar(Value))
        Fail("the character reference " + std::string(B_ + Start, I_ - Start) + ", which XML does not allow", Start);
    return Value;
}

void TParser::Reference(std::size_t& W, bool InAttribute) {
    const std::size_t Start = I_++;
    const char* const Form = ReferenceForm;
    if (I_ < N_ && U_[I_] == '#') {
        ++I_;
        W += EncodeUtf8(CharacterReference(Start), B_ + W);
        return;
    }
    const std::size_t NameStart = I_;
    if (!Name() || I_ >= N_ || U_[I_] != ';') Fail(Form, Start);
    const std::size_t Length = I_ - NameStart;
    ++I_;
    const char* Name = B_ + NameStart;
    static const struct {
        const char* Name;
        char Character;
    } Predefined[] = {{"lt", '<'}, {"gt", '>'}, {"amp", '&'}, {"apos", '\''}, {"quot", '"'}};
    for (const auto& P : Predefined)
        if (std::strlen(P.Name) == Length && std::memcmp(P.Name, Name, Length) == 0) {
            B_[W++] = P.Character;
            return;
        }
    CheckEntity(std::string(Name, Length), Start, InAttribute);
    // Kept as written.
    if (W != Start) std::memmove(B_ + W, B_ + Start, I_ - Start);
    W += I_ - Start;
}

void TParser::CheckEntity(const std::string& Name, std::size_t Reference, bool InAttribute) {
    const auto Found = Declared_.General.find(Name);
    if (Found == Declared_.General.end()) {
        if (Declared_.AllDeclared()) Fail("the entity \"" + Name + "\" is not declared", Reference);
        return;
    }
    TEntity& Entity = Found->second;
    if (Entity.Unparsed) Fail("a reference to the unparsed entity \"" + Name + "\"", Reference);
    if (Entity.External) {
        if (InAttribute) Fail("a reference to the external entity \"" + Name + "\" in an attribute value", Reference);
        return;
    }
    uint8_t& State = InAttribute ? Entity.InAttribute : Entity.AsContent;
    if (State == 2) return;
    if (State == 1) Fail("the entity \"" + Name + "\" refers to itself", Reference);
    if (Declared_.Depth >= MaxEntityDepth) Fail("entity references nested too deeply", Reference);
    State = 1;
    TDeeper Deeper(Declared_.Depth);
    std::string Copy = Entity.Value;
    Copy.push_back('\0');
    TParser Inner(&Copy[0], Copy.size() - 1, Declared_, nullptr, nullptr);
    try {
        if (InAttribute)
            Inner.EntityInAttribute();
        else
            Inner.EntityContent();
    } catch (TFailure& Failure) {
        // The outermost entities of a chain are named, the rest would only repeat.
        if (Declared_.Depth <= NamedEntities) Failure.What = "in the entity \"" + Name + "\": " + Failure.What;
        Failure.Offset = Reference;
        throw;
    }
    State = 2;
}

void TParser::EntityContent() { Content(true); }

void TParser::EntityInAttribute() {
    while (I_ < N_) {
        const unsigned char C = U_[I_];
        if (C == '<') FailHere("'<' inside an attribute value");
        std::size_t W = I_;
        if (C == '&')
            Reference(W, true);
        else
            Step();
    }
}

std::size_t TParser::AttributeValue() {
    const unsigned char Quote = U_[I_];
    const std::size_t Start = ++I_;
    std::size_t W = I_;
    for (;;) {
        const std::size_t Run = SkipPlain<true>(U_, I_, N_, Quote);
        if (W != I_) std::memmove(B_ + W, B_ + I_, Run - I_);
        W += Run - I_;
        I_ = Run;
        if (I_ >= N_) Fail("the end of the file inside an attribute value", Start - 1);
        const unsigned char C = U_[I_];
        if (C == Quote) {
            ++I_;
            B_[W] = '\0';
            return Start;
        }
        if (C == '<') FailHere("'<' inside an attribute value");
        if (C == '&') {
            Reference(W, true);
        } else if (C == '\t' || C == '\n' || C == '\r') {
            // White space reads as one space each, a line end as one.
            B_[W++] = ' ';
            ++I_;
            if (C == '\n') NewLine(I_);
            if (C == '\r' && I_ < N_ && U_[I_] == '\n') {
                ++I_;
                NewLine(I_);
            }
        } else {
            const std::size_t From = I_;
            Step();
            if (W != From) std::memmove(B_ + W, B_ + From, I_ - From);
            W += I_ - From;
        }
    }
}

// --- the DOCTYPE ---------------------------------------------------------------------------------

enum { InternalSubset, EntityText, IncludeSection };

void TParser::Doctype() {
    // I at "!DOCTYPE".
    I_ += 8;
    NeedBlank("a space must follow '<!DOCTYPE'");
    NameHere("the DOCTYPE must name the root element");
    bool Blank = SkipBlanks();
    if (At("SYSTEM") || At("PUBLIC")) {
        if (!Blank) FailHere("a space must come before the DOCTYPE's external identifier");
        ExternalId(false);
        Declared_.ExternalSubset = true;
        SkipBlanks();
    }
    if (Skip("[")) {
        Declarations(InternalSubset);
        ++I_;  // "]"
        SkipBlanks();
    }
    if (!Skip(">")) FailHere("expected '>' to end the DOCTYPE");
}

void TParser::Declarations(int Mode) {
    for (;;) {
        SkipBlanks();
        if (I_ >= N_) {
            if (Mode == EntityText) return;
            FailEnd(Mode == InternalSubset ? "the DOCTYPE" : "a conditional section");
        }
        const std::size_t Start = I_;
        if (U_[I_] == ']') {
            if (Mode == InternalSubset) return;
            if (Mode == IncludeSection && Skip("]]>")) return;
            FailHere("']' between declarations");
        }
        if (U_[I_] == '%') {
            ParameterReference();
        } else if (Skip("<!--")) {
            I_ -= 3;
            Comment();
        } else if (Skip("<?")) {
            --I_;
            ProcessingInstruction(Start);
        } else if (Skip("<!ELEMENT")) {
            ElementDeclaration();
        } else if (Skip("<!ATTLIST")) {
            AttributeListDeclaration();
        } else if (Skip("<!ENTITY")) {
            EntityDeclaration();
        } else if (Skip("<!NOTATION")) {
            NotationDeclaration();
        } else if (At("<![")) {
            if (Mode == InternalSubset) FailHere("a conditional section in the internal subset");
            ConditionalSection();
        } else {
            FailHere("expected a declaration ('<!ELEMENT', '<!ATTLIST', '<!ENTITY', '<!NOTATION'), a comment, a "
                     "processing instruction or a parameter-entity reference");
        }
    }
}

void TParser::ParameterReference() {
    const std::size_t Start = I_++;
    const std::size_t NameStart = I_;
    if (!Name() || I_ >= N_ || U_[I_] != ';') Fail("'%' must start a parameter-entity reference: '%name;'", Start);
    const std::string EntityName(B_ + NameStart, I_ - NameStart);
    ++I_;
    Declared_.ParameterReferenced = true;
    const auto Found = Declared_.Parameter.find(EntityName);
    if (Found == Declared_.Parameter.end() || Found->second.External) {
        if (Found == Declared_.Parameter.end() && Declared_.Standalone)
            Fail("the parameter entity \"" + EntityName + "\" is not declared", Start);
        // Not read: what it declares is unknown, so the declarations after it are not entered.
        Declared_.Ignoring = true;
        return;
    }
    TEntity& Entity = Found->second;
    if (Entity.AsDeclarations == 2) return;
    if (Entity.AsDeclarations == 1) Fail("the parameter entity \"" + EntityName + "\" refers to itself", Start);
    if (Declared_.Depth >= MaxEntityDepth) Fail("entity references nested too deeply", Start);
    Entity.AsDeclarations = 1;
    TDeeper Deeper(Declared_.Depth);
    std::string Copy = Entity.Value;
    Copy.push_back('\0');
    TParser Inner(&Copy[0], Copy.size() - 1, Declared_, nullptr, nullptr);
    try {
        Inner.EntityDeclarations();
    } catch (TFailure& Failure) {
        if (Declared_.Depth <= NamedEntities)
            Failure.What = "in the parameter entity \"" + EntityName + "\": " + Failure.What;
        Failure.Offset = Start;
        throw;
    }
    Entity.AsDeclarations = 2;
}

void TParser::EntityDeclarations() { Declarations(EntityText); }

void TParser::ConditionalSection() {
    const std::size_t Start = I_;
    I_ += 3;
    SkipBlanks();
    const bool Include = Skip("INCLUDE");
    if (!Include && !Skip("IGNORE")) FailHere("a conditional section must be INCLUDE or IGNORE");
    SkipBlanks();
    if (!Skip("[")) FailHere("expected '[' after INCLUDE or IGNORE");
    if (Include) {
        // Sections within sections nest as entities do.
        if (Declared_.Depth >= MaxEntityDepth) Fail("conditional sections nested too deeply", Start);
        TDeeper Deeper(Declared_.Depth);
        Declarations(IncludeSection);
        return;
    }
    for (int Nesting = 1; Nesting > 0;) {
        if (I_ >= N_) Fail("the end of the file inside a conditional section", Start);
        if (Skip("<!["))
            ++Nesting;
        else if (Skip("]]>"))
            --Nesting;
        else
            Step();
    }
}

bool TParser::ExternalId(bool PublicAlone) {
    if (Skip("SYSTEM")) {
        NeedBlank("a space must follow SYSTEM");
        Literal(false);
        return true;
    }
    if (!Skip("PUBLIC")) return false;
    NeedBlank("a space must follow PUBLIC");
    Literal(true);
    const std::size_t After = I_;
    const bool Blank = SkipBlanks();
    if (I_ < N_ && (U_[I_] == '"' || U_[I_] == '\'')) {
        if (!Blank) FailHere("a space must separate the public and the system identifier");
        Literal(false);
    } else if (!PublicAlone) {
        FailHere("a public identifier must be followed by a system identifier");
    } else {
        I_ = After;
    }
    return true;
}

void TParser::Literal(bool Pubid) {
    const unsigned char Quote = I_ < N_ ? U_[I_] : 0;
    if (Quote != '"' && Quote != '\'') FailHere(Pubid ? "expected a quoted public identifier" : "expected a quoted system identifier");
    ++I_;
    while (I_ < N_ && U_[I_] != Quote) {
        if (Pubid && !IsPubidChar(U_[I_])) FailHere("a character that a public identifier cannot hold");
        Step();
    }
    if (I_ >= N_) FailEnd("a quoted identifier");
    ++I_;
}

void TParser::ElementDeclaration() {
    NeedBlank("a space must follow '<!ELEMENT'");
    NameHere("'<!ELEMENT' must name an element");
    NeedBlank("a space must follow the element's name in '<!ELEMENT'");
    if (!Skip("EMPTY") && !Skip("ANY")) {
        if (!Skip("(")) FailHere("an element's content must be EMPTY, ANY or a model in parentheses");
        ContentModel();
    }
    SkipBlanks();
    if (!Skip(">")) FailHere("expected '>' to end the element declaration");
}

// After the "(" of a content model: mixed content ("#PCDATA" first) or groups of names joined by
// "|" or ",", each with "?", "*" or "+" after it. Groups nest without recursion.
void TParser::ContentModel() {
    SkipBlanks();
    if (Skip("#PCDATA")) {
        bool Names = false;
        for (;;) {
            SkipBlanks();
            if (Skip(")")) break;
            if (!Skip("|")) FailHere("mixed content lists names joined by '|'");
            SkipBlanks();
            NameHere("expected an element name after '|'");
            Names = true;
        }
        if (!Skip("*") && Names) FailHere("mixed content with names must end with ')*'");
        return;
    }
    std::vector<char> Groups(1, 0);  // the joiner of each open group, 0 until known
    for (;;) {
        // A content particle: a name or a group.
        SkipBlanks();
        if (Skip("(")) {
            Groups.push_back(0);
            continue;
        }
        NameHere("expected an element name or '(' in a content model");
        Skip("?") || Skip("*") || Skip("+");
        for (;;) {
            SkipBlanks();
            if (Skip(")")) {
                Groups.pop_back();
                Skip("?") || Skip("*") || Skip("+");
                if (Groups.empty()) return;
                continue;
            }
            const char Joiner = I_ < N_ ? B_[I_] : 0;
            if (Joiner != '|' && Joiner != ',') FailHere("expected '|', ',' or ')' in a content model");
            if (Groups.back() && Groups.back() != Joiner) FailHere("'|' and ',' mixed in one group of a content model");
            Groups.back() = Joiner;
            ++I_;
            break;
        }
    }
}

void TParser::AttributeListDeclaration() {
    NeedBlank("a space must follow '<!ATTLIST'");
    NameHere("'<!ATTLIST' must name an element");
    for (;;) {
        const bool Blank = SkipBlanks();
        if (Skip(">")) return;
        if (!Blank) FailHere("expected a space and an attribute definition, or '>'");
        NameHere("expected an attribute name or '>' in '<!ATTLIST'");
        NeedBlank("a space must follow the attribute's name in '<!ATTLIST'");
        // The type: a keyword, or a list of notation names or of name tokens.
        bool List = false, Notation = false;
        if (Skip("NOTATION")) {
            NeedBlank("a space must follow NOTATION");
            if (!Skip("(")) FailHere("expected '(' and notation names after NOTATION");
            List = Notation = true;
        } else if (Skip("(")) {
            List = true;
        } else {
            static const char* const Types[] = {"CDATA", "IDREFS", "IDREF", "ID", "ENTITIES", "ENTITY", "NMTOKENS", "NMTOKEN"};
            bool Known = false;
            for (const char* Type : Types)
                if (Skip(Type)) {
                    Known = true;
                    break;
                }
            if (!Known)
                FailHere("an attribute's type must be CDATA, ID, IDREF, IDREFS, ENTITY, ENTITIES, NMTOKEN, NMTOKENS, "
                         "NOTATION or a list of values");
        }
        while (List) {
            SkipBlanks();
            if (!Name(!Notation)) FailHere(Notation ? "expected a notation name" : "expected a name token in the list of values");
            SkipBlanks();
            if (Skip(")")) break;
            if (!Skip("|")) FailHere("expected '|' or ')' in the list of values");
        }
        NeedBlank("a space must follow the attribute's type");
        if (Skip("#REQUIRED") || Skip("#IMPLIED")) continue;
        if (Skip("#FIXED")) NeedBlank("a space must follow #FIXED");
        if (I_ >= N_ || (U_[I_] != '"' && U_[I_] != '\''))
            FailHere("an attribute's default must be #REQUIRED, #IMPLIED or a quoted value");
        AttributeValue();
    }
}

void TParser::EntityDeclaration() {
    NeedBlank("a space must follow '<!ENTITY'");
    bool Parameter = false;
    if (Skip("%")) {
        NeedBlank("a space must follow '%' in '<!ENTITY'");
        Parameter = true;
    }
    const std::string EntityName = NameHere("'<!ENTITY' must name the entity");
    NeedBlank("a space must follow the entity's name");
    TEntity Entity;
    if (I_ < N_ && (U_[I_] == '"' || U_[I_] == '\'')) {
        Entity.Value = EntityValue();
        SkipBlanks();
    } else if (ExternalId(false)) {
        Entity.External = true;
        const bool Blank = SkipBlanks();
        if (At("NDATA")) {
            if (Parameter) FailHere("a parameter entity cannot be unparsed (NDATA)");
            if (!Blank) FailHere("a space must come before NDATA");
            I_ += 5;
            NeedBlank("a space must follow NDATA");
            NameHere("NDATA must name a notation");
            Entity.Unparsed = true;
            SkipBlanks();
        }
    } else {
        FailHere("an entity's value must be quoted, or SYSTEM or PUBLIC");
    }
    if (!Skip(">")) FailHere("expected '>' to end the entity declaration");
    // The first declaration of a name holds.
    if (!Declared_.Ignoring) (Parameter ? Declared_.Parameter : Declared_.General).emplace(EntityName, std::move(Entity));
}

// The literal at I as the entity's replacement text: character references replaced, references
// to general entities kept as written.
std::string TParser::EntityValue() {
    const unsigned char Quote = U_[I_++];
    std::string Value;
    for (;;) {
        const std::size_t Run = SkipPlain<true>(U_, I_, N_, Quote);
        std::size_t PercentAt = I_;
        for (; PercentAt < Run && U_[PercentAt] != '%'; ++PercentAt) {
        }
        if (PercentAt < Run) {
            I_ = PercentAt;
            FailHere("a parameter-entity reference inside a declaration of the internal subset");
        }
        Value.append(B_ + I_, Run - I_);
        I_ = Run;
        if (I_ >= N_) FailEnd("an entity's value");
        const unsigned char C = U_[I_];
        if (C == Quote) {
            ++I_;
            return Value;
        }
        if (C == '&') {
            const std::size_t Start = I_++;
            if (I_ < N_ && U_[I_] == '#') {
                ++I_;
                char Out[4];
                Value.append(Out, EncodeUtf8(CharacterReference(Start), Out));
            } else {
                if (!Name() || I_ >= N_ || U_[I_] != ';') Fail(ReferenceForm, Start);
                ++I_;
                Value.append(B_ + Start, I_ - Start);
            }
        } else if (C == '<') {
            Value += '<';
            ++I_;
        } else if (C == '\r') {
            Value += '\n';
            ++I_;
            if (I_ < N_ && U_[I_] == '\n') {
                ++I_;
                NewLine(I_);
            }
        } else {
            const std::size_t From = I_;
            Step();
            Value.append(B_ + From, I_ - From);
        }
    }
}

void TParser::NotationDeclaration() {
    NeedBlank("a space must follow '<!NOTATION'");
    NameHere("'<!NOTATION' must name the notation");
    NeedBlank("a space must follow the notation's name");
    if (!ExternalId(true)) FailHere("a notation needs SYSTEM or PUBLIC and an identifier");
    SkipBlanks();
    if (!Skip(">")) FailHere("expected '>' to end the notation declaration");
}

}  // namespace

void ParseXMLDocument(const std::string& Text, const std::string& FileName, TXMLBuild& Build, bool UndeclaredUtf8) {
    // The parser works in place, on a copy that becomes the build's buffer (a NUL first: the
    // empty text; a NUL last), so that names and values need no copy of their own.
    Build.Clear();
    Build.SetBuffer(Text);
    std::vector<uint32_t>& Lines = Build.LineStarts();
    Lines.push_back(0);
    TDeclarations Declared;
    TParser Parser(Build.Buffer() + 1, Text.size(), Declared, &Lines, &Build);
    try {
        Parser.Document();
    } catch (const TFailure& Failure) {
        const bool Hint = UndeclaredUtf8 && Failure.What == NotUtf8;
        RaiseMalformedXML(FileName, Text, Failure.What, static_cast<std::ptrdiff_t>(Failure.Offset),
                          Hint ? "; a file in another encoding must declare it, e.g. <?xml version=\"1.0\" encoding=\"GBK\"?>"
                               : "");
    }
    if (Build.ElementCount() > 0) Build.ArrangeBreadthFirst();
}

}  // namespace orv
