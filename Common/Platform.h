// The platform layer: the only place that talks to the operating system. Everything else in the
// engine goes through Platform(), which tests may replace (TPlatformOverride) to inject faults.
#ifndef ORV_PLATFORM_H
#define ORV_PLATFORM_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace orv {

// Path conventions of the build's platform, fixed at compile time here and nowhere else.
struct TPathRules {
#if defined(_WIN32)
    static constexpr char Delimiter = '\\';          // separator written
    static constexpr bool BackslashIsSeparator = true;  // "/" and "\" are read
    static constexpr bool LowerCaseValues = true;    // path variable values are stored lower-cased
    static constexpr bool ColonMakesAbsolute = true; // absolute = contains ":"; ":" ends a folder part
#else
    static constexpr char Delimiter = '/';
    static constexpr bool BackslashIsSeparator = false;  // only "/" is read
    static constexpr bool LowerCaseValues = false;   // file systems are case-sensitive
    static constexpr bool ColonMakesAbsolute = false;  // absolute = begins with "/"
#endif
    static bool IsSeparator(char C) { return C == '/' || (BackslashIsSeparator && C == '\\'); }
    // Whether C ends the folder part of a file name (a separator, or a drive's colon).
    static bool EndsFolderPart(char C) { return IsSeparator(C) || (ColonMakesAbsolute && C == ':'); }
    static bool IsAbsolute(const std::string& Path) {
        if (ColonMakesAbsolute) return Path.find(':') != std::string::npos;
        return !Path.empty() && Path.front() == '/';
    }
};

// One entry of a folder listing (only folders and regular files are reported).
struct TFolderEntry {
    std::string Name;   // the bare name, without the folder
    bool IsFolder;
};

// Which file or folder a path leads to: two paths to one object (links followed, any spelling)
// give equal identities.
struct TFileIdentity {
    uint64_t Volume = 0;
    uint64_t Index = 0;
    bool operator==(const TFileIdentity& O) const { return Volume == O.Volume && Index == O.Index; }
};
struct TFileIdentityHash {
    std::size_t operator()(const TFileIdentity& I) const {
        return std::hash<uint64_t>()(I.Index) ^ (std::hash<uint64_t>()(I.Volume) * 0x9E3779B97F4A7C15ull);
    }
};

// The names of the regular files of a folder, sorted by name (byte order).
using TFileNames = std::vector<std::string>;

// Which file the entry a TFolderWalker is told about is, asked for only where it matters, and what
// the walk knows of its folder.
class TEntryIdentity {
public:
    // False when the identity cannot be told (the entry went away, a path too long, ...).
    virtual bool Get(TFileIdentity& Identity) const = 0;
    // The regular files of the entry's folder as the walk listed them (hidden ones left out), one
    // list shared by all the entries of the folder; nil where the walk does not know them.
    virtual std::shared_ptr<const TFileNames> FilesBeside() const { return nullptr; }

protected:
    ~TEntryIdentity() = default;
};

// What TPlatform::WalkFolderTree reports.
class TFolderWalker {
public:
    virtual ~TFolderWalker() = default;
    // A regular file Name in Folder (Folder with its trailing separator). Identity is valid during
    // the call only.
    virtual void File(const std::string& Folder, const std::string& Name, const TEntryIdentity& Identity) = 0;
    // The folder Path was met but not entered, for Reason (a link to a folder entered already, a
    // pseudo file system).
    virtual void Skipped(const std::string& Path, const std::string& Reason) = 0;
    // The folder Path could not be opened or listed; Reason is the system's.
    virtual void Unreadable(const std::string& Path, const std::string& Reason) = 0;
};

// What a path leads to, links followed.
enum class TFileKind { None, File, Folder, Fifo, CharacterDevice, BlockDevice, Socket, DanglingLink, Other };

using TLibraryHandle = void*;

enum class TReadResult { Ok, CannotOpen, CannotRead, TooLarge };

class TPlatform {
public:
    virtual ~TPlatform() = default;

    // Loads the library at the absolute path Path. Returns nullptr and sets Error when it cannot.
    virtual TLibraryHandle OpenLibrary(const std::string& Path, std::string& Error);
    // The address of the export Name, nullptr when the library has none.
    virtual void* FindSymbol(TLibraryHandle Handle, const std::string& Name);
    // Unloads the library; raises EORVException when the system refuses.
    virtual void CloseLibrary(TLibraryHandle Handle);

