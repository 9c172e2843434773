// Raising EORVException, checks, and the never-compiled-out assertion.
#ifndef ORV_EXCEPTION_H
#define ORV_EXCEPTION_H

#include "ORVConsts.h"

#include <ORVInterface.h>

#include <string>

namespace orv {

// The engine's only way to raise EORVException. Callers build message texts before they call.
class TExceptionBuilder {
public:
    TExceptionBuilder() = delete;

    // "Condition is not valid" when Condition is false.
    static void Check(bool Condition);
    // Msg unchanged when Condition is false.
    static void Check(bool Condition, const std::string& Msg);
    // Fmt formatted with Args when Condition is false.
    static void CheckFmt(bool Condition, const std::string& Fmt, const TArgList& Args);
    // "Argument cannot be null" when Ref is nil.
    static void CheckNotNil(const void* Ref);
    template <class T>
    static void CheckNotNil(const Ref<T>& R) { CheckNotNil(static_cast<const void*>(R.Get())); }
    // Entry SArgumentIsNil with ArgName when Ref is nil (the entry is loaded only then).
    static void CheckArgNotNil(const void* Ref, const std::string& ArgName);
    // Msg unchanged when S is empty.
    static void CheckNotEmpty(const std::string& S, const std::string& Msg);
    [[noreturn]] static void RaiseError(const std::string& Msg);
    [[noreturn]] static void RaiseErrorFmt(const std::string& Fmt, const TArgList& Args);
};

// The fixed source sites that assertions report: the unit (relative to the source root) and line.
struct TAssertSite {
    const char* Unit;
    int Line;
};

namespace AssertSites {
constexpr TAssertSite SetVariable{"Common/ORVMiscUtils", 71};
constexpr TAssertSite ResolveExtensionPoints{"Engine/ORVEngineImpl", 557};
constexpr TAssertSite ResolveExtensionTarget{"Engine/ORVEngineImpl", 567};
constexpr TAssertSite ValidatePoint{"Engine/ORVEngineImpl", 612};
constexpr TAssertSite AddExtension{"Engine/ORVEngineImpl", 814};
constexpr TAssertSite AddExtensionPoint{"Engine/ORVEngineImpl", 1017};
constexpr TAssertSite Shutdown{"Engine/ORVEngineImpl", 1337};
constexpr TAssertSite StartupWithConfig{"Engine/ORVEngineImpl", 1607};
constexpr TAssertSite ScanFolder{"Engine/ORVEngineImpl", 1710};
constexpr TAssertSite ReadPluginConfig{"Engine/ORVEngineImpl", 1954};
}  // namespace AssertSites

// The message of the exception being handled (call only inside a catch block): what() of a
// std::exception, a fixed text for anything else.
std::string CurrentExceptionMessage();

// Raises EAssertionFailed "Assertion failure (<unit>, line <n>)" when Condition is false.
void Assert(bool Condition, const TAssertSite& Site);
// Same with the message-table entry Message (loaded only on failure) instead of "Assertion failure".
void Assert(bool Condition, const TAssertSite& Site, TMessageId Message);

}  // namespace orv

#endif
