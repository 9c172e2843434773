// Child processes, as part of the platform layer: a program started with its standard output and
// error on pipes, waited for with a time limit, killed past it, and how it ended.
#ifndef ORV_CHILD_PROCESS_H
#define ORV_CHILD_PROCESS_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace orv {

struct TChildOptions {
    std::string Program;            // the executable's path
    std::vector<std::string> Args;  // its arguments, the program's name not among them
    int TimeoutMs = -1;             // killed once it has run this long; negative: waits for ever
    std::size_t MaxOutput = 1 << 20;  // bytes kept of each of its outputs (the rest is read and dropped)
};

// How a child process ended.
enum class TChildEnd {
    NotStarted,  // the program could not be started (Error says why)
    Exited,      // it returned or called exit: Code is the exit status
    Signalled,   // a signal ended it (POSIX): Code is the signal number
    Crashed,     // an exception ended it (Windows): Code is the exception code, 0xC0000005 and so on
    TimedOut,    // it ran past the time limit and was killed
};

struct TChildResult {
    TChildEnd End = TChildEnd::NotStarted;
    uint32_t Code = 0;
    std::string Out;    // what it wrote to its standard output (up to MaxOutput bytes)
    std::string Err;    // the same of its standard error
    std::string Error;  // why it could not be started or waited for
    double Seconds = 0;  // from its start to its end
};

// Runs a program and waits for it. Nothing of the caller is inherited but the environment and the
// current folder; several threads may run children at once.
TChildResult RunChild(const TChildOptions& Options);

// The name of the signal Number ("SIGSEGV"), or "signal <number>".
std::string SignalName(uint32_t Number);
// The name of a Windows exception code ("EXCEPTION_ACCESS_VIOLATION"), or its number in
// hexadecimal.
std::string ExceptionCodeName(uint32_t Code);

// For a program that reports to its parent on its standard output: a stream on that output, while
// everything else written to standard output from now on (by code it runs) goes to standard error.
// On Windows the system's error boxes are turned off too, so that a crash or a missing DLL ends the
// process at once instead of waiting for a click. Nil when the output cannot be taken over.
std::FILE* TakeReportStream();

}  // namespace orv

#endif
