// Reading plug-in manifests into a registry: root forms, the logged lines, errors and library
// lookup.
#include "Engine/ORVEngineImpl.h"

#include "Companion/TarnXMLLiveCount.h"
#include "Companion/TarnXMLUtils.h"
#include "ModelTestSupport.h"
#include "Support/NativeText.h"
#include "Support/TempFolder.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace orv;
using namespace orv::test;

namespace {

using TStrings = std::vector<std::string>;
const char Sep = TPathRules::Delimiter;

// The real file system with the host executable placed in a test's folder.
class TFakeExe : public TPlatform {
public:
    std::string Exe;
    std::string ExecutableFileName() override { return Exe; }
};

TFakeExe PlaceExe(const TTempFolder& Tree) {
    TFakeExe Fake;
    Fake.Exe = Tree.MakeFolder("app") + Sep + "host";
    return Fake;
}

class ManifestReaderTest : public ::testing::Test {
protected:
    void TearDown() override {
        Registry = nullptr;
        EXPECT_EQ(LiveXMLDocumentCount(), 0);
    }

    // Writes the manifest Relative and reads it into the registry.
    void Read(const std::string& Relative, const std::string& Xml) {
        const TPluginConfig Config{LoadXMLDocument(Tree.WriteFile(Relative, Xml)), Tree.PathOf(Relative)};
        TORVEngine::ReadPluginConfig(Registry, EngineConfig, Config, Parser);
    }
    // The exception message of reading, empty when nothing was raised.
    std::string ReadFailure(const std::string& Relative, const std::string& Xml) {
        try {
            Read(Relative, Xml);
        } catch (const EORVException& E) {
            return E.what();
        }
        return std::string();
    }
    TStrings DescriptorIDs() {
        TStrings Result;
        Ref<IORVDescriptors> All = Registry->GetDescriptors();
        for (int32_t I = 0; I < All->GetCount(); ++I) Result.push_back(All->GetItem(I)->GetID());
        return Result;
    }
    Ref<IORVDescriptor> Descriptor(const std::string& ID) { return Registry->GetDescriptors()->Find(ID); }

    TTempFolder Tree;
    TFakeExe Fake = PlaceExe(Tree);
    TPlatformOverride Override{Fake};
    TPathParser Parser{"", ""};
    TEngineConfigEx EngineConfig;
    Ref<TORVRegistry> Registry{new TORVRegistry()};
    TLogCapture Capture;
};

}  // namespace

TEST_F(ManifestReaderTest, RootFormsAndElementsInPluginPosition) {
    // A Plugins root in any case lists its plug-ins in order; a Plugin root is one plug-in; an empty
    // Plugins root is nothing; any other element is logged and skipped.
    Read("a/plugin.xml", "<plugins><Plugin ID='First'/><Comment/><PLUGIN ID='Second'/></plugins>");
    Read("b/plugin.xml", "<Plugin ID='Alone'/>");
    Read("c/plugin.xml", "<Plugins/>");
    Read("d/plugin.xml", "<Manifest ID='NotAPlugin'/>");
    EXPECT_EQ(DescriptorIDs(), (TStrings{"First", "Second", "Alone"}));
    const std::string A = Tree.PathOf("a/plugin.xml");
    EXPECT_EQ(Capture.Lines(),
              (TStrings{LogLine('W', SPluginWithoutDll, {"First", A}), LogLine('E', SInvalidPluginNode, {A, "Comment"}),
                        LogLine('W', SPluginWithoutDll, {"Second", A}),
                        LogLine('W', SPluginWithoutDll, {"Alone", Tree.PathOf("b/plugin.xml")}),
                        LogLine('E', SInvalidPluginNode, {Tree.PathOf("d/plugin.xml"), "Manifest"})}));
    EXPECT_EQ(Capture.Logger->Records()[1].Message,
              NativeText("配置文件[") + A + NativeText("]格式非法。\r\n节点[Comment]名称错误."));
}

