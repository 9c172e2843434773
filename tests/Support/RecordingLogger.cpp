#include "Support/RecordingLogger.h"

#include "Common/ORVCommon.h"

#include <stdexcept>

namespace orv::test {

std::vector<TLogRecord> TRecordingLogger::Records() const {
    std::lock_guard<std::mutex> G(Lock_);
    return Records_;
}

std::vector<std::string> TRecordingLogger::Messages() const {
    std::lock_guard<std::mutex> G(Lock_);
    std::vector<std::string> Result;
    for (const TLogRecord& R : Records_) Result.push_back(R.Message);
    return Result;
}

std::vector<std::string> TRecordingLogger::Lines() const {
    std::vector<std::string> Result;
    for (const TLogRecord& R : Records()) {
        std::string Line = std::string(1, "DIWEF"[static_cast<int>(R.Level)]) + " " + R.Text;
        for (const TRecordedArg& A : R.Args)
            Line += " {" + (A.Type == vtInteger ? "int:" + std::to_string(A.Int) : A.Str) + "}";
        Result.push_back(Line);
    }
    return Result;
}

std::string LogLine(char Level, TMessageId Id, const std::vector<std::string>& Args) {
    std::string Line = std::string(1, Level) + " " + LoadMessage(Id);
    for (const std::string& Arg : Args) Line += " {" + Arg + "}";
    return Line;
}

std::size_t TRecordingLogger::Size() const {
    std::lock_guard<std::mutex> G(Lock_);
    return Records_.size();
}

void TRecordingLogger::Clear() {
    std::lock_guard<std::mutex> G(Lock_);
    Records_.clear();
}

void TRecordingLogger::ThrowAfterRecording(const std::string& Text) {
    std::lock_guard<std::mutex> G(Lock_);
    ThrowText_ = Text;
}

void TRecordingLogger::Plain(TLogLevel Level, const std::string& Msg) { Add({Level, false, Msg, {}, Msg}); }

void TRecordingLogger::Format(TLogLevel Level, const std::string& Fmt, const TVarRec* Args, int32_t High) {
    TLogRecord R{Level, true, Fmt, {}, FormatArgs(Fmt, Args, High)};
    for (int32_t I = 0; Args && I <= High; ++I) {
        const TVarRec& A = Args[I];
        TRecordedArg Copy{A.VType, std::string(), 0};
        if (A.VType == vtAnsiString)
            Copy.Str = A.VAnsiString ? A.VAnsiString : "";
        else if (A.VType == vtInteger)
            Copy.Int = A.VInteger;
        R.Args.push_back(std::move(Copy));
    }
    Add(std::move(R));
}

void TRecordingLogger::Add(TLogRecord Record) {
    std::string Throw;
    {
        std::lock_guard<std::mutex> G(Lock_);
        Records_.push_back(std::move(Record));
        Throw = ThrowText_;
    }
    if (!Throw.empty()) throw std::runtime_error(Throw);
}

TLoggerScope::TLoggerScope(IORVLogger* Logger) { SetThreadLogger(Logger); }

TLoggerScope::~TLoggerScope() { SetThreadLogger(nullptr); }

}  // namespace orv::test
