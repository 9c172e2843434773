#include "ORVException.h"

#include <exception>

namespace orv {

namespace {

std::string Format(const std::string& Fmt, const TArgList& Args) { return FormatArgs(Fmt, Args.Data(), Args.High()); }

[[noreturn]] void Raise(const std::string& Msg) { throw EORVException(Msg); }

[[noreturn]] void RaiseAssertion(const std::string& Msg, const TAssertSite& Site) {
    throw EAssertionFailed(Msg + " (" + Site.Unit + ", line " + std::to_string(Site.Line) + ")");
}

}  // namespace

void TExceptionBuilder::Check(bool Condition) {
    if (!Condition) Raise("Condition is not valid");
}

void TExceptionBuilder::Check(bool Condition, const std::string& Msg) {
    if (!Condition) Raise(Msg);
}

void TExceptionBuilder::CheckFmt(bool Condition, const std::string& Fmt, const TArgList& Args) {
    if (!Condition) Raise(Format(Fmt, Args));
}

void TExceptionBuilder::CheckNotNil(const void* Ref) {
    if (!Ref) Raise("Argument cannot be null");
}

void TExceptionBuilder::CheckArgNotNil(const void* Ref, const std::string& ArgName) {
    if (!Ref) Raise(Format(LoadMessage(SArgumentIsNil), TArgList{ArgName}));
}

void TExceptionBuilder::CheckNotEmpty(const std::string& S, const std::string& Msg) {
    if (S.empty()) Raise(Msg);
}

void TExceptionBuilder::RaiseError(const std::string& Msg) { Raise(Msg); }

void TExceptionBuilder::RaiseErrorFmt(const std::string& Fmt, const TArgList& Args) { Raise(Format(Fmt, Args)); }

std::string CurrentExceptionMessage() {
    try {
        throw;
    } catch (const std::exception& E) {
        return E.what();
    } catch (...) {
        return "unknown exception (not derived from std::exception)";
    }
}

void Assert(bool Condition, const TAssertSite& Site) {
    if (!Condition) RaiseAssertion("Assertion failure", Site);
}

void Assert(bool Condition, const TAssertSite& Site, TMessageId Message) {
    if (!Condition) RaiseAssertion(LoadMessage(Message), Site);
}

}  // namespace orv
