#include "Companion/TarnXMLLiveCount.h"
#include "Companion/TarnXMLUtils.h"
#include "Common/Platform.h"
#include "Support/NativeText.h"
#include "Support/TempFolder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace orv {
namespace {

// The message of the EORVException that Load raises ("" when it raises none).
template <class F>
std::string MessageOf(F Load) {
    try {
        Load();
    } catch (const EORVException& E) {
        return E.what();
    }
    return "";
}

// A string literal with the NUL bytes inside it.
template <std::size_t N>
std::string Bytes(const char (&Literal)[N]) {
    return std::string(Literal, N - 1);
}

// ASCII text as UTF-16LE, without byte-order mark.
std::string Utf16Le(const std::string& Ascii) {
    std::string Out;
    for (char C : Ascii) Out += std::string(1, C) + '\0';
    return Out;
}

class TXMLUtilsTest : public ::testing::Test {
protected:
    void SetUp() override { LiveBefore_ = LiveXMLDocumentCount(); }
    void TearDown() override { EXPECT_EQ(LiveXMLDocumentCount(), LiveBefore_) << "an XML document leaked"; }

    test::TTempFolder Folder_;
    int32_t LiveBefore_ = 0;
};

const char* const ManifestText =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<!-- a manifest -->\n"
    "<Plugins Version=\"2\">\n"
    "  <Plugin ID=\"p.one\" Initialize=\"Yellow\" Required=\"10\" Unique=\"TRUE\" Lazy=\" yes\" Eager=\"yes\">\n"
    "    <Extension ID=\"e1\"/>\n"
    "    loose text\n"
    "    <!-- between -->\n"
    "    <Extension ID=\"e2\"/>\n"
    "  </Plugin>\n"
    "  <?skip me?>\n"
    "  <Plugin ID=\"p.two\"/>\n"
    "  <ShieldedPlugins><Item>  a.b  </Item><Item>x<!-- c -->y<![CDATA[<z>]]></Item><Item/></ShieldedPlugins>\n"
    "</Plugins>\n";

TEST_F(TXMLUtilsTest, WellFormedFileGivesElementsAttributesAndText) {
    std::string FileName = Folder_.WriteFile("plugin.xml", ManifestText);
    Ref<IXMLDocument> Doc = LoadXMLDocument(FileName);
    EXPECT_EQ(Doc->GetFileName(), FileName);

    Ref<IXMLNode> Root = Doc->GetDocumentElement();
    ASSERT_TRUE(Root);
    EXPECT_EQ(Root->GetNodeName(), "Plugins");
    EXPECT_EQ(Root->GetAttribute("Version"), "2");
    EXPECT_FALSE(Root->GetNextSibling());

    // Only elements are listed: no text, comments or processing instructions.
    Ref<IXMLNodeList> Children = Root->GetChildNodes();
    ASSERT_EQ(Children->GetCount(), 3);
    EXPECT_EQ(Children->GetItem(0)->GetAttribute("ID"), "p.one");
    EXPECT_EQ(Children->GetItem(1)->GetAttribute("ID"), "p.two");
    EXPECT_EQ(Children->GetItem(2)->GetNodeName(), "ShieldedPlugins");
    EXPECT_THROW(Children->GetItem(3), EORVException);
    EXPECT_THROW(Children->GetItem(-1), EORVException);

    // The sibling walk visits the same elements and ends at nil.
    std::vector<std::string> Walk;
    for (Ref<IXMLNode> N = Children->GetItem(0); N; N = N->GetNextSibling()) Walk.push_back(N->GetNodeName());
    EXPECT_EQ(Walk, (std::vector<std::string>{"Plugin", "Plugin", "ShieldedPlugins"}));

    Ref<IXMLNode> First = Children->FindNode("Plugin");
    ASSERT_TRUE(First);
    EXPECT_EQ(First->GetAttribute("ID"), "p.one");
    EXPECT_FALSE(Children->FindNode("plugin"));  // names match exactly
    EXPECT_FALSE(Children->FindNode("Extension"));  // only direct children
    Ref<IXMLNodeList> Extensions = First->GetChildNodes();
    ASSERT_EQ(Extensions->GetCount(), 2);
    EXPECT_EQ(Extensions->GetItem(1)->GetAttribute("ID"), "e2");
    EXPECT_FALSE(Extensions->GetItem(0)->GetChildNodes()->GetCount());

    Ref<IXMLAttributes> Attributes = First->GetAttributes();
    EXPECT_EQ(Attributes->GetCount(), 6);
    Ref<IXMLAttribute> Id = Attributes->GetNamedItem("ID");
    EXPECT_TRUE(Id->Exists());
    EXPECT_EQ(Id->GetText(), "p.one");
    Ref<IXMLAttribute> Absent = Attributes->GetNamedItem("Library");
    ASSERT_TRUE(Absent);
    EXPECT_FALSE(Absent->Exists());
    EXPECT_EQ(Absent->GetText(), "");
    EXPECT_FALSE(Absent->GetBool());
    EXPECT_FALSE(Attributes->GetNamedItem("id")->Exists());
    EXPECT_EQ(First->GetAttribute("Library"), "");

    // Text is taken as written (not trimmed) and joins the pieces split by comments and CDATA.
    Ref<IXMLNodeList> Items = Children->GetItem(2)->GetChildNodes();
    ASSERT_EQ(Items->GetCount(), 3);
    EXPECT_EQ(Items->GetItem(0)->GetText(), "  a.b  ");
    EXPECT_EQ(Items->GetItem(1)->GetText(), "xy<z>");
    EXPECT_EQ(Items->GetItem(2)->GetText(), "");
    EXPECT_EQ(First->GetText(), "\n    loose text\n    ");
}

TEST_F(TXMLUtilsTest, AttributeBooleansAcceptOnlyTrueYesAndOne) {
    Ref<IXMLDocument> Doc = LoadXMLDocument(Folder_.WriteFile("plugin.xml", ManifestText));
    Ref<IXMLAttributes> A = Doc->GetDocumentElement()->GetChildNodes()->GetItem(0)->GetAttributes();
    EXPECT_TRUE(A->GetNamedItem("Unique")->GetBool());  // "TRUE"
    EXPECT_FALSE(A->GetNamedItem("Lazy")->GetBool());   // " yes"
    struct {
        const char* Text;
        bool Expected;
    } const Table[] = {{"true", true},  {"True", true},   {"TRUE", true},  {"yes", true},   {"YeS", true},
                       {"1", true},     {"false", false}, {"no", false},   {"0", false},    {"10", false},
                       {"01", false},   {"Yellow", false}, {"t", false},   {"y", false},    {"", false},
                       {" yes", false}, {"true ", false}, {"truex", false}, {"ye", false}};
    for (const auto& Row : Table) EXPECT_EQ(XMLTextToBool(Row.Text), Row.Expected) << '"' << Row.Text << '"';
}

TEST_F(TXMLUtilsTest, UnloadableFilesRaiseNamingFileReasonAndPlace) {
    struct {
        const char* Name;     // nullptr: the folder itself; "-" prefix: not written
        const char* Content;
        std::vector<std::string> Parts;  // each must appear in the message
    } const Cases[] = {
        {"broken.xml", "<Plugins>\n  <Plugin ID=\"a\">\n  </Plugins>\n", {"not well-formed", "mismatch", "line 3, column"}},
        {"unclosed.xml", "<a>\n<b x=\"1\n", {"line 2"}},
        {"two.xml", "<a/>\n\n<b/>\n", {"more than one root element (line 3, column 2)"}},
        {"trailing.xml", "<a/>\nleft over\n", {"text outside the root element (line 2, column 1)"}},
        {"text.xml", "just words", {}},
        {"-nowhere.xml", nullptr, {}},
        {nullptr, nullptr, {}},
    };
    for (const auto& Case : Cases) {
        std::string FileName = Folder_.Path();
        if (Case.Name && Case.Content) FileName = Folder_.WriteFile(Case.Name, Case.Content);
        if (Case.Name && !Case.Content) FileName = Folder_.PathOf(Case.Name + 1);
        SCOPED_TRACE(FileName);
        const std::string Msg = MessageOf([&] { LoadXMLDocument(FileName); });
        EXPECT_NE(Msg.find("\"" + FileName + "\""), std::string::npos) << Msg;
        for (const std::string& Part : Case.Parts) EXPECT_NE(Msg.find(Part), std::string::npos) << Msg;
    }
}

TEST_F(TXMLUtilsTest, WhatXmlForbidsIsRefusedWithLineAndColumn) {
    struct {
        std::string Text;
        std::string Part;  // must appear in the message, after "is not well-formed: "
    } const Cases[] = {
        {"<Plugin ID=\"a\"\n  ID=\"b\"/>", "attribute \"ID\" given twice (line 1, column 1)"},
        {"<a>\n<b Initialize=\"yes\" Initialize=\"no\"/></a>", "attribute \"Initialize\" given twice (line 2, column 1)"},
        {"<a x=\"\xFF\"/>", "a byte sequence that is not UTF-8 (line 1, column 7)"},
        {"<a x=\"\xC0\xAF\"/>", "not UTF-8"},              // an overlong "/"
        {"<a x=\"\xED\xA0\x80\"/>", "not UTF-8"},          // a surrogate
        {"<a x=\"\xE4\xBD\"/>", "not UTF-8"},              // cut short
        {"<a Initialize=\"yes&#x0;x\"/>", "the character reference &#x0;, which XML does not allow (line 1, column 19)"},
        {"<a>\n&#0;</a>", "the character reference &#0;"},
        {"<a>&#00000;&#1;</a>", "&#00000;"},
        {"<a>&#xFFFE;</a>", "&#xFFFE;"},
        {"<a>x\x01</a>", "the character U+0001, which XML does not allow (line 1, column 5)"},
        {"<a>\xEF\xBF\xBF</a>", "U+FFFF"},
    };
    for (const auto& Case : Cases) {
        SCOPED_TRACE(Case.Text);
        const std::string Msg = MessageOf([&] { LoadXMLDocumentFromString(Case.Text, "m.xml"); });
        EXPECT_NE(Msg.find("XML file \"m.xml\" is not well-formed: "), std::string::npos) << Msg;
        EXPECT_NE(Msg.find(Case.Part), std::string::npos) << Msg;
    }
    // Where references are no references, "&#0;" is text; tabs, line ends and U+0085 are characters.
    EXPECT_EQ(MessageOf([&] {
                  LoadXMLDocumentFromString("<a t=\"\t\">\r\n<!-- &#0; --><![CDATA[&#1;]]><?p &#0;?>\xC2\x85&#10;</a>", "m.xml");
              }),
              "");
}

// Plain text is passed in blocks: a forbidden byte and the end of a skipped section are found
// wherever they fall in a block.
TEST_F(TXMLUtilsTest, CheckFindsWhatMattersAtEveryPlaceInTheText) {
    for (std::size_t Pad = 0; Pad < 40; ++Pad) {
        SCOPED_TRACE(Pad);
        const std::string Run(Pad, 'y');
        EXPECT_NE(MessageOf([&] { LoadXMLDocumentFromString("<a x=\"" + Run + "\x01\"/>", "m.xml"); })
                      .find("U+0001, which XML does not allow (line 1, column " + std::to_string(7 + Pad) + ")"),
                  std::string::npos);
        // After the comment, "&#0;" is a reference again.
        EXPECT_NE(MessageOf([&] { LoadXMLDocumentFromString("<a><!--" + Run + "-->&#0;</a>", "m.xml"); })
                      .find("the character reference &#0;"),
                  std::string::npos);
        Ref<IXMLDocument> Doc = LoadXMLDocumentFromString("<a>" + Run + "\n<b x=\"1\" y=\"2\"/></a>", "m.xml");
        int32_t Line = 0, Column = 0;
        ASSERT_TRUE(XMLNodePosition(Doc->GetDocumentElement()->GetChildNodes()->GetItem(0).Get(), Line, Column));
        EXPECT_EQ(Line, 2);
        EXPECT_EQ(Column, 1);
    }
}

TEST_F(TXMLUtilsTest, DeclaredEncodingsAreDecoded) {
    struct {
        std::string Bytes;
        std::string Utf8Name;
    } const Cases[] = {
        {"<?xml version=\"1.0\" encoding=\"GBK\"?><Plugin Name=\"\xB2\xE5\xBC\xFE\"/>", "\xE6\x8F\x92\xE4\xBB\xB6"},
        {"<?xml version='1.0' encoding='gb2312'?><Plugin Name='\xB2\xE5\xBC\xFE'/>", "\xE6\x8F\x92\xE4\xBB\xB6"},
        {"<?xml version=\"1.0\" encoding=\"GB18030\"?><Plugin Name=\"\xB2\xE5\"/>", "\xE6\x8F\x92"},
        {"<?xml version=\"1.0\" encoding=\"windows-1252\"?><Plugin Name=\"caf\xE9 \x80\"/>", "caf\xC3\xA9 \xE2\x82\xAC"},
        {"<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><Plugin Name=\"\xE9\"/>", "\xC3\xA9"},
        {"<?xml version=\"1.0\" encoding=\"utf-8\"?><Plugin Name=\"\xC3\xA9\"/>", "\xC3\xA9"},
        {Bytes("\xFF\xFE<\0P\0 \0N\0=\0'\0\xE9\0'\0/\0>\0"), "\xC3\xA9"},
        {Utf16Le("<?xml version='1.0' encoding='UTF-16LE'?><P N='") + Bytes("\x3D\xD8\x00\xDE") + Utf16Le("'/>"),
         "\xF0\x9F\x98\x80"},
    };
    for (const auto& Case : Cases) {
        SCOPED_TRACE(Case.Utf8Name);
        Ref<IXMLDocument> Doc;
        ASSERT_NO_THROW(Doc = LoadXMLDocumentFromString(Case.Bytes, "enc.xml"));
        Ref<IXMLNode> Root = Doc->GetDocumentElement();
        ASSERT_TRUE(Root);
        const std::string Name = Root->GetAttribute("Name").empty() ? Root->GetAttribute("N") : Root->GetAttribute("Name");
        // As the engine hands texts out (where the code page lacks a character, its default one).
        EXPECT_EQ(Name, Platform().Utf8ToNative(Case.Utf8Name));
    }
    // An encoding that cannot be decoded is named, with the file.
    for (const std::string Declared : {"x-no-such-encoding", "UTF-16"}) {
        const std::string Msg = MessageOf([&] {
            LoadXMLDocumentFromString("<?xml version=\"1.0\" encoding=\"" + Declared + "\"?><a/>", "enc.xml");
        });
        EXPECT_NE(Msg.find("\"enc.xml\""), std::string::npos) << Msg;
        EXPECT_NE(Msg.find("\"" + Declared + "\""), std::string::npos) << Msg;
    }
}

// Each rule of XML 1.0 that a file breaks is named, with the place where it is broken.
TEST_F(TXMLUtilsTest, EveryRuleBrokenIsNamedWithItsPlace) {
    struct {
        std::string Text;
        std::string Part;  // must appear in the message, after "is not well-formed: "
    } const Cases[] = {
        // Text, references and markup.
        {"<doc>A & B</doc>", "'&' must start a reference: '&name;', '&#N;' or '&#xN;' (line 1, column 8)"},
        {"<doc a1=\"a&b\"/>", "'&' must start a reference"},
        {"<doc>&amp</doc>", "'&' must start a reference"},
        {"<doc>&#RE;</doc>", "'&' must start a reference: '&name;', '&#N;' or '&#xN;' (line 1, column 6)"},
        {"<doc a='x<y'/>", "'<' inside an attribute value (line 1, column 10)"},
        {"<doc>\r\n]]></doc>", "']]>' in text outside a CDATA section (line 2, column 1)"},
        {"<doc><!-- a -- b --></doc>", "'--' inside a comment (line 1, column 13)"},
        {"<doc><1a/></doc>", "'<' must start a tag"},
        {"<doc 1a='x'/>", "expected an attribute name, '>' or '/>' in a tag (line 1, column 6)"},
        {"<doc a='1'b='2'/>", "a space must separate attributes"},
        {"<doc><?xml version='1.0'?></doc>", "'<?xml' is allowed only at the very start of the file (line 1, column 6)"},
        {"\n<?xml version='1.0'?><doc/>", "'<?xml' is allowed only at the very start"},
        {"<?xml version='1.0' standalone='yes' encoding='UTF-8'?><doc/>", "must end with '?>' after version"},
        {"<?xml version='2.0'?><doc/>", "the XML version \"2.0\" is not 1.x"},
        {"<a>\n  <b></a>", "mismatched end tag: </a> where </b> is due (line 2, column 6)"},
        {"<a><b/>", "the end of the file inside the element <a>"},
        {"<a/></a>", "an end tag without its start tag"},
        {"<a><![CDATA[x]]</a>", "the end of the file inside a CDATA section (line 1, column 4)"},
        {"<a><!DOCTYPE a></a>", "'<!' inside an element must start a comment or a CDATA section"},
        {"<a/><!DOCTYPE a>", "a DOCTYPE after the root element"},
        // An attribute twice, among few and among many.
        {"<a " + std::string("x='1' y='2' x='3'") + "/>", "attribute \"x\" given twice (line 1, column 1)"},
        {[] {
             std::string Tag = "<a";
             for (int K = 0; K < 100; ++K) Tag += " n" + std::to_string(K) + "='v'";
             return Tag + " n57='again'/>";
         }(),
         "attribute \"n57\" given twice"},
        // The DOCTYPE's declarations and the entities they declare.
        {"<!DOCTYPE a [<!ELEMENT a (b|c,d)>]><a/>", "'|' and ',' mixed in one group of a content model"},
        {"<!DOCTYPE a [<!ELEMENT a (#PCDATA|b)>]><a/>", "mixed content with names must end with ')*'"},
        {"<!DOCTYPE a [<!ATTLIST a x CDATA>]><a/>", "a space must follow the attribute's type"},
        {"<!DOCTYPE a [<!ENTITY e \"50%\">]><a/>", "a parameter-entity reference inside a declaration of the internal subset"},
        {"<!DOCTYPE a [<!ENTITY e SYSTEM 'e.xml' NDATA n>]><a>&e;</a>", "a reference to the unparsed entity \"e\""},
        {"<!DOCTYPE a [<!ENTITY e SYSTEM 'e.xml'>]><a x='&e;'/>", "a reference to the external entity \"e\" in an attribute value"},
        {"<!DOCTYPE a [<!ENTITY e '&#60;'>]><a x='&e;'/>", "in the entity \"e\": '<' inside an attribute value (line 1, column 41)"},
        {"<!DOCTYPE a [<!ENTITY e '<b>'>]><a>&e;</a>", "in the entity \"e\": the end of the entity inside the element <b>"},
        {"<!DOCTYPE a [<!ENTITY e '&f;'><!ENTITY f '&e;'>]><a>&e;</a>",
         "in the entity \"e\": in the entity \"f\": the entity \"e\" refers to itself"},
        {"<!DOCTYPE a [<!ENTITY e 'x'>]><a>&f;</a>", "the entity \"f\" is not declared"},
        {"<a>&f;</a>", "the entity \"f\" is not declared"},
        {"<!DOCTYPE a [<![INCLUDE[<!ELEMENT a ANY>]]>]><a/>", "a conditional section in the internal subset"},
        {"<!DOCTYPE a PUBLIC 'a{b' 'a.dtd'><a/>", "a character that a public identifier cannot hold"},
    };
    for (const auto& Case : Cases) {
        SCOPED_TRACE(Case.Text.substr(0, 80));
        const std::string Msg = MessageOf([&] { LoadXMLDocumentFromString(Case.Text, "m.xml"); });
        EXPECT_NE(Msg.find("XML file \"m.xml\" is not well-formed: "), std::string::npos) << Msg;
        EXPECT_NE(Msg.find(Case.Part), std::string::npos) << Msg;
    }
    // Where the entity is declared in an external subset that is not read, it may be: no error.
    EXPECT_EQ(MessageOf([&] { LoadXMLDocumentFromString("<!DOCTYPE a SYSTEM 'a.dtd'><a>&f;</a>", "m.xml"); }), "");
}

// Line ends read as line feeds, white space in attribute values as spaces; character references
// give their characters, references to entities of the DOCTYPE stay as written.
TEST_F(TXMLUtilsTest, TextAndValuesReadAsXmlNormalisesThem) {
    Ref<IXMLDocument> Doc = LoadXMLDocumentFromString(
        "<!DOCTYPE a [\r\n<!ENTITY e 'x&#38;#60;y'>\r\n<!ATTLIST a d CDATA 'default'>]>\r\n"
        "<a v='1\t2\r\n3\n4&#10;&lt;&e;'>l1\r\nl2\rl3&#xE9;&e;<![CDATA[\r\n&e;]]><b/>\r\n  <c/>tail</a>",
        "m.xml");
    Ref<IXMLNode> Root = Doc->GetDocumentElement();
    ASSERT_TRUE(Root);
    EXPECT_EQ(Root->GetAttribute("v"), "1 2 3 4\n<&e;");
    EXPECT_EQ(Root->GetAttribute("d"), "");  // defaults of the DOCTYPE are not applied
    EXPECT_EQ(Root->GetText(), test::NativeText("l1\nl2\nl3\xC3\xA9&e;\n&e;tail"));
    ASSERT_EQ(Root->GetChildNodes()->GetCount(), 2);
    int32_t Line = 0, Column = 0;
    ASSERT_TRUE(XMLNodePosition(Root->GetChildNodes()->GetItem(1).Get(), Line, Column));
    EXPECT_EQ(Line, 9);
    EXPECT_EQ(Column, 3);
}

// A byte-order mark says how the file is written: a declaration that names another encoding is
// refused, and only an XML declaration ("<?xml" and a blank) names one.
TEST_F(TXMLUtilsTest, AByteOrderMarkAndTheDeclarationMustAgree) {
    for (const std::string Declared : {"UTF-8", "GBK"}) {
        const std::string Bytes = "\xFF\xFE" + Utf16Le("<?xml version='1.0' encoding='" + Declared + "'?><a/>");
        const std::string Msg = MessageOf([&] { LoadXMLDocumentFromString(Bytes, "m.xml"); });
        EXPECT_NE(Msg.find("\"m.xml\" is not well-formed: it declares the encoding \"" + Declared +
                           "\" but starts with the byte-order mark of UTF-16"),
                  std::string::npos)
            << Msg;
    }
    const std::string Msg = MessageOf([&] {
        LoadXMLDocumentFromString("\xEF\xBB\xBF<?xml version='1.0' encoding='UTF-16'?><a/>", "m.xml");
    });
    EXPECT_NE(Msg.find("declares the encoding \"UTF-16\" but starts with the byte-order mark of UTF-8"), std::string::npos)
        << Msg;
    // Agreeing ones are read.
    EXPECT_EQ(MessageOf([&] {
                  LoadXMLDocumentFromString("\xFF\xFE" + Utf16Le("<?xml version='1.0' encoding='utf-16'?><a/>"), "m.xml");
                  LoadXMLDocumentFromString("\xEF\xBB\xBF<?xml version='1.0' encoding='utf-8'?><a/>", "m.xml");
              }),
              "");
    // A style sheet's "encoding" is no declaration: the file stays UTF-8.
    Ref<IXMLDocument> Doc =
        LoadXMLDocumentFromString("<?xml-stylesheet encoding=\"GBK\"?><a n=\"\xC3\xA9\"/>", "m.xml");
    EXPECT_EQ(Doc->GetDocumentElement()->GetAttribute("n"), test::NativeText("\xC3\xA9"));
}

// The failure users of another code page meet first: a file in GBK that does not say so.
TEST_F(TXMLUtilsTest, AFileInAnotherEncodingIsToldToDeclareIt) {
    const std::string Msg =
        MessageOf([&] { LoadXMLDocumentFromString("<Plugin ID=\"a\" Name=\"\xB2\xE5\xBC\xFE\"/>", "gbk.xml"); });
    EXPECT_NE(Msg.find("\"gbk.xml\" is not well-formed: a byte sequence that is not UTF-8 (line 1, column 22); a file "
                       "in another encoding must declare it, e.g. <?xml version=\"1.0\" encoding=\"GBK\"?>"),
              std::string::npos)
        << Msg;
}

TEST_F(TXMLUtilsTest, AFileLargerThanSixteenMebibytesIsRefusedBeforeItIsRead) {
    const std::string Big = Folder_.WriteFile("big.xml", "<a>" + std::string(16 * 1024 * 1024, ' ') + "</a>");
    const std::string Msg = MessageOf([&] { LoadXMLDocument(Big); });
    EXPECT_NE(Msg.find("\"" + Big + "\" is too large: 16777223 bytes"), std::string::npos) << Msg;
    // Just below the limit it is read.
    const std::string Fits = Folder_.WriteFile("fits.xml", "<a>" + std::string(16 * 1024 * 1024 - 7, ' ') + "</a>");
    EXPECT_TRUE(LoadXMLDocument(Fits)->GetDocumentElement());
}

TEST_F(TXMLUtilsTest, EmptyAndRootlessFilesLoadWithoutRoot) {
    const char* const Rootless[] = {"", "   \n\t\n", "<?xml version=\"1.0\"?>\n", "<?xml version=\"1.0\"?>\n<!-- nothing yet -->\n"};
    for (const char* Text : Rootless) {
        std::string FileName = Folder_.WriteFile("rootless.xml", Text);
        Ref<IXMLDocument> Doc;
        ASSERT_NO_THROW(Doc = LoadXMLDocument(FileName)) << '"' << Text << '"';
        ASSERT_TRUE(Doc);
        EXPECT_FALSE(Doc->GetDocumentElement()) << '"' << Text << '"';
        EXPECT_EQ(Doc->GetFileName(), FileName);
    }
}

TEST_F(TXMLUtilsTest, NodesKeepTheirDocumentAlive) {
    std::string FileName = Folder_.WriteFile("plugin.xml", ManifestText);
    Ref<IXMLNode> Plugin;
    Ref<IXMLAttribute> Unique;
    {
        Ref<IXMLDocument> Doc = LoadXMLDocument(FileName);
        Plugin = Doc->GetDocumentElement()->GetChildNodes()->GetItem(0);
        Unique = Plugin->GetAttributes()->GetNamedItem("Unique");
    }
    EXPECT_EQ(LiveXMLDocumentCount(), LiveBefore_ + 1);
    EXPECT_EQ(Plugin->GetAttribute("ID"), "p.one");
    EXPECT_EQ(Plugin->GetChildNodes()->GetItem(1)->GetAttribute("ID"), "e2");
    EXPECT_EQ(Plugin->GetNextSibling()->GetAttribute("ID"), "p.two");

    Plugin = nullptr;
    EXPECT_EQ(LiveXMLDocumentCount(), LiveBefore_ + 1);
    EXPECT_TRUE(Unique->GetBool());
    Unique = nullptr;
    EXPECT_EQ(LiveXMLDocumentCount(), LiveBefore_);
}

TEST_F(TXMLUtilsTest, NonAsciiNamesAndByteOrderMarkAreRead) {
    // Names and values are in the process's 8-bit encoding; the file itself is UTF-8.
    std::string FileName =
        Folder_.WriteFile(test::NativeText(u8"插件-é.xml"), "\xEF\xBB\xBF<Plugin ID=\"\xC3\xA9t\xC3\xA9\"/>");
    Ref<IXMLDocument> Doc = LoadXMLDocument(FileName);
    ASSERT_TRUE(Doc->GetDocumentElement());
    EXPECT_EQ(Doc->GetFileName(), FileName);
    EXPECT_EQ(Doc->GetDocumentElement()->GetAttribute("ID"), test::NativeText("\xC3\xA9t\xC3\xA9"));
}

// Everything a reader can learn of Node and the elements under it, one line per element: name,
// position, text and the attributes among Names (absent ones left out).
std::string Dump(const Ref<IXMLNode>& Node, const std::vector<std::string>& Names, int Depth = 0) {
    if (!Node) return "(no root)\n";
    int32_t Line = 0, Column = 0;
    XMLNodePosition(Node.Get(), Line, Column);
    std::string Out = std::string(2 * Depth, ' ') + Node->GetNodeName() + "@" + std::to_string(Line) + ":" +
                      std::to_string(Column) + " [" + Node->GetText() + "]";
    const Ref<IXMLAttributes> Attributes = Node->GetAttributes();
    Out += " " + std::to_string(Attributes->GetCount());
    for (const std::string& Name : Names) {
        const Ref<IXMLAttribute> A = Attributes->GetNamedItem(Name);
        if (A->Exists()) Out += " " + Name + "=\"" + A->GetText() + "\"";
    }
    Out += "\n";
    const Ref<IXMLNodeList> Children = Node->GetChildNodes();
    for (int32_t I = 0; I < Children->GetCount(); ++I) Out += Dump(Children->GetItem(I), Names, Depth + 1);
    return Out;
}

// One loader reads a run of documents as fresh loads would, whatever the documents before left in
// its reused room: deeper or shallower nesting, more attributes, text split in pieces, a document
// that was refused halfway, more distinct names than the packed tree keeps once.
TEST_F(TXMLUtilsTest, OneLoaderReadsEachDocumentAsAFreshLoadDoes) {
    std::string ManyNames = "<Root>";
    std::vector<std::string> Names{"ID", "Name", "A", "B", "Empty", "Version"};
    for (int I = 0; I < 24; ++I) {
        const std::string Element = "E" + std::to_string(I), Attribute = "a" + std::to_string(I);
        ManyNames += "\n <" + Element + " " + Attribute + "=\"v" + std::to_string(I) + "\" ID=\"" + Element + "\"/>";
        Names.push_back(Attribute);
    }
    ManyNames += "</Root>";
    const std::string Documents[] = {
        ManifestText,
        "<a><b><c><d><e ID=\"deep\">t<!-- x -->u<![CDATA[v]]></e></d></c></b><f/></a>",
        "<Plugin ID=\"broken\"><Extension ID=\"e1\" ID=\"again\"/></Plugin>",
        "<Plugin ID=\"cut\"><Extension",
        "<?xml version=\"1.0\"?>\n<!-- nothing -->\n",
        "<Plugin ID=\"p\" Name=\"\" Empty=\"\">\r\n  <Extension ID=\"e\" Name=\"n\"/>x</Plugin>",
        ManyNames,
        "<x A=\"1\" B=\"2\" ID=\"3\"/>",
    };
    TXMLLoader Loader;
    for (const std::string& Text : Documents) {
        const std::string Fresh = MessageOf([&] { LoadXMLDocumentFromString(Text, "d.xml"); });
        const std::string Reused = MessageOf([&] { Loader.LoadFromString(Text, "d.xml"); });
        EXPECT_EQ(Reused, Fresh) << Text;
        if (!Fresh.empty()) continue;
        EXPECT_EQ(Dump(Loader.LoadFromString(Text, "d.xml")->GetDocumentElement(), Names),
                  Dump(LoadXMLDocumentFromString(Text, "d.xml")->GetDocumentElement(), Names))
            << Text;
    }
    // The documents of one loader stay intact while it reads the next ones.
    const Ref<IXMLDocument> First = Loader.LoadFromString(ManyNames, "m.xml");
    const std::string Before = Dump(First->GetDocumentElement(), Names);
    for (const std::string& Text : Documents) MessageOf([&] { Loader.LoadFromString(Text, "d.xml"); });
    EXPECT_EQ(Dump(First->GetDocumentElement(), Names), Before);
    EXPECT_NE(Before.find("E23@25:2 [] 2 ID=\"E23\" a23=\"v23\""), std::string::npos) << Before;
}

// A platform layer that marks every text converted from UTF-8 to the engine's encoding.
class TMarkingPlatform : public TPlatform {
public:
    std::string Utf8ToNative(const std::string& Utf8) override { return "{" + Utf8 + "}"; }
};

TEST_F(TXMLUtilsTest, NamesValuesAndTextLeaveThroughTheEncodingConversion) {
    Ref<IXMLDocument> Doc = LoadXMLDocumentFromString("<Root A=\"1\" B=\"yes\">x<!-- c -->y<Child/></Root>", "m.xml");
    TMarkingPlatform Marking;
    TPlatformOverride Override(Marking);
    Ref<IXMLNode> Root = Doc->GetDocumentElement();
    EXPECT_EQ(Root->GetNodeName(), "{Root}");
    EXPECT_EQ(Root->GetAttribute("A"), "{1}");
    EXPECT_EQ(Root->GetAttributes()->GetNamedItem("A")->GetText(), "{1}");
    EXPECT_TRUE(Root->GetAttributes()->GetNamedItem("B")->GetBool());
    EXPECT_EQ(Root->GetText(), "{xy}");  // the pieces joined first, then converted once
    // Lookups compare with the document's own names.
    EXPECT_EQ(Root->GetChildNodes()->FindNode("Child")->GetNodeName(), "{Child}");
    EXPECT_EQ(Doc->GetFileName(), "m.xml");  // given in the engine's encoding already
}

}  // namespace
}  // namespace orv
