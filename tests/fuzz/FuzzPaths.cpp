// The list and path helpers: Split, SplitAtLast, the path variables' SetVariable and Replace, and
// the path joining rules, over texts made of the input.
#include "Common/ORVMiscUtils.h"
#include "FuzzSupport.h"

#include <cstdlib>

using namespace orv;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, std::size_t Size) {
    if (Size == 0) return 0;
    // First byte: the delimiter; the rest: Text, Name and Value, separated by NUL bytes.
    const char Delimiter = static_cast<char>(Data[0]);
    const std::string Rest = fuzz::Input(Data + 1, Size - 1);
    const std::size_t Cut1 = Rest.find('\0');
    const std::string Text = Rest.substr(0, Cut1);
    const std::string After = Cut1 == std::string::npos ? std::string() : Rest.substr(Cut1 + 1);
    const std::size_t Cut2 = After.find('\0');
    const std::string Name = After.substr(0, Cut2);
    const std::string Value = Cut2 == std::string::npos ? std::string() : After.substr(Cut2 + 1);

    TStringUtils::Split(Text, Delimiter);
    const TSplitResult Parts = TStringUtils::SplitAtLast(Text, Value.substr(0, 4));
    if (Parts.Head.size() + Parts.Tail.size() + (Parts.Head.size() + Parts.Tail.size() < Text.size() ? 1 : 0) !=
        Text.size())
        std::abort();

    static TPathParser Parser("/fuzz/engine/", "");
    if (!Name.empty()) {
        TStringReplacer Replacer;
        Replacer.SetVariable(Name, Value);
        Replacer.SetVariable("%exe%", Text);
        Replacer.Replace(Text);
        Replacer.Replace(Value + Name + Text);
    }
    Parser.SetVariable("%config%", Value);
    Parser.Replace(Text);
    TPathUtils::CombinePath(Text, Value);
    TPathUtils::IncludeTrailingSeparator(Text);
    ExcludeTrailingSeparator(Text);
    TPathUtils::ExtractFilePath(Text);
    TPathUtils::IsAbsolutePath(Text);
    return 0;
}
