// Reading the engine configuration file and resolving names relative to the engine.
#include "Engine/ORVEngineImpl.h"

#include "Common/Platform.h"
#include "Companion/TarnXMLLiveCount.h"
#include "Engine/ORVEnvironmentVariables.h"
#include "Support/RecordingLogger.h"
#include "Support/TempFolder.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace orv;
using orv::test::TTempFolder;

namespace {

using TStrings = std::vector<std::string>;
const char Sep = TPathRules::Delimiter;

// The real file system, with the host executable and the engine module placed where a test says.
class TFakeLocations : public TPlatform {
public:
    std::string Exe;
    std::string Module;
    std::string ExecutableFileName() override { return Exe; }
    std::string ModuleFileName() override { return Module; }
};

// Makes Folder the current folder until the object dies.
class TCurrentFolder {
public:
    explicit TCurrentFolder(const std::string& Folder) : Previous_(std::filesystem::current_path()) {
        std::filesystem::current_path(Folder);
    }
    ~TCurrentFolder() { std::filesystem::current_path(Previous_); }

private:
    std::filesystem::path Previous_;
};

bool FileTest(const std::string& Path) { return Platform().FileExists(Path); }

// A folder as a path variable holds it (lower-cased where file names ignore case).
std::string AsVariable(const std::string& Folder) {
    return TPathRules::LowerCaseValues ? AsciiLowerCase(Folder) : Folder;
}

// The host in Tree/app/bin, the engine in Tree/lib, and an empty folder Tree/cwd.
TFakeLocations PlaceProgram(const TTempFolder& Tree) {
    TFakeLocations Fake;
    Fake.Exe = Tree.MakeFolder("app/bin") + Sep + "host";
    Fake.Module = Tree.MakeFolder("lib") + Sep + "libORVEngine.so";
    Tree.MakeFolder("cwd");
    return Fake;
}

class ConfigTest : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_EQ(LiveXMLDocumentCount(), 0); }

    std::string Folder(const std::string& Relative) { return Tree.PathOf(Relative) + Sep; }
    std::string ConfigVariable() {
        for (const auto& Var : Parser.Variables())
            if (Var.first == "%config%") return Var.second;
        return "<none>";
    }

    TTempFolder Tree;
    TFakeLocations Fake = PlaceProgram(Tree);
    TPlatformOverride Override{Fake};
    TPathParser Parser{TPathUtils::GetModulePath(), ""};
    TEngineConfigEx Config;
};

}  // namespace

TEST_F(ConfigTest, AFileWithOnlyAnEntryPointGetsTheDefaults) {
    const std::string File = Tree.WriteFile("conf/engine.xml", "<Anything EntryPoint='App.main'/>");
    TORVEngine::ReadEngineConfig(File, Parser, Config);

    EXPECT_EQ(Config.EntryPoint, "App.main");
    EXPECT_EQ(Config.Path, TStrings{Folder("conf")});
    EXPECT_EQ(Config.ConfigExt, "plugin.xml");
    EXPECT_TRUE(Config.DllPath.empty());
    EXPECT_TRUE(Config.ShieldedPlugins.empty());
    EXPECT_FALSE(Config.EnvironmentVariables);
    EXPECT_EQ(ConfigVariable(), AsVariable(Tree.PathOf("conf")));
}

TEST_F(ConfigTest, ListsAreSplitAndExpanded) {
    const std::string File = Tree.WriteFile(
        "conf/engine.xml",
        "<Engine Path='%config%/plugins; %CONFIG%/More;;extra;' ConfigExt=' Manifest.XML'"
        " DllPath=';%exe%/dlls;%module%;\"%config%/with blank\";'/>");
    TORVEngine::ReadEngineConfig(File, Parser, Config);

    // A bare folder name is anchored at the executable's folder, not at the file's. Empty entries
    // (which would stand for the executable's folder) are dropped.
    const std::string Conf = AsVariable(Tree.PathOf("conf"));
    EXPECT_EQ(Config.Path, (TStrings{Conf + "/plugins", Conf + "/More", Tree.PathOf("app/bin/extra")}));
    EXPECT_EQ(Config.DllPath,
              (TStrings{AsVariable(Tree.PathOf("app/bin")) + "/dlls", AsVariable(Tree.PathOf("lib")), Conf + "/with blank"}));
    EXPECT_EQ(Config.ConfigExt, " Manifest.XML");
}

TEST_F(ConfigTest, ChildElementsGiveShieldedPluginsAndTheEnvironmentStore) {
    const std::string File = Tree.WriteFile("engine.xml",
                                            "<Engine>"
                                            "  <ShieldedPlugins><a>First</a><Other> Padded </Other><a/></ShieldedPlugins>"
                                            "  <EnvironmentVariables>"
                                            "    <Var Name='Home' Value='one'/><x Value='v' Name='Lang'/><Var Name='HOME' Value='two'/>"
                                            "  </EnvironmentVariables>"
                                            "  <ShieldedPlugins><a>Ignored</a></ShieldedPlugins>"
                                            "</Engine>");
    TORVEngine::ReadEngineConfig(File, Parser, Config);

    EXPECT_EQ(Config.ShieldedPlugins, (TStrings{"First", " Padded ", ""}));
    ASSERT_TRUE(Config.EnvironmentVariables);
    auto* Store = static_cast<TORVEnvironmentVariables*>(Config.EnvironmentVariables.Get());
    EXPECT_EQ(Store->GetNames(), (TStrings{"Home", "Lang"}));
    EXPECT_EQ(Store->GetValue("home"), "two");
    EXPECT_EQ(Store->GetValue("Lang"), "v");

    TEngineConfigEx Empty;
    TORVEngine::ReadEngineConfig(Tree.WriteFile("empty.xml", "<Engine Path=''><EnvironmentVariables/></Engine>"),
                                 Parser, Empty);
    ASSERT_TRUE(Empty.EnvironmentVariables);
    EXPECT_EQ(static_cast<TORVEnvironmentVariables*>(Empty.EnvironmentVariables.Get())->GetCount(), 0);
    EXPECT_EQ(Empty.Path, TStrings{Folder("")});
}

