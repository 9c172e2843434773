// orv-host --profile: a monitor that records the engine's timed steps, the summary it prints at the
// end and the trace it writes in the Trace Event format (Perfetto, chrome://tracing).
#ifndef ORV_HOST_PROFILE_H
#define ORV_HOST_PROFILE_H

#include <ORVPluginHelpers.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

struct TProfileEvent {
    int32_t Kind;
    std::string Name;
    std::string PluginID;
    std::string Library;
    int64_t Start;     // microseconds, the engine's monotonic clock
    int64_t Duration;  // microseconds
};

class TProfileMonitor : public orv::TInterfacedObject<orv::IORVMonitor> {
public:
    // Room for a start of some hundred plug-ins: growing the list would be counted as engine time.
    TProfileMonitor() { Events_.reserve(1024); }
    void ORV_CALL Event(int32_t Kind, const std::string& Name, const std::string& PluginID,
                        const std::string& Library, int64_t StartMicroseconds,
                        int64_t DurationMicroseconds) override {
        Events_.push_back({Kind, Name, PluginID, Library, StartMicroseconds, DurationMicroseconds});
    }

    const std::vector<TProfileEvent>& Events() const { return Events_; }

    // Writes the summary of the first start: its total, each phase, then the plug-ins by their cost
    // (load + GetPluginImpl + Start), slowest first, with their share of the total; then the steps
    // after the start (factory, Run, Shutdown).
    void PrintSummary(std::FILE* Out) const;
    // Writes every event as a complete ("X") event of a {"traceEvents": [...]} object to FileName;
    // false with Error set when the file cannot be written.
    bool WriteTrace(const std::string& FileName, std::string& Error) const;

private:
    std::vector<TProfileEvent> Events_;
};

// The short name of a monitor event kind ("configuration", "load", "Start", ...).
const char* ProfileKindName(int32_t Kind);

#endif
