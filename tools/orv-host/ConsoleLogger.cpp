#include "ConsoleLogger.h"

#include "ToolText.h"

#include <cstdio>

namespace {

// The texts of the engine's message table (UTF-8), by their constant names.
struct TEngineMessages {
#define ORV_MESSAGE(Id, Name, Text) static constexpr const char* Name = Text;
#include "ORVMessages.def"
#undef ORV_MESSAGE
};

}  // namespace

// The engine's start line, stop line and no-entry-point line.
TEngineWatch::TEngineWatch()
    : StartLine_(FromUtf8(TEngineMessages::SEngineStarted)),
      StopLine_(FromUtf8(TEngineMessages::SEngineStopped)),
      NoEntryPoint_(FromUtf8(TEngineMessages::SNoEntryPoint)) {}

void TEngineWatch::Seen(TLogLevel Level, bool Formatted, const std::string& Text) {
    if (Formatted && Level == TLogLevel::Info) {
        // Where the code page turns both lines into the same text, each one turns the state over.
        if (Text == StartLine_ && Text == StopLine_) {
            Running_ = !Running_;
        } else if (Text == StartLine_) {
            Running_ = true;
        } else if (Text == StopLine_) {
            Running_ = false;
        }
        if (Text == StartLine_ && Running_) NoApplication_ = false;
    } else if (!Formatted && Level == TLogLevel::Error && Text == NoEntryPoint_) {
        NoApplication_ = true;
    }
}

void TConsoleLogger::Write(TLogLevel Level, const std::string& Line) {
    static const char* const Names[] = {"DEBUG", "INFO ", "WARN ", "ERROR", "FATAL"};
    std::fprintf(Out_, "%s %s\n", Names[static_cast<int>(Level)], Line.c_str());
    std::fflush(Out_);
}
