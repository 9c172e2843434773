// orv-inspect --check-load on plug-ins whose libraries fail in every way a library can fail when it
// is loaded and called: each fault is its own finding, named with its phase, and the inspector
// itself survives them all.
#include "Support/ChildProcess.h"
#include "Support/TempFolder.h"

#include "Common/Platform.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <map>

using namespace orv;
using namespace orv::test;

namespace {

const std::string BinDir = ORV_TEST_BIN_DIR;
constexpr bool Windows = TPathRules::Delimiter == '\\';

class LoadCheckTest : public ::testing::Test {
protected:
    // A case folder holding a copy of the test library Name and a manifest of plug-in Name with
    // one extension on its own point.
    void AddPlugin(const std::string& Name) {
        const std::string Library = Name + (Windows ? ".dll" : ".so");
        Tree.CopyFile(BinDir + "/" + Library, "cases/" + Name + "/" + Library);
        Tree.WriteFile("cases/" + Name + "/plugin.xml", "<Plugin ID=\"" + Name + "\" Library=\"" + Library +
                                                            "\"><ExtensionPoint ID=\"slot\"/>"
                                                            "<Extension ID=\"object\" Points=\"" + Name + ".slot\"/></Plugin>");
    }
    TProgramRun Inspect(const std::vector<std::string>& Args) {
        const std::string Program = FindProgram(BinDir, "orv-inspect");
        if (Program.empty()) ADD_FAILURE() << "orv-inspect is not built in " << BinDir;
        return RunProgram(Program, Args, Tree.MakeFolder("output"));
    }

    TTempFolder Tree;
};

TEST_F(LoadCheckTest, EachFaultIsItsOwnFindingAndTheInspectorSurvivesThemAll) {
    struct TCase {
        std::string Rule;
        std::string Says;  // a part of the message: the phase, the signal, the text raised
    };
    std::map<std::string, TCase> Cases = {
        {"loadcheck_abort_on_load", {"aborted", "while the library was loaded"}},
        {"loadcheck_hang_on_load", {"hung", "did not come back within 2 s (while the library was loaded)"}},
        {"loadcheck_null_in_entry", {"crashed", Windows ? "EXCEPTION_ACCESS_VIOLATION in GetPluginImpl" : "SIGSEGV in GetPluginImpl"}},
        {"loadcheck_helper", {"load-failed", "loadcheck_gone"}},
        {"loadcheck_entry_raises", {"raised", "in GetPluginImpl: entry refused"}},
        {"loadcheck_entry_nil", {"not-a-plugin", "yielded no plug-in object"}},
        {"loadcheck_entry_not_plugin", {"not-a-plugin", "without IORVPlugin"}},
        {"loadcheck_factory_raises", {"raised", "in the factory of extension [loadcheck_factory_raises.object]: factory refused"}},
        {"loadcheck_factory_nil", {"factory-failed", "[loadcheck_factory_nil.object] failed: the factory yielded no object"}},
        {"loadcheck_good", {"loads", " ms; its objects were made and released"}},
    };
    if (!Windows) Cases["loadcheck_undefined"] = {"load-failed", "LoadCheckNowhereDefined"};
    for (const auto& Case : Cases) AddPlugin(Case.first);

    // All at once, a few at a time: each plug-in gets exactly its own finding.
    TProgramRun Run = Inspect({"--check-load", "--timeout", "2", "--format", "json", Tree.PathOf("cases")});
    ASSERT_EQ(Run.ExitCode, 1) << Run.Err;
    const nlohmann::json Report = nlohmann::json::parse(Run.Out);
    std::map<std::string, std::vector<const nlohmann::json*>> Found;
    for (const nlohmann::json& F : Report["findings"]) Found[F["plugin"].get<std::string>()].push_back(&F);
    for (const auto& Case : Cases) {
        SCOPED_TRACE(Case.first);
        ASSERT_EQ(Found[Case.first].size(), 1u);
        const nlohmann::json& F = *Found[Case.first][0];
        EXPECT_EQ(F["rule"].get<std::string>(), Case.second.Rule);
        EXPECT_EQ(F["severity"].get<std::string>(), Case.second.Rule == "loads" ? "note" : "error");
        EXPECT_NE(F["message"].get<std::string>().find(Case.second.Says), std::string::npos) << F["message"].get<std::string>();
    }
    EXPECT_EQ(Found.size(), Cases.size()) << Run.Out;
}

TEST_F(LoadCheckTest, AGoodTreePassesWithItsLoadTimesAndStartsOnRequest) {
    AddPlugin("loadcheck_good");
    for (bool Start : {false, true}) {
        std::vector<std::string> Args{"--check-load", Tree.PathOf("cases")};
        if (Start) Args.insert(Args.begin() + 1, "--start");
        const TProgramRun Run = Inspect(Args);
        EXPECT_EQ(Run.ExitCode, 0) << Run.Out << Run.Err;
        EXPECT_NE(Run.Out.find("0 errors, 0 warnings, 1 note"), std::string::npos) << Run.Out;
        EXPECT_NE(Run.Out.find(Start ? " ms, starts and stops; " : " ms; its objects"), std::string::npos) << Run.Out;
    }
    // The options that only --check-load takes are refused without it.
    EXPECT_EQ(Inspect({"--start", Tree.PathOf("cases")}).ExitCode, 2);
    EXPECT_EQ(Inspect({"--check-load", "--timeout", "0", Tree.PathOf("cases")}).ExitCode, 2);
}

}  // namespace
