// orv-bench: one sample of the start-up benchmark, in a process of its own.
//
//   orv-bench MODE TREE
//
// TREE is a folder written by orv-bench-tree. MODE:
//   floor      the least any engine pays for these files: walk TREE/plugins by the directory
//              entries' types, read every manifest into one reused buffer and parse it with pugixml
//              in place, keep nothing
//   floor-stat the older, dearer floor: every folder's names kept as strings, every entry stat'ed
//              by path, every manifest read through stdio into a buffer of its own
//   parse      GetORVParser()->ParsePath(TREE/plugins, TREE/engine.xml)
//   startup    GetORVEngine()->Startup(TREE/engine.xml): the plug-ins marked Initialize start
//   libraries  load the libraries of the plug-ins marked Initialize (dlopen, GetPluginImpl), the
//              part of a startup that reading cannot make cheaper
//   load       start on TREE/engine.xml, then LoadPlugins(TREE/extra) (only this is timed)
//   unload     start on TREE/engine-all.xml, then UnloadPlugins(TREE/extra) (only this is timed)
//   load-one   start on TREE/engine.xml, then LoadPlugins(TREE/one), a single plug-in (only this is
//              timed)
//   unload-one start on TREE/engine.xml and LoadPlugins(TREE/one), then UnloadPlugins(TREE/one) (only
//              this is timed)
// The four run-time modes with "+listener" (load-one+listener, ...) register a registry listener
// before the timed call, one that reads what each delta lists, so that its cost is timed as well.
// Prints one line: "mode=<MODE> plugins=<n> us=<microseconds> rss_kib=<resident growth>", the
// resident growth measured with the result (the registry) still alive.
#include <ORVInterface.h>

#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include <pugixml.hpp>

namespace {

long ResidentKiB() {
    std::ifstream Status("/proc/self/status");
    for (std::string Line; std::getline(Status, Line);)
        if (Line.compare(0, 6, "VmRSS:") == 0) return std::stol(Line.substr(6));
    return 0;
}

// Every file named plugin.xml under Folder, depth-first.
void FindManifests(const std::string& Folder, std::vector<std::string>& Found) {
    DIR* Dir = opendir(Folder.c_str());
    if (!Dir) return;
    std::vector<std::string> Names;
    while (dirent* E = readdir(Dir))
        if (E->d_name[0] != '.') Names.emplace_back(E->d_name);
    closedir(Dir);
    for (const std::string& Name : Names) {
        const std::string Path = Folder + "/" + Name;
        struct stat St;
        if (stat(Path.c_str(), &St) != 0) continue;
        if (S_ISDIR(St.st_mode))
            FindManifests(Path, Found);
        else if (Name == "plugin.xml")
            Found.push_back(Path);
    }
}

std::size_t FloorStat(const std::string& Tree) {
    std::vector<std::string> Manifests;
    FindManifests(Tree + "/plugins", Manifests);
    std::size_t Elements = 0;
    for (const std::string& File : Manifests) {
        std::FILE* F = std::fopen(File.c_str(), "rb");
        if (!F) continue;
        std::fseek(F, 0, SEEK_END);
        const long Size = std::ftell(F);
        std::fseek(F, 0, SEEK_SET);
        char* Buffer = static_cast<char*>(pugi::get_memory_allocation_function()(static_cast<std::size_t>(Size)));
        const std::size_t Got = std::fread(Buffer, 1, static_cast<std::size_t>(Size), F);
        std::fclose(F);
        pugi::xml_document Document;
        if (Document.load_buffer_inplace_own(Buffer, Got)) Elements += 1;
    }
    return Elements;
}

// The least any engine pays for these files: one pass over the folders, trusting the entries' types
// (fstatat only where the file system does not give one, or for a link), each plugin.xml opened relative to its
// folder, read whole into a buffer reused for all of them, parsed in place, and dropped.
struct TFloor {
    std::vector<char> Buffer;
    pugi::xml_document Document;
    std::size_t Parsed = 0;

    void Manifest(int FolderFd) {
        const int Fd = openat(FolderFd, "plugin.xml", O_RDONLY | O_CLOEXEC);
        if (Fd < 0) return;
        struct stat St;
        if (fstat(Fd, &St) == 0) {
            const std::size_t Size = static_cast<std::size_t>(St.st_size);
            if (Buffer.size() < Size) Buffer.resize(Size);
            std::size_t Got = 0;
            while (Got < Size) {
                const ssize_t N = read(Fd, Buffer.data() + Got, Size - Got);
                if (N <= 0) break;
                Got += static_cast<std::size_t>(N);
            }
            if (Document.load_buffer_inplace(Buffer.data(), Got)) ++Parsed;
        }
        close(Fd);
    }