    virtual bool FileExists(const std::string& Path);    // a regular file (not a folder/FIFO/device)
    virtual bool FolderExists(const std::string& Path);
    // What Path leads to (None when there is nothing of that name, DanglingLink for a link whose
    // target is missing or cannot be reached).
    virtual TFileKind KindOf(const std::string& Path);
    // Folders and regular files in Path, sorted by name (byte order); hidden entries are left out.
    virtual std::vector<TFolderEntry> ListFolder(const std::string& Path);
    // The identity of the existing file or folder Path; false when it cannot be determined.
    virtual bool FileIdentity(const std::string& Path, TFileIdentity& Identity);
    // The size in bytes of the regular file Path; -1 when it cannot be determined.
    virtual int64_t FileSize(const std::string& Path);
    // Reads the file Path whole into Bytes, unless it holds more than MaxSize bytes (TooLarge,
    // with Size set, before anything is read). Error receives the system's text of a failure.
    virtual TReadResult ReadFile(const std::string& Path, int64_t MaxSize, std::string& Bytes, int64_t& Size,
                                 std::string& Error);
    // Walks the folder tree under the folder Root depth-first, with each folder's entries taken in
    // name order (as ListFolder gives them) and a subfolder's content reported where the subfolder
    // is met. Names reported are Root's spelling followed by the entries' names, links included.
    // Hidden folders are left out as ListFolder leaves them; each real folder is entered once
    // (a link to a folder entered already, or to one of its ancestors, is reported Skipped), and
    // folders of the kernel's pseudo file systems (proc, sysfs, devtmpfs, ...) are never entered.
    // A folder that cannot be opened or listed, Root included, is reported Unreadable.
    // The walk uses no recursion; its time and memory grow with the number of folders and the
    // length of the names, not with the depth (the path of the folder being listed is one text).
    virtual void WalkFolderTree(const std::string& Root, TFolderWalker& Walker);
    // Bytes, text in the character encoding named Encoding (as an XML declaration names it), as
    // UTF-8. False, with Error set, when the encoding is unknown here or the bytes are not valid
    // in it.
    virtual bool DecodeText(const std::string& Bytes, const std::string& Encoding, std::string& Utf8,
                            std::string& Error);
    virtual std::string GetCurrentFolder();
    // Full file name of the host executable.
    virtual std::string ExecutableFileName();
    // Full file name of the module this code is linked into (the engine library).
    virtual std::string ModuleFileName();
    // Text of message-table entry Id in the process code page; empty when there is none.
    virtual std::string LoadMessage(unsigned Id);
    // Utf8 in the process code page, the encoding of every string inside the engine: unchanged
    // where that is UTF-8 (Linux), converted to the ANSI code page on Windows ("?" for characters
    // it lacks). Texts that come from UTF-8 sources (XML files) pass through here.
    virtual std::string Utf8ToNative(const std::string& Utf8);
    // True once the process has begun to exit (as opposed to the engine library being unloaded
    // while the process goes on). Module tear-down then leaves plug-in objects alone: their
    // libraries may already be gone.
    virtual bool ProcessIsExiting();
};

// The platform layer in force.
TPlatform& Platform();

// What follows is the platform layer as well, but not replaceable by TPlatformOverride: the
// tools and the thread-local storage of the common services use it directly.

// Full file name of the module (executable or library) that holds Address; empty when none does.
std::string ModuleFileNameAt(const void* Address);

// The kind of library file this process loads, as the file's headers write it.
struct TNativeLibraryKind {
    bool Pe;           // PE (Windows); ELF otherwise
    bool Wide;         // ELF class 64, PE32+
    bool BigEndian;    // ELF data MSB
    uint16_t Machine;  // ELF e_machine or the COFF header's Machine; 0 where this build does not know
};
TNativeLibraryKind NativeLibraryKind();

// The folders the system's loader searches, in its order, for the libraries that a library in
// the folder Origin (without a trailing separator) needs. RPath and RunPath are the library's
// own search lists as written (ELF DT_RPATH and DT_RUNPATH, "$ORIGIN" standing for Origin);
// where libraries carry none they are ignored.
std::vector<std::string> LibrarySearchFolders(const std::string& Origin, const std::vector<std::string>& RPath,
                                              const std::vector<std::string>& RunPath);

// Whether the system provides the library Name, as a library names it among its needs, without a
// file of that name to find (linux-vdso.so.1, api-ms-*).
bool IsSystemProvidedLibrary(const std::string& Name);

// The process's 8-bit encoding: UTF-8 on Linux, the ANSI code page on Windows.
enum class TTextEncoding { Utf8, Native };

// Text, in encoding From, in encoding To (through UTF-16 on Windows; unchanged where both are
// UTF-8). False when the text cannot be converted; with Strict, also when Text is not valid in
// From or To lacks one of its characters (otherwise those become the code page's replacement).
bool RecodeText(const std::string& Text, TTextEncoding From, TTextEncoding To, bool Strict, std::string& Result);

// Thread-local storage: one pointer per thread under a key, and Release called at a thread's
// exit for its pointer when that is not null.
struct TThreadKey {
    uintptr_t Id = 0;
};
// False when the system has no key left.
bool CreateThreadKey(TThreadKey& Key, void (*Release)(void*));
void* GetThreadValue(TThreadKey Key);
bool SetThreadValue(TThreadKey Key, void* Value);
// No thread's exit calls Release for the key afterwards; the pointers still held are left as they are.
void DeleteThreadKey(TThreadKey Key);

// Whether Type, a file system's type number as the system reports it (statfs), is one of the
// kernel's pseudo file systems that walks never enter (proc, sysfs, efivarfs, ...; not tmpfs,
// whose number devtmpfs shares). Always false where file systems have no such numbers.
bool IsPseudoFileSystemType(uint64_t Type);

// Replaces the platform layer for the lifetime of this object (tests).
class TPlatformOverride {
public:
    explicit TPlatformOverride(TPlatform& Replacement);
    ~TPlatformOverride();
    TPlatformOverride(const TPlatformOverride&) = delete;
    TPlatformOverride& operator=(const TPlatformOverride&) = delete;

private:
    TPlatform* Previous_;
};

}  // namespace orv

#endif
