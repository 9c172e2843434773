// Finding manifest files under the configured folders, and the shielded-plug-in rule.
#include "Engine/ORVEngineImpl.h"

#include "Common/Platform.h"
#include "Companion/TarnXMLLiveCount.h"
#include "Support/TempFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "Support/RecordingLogger.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace orv;
using orv::test::TTempFolder;

namespace {

using TStrings = std::vector<std::string>;

class DiscoveryTest : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_EQ(LiveXMLDocumentCount(), 0); }

    // Writes a small manifest naming itself.
    std::string Manifest(const std::string& Relative) { return Tree.WriteFile(Relative, "<Plugin ID='" + Relative + "'/>"); }
    TStrings Scan(const std::string& Folder, const std::string& ConfigExt = "plugin.xml") {
        return TORVEngine::FindConfigFiles(Folder, ConfigExt);
    }

    TTempFolder Tree;
};

TStrings FileNames(const TPluginConfigDynArray& Configs) {
    TStrings Result;
    for (const TPluginConfig& C : Configs) Result.push_back(C.FileName);
    return Result;
}

}  // namespace

TEST_F(DiscoveryTest, SubfoldersAreListedWhereTheyAreMet) {
    Manifest("root/A/plugin.xml");
    Manifest("root/A/Deep/plugin.xml");
    Manifest("root/A/z-plugin.xml");
    Manifest("root/B-plugin.xml");
    Manifest("root/C/PLUGIN.XML");
    Manifest("root/C/plugin.xml.bak");
    Manifest("root/C/.plugin.xml");
    Manifest("root/.hidden/plugin.xml");
    Tree.MakeFolder("root/Empty");

    EXPECT_EQ(Scan(Tree.PathOf("root")),
              (TStrings{Tree.PathOf("root/A/Deep/plugin.xml"), Tree.PathOf("root/A/plugin.xml"),
                        Tree.PathOf("root/A/z-plugin.xml"), Tree.PathOf("root/B-plugin.xml"),
                        Tree.PathOf("root/C/PLUGIN.XML")}));
    // A trailing separator on the folder is not doubled.
    EXPECT_EQ(Scan(Tree.PathOf("root/C") + TPathRules::Delimiter), TStrings{Tree.PathOf("root/C/PLUGIN.XML")});
}

TEST_F(DiscoveryTest, APathNamingAFileIsTakenWhenItEndsWithTheSuffix) {
    const std::string File = Manifest("dir/my-Plugin.XML");
    const std::string Other = Manifest("dir/readme.txt");
    EXPECT_EQ(Scan(File), TStrings{File});
    EXPECT_EQ(Scan(Other), TStrings{});
    EXPECT_EQ(Scan(Tree.PathOf("dir/missing.xml")), TStrings{});
    EXPECT_EQ(Scan(Other, ""), TStrings{Other});
}

TEST_F(DiscoveryTest, AnEmptySuffixTakesEveryFile) {
    Manifest("dir/a.xml");
    Manifest("dir/sub/b");
    const TPluginConfigDynArray Configs = TORVEngine::DiscoverPluginConfigs({Tree.PathOf("dir")}, "");
    ASSERT_EQ(FileNames(Configs), (TStrings{Tree.PathOf("dir/a.xml"), Tree.PathOf("dir/sub/b")}));
    for (const TPluginConfig& C : Configs) {
        ASSERT_TRUE(C.Document);
        EXPECT_EQ(C.Document->GetFileName(), C.FileName);
    }
}

TEST_F(DiscoveryTest, OverlappingPathsGiveRepeatsAndOneScanDoesNot) {
    Manifest("root/plugin.xml");
    Manifest("root/sub/plugin.xml");
    const TPluginConfigDynArray Configs = TORVEngine::DiscoverPluginConfigs(
        {Tree.PathOf("root/sub"), Tree.PathOf("nowhere"), Tree.PathOf("root")}, "plugin.xml");
    EXPECT_EQ(FileNames(Configs), (TStrings{Tree.PathOf("root/sub/plugin.xml"), Tree.PathOf("root/plugin.xml"),
                                           Tree.PathOf("root/sub/plugin.xml")}));

    // Within one scan a name already listed is not listed again.
    TStrings List{Tree.PathOf("root/sub/plugin.xml")};
    TORVEngine::ScanFolder(Tree.PathOf("root"), "plugin.xml", List);
    EXPECT_EQ(List, (TStrings{Tree.PathOf("root/sub/plugin.xml"), Tree.PathOf("root/plugin.xml")}));

    EXPECT_TRUE(TORVEngine::DiscoverPluginConfigs({}, "plugin.xml").empty());
}

