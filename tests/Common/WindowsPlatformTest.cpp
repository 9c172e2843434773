// The Win32 side of the platform layer and the module set-up of the 32-bit Windows build: the
// message table as a resource, undecorated exports, DLL search paths, exceptions that cross DLLs.
#ifdef _WIN32

#include "Common/ORVConsts.h"
#include "Companion/TarnXMLUtils.h"
#include "Common/Platform.h"
#include "Support/EngineModule.h"
#include "Support/NativeText.h"
#include "Support/RecordingLogger.h"
#include "Support/TempFolder.h"
#include "plugins/win_boundary/BoundaryError.h"

#include <ORVInterface.h>

#include <gtest/gtest.h>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#undef CopyFile  // TTempFolder::CopyFile, not the Win32 macro

#include <string>
#include <vector>

using namespace orv;

namespace {

const std::string BinDir = ORV_TEST_BIN_DIR;

// Text, in the process code page, as UTF-8.
std::string NativeToUtf8(const std::string& Text) {
    std::string Utf8;
    const bool Valid = RecodeText(Text, TTextEncoding::Native, TTextEncoding::Utf8, true, Utf8);
    return Valid ? Utf8 : "<not valid in the ANSI code page>";
}

// The names in the export table of a loaded module.
std::vector<std::string> ExportNames(TLibraryHandle Module) {
    std::vector<std::string> Names;
    const auto* Base = static_cast<const unsigned char*>(Module);
    const auto* Dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(Base);
    const auto* Nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(Base + Dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& Dir = Nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    if (Dir.VirtualAddress == 0) return Names;
    const auto* Exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(Base + Dir.VirtualAddress);
    const auto* NameTable = reinterpret_cast<const DWORD*>(Base + Exports->AddressOfNames);
    for (DWORD I = 0; I < Exports->NumberOfNames; ++I)
        Names.emplace_back(reinterpret_cast<const char*>(Base + NameTable[I]));
    return Names;
}

// A library loaded through the platform layer for the lifetime of the object.
class TLoaded {
public:
    explicit TLoaded(const std::string& Path) : Handle_(Platform().OpenLibrary(Path, Error_)) {}
    ~TLoaded() {
        if (Handle_) Platform().CloseLibrary(Handle_);
    }
    TLoaded(const TLoaded&) = delete;
    TLoaded& operator=(const TLoaded&) = delete;

    TLibraryHandle Get() const { return Handle_; }
    const std::string& Error() const { return Error_; }
    template <class F>
    F Symbol(const char* Name) const {
        return reinterpret_cast<F>(Platform().FindSymbol(Handle_, Name));
    }

private:
    std::string Error_;
    TLibraryHandle Handle_;
};

}  // namespace

// --- message table ---------------------------------------------------------------------------

TEST(WindowsMessageTableTest, EveryTextArrivesInTheProcessCodePage) {
    ASSERT_EQ(GetACP(), 936u) << "the Windows tests run with LC_ALL=zh_CN.UTF-8 (code page 936)";

    // "插件已经启动" and entry 65526 with its line break, in GBK (iconv -f UTF-8 -t GBK).
    const unsigned char Started[] = {0xb2, 0xe5, 0xbc, 0xfe, 0xd2, 0xd1, 0xbe, 0xad, 0xc6, 0xf4, 0xb6, 0xaf};
    const unsigned char BadNode[] = {0xc5, 0xe4, 0xd6, 0xc3, 0xce, 0xc4, 0xbc, 0xfe, 0x5b, 0x25, 0x73, 0x5d, 0xb8,
                                     0xf1, 0xca, 0xbd, 0xb7, 0xc7, 0xb7, 0xa8, 0xa1, 0xa3, 0x0d, 0x0a, 0xbd, 0xda,
                                     0xb5, 0xe3, 0x5b, 0x25, 0x73, 0x5d, 0xc3, 0xfb, 0xb3, 0xc6, 0xb4, 0xed, 0xce,
                                     0xf3, 0x2e};
    EXPECT_EQ(LoadMessage(SEngineAlreadyStarted), std::string(std::begin(Started), std::end(Started)));
    EXPECT_EQ(LoadMessage(SInvalidPluginNode), std::string(std::begin(BadNode), std::end(BadNode)));
    // The tests' own conversion of expected UTF-8 texts agrees.
    EXPECT_EQ(test::NativeText("插件已经启动"), std::string(std::begin(Started), std::end(Started)));

    // Every entry of the list is in the resource, unchanged.
    struct TEntry {
        TMessageId Id;
        const char* Utf8;
    };
    const TEntry Entries[] = {
#define ORV_MESSAGE(Id, Name, Text) {Name, Text},
#include "Common/ORVMessages.def"
#undef ORV_MESSAGE
    };
    ASSERT_EQ(std::size(Entries), 30u);
    for (const TEntry& E : Entries) {
        const std::string Text = LoadMessage(E.Id);
        EXPECT_EQ(Text.find('?'), std::string::npos) << "entry " << E.Id << " lost characters";
        EXPECT_EQ(NativeToUtf8(Text), E.Utf8) << "entry " << E.Id;
    }
    EXPECT_EQ(LoadMessage(static_cast<TMessageId>(65518)), "");  // an unused id
}

TEST(WindowsMessageTableTest, EngineDllCarriesTheTableInChinesePrc) {
    TLoaded Engine(BinDir + "/ORVEngine.dll");
    ASSERT_TRUE(Engine.Get()) << Engine.Error();
    const auto Module = static_cast<HMODULE>(Engine.Get());
    const WORD Chinese = MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED);
    const LPCWSTR StringTable = MAKEINTRESOURCEW(6);  // RT_STRING
    // Strings are stored in blocks of 16: ids 65504..65519 and 65520..65535.
    EXPECT_TRUE(FindResourceExW(Module, StringTable, MAKEINTRESOURCEW(65504 / 16 + 1), Chinese));
    EXPECT_TRUE(FindResourceExW(Module, StringTable, MAKEINTRESOURCEW(65535 / 16 + 1), Chinese));

