// A logger that writes "<LEVEL> <message>" lines to stderr.
#ifndef ORV_HOST_CONSOLE_LOGGER_H
#define ORV_HOST_CONSOLE_LOGGER_H

#include <ORVPluginHelpers.h>

#include <cstdio>
#include <string>

// Text in the engine's encoding (the process code page) as UTF-8, the launcher's output encoding.
std::string ToUtf8(const std::string& Text);

enum class TLogLevel { Debug = 0, Info = 1, Warn = 2, Error = 3, Fatal = 4 };

class TConsoleLogger : public orv::TInterfacedObject<orv::IORVLogger> {
public:
    TConsoleLogger(TLogLevel MinLevel, std::FILE* Out) : MinLevel_(MinLevel), Out_(Out) {}

    void ORV_CALL Debug(const std::string& Msg) override { Write(TLogLevel::Debug, Msg); }
    void ORV_CALL DebugFmt(const std::string& Fmt, const orv::TVarRec* Args, int32_t High) override {
        WriteFmt(TLogLevel::Debug, Fmt, Args, High);
    }
    void ORV_CALL Info(const std::string& Msg) override { Write(TLogLevel::Info, Msg); }
    void ORV_CALL InfoFmt(const std::string& Fmt, const orv::TVarRec* Args, int32_t High) override {
        WriteFmt(TLogLevel::Info, Fmt, Args, High);
    }
    void ORV_CALL Warn(const std::string& Msg) override { Write(TLogLevel::Warn, Msg); }
    void ORV_CALL WarnFmt(const std::string& Fmt, const orv::TVarRec* Args, int32_t High) override {
        WriteFmt(TLogLevel::Warn, Fmt, Args, High);
    }
    void ORV_CALL Error(const std::string& Msg) override { Write(TLogLevel::Error, Msg); }
    void ORV_CALL ErrorFmt(const std::string& Fmt, const orv::TVarRec* Args, int32_t High) override {
        WriteFmt(TLogLevel::Error, Fmt, Args, High);
    }
    void ORV_CALL Fatal(const std::string& Msg) override { Write(TLogLevel::Fatal, Msg); }
    void ORV_CALL FatalFmt(const std::string& Fmt, const orv::TVarRec* Args, int32_t High) override {
        WriteFmt(TLogLevel::Fatal, Fmt, Args, High);
    }

private:
    void WriteFmt(TLogLevel Level, const std::string& Fmt, const orv::TVarRec* Args, int32_t High) {
        if (Level >= MinLevel_) Write(Level, orv::FormatArgs(Fmt, Args, High));
    }
    void Write(TLogLevel Level, const std::string& Msg);

    TLogLevel MinLevel_;
    std::FILE* Out_;
};

#endif
