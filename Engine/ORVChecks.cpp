#include "Engine/ORVChecks.h"

#include "Common/ORVCommon.h"
#include "Common/ORVException.h"

namespace orv {

namespace {

class TEngineChecks : public TChecks {
public:
    void Report(const TFinding& F) override {
        if (F.Reaction == TEngineReaction::Log || F.Reaction == TEngineReaction::LogAndRaise) LogLine(F);
        if (F.Reaction == TEngineReaction::Raise || F.Reaction == TEngineReaction::LogAndRaise)
            TExceptionBuilder::RaiseError(F.Message());
    }
    bool Collecting() const override { return false; }

private:
    static void LogLine(const TFinding& F) {
        const Ref<IORVLogger> Logger = GetLogger();
        if (F.Entry == TMessageId(0)) {
            if (F.Severity == TSeverity::Error) Logger->Error(F.Text);
            if (F.Severity == TSeverity::Warning) Logger->Warn(F.Text);
            return;
        }
        // The table entry and its arguments go to the logger unformatted.
        const std::string Template = LoadMessage(F.Entry);
        const TArgList Args(F.Args);
        if (F.Severity == TSeverity::Error) Logger->ErrorFmt(Template, Args.Data(), Args.High());
        if (F.Severity == TSeverity::Warning) Logger->WarnFmt(Template, Args.Data(), Args.High());
    }
};

}  // namespace

std::string TFinding::Message() const {
    if (Entry == TMessageId(0)) return Text;
    const TArgList Formatted(Args);
    return FormatArgs(LoadMessage(Entry), Formatted.Data(), Formatted.High());
}

TChecks& EngineChecks() {
    static TEngineChecks Checks;
    return Checks;
}

}  // namespace orv
