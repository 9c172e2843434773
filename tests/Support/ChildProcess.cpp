#include "Support/ChildProcess.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "Common/Platform.h"

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

TProgramRun RunProgram(const std::string& Program, const std::vector<std::string>& Args, const std::string& Scratch) {
    const std::string OutFile = NativeSeparators(Scratch + "/child.out");
    const std::string ErrFile = NativeSeparators(Scratch + "/child.err");
    std::string Command = Quote(NativeSeparators(Program));
    for (const std::string& Arg : Args) Command += " " + Quote(Arg);
    Command += " >" + Quote(OutFile) + " 2>" + Quote(ErrFile);
    // The Windows interpreter drops the first and the last quote of a command that holds more
    // than two: one more pair keeps the words intact.
    if (TPathRules::Delimiter != '/') Command = "\"" + Command + "\"";

    TProgramRun Run;
    Run.ExitCode = ExitCodeOf(std::system(Command.c_str()));
    Run.Out = ReadWhole(OutFile);
    Run.Err = ReadWhole(ErrFile);
    return Run;
}

}  // namespace orv::test
