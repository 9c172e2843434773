// orv-inspect run as a user runs it, on fixture trees with one finding each, and on all of them at
// once; and the library file readers it uses, on real, crafted and damaged files.
#include "LibraryFile.h"
#include "Support/ChildProcess.h"
#include "Support/TempFolder.h"

#include "Common/Platform.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>

#ifndef _WIN32
#include <unistd.h>
#endif

using namespace orv;
using namespace orv::test;
using TJson = nlohmann::json;

namespace {

using TStrings = std::vector<std::string>;
const std::string BinDir = ORV_TEST_BIN_DIR;
constexpr bool Windows = TPathRules::Delimiter == '\\';

std::string TestLibrary(const std::string& Name) {
    for (const char* Suffix : {".so", ".dll"})
        if (Platform().FileExists(BinDir + "/" + Name + Suffix)) return BinDir + "/" + Name + Suffix;
    return std::string();
}

std::string ReadAll(const std::string& Path) {
    std::ifstream In(Path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>());
}

// A 32-bit Windows DLL made of headers and one section holding an export directory (naming
// GetPluginImpl@8) and an import directory (KERNEL32.dll).
std::string CraftedPe() {
    std::string B(0x400, '\0');
    auto Put = [&B](std::size_t At, uint64_t V, int Width) {
        for (int I = 0; I < Width; ++I) B[At + I] = static_cast<char>((V >> (8 * I)) & 0xFF);
    };
    auto Text = [&B](std::size_t At, const char* S) { B.replace(At, std::string(S).size(), S); };
    B[0] = 'M', B[1] = 'Z';
    Put(0x3C, 0x40, 4);
    Text(0x40, "PE");
    const std::size_t Coff = 0x44, Optional = Coff + 20, Section = Optional + 224;
    Put(Coff, 0x14c, 2);                // i386
    Put(Coff + 2, 1, 2);                // one section
    Put(Coff + 16, 224, 2);             // the PE32 optional header
    Put(Coff + 18, 0x2102, 2);          // a DLL
    Put(Optional, 0x10b, 2);            // PE32
    Put(Optional + 92, 16, 4);          // data directories
    Put(Optional + 96, 0x1000, 4);      // export directory at RVA 0x1000
    Put(Optional + 104, 0x1100, 4);     // import directory at RVA 0x1100
    Put(Section + 8, 0x200, 4);         // virtual size
    Put(Section + 12, 0x1000, 4);       // virtual address
    Put(Section + 16, 0x200, 4);        // raw size
    Put(Section + 20, 0x200, 4);        // raw offset: RVA 0x1000 is file offset 0x200
    Put(0x200 + 24, 1, 4);              // one name
    Put(0x200 + 32, 0x1040, 4);         // the name table
    Put(0x240, 0x1060, 4);              // -> the name
    Text(0x260, "GetPluginImpl@8");
    Put(0x300 + 12, 0x1180, 4);         // the import descriptor's DLL name
    Text(0x380, "KERNEL32.dll");
    return B;
}

// A 64-bit x86-64 ELF shared object header and nothing else.
std::string CraftedElf64() {
    std::string B(64, '\0');
    B.replace(0, 4, "\x7F" "ELF");
    B[4] = 2, B[5] = 1, B[6] = 1, B[16] = 3, B[18] = 62;
    return B;
}

void Put(std::string& B, std::size_t At, uint64_t V, int Width) {
    for (int I = 0; I < Width; ++I) B[At + I] = static_cast<char>((V >> (8 * I)) & 0xFF);
}

// The header of a 64-bit little-endian ELF shared object for Machine, Size bytes in all.
std::string ElfImage(uint16_t Machine, std::size_t Size) {
    std::string B = CraftedElf64();
    Put(B, 18, Machine, 2);
    Put(B, 54, 56, 2);  // e_phentsize
    Put(B, 58, 64, 2);  // e_shentsize
    B.resize(Size);
    return B;
}

// 2,000 section headers that all name one dynamic symbol table of 10,000 symbols whose names are
// empty (its own first bytes are taken for the strings).
std::string ManySymbolTables(uint16_t Machine) {
    const std::size_t Sections = 2000, Symbols = 10000, Table = 64 + Sections * 64;
    std::string B = ElfImage(Machine, Table + Symbols * 24);
    Put(B, 40, 64, 8);  // e_shoff
    Put(B, 60, Sections, 2);
    for (std::size_t I = 0; I < Sections; ++I) {
        const std::size_t S = 64 + I * 64;
        Put(B, S + 4, 11, 4);  // SHT_DYNSYM
        Put(B, S + 24, Table, 8);
        Put(B, S + 32, Symbols * 24, 8);
        Put(B, S + 56, 24, 8);
    }
    for (std::size_t K = 1; K < Symbols; ++K) {
        B[Table + K * 24 + 4] = 0x12;  // a global function
        Put(B, Table + K * 24 + 6, 1, 2);
    }
    return B;
}

// 250,000 DT_NEEDED entries that all name one library nobody has.
std::string RepeatedNeeded(uint16_t Machine) {
    const std::size_t Entries = 250000, Dynamic = 64 + 2 * 56, Strings = Dynamic + (Entries + 3) * 16;
    const std::string Name = "libnowhere-at-all.so";
    std::string B = ElfImage(Machine, Strings + Name.size() + 2);
    B.replace(Strings + 1, Name.size(), Name);
    Put(B, 32, 64, 8);  // e_phoff
    Put(B, 56, 2, 2);   // PT_LOAD of the whole file at address 0, PT_DYNAMIC
    Put(B, 64, 1, 4);
    Put(B, 64 + 32, B.size(), 8);
    Put(B, 64 + 40, B.size(), 8);
    Put(B, 120, 2, 4);
    Put(B, 120 + 8, Dynamic, 8);
    Put(B, 120 + 16, Dynamic, 8);
    Put(B, 120 + 32, (Entries + 3) * 16, 8);
    for (std::size_t I = 0; I < Entries; ++I) {
        Put(B, Dynamic + I * 16, 1, 8);  // DT_NEEDED
        Put(B, Dynamic + I * 16 + 8, 1, 8);
    }
    const std::size_t End = Dynamic + Entries * 16;
    Put(B, End, 5, 8);  // DT_STRTAB
    Put(B, End + 8, Strings, 8);
    Put(B, End + 16, 10, 8);  // DT_STRSZ
    Put(B, End + 24, Name.size() + 2, 8);
    return B;
}

class InspectTest : public ::testing::Test {
protected:
    TProgramRun Run(const std::string& Name, const TStrings& Args, TStdout Stdout = TStdout::Collected) {
        const std::string Program = FindProgram(BinDir, Name);
        if (Program.empty()) {
            ADD_FAILURE() << Name << " is not built in " << BinDir;
            return TProgramRun();
        }
        return RunProgram(Program, Args, Tree.MakeFolder("output"), Stdout);
    }
    TProgramRun Inspect(const TStrings& Args, TStdout Stdout = TStdout::Collected) {
        return Run("orv-inspect", Args, Stdout);
    }
    // The rules of the findings of a JSON report, sorted, with repeats.
    static TStrings Rules(const TJson& Report) {
        TStrings Result;
        for (const TJson& F : Report.at("findings")) Result.push_back(F.at("rule").get<std::string>());
        std::sort(Result.begin(), Result.end());
        return Result;
    }
    std::string Plugin(const std::string& Folder, const std::string& Xml) {
        return Tree.WriteFile("cases/" + Folder + "/plugin.xml", Xml);
    }
    std::string Copy(const std::string& Library, const std::string& Folder) {
        return Tree.CopyFile(Library, "cases/" + Folder + "/" + Library.substr(Library.find_last_of("/\\") + 1));
    }

