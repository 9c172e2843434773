#include "Engine/ORVEnvironmentVariables.h"

#include "Common/ORVMiscUtils.h"

namespace orv {

int32_t TORVEnvironmentVariables::IndexOfName(const std::string& Name) {
    std::string Key = AsciiLowerCase(Name);
    auto It = Index_.find(Key);
    if (It != Index_.end()) return It->second;
    const int32_t Index = static_cast<int32_t>(Names_.size());
    Names_.push_back(Name);
    Values_.emplace_back();
    Index_.emplace(std::move(Key), Index);
    return Index;
}

std::string ORV_CALL TORVEnvironmentVariables::GetValue(const std::string& Name) {
    return Values_[static_cast<std::size_t>(IndexOfName(Name))];
}

void ORV_CALL TORVEnvironmentVariables::SetValue(const std::string& Name, const std::string& Value) {
    Values_[static_cast<std::size_t>(IndexOfName(Name))] = Value;
}

}  // namespace orv
