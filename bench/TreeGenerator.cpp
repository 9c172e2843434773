// orv-bench-tree: writes a plug-in tree for the start-up benchmark.
//
//   orv-bench-tree --out DIR --plugins N [--extra M] [--seed S] [--library FILE] [--initialize PERCENT]
//
// DIR/plugins/group-K/plugin-I/plugin.xml for I in 0..N-1 (100 plug-ins a group), each about
// 1.3 KB: one extension point (a few of them Required or Unique), ten extensions naming one to
// three points of other plug-ins, and a library file beside the manifest. PERCENT of the plug-ins
// (default 2) are started with the engine: their library is a copy of FILE (a real plug-in);
// the others' is a small file that is never loaded. With --extra, DIR/extra/ holds M more
// plug-ins of the same shape whose extensions name points of the first N. Also writes
// DIR/engine.xml (Path: the plug-ins) and DIR/engine-all.xml (Path: the plug-ins and the extra).
// The tree depends on N, M and S only.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;

namespace {

// A small generator whose sequence is the same everywhere (std::mt19937's distributions are not).
class TRandom {
public:
    explicit TRandom(uint64_t Seed) : State_(Seed * 6364136223846793005ull + 1442695040888963407ull) {}
    uint32_t Below(uint32_t N) {
        State_ = State_ * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<uint32_t>((State_ >> 33) % N);
    }

private:
    uint64_t State_;
};

std::string PluginID(const char* Prefix, uint32_t I) { return std::string(Prefix) + "g" + std::to_string(I / 100) + ".p" + std::to_string(I); }

void WritePlugin(const fs::path& Root, const char* Prefix, uint32_t I, uint32_t Targets, TRandom& Random,
                 bool Initialize, const std::string& Library) {
    const fs::path Folder = Root / ("group-" + std::to_string(I / 100)) / ("plugin-" + std::to_string(I));
    fs::create_directories(Folder);
    const std::string ID = PluginID(Prefix, I);
    const std::string LibraryName = "plugin-" + std::to_string(I) + ".so";
    std::string Xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Plugin ID=\"" + ID + "\" Name=\"Benchmark plug-in " +
                      std::to_string(I) + "\" Version=\"1.0." + std::to_string(I % 17) +
                      "\" Provider=\"ORV benchmark\" Initialize=\"" + (Initialize ? "true" : "false") +
                      "\" Library=\"" + LibraryName + "\">\n";
    const uint32_t Kind = Random.Below(100);
    Xml += std::string("  <ExtensionPoint ID=\"slot\" Name=\"Slot of plug-in ") + std::to_string(I) + "\"" +
           (Kind < 3 ? " Required=\"true\"" : "") + (Kind >= 97 ? " Unique=\"true\"" : "") + "/>\n";
    for (int E = 0; E < 10; ++E) {
        std::string Points;
        const uint32_t Count = 1 + Random.Below(3);
        for (uint32_t K = 0; K < Count; ++K)
            Points += (K ? ", " : "") + PluginID("", Random.Below(Targets)) + ".slot";
        Xml += "  <Extension ID=\"ext" + std::to_string(E) + "\" Name=\"Extension " + std::to_string(E) +
               "\" Points=\"" + Points + "\"" + (E % 3 == 0 ? " FactoryMethod=\"Create" + std::to_string(E) + "\"" : "") +
               "/>\n";
    }
    Xml += "</Plugin>\n";
    std::ofstream(Folder / "plugin.xml", std::ios::binary) << Xml;
    if (Initialize && !Library.empty())
        fs::copy_file(Library, Folder / LibraryName, fs::copy_options::overwrite_existing);
    else
        std::ofstream(Folder / LibraryName, std::ios::binary) << "not loaded: only its manifest says it is there\n";
}

int Usage() {
    std::fprintf(stderr, "usage: orv-bench-tree --out DIR --plugins N [--extra M] [--seed S] [--library FILE] "
                         "[--initialize PERCENT]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::string Out, Library;
    uint32_t Plugins = 0, Extra = 0, Initialize = 2;
    uint64_t Seed = 1;
    for (int I = 1; I + 1 < argc; I += 2) {
        const std::string Key = argv[I], Value = argv[I + 1];
        if (Key == "--out") Out = Value;
        else if (Key == "--plugins") Plugins = static_cast<uint32_t>(std::stoul(Value));
        else if (Key == "--extra") Extra = static_cast<uint32_t>(std::stoul(Value));
        else if (Key == "--seed") Seed = std::stoull(Value);
        else if (Key == "--library") Library = Value;
        else if (Key == "--initialize") Initialize = static_cast<uint32_t>(std::stoul(Value));
        else return Usage();
    }
    if (Out.empty() || Plugins == 0 || argc % 2 == 0) return Usage();
    const fs::path Root = fs::absolute(Out);
    fs::remove_all(Root);
    TRandom Random(Seed);
    // Every 100 / PERCENT-th plug-in starts with the engine.
    const uint32_t Every = Initialize ? 100 / Initialize : 0;
    for (uint32_t I = 0; I < Plugins; ++I)
        WritePlugin(Root / "plugins", "", I, Plugins, Random, Every && I % Every == 0, Library);
    for (uint32_t I = 0; I < Extra; ++I) WritePlugin(Root / "extra", "x", I, Plugins, Random, false, Library);
    // The single plug-in that a host adds and drops at run time.
    WritePlugin(Root / "one", "y", 0, Plugins, Random, false, Library);
    std::ofstream(Root / "engine.xml") << "<Engine Path=\"%config%/plugins\"/>\n";
    std::ofstream(Root / "engine-all.xml") << "<Engine Path=\"%config%/plugins;%config%/extra\"/>\n";
    return 0;
}
