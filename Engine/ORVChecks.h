// The checks of manifests and of the registry, and where their findings go. Each check is written
// once, where the engine reads or links; it hands its finding to a TChecks. The engine's own
// (EngineChecks) logs it, or raises it, exactly as the engine always has; a collecting one (for
// tools such as orv-inspect) keeps every finding and lets the work go on.
#ifndef ORV_CHECKS_H
#define ORV_CHECKS_H

#include "Common/ORVConsts.h"

#include <ORVInterface.h>

#include <cstdint>
#include <string>
#include <vector>

namespace orv {

enum class TSeverity { Error, Warning, Note };

// What the engine does with a finding of the kind.
enum class TEngineReaction {
    Silent,       // nothing (a shielded plug-in)
    Log,          // a log line at the finding's severity
    Raise,        // EORVException with the message, nothing logged
    LogAndRaise,  // the log line, then the exception
};

// A rule of the checks, as ORVRules.def and the tools' tables give it.
struct TRule {
    const char* Name;  // stable: tools and users match it
    TSeverity Severity;
    // The severity of a finding about a plug-in that starts with the engine (Initialize).
    TSeverity Starting;
    // What a report writes before the names a finding gives besides its message (nullptr: the
    // message names them itself).
    const char* Related;

    constexpr TSeverity SeverityFor(bool Initialize) const { return Initialize ? Starting : Severity; }
};

// The engine's rules, one constant each (Rules::MissingLibrary, ...).
namespace Rules {
#define ORV_RULE(Constant, Name, Severity, Starting, Related) \
    inline constexpr TRule Constant{Name, TSeverity::Severity, TSeverity::Starting, Related};
#include "ORVRules.def"
#undef ORV_RULE
}  // namespace Rules

struct TFinding {
    // A finding of Rule, at the rule's severity.
    explicit TFinding(const TRule& Rule) : Rule(&Rule), Severity(Rule.Severity) {}

    const TRule* Rule;
    TSeverity Severity;
    TEngineReaction Reaction = TEngineReaction::Log;
    std::string File;
    int32_t Line = 0;    // 1-based; 0 when unknown
    int32_t Column = 0;  // 1-based; 0 when unknown
    std::string PluginID;
    // The qualified id of the extension point or extension the finding is about, if any.
    std::string Subject;
    // The message: a message-table entry with its arguments, as the engine logs it, or (Entry 0)
    // a text of our own.
    TMessageId Entry = TMessageId(0);
    std::vector<TArgList::Arg> Args;
    std::string Text;
    // What the finding names besides (the other file of a duplicate, the extensions of an
    // overfull point, the places a library was looked for).
    std::vector<std::string> Related;

    // The message as one text.
    std::string Message() const;
};

class TChecks {
public:
    virtual ~TChecks() = default;
    // Hands over one finding. The engine's reaction may raise; a collecting one never does.
    virtual void Report(const TFinding& Finding) = 0;
    // Whether the work goes on past findings the engine would stop at.
    virtual bool Collecting() const = 0;
};

// The engine's own reactions.
TChecks& EngineChecks();

// Keeps every finding.
class TCollectedChecks : public TChecks {
public:
    void Report(const TFinding& Finding) override { Findings.push_back(Finding); }
    bool Collecting() const override { return true; }

    std::vector<TFinding> Findings;
};

// Thrown by a check site when a collecting TChecks has taken a finding that ends the reading of
// one plug-in; the reader goes on with the next one. Not an exception of the engine's API.
struct TPluginSkipped {};

}  // namespace orv

#endif
