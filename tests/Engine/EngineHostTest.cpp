// Whole programs on top of the engine, run as child processes: the launcher orv-host on the hello
// example and on a failing configuration, and a host that ends without shutting the engine down.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>

#include "Common/Platform.h"
#include "ModelTestSupport.h"
#include "Support/ChildProcess.h"
#include "Support/NativeText.h"
#include "Support/TempFolder.h"

using namespace orv;
using namespace orv::test;

namespace {

const std::string BinDir = ORV_TEST_BIN_DIR;
const char* const JournalName = "orv-e2e-journal.txt";

bool Contains(const std::string& Text, const std::string& Part) { return Text.find(Part) != std::string::npos; }

class EngineHostTest : public ::testing::Test {
protected:
    // A run of the program Name from the output folder with Args.
    TProgramRun Run(const std::string& Name, const std::vector<std::string>& Args) {
        const std::string Program = FindProgram(BinDir, Name);
        if (Program.empty()) {
            ADD_FAILURE() << Name << " is not built in " << BinDir;
            return TProgramRun();
        }
        return RunProgram(Program, Args, Tree.MakeFolder("output"));
    }
    // An application tree: a runtime plug-in started with the engine, an application started on
    // first use, both of the probe library; the engine configuration is returned.
    std::string WriteApplication(const std::string& ExtraPlugin = std::string()) {
        const std::string Probe = TestPluginPath("e2e_probe");
        Tree.WriteFile(JournalName, "");
        Tree.WriteFile("plugins/runtime/plugin.xml", "<Plugin ID=\"ORVEngine.Runtime\" Initialize=\"true\" Library=\"" +
                                                         Probe + "\"><ExtensionPoint ID=\"applications\"/></Plugin>");
        Tree.WriteFile("plugins/app/plugin.xml",
                       "<Plugin ID=\"e2e.app\" Library=\"" + Probe +
                           "\"><Extension ID=\"main\" Points=\"ORVEngine.Runtime.applications\"/></Plugin>");
        if (!ExtraPlugin.empty()) Tree.WriteFile("plugins/extra/plugin.xml", ExtraPlugin);
        return Tree.WriteFile("engine.xml", "<Engine Path=\"" + Tree.PathOf("plugins") + "\"/>");
    }
    std::string Journal() const {
        std::ifstream In(Tree.PathOf(JournalName), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>());
    }

