#include "ToolText.h"

#include "Common/ORVText.h"

#include <cstdio>
#include <vector>

#include "Common/Platform.h"

namespace {

// Text, from encoding From to encoding To; Text itself when it cannot be converted.
std::string Recode(const std::string& Text, orv::TTextEncoding From, orv::TTextEncoding To) {
    std::string Result;
    return orv::RecodeText(Text, From, To, false, Result) ? Result : Text;
}

}  // namespace

// The engine's strings are in the process's 8-bit encoding: UTF-8 already on Linux.
std::string ToUtf8(const std::string& Text) {
    return Recode(Text, orv::TTextEncoding::Native, orv::TTextEncoding::Utf8);
}

std::string FromUtf8(const std::string& Utf8) {
    return Recode(Utf8, orv::TTextEncoding::Utf8, orv::TTextEncoding::Native);
}

bool Utf8SequenceAt(const std::string& Text, std::size_t At, std::size_t& Length) {
    uint32_t CodePoint;
    return orv::DecodeUtf8(Text, At, CodePoint, Length);
}

std::string Printable(const std::string& Text) {
    const std::string Utf8 = ToUtf8(Text);
    std::string Out;
    Out.reserve(Utf8.size());
    char Escape[8];
    for (std::size_t I = 0; I < Utf8.size();) {
        uint32_t C;
        std::size_t Length;
        if (!orv::DecodeUtf8(Utf8, I, C, Length)) {
            for (std::size_t K = 0; K < Length; ++K) {
                std::snprintf(Escape, sizeof Escape, "\\x%02X", static_cast<unsigned char>(Utf8[I + K]));
                Out += Escape;
            }
        } else if (C == '\r' && I + 1 < Utf8.size() && Utf8[I + 1] == '\n') {
            // dropped: the line feed ends the line
        } else if (C == '\n' || C == '\t') {
            Out += static_cast<char>(C);
        } else if (C < 0x20 || C == 0x7F) {
            std::snprintf(Escape, sizeof Escape, "\\x%02X", static_cast<unsigned>(C));
            Out += Escape;
        } else if (C >= 0x80 && C <= 0x9F) {  // the C1 controls
            std::snprintf(Escape, sizeof Escape, "\\u%04X", static_cast<unsigned>(C));
            Out += Escape;
        } else if (C == 0x2028 || C == 0x2029) {  // the line and paragraph separators
            Out += C == 0x2028 ? "\\u2028" : "\\u2029";
        } else {
            Out.append(Utf8, I, Length);
        }
        I += Length;
    }
    return Out;
}

namespace {

// Text with its line feeds and carriage returns written as \x0A and \x0D (ASCII, the same in
// every code page the engine's text may be in).
std::string EscapeLineBreaks(const std::string& Text) {
    if (Text.find_first_of("\r\n") == std::string::npos) return Text;
    std::string Out;
    for (char C : Text) {
        if (C == '\n')
            Out += "\\x0A";
        else if (C == '\r')
            Out += "\\x0D";
        else
            Out += C;
    }
    return Out;
}

}  // namespace

std::string PrintableData(const std::string& Text) { return Printable(EscapeLineBreaks(Text)); }

std::string PrintableFormat(const std::string& Template, const orv::TVarRec* Args, int32_t High) {
    std::vector<orv::TArgList::Arg> Escaped;
    for (int32_t I = 0; Args && I <= High; ++I) {
        if (Args[I].VType == orv::vtAnsiString)
            Escaped.emplace_back(EscapeLineBreaks(Args[I].VAnsiString ? Args[I].VAnsiString : ""));
        else if (Args[I].VType == orv::vtInteger)
            Escaped.emplace_back(Args[I].VInteger);
        else
            break;  // an element FormatArgs does not know: it and what follows are left unfilled
    }
    const orv::TArgList List(Escaped);
    return Printable(orv::FormatArgs(Template, List.Data(), List.High()));
}
