#include "ORVCommon.h"

#include <ORVPluginHelpers.h>

namespace orv {

namespace {

// The logger of a thread whose host slot is empty: implements IORVLogger and does nothing.
class TNullLogger final : public TInterfacedObject<IORVLogger> {
public:
    void ORV_CALL Debug(const std::string&) override {}
    void ORV_CALL DebugFmt(const std::string&, const TVarRec*, int32_t) override {}
    void ORV_CALL Info(const std::string&) override {}
    void ORV_CALL InfoFmt(const std::string&, const TVarRec*, int32_t) override {}
    void ORV_CALL Warn(const std::string&) override {}
    void ORV_CALL WarnFmt(const std::string&, const TVarRec*, int32_t) override {}
    void ORV_CALL Error(const std::string&) override {}
    void ORV_CALL ErrorFmt(const std::string&, const TVarRec*, int32_t) override {}
    void ORV_CALL Fatal(const std::string&) override {}
    void ORV_CALL FatalFmt(const std::string&, const TVarRec*, int32_t) override {}
};

// Host slot: the logger SetThreadLogger stored, counted for nothing.
thread_local IORVLogger* GHostLogger = nullptr;
// Null slot: owns one reference to this thread's TNullLogger. Both slots are plain pointers, so
// they stay readable while static destructors run at module unload.
thread_local IORVLogger* GNullLogger = nullptr;

// Drops a thread's null logger when the thread ends. Only threads that created one register it.
struct TNullLoggerReaper {
    ~TNullLoggerReaper() { ReleaseThreadNullLogger(); }
};

}  // namespace

Ref<IORVLogger> GetLogger() {
    if (GHostLogger) return Ref<IORVLogger>(GHostLogger);
    if (!GNullLogger) {
        static thread_local TNullLoggerReaper Reaper;
        (void)Reaper;
        GNullLogger = Ref<IORVLogger>(new TNullLogger()).Detach();
    }
    return Ref<IORVLogger>(GNullLogger);
}

void SetThreadLogger(IORVLogger* Logger) { GHostLogger = Logger; }

void ReleaseThreadNullLogger() {
    Ref<IORVLogger> Owned;
    Owned.Attach(GNullLogger);
    GNullLogger = nullptr;
}

namespace Log {

void Error(const std::string& Msg) { GetLogger()->Error(Msg); }

void InfoFmt(TMessageId Id, const TArgList& Args) {
    const std::string Fmt = LoadMessage(Id);
    GetLogger()->InfoFmt(Fmt, Args.Data(), Args.High());
}

void WarnFmt(TMessageId Id, const TArgList& Args) {
    const std::string Fmt = LoadMessage(Id);
    GetLogger()->WarnFmt(Fmt, Args.Data(), Args.High());
}

void ErrorFmt(TMessageId Id, const TArgList& Args) {
    const std::string Fmt = LoadMessage(Id);
    GetLogger()->ErrorFmt(Fmt, Args.Data(), Args.High());
}

}  // namespace Log

}  // namespace orv
