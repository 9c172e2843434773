#include "ORVCommon.h"

#include "Platform.h"

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

// Null slot: a thread-specific key whose value owns one reference to the thread's TNullLogger.
// The key's destructor receives the value itself when the thread ends, which works however the
// runtime tears down its thread-local storage (mingw frees emulated TLS before thread_local
// destructors run). The key is created on first use and deleted by FinalizeLogging at module
// unload, so that no thread exit calls into an unloaded module afterwards.
TThreadKey GNullKey;
bool GNullKeyDeleted = false;

void ReleaseNullLogger(void* Logger) {
    if (Logger) static_cast<IORVLogger*>(Logger)->Release();
}

bool NullKeyUsable() {
    static const bool Created = CreateThreadKey(GNullKey, &ReleaseNullLogger);
    return Created && !GNullKeyDeleted;
}

}  // namespace

Ref<IORVLogger> GetLogger() {
    if (GHostLogger) return Ref<IORVLogger>(GHostLogger);
    if (!NullKeyUsable()) return Ref<IORVLogger>(new TNullLogger());  // only after FinalizeLogging
    auto* Null = static_cast<IORVLogger*>(GetThreadValue(GNullKey));
    if (!Null) {
        Null = Ref<IORVLogger>(new TNullLogger()).Detach();
        if (!SetThreadValue(GNullKey, Null)) {
            Ref<IORVLogger> Unkept;
            Unkept.Attach(Null);
            return Unkept;
        }
    }
    return Ref<IORVLogger>(Null);
}

void SetThreadLogger(IORVLogger* Logger) { GHostLogger = Logger; }

void ReleaseThreadNullLogger() {
    if (!NullKeyUsable()) return;
    Ref<IORVLogger> Owned;
    Owned.Attach(static_cast<IORVLogger*>(GetThreadValue(GNullKey)));
    SetThreadValue(GNullKey, nullptr);
}

void FinalizeLogging() {
    if (!NullKeyUsable()) return;
    ReleaseThreadNullLogger();
    DeleteThreadKey(GNullKey);
    GNullKeyDeleted = true;
}

namespace Log {

void Debug(const std::string& Msg) { GetLogger()->Debug(Msg); }

void Warn(const std::string& Msg) { GetLogger()->Warn(Msg); }

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