    void Walk(std::string& Folder) {  // Folder is the path, extended and restored on the way down
        DIR* Dir = opendir(Folder.c_str());  // by path: fdopendir would cost two fcntl more a folder
        if (!Dir) return;
        while (dirent* E = readdir(Dir)) {
            if (E->d_name[0] == '.') continue;
            unsigned char Type = E->d_type;
            if (Type == DT_UNKNOWN || Type == DT_LNK) {
                struct stat St;
                if (fstatat(dirfd(Dir), E->d_name, &St, 0) != 0) continue;
                Type = S_ISDIR(St.st_mode) ? DT_DIR : DT_REG;
            }
            if (Type == DT_DIR) {
                const std::size_t Length = Folder.size();
                Folder.append(1, '/').append(E->d_name);
                Walk(Folder);
                Folder.resize(Length);
            } else if (Type == DT_REG && std::strcmp(E->d_name, "plugin.xml") == 0) {
                Manifest(dirfd(Dir));
            }
        }
        closedir(Dir);
    }
};

std::size_t Floor(const std::string& Tree) {
    TFloor Pass;
    std::string Folder = Tree + "/plugins";
    Pass.Walk(Folder);
    return Pass.Parsed;
}

// The libraries of the plug-ins that start with the engine: the real ones (larger than a stub).
std::size_t LoadLibraries(const std::string& Tree) {
    std::vector<std::string> Manifests;
    FindManifests(Tree + "/plugins", Manifests);
    std::size_t Loaded = 0;
    for (const std::string& Manifest : Manifests) {
        std::ifstream In(Manifest);
        const std::string Text((std::istreambuf_iterator<char>(In)), std::istreambuf_iterator<char>());
        if (Text.find("Initialize=\"true\"") == std::string::npos) continue;
        const std::size_t At = Text.find("Library=\"") + 9;
        const std::string Library = Manifest.substr(0, Manifest.rfind('/') + 1) + Text.substr(At, Text.find('"', At) - At);
        if (void* Handle = dlopen(Library.c_str(), RTLD_NOW | RTLD_LOCAL)) {
            Loaded += dlsym(Handle, "GetPluginImpl") != nullptr;
        }
    }
    return Loaded;
}

// A host's listener that looks at everything a delta lists.
class TCountingListener : public orv::IORVRegistryListener {
public:
    int32_t ORV_CALL QueryInterface(const orv::TGUID&, void** Obj) override {
        *Obj = nullptr;
        return orv::E_NOINTERFACE_;
    }
    int32_t ORV_CALL AddRef() override { return 1; }   // lives on main's stack
    int32_t ORV_CALL Release() override { return 1; }
    void ORV_CALL RegistryChanged(orv::IORVRegistryDelta* Delta) override {
        Seen += Delta->GetAdded()->GetCount() + Delta->GetRemoved()->GetCount() + Delta->GetStarted()->GetCount() +
                Delta->GetStopped()->GetCount();
        orv::Ref<orv::IORVExtensionPoints> Points = Delta->GetChangedPoints();
        for (int32_t I = 0; I < Points->GetCount(); ++I)
            Seen += Delta->GetLinked(I)->GetCount() + Delta->GetUnlinked(I)->GetCount();
    }
    long Seen = 0;
};

std::size_t Count(const orv::Ref<orv::IORVRegistry>& Registry) {
    return Registry ? static_cast<std::size_t>(Registry->GetDescriptors()->GetCount()) : 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr,
                     "usage: orv-bench floor|floor-stat|parse|startup|libraries|load|unload|load-one|unload-one"
                     "[+listener] TREE\n");
        return 2;
    }
    const std::string Given = argv[1], Tree = argv[2];
    const std::string Suffix = "+listener";
    const bool Listening = Given.size() > Suffix.size() && Given.compare(Given.size() - Suffix.size(), Suffix.size(), Suffix) == 0;
    const std::string Mode = Listening ? Given.substr(0, Given.size() - Suffix.size()) : Given;
    TCountingListener Listener;
    using TClock = std::chrono::steady_clock;
    std::size_t Plugins = 0;
    orv::Ref<orv::IORVRegistry> Registry;  // kept alive until the resident size is taken
    orv::Ref<orv::IORVEngine> Engine;
    orv::Ref<orv::IORVParser> Parser;
    const bool RunTime = Mode == "load" || Mode == "unload" || Mode == "load-one" || Mode == "unload-one";
    const std::string Folder = Tree + (Mode == "load" || Mode == "unload" ? "/extra" : "/one");
    if (RunTime) {
        GetORVEngine(Engine.Put());
        Engine->Startup(Tree + (Mode == "unload" ? "/engine-all.xml" : "/engine.xml"), nullptr, -1);
        if (Mode == "unload-one") Engine->LoadPlugins({Folder});
        if (Listening) Engine.Query<orv::IORVRegistryEvents>()->AddListener(&Listener);
    }

    const long Before = ResidentKiB();
    const TClock::time_point Start = TClock::now();
    if (Mode == "floor") {
        Plugins = Floor(Tree);
    } else if (Mode == "floor-stat") {
        Plugins = FloorStat(Tree);
    } else if (Mode == "parse") {
        GetORVParser(Parser.Put());
        Registry = Parser->ParsePath(Tree + "/plugins", Tree + "/engine.xml");
        Plugins = Count(Registry);
    } else if (Mode == "startup") {
        GetORVEngine(Engine.Put());
        Engine->Startup(Tree + "/engine.xml", nullptr, -1);
        Registry = Engine->GetRegistry();
        Plugins = Count(Registry);
    } else if (Mode == "libraries") {
        Plugins = LoadLibraries(Tree);
    } else if (RunTime) {
        Registry = Engine->GetRegistry();
        const std::size_t Had = Count(Registry);
        if (Mode == "load" || Mode == "load-one")
            Engine->LoadPlugins({Folder});
        else
            Engine->UnloadPlugins({Folder});
        const std::size_t Has = Count(Registry);
        Plugins = Has > Had ? Has - Had : Had - Has;
    } else {
        std::fprintf(stderr, "orv-bench: unknown mode %s\n", Given.c_str());
        return 2;
    }
    const auto Elapsed = std::chrono::duration_cast<std::chrono::microseconds>(TClock::now() - Start).count();
    const long After = ResidentKiB();
    std::printf("mode=%s plugins=%zu us=%lld rss_kib=%ld\n", Given.c_str(), Plugins, static_cast<long long>(Elapsed),
                After - Before);
    if (Listening && Listener.Seen == 0) {
        std::fprintf(stderr, "orv-bench: the listener heard of nothing\n");
        return 1;
    }
    if (Engine && (Mode == "startup" || RunTime)) Engine->Shutdown();
    return Plugins > 0 ? 0 : 1;
}