TEST_F(ManifestReaderTest, MissingDocumentOrRootIsLoggedAndANilRegistryAsserted) {
    TORVEngine::ReadPluginConfig(Registry, EngineConfig, TPluginConfig{nullptr, "x/plugin.xml"}, Parser);
    const TPluginConfig Empty{LoadXMLDocumentFromString("<!-- none -->", "y/plugin.xml"), "y/plugin.xml"};
    TORVEngine::ReadPluginConfig(Registry, EngineConfig, Empty, Parser);
    EXPECT_EQ(Capture.Lines(), (TStrings{LogLine('W', SPluginDocumentEmpty, {"x/plugin.xml"}),
                                         LogLine('E', SInvalidConfigFile, {"y/plugin.xml"})}));
    EXPECT_TRUE(DescriptorIDs().empty());

    try {
        TORVEngine::ReadPluginConfig(nullptr, EngineConfig, Empty, Parser);
        FAIL() << "no assertion";
    } catch (const EAssertionFailed& E) {
        EXPECT_STREQ(E.what(), "Assertion failure (Engine/ORVEngineImpl, line 1954)");
    }
}

TEST_F(ManifestReaderTest, AMissingIdEndsTheReadInsideTheCannotParseLine) {
    const std::string File = Tree.PathOf("a/plugin.xml");
    const std::string Message = NativeText("配置文件[") + File + NativeText("]中插件没有给出ID");
    EXPECT_EQ(ReadFailure("a/plugin.xml", "<Plugins><Plugin ID='Kept'/><Plugin Name='x'/><Plugin ID='Never'/></Plugins>"),
              Message);
    EXPECT_EQ(DescriptorIDs(), TStrings{"Kept"});
    EXPECT_EQ(Capture.Lines(), (TStrings{LogLine('W', SPluginWithoutDll, {"Kept", File}),
                                         LogLine('E', SCannotParseFile, {File, Message})}));
    EXPECT_EQ(Capture.Logger->Records()[1].Message,
              NativeText("不能解释文件[") + File + NativeText("]，详细信息[") + Message + NativeText("]。"));
}

TEST_F(ManifestReaderTest, AnExtensionWithoutPointsEndsTheReadNamingItsQualifiedId) {
    const std::string File = Tree.PathOf("a/plugin.xml");
    const std::string Message = NativeText("扩展[Demo.Hello]中缺少扩展点。请检查扩展配置的points属性。");
    EXPECT_EQ(ReadFailure("a/plugin.xml",
                          "<Plugin ID='Demo'><ExtensionPoint ID='pt'/><Extension ID='x.Hello'/></Plugin>"),
              Message);
    EXPECT_TRUE(DescriptorIDs().empty());
    EXPECT_EQ(Capture.Lines(),
              (TStrings{LogLine('W', SPluginWithoutDll, {"Demo", File}), LogLine('E', SCannotParseFile, {File, Message})}));
    // Blanks alone name no point either (they used to pass, and linking then failed an assertion).
    EXPECT_EQ(ReadFailure("b/plugin.xml", "<Plugin ID='Blank'><Extension ID='Hello' Points=' &#9; '/></Plugin>"),
              NativeText("扩展[Blank.Hello]中缺少扩展点。请检查扩展配置的points属性。"));
}

TEST_F(ManifestReaderTest, ShieldedPluginsAreSkippedSilently) {
    EngineConfig.ShieldedPlugins = {"demo.CORE", " Other"};
    Read("a/plugin.xml", "<Plugins><Plugin ID='Demo.Core' Library='x'/><Plugin ID='Other'/></Plugins>");
    EXPECT_EQ(DescriptorIDs(), TStrings{"Other"});
    EXPECT_EQ(Capture.Lines(), TStrings{LogLine('W', SPluginWithoutDll, {"Other", Tree.PathOf("a/plugin.xml")})});
}