    TTempFolder Tree;
};

TEST_F(InspectTest, EachKindOfFindingInItsOwnTreeAndAllOfThemInOne) {
    // Every case folder holds one problem; its plug-ins' ids are its own.
    struct TCase {
        std::string Folder;
        std::string Rule;
        const char* Severity;
    };
    std::vector<TCase> Cases;
    auto Add = [&](const std::string& Folder, const std::string& Xml, const std::string& Rule, const char* Severity) {
        Plugin(Folder, Xml);
        Cases.push_back({Folder, Rule, Severity});
    };
    Add("malformed", "<Plugin ID=\"malformed\">\n  <Extension ID=\"e\" Points=\"x\"\n</Plugin>\n", "malformed-manifest", "error");
    Add("rootless", "<?xml version=\"1.0\"?>\n<!-- nothing here -->\n", "no-root-element", "error");
    Add("node", "<Plugins><Comment/><Plugin ID=\"node\"/></Plugins>", "invalid-node", "error");
    Add("noid", "<Plugin Name=\"no id\"/>", "missing-attribute", "error");
    Add("nopoints", "<Plugin ID=\"nopoints\"><Extension ID=\"e\"/></Plugin>", "missing-attribute", "error");
    Add("unknown", "<Plugin ID=\"unknown\"><Extension ID=\"e\" Points=\"nobody.slot\"/></Plugin>", "unknown-extension-point", "error");
    Add("required", "<Plugin ID=\"required\"><ExtensionPoint ID=\"s\" Required=\"yes\"/></Plugin>", "required-point-empty", "error");
    Add("unique",
        "<Plugin ID=\"unique\"><ExtensionPoint ID=\"s\" Unique=\"1\"/><Extension ID=\"a\" Points=\"s\"/>"
        "<Extension ID=\"b\" Points=\"s\"/></Plugin>",
        "unique-point-overfull", "error");
    Add("library", "<Plugin ID=\"library\" Library=\"nowhere.so\"/>", "missing-library", "warning");
    Add("shielded", "<Plugin ID=\"shielded\"/>", "shielded-plugin", "note");
    Tree.WriteFile("cases/duplicate/a/plugin.xml", "<Plugin ID=\"duplicate\"/>");
    Tree.WriteFile("cases/duplicate/b/plugin.xml", "<Plugin ID=\"duplicate\"/>");
    Cases.push_back({"duplicate", "duplicate-plugin-id", "warning"});
    // The libraries, read as files.
    Tree.WriteFile("cases/text/not-a-library.so", "just some text\n");
    Add("text", "<Plugin ID=\"text\" Library=\"not-a-library.so\"/>", "not-a-library", "error");
    Tree.WriteFile("cases/foreign/foreign.lib", Windows ? CraftedElf64() : CraftedPe());
    Add("foreign", "<Plugin ID=\"foreign\" Library=\"foreign.lib\"/>", "wrong-architecture", "error");
    Copy(TestLibrary("model_noentry"), "noentry");
    Add("noentry", "<Plugin ID=\"noentry\" Library=\"" + TestLibrary("model_noentry").substr(BinDir.size() + 1) + "\"/>",
        "missing-plugin-entry", "warning");
    const std::string Full = TestLibrary("model_full").substr(BinDir.size() + 1);
    Copy(TestLibrary("model_full"), "nofactory");
    Add("nofactory",
        "<Plugin ID=\"nofactory\" Library=\"" + Full + "\"><ExtensionPoint ID=\"s\"/>"
        "<Extension ID=\"e\" Points=\"s\" FactoryMethod=\"Absent\"/></Plugin>",
        "missing-factory", "warning");
    const std::string Dependent = Windows ? BinDir + "/win_dependent/win_dependent.dll"
                                          : BinDir + "/inspect_dependent/inspect_dependent.so";
    const std::string DependentName = Copy(Dependent, "dependent");
    Add("dependent", "<Plugin ID=\"dependent\" Library=\"" + DependentName.substr(DependentName.find_last_of("/\\") + 1) + "\"/>",
        "missing-dependency", "error");
    if (Windows) {
        Copy(TestLibrary("inspect_decorated"), "decorated");
        Add("decorated", "<Plugin ID=\"decorated\" Library=\"inspect_decorated.dll\"/>", "decorated-export", "error");
    }
    // A Library that is there but is no file: an error where the plug-in starts with the engine.
    Add("libfolder", "<Plugin ID=\"libfolder\" Library=\"folder.lib\" Initialize=\"true\"/>", "library-not-a-file", "error");
    Tree.MakeFolder("cases/libfolder/folder.lib");
    if (!Windows) {
        namespace fs = std::filesystem;
        Add("libzero", "<Plugin ID=\"libzero\" Library=\"zero.so\" Initialize=\"true\"/>", "library-not-a-file", "error");
        fs::create_symlink("/dev/zero", Tree.PathOf("cases/libzero/zero.so"));
        Add("libdangling", "<Plugin ID=\"libdangling\" Library=\"dangling.so\"/>", "library-not-a-file", "warning");
        fs::create_symlink("nowhere.so", Tree.PathOf("cases/libdangling/dangling.so"));
        Add("libfifo", "<Plugin ID=\"libfifo\" Library=\"fifo.so\" Initialize=\"true\"/>", "library-not-a-file", "error");
        ASSERT_EQ(std::system(("mkfifo '" + Tree.PathOf("cases/libfifo/fifo.so") + "'").c_str()), 0);
    }
    // Never loaded: loading this one would abort the inspection.
    const std::string Abort = TestLibrary("inspect_abort");
    Copy(Abort, "abort");
    Add("abort", "<Plugin ID=\"abort\" Library=\"" + Abort.substr(BinDir.size() + 1) + "\"/>", "", "");
    const std::string Config = Tree.WriteFile(
        "engine.xml", "<Engine><ShieldedPlugins><Plugin>shielded</Plugin></ShieldedPlugins></Engine>");

    std::multiset<std::string> AllRules;
    bool AnyError = false;
    for (const TCase& Case : Cases) {
        SCOPED_TRACE(Case.Folder);
        TProgramRun Run = Inspect({"--config", Config, "--check-libraries", "--format", "json", Tree.PathOf("cases/" + Case.Folder)});
        ASSERT_GE(Run.ExitCode, 0) << "orv-inspect died: " << Run.Err;
        TJson Report;
        ASSERT_NO_THROW(Report = TJson::parse(Run.Out)) << Run.Out;
        const TStrings Found = Rules(Report);
        if (Case.Rule.empty()) {
            EXPECT_EQ(Found, TStrings{});
            EXPECT_EQ(Run.ExitCode, 0);
            continue;
        }
        ASSERT_EQ(Found, TStrings{Case.Rule}) << Run.Out;
        const TJson& Finding = Report.at("findings").at(0);
        EXPECT_EQ(Finding.at("severity"), Case.Severity);
        EXPECT_FALSE(Finding.at("file").get<std::string>().empty());
        EXPECT_FALSE(Finding.at("message").get<std::string>().empty());
        if (Case.Rule != "no-root-element") {
            EXPECT_GT(Finding.at("line"), 0) << Run.Out;
        }
        EXPECT_EQ(Run.ExitCode, std::string(Case.Severity) == "error" ? 1 : 0);
        AllRules.insert(Case.Rule);
        AnyError = AnyError || std::string(Case.Severity) == "error";
    }

    // All of them in one run: every finding is there, and the text form lists each as an editor
    // reads it.
    TProgramRun All = Inspect({"--config", Config, "--check-libraries", Tree.PathOf("cases")});
    EXPECT_EQ(All.ExitCode, AnyError ? 1 : 0);
    for (const std::string& Rule : AllRules) EXPECT_NE(All.Out.find("[" + Rule + "]"), std::string::npos) << Rule;
    const std::string Malformed = Tree.PathOf("cases/malformed/plugin.xml");
    EXPECT_NE(All.Out.find(Malformed + ":3:1: error: "), std::string::npos) << All.Out;
    EXPECT_NE(All.Out.find("orv-inspect: "), std::string::npos);
    EXPECT_NE(All.Out.find("\n  unique  "), std::string::npos) << All.Out;  // a plug-in of the tree
    EXPECT_NE(All.Out.find("<- unique.a"), std::string::npos) << All.Out;

    // The DOT form is a graph Graphviz draws, where it is installed.
    TProgramRun Dot = Inspect({"--format", "dot", Tree.PathOf("cases/unique"), Tree.PathOf("cases/unknown"),
                               Tree.PathOf("cases/library")});
    EXPECT_EQ(Dot.Out.compare(0, 7, "digraph"), 0) << Dot.Out;
    if (!Windows && std::system("dot -V >/dev/null 2>&1") == 0) {
        const std::string Graph = Tree.WriteFile("graph.dot", Dot.Out);
        EXPECT_EQ(std::system(("dot -Tsvg '" + Graph + "' -o '" + Graph + ".svg'").c_str()), 0) << Dot.Out;
    }
}

TEST_F(InspectTest, UsageErrorsAndUnreadableInputExitTwo) {
    EXPECT_EQ(Inspect({}).ExitCode, 2);
    EXPECT_EQ(Inspect({"--format", "yaml", Tree.Path()}).ExitCode, 2);
    EXPECT_EQ(Inspect({"--no-such-option", Tree.Path()}).ExitCode, 2);
    TProgramRun Missing = Inspect({Tree.PathOf("no-such-folder")});
    EXPECT_EQ(Missing.ExitCode, 2);
    EXPECT_NE(Missing.Err.find("no-such-folder"), std::string::npos) << Missing.Err;
    EXPECT_EQ(Inspect({"--config", Tree.PathOf("missing.xml"), Tree.Path()}).ExitCode, 2);
    EXPECT_EQ(Inspect({"--config", Tree.WriteFile("broken.xml", "<Engine"), Tree.Path()}).ExitCode, 2);
    // An empty tree is fine.
    EXPECT_EQ(Inspect({Tree.MakeFolder("empty")}).ExitCode, 0);
    // A report that cannot be written is not a clean one.
    if (Windows) return;
    for (TStdout Lost : {TStdout::Full, TStdout::Closed}) {
        TProgramRun Run = Inspect({Tree.PathOf("empty")}, Lost);
        EXPECT_EQ(Run.ExitCode, 2);
        EXPECT_NE(Run.Err.find("orv-inspect: the report could not be written: "), std::string::npos) << Run.Err;
    }
}

TEST(LibraryFileTest, RealCraftedAndDamagedFiles) {
    // A test plug-in of this build: its format, its exports and what it needs.
    const std::string Bytes = ReadAll(TestLibrary("model_full"));
    ASSERT_FALSE(Bytes.empty());
    const TLibraryFile Own = ReadLibraryFile(Bytes);
    EXPECT_EQ(Own.Format, Windows ? TLibraryFormat::Pe : TLibraryFormat::Elf);
    EXPECT_TRUE(Own.IsLibrary);
    EXPECT_TRUE(Own.Problem.empty()) << Own.Problem;
    for (const char* Name : {"GetPluginImpl", "GetExtensionImpl", "CreateOther", "ModelProbe"})
        EXPECT_NE(std::find(Own.Exports.begin(), Own.Exports.end(), Name), Own.Exports.end()) << Name;
    EXPECT_FALSE(Own.Needed.empty());

    // The other platform's format reads here too.
    const TLibraryFile Pe = ReadLibraryFile(CraftedPe());
    EXPECT_EQ(DescribeLibraryFormat(Pe), "PE32 i386");
    EXPECT_TRUE(Pe.IsLibrary);
    EXPECT_EQ(Pe.Exports, TStrings{"GetPluginImpl@8"});
    EXPECT_EQ(Pe.Needed, TStrings{"KERNEL32.dll"});
    EXPECT_EQ(DescribeLibraryFormat(ReadLibraryFile(CraftedElf64())), "ELF 64-bit x86-64");
    EXPECT_EQ(ReadLibraryFile("not a library").Format, TLibraryFormat::Unknown);

    // Cut short anywhere, or with bytes changed, a file is read without a crash.
    for (const std::string& Whole : {Bytes, CraftedPe()}) {
        for (std::size_t Length = 0; Length < Whole.size(); Length += 1 + Length / 64) ReadLibraryFile(Whole.substr(0, Length));
        uint32_t Seed = 12345;
        for (int Round = 0; Round < 300; ++Round) {
            std::string Damaged = Whole;
            for (int K = 0; K < 8; ++K) {
                Seed = Seed * 1103515245u + 12345u;
                Damaged[(Seed >> 8) % Damaged.size()] = static_cast<char>(Seed >> 24);
            }
            ReadLibraryFile(Damaged);
        }
    }
    EXPECT_FALSE(ReadLibraryFile(CraftedPe().substr(0, 0x260)).Problem.empty());

    // An export table that names one long string 15,000 times is damage, not 3 MB of names.
    std::string Repeated = CraftedPe();
    Repeated.resize(0x10000);
    auto Put = [&Repeated](std::size_t At, uint32_t V) {
        for (int I = 0; I < 4; ++I) Repeated[At + I] = static_cast<char>((V >> (8 * I)) & 0xFF);
    };
    Put(0x44 + 20 + 104, 0);  // no import directory
    Put(0x44 + 20 + 224 + 8, 0xFE00);
    Put(0x44 + 20 + 224 + 16, 0xFE00);
    Put(0x200 + 24, 15000);
    for (uint32_t I = 0; I < 15000; ++I) Put(0x240 + 4 * I, 0x1000 + 0xF000 - 0x200);
    Repeated.replace(0xF000, 200, std::string(200, 'x'));
    const TLibraryFile Damaged = ReadLibraryFile(Repeated);
    EXPECT_FALSE(Damaged.Problem.empty());
    EXPECT_LE(Damaged.Exports.size() * 200, 2 * Repeated.size() + 4096);

    // Tables named over and over are read once: what is read stays proportional to the file.
    const TLibraryFile Symbols = ReadLibraryFile(ManySymbolTables(ElfMachineX86_64));
    EXPECT_TRUE(Symbols.Problem.empty()) << Symbols.Problem;
    EXPECT_EQ(Symbols.Exports.size(), 9999u);
    const TLibraryFile Needed = ReadLibraryFile(RepeatedNeeded(ElfMachineX86_64));
    EXPECT_TRUE(Needed.Problem.empty()) << Needed.Problem;
    EXPECT_EQ(Needed.Needed, TStrings{"libnowhere-at-all.so"});
}

TEST_F(InspectTest, MemoryFollowsTheSizeOfTheInput) {
    if (Windows) GTEST_SKIP() << "the peak memory of a program is measured on POSIX systems";
    namespace fs = std::filesystem;
    // A chain of 2,000 nested folders of long names, 500 KB of path at its end: a walk that kept
    // the path of each level would hold 500 MB (the same as a chain of 30,000 short names).
    const std::string Long(250, 'd');
    const fs::path Cwd = fs::current_path();
    fs::current_path(Tree.MakeFolder("chain"));
    for (int I = 0; I < 2000; ++I) {
        fs::create_directory(Long);
        fs::current_path(Long);
    }
    fs::current_path(Cwd);
    // Crafted libraries that name one table, or one library, over and over.
    const uint16_t Machine = ReadLibraryFile(ReadAll(TestLibrary("model_full"))).Machine;
    Tree.WriteFile("symbols/crafted.so", ManySymbolTables(Machine));
    Tree.WriteFile("needed/crafted.so", RepeatedNeeded(Machine));
    for (const char* Folder : {"symbols", "needed"})
        Tree.WriteFile(std::string(Folder) + "/plugin.xml", "<Plugin ID=\"crafted\" Library=\"crafted.so\"/>");

    // Each needed 0.5 to 1 GB before; 150 MB leaves room for the sanitizers' own.
    const struct {
        const char* Name;
        TStrings Args;
        TStrings Rules;
    } Cases[] = {
        {"chain", {Tree.PathOf("chain")}, {}},
        {"symbols", {"--check-libraries", Tree.PathOf("symbols")}, {"missing-plugin-entry"}},
        {"needed", {"--check-libraries", Tree.PathOf("needed")}, {"missing-dependency"}},
    };
    for (const auto& Case : Cases) {
        SCOPED_TRACE(Case.Name);
        TStrings Args{"--format", "json"};
        Args.insert(Args.end(), Case.Args.begin(), Case.Args.end());
        const TProgramRun Run = Inspect(Args);
        ASSERT_GE(Run.ExitCode, 0) << Run.Err;
        EXPECT_GT(Run.PeakKiB, 0);
        EXPECT_LT(Run.PeakKiB, 150 * 1024);
        EXPECT_EQ(Rules(TJson::parse(Run.Out)), Case.Rules) << Run.Out.substr(0, 2000);
    }
    // The chain is removed by the shell: its paths are too long for most tools.
    EXPECT_EQ(std::system(("cd '" + Tree.PathOf("chain") + "' && rm -rf " + Long).c_str()), 0);
}

#ifndef _WIN32
TEST_F(InspectTest, AFolderThatCannotBeReadIsAFinding) {
    for (const char* Folder : {"a", "locked"}) Plugin(Folder, "<Plugin ID=\"" + std::string(Folder) + "\"/>");
    const std::string Locked = Tree.PathOf("cases/locked");
    ASSERT_EQ(std::system(("chmod -R a+rX '" + Tree.Path() + "' && chmod 0 '" + Locked + "'").c_str()), 0);
    // Permissions do not hold back the superuser: the inspector then runs as nobody.
    TStrings Args{"--format", "json", Tree.PathOf("cases")};
    TProgramRun Run;
    if (geteuid() == 0) {
        Args.insert(Args.begin(), {"--reuid=65534", "--regid=65534", "--clear-groups", FindProgram(BinDir, "orv-inspect")});
        Run = RunProgram("/usr/bin/setpriv", Args, Tree.MakeFolder("output"));
    } else {
        Run = Inspect(Args);
    }
    std::system(("chmod 0700 '" + Locked + "'").c_str());
    ASSERT_EQ(Run.ExitCode, 0) << Run.Err;
    const TJson Report = TJson::parse(Run.Out);
    ASSERT_EQ(Rules(Report), TStrings{"unreadable-folder"}) << Run.Out;
    const TJson& Finding = Report.at("findings").at(0);
    EXPECT_EQ(Finding.at("severity").get<std::string>() + " " + Finding.at("file").get<std::string>(),
              "warning " + Locked + "/");
    EXPECT_NE(Finding.at("message").get<std::string>().find("Permission denied"), std::string::npos) << Run.Out;
    EXPECT_EQ(Report.at("summary").at("plugins"), 1);
}
#endif

// Whether Text is UTF-8 as Unicode defines it: shortest forms only, no surrogates, nothing above
// U+10FFFF.
bool IsUtf8(const std::string& Text) {
    static const uint32_t Least[] = {0, 0, 0x80, 0x800, 0x10000};
    for (std::size_t I = 0; I < Text.size();) {
        const auto Lead = static_cast<unsigned char>(Text[I]);
        const int N = Lead < 0x80 ? 1 : (Lead >> 5) == 6 ? 2 : (Lead >> 4) == 14 ? 3 : (Lead >> 3) == 30 ? 4 : 0;
        if (N == 0 || I + N > Text.size()) return false;
        uint32_t Code = N == 1 ? Lead : Lead & (0x7F >> N);
        for (int K = 1; K < N; ++K) {
            const auto Next = static_cast<unsigned char>(Text[I + K]);
            if ((Next & 0xC0) != 0x80) return false;
            Code = Code << 6 | (Next & 0x3F);
        }
        if (Code < Least[N] || Code > 0x10FFFF || (Code >= 0xD800 && Code <= 0xDFFF)) return false;
        I += N;
    }
    return true;
}

// Whether some line of Text begins with Start.
bool LineBegins(const std::string& Text, const std::string& Start) {
    return Text.compare(0, Start.size(), Start) == 0 || Text.find("\n" + Start) != std::string::npos;
}

TEST_F(InspectTest, DataNeitherForgesLinesNorBreaksTheEncoding) {
    // Ids with line breaks, where a plain and a formatted line, a finding and a raised message name them.
    Plugin("a-ids", "<Plugins><Comment/><Plugin ID=\"x&#10;WARN  forged\" Library=\"none.so\"/></Plugins>");
    Plugin("zz-raises", "<Plugin ID=\"y&#13;&#10;ERROR forged\"><Extension ID=\"e\"/></Plugin>");
    // Folder names with line breaks and with bytes that are not UTF-8, where file names allow them.
    struct TName {
        std::string Folder, Json, Text;
    };
    std::vector<TName> Names;
    if (!Windows) {
        const std::string Bad = "\xEF\xBF\xBD";
        Names = {{"line\nWARN  forged", "line\nWARN  forged", "line\\x0AWARN  forged"},
                 {"overlong\xE0\x80\xAF", "overlong" + Bad + Bad + Bad, "overlong\\xE0\\x80\\xAF"},
                 {"surrogate\xED\xA0\x80", "surrogate" + Bad + Bad + Bad, "surrogate\\xED\\xA0\\x80"},
                 {"beyond\xF4\x90\x80\x80", "beyond" + Bad + Bad + Bad + Bad, "beyond\\xF4\\x90\\x80\\x80"},
                 {"cut\xE4\xBD", "cut" + Bad, "cut\\xE4\\xBD"},
                 {"fine\xC3\xA9\xE2\x80\xA8", "fine\xC3\xA9\xE2\x80\xA8", "fine\xC3\xA9\\u2028"}};
        for (const TName& Name : Names) Plugin(Name.Folder, "<Plugin ID=\"p\" Library=\"none.so\"/>");
    }
    const std::string Cases = Tree.PathOf("cases");
    const std::string Config = Tree.WriteFile("engine.xml", "<Engine Path=\"" + Cases + "\"/>");

    const TProgramRun Host = Run("orv-host", {Config});
    const TProgramRun Text = Inspect({Cases});
    const TProgramRun Json = Inspect({"--format", "json", Cases});
    EXPECT_EQ(Host.ExitCode, 1) << Host.Err;
    for (const std::string* Output : {&Host.Err, &Text.Out}) {
        EXPECT_TRUE(IsUtf8(*Output)) << *Output;
        EXPECT_FALSE(LineBegins(*Output, "WARN  forged")) << *Output;
        EXPECT_FALSE(LineBegins(*Output, "ERROR forged")) << *Output;
        EXPECT_NE(Output->find("x\\x0AWARN  forged"), std::string::npos) << *Output;
        // The engine's own line break stays: the invalid node is named on a line of its own.
        EXPECT_TRUE(LineBegins(*Output, "节点[Comment]名称错误.")) << *Output;
        EXPECT_NE(Output->find("y\\x0D\\x0AERROR forged"), std::string::npos) << *Output;
        for (const TName& Name : Names) EXPECT_NE(Output->find(Name.Text), std::string::npos) << Name.Text;
    }
    EXPECT_NE(Host.Err.find("orv-host: "), std::string::npos) << Host.Err;

    ASSERT_TRUE(IsUtf8(Json.Out)) << Json.Out;
    TJson Report;
    ASSERT_NO_THROW(Report = TJson::parse(Json.Out)) << Json.Out;
    std::set<std::string> Files;
    for (const TJson& F : Report.at("findings")) Files.insert(F.at("file").get<std::string>());
    for (const TName& Name : Names)
        EXPECT_EQ(Files.count(Cases + "/" + Name.Json + "/plugin.xml"), 1u) << Name.Text << "\n" << Json.Out;
}

}  // namespace
