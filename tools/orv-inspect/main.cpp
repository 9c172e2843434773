// orv-inspect: one report of everything wrong in a plug-in tree, without running plug-in code.
//
//   orv-inspect [--config FILE] [--format text|json|dot] [--check-libraries] PATH...
//
// PATH: plug-in folders (searched as the engine searches them) or manifest files. --config reads an
// engine configuration for ConfigExt, ShieldedPlugins and DllPath, as the engine's parse-only mode
// does; without it the default manifest suffix (plugin.xml) applies. --check-libraries reads each
// plug-in library as a file: its format, exports and the libraries it needs.
// Exit codes: 0 no errors (warnings and notes allowed), 1 errors found, 2 usage error, an input
// that cannot be read, or a report that could not be written. Output is UTF-8.
#include "Inspection.h"
#include "Reports.h"
#include "ToolText.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

int Usage(const char* Problem) {
    if (Problem) std::fprintf(stderr, "orv-inspect: %s\n", Problem);
    std::fprintf(stderr, "usage: orv-inspect [--config FILE] [--format text|json|dot] [--check-libraries] PATH...\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    TInspectOptions Options;
    std::string Format = "text";
    for (int I = 1; I < argc; ++I) {
        const std::string Arg = argv[I];
        if (Arg == "--config" || Arg == "--format") {
            if (I + 1 >= argc) return Usage((Arg + " needs a value").c_str());
            (Arg == "--config" ? Options.ConfigFile : Format) = argv[++I];
        } else if (Arg == "--check-libraries") {
            Options.CheckLibraries = true;
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

    TInspection Inspection;
    try {
        Inspection = Inspect(Options);
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