TEST_F(ManifestReaderTest, PluginFieldsExtensionsAndPointsAreRead) {
    Read("a/plugin.xml",
         "<Plugin ID='Demo' Name='Demo plug-in' Version='1.2' Provider='Us' Initialize='Yes'>"
         "  <ExtensionPoint ID='Demo.greeters' Name='Greeters' Required='true' Unique='1'/>"
         "  <Extension ID='one.two.Hello' Name='Hi' Points='greeters, Other.point' Custom='7'/>"
         "  <Whatever/>"
         "  <extension ID='Bye' Points='greeters' FactoryMethod='MakeBye'/>"
         "  <ExtensionPoint ID='plain'/>"
         "</Plugin>");
    const Ref<IORVDescriptor> D = Descriptor("Demo");
    ASSERT_TRUE(D);
    EXPECT_EQ(D->GetName(), "Demo plug-in");
    EXPECT_EQ(D->GetVersion(), "1.2");
    EXPECT_EQ(D->GetProvider(), "Us");
    EXPECT_EQ(D->GetLocation(), Tree.PathOf("a") + Sep);
    EXPECT_EQ(D->GetConfigFile(), Tree.PathOf("a/plugin.xml"));
    EXPECT_EQ(D->GetLibrary(), "");
    EXPECT_TRUE(TConverter::ToDescriptor(D)->GetInitialize());
    EXPECT_EQ(D->GetRegistry().Get(), Registry.Get());

    const Ref<IORVExtensions> Extensions = D->GetExtensions();
    ASSERT_EQ(Extensions->GetCount(), 2);
    TORVExtension* Hello = TConverter::ToExtension(Extensions->GetItem(0));
    EXPECT_EQ(Hello->GetID(), "Demo.Hello");
    EXPECT_EQ(Hello->GetName(), "Hi");
    EXPECT_EQ(Hello->GetFactoryMethod(), "GetExtensionImpl");
    EXPECT_EQ(Hello->GetPoints(), (TStrings{"Demo.greeters", "Other.point"}));
    ASSERT_TRUE(Hello->GetConfig());
    EXPECT_EQ(Hello->GetConfig()->GetAttribute("Custom"), "7");
    TORVExtension* Bye = TConverter::ToExtension(Extensions->GetItem(1));
    EXPECT_EQ(Bye->GetID(), "Demo.Bye");
    EXPECT_EQ(Bye->GetFactoryMethod(), "MakeBye");

    const Ref<IORVExtensionPoints> Points = D->GetExtensionPoints();
    ASSERT_EQ(Points->GetCount(), 2);
    TORVExtensionPoint* Greeters = TConverter::ToExtensionPoint(Points->GetItem(0));
    EXPECT_EQ(Greeters->GetID(), "Demo.greeters");
    EXPECT_EQ(Greeters->GetName(), "Greeters");
    EXPECT_TRUE(Greeters->IsRequired());
    EXPECT_TRUE(Greeters->IsUnique());
    TORVExtensionPoint* Plain = TConverter::ToExtensionPoint(Points->GetItem(1));
    EXPECT_EQ(Plain->GetID(), "Demo.plain");
    EXPECT_FALSE(Plain->IsRequired());
    EXPECT_FALSE(Plain->IsUnique());
}

// An extension's id, name and factory method, as a host reads them.
std::string TextsOf(const Ref<IORVExtension>& E) {
    TORVExtension* Object = TConverter::ToExtension(E);
    return Object->GetLocalID() + "|" + E->GetName() + "|" + Object->GetFactoryMethod();
}

