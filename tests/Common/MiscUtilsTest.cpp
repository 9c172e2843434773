// Path variables, path joining and list splitting.
#include "Common/ORVMiscUtils.h"
#include "Common/Platform.h"

#include <gtest/gtest.h>

using namespace orv;

namespace {

using TStrings = std::vector<std::string>;

// Reports fixed file names for the host executable and the engine module.
class TFakePaths : public TPlatform {
public:
    std::string Exe;
    std::string Module;
    std::string ExecutableFileName() override { return Exe; }
    std::string ModuleFileName() override { return Module; }
};

class MiscUtilsPathsTest : public ::testing::Test {
protected:
    TFakePaths Fake;
    TPlatformOverride Override{Fake};
};

TStrings Names(const TStringReplacer& R) {
    TStrings Result;
    for (const auto& Var : R.Variables()) Result.push_back(Var.first);
    return Result;
}

}  // namespace

TEST(MiscUtilsTest, SplitFollowsTheDelimitedTextRule) {
    EXPECT_EQ(TStringUtils::Split("a; b;;c;", ';'), (TStrings{"a", "b", "", "c", ""}));
    EXPECT_EQ(TStringUtils::Split("", ';'), TStrings{});
    EXPECT_EQ(TStringUtils::Split(" \t\n", ';'), TStrings{});
    EXPECT_EQ(TStringUtils::Split(";a", ';'), (TStrings{"", "a"}));
    // Only a delimiter that is the very last character adds an empty element.
    EXPECT_EQ(TStringUtils::Split("a; ", ';'), TStrings{"a"});
    EXPECT_EQ(TStringUtils::Split("a\tb\x01" "c", ';'), (TStrings{"a", "b", "c"}));
    EXPECT_EQ(TStringUtils::Split("/opt/My Apps/plugins;/usr/lib", ';'),
              (TStrings{"/opt/My", "Apps/plugins", "/usr/lib"}));
    EXPECT_EQ(TStringUtils::Split("\"/opt/My Apps/plugins\" ; /usr/lib", ';'),
              (TStrings{"/opt/My Apps/plugins", "/usr/lib"}));
    EXPECT_EQ(TStringUtils::Split("\"say \"\"hi\"\"\";x", ';'), (TStrings{"say \"hi\"", "x"}));
    EXPECT_EQ(TStringUtils::Split("x;\"/opt/My Apps;y", ';'), (TStrings{"x", "/opt/My Apps;y"}));
    EXPECT_EQ(TStringUtils::Split("\"\"", ';'), TStrings{""});
}

TEST(MiscUtilsTest, SplitAtLastCutsAtTheLastSeparator) {
    const char* const Cases[][4] = {{"ORVEngine.Runtime.applications", ".", "ORVEngine.Runtime", "applications"},
                                    {"applications", ".", "", "applications"},
                                    {"a/b\\c.d", "/\\", "a/b", "c.d"},
                                    {"a.", ".", "a", ""}};
    for (const auto& Case : Cases) {
        SCOPED_TRACE(Case[0]);
        const auto R = TStringUtils::SplitAtLast(Case[0], Case[1]);
        EXPECT_EQ(R.Head, Case[2]);
        EXPECT_EQ(R.Tail, Case[3]);
    }
}

TEST(MiscUtilsTest, ReplacerReplacesOneOccurrenceOfTheEarliestVariable) {
    TStringReplacer R;
    EXPECT_EQ(R.Replace("%A%"), "%A%");
    R.SetVariable("%A%", "one");
    R.SetVariable("%b%", "two");
    EXPECT_EQ(R.Replace("x%B%y%a%Z"), "x%B%yoneZ");  // earlier-registered wins though later in text
    EXPECT_EQ(R.Replace("%a%%A%"), "one%A%");
    EXPECT_EQ(R.Replace("Q%B%Q"), "QtwoQ");
    EXPECT_EQ(R.Replace("none"), "none");

    R.SetVariable("%A%", "uno");  // in place: keeps its position
    EXPECT_EQ(Names(R), (TStrings{"%a%", "%b%"}));
    R.SetVariable("%a%", "");     // removed, then appended again at the end
    EXPECT_EQ(R.Replace("%a%%b%"), "%a%two");
    R.SetVariable("%a%", "back");
    EXPECT_EQ(Names(R), (TStrings{"%b%", "%a%"}));
    R.SetVariable("%missing%", "");
    EXPECT_EQ(R.Variables().size(), 2u);
}

