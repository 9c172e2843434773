#include "HostPaths.h"

#include <ORVInterface.h>

#include <sys/stat.h>

#include <vector>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <dlfcn.h>
#include <unistd.h>
#endif

namespace {

#ifdef _WIN32
const char* const Separators = "\\/:";

bool IsAbsolute(const std::string& Path) { return Path.find(':') != std::string::npos; }

std::string ModuleFile(HMODULE Module) {
    char Buffer[MAX_PATH * 4];
    const DWORD N = GetModuleFileNameA(Module, Buffer, sizeof Buffer);
    return (N == 0 || N >= sizeof Buffer) ? std::string() : std::string(Buffer, N);
}

std::string EngineFile() {
    HMODULE Module = nullptr;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCSTR>(&GetORVEngine), &Module))
        return std::string();
    return ModuleFile(Module);
}

std::string ExecutableFile() { return ModuleFile(nullptr); }
#else
const char* const Separators = "/";

bool IsAbsolute(const std::string& Path) { return !Path.empty() && Path[0] == '/'; }

std::string EngineFile() {
    Dl_info Info;
    if (dladdr(reinterpret_cast<void*>(&GetORVEngine), &Info) == 0 || !Info.dli_fname) return std::string();
    return Info.dli_fname;
}

std::string ExecutableFile() {
    char Buffer[4096];
    const ssize_t N = readlink("/proc/self/exe", Buffer, sizeof Buffer);
    return (N <= 0 || static_cast<std::size_t>(N) >= sizeof Buffer) ? std::string()
                                                                       : std::string(Buffer, static_cast<std::size_t>(N));
}
#endif

// The folder of File with its trailing separator; empty when File names none.
std::string FolderOf(const std::string& File) {
    const std::size_t Cut = File.find_last_of(Separators);
    return Cut == std::string::npos ? std::string() : File.substr(0, Cut + 1);
}

TConfigFileState StateOf(const std::string& Path) {
    struct stat St;
    if (Path.empty() || stat(Path.c_str(), &St) != 0) return TConfigFileState::Missing;
    return S_ISREG(St.st_mode) ? TConfigFileState::Found : TConfigFileState::NotAFile;
}

}  // namespace

TConfigFileState LocateConfigFile(const std::string& Name, std::string& Resolved) {
    std::vector<std::string> Candidates{Name};
    if (!IsAbsolute(Name)) {
        for (const std::string& Folder : {FolderOf(EngineFile()), FolderOf(ExecutableFile())})
            if (!Folder.empty()) Candidates.push_back(Folder + Name);
    }
    // The first place that holds a regular file of that name wins, as in the engine.
    TConfigFileState Result = TConfigFileState::Missing;
    for (const std::string& Candidate : Candidates) {
        const TConfigFileState State = StateOf(Candidate);
        if (State == TConfigFileState::Found) {
            Resolved = Candidate;
            return State;
        }
        if (State == TConfigFileState::NotAFile && Result == TConfigFileState::Missing) {
            Resolved = Candidate;
            Result = State;
        }
    }
    return Result;
}