// The manifest's texts that an extension keeps outlive the registry and every other hold on the
// manifest; those that the engine's encoding changes are the extension's own copies, and so are
// the rest once it is given another element.
TEST_F(ManifestReaderTest, AnExtensionKeepsItsTextsWhateverLetsGoOfTheManifest) {
    struct TMarking : TFakeExe {
        std::string Utf8ToNative(const std::string& Utf8) override { return "{" + Utf8 + "}"; }
    } Marking;
    Marking.Exe = Fake.Exe;
    TPlatformOverride UseMarking{Marking};
    Read("a/plugin.xml",
         "<Plugin ID='Demo'>"
         "  <Extension ID='a.b.One' Name='First' Points='p.q'/>"
         "  <Extension ID='Two' Name='' Points='p.q' FactoryMethod=''/>"
         "  <Extension ID='Dr\xC3\xAD' Name='Gr\xC3\xBC\xC3\x9F\x65' Points='p.q' FactoryMethod='Mak\xC3\xA9'/>"
         "  <Extension ID='Four' Points='p.q' FactoryMethod='MakeFour'/>"
         "</Plugin>");
    Ref<IORVExtensions> Extensions = Descriptor("Demo")->GetExtensions();
    ASSERT_EQ(Extensions->GetCount(), 4);
    std::vector<Ref<IORVExtension>> Held;
    for (int32_t I = 0; I < Extensions->GetCount(); ++I) Held.push_back(Extensions->GetItem(I));
    const TStrings Texts{"One|First|GetExtensionImpl", "Two||GetExtensionImpl",
                         "{Dr\xC3\xAD}|{Gr\xC3\xBC\xC3\x9F\x65}|{Mak\xC3\xA9}", "Four||MakeFour"};
    for (std::size_t I = 0; I < Held.size(); ++I) EXPECT_EQ(TextsOf(Held[I]), Texts[I]);

    Extensions = nullptr;
    Registry = nullptr;
    EXPECT_EQ(LiveXMLDocumentCount(), 1);  // the extensions hold it
    for (std::size_t I = 0; I < Held.size(); ++I) EXPECT_EQ(TextsOf(Held[I]), Texts[I]);

    // Given another element, an extension copies what it took from the first document, which then goes.
    for (const Ref<IORVExtension>& E : Held)
        TConverter::ToExtension(E)->SetConfigElement(LoadXMLDocumentFromString("<Other/>", "o.xml"), 0);
    EXPECT_EQ(LiveXMLDocumentCount(), 4);  // one of its own each
    for (std::size_t I = 0; I < Held.size(); ++I) EXPECT_EQ(TextsOf(Held[I]), Texts[I]);
    EXPECT_EQ(Held[0]->GetConfig()->GetNodeName(), "{Other}");
}

TEST_F(ManifestReaderTest, ALibraryBesideTheManifestWinsOverDllPath) {
    const std::string Beside = Tree.WriteFile("a/libdemo.so", "x");
    Tree.WriteFile("dlls/libdemo.so", "x");
    EngineConfig.DllPath = {Tree.PathOf("dlls")};
    Read("a/plugin.xml", "<Plugin ID='Demo' Library=' \tlibdemo.so \n'/>");
    EXPECT_EQ(Descriptor("Demo")->GetLibrary(), Beside);
    EXPECT_EQ(Capture.Lines(), TStrings{LogLine('I', SPluginBoundToDll, {"Demo", Beside})});
}