TEST(MiscUtilsTest, EmptyVariableNameFailsTheAssertion) {
    TStringReplacer R;
    try {
        R.SetVariable("", "x");
        FAIL() << "no assertion";
    } catch (const EAssertionFailed& E) {
        EXPECT_STREQ(E.what(), "Assertion failure (Common/ORVMiscUtils, line 71)");
    }
    EXPECT_TRUE(R.Variables().empty());
}

#ifndef _WIN32

TEST(MiscUtilsTest, PosixPathRules) {
    EXPECT_TRUE(TPathUtils::IsAbsolutePath("/"));
    EXPECT_FALSE(TPathUtils::IsAbsolutePath("C:"));
    EXPECT_FALSE(TPathUtils::IsAbsolutePath("\\\\server\\share"));
    EXPECT_FALSE(TPathUtils::IsAbsolutePath("opt/app"));
    EXPECT_FALSE(TPathUtils::IsAbsolutePath(""));

    EXPECT_EQ(TPathUtils::CombinePath("/opt/app", "name"), "/opt/app/name");
    EXPECT_EQ(TPathUtils::CombinePath("/opt/app/", "/name"), "/opt/app/name");
    EXPECT_EQ(TPathUtils::CombinePath("", "name"), "name");
    EXPECT_EQ(TPathUtils::CombinePath("/a/", "//b/../c"), "/a//b/../c");
    EXPECT_EQ(TPathUtils::CombinePath("/a\\", "\\b"), "/a\\/\\b");

    EXPECT_EQ(TPathUtils::IncludeTrailingSeparator(""), "");
    EXPECT_EQ(TPathUtils::IncludeTrailingSeparator("/a/"), "/a/");
    EXPECT_EQ(ExcludeTrailingSeparator("/a//"), "/a/");
    EXPECT_EQ(ExcludeTrailingSeparator("/a\\"), "/a\\");
    EXPECT_EQ(ExcludeTrailingSeparator(""), "");

    EXPECT_EQ(TPathUtils::ExtractFilePath("/Opt/App/host"), "/Opt/App/");
    EXPECT_EQ(TPathUtils::ExtractFilePath("C:App\\host"), "");
}

TEST_F(MiscUtilsPathsTest, FoldersComeFromTheExecutableAndTheModule) {
    Fake.Exe = "/Opt/App/Bin/host";
    Fake.Module = "/Opt/Lib/libORVEngine.so";
    EXPECT_EQ(TPathUtils::GetExePath(), "/Opt/App/Bin/");
    EXPECT_EQ(TPathUtils::GetModulePath(), "/Opt/Lib/");
    Fake.Exe = "host";
    EXPECT_EQ(TPathUtils::GetExePath(), "");
}

TEST_F(MiscUtilsPathsTest, ParserRegistersFoldersAndAnchorsRelativeResults) {
    Fake.Exe = "/Opt/App/Bin/host";
    TPathParser P("/Opt/Mod//", "");
    ASSERT_EQ(Names(P), (TStrings{"%exe%", "%module%"}));
    EXPECT_EQ(P.Variables()[0].second, "/Opt/App/Bin");  // case kept, separator dropped
    EXPECT_EQ(P.Variables()[1].second, "/Opt/Mod/");     // only one separator dropped

    EXPECT_EQ(P.Replace("%EXE%/Plugins"), "/Opt/App/Bin/Plugins");
    EXPECT_EQ(P.Replace("%exe%/a/%exe%"), "/Opt/App/Bin/a/%exe%");
    EXPECT_EQ(P.Replace("Plugins"), "/Opt/App/Bin/Plugins");
    EXPECT_EQ(P.Replace("/Plugins"), "/Plugins");
    EXPECT_EQ(P.Replace("%config%/name"), "/Opt/App/Bin/%config%/name");

    P.SetVariable("%config%", "/Etc/Orv/");
    EXPECT_EQ(P.Replace("%config%/x"), "/Etc/Orv/x");
    Fake.Exe = "/Moved/host";  // the anchor is read afresh on every call
    EXPECT_EQ(P.Replace("rel"), "/Moved/rel");
}

