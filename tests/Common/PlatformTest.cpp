// The platform layer on the real system: folder listings, file tests, library loading, paths.
#include "Common/Platform.h"
#include "Support/TempFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>

using namespace orv;
using namespace orv::test;
namespace fs = std::filesystem;

namespace {

// Dot-named entries, FIFOs and ELF headers are the POSIX build's rules.
constexpr bool PosixRules = TPathRules::Delimiter == '/';

const std::string EngineLibrary =
    std::string(ORV_TEST_BIN_DIR) + (PosixRules ? "/libORVEngine.so" : "/ORVEngine.dll");

// Creates a FIFO with the system's tool (false where there is none).
bool MakeFifo(const std::string& Path) { return std::system(("mkfifo '" + Path + "' 2>/dev/null").c_str()) == 0; }

std::vector<std::string> Listing(const std::string& Folder) {
    std::vector<std::string> Names;
    for (const TFolderEntry& E : Platform().ListFolder(Folder)) Names.push_back(E.Name + (E.IsFolder ? "/" : ""));
    return Names;
}

// Loading Path must fail with an error text and leave the process alive.
void ExpectRefused(const std::string& Path) {
    std::string Error;
    TLibraryHandle H = Platform().OpenLibrary(Path, Error);
    EXPECT_EQ(H, nullptr) << Path;
    EXPECT_NE(Error.find(Path), std::string::npos) << Error;
    if (H) Platform().CloseLibrary(H);
}

std::string ReadAll(const std::string& Path) {
    std::ifstream In(Path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>());
}

}  // namespace

TEST(PlatformTest, ListingIsSortedByteWiseAndHoldsOnlyFoldersAndFiles) {
    if (!PosixRules) GTEST_SKIP() << "hidden entries are marked by attributes here";
    TTempFolder T;
    for (const char* Name : {"b.xml", "a.xml", "B.xml", "z.xml", "\xC3\xA9.xml", ".hidden.xml"}) T.WriteFile(Name, "x");
    T.MakeFolder("Zeta");
    T.MakeFolder(".git");
    std::error_code Ec;
    fs::create_symlink(T.PathOf("a.xml"), T.PathOf("link.xml"), Ec);
    fs::create_symlink(T.PathOf("Zeta"), T.PathOf("linkdir"), Ec);
    fs::create_symlink(T.PathOf("missing"), T.PathOf("dangling.xml"), Ec);
    ASSERT_TRUE(MakeFifo(T.PathOf("fifo.xml")));

    const std::vector<std::string> Expected{"B.xml", "Zeta/", "a.xml", "b.xml", "link.xml", "linkdir/", "z.xml",
                                            "\xC3\xA9.xml"};
    EXPECT_EQ(Listing(T.Path()), Expected);
    EXPECT_EQ(Listing(T.Path() + "/"), Expected);
    EXPECT_TRUE(Listing(T.PathOf("Zeta")).empty());
    EXPECT_TRUE(Listing(T.PathOf("no-such-folder")).empty());
}

// A folder whose entries take many reads of the system's listing (more than one buffer full) is
// listed whole, each entry once, and a walk hands each file the regular files beside it.
TEST(PlatformTest, ALargeFolderIsListedWholeAndItsFilesAreKnownToTheWalk) {
    TTempFolder T;
    std::vector<std::string> Expected;
    const std::string Long(120, 'n');
    for (int I = 0; I < 1500; ++I) {
        char Number[8];
        std::snprintf(Number, sizeof Number, "%04d", I);
        Expected.push_back(Long + Number + ".xml");
        T.WriteFile(Expected.back(), "x");
    }
    T.MakeFolder("sub");
    T.WriteFile("sub/only.xml", "x");
    EXPECT_EQ(Listing(T.Path()).size(), Expected.size() + 1);

    struct TBesides : TFolderWalker {
        std::vector<std::string> Seen;
        std::vector<std::shared_ptr<const TFileNames>> Lists;
        void File(const std::string&, const std::string& Name, const TEntryIdentity& Entry) override {
            Seen.push_back(Name);
            Lists.push_back(Entry.FilesBeside());
        }
        void Skipped(const std::string&, const std::string&) override {}
        void Unreadable(const std::string& Path, const std::string&) override { ADD_FAILURE() << Path; }
    } Walker;
    Platform().WalkFolderTree(T.Path(), Walker);
    ASSERT_EQ(Walker.Seen.size(), Expected.size() + 1);
    ASSERT_TRUE(Walker.Lists.front());
    EXPECT_EQ(*Walker.Lists.front(), Expected);  // the files only, in name order
    // One list for all the files of a folder; sub's own.
    EXPECT_EQ(Walker.Lists[1].get(), Walker.Lists.front().get());
    EXPECT_EQ(Walker.Seen.back(), "only.xml");
    EXPECT_EQ(*Walker.Lists.back(), TFileNames{"only.xml"});
}