    const wchar_t* Text = nullptr;
    const int Length = LoadStringW(Module, SRequiredPointEmpty, reinterpret_cast<wchar_t*>(&Text), 0);
    ASSERT_GT(Length, 0);
    EXPECT_EQ(std::wstring(Text, static_cast<std::size_t>(Length)), L"\u5fc5\u9009\u6269\u5c55\u70b9[%s]\u6ca1\u6709\u5b9e\u73b0\u3002");
}

// --- texts from UTF-8 sources -----------------------------------------------------------------------

TEST(WindowsTextTest, XmlNamesValuesAndTextArriveInTheProcessCodePage) {
    ASSERT_EQ(GetACP(), 936u) << "the Windows tests run with LC_ALL=zh_CN.UTF-8 (code page 936)";
    // "插件", "你好", "世界！" in GBK (iconv -f UTF-8 -t GBK).
    const std::string Plugin = "\xb2\xe5\xbc\xfe", Hello = "\xc4\xe3\xba\xc3", World = "\xca\xc0\xbd\xe7\xa3\xa1";

    Ref<IXMLDocument> Doc =
        LoadXMLDocumentFromString(u8"<插件 Greeting=\"你好\" ID=\"plain\">世界<!-- split -->！<Child/></插件>", "x.xml");
    Ref<IXMLNode> Root = Doc->GetDocumentElement();
    ASSERT_TRUE(Root);
    EXPECT_EQ(Root->GetNodeName(), Plugin);
    EXPECT_EQ(Root->GetAttribute("Greeting"), Hello);
    EXPECT_EQ(Root->GetAttributes()->GetNamedItem("Greeting")->GetText(), Hello);
    EXPECT_EQ(Root->GetText(), World);
    EXPECT_EQ(Root->GetAttribute("ID"), "plain");
    EXPECT_EQ(Root->GetChildNodes()->FindNode("Child")->GetNodeName(), "Child");
}

