#include "ConsoleLogger.h"

void TConsoleLogger::Write(TLogLevel Level, const std::string& Msg) {
    static const char* const Names[] = {"DEBUG", "INFO ", "WARN ", "ERROR", "FATAL"};
    if (Level < MinLevel_) return;
    std::fprintf(Out_, "%s %s\n", Names[static_cast<int>(Level)], Msg.c_str());
    std::fflush(Out_);
}
