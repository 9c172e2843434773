// orv-host: starts the engine on a configuration file and runs its application.
//
//   orv-host [--quiet | --verbose] CONFIG [ARGS...]
//
// ARGS reach the application's Run as string arguments. The engine's log goes to stderr
// (default: INFO and above; --quiet: WARN and above; --verbose: everything). Exits 1 with the
// message of any exception that escapes, 2 on a usage error.
#include "ConsoleLogger.h"

#include <ORVInterface.h>

#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

namespace {

// Prints the message of the exception being handled.
void ReportCurrentException() {
    try {
        throw;
    } catch (const std::exception& E) {
        std::fprintf(stderr, "orv-host: %s\n", ToUtf8(E.what()).c_str());
    } catch (...) {
        std::fprintf(stderr, "orv-host: unknown exception\n");
    }
}

int Usage() {
    std::fprintf(stderr, "usage: orv-host [--quiet | --verbose] CONFIG [ARGS...]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    TLogLevel Level = TLogLevel::Info;
    int First = 1;
    for (; First < argc && std::strncmp(argv[First], "--", 2) == 0; ++First) {
        if (std::strcmp(argv[First], "--quiet") == 0) {
            Level = TLogLevel::Warn;
        } else if (std::strcmp(argv[First], "--verbose") == 0) {
            Level = TLogLevel::Debug;
        } else if (std::strcmp(argv[First], "--") == 0) {
            ++First;
            break;
        } else {
            return Usage();
        }
    }
    if (First >= argc) return Usage();
    const std::string ConfigFile = argv[First];

    std::vector<orv::TVarRec> Args;
    for (int I = First + 1; I < argc; ++I) {
        orv::TVarRec R{};
        R.VType = orv::vtAnsiString;
        R.VAnsiString = argv[I];
        Args.push_back(R);
    }

    orv::Ref<orv::IORVLogger> Logger(new TConsoleLogger(Level, stderr));
    SetLogger(Logger.Get());
    int ExitCode = 0;
    orv::Ref<orv::IORVEngine> Engine;
    try {
        GetORVEngine(Engine.Put());
        Engine->Startup(ConfigFile, Args.empty() ? nullptr : Args.data(), static_cast<int32_t>(Args.size()) - 1);
    } catch (...) {
        ReportCurrentException();
        ExitCode = 1;
    }
    // Stop the plug-ins also when the application failed after the engine had started; an engine
    // that never got running refuses with an assertion, which is expected here.
    try {
        if (Engine) Engine->Shutdown();
    } catch (const orv::EAssertionFailed&) {
        if (ExitCode == 0) ExitCode = 1;
    } catch (...) {
        ReportCurrentException();
        ExitCode = 1;
    }
    SetLogger(nullptr);
    return ExitCode;
}