    TTempFolder Tree;
};

// A signal while the application waits: the hello application returns from Run, and the
// launcher stops every plug-in as usual.
TEST_F(EngineHostTest, SignalEndsTheWaitingHelloApplicationAndEveryPluginStops) {
    if (TPathRules::BackslashIsSeparator) GTEST_SKIP() << "no POSIX signals to send on Windows";
    const std::string Host = FindProgram(BinDir, "orv-host");
    const std::string Config = BinDir + "/examples/hello/engine.xml";
    const std::string Out = Tree.PathOf("host.out");
    // Waits (10 s at the most) for the application to wait, then sends SIGTERM.
    const std::string Script = Tree.WriteFile(
        "signal.sh", Host + " " + Config + " --wait >" + Out + " 2>&1 &\npid=$!\nn=0\n"
                     "while ! grep -q waiting " + Out + " && [ $n -lt 500 ]; do sleep 0.02; n=$((n + 1)); done\n"
                     "kill -TERM $pid\nwait $pid\necho exit=$?\n");
    TProgramRun Run = RunProgram("/bin/sh", {Script}, Tree.MakeFolder("output"));
    std::ifstream In(Out, std::ios::binary);
    const std::string Output((std::istreambuf_iterator<char>(In)), std::istreambuf_iterator<char>());
    EXPECT_TRUE(Contains(Run.Out, "exit=0")) << Run.Out << Output;
    for (const char* Line : {"signalled: leaving Run", "[hello.app] stopped", "[hello.chinese] stopped",
                             "[hello.english] stopped", "[ORVEngine.Runtime] stopped"})
        EXPECT_TRUE(Contains(Output, Line)) << Line << "\n" << Output;
}

TEST_F(EngineHostTest, LauncherRunsTheHelloExample) {
    // Native separators: on Windows only "\\" ends the folder part that %config% is taken from.
    const char Sep = TPathRules::Delimiter;
    const std::string Config = BinDir + Sep + "examples" + Sep + "hello" + Sep + "engine.xml";
    ASSERT_TRUE(Platform().FileExists(Config)) << Config;

    TProgramRun Hello = Run("orv-host", {Config, "Tester"});
    EXPECT_EQ(Hello.ExitCode, 0) << Hello.Err;
    // Both greeters, the lazily loaded one included, greet the name given on the command line.
    EXPECT_TRUE(Contains(Hello.Out, "2 greeter(s) for Tester:")) << Hello.Out;
    EXPECT_TRUE(Contains(Hello.Out, "Hello, Tester!")) << Hello.Out;
    EXPECT_TRUE(Contains(Hello.Out, orv::test::NativeText("你好, Tester!"))) << Hello.Out;
    // The folder "more" is loaded at run time and dropped again; the listener tells each change.
    for (const char* Line : {"registry changed (load):", "  added: hello.french", "hello.app.greeters: +hello.french.french",
                             "3 greeter(s) for Tester:", "Bonjour, Tester!", "registry changed (start):",
                             "  started: hello.french", "registry changed (unload):", "  removed: hello.french",
                             "  stopped: hello.french", "hello.app.greeters: -hello.french.french"})
        EXPECT_TRUE(Contains(Hello.Out, Line)) << Line << "\n" << Hello.Out;

    // Without an argument the name comes from the configuration's environment variables.
    TProgramRun Configured = Run("orv-host", {"--quiet", Config});
    EXPECT_EQ(Configured.ExitCode, 0) << Configured.Err;
    EXPECT_TRUE(Contains(Configured.Out, "Hello, plug-in world!")) << Configured.Out;
}

// --profile=FILE: the summary on stderr and a trace whose steps account for the start's time.
TEST_F(EngineHostTest, LauncherProfilesTheHelloExample) {
    const char Sep = TPathRules::Delimiter;
    const std::string Config = BinDir + Sep + "examples" + Sep + "hello" + Sep + "engine.xml";
    const std::string TraceFile = Tree.PathOf("trace.json");
    TProgramRun Host = Run("orv-host", {"--quiet", "--profile=" + TraceFile, Config, "Tester"});
    EXPECT_EQ(Host.ExitCode, 0) << Host.Err;
    EXPECT_TRUE(Contains(Host.Out, "Hello, Tester!")) << Host.Out;
    for (const char* Line : {"orv-host: start-up profile", "phase discovery", "plug-in hello.english",
                             "plug-in ORVEngine.Runtime", "after the start: plug-in hello.app", "after the start: Run"})
        EXPECT_TRUE(Contains(Host.Err, Line)) << Line << "\n" << Host.Err;

    std::ifstream In(TraceFile, std::ios::binary);
    const nlohmann::json Trace = nlohmann::json::parse(In, nullptr, false);
    ASSERT_FALSE(Trace.is_discarded()) << "the trace is no JSON";
    ASSERT_TRUE(Trace["traceEvents"].is_array());
    std::map<std::string, int> Starts;
    const nlohmann::json* Startup = nullptr;
    for (const nlohmann::json& E : Trace["traceEvents"]) {
        EXPECT_EQ(E.value("ph", ""), "X");
        EXPECT_GE(E.value("dur", -1), 0);
        if (E.value("cat", "") == "Start") ++Starts[E["args"].value("plugin", "")];
        if (E.value("cat", "") == "start") Startup = &E;
    }
    // One Start per started plug-in, those started on first use included.
    EXPECT_EQ(Starts, (std::map<std::string, int>{
                          {"ORVEngine.Runtime", 1}, {"hello.app", 1}, {"hello.chinese", 1}, {"hello.english", 1},
                          {"hello.french", 1}}));
    ASSERT_NE(Startup, nullptr);

    // The phases and the plug-ins' steps within the start cover its wall time. Not to the percent:
    // on a busy machine the process loses the processor between two phases as well, which no
    // phase accounts for; a step that the profile misses leaves a gap larger than that.
    const std::set<std::string> Accounted{"configuration", "discovery", "manifests", "linking", "validation",
                                          "start line",    "load",      "GetPluginImpl", "Start"};
    const int64_t From = (*Startup)["ts"], Total = (*Startup)["dur"];
    int64_t Sum = 0;
    for (const nlohmann::json& E : Trace["traceEvents"]) {
        const int64_t Ts = E["ts"], Dur = E["dur"];
        if (Accounted.count(E.value("cat", "")) && Ts >= From && Ts + Dur <= From + Total) Sum += Dur;
    }
    EXPECT_LE(Sum, Total);
    EXPECT_GE(Sum, Total - Total / 4) << "sum " << Sum << " of " << Total << " us";
}

TEST_F(EngineHostTest, LauncherExitsNonZeroWithTheMessageOfAFailedStart) {
    const std::string Config = WriteApplication("<Plugin ID=\"e2e.faulty\" Initialize=\"true\" Library=\"" +
                                                TestPluginPath("e2e_faulty") + "\"/>");
    TProgramRun Failed = Run("orv-host", {Config, "ignored"});
    EXPECT_EQ(Failed.ExitCode, 1);
    EXPECT_TRUE(Contains(Failed.Err, "orv-host: start refused")) << Failed.Err;
    // The application never ran.
    EXPECT_FALSE(Contains(Journal(), "run ")) << Journal();
}

TEST_F(EngineHostTest, LauncherExitCodesTellWhetherTheApplicationRan) {
    const std::string Probe = TestPluginPath("e2e_probe");
    const std::string Runtime = "<Plugin ID=\"ORVEngine.Runtime\" Initialize=\"true\" Library=\"" + Probe +
                                "\"><ExtensionPoint ID=\"applications\"/></Plugin>";
    auto App = [](const std::string& Library) {
        return "<Plugin ID=\"e2e.app\" Library=\"" + Library +
               "\"><Extension ID=\"main\" Points=\"ORVEngine.Runtime.applications\"/></Plugin>";
    };
    const std::string NotALibrary = Tree.WriteFile("junk/not-a-library.so", "text\n");
    struct TCase {
        const char* Name;
        std::string AppManifest;  // empty: no application plug-in
        std::vector<std::string> Args;
        int ExitCode;
        const char* ErrLine;  // a line the launcher writes to stderr, empty for none
    };
    const TCase Cases[] = {
        {"runs", App(Probe), {}, 0, ""},
        {"application shuts the engine down", App(Probe), {"shutdown-self"}, 0, ""},
        {"no entry point", "", {}, 1, "orv-host: no application ran"},
        {"entry point's library does not load", App(NotALibrary), {}, 1, "orv-host: no application ran"},
    };
    int Index = 0;
    for (const TCase& Case : Cases) {
        SCOPED_TRACE(Case.Name);
        // (A blank would split the configured Path.)
        const std::string Root = "trees/" + std::to_string(Index++) + "/";
        Tree.WriteFile(Root + "plugins/runtime/plugin.xml", Runtime);
        if (!Case.AppManifest.empty()) Tree.WriteFile(Root + "plugins/app/plugin.xml", Case.AppManifest);
        const std::string Config =
            Tree.WriteFile(Root + "engine.xml", "<Engine Path=\"" + Tree.PathOf(Root + "plugins") + "\"/>");
        std::vector<std::string> Args{Config};
        Args.insert(Args.end(), Case.Args.begin(), Case.Args.end());
        TProgramRun Host = Run("orv-host", Args);
        EXPECT_EQ(Host.ExitCode, Case.ExitCode) << Host.Err;
        if (*Case.ErrLine)
            EXPECT_TRUE(Contains(Host.Err, Case.ErrLine)) << Host.Err;
        else
            EXPECT_FALSE(Contains(Host.Err, "orv-host:")) << Host.Err;
    }

    // A configuration file that cannot be used is a usage error, before the engine starts.
    for (const std::string& Name : {std::string("no-such-engine.xml"), Tree.PathOf("junk")}) {
        TProgramRun Refused = Run("orv-host", {Name});
        EXPECT_EQ(Refused.ExitCode, 2) << Name;
        EXPECT_TRUE(Contains(Refused.Err, "orv-host: configuration file ")) << Refused.Err;
        EXPECT_TRUE(Contains(Refused.Err, Name)) << Refused.Err;
        EXPECT_FALSE(Contains(Refused.Err, "INFO")) << Refused.Err;
    }
}

TEST_F(EngineHostTest, LauncherEscapesControlCharactersOfTheLog) {
    if (TPathRules::Delimiter != '/') GTEST_SKIP() << "file names cannot hold control characters here";
    // A folder name with an escape sequence and an id with a C1 control (both legal where they come from).
    Tree.WriteFile("plugins/\x1B[31mred/plugin.xml", "<Plugin ID=\"p\xC2\x9Bq\" Library=\"none.so\"/>");
    const std::string Config = Tree.WriteFile("engine.xml", "<Engine Path=\"" + Tree.PathOf("plugins") + "\"/>");
    TProgramRun Host = Run("orv-host", {Config});
    EXPECT_TRUE(Contains(Host.Err, "\\x1B[31mred/")) << Host.Err;
    EXPECT_TRUE(Contains(Host.Err, "p\\u009Bq")) << Host.Err;
    EXPECT_FALSE(Contains(Host.Err, "\x1B")) << Host.Err;
    EXPECT_FALSE(Contains(Host.Err, "\xC2\x9B")) << Host.Err;
}

TEST_F(EngineHostTest, HostEndingWithoutShutdownExitsCleanly) {
    const std::string Config = WriteApplication();
    TProgramRun Host = Run("orv_test_host", {Config});
    EXPECT_EQ(Host.ExitCode, 0) << Host.Err;
    // The plug-ins were loaded and started, the application ran, and nothing was stopped.
    const std::string Lines = Journal();
    EXPECT_TRUE(Contains(Lines, "start ORVEngine.Runtime env=\n")) << Lines;
    EXPECT_TRUE(Contains(Lines, "start e2e.app env=\n")) << Lines;
    EXPECT_TRUE(Contains(Lines, "run e2e.app.main args= env=\n")) << Lines;
    EXPECT_FALSE(Contains(Lines, "stop ")) << Lines;
}

}  // namespace