// A library that discovery's listing of the manifest's folder holds is the one a look by its path
// finds; every other one is sought as before: the same library, the same lines, the same places
// searched, whether the manifests come from discovery or not.
TEST_F(ManifestReaderTest, DiscoverysListingFindsTheLibraryALookByPathFinds) {
    namespace fs = std::filesystem;
    Tree.WriteFile("root/p1/lib1.so", "x");
    Tree.WriteFile("root/p2/.hidden.so", "x");
    Tree.WriteFile("root/p3/sub/lib3.so", "x");
    Tree.MakeFolder("root/p4/lib4.so");
    const std::string InDlls = Tree.WriteFile("dlls/lib4.so", "x");
    Tree.WriteFile("root/p7/lib7.so", "x");
    EngineConfig.DllPath = {Tree.PathOf("dlls")};
    std::vector<std::pair<std::string, std::string>> Plugins{{"p1", "lib1.so"}, {"p2", ".hidden.so"},
                                                             {"p3", "sub/lib3.so"}, {"p4", "lib4.so"},
                                                             {"p7", "LIB7.so"},     {"p8", "plugin.xml"},
                                                             {"p0", "lib1.so"},     {"p9", "lib1.so"}};
    Tree.MakeFolder("root/p5");
    Tree.MakeFolder("root/p6");
    std::error_code Failed;
    fs::create_symlink("../p1/lib1.so", Tree.PathOf("root/p5/link.so"), Failed);
    if (!Failed) fs::create_symlink("gone.so", Tree.PathOf("root/p6/dangling.so"), Failed);
    if (!Failed) Plugins.insert(Plugins.end(), {{"p5", "link.so"}, {"p6", "dangling.so"}});
    for (const auto& P : Plugins)
        Tree.WriteFile("root/" + P.first + "/plugin.xml", "<Plugin ID='" + P.first + "' Library='" + P.second + "'/>");

    TPluginConfigDynArray Found = TORVEngine::DiscoverPluginConfigs({Tree.PathOf("root")}, "plugin.xml");
    ASSERT_EQ(Found.size(), Plugins.size());
    const std::shared_ptr<const TFileNames> Files = XMLTakeFilesBeside(Found[1].Document.Get());  // p1
    ASSERT_TRUE(Files);
    EXPECT_EQ(*Files, (TFileNames{"lib1.so", "plugin.xml"}));
    XMLSetFilesBeside(Found[1].Document.Get(), Files);
    for (const TPluginConfig& Config : Found) TORVEngine::ReadPluginConfig(Registry, EngineConfig, Config, Parser);
    // The reader does not keep them.
    for (const TPluginConfig& Config : Found) EXPECT_FALSE(XMLTakeFilesBeside(Config.Document.Get()));
    const TStrings ListedLines = Capture.Lines();
    TStrings Listed;
    for (const auto& P : Plugins) Listed.push_back(Descriptor(P.first)->GetLibrary());

    Registry = Ref<TORVRegistry>(new TORVRegistry());
    Capture.Logger->Clear();
    for (const TPluginConfig& Config : Found)
        TORVEngine::ReadPluginConfig(Registry, EngineConfig, TPluginConfig{LoadXMLDocument(Config.FileName), Config.FileName},
                                     Parser);
    TStrings ByPath;
    for (const auto& P : Plugins) ByPath.push_back(Descriptor(P.first)->GetLibrary());
    EXPECT_EQ(Listed, ByPath);
    EXPECT_EQ(ListedLines, Capture.Lines());
    EXPECT_EQ(Listed[0], Tree.PathOf("root/p1/lib1.so"));
    EXPECT_EQ(Listed[1], Tree.PathOf("root/p2/.hidden.so"));
    EXPECT_EQ(Listed[2], Tree.PathOf("root/p3") + Sep + "sub/lib3.so");
    EXPECT_EQ(Listed[3], InDlls);
    // Where letter case counts, no file is named so; elsewhere the look by path finds lib7.so.
    EXPECT_EQ(Listed[4], TPathRules::LowerCaseValues ? Tree.PathOf("root/p7") + Sep + "LIB7.so" : "LIB7.so");
    EXPECT_EQ(Listed[5], Tree.PathOf("root/p8/plugin.xml"));
    EXPECT_EQ(Listed[6], "lib1.so");  // the listing of the neighbouring folder is not theirs
    EXPECT_EQ(Listed[7], "lib1.so");
    if (Plugins.size() > 8) {
        EXPECT_EQ(Listed[8], Tree.PathOf("root/p5/link.so"));
        EXPECT_EQ(Listed[9], "dangling.so");
    }
}

TEST_F(ManifestReaderTest, ALibraryIsSoughtInDllPathInOrderThenThroughThePathVariables) {
    const std::string InSecond = Tree.WriteFile("second/libb.so", "x");
    Tree.WriteFile("third/libb.so", "x");
    Tree.WriteFile("app/plugins/libc.so", "x");
    Tree.WriteFile("app/rel/libd.so", "x");
    EngineConfig.DllPath = {Tree.PathOf("missing"), Tree.PathOf("second"), Tree.PathOf("third")};
    Read("a/plugin.xml",
         "<Plugins><Plugin ID='B' Library='libb.so'/>"
         "<Plugin ID='C' Library='%EXE%/plugins/libc.so'/>"
         "<Plugin ID='D' Library='rel/libd.so'/></Plugins>");

    EXPECT_EQ(Descriptor("B")->GetLibrary(), InSecond);
    // The folder that replaces the variable is stored as the variable holds it.
    const std::string ExeFolder = Tree.PathOf("app");
    EXPECT_EQ(Descriptor("C")->GetLibrary(),
              (TPathRules::LowerCaseValues ? AsciiLowerCase(ExeFolder) : ExeFolder) + "/plugins/libc.so");
    EXPECT_TRUE(Platform().FileExists(Descriptor("C")->GetLibrary()));
    // A relative name found only beside the executable: its folder, one separator, then the
    // manifest's text as written (nothing in it is normalised).
    EXPECT_EQ(Descriptor("D")->GetLibrary(), ExeFolder + Sep + "rel/libd.so");
    EXPECT_TRUE(Platform().FileExists(Descriptor("D")->GetLibrary()));
    for (const std::string& Line : Capture.Lines()) EXPECT_EQ(Line[0], 'I') << Line;
}

