#include "ORVMiscUtils.h"

#include "ORVException.h"
#include "Platform.h"

#include <algorithm>

namespace orv {

namespace {

// Codes 1..32 separate list elements just as the delimiter does.
bool IsBlank(char C) {
    const auto Code = static_cast<unsigned char>(C);
    return Code >= 1 && Code <= 32;
}

// The characters that end a folder part: every separator that is read (on Windows "/" as well as
// "\"), and ":" where drive letters exist.
std::string FolderPart(const std::string& FileName) {
    for (std::size_t I = FileName.size(); I > 0; --I)
        if (TPathRules::EndsFolderPart(FileName[I - 1])) return FileName.substr(0, I);
    return std::string();
}

}  // namespace

std::string ExcludeTrailingSeparator(const std::string& Path) {
    if (!Path.empty() && TPathRules::IsSeparator(Path.back())) return Path.substr(0, Path.size() - 1);
    return Path;
}

// --- TStringReplacer ----------------------------------------------------------------------------

void TStringReplacer::SetVariable(const std::string& Name, const std::string& Value) {
    Assert(!Name.empty(), AssertSites::SetVariable);
    const std::string Key = AsciiLowerCase(Name);
    const std::string Stored = TPathRules::LowerCaseValues ? AsciiLowerCase(Value) : Value;

    auto It = std::find_if(Vars_.begin(), Vars_.end(), [&](const auto& Var) { return Var.first == Key; });
    if (Stored.empty()) {
        if (It != Vars_.end()) Vars_.erase(It);
    } else if (It != Vars_.end()) {
        It->second = Stored;
    } else {
        Vars_.emplace_back(Key, Stored);
    }
}

std::string TStringReplacer::Replace(const std::string& Text) const {
    if (Vars_.empty()) return Text;
    // ASCII lower-casing keeps every byte in place, so positions found here hold in Text.
    const std::string Lowered = AsciiLowerCase(Text);
    for (const auto& Var : Vars_) {
        const std::size_t Pos = Lowered.find(Var.first);
        if (Pos == std::string::npos) continue;
        std::string Result = Text;
        Result.replace(Pos, Var.first.size(), Var.second);
        return Result;
    }
    return Text;
}

// --- TPathParser --------------------------------------------------------------------------------

TPathParser::TPathParser(const std::string& ModulePath, const std::string& ConfigPath) {
    SetVariable("%exe%", FolderPart(Platform().ExecutableFileName()));
    if (!ModulePath.empty()) SetVariable("%module%", ModulePath);
    if (!ConfigPath.empty()) SetVariable("%config%", ConfigPath);
}

void TPathParser::SetVariable(const std::string& Name, const std::string& Value) {
    TStringReplacer::SetVariable(Name, ExcludeTrailingSeparator(Value));
}

std::string TPathParser::Replace(const std::string& Text) const {
    std::string Result = TStringReplacer::Replace(Text);
    if (TPathUtils::IsAbsolutePath(Result)) return Result;
    // The executable's folder is read again here, in its own letter case, not from the variable.
    return TPathUtils::CombinePath(TPathUtils::GetExePath(), Result);
}

// --- TPathUtils ---------------------------------------------------------------------------------

bool TPathUtils::IsAbsolutePath(const std::string& Path) { return TPathRules::IsAbsolute(Path); }

std::string TPathUtils::GetModulePath() { return IncludeTrailingSeparator(FolderPart(Platform().ModuleFileName())); }

std::string TPathUtils::GetExePath() { return IncludeTrailingSeparator(FolderPart(Platform().ExecutableFileName())); }

std::string TPathUtils::ExtractFilePath(const std::string& FileName) { return FolderPart(FileName); }

std::string TPathUtils::CombinePath(const std::string& Base, const std::string& Relative) {
    std::string Result = IncludeTrailingSeparator(Base);
    if (!Relative.empty() && TPathRules::IsSeparator(Relative.front()))
        Result.append(Relative, 1, std::string::npos);
    else
        Result += Relative;
    return Result;
}

std::string TPathUtils::IncludeTrailingSeparator(const std::string& Path) {
    if (Path.empty() || TPathRules::IsSeparator(Path.back())) return Path;
    return Path + TPathRules::Delimiter;
}

std::string TPathUtils::NativeSeparators(std::string Path) {
    for (char& C : Path)
        if (TPathRules::IsSeparator(C)) C = TPathRules::Delimiter;
    return Path;
}

bool TPathUtils::StartsWithPath(const std::string& Path, const std::string& Prefix) {
    if (Prefix.size() > Path.size()) return false;
    if (!TPathRules::BackslashIsSeparator) return Path.compare(0, Prefix.size(), Prefix) == 0;
    return SameTextAscii(NativeSeparators(Path.substr(0, Prefix.size())), NativeSeparators(Prefix));
}

std::string TPathUtils::PathKey(std::string Path) {
    if (!TPathRules::BackslashIsSeparator) return Path;
    return AsciiLowerCase(NativeSeparators(std::move(Path)));
}

// --- TStringUtils -------------------------------------------------------------------------------

TStringDynArray TStringUtils::Split(const std::string& Text, char Delimiter) {
    TStringDynArray Result;
    if (Text.empty()) return Result;
    Result.reserve(static_cast<std::size_t>(std::count(Text.begin(), Text.end(), Delimiter)) + 1);
    const std::size_t N = Text.size();
    std::size_t I = 0;
    auto SkipBlanks = [&] {
        while (I < N && IsBlank(Text[I])) ++I;
    };

    SkipBlanks();
    while (I < N) {
        std::string Element;
        if (Text[I] == '"') {
            // A quoted element; "" stands for one quote. Without a closing quote it runs to the end.
            ++I;
            while (I < N) {
                if (Text[I] == '"') {
                    if (I + 1 < N && Text[I + 1] == '"') {
                        Element += '"';
                        I += 2;
                        continue;
                    }
                    ++I;
                    break;
                }
                Element += Text[I++];
            }
        } else {
            const std::size_t Start = I;
            while (I < N && Text[I] != Delimiter && !IsBlank(Text[I])) ++I;
            Element.assign(Text, Start, I - Start);
        }
        Result.push_back(std::move(Element));

        SkipBlanks();
        if (I < N && Text[I] == Delimiter) {
            ++I;
            // Only a delimiter that is the very last character adds a trailing empty element.
            if (I == N) Result.emplace_back();
            SkipBlanks();
        }
    }
    return Result;
}

TSplitResult TStringUtils::SplitAtLast(const std::string& Text, const std::string& Separators) {
    const std::size_t Pos = Separators.empty() ? std::string::npos : Text.find_last_of(Separators);
    if (Pos == std::string::npos) return {std::string(), Text};
    return {Text.substr(0, Pos), Text.substr(Pos + 1)};
}

}  // namespace orv