TEST_F(MiscUtilsPathsTest, ConfigReregisteredMovesBehindModule) {
    Fake.Exe = "/App/host";
    TPathParser P("", "/Cfg");
    P.SetVariable("%module%", "/Mod");
    EXPECT_EQ(P.Replace("/%module%%config%"), "/%module%/Cfg");
    P.SetVariable("%config%", "");
    EXPECT_EQ(P.Replace("%config%/name"), "/App/%config%/name");
    P.SetVariable("%config%", "/Cfg");
    EXPECT_EQ(Names(P), (TStrings{"%exe%", "%module%", "%config%"}));
    EXPECT_EQ(P.Replace("/%config%%module%"), "/%config%/Mod");
}

#else

TEST(MiscUtilsTest, WindowsPathRules) {
    EXPECT_TRUE(TPathUtils::IsAbsolutePath("C:"));
    EXPECT_TRUE(TPathUtils::IsAbsolutePath("x:y"));
    EXPECT_FALSE(TPathUtils::IsAbsolutePath("\\\\server\\share"));
    EXPECT_FALSE(TPathUtils::IsAbsolutePath("\\App"));

    EXPECT_EQ(TPathUtils::CombinePath("C:\\App", "name"), "C:\\App\\name");
    EXPECT_EQ(TPathUtils::CombinePath("C:\\App\\", "\\name"), "C:\\App\\name");
    EXPECT_EQ(TPathUtils::CombinePath("C:/App/", "/name"), "C:/App/name");
    EXPECT_EQ(TPathUtils::CombinePath("", "name"), "name");

    EXPECT_EQ(TPathUtils::IncludeTrailingSeparator("C:\\a/"), "C:\\a/");
    EXPECT_EQ(ExcludeTrailingSeparator("C:\\a\\\\"), "C:\\a\\");
    EXPECT_EQ(ExcludeTrailingSeparator("C:\\a/"), "C:\\a");

    EXPECT_EQ(TPathUtils::ExtractFilePath("C:host.exe"), "C:");
    // "/" ends a folder part as "\\" does.
    EXPECT_EQ(TPathUtils::ExtractFilePath("C:\\App/host.exe"), "C:\\App/");
    EXPECT_EQ(TPathUtils::ExtractFilePath("C:/app/engine.xml"), "C:/app/");
    EXPECT_EQ(TStringUtils::Split("C:\\Program Files\\App;D:\\x", ';'),
              (TStrings{"C:\\Program", "Files\\App", "D:\\x"}));
}

TEST_F(MiscUtilsPathsTest, WindowsParserLowerCasesValues) {
    Fake.Exe = "C:\\App\\Bin\\host.exe";
    TPathParser P("", "");
    EXPECT_EQ(P.Variables().at(0).second, "c:\\app\\bin");
    EXPECT_EQ(P.Replace("%EXE%\\Plugins"), "c:\\app\\bin\\Plugins");
    EXPECT_EQ(P.Replace("%exe%\\a\\%exe%"), "c:\\app\\bin\\a\\%exe%");
    EXPECT_EQ(P.Replace("%config%\\name"), "C:\\App\\Bin\\%config%\\name");
    EXPECT_EQ(P.Replace("Plugins"), "C:\\App\\Bin\\Plugins");
    EXPECT_EQ(P.Replace("\\Plugins"), "C:\\App\\Bin\\Plugins");
}

#endif