TEST(PlatformTest, FileAndFolderTestsTellKindsApart) {
    TTempFolder T;
    const std::string File = T.WriteFile("sub/plugin.xml", "<Plugin/>");
    const std::string Folder = T.PathOf("sub");
    EXPECT_TRUE(Platform().FileExists(File));
    EXPECT_FALSE(Platform().FileExists(Folder));
    EXPECT_FALSE(Platform().FileExists(T.PathOf("sub/none.xml")));
    EXPECT_FALSE(Platform().FileExists(""));
    EXPECT_TRUE(Platform().FolderExists(Folder));
    EXPECT_TRUE(Platform().FolderExists(Folder + TPathRules::Delimiter));
    EXPECT_FALSE(Platform().FolderExists(File));
    EXPECT_FALSE(Platform().FolderExists(""));
    if (PosixRules) {
        ASSERT_TRUE(MakeFifo(T.PathOf("fifo")));
        EXPECT_FALSE(Platform().FileExists(T.PathOf("fifo")));
        EXPECT_FALSE(Platform().FolderExists(T.PathOf("fifo")));
    }
}

TEST(PlatformTest, EngineLibraryLoadsAndExportsSetLogger) {
    std::string Error;
    TLibraryHandle H = Platform().OpenLibrary(EngineLibrary, Error);
    ASSERT_NE(H, nullptr) << Error;
    EXPECT_EQ(Error, "");
    EXPECT_NE(Platform().FindSymbol(H, "SetLogger"), nullptr);
    EXPECT_EQ(Platform().FindSymbol(H, "NoSuchExport"), nullptr);
    EXPECT_NO_THROW(Platform().CloseLibrary(H));
}

TEST(PlatformTest, BrokenLibrariesAreRefusedWithAReason) {
    TTempFolder T;
    ExpectRefused(T.PathOf("missing.so"));
    ExpectRefused(T.WriteFile("empty.so", ""));
    ExpectRefused(T.WriteFile("text.so", "this is not a library at all, just some words in a file\n"));
    ExpectRefused(T.MakeFolder("folder.so"));
    if (PosixRules) {
        ASSERT_TRUE(MakeFifo(T.PathOf("fifo.so")));
        ExpectRefused(T.PathOf("fifo.so"));  // must neither block nor crash
        // Only absolute paths are loaded: never a name the loader would search for, nor one
        // relative to the current folder.
        ExpectRefused("libORVEngine.so");
        ExpectRefused("./libORVEngine.so");
    }
}