TEST_F(ManifestReaderTest, AMissingLibraryKeepsItsManifestValueWithAWarningWhateverTheCurrentFolderHolds) {
    // A copy planted in the current folder is neither bound nor loaded.
    const std::filesystem::path Previous = std::filesystem::current_path();
    std::filesystem::current_path(Tree.MakeFolder("cwd"));
    Tree.CopyFile(TestPluginPath("model_full"), "cwd/libnone.so");
    Read("a/plugin.xml", "<Plugin ID='Demo' Library=' libnone.so '/>");
    EXPECT_EQ(Descriptor("Demo")->GetLibrary(), "libnone.so");
    const TArgList Args{"Demo", Tree.PathOf("a") + Sep, "libnone.so"};
    EXPECT_EQ(MessageOf([&] { TConverter::ToDescriptor(Descriptor("Demo"))->StartPlugin(); }),
              FormatArgs(LoadMessage(SDllNotFound), Args.Data(), Args.High()));
    std::filesystem::current_path(Previous);
    EXPECT_EQ(Capture.Lines(), TStrings{LogLine('W', SDllNotFound, {"Demo", Tree.PathOf("a") + Sep, "libnone.so"})});
}

TEST_F(ManifestReaderTest, AnAbsoluteLibraryIsTriedAsItStandsOnly) {
    if (TPathRules::ColonMakesAbsolute) GTEST_SKIP() << "an absolute name joined to a folder names no file here";
    // Joined to the manifest's folder, the absolute name would lead to this other file.
    const std::string Absolute = Tree.PathOf("opt/x/lib.so");
    const std::string Joined = TPathUtils::CombinePath(Tree.PathOf("a"), Absolute);
    Tree.WriteFile(Joined.substr(Tree.Path().size() + 1), "x");
    Read("a/plugin.xml", "<Plugin ID='Abs' Library='" + Absolute + "'/>");
    EXPECT_EQ(Descriptor("Abs")->GetLibrary(), Absolute);
    EXPECT_EQ(Capture.Lines()[0][0], 'W');
    Tree.WriteFile("opt/x/lib.so", "x");
    Read("b/plugin.xml", "<Plugin ID='Found' Library='" + Absolute + "'/>");
    EXPECT_EQ(Capture.Lines().back(), LogLine('I', SPluginBoundToDll, {"Found", Absolute}));
}

TEST_F(ManifestReaderTest, AnExceptionOfAnyKindIsNamedInTheCannotParseLine) {
    // A host logger that refuses the missing-library warning with a value of its own.
    class TRefusingLogger : public TRecordingLogger {
    public:
        void ORV_CALL WarnFmt(const std::string& Fmt, const TVarRec* Args, int32_t High) override {
            TRecordingLogger::WarnFmt(Fmt, Args, High);
            throw 7;
        }
    };
    Ref<TRefusingLogger> Refusing(new TRefusingLogger());
    TLoggerScope Scope(Refusing);
    EXPECT_THROW(Read("a/plugin.xml", "<Plugin ID='Demo' Library='libnone.so'/>"), int);
    const TStrings Lines = Refusing->Lines();
    ASSERT_EQ(Lines.size(), 2u);
    EXPECT_EQ(Lines[1], LogLine('E', SCannotParseFile,
                                {Tree.PathOf("a/plugin.xml"), "unknown exception (not derived from std::exception)"}));
}
