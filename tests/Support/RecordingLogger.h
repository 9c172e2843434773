// A logger for tests that records every call, and a scope that installs a logger on this thread.
#ifndef ORV_TEST_RECORDING_LOGGER_H
#define ORV_TEST_RECORDING_LOGGER_H

#include <ORVPluginHelpers.h>

#include "Common/ORVConsts.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace orv::test {

enum class TLogLevel { Debug, Info, Warn, Error, Fatal };

// One element of a recorded argument list, copied out of the caller's TVarRec.
struct TRecordedArg {
    uint8_t Type;     // vtAnsiString, vtInteger or whatever tag the caller passed
    std::string Str;  // the string of a vtAnsiString element
    int32_t Int;      // the value of a vtInteger element
};

struct TLogRecord {
    TLogLevel Level;
    bool Formatted;                  // a ...Fmt operation
    std::string Text;                // Msg, or the template exactly as received
    std::vector<TRecordedArg> Args;  // empty for the plain operations
    std::string Message;             // Msg, or FormatArgs(Text, Args)
};

// Records each of the ten operations. Safe to call from several threads.
class TRecordingLogger : public TInterfacedObject<IORVLogger> {
public:
    static Ref<TRecordingLogger> Create() { return Ref<TRecordingLogger>(new TRecordingLogger()); }

    void ORV_CALL Debug(const std::string& Msg) override { Plain(TLogLevel::Debug, Msg); }
    void ORV_CALL DebugFmt(const std::string& Fmt, const TVarRec* Args, int32_t High) override {
        Format(TLogLevel::Debug, Fmt, Args, High);
    }
    void ORV_CALL Info(const std::string& Msg) override { Plain(TLogLevel::Info, Msg); }
    void ORV_CALL InfoFmt(const std::string& Fmt, const TVarRec* Args, int32_t High) override {
        Format(TLogLevel::Info, Fmt, Args, High);
    }
    void ORV_CALL Warn(const std::string& Msg) override { Plain(TLogLevel::Warn, Msg); }
    void ORV_CALL WarnFmt(const std::string& Fmt, const TVarRec* Args, int32_t High) override {
        Format(TLogLevel::Warn, Fmt, Args, High);
    }
    void ORV_CALL Error(const std::string& Msg) override { Plain(TLogLevel::Error, Msg); }
    void ORV_CALL ErrorFmt(const std::string& Fmt, const TVarRec* Args, int32_t High) override {
        Format(TLogLevel::Error, Fmt, Args, High);
    }
    void ORV_CALL Fatal(const std::string& Msg) override { Plain(TLogLevel::Fatal, Msg); }
    void ORV_CALL FatalFmt(const std::string& Fmt, const TVarRec* Args, int32_t High) override {
        Format(TLogLevel::Fatal, Fmt, Args, High);
    }

    int32_t ORV_CALL AddRef() override {
        ++Count_;
        return TInterfacedObject::AddRef();
    }
    int32_t ORV_CALL Release() override {
        --Count_;
        return TInterfacedObject::Release();
    }

    // The current reference count, for balance checks.
    int32_t RefCount() const { return Count_; }
    // A copy of everything recorded so far, in call order.
    std::vector<TLogRecord> Records() const;
    // The Message of each record, in call order.
    std::vector<std::string> Messages() const;
    // Each record in one line: level letter (D I W E F), message or template, and for the formatted
    // operations each argument in braces ("{int:3}" for an integer).
    std::vector<std::string> Lines() const;
    std::size_t Size() const;
    void Clear();
    // When not empty, every later call is recorded and then raises std::runtime_error(Text).
    void ThrowAfterRecording(const std::string& Text);

private:
    void Plain(TLogLevel Level, const std::string& Msg);
    void Format(TLogLevel Level, const std::string& Fmt, const TVarRec* Args, int32_t High);
    void Add(TLogRecord Record);

    mutable std::mutex Lock_;
    std::vector<TLogRecord> Records_;
    std::string ThrowText_;
    std::atomic<int32_t> Count_{0};
};

// Installs Logger as this thread's logger (no reference taken) and clears the slot on exit.
class TLoggerScope {
public:
    explicit TLoggerScope(IORVLogger* Logger);
    template <class T>
    explicit TLoggerScope(const Ref<T>& Logger) : TLoggerScope(static_cast<IORVLogger*>(Logger.Get())) {}
    ~TLoggerScope();
    TLoggerScope(const TLoggerScope&) = delete;
    TLoggerScope& operator=(const TLoggerScope&) = delete;
};

// A recording logger installed on this thread for the life of the object.
struct TLogCapture {
    Ref<TRecordingLogger> Logger = TRecordingLogger::Create();
    TLoggerScope Scope{Logger};
    std::vector<std::string> Lines() const { return Logger->Lines(); }
};

// The line TRecordingLogger::Lines gives for table entry Id logged at Level with Args.
std::string LogLine(char Level, TMessageId Id, const std::vector<std::string>& Args = {});

}  // namespace orv::test

#endif
