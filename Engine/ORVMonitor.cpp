#include "Engine/ORVMonitor.h"

#include <chrono>

namespace orv {

namespace {

// The monitor slot of the engine whose operation runs on this thread, nil outside one.
thread_local const Ref<IORVMonitor>* GCurrentMonitor = nullptr;

int64_t NowMicroseconds() {
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

bool MonitorSet() { return GCurrentMonitor && *GCurrentMonitor; }

}  // namespace

TMonitorSession::TMonitorSession(const Ref<IORVMonitor>& Slot) : Previous_(GCurrentMonitor) { GCurrentMonitor = &Slot; }

TMonitorSession::~TMonitorSession() { GCurrentMonitor = Previous_; }

TMonitorScope::TMonitorScope(int32_t Kind, const std::string& Name, const std::string& PluginID,
                             const std::string& Library)
    : Kind_(Kind) {
    if (!MonitorSet()) return;
    Active_ = true;
    Name_ = Name;
    PluginID_ = PluginID;
    Library_ = Library;
    Start_ = NowMicroseconds();
}

TMonitorScope::TMonitorScope(int32_t Kind, const std::string& Name, IORVDescriptor* Plugin) : Kind_(Kind) {
    if (!MonitorSet()) return;
    Active_ = true;
    Name_ = Name;
    if (Plugin) {
        PluginID_ = Plugin->GetID();
        Library_ = Plugin->GetLibrary();
    }
    Start_ = NowMicroseconds();
}

void TMonitorScope::Report() noexcept {
    Active_ = false;
    const int64_t Duration = NowMicroseconds() - Start_;
    if (!MonitorSet()) return;
    try {
        // Held for the call: the monitor may be replaced from inside it.
        Ref<IORVMonitor> Monitor = *GCurrentMonitor;
        Monitor->Event(Kind_, Name_, PluginID_, Library_, Start_, Duration);
    } catch (...) {
        // What the host's monitor raises stays there.
    }
}

}  // namespace orv
