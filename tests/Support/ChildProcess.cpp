#include "Support/ChildProcess.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "Common/Platform.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace orv::test {

namespace {

// POSIX shells and the Windows command interpreter both read a double-quoted text as one word.
std::string Quote(const std::string& Text) {
    if (Text.find('"') != std::string::npos) throw std::invalid_argument("double quote in a command word: " + Text);
    return "\"" + Text + "\"";
}

std::string NativeSeparators(std::string Path) {
    for (char& C : Path)
        if (TPathRules::IsSeparator(C)) C = TPathRules::Delimiter;
    return Path;
}

std::string ReadWhole(const std::string& FileName) {
    std::ifstream In(FileName, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>());
}

// std::system answers a wait status where "/" is the separator (POSIX) and the exit code itself
// on Windows.
int ExitCodeOf(int Status) {
    if (TPathRules::Delimiter != '/') return Status;
    if (Status == -1) return -1;
    const int Signal = Status & 0x7f;
    return Signal == 0 ? (Status >> 8) & 0xff : -Signal;
}

}  // namespace

std::string FindProgram(const std::string& Folder, const std::string& Name) {
    for (const char* Suffix : {"", ".exe"}) {
        const std::string Candidate = NativeSeparators(Folder + "/" + Name + Suffix);
        if (Platform().FileExists(Candidate)) return Candidate;
    }
    return std::string();
}

TProgramRun RunProgram(const std::string& Program, const std::vector<std::string>& Args, const std::string& Scratch,
                       TStdout Stdout) {
    const std::string OutFile = NativeSeparators(Scratch + "/child.out");
    const std::string ErrFile = NativeSeparators(Scratch + "/child.err");
    std::string Command = Quote(NativeSeparators(Program));
    for (const std::string& Arg : Args) Command += " " + Quote(Arg);
    TProgramRun Run;
#ifdef _WIN32
    if (Stdout != TStdout::Collected) throw std::invalid_argument("standard output can only be collected here");
    Command += " >" + Quote(OutFile) + " 2>" + Quote(ErrFile);
    // The Windows interpreter drops the first and the last quote of a command that holds more
    // than two: one more pair keeps the words intact.
    Command = "\"" + Command + "\"";
    Run.ExitCode = ExitCodeOf(std::system(Command.c_str()));
#else
    // Started directly, so that the process waited for is the program and its resources are its own.
    const pid_t Child = fork();
    if (Child < 0) throw std::runtime_error("cannot start " + Program);
    if (Child == 0) {
        const int Err = open(ErrFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        int Out = open(OutFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (Stdout != TStdout::Collected) {
            close(Out);
            Out = Stdout == TStdout::Full ? open("/dev/full", O_WRONLY | O_CLOEXEC) : -1;
        }
        if (Err < 0 || dup2(Err, 2) < 0) _exit(127);
        if (Out >= 0 ? dup2(Out, 1) < 0 : close(1) != 0) _exit(127);
        std::vector<char*> Argv{const_cast<char*>(Program.c_str())};
        for (const std::string& Arg : Args) Argv.push_back(const_cast<char*>(Arg.c_str()));
        Argv.push_back(nullptr);
        execv(Program.c_str(), Argv.data());
        _exit(127);
    }
    int Status = 0;
    struct rusage Usage {};
    while (wait4(Child, &Status, 0, &Usage) < 0)
        if (errno != EINTR) throw std::runtime_error("cannot wait for " + Program);
    Run.ExitCode = ExitCodeOf(Status);
    Run.PeakKiB = Usage.ru_maxrss;  // kilobytes on Linux
#endif
    Run.Out = ReadWhole(OutFile);
    Run.Err = ReadWhole(ErrFile);
    return Run;
}

}  // namespace orv::test