TEST_F(DiscoveryTest, AManifestFoundThroughTwoEntriesIsReadTwiceWithAWarning) {
    const std::string A = Manifest("a/plugin.xml");
    const std::string Sub = Manifest("a/sub/plugin.xml");
    Tree.MakeFolder("b");
    const std::string Around = Tree.PathOf("b") + TPathRules::Delimiter + ".." + TPathRules::Delimiter + "a";
    auto Again = [](const std::string& File, const std::string& Entry, const std::string& First,
                    const std::string& FirstEntry) {
        return "W Manifest [" + File + "] found again through the entry [" + Entry + "] (first as [" + First +
               "] through [" + FirstEntry + "]): its plug-ins are read twice";
    };
    const std::string AroundA = Around + TPathRules::Delimiter + "plugin.xml";
    const std::string AroundSub = Around + TPathRules::Delimiter + "sub" + TPathRules::Delimiter + "plugin.xml";
    struct TCase {
        TStrings Paths;
        TStrings Found;
        TStrings Lines;
    } const Cases[] = {
        {{Tree.PathOf("a"), Tree.PathOf("a")}, {A, Sub, A, Sub},
         {Again(A, Tree.PathOf("a"), A, Tree.PathOf("a")), Again(Sub, Tree.PathOf("a"), Sub, Tree.PathOf("a"))}},
        {{Tree.PathOf("a"), Tree.PathOf("a/sub")}, {A, Sub, Sub}, {Again(Sub, Tree.PathOf("a/sub"), Sub, Tree.PathOf("a"))}},
        {{Tree.PathOf("a"), Around}, {A, Sub, AroundA, AroundSub},
         {Again(AroundA, Around, A, Tree.PathOf("a")), Again(AroundSub, Around, Sub, Tree.PathOf("a"))}},
        {{Sub, Tree.PathOf("a/sub")}, {Sub, Sub}, {Again(Sub, Tree.PathOf("a/sub"), Sub, Sub)}},
    };
    for (const TCase& Case : Cases) {
        orv::test::TLogCapture Log;
        EXPECT_EQ(FileNames(TORVEngine::DiscoverPluginConfigs(Case.Paths, "plugin.xml")), Case.Found);
        EXPECT_EQ(Log.Lines(), Case.Lines);
    }
}

TEST_F(DiscoveryTest, AManifestThatCannotBeLoadedFailsDiscovery) {
    Manifest("root/a/plugin.xml");
    Tree.WriteFile("root/b/plugin.xml", "<Plugin");
    EXPECT_THROW(TORVEngine::DiscoverPluginConfigs({Tree.PathOf("root")}, "plugin.xml"), EORVException);
}

TEST_F(DiscoveryTest, ScanningNoFolderFailsTheAssertion) {
    TStrings List;
    try {
        TORVEngine::ScanFolder("", "plugin.xml", List);
        FAIL() << "no assertion";
    } catch (const EAssertionFailed& E) {
        EXPECT_STREQ(E.what(), "Assertion failure (Engine/ORVEngineImpl, line 1710)");
    }
}

TEST(DiscoveryRulesTest, EndsWithTextComparesTheTailIgnoringAsciiCase) {
    EXPECT_TRUE(TORVEngine::EndsWithText("MyPlugin.XML", "plugin.xml"));
    EXPECT_TRUE(TORVEngine::EndsWithText("plugin.xml", "plugin.xml"));
    EXPECT_FALSE(TORVEngine::EndsWithText("lugin.xml", "plugin.xml"));
    EXPECT_FALSE(TORVEngine::EndsWithText("plugin.xml.old", "plugin.xml"));
    EXPECT_TRUE(TORVEngine::EndsWithText("", ""));
    EXPECT_TRUE(TORVEngine::EndsWithText("anything", ""));
    // Only ASCII letters fold.
    EXPECT_FALSE(TORVEngine::EndsWithText("a\xC4", "\xE4"));
}