TEST_F(ConfigTest, AMissingFileRemovesTheConfigVariableWithAWarning) {
    Parser.SetVariable("%config%", Tree.PathOf("old"));
    TCurrentFolder Cwd(Tree.PathOf("cwd"));
    orv::test::TLogCapture Log;
    const std::string Name = std::string("nowhere") + Sep + "engine.xml";
    TORVEngine::ReadEngineConfig(Name, Parser, Config);
    EXPECT_EQ(Log.Lines(), TStrings{"W Engine configuration file [" + Name + "] not found: the defaults apply"});

    EXPECT_EQ(Config.Path, TStrings{std::string("nowhere") + Sep});
    EXPECT_EQ(Config.ConfigExt, "plugin.xml");
    EXPECT_EQ(ConfigVariable(), "<none>");
    // Later expansions leave the variable's text in place.
    EXPECT_EQ(Parser.Replace("%config%"), Tree.PathOf("app/bin/%config%"));
}

TEST_F(ConfigTest, DefaultsHoldWithoutRootElementAndWhenReadingRaises) {
    TORVEngine::ReadEngineConfig(Tree.WriteFile("conf/engine.xml", "<?xml version='1.0'?><!-- nothing -->"), Parser,
                                 Config);
    EXPECT_EQ(Config.Path, TStrings{Folder("conf")});
    EXPECT_EQ(Config.ConfigExt, "plugin.xml");
    EXPECT_EQ(ConfigVariable(), AsVariable(Tree.PathOf("conf")));

    TEngineConfigEx Broken;
    const std::string File = Tree.WriteFile("other/engine.xml", "<Engine Path='a'><unclosed></Engine>");
    EXPECT_THROW(TORVEngine::ReadEngineConfig(File, Parser, Broken), EORVException);
    EXPECT_EQ(Broken.Path, TStrings{Folder("other")});
    EXPECT_EQ(Broken.ConfigExt, "plugin.xml");
    EXPECT_EQ(ConfigVariable(), AsVariable(Tree.PathOf("other")));
}

TEST_F(ConfigTest, ARelativeNameIsFoundBesideTheLibraryAndTheCurrentFolderWins) {
    Tree.WriteFile("lib/engine.xml", "<Engine EntryPoint='beside.library'/>");
    Tree.WriteFile("app/bin/engine.xml", "<Engine EntryPoint='beside.exe'/>");
    TCurrentFolder Cwd(Tree.PathOf("cwd"));

    TORVEngine::ReadEngineConfig("engine.xml", Parser, Config);
    EXPECT_EQ(Config.EntryPoint, "beside.library");
    EXPECT_EQ(Config.Path, TStrings{Folder("lib")});

    Tree.WriteFile("cwd/engine.xml", "<Engine EntryPoint='current'/>");
    TEngineConfigEx Second;
    TORVEngine::ReadEngineConfig("engine.xml", Parser, Second);
    EXPECT_EQ(Second.EntryPoint, "current");
    EXPECT_EQ(ConfigVariable(), AsVariable(Tree.PathOf("cwd")));
}

TEST_F(ConfigTest, ResolvePathTriesCurrentFolderLibraryExecutableInTurnButAnAbsolutePathAsItStands) {
    TCurrentFolder Cwd(Tree.PathOf("cwd"));
    Tree.WriteFile("app/bin/only-exe.xml", "<x/>");
    Tree.WriteFile("lib/sub/both.xml", "<x/>");
    Tree.WriteFile("app/bin/sub/both.xml", "<x/>");
    Tree.WriteFile("cwd/here.xml", "<x/>");

    EXPECT_EQ(TORVEngine::ResolvePath("only-exe.xml", FileTest), Tree.PathOf("app/bin/only-exe.xml"));
    EXPECT_EQ(TORVEngine::ResolvePath(std::string("sub") + Sep + "both.xml", FileTest), Tree.PathOf("lib/sub/both.xml"));
    EXPECT_EQ(TORVEngine::ResolvePath("here.xml", FileTest), Tree.PathOf("cwd/here.xml"));
    EXPECT_EQ(TORVEngine::ResolvePath("missing.xml", FileTest), "missing.xml");
    // The existence test decides: a folder is not a file.
    EXPECT_EQ(TORVEngine::ResolvePath("sub", FileTest), "sub");
    EXPECT_EQ(TORVEngine::ResolvePath("sub", [](const std::string& P) { return Platform().FolderExists(P); }),
              Tree.PathOf("lib/sub"));

    // An absolute path is only tried as it stands.
    const std::string Missing = Tree.PathOf("nowhere/both.xml");
    EXPECT_EQ(TORVEngine::ResolvePath(Missing, FileTest), Missing);
    // Not even when the same text below the library's folder names a file (POSIX, where an
    // absolute path is a folder path that only lacks the prefix).
    if (TPathRules::ColonMakesAbsolute) return;
    Tree.WriteFile("lib" + Missing, "<x/>");
    EXPECT_EQ(TORVEngine::ResolvePath(Missing, FileTest), Missing);
}
