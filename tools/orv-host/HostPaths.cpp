#include "HostPaths.h"

#include <ORVInterface.h>

#include "Common/Platform.h"

#include <vector>

using orv::TPathRules;

namespace {

std::string EngineFile() { return orv::ModuleFileNameAt(reinterpret_cast<const void*>(&GetORVEngine)); }

std::string ExecutableFile() { return orv::Platform().ExecutableFileName(); }

// The folder of File with its trailing separator; empty when File names none.
std::string FolderOf(const std::string& File) {
    for (std::size_t Cut = File.size(); Cut > 0; --Cut)
        if (TPathRules::EndsFolderPart(File[Cut - 1])) return File.substr(0, Cut);
    return std::string();
}

TConfigFileState StateOf(const std::string& Path) {
    switch (orv::Platform().KindOf(Path)) {
        case orv::TFileKind::None:
        case orv::TFileKind::DanglingLink: return TConfigFileState::Missing;
        case orv::TFileKind::File: return TConfigFileState::Found;
        default: return TConfigFileState::NotAFile;
    }
}

}  // namespace

TConfigFileState LocateConfigFile(const std::string& Name, std::string& Resolved) {
    std::vector<std::string> Candidates{Name};
    if (!TPathRules::IsAbsolute(Name)) {
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