TEST(DiscoveryRulesTest, ShieldedPluginsMatchWholeIdsIgnoringAsciiCase) {
    EXPECT_TRUE(TORVEngine::IsPluginAllowed("Demo.Core", {}));
    EXPECT_FALSE(TORVEngine::IsPluginAllowed("Demo.Core", {"other", "DEMO.core"}));
    EXPECT_TRUE(TORVEngine::IsPluginAllowed("Demo.Core", {" Demo.Core", "Demo", "Demo.Core.X"}));
    EXPECT_TRUE(TORVEngine::IsPluginAllowed("", {"x"}));
    EXPECT_FALSE(TORVEngine::IsPluginAllowed("", {""}));
}

#ifndef _WIN32

TEST_F(DiscoveryTest, EachRealFolderIsEnteredOnceAndPseudoFileSystemsNever) {
    namespace fs = std::filesystem;
    Manifest("root/A/plugin.xml");
    Manifest("root/B/plugin.xml");
    fs::create_directory_symlink(Tree.PathOf("root"), Tree.PathOf("root/A/up"));
    fs::create_directory_symlink(".", Tree.PathOf("root/B/self"));
    // A link aliasing a sibling would list its manifests twice.
    fs::create_directory_symlink(Tree.PathOf("root/A"), Tree.PathOf("root/C"));
    // The kernel's own trees do not end in any useful time (and hold no manifests).
    Tree.MakeFolder("root/D");
    for (const char* System : {"/proc", "/sys"})
        if (fs::is_directory(System)) fs::create_directory_symlink(System, Tree.PathOf("root/D") + System);

    orv::test::TLogCapture Log;
    EXPECT_EQ(Scan(Tree.PathOf("root")), (TStrings{Tree.PathOf("root/A/plugin.xml"), Tree.PathOf("root/B/plugin.xml")}));
    // Every link that was not followed is named in a Debug line.
    TStrings Skipped;
    for (const std::string& Line : Log.Lines()) {
        const std::string Head = "D Discovery does not enter [" + Tree.Path();
        EXPECT_EQ(Line.compare(0, Head.size(), Head), 0) << Line;
        Skipped.push_back(Line.substr(Line.find('[') + 1, Line.find(']') - Line.find('[') - 1));
    }
    TStrings Expected{Tree.PathOf("root/A/up/"), Tree.PathOf("root/B/self/"), Tree.PathOf("root/C/")};
    for (const char* System : {"/proc", "/sys"})
        if (fs::is_directory(System)) Expected.push_back(Tree.PathOf("root/D") + System + "/");
    std::sort(Skipped.begin(), Skipped.end());
    std::sort(Expected.begin(), Expected.end());
    EXPECT_EQ(Skipped, Expected);

    // Started below a link, the names keep the link's spelling.
    EXPECT_EQ(Scan(Tree.PathOf("root/A/up")),
              (TStrings{Tree.PathOf("root/A/up/A/plugin.xml"), Tree.PathOf("root/A/up/B/plugin.xml")}));
}

TEST_F(DiscoveryTest, DeepTreesAreWalkedWithoutRecursionOrPathLimits) {
    // Deeper than PATH_MAX allows a path to be written, and than a small stack would survive.
    const int Depth = 2100;
    std::string Relative = "deep";
    {
        std::filesystem::path Cwd = std::filesystem::current_path();
        std::filesystem::create_directory(Tree.PathOf("deep"));
        std::filesystem::current_path(Tree.PathOf("deep"));
        for (int I = 0; I < Depth; ++I) {
            ASSERT_EQ(mkdir("d", 0700), 0);
            ASSERT_EQ(chdir("d"), 0);
            if (I % 700 == 699) {
                ASSERT_EQ(mkdir("side", 0700), 0);
            }
        }
        FILE* F = std::fopen("plugin.xml", "w");
        ASSERT_TRUE(F);
        std::fclose(F);
        std::filesystem::current_path(Cwd);
    }
    for (int I = 0; I < Depth; ++I) Relative += "/d";
    EXPECT_EQ(Scan(Tree.PathOf("deep")), TStrings{Tree.Path() + "/" + Relative + "/plugin.xml"});
    // The folder tree is removed by the shell: its paths are too long for most tools.
    EXPECT_EQ(std::system(("cd '" + Tree.PathOf("deep") + "' && rm -rf d").c_str()), 0);
}

