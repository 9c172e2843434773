// The name/value store offered to plug-ins.
#include "Engine/ORVEnvironmentVariables.h"

#include <gtest/gtest.h>

using namespace orv;

namespace {

TEST(EnvironmentVariablesTest, NamesMatchIgnoringAsciiCaseAndKeepTheirFirstSpelling) {
    auto* Object = new TORVEnvironmentVariables();
    Ref<IORVEnvironmentVariables> Store(Object);
    Store->SetValue("home", "/a");
    EXPECT_EQ(Store->GetValue("HOME"), "/a");
    Store->SetValue("Home", "/b");
    EXPECT_EQ(Store->GetValue("home"), "/b");
    EXPECT_EQ(Object->GetNames(), std::vector<std::string>{"home"});
    Store->SetValue("\xC3\xA9t\xC3\xA9", "summer");             // été
    EXPECT_EQ(Store->GetValue("\xC3\x89T\xC3\x89"), "");        // ÉTÉ: only ASCII letters fold
}

TEST(EnvironmentVariablesTest, AskingForAnUnknownNameAddsItEmpty) {
    auto* Object = new TORVEnvironmentVariables();
    Ref<IORVEnvironmentVariables> Store(Object);
    EXPECT_EQ(Store->GetValue("Missing"), "");
    EXPECT_EQ(Object->GetCount(), 1);
    Store->SetValue("", " spaced value ");  // an empty name is a name like any other
    Store->SetValue("next", "2");
    EXPECT_EQ(Object->IndexOfName("MISSING"), 0);
    EXPECT_EQ(Object->IndexOfName(""), 1);
    EXPECT_EQ(Store->GetValue(""), " spaced value ");
    EXPECT_EQ(Object->GetNames(), (std::vector<std::string>{"Missing", "", "next"}));
}

}  // namespace