TEST(PlatformTest, TruncatedOrForgedElfFilesAreRefusedWithoutCrashing) {
    if (!PosixRules) GTEST_SKIP() << "ELF checks belong to the POSIX build";
    TTempFolder T;
    const std::string Image = ReadAll(EngineLibrary);
    ASSERT_GT(Image.size(), 4096u);
    for (std::size_t Size : {std::size_t(4), std::size_t(64), std::size_t(200), std::size_t(4096), Image.size() / 2,
                              Image.size() - 1}) {
        const std::string Path = T.WriteFile("cut" + std::to_string(Size) + ".so", Image.substr(0, Size));
        ExpectRefused(Path);
    }

    // Without section headers only the segments show that the file is cut short.
    std::string NoSections = Image.substr(0, 4096);
    const std::size_t ShOff = sizeof(void*) == 8 ? 0x28 : 0x20;
    std::fill(NoSections.begin() + ShOff, NoSections.begin() + ShOff + sizeof(void*), '\0');
    ExpectRefused(T.WriteFile("nosections.so", NoSections));

    std::string OtherClass = Image;
    OtherClass[4] = sizeof(void*) == 8 ? 1 : 2;  // EI_CLASS
    const std::string OtherPath = T.WriteFile("otherclass.so", OtherClass);
    std::string Error;
    EXPECT_EQ(Platform().OpenLibrary(OtherPath, Error), nullptr);
    EXPECT_NE(Error.find("class"), std::string::npos) << Error;

    // Built for another machine: named, not the loader's "No such file or directory".
    std::string OtherMachine = Image;
    const bool Arm = Image[18] == char(183) && Image[19] == 0;
    OtherMachine[18] = static_cast<char>(Arm ? 62 : 183);  // e_machine: x86-64 or AArch64
    EXPECT_EQ(Platform().OpenLibrary(T.WriteFile("othermachine.so", OtherMachine), Error), nullptr);
    EXPECT_NE(Error.find(Arm ? "built for x86-64" : "built for AArch64"), std::string::npos) << Error;

    // The intact copy still loads: the checks do not reject real libraries.
    const std::string Intact = T.WriteFile("intact.so", Image);
    TLibraryHandle H = Platform().OpenLibrary(Intact, Error);
    ASSERT_NE(H, nullptr) << Error;
    Platform().CloseLibrary(H);
}

TEST(PlatformTest, PseudoFileSystemsAreKnownByTheKernelsNumbers) {
    if (!PosixRules) GTEST_SKIP() << "file systems carry no type numbers here";
    const struct {
        const char* Name;
        uint64_t Type;
        bool Pseudo;
    } Cases[] = {
        {"proc", 0x9fa0, true},          {"sysfs", 0x62656572, true},   {"cgroup2", 0x63677270, true},
        {"efivarfs", 0xde5e81e4, true},  {"nsfs", 0x6e736673, true},    {"tmpfs", 0x01021994, false},
        {"ext4", 0xef53, false},         {"no file system", 0xde5e81e0, false},
    };
    for (const auto& Case : Cases) EXPECT_EQ(IsPseudoFileSystemType(Case.Type), Case.Pseudo) << Case.Name;
}

TEST(PlatformTest, ProcessPathsAreAbsolute) {
    EXPECT_EQ(Platform().GetCurrentFolder(), fs::current_path().string());
    const std::string Exe = Platform().ExecutableFileName();
    const std::string Module = Platform().ModuleFileName();
    EXPECT_TRUE(fs::path(Exe).is_absolute()) << Exe;
    if (!PosixRules) {
        EXPECT_EQ(Exe.substr(1, 2), ":\\") << Exe;
    }
    EXPECT_TRUE(Platform().FileExists(Exe)) << Exe;
    EXPECT_EQ(fs::path(Exe).stem().string(), "orv_common_tests");
    // The engine core is linked into this test program, so "this module" is the program itself.
    EXPECT_TRUE(fs::path(Module).is_absolute()) << Module;
    EXPECT_EQ(Module, Exe);
}

