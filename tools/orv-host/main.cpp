// orv-host: starts the engine on a configuration file and runs its application.
//
//   orv-host [--quiet | --verbose] [--profile[=FILE]] CONFIG [ARGS...]
//
// --profile prints at the end where the start's time went (each phase, each plug-in's load,
// GetPluginImpl and Start, slowest first); with =FILE it also writes a trace of every timed step
// in the Trace Event format, for Perfetto or chrome://tracing.
// ARGS reach the application's Run as string arguments. The engine's log goes to stderr
// (default: INFO and above; --quiet: WARN and above; --verbose: everything).
// Exit codes: 0 when the application ran and everything stopped cleanly; 1 when anything raised
// (the message is printed) or no application ran; 2 on a usage error, a configuration file that
// cannot be found or that is not a regular file among them.
#include "ConsoleLogger.h"
#include "HostPaths.h"
#include "Profile.h"

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
        std::fprintf(stderr, "orv-host: %s\n", PrintableData(E.what()).c_str());
    } catch (...) {
        std::fprintf(stderr, "orv-host: unknown exception\n");
    }
}

int Usage() {
    std::fprintf(stderr, "usage: orv-host [--quiet | --verbose] [--profile[=FILE]] CONFIG [ARGS...]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    TLogLevel Level = TLogLevel::Info;
    bool Profile = false;
    std::string TraceFile;
    int First = 1;
    for (; First < argc && std::strncmp(argv[First], "--", 2) == 0; ++First) {
        if (std::strcmp(argv[First], "--quiet") == 0) {
            Level = TLogLevel::Warn;
        } else if (std::strcmp(argv[First], "--verbose") == 0) {
            Level = TLogLevel::Debug;
        } else if (std::strcmp(argv[First], "--profile") == 0) {
            Profile = true;
        } else if (std::strncmp(argv[First], "--profile=", 10) == 0 && argv[First][10] != '\0') {
            Profile = true;
            TraceFile = argv[First] + 10;
        } else if (std::strcmp(argv[First], "--") == 0) {
            ++First;
            break;
        } else {
            return Usage();
        }
    }
    if (First >= argc) return Usage();
    const std::string ConfigFile = argv[First];
    std::string Found;
    switch (LocateConfigFile(ConfigFile, Found)) {
        case TConfigFileState::Found:
            break;
        case TConfigFileState::Missing:
            std::fprintf(stderr, "orv-host: configuration file not found: %s\n", PrintableData(ConfigFile).c_str());
            return 2;
        case TConfigFileState::NotAFile:
            std::fprintf(stderr, "orv-host: configuration file is not a regular file: %s\n", PrintableData(Found).c_str());
            return 2;
    }

    std::vector<orv::TVarRec> Args;
    for (int I = First + 1; I < argc; ++I) {
        orv::TVarRec R{};
        R.VType = orv::vtAnsiString;
        R.VAnsiString = argv[I];
        Args.push_back(R);
    }

    TEngineWatch Watch;
    orv::Ref<orv::IORVLogger> Logger(new TConsoleLogger(Level, stderr, &Watch));
    SetLogger(Logger.Get());
    int ExitCode = 0;
    bool StartFailed = false;
    orv::Ref<orv::IORVEngine> Engine;
    orv::Ref<TProfileMonitor> Monitor;
    try {
        GetORVEngine(Engine.Put());
        if (Profile) {
            orv::Ref<TProfileMonitor> Created(new TProfileMonitor());
            orv::Supports<orv::IORVEngineMonitor>(Engine, "IORVEngineMonitor")->SetMonitor(Created.Get());
            Monitor = Created;
        }
        Engine->Startup(ConfigFile, Args.empty() ? nullptr : Args.data(), static_cast<int32_t>(Args.size()) - 1);
    } catch (...) {
        ReportCurrentException();
        ExitCode = 1;
        StartFailed = true;
    }
    // Stop the plug-ins also when the application failed after the engine had started, but leave
    // an engine alone that the application shut down itself.
    if (Engine && Watch.Running()) {
        try {
            Engine->Shutdown();
        } catch (const orv::EAssertionFailed&) {
            // A start that failed before the engine was running leaves it refusing to shut down.
            if (!StartFailed) {
                ReportCurrentException();
                ExitCode = 1;
            }
        } catch (...) {
            ReportCurrentException();
            ExitCode = 1;
        }
    }
    if (ExitCode == 0 && Watch.NoApplication()) {
        std::fprintf(stderr, "orv-host: no application ran: the configuration's entry point was not found or "
                             "could not be created\n");
        ExitCode = 1;
    }
    if (Monitor) {
        Engine.Query<orv::IORVEngineMonitor>()->SetMonitor(nullptr);
        Monitor->PrintSummary(stderr);
        std::string Error;
        if (!TraceFile.empty() && !Monitor->WriteTrace(TraceFile, Error)) {
            std::fprintf(stderr, "orv-host: profile: %s\n", PrintableData(Error).c_str());
            ExitCode = 1;
        }
    }
    SetLogger(nullptr);
    return ExitCode;
}