TEST_F(DiscoveryTest, AFifoNamedLikeAManifestIsNeverOpened) {
    Manifest("root/a/plugin.xml");
    Tree.MakeFolder("root/b");
    ASSERT_EQ(mkfifo(Tree.PathOf("root/b/plugin.xml").c_str(), 0600), 0);
    // Opening the FIFO would block for good: let the process die instead of hanging.
    alarm(30);
    const TPluginConfigDynArray Configs = TORVEngine::DiscoverPluginConfigs(
        {Tree.PathOf("root"), Tree.PathOf("root/b/plugin.xml")}, "plugin.xml");
    alarm(0);
    EXPECT_EQ(FileNames(Configs), TStrings{Tree.PathOf("root/a/plugin.xml")});
}

TEST_F(DiscoveryTest, AManifestMetTwiceInOneWalkIsReadOnceWithAWarning) {
    namespace fs = std::filesystem;
    const std::string Real = Manifest("root/a/plugin.xml");
    // The same file under other names: a link beside it, a link in another folder, a hard link.
    fs::create_symlink("plugin.xml", Tree.PathOf("root/a/z-plugin.xml"));
    Tree.MakeFolder("root/b");
    fs::create_symlink(Real, Tree.PathOf("root/b/plugin.xml"));
    Tree.MakeFolder("root/c");
    fs::create_hard_link(Real, Tree.PathOf("root/c/plugin.xml"));
    const std::string Other = Manifest("root/d/plugin.xml");

    orv::test::TLogCapture Log;
    const std::string Root = Tree.PathOf("root");
    EXPECT_EQ(FileNames(TORVEngine::DiscoverPluginConfigs({Root}, "plugin.xml")), (TStrings{Real, Other}));
    TStrings Expected;
    for (const char* Again : {"root/a/z-plugin.xml", "root/b/plugin.xml", "root/c/plugin.xml"})
        Expected.push_back("W Manifest [" + Tree.PathOf(Again) + "] found again through the entry [" + Root +
                           "] (first as [" + Real + "] through [" + Root + "]): its plug-ins are read once");
    EXPECT_EQ(Log.Lines(), Expected);
}

TEST_F(DiscoveryTest, AFolderThatCannotBeReadIsNamedInAWarning) {
    chmod(Manifest("root/a/plugin.xml").c_str(), 0644);
    Manifest("root/locked/plugin.xml");
    for (const std::string& Open : {Tree.Path(), Tree.PathOf("root"), Tree.PathOf("root/a")}) chmod(Open.c_str(), 0755);
    ASSERT_EQ(chmod(Tree.PathOf("root/locked").c_str(), 0), 0);
    TStrings Found;
    orv::test::TLogCapture Log;
    {
        // Permissions do not hold back the superuser: the walk then runs as nobody.
        struct TAsNobody {
            const bool Switched = geteuid() == 0 && seteuid(65534) == 0;
            ~TAsNobody() {
                if (Switched && seteuid(0) != 0) std::abort();
            }
        } AsNobody;
        Found = FileNames(TORVEngine::DiscoverPluginConfigs({Tree.PathOf("root")}, "plugin.xml"));
    }
    chmod(Tree.PathOf("root/locked").c_str(), 0700);
    EXPECT_EQ(Found, TStrings{Tree.PathOf("root/a/plugin.xml")});
    EXPECT_EQ(Log.Lines(), TStrings{"W Folder [" + Tree.PathOf("root/locked") +
                                    "/] cannot be read: Permission denied; the manifests in it are not found"});
}

TEST_F(DiscoveryTest, NamesDifferingInCaseAreDifferentFilesHere) {
    Manifest("root/plugin.xml");
    Manifest("root/Plugin.xml");
    EXPECT_EQ(Scan(Tree.PathOf("root")), (TStrings{Tree.PathOf("root/Plugin.xml"), Tree.PathOf("root/plugin.xml")}));
}

#endif
