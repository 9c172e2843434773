// Path variables (%exe%, %module%, %config%) and string/path helpers.
//
// Path rules depend on the platform (TPathRules): on Windows a path is absolute when it contains
// ":", "/" and "\" are both read as separators, "\" is written and variable values are stored
// lower-cased; on POSIX a path is absolute when it begins with "/", only "/" is a separator and
// values keep their case. Variable names always match ignoring ASCII letter case.
#ifndef ORV_MISC_UTILS_H
#define ORV_MISC_UTILS_H

#include "ORVText.h"

#include <ORVInterface.h>

#include <string>
#include <utility>
#include <vector>

namespace orv {

// Removes at most one trailing separator.
std::string ExcludeTrailingSeparator(const std::string& Path);

// An ordered list of variables; Replace substitutes one occurrence of one variable.
class TStringReplacer {
public:
    TStringReplacer() = default;
    virtual ~TStringReplacer() = default;

    // Asserts Name is not empty. Stores Value under Name (both lower-cased; values only on
    // Windows); an empty Value removes the variable.
    virtual void SetVariable(const std::string& Name, const std::string& Value);
    // Replaces the first occurrence (ignoring case) of the earliest-registered variable that occurs.
    virtual std::string Replace(const std::string& Text) const;

    // The variables in registration order (name, value).
    const std::vector<std::pair<std::string, std::string>>& Variables() const { return Vars_; }

private:
    std::vector<std::pair<std::string, std::string>> Vars_;
};

// A replacer for paths: registers %exe%, %module%, %config% and makes relative results absolute
// against the host executable's folder.
class TPathParser : public TStringReplacer {
public:
    TPathParser(const std::string& ModulePath, const std::string& ConfigPath);

    void SetVariable(const std::string& Name, const std::string& Value) override;
    std::string Replace(const std::string& Text) const override;
};

struct TSplitResult {
    std::string Head;
    std::string Tail;
};

class TPathUtils {
public:
    TPathUtils() = delete;
    static bool IsAbsolutePath(const std::string& Path);
    // Folder of the engine module, with a trailing separator.
    static std::string GetModulePath();
    // Folder of the host executable, with a trailing separator.
    static std::string GetExePath();
    // The folder part of a file path: through its last separator (and, on Windows, ":").
    static std::string ExtractFilePath(const std::string& FileName);
    static std::string CombinePath(const std::string& Base, const std::string& Relative);
    static std::string IncludeTrailingSeparator(const std::string& Path);
    // Path with every separator written as the platform writes it (on Windows "/" becomes "\").
    static std::string NativeSeparators(std::string Path);
    // Whether Path begins with Prefix as the platform's file names compare: byte for byte on
    // POSIX; on Windows ignoring ASCII letter case, with "/" and "\" alike.
    static bool StartsWithPath(const std::string& Path, const std::string& Prefix);
    // What file names compare by: Path itself, or where names ignore letter case (Windows) Path
    // with native separators and ASCII letters in lower case. StartsWithPath(P, Q) is whether
    // PathKey(P) begins with PathKey(Q).
    static std::string PathKey(std::string Path);
};

class TStringUtils {
public:
    TStringUtils() = delete;
    // Splits a delimited list (blanks separate too; "..." quotes, "" inside stands for ").
    // An unterminated quote takes the rest of the text as the element.
    static TStringDynArray Split(const std::string& Text, char Delimiter);
    // Head/Tail around the last character of Text that is one of Separators.
    static TSplitResult SplitAtLast(const std::string& Text, const std::string& Separators);
};

}  // namespace orv

#endif
