// Running a program as a child process and collecting what it wrote and how it ended.
#ifndef ORV_TEST_CHILD_PROCESS_H
#define ORV_TEST_CHILD_PROCESS_H

#include <string>
#include <vector>

namespace orv::test {

struct TProgramRun {
    int ExitCode = -1;  // the program's exit status; a negative signal number when a signal ended it
    std::string Out;    // everything written to standard output
    std::string Err;    // everything written to standard error
    long long PeakKiB = -1;  // the most memory it held resident (KiB); -1 where that is not known
};

// Where a program's standard output goes.
enum class TStdout {
    Collected,  // into TProgramRun::Out
    Full,       // a device that refuses every write for want of space (POSIX only)
    Closed,     // nowhere: the program starts with standard output closed (POSIX only)
};

// The program Name in Folder, with the platform's executable suffix where it has one; empty when
// there is none.
std::string FindProgram(const std::string& Folder, const std::string& Name);

// Runs Program with Args and waits for it (POSIX: started directly and measured; Windows: through
// the command interpreter). Its output goes to two files in the existing folder Scratch. The
// texts must not contain double quotes.
TProgramRun RunProgram(const std::string& Program, const std::vector<std::string>& Args, const std::string& Scratch,
                       TStdout Stdout = TStdout::Collected);

}  // namespace orv::test

#endif
