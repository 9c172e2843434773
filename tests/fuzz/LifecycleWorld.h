// The world of the lifecycle fuzz target: a generated tree of plug-in folders, each with one
// manifest and a library per plug-in, served from memory through a replaced platform layer. The
// libraries' GetPluginImpl and factory exports are functions of the fuzz target itself; their
// plug-in objects report Start and Stop, and every piece of plug-in code may call the engine back
// (what it does is chosen by the input and carried out by the driver through TPluginHooks).
#ifndef ORV_FUZZ_LIFECYCLE_WORLD_H
#define ORV_FUZZ_LIFECYCLE_WORLD_H

#include <ORVInterface.h>
#include <ORVPluginHelpers.h>

#include "Common/Platform.h"

#include <cstdint>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace orv::fuzz {

// Reads the input byte by byte; past its end every byte reads as 0.
class TBytes {
public:
    TBytes(const uint8_t* Data, std::size_t Size) : Data_(Data), Size_(Size) {}
    uint8_t Next() { return Pos_ < Size_ ? Data_[Pos_++] : 0; }
    bool Done() const { return Pos_ >= Size_; }

private:
    const uint8_t* Data_;
    std::size_t Size_;
    std::size_t Pos_ = 0;
};

// What a piece of plug-in code does with the engine. Folder arguments: a folder of the tree,
// "/fz/plugins" (every folder the start-up searches) or "/fz" (every folder).
enum class TAction : uint8_t { None, Startup, Shutdown, LoadOwn, UnloadOwn, Load, Unload, Throw, Count };
enum TCode { OnStart, OnStop, OnFactory, CodeCount };

struct TPluginPlan {
    int Folder = 0;
    std::string ID;    // p0..p4: folders share ids
    std::string Name;  // f<folder>p<index>: tells the plug-ins apart
    bool Initialize = false;
    bool HasLibrary = true;
    int Points = 0;                               // local ids x0, x1
    std::vector<std::vector<std::string>> Named;  // per extension e<j>: the qualified point ids it names
    std::vector<std::string> NamedText;           // per extension: its Points attribute
    TAction Actions[CodeCount] = {};
    std::string Args[CodeCount];  // folder argument of Load and Unload
    bool Fired[CodeCount] = {};   // each piece of code calls back once per input
    std::string Library() const;
};

struct TFolderPlan {
    std::string Path;  // without trailing separator
    int Broken = 0;    // 1: an extension without points; 2: a manifest that is no XML
    std::vector<int> Plugins;
};

// One plug-in object made by GetPluginImpl.
struct TPluginRecord {
    TPluginPlan* Plan;
    int StartCalls = 0;
    bool StartReturned = false;
    int StopCalls = 0;
};

// What plug-in code does, implemented by the driver.
class TPluginHooks {
public:
    virtual void Start(std::size_t Record, IORVDescriptor* Descriptor) = 0;
    virtual void Stop(std::size_t Record) = 0;
    virtual void Factory(TPluginPlan& Plan) = 0;

protected:
    ~TPluginHooks() = default;
};

// Raised by plug-in code that fails on purpose.
class TPluginFault : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The tree, its files, and the platform layer that serves them.
class TWorld : public TPlatform {
public:
    // Builds the tree from the head of the input.
    explicit TWorld(TBytes& In);
    ~TWorld() override;

    std::vector<TFolderPlan> Folders;
    std::vector<TPluginPlan> Plugins;
    std::vector<TPluginRecord> Records;
    TPluginHooks* Hooks = nullptr;
    int LibrariesOpen = 0;

    // The folder argument that byte B names.
    std::string FolderArg(uint8_t B) const;
    // The folders under Path, in the order discovery meets them.
    std::vector<int> FoldersUnder(const std::string& Path) const;
    std::string ManifestOf(int Folder) const { return Folders[static_cast<std::size_t>(Folder)].Path + "/plugin.xml"; }
    // The plug-in whose library is Path, nil for none.
    TPluginPlan* PluginOfLibrary(const std::string& Path);

    // --- TPlatform ---
    TLibraryHandle OpenLibrary(const std::string& Path, std::string& Error) override;
    void* FindSymbol(TLibraryHandle Handle, const std::string& Name) override;
    void CloseLibrary(TLibraryHandle Handle) override;
    bool FileExists(const std::string& Path) override { return Files_.count(Path) != 0; }
    bool FolderExists(const std::string& Path) override;
    std::vector<TFolderEntry> ListFolder(const std::string&) override { return {}; }
    bool FileIdentity(const std::string& Path, TFileIdentity& Identity) override;
    int64_t FileSize(const std::string& Path) override;
    TReadResult ReadFile(const std::string& Path, int64_t MaxSize, std::string& Bytes, int64_t& Size,
                         std::string& Error) override;
    void WalkFolderTree(const std::string& Root, TFolderWalker& Walker) override;
    std::string GetCurrentFolder() override { return "/fz/"; }
    // Not the process's own: the real ones read /proc, which costs more than the rest of an input.
    std::string ExecutableFileName() override { return "/fz/bin/host"; }
    std::string ModuleFileName() override { return "/fz/bin/libORVEngine.so"; }

private:
    std::string Manifest(const TFolderPlan& Folder) const;

    std::map<std::string, std::string> Files_;  // path -> content, in the order a walk meets them
    std::set<std::string> FolderPaths_;
    std::map<std::string, std::size_t> Libraries_;  // library path -> index in Plugins
};

}  // namespace orv::fuzz

#endif
