// orv-inspect: one report of everything wrong in a plug-in tree, without running plug-in code.
//
//   orv-inspect [--config FILE] [--format text|json|dot] [--check-libraries]
//               [--check-load [--timeout SECONDS] [--start]] PATH...
//
// PATH: plug-in folders (searched as the engine searches them) or manifest files. --config reads an
// engine configuration for ConfigExt, ShieldedPlugins and DllPath, as the engine's parse-only mode
// does; without it the default manifest suffix (plugin.xml) applies. --check-libraries reads each
// plug-in library as a file: its format, exports and the libraries it needs. --check-load loads
// each plug-in library in a child process of its own (orv-probe), calls its GetPluginImpl and its
// factories (and, with --start, Start and Stop), and kills it after --timeout seconds (10).
// Exit codes: 0 no errors (warnings and notes allowed), 1 errors found, 2 usage error, an input
// that cannot be read, or a report that could not be written. Output is UTF-8.
#include "Inspection.h"
#include "LoadCheck.h"
#include "Reports.h"
#include "ToolText.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

int Usage(const char* Problem) {
    if (Problem) std::fprintf(stderr, "orv-inspect: %s\n", Problem);
    std::fprintf(stderr, "usage: orv-inspect [--config FILE] [--format text|json|dot] [--check-libraries]\n"
                         "                   [--check-load [--timeout SECONDS] [--start]] PATH...\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    TInspectOptions Options;
    std::string Format = "text";
    bool CheckLoad = false;
    TLoadCheckOptions LoadOptions;
    std::string Timeout;
    for (int I = 1; I < argc; ++I) {
        const std::string Arg = argv[I];
        if (Arg == "--config" || Arg == "--format") {
            if (I + 1 >= argc) return Usage((Arg + " needs a value").c_str());
            (Arg == "--config" ? Options.ConfigFile : Format) = argv[++I];
        } else if (Arg == "--check-libraries") {
            Options.CheckLibraries = true;
        } else if (Arg == "--check-load" || Arg == "--start") {
            (Arg == "--start" ? LoadOptions.Start : CheckLoad) = true;
        } else if (Arg == "--timeout") {
            if (I + 1 >= argc) return Usage("--timeout needs a value");
            Timeout = argv[++I];
        } else if (Arg == "--help" || Arg == "-h") {
            Usage(nullptr);
            return 0;
        } else if (Arg.compare(0, 2, "--") == 0) {
            return Usage(("unknown option " + Arg).c_str());
        } else {
            Options.Paths.push_back(Arg);
        }
    }
    if (Format != "text" && Format != "json" && Format != "dot") return Usage(("unknown format " + Format).c_str());
    if (Options.Paths.empty()) return Usage("no PATH given");
    if ((LoadOptions.Start || !Timeout.empty()) && !CheckLoad) return Usage("--timeout and --start need --check-load");
    if (!Timeout.empty()) {
        if (Timeout.size() > 5 || Timeout.find_first_not_of("0123456789") != std::string::npos || std::stoi(Timeout) < 1)
            return Usage(("--timeout needs a whole number of seconds from 1, not " + Timeout).c_str());
        LoadOptions.TimeoutSeconds = std::stoi(Timeout);
    }
    if (CheckLoad) {
        LoadOptions.Probe = FindProbe();
        LoadOptions.ConfigFile = Options.ConfigFile;
        if (LoadOptions.Probe.empty()) {
            std::fprintf(stderr, "orv-inspect: --check-load needs orv-probe beside orv-inspect\n");
            return 2;
        }
    }

    TInspection Inspection;
    try {
        Inspection = Inspect(Options);
        if (CheckLoad) CheckLoads(Inspection, LoadOptions);
    } catch (const EInspectInput& E) {
        std::fprintf(stderr, "orv-inspect: %s\n", PrintableData(E.what()).c_str());
        return 2;
    } catch (const std::exception& E) {
        std::fprintf(stderr, "orv-inspect: %s\n", PrintableData(E.what()).c_str());
        return 2;
    }
    const std::string Report = Format == "json" ? JsonReport(Inspection) : Format == "dot" ? DotReport(Inspection)
                                                                                            : TextReport(Inspection);
    // A report that did not reach its reader (a full disk, a closed output) must not pass for one
    // that found nothing.
    errno = 0;
    bool Written = std::fwrite(Report.data(), 1, Report.size(), stdout) == Report.size();
    int Error = errno;
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        if (Written) Error = errno;
        Written = false;
    }
    if (!Written) {
        std::fprintf(stderr, "orv-inspect: the report could not be written: %s\n",
                     Error != 0 ? std::strerror(Error) : "output error");
        return 2;
    }
    return CountFindings(Inspection).Errors > 0 ? 1 : 0;
}