// What the tools learn about the system's loader: the kind of library file it loads (compared
// with the engine library's own headers), the module that holds an address, the libraries it
// provides itself, and the order of the folders it searches.
TEST(PlatformTest, LoaderFactsMatchThisBuild) {
    std::string Header, Error;
    int64_t Size = 0;
    ASSERT_EQ(Platform().ReadFile(EngineLibrary, int64_t(1) << 30, Header, Size, Error), TReadResult::Ok) << Error;
    const auto Byte = [&Header](std::size_t At) {
        return static_cast<unsigned>(static_cast<unsigned char>(Header.at(At)));
    };
    const TNativeLibraryKind Native = NativeLibraryKind();
    EXPECT_EQ(Native.Pe, !PosixRules);
    if (PosixRules) {
        EXPECT_EQ(Native.Wide, Byte(4) == 2);       // EI_CLASS: ELFCLASS64
        EXPECT_EQ(Native.BigEndian, Byte(5) == 2);  // EI_DATA: ELFDATA2MSB
        EXPECT_EQ(Native.Machine, Native.BigEndian ? Byte(18) << 8 | Byte(19) : Byte(19) << 8 | Byte(18));
    } else {
        const std::size_t Pe = Byte(0x3c) | Byte(0x3d) << 8;
        EXPECT_EQ(Native.Machine, Byte(Pe + 4) | Byte(Pe + 5) << 8);
        EXPECT_EQ(Native.Wide, (Byte(Pe + 24) | Byte(Pe + 25) << 8) == 0x20b);  // PE32+
    }

    EXPECT_EQ(ModuleFileNameAt(reinterpret_cast<const void*>(&Listing)), Platform().ExecutableFileName());
    EXPECT_EQ(ModuleFileNameAt(nullptr), "");

    EXPECT_EQ(IsSystemProvidedLibrary("linux-vdso.so.1"), PosixRules);
    EXPECT_EQ(IsSystemProvidedLibrary("API-MS-Win-Core-Synch-L1-2-0.dll"), !PosixRules);
    EXPECT_FALSE(IsSystemProvidedLibrary(PosixRules ? "libc.so.6" : "kernel32.dll"));

    const std::vector<std::string> RPath{"$ORIGIN/rpath"}, RunPath{"${ORIGIN}/runpath"};
    const std::vector<std::string> Folders = LibrarySearchFolders("/lib/origin", RPath, RunPath);
    ASSERT_FALSE(Folders.empty());
    const auto Has = [&Folders](const std::string& F) { return std::count(Folders.begin(), Folders.end(), F) != 0; };
    if (PosixRules) {
        // DT_RUNPATH, $ORIGIN expanded, puts DT_RPATH out of force; the default folders come last.
        EXPECT_TRUE(Has("/lib/origin/runpath"));
        EXPECT_FALSE(Has("/lib/origin/rpath"));
        EXPECT_EQ(LibrarySearchFolders("/o", RPath, {}).front(), "/o/rpath");
        EXPECT_EQ(Folders.back(), "/usr/lib64");
    } else {
        // The library's folder first, then the executable's; the ELF lists mean nothing here.
        EXPECT_EQ(Folders.front(), "/lib/origin");
        EXPECT_EQ(Folders.at(1), fs::path(Platform().ExecutableFileName()).parent_path().string());
        EXPECT_FALSE(Has("/lib/origin/runpath"));
    }
}

// Text between UTF-8 and the process encoding: unchanged on Linux, through the ANSI code page on
// Windows, where Strict refuses what cannot be converted back.
TEST(PlatformTest, TextIsRecodedBetweenUtf8AndTheProcessEncoding) {
    const std::string Accented = "caf\xC3\xA9", Broken = "caf\xC3";
    std::string Native, Back;
    ASSERT_TRUE(RecodeText(Accented, TTextEncoding::Utf8, TTextEncoding::Native, false, Native));
    ASSERT_TRUE(RecodeText(Native, TTextEncoding::Native, TTextEncoding::Utf8, false, Back));
    EXPECT_EQ(Back, Accented);  // the ANSI code pages of the test runs (1252, 936) have "é"
    EXPECT_EQ(Native == Accented, PosixRules);
    EXPECT_EQ(RecodeText(Broken, TTextEncoding::Utf8, TTextEncoding::Native, true, Native), PosixRules);
    EXPECT_TRUE(RecodeText("plain", TTextEncoding::Utf8, TTextEncoding::Native, true, Native));
    EXPECT_EQ(Native, "plain");
}
