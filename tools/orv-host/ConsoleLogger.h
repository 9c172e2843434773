// A logger that writes "<LEVEL> <message>" lines to stderr, and what the launcher learns about the
// engine from the lines it is handed.
#ifndef ORV_HOST_CONSOLE_LOGGER_H
#define ORV_HOST_CONSOLE_LOGGER_H

#include "ToolText.h"

#include <ORVPluginHelpers.h>

#include <cstdio>
#include <string>


enum class TLogLevel { Debug = 0, Info = 1, Warn = 2, Error = 3, Fatal = 4 };

// Follows the engine's own lines: its start and stop lines (so the launcher knows whether the
// engine still runs, also after the application shut it down inside Run) and the line of a start
// that found no application to run. Texts are compared in the engine's encoding.
class TEngineWatch {
public:
    TEngineWatch();

    // Looks at one call the logger received (Text: the message, or the template of a formatted one).
    void Seen(TLogLevel Level, bool Formatted, const std::string& Text);
    // A start line came after the last stop line.
    bool Running() const { return Running_; }
    // The last start found no application.
    bool NoApplication() const { return NoApplication_; }

private:
    std::string StartLine_, StopLine_, NoEntryPoint_;
    bool Running_ = false;
    bool NoApplication_ = false;
};

class TConsoleLogger : public orv::TInterfacedObject<orv::IORVLogger> {
public:
    // Writes the lines of MinLevel and above to Out; every line, written or not, goes to Watch.
    TConsoleLogger(TLogLevel MinLevel, std::FILE* Out, TEngineWatch* Watch = nullptr)
        : MinLevel_(MinLevel), Out_(Out), Watch_(Watch) {}

    void ORV_CALL Debug(const std::string& Msg) override { Plain(TLogLevel::Debug, Msg); }
    void ORV_CALL DebugFmt(const std::string& Fmt, const orv::TVarRec* Args, int32_t High) override {
        Formatted(TLogLevel::Debug, Fmt, Args, High);
    }
    void ORV_CALL Info(const std::string& Msg) override { Plain(TLogLevel::Info, Msg); }
    void ORV_CALL InfoFmt(const std::string& Fmt, const orv::TVarRec* Args, int32_t High) override {
        Formatted(TLogLevel::Info, Fmt, Args, High);
    }
    void ORV_CALL Warn(const std::string& Msg) override { Plain(TLogLevel::Warn, Msg); }
    void ORV_CALL WarnFmt(const std::string& Fmt, const orv::TVarRec* Args, int32_t High) override {
        Formatted(TLogLevel::Warn, Fmt, Args, High);
    }
    void ORV_CALL Error(const std::string& Msg) override { Plain(TLogLevel::Error, Msg); }
    void ORV_CALL ErrorFmt(const std::string& Fmt, const orv::TVarRec* Args, int32_t High) override {
        Formatted(TLogLevel::Error, Fmt, Args, High);
    }
    void ORV_CALL Fatal(const std::string& Msg) override { Plain(TLogLevel::Fatal, Msg); }
    void ORV_CALL FatalFmt(const std::string& Fmt, const orv::TVarRec* Args, int32_t High) override {
        Formatted(TLogLevel::Fatal, Fmt, Args, High);
    }

private:
    // One call is one line: the line breaks of a plain message (the engine's own lines hold none;
    // what they hold comes from data) and of the arguments of a formatted one are escaped, those
    // of a template (the engine's message table) kept.
    void Plain(TLogLevel Level, const std::string& Msg) {
        if (Watch_) Watch_->Seen(Level, false, Msg);
        if (Level >= MinLevel_) Write(Level, PrintableData(Msg));
    }
    void Formatted(TLogLevel Level, const std::string& Fmt, const orv::TVarRec* Args, int32_t High) {
        if (Watch_) Watch_->Seen(Level, true, Fmt);
        if (Level >= MinLevel_) Write(Level, PrintableFormat(Fmt, Args, High));
    }
    // Writes one line of printable text.
    void Write(TLogLevel Level, const std::string& Line);

    TLogLevel MinLevel_;
    std::FILE* Out_;
    TEngineWatch* Watch_;
};

#endif