TEST(WindowsTextTest, Utf8ToNativeKeepsAsciiAndMarksWhatTheCodePageLacks) {
    EXPECT_EQ(Platform().Utf8ToNative(""), "");
    EXPECT_EQ(Platform().Utf8ToNative("Plain ASCII\r\n"), "Plain ASCII\r\n");
    EXPECT_EQ(Platform().Utf8ToNative(u8"[你好]"), "[\xc4\xe3\xba\xc3]");
    EXPECT_EQ(Platform().Utf8ToNative(u8"a\u0E01b"), "a?b");  // THAI CHARACTER KO KAI: not in GBK
}

// --- exports -------------------------------------------------------------------------------------

TEST(WindowsExportsTest, EngineAndPluginHelperExportsArePlainNames) {
    const std::pair<const char*, std::vector<const char*>> Modules[] = {
        {"ORVEngine.dll", {"GetORVEngine", "GetORVParser", "SetLogger"}},
        {"win_boundary.dll", {"GetPluginImpl", "GetFailingApplication"}}};
    for (const auto& Module : Modules) {
        SCOPED_TRACE(Module.first);
        TLoaded Library(BinDir + "/" + Module.first);
        ASSERT_TRUE(Library.Get()) << Library.Error();
        for (const char* Name : Module.second) EXPECT_TRUE(Library.Symbol<void*>(Name)) << Name;
        for (const std::string& Name : ExportNames(Library.Get())) EXPECT_EQ(Name.find('@'), std::string::npos) << Name;
    }
    TLoaded Engine(BinDir + "/ORVEngine.dll");
    EXPECT_FALSE(Engine.Symbol<void*>("SetLogger@4"));
    EXPECT_FALSE(Engine.Symbol<void*>("_SetLogger@4"));
}

// --- library loading -----------------------------------------------------------------------------

