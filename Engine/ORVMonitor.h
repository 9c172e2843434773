// The engine's side of IORVMonitor: an engine makes its monitor the current one of the thread
// while one of its operations runs (TMonitorSession), and each timed step is one TMonitorScope.
#ifndef ORV_MONITOR_H
#define ORV_MONITOR_H

#include <ORVInterface.h>

#include <cstdint>
#include <string>

namespace orv {

// Makes Slot (an engine's monitor, possibly empty) the thread's current monitor for the lifetime
// of this object; the one current before comes back afterwards. The slot is read at each event,
// so a monitor set or cleared meanwhile takes effect at the next step.
class TMonitorSession {
public:
    explicit TMonitorSession(const Ref<IORVMonitor>& Slot);
    ~TMonitorSession();
    TMonitorSession(const TMonitorSession&) = delete;
    TMonitorSession& operator=(const TMonitorSession&) = delete;

private:
    const Ref<IORVMonitor>* Previous_;
};

// Times one step from construction up to End (or destruction, whichever comes first) and reports
// it to the thread's current monitor. Without one it costs one pointer test and reads no clock
// nor copies any text.
class TMonitorScope {
public:
    TMonitorScope(int32_t Kind, const std::string& Name, const std::string& PluginID = std::string(),
                  const std::string& Library = std::string());
    // The same for a step of Plugin's code (nil allowed), whose id and library are asked for only
    // when a monitor is set.
    TMonitorScope(int32_t Kind, const std::string& Name, IORVDescriptor* Plugin);
    ~TMonitorScope() { End(); }
    TMonitorScope(const TMonitorScope&) = delete;
    TMonitorScope& operator=(const TMonitorScope&) = delete;

    // Reports the step now; later calls do nothing.
    void End() {
        if (Active_) Report();
    }

private:
    void Report() noexcept;

    bool Active_ = false;
    int32_t Kind_;
    int64_t Start_ = 0;
    std::string Name_;
    std::string PluginID_;
    std::string Library_;
};

}  // namespace orv

#endif
