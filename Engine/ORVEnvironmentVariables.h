// TORVEnvironmentVariables: the name/value store that the engine configuration offers to plug-ins.
#ifndef ORV_ENVIRONMENT_VARIABLES_H
#define ORV_ENVIRONMENT_VARIABLES_H

#include <ORVInterface.h>
#include <ORVPluginHelpers.h>

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace orv {

// Names are kept in order of first use and in the letter case of their first use; they match
// ignoring the case of ASCII letters (other bytes compare exactly). A name is never removed.
// Not derived from TAdatableInterfacedObject: the store cannot be converted back by TConverter.
class TORVEnvironmentVariables : public TInterfacedObject<IORVEnvironmentVariables> {
public:
    // An empty store; create it with new and hold it through a Ref.
    TORVEnvironmentVariables() = default;

    // The value of Name; an unknown name is added with an empty value, which is returned.
    std::string ORV_CALL GetValue(const std::string& Name) override;
    // Stores Value under Name, adding the name first when it is unknown.
    void ORV_CALL SetValue(const std::string& Name, const std::string& Value) override;

    // Index of Name in the store, adding it (with an empty value) when it is not there yet.
    int32_t IndexOfName(const std::string& Name);
    // The number of names held.
    int32_t GetCount() const { return static_cast<int32_t>(Names_.size()); }
    // The names, in order of first use, as first written.
    const std::vector<std::string>& GetNames() const { return Names_; }

private:
    std::vector<std::string> Names_;
    std::vector<std::string> Values_;
    // Case-folded name to its index, so that a lookup does not walk the names.
    std::unordered_map<std::string, int32_t> Index_;
};

}  // namespace orv

#endif
