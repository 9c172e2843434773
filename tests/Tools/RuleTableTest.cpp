// README.md's table of orv-inspect's rules against the rule tables the checks and the reports use
// (Engine/ORVRules.def, tools/orv-inspect/LibraryRules.def): the same names, each once, with the
// same severities.
#include "Engine/ORVChecks.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <string>
#include <vector>

using namespace orv;

namespace {

const TRule AllRules[] = {
#define ORV_RULE(Constant, Name, Severity, Starting, Related) {Name, TSeverity::Severity, TSeverity::Starting, Related},
#include "Engine/ORVRules.def"
#include "LibraryRules.def"
#undef ORV_RULE
};

const char* SeverityName(TSeverity S) {
    return S == TSeverity::Error ? "error" : S == TSeverity::Warning ? "warning" : "note";
}

// The severity column as the README writes it.
std::string SeverityText(const TRule& Rule) {
    if (Rule.Starting == Rule.Severity) return SeverityName(Rule.Severity);
    return std::string(SeverityName(Rule.Starting)) + " with `Initialize`, else " + SeverityName(Rule.Severity);
}

std::string Trimmed(const std::string& Text) {
    const std::size_t First = Text.find_first_not_of(' ');
    return First == std::string::npos ? std::string() : Text.substr(First, Text.find_last_not_of(' ') - First + 1);
}

// The cells of a table row "| a | b | c |".
std::vector<std::string> Cells(const std::string& Row) {
    std::vector<std::string> Result;
    std::size_t Start = 1;
    for (std::size_t Bar = Row.find('|', Start); Bar != std::string::npos; Bar = Row.find('|', Start)) {
        Result.push_back(Trimmed(Row.substr(Start, Bar - Start)));
        Start = Bar + 1;
    }
    return Result;
}

// The README's rule table: each rule's name with its severity cell. A row may name several rules
// ("`not-a-library`, `library-unreadable`").
std::multimap<std::string, std::string> ReadmeRules() {
    std::ifstream In(std::string(ORV_SOURCE_DIR) + "/README.md");
    std::multimap<std::string, std::string> Result;
    std::string Line;
    while (std::getline(In, Line) && Line.rfind("| rule | severity |", 0) != 0) {
    }
    std::getline(In, Line);  // |---|---|---|
    while (std::getline(In, Line) && Line.rfind("|", 0) == 0) {
        const std::vector<std::string> Row = Cells(Line);
        if (Row.size() < 2) continue;
        for (std::size_t Tick = Row[0].find('`'); Tick != std::string::npos; Tick = Row[0].find('`', Tick)) {
            const std::size_t End = Row[0].find('`', Tick + 1);
            if (End == std::string::npos) break;
            Result.emplace(Row[0].substr(Tick + 1, End - Tick - 1), Row[1]);
            Tick = End + 1;
        }
    }
    return Result;
}

TEST(RuleTableTest, TheReadmeListsEveryRuleOnceWithItsSeverity) {
    const std::multimap<std::string, std::string> Readme = ReadmeRules();
    ASSERT_FALSE(Readme.empty()) << "no rule table in " << ORV_SOURCE_DIR << "/README.md";
    std::map<std::string, std::string> Tables;
    for (const TRule& Rule : AllRules) {
        EXPECT_TRUE(Tables.emplace(Rule.Name, SeverityText(Rule)).second) << Rule.Name << " is in the tables twice";
        EXPECT_EQ(Readme.count(Rule.Name), 1u) << Rule.Name << " in the README";
    }
    for (const auto& Row : Readme) {
        const auto Rule = Tables.find(Row.first);
        if (Rule == Tables.end()) {
            ADD_FAILURE() << "the README names " << Row.first << ", which no table has";
            continue;
        }
        EXPECT_EQ(Row.second, Rule->second) << Row.first;
    }
}

}  // namespace
