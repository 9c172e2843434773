#include "ORVText.h"

#include <algorithm>

namespace orv {

std::string AsciiLowerCase(std::string S) {
    for (char& C : S) C = AsciiLower(C);
    return S;
}

bool SameTextAscii(std::string_view A, std::string_view B) {
    return A.size() == B.size() &&
           std::equal(A.begin(), A.end(), B.begin(), [](char X, char Y) { return AsciiLower(X) == AsciiLower(Y); });
}

std::string Trim(std::string_view Text, bool (*IsBlank)(char)) {
    std::size_t First = 0, Last = Text.size();
    while (First < Last && IsBlank(Text[First])) ++First;
    while (Last > First && IsBlank(Text[Last - 1])) --Last;
    return std::string(Text.substr(First, Last - First));
}

}  // namespace orv
