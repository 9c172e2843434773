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
};

// The program Name in Folder, with the platform's executable suffix where it has one; empty when
// there is none.
std::string FindProgram(const std::string& Folder, const std::string& Name);

// Runs Program with Args through the system's command interpreter and waits for it. Its output
// goes to two files in the existing folder Scratch. The texts must not contain double quotes.
TProgramRun RunProgram(const std::string& Program, const std::vector<std::string>& Args, const std::string& Scratch);

}  // namespace orv::test

#endif