TEST(WindowsLibraryTest, PluginFindsItsOwnDependencyBesideIt) {
    const std::string Path = BinDir + "/win_dependent/win_dependent.dll";
    if (!GetModuleHandleA("win_dependent_helper.dll")) {
        // The check is only worth something if the default search order misses the helper.
        std::string Backslashed = Path;
        for (char& C : Backslashed)
            if (C == '/') C = '\\';
        HMODULE Plain = LoadLibraryA(Backslashed.c_str());
        const DWORD Err = GetLastError();
        if (Plain) FreeLibrary(Plain);
        ASSERT_FALSE(Plain) << "the helper DLL is on the default search path";
        EXPECT_EQ(Err, static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
    }

    TLoaded Plugin(Path);
    ASSERT_TRUE(Plugin.Get()) << Plugin.Error();
    using TValue = int32_t(ORV_CALL*)();
    auto Value = Plugin.Symbol<TValue>("DependentValue");
    ASSERT_TRUE(Value);
    EXPECT_EQ(Value(), 42);
}

TEST(WindowsLibraryTest, FailuresNameTheFileAndTheReason) {
    test::TTempFolder Temp;
    TLoaded Missing(Temp.PathOf("missing.dll"));
    EXPECT_FALSE(Missing.Get());
    EXPECT_NE(Missing.Error().find(Temp.PathOf("missing.dll")), std::string::npos) << Missing.Error();
    EXPECT_NE(Missing.Error().find("(126)"), std::string::npos) << Missing.Error();

    TLoaded NotAnImage(Temp.WriteFile("text.dll", "not a library"));
    EXPECT_FALSE(NotAnImage.Get());
    EXPECT_NE(NotAnImage.Error().find("text.dll"), std::string::npos) << NotAnImage.Error();
}

// --- exceptions across modules ---------------------------------------------------------------------

// Host -> ORVEngine.dll (start-up) -> plug-in DLL (Start) throws; the engine logs the failure and
// passes the exception on to the host, std::exception or not.
TEST(WindowsEngineExceptionTest, PluginExceptionsCrossTheEngineDll) {
    test::TEngineModule Module(BinDir + "/ORVEngine.dll");
    Ref<test::TRecordingLogger> Logger = test::TRecordingLogger::Create();
    Module.SetLogger(Logger.Get());
    for (const std::string ID : {"test.boundary", "test.boundary.nonstd"}) {
        SCOPED_TRACE(ID);
        test::TTempFolder Temp;
        Temp.WriteFile("engine.xml", "<Engine Path=\"%config%/plugins\"/>");
        Temp.WriteFile("plugins/p/plugin.xml",
                       "<Plugin ID=\"" + ID + "\" Initialize=\"true\" Library=\"win_boundary.dll\"/>");
        Temp.CopyFile(BinDir + "/win_boundary.dll", "plugins/p/win_boundary.dll");
        Logger->Clear();
        // Held past the handler: releasing it unloads the DLL that the exception's code lives in.
        Ref<IORVEngine> Engine = Module.NewEngine();
        try {
            Engine->Startup(Temp.PathOf("engine.xml"), nullptr, -1);
            ADD_FAILURE() << "the start-up did not fail";
        } catch (const test::TBoundaryError& E) {
            EXPECT_EQ(ID, "test.boundary");
            EXPECT_STREQ(E.what(), "Start failed in test.boundary");
            EXPECT_EQ(E.Code(), 7);
        } catch (int Value) {
            EXPECT_EQ(ID, "test.boundary.nonstd");
            EXPECT_EQ(Value, 42);
        }
        const std::vector<std::string> Lines = Logger->Lines();
        ASSERT_FALSE(Lines.empty());
        EXPECT_EQ(Lines.back(), test::LogLine('E', SPluginStartError, {ID}));
    }
}

// --- files and folders ---------------------------------------------------------------------------

TEST(WindowsFolderTest, ListingSkipsHiddenAndSystemEntriesAndIsSortedByName) {
    test::TTempFolder Temp;
    Temp.WriteFile("b.xml", "");
    Temp.WriteFile("A.xml", "");
    Temp.MakeFolder("a");
    Temp.WriteFile("hidden.xml", "");
    Temp.WriteFile("system.xml", "");
    Temp.MakeFolder("hiddenfolder");
    ASSERT_TRUE(SetFileAttributesA(Temp.PathOf("hidden.xml").c_str(), FILE_ATTRIBUTE_HIDDEN));
    ASSERT_TRUE(SetFileAttributesA(Temp.PathOf("system.xml").c_str(), FILE_ATTRIBUTE_SYSTEM));
    ASSERT_TRUE(SetFileAttributesA(Temp.PathOf("hiddenfolder").c_str(), FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN));

    for (const std::string& Folder : {Temp.Path(), Temp.Path() + "\\", Temp.Path() + "/"}) {
        const std::vector<TFolderEntry> Entries = Platform().ListFolder(Folder);
        ASSERT_EQ(Entries.size(), 3u) << Folder;
        EXPECT_EQ(Entries[0].Name, "A.xml");
        EXPECT_FALSE(Entries[0].IsFolder);
        EXPECT_EQ(Entries[1].Name, "a");
        EXPECT_TRUE(Entries[1].IsFolder);
        EXPECT_EQ(Entries[2].Name, "b.xml");
    }
    EXPECT_TRUE(Platform().ListFolder(Temp.PathOf("missing")).empty());
}

TEST(WindowsFolderTest, FileIdentityIsOnePerFolderWhateverTheSpelling) {
    test::TTempFolder Temp;
    Temp.MakeFolder("Plugins/Sub");
    TFileIdentity Folder, Other;
    ASSERT_TRUE(Platform().FileIdentity(Temp.PathOf("Plugins"), Folder));
    for (const std::string& Spelling : {Temp.Path() + "/plugins/", Temp.PathOf("PLUGINS\\Sub\\..")}) {
        ASSERT_TRUE(Platform().FileIdentity(Spelling, Other)) << Spelling;
        EXPECT_TRUE(Other == Folder) << Spelling;
    }
    ASSERT_TRUE(Platform().FileIdentity(Temp.PathOf("Plugins/Sub"), Other));
    EXPECT_FALSE(Other == Folder);
    EXPECT_FALSE(Platform().FileIdentity(Temp.PathOf("missing"), Other));
}

#endif  // _WIN32
