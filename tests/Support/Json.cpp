#include "Support/Json.h"

#include <cstdlib>
#include <stdexcept>

namespace orv::test {

namespace {

class TParser {
public:
    explicit TParser(const std::string& Text) : Text_(Text) {}

    TJson Document() {
        TJson Value = Parse();
        Blanks();
        if (At_ != Text_.size()) Fail("text after the value");
        return Value;
    }

private:
    [[noreturn]] void Fail(const char* What) const {
        throw std::runtime_error(std::string("not JSON: ") + What + " at byte " + std::to_string(At_));
    }
    void Blanks() {
        while (At_ < Text_.size() && (Text_[At_] == ' ' || Text_[At_] == '\n' || Text_[At_] == '\r' || Text_[At_] == '\t'))
            ++At_;
    }
    bool Take(const char* Word) {
        const std::string W = Word;
        if (Text_.compare(At_, W.size(), W) != 0) return false;
        At_ += W.size();
        return true;
    }
    char Next() {
        if (At_ >= Text_.size()) Fail("unexpected end");
        return Text_[At_++];
    }
    static void AppendUtf8(unsigned C, std::string& Out) {
        if (C < 0x80) {
            Out += static_cast<char>(C);
        } else if (C < 0x800) {
            Out += static_cast<char>(0xC0 | (C >> 6)), Out += static_cast<char>(0x80 | (C & 0x3F));
        } else if (C < 0x10000) {
            Out += static_cast<char>(0xE0 | (C >> 12)), Out += static_cast<char>(0x80 | ((C >> 6) & 0x3F));
            Out += static_cast<char>(0x80 | (C & 0x3F));
        } else {
            Out += static_cast<char>(0xF0 | (C >> 18)), Out += static_cast<char>(0x80 | ((C >> 12) & 0x3F));
            Out += static_cast<char>(0x80 | ((C >> 6) & 0x3F)), Out += static_cast<char>(0x80 | (C & 0x3F));
        }
    }
    unsigned Hex4() {
        unsigned V = 0;
        for (int I = 0; I < 4; ++I) {
            const char C = Next();
            unsigned Digit;
            if (C >= '0' && C <= '9')
                Digit = static_cast<unsigned>(C - '0');
            else if (C >= 'a' && C <= 'f')
                Digit = static_cast<unsigned>(C - 'a' + 10);
            else if (C >= 'A' && C <= 'F')
                Digit = static_cast<unsigned>(C - 'A' + 10);
            else
                Fail("bad \\u escape");
            V = V * 16 + Digit;
        }
        return V;
    }
    std::string StringBody() {
        std::string Out;
        for (;;) {
            const char C = Next();
            if (C == '"') return Out;
            if (static_cast<unsigned char>(C) < 0x20) Fail("control character in a string");
            if (C != '\\') {
                Out += C;
                continue;
            }
            const char E = Next();
            switch (E) {
                case '"': case '\\': case '/': Out += E; break;
                case 'b': Out += '\b'; break;
                case 'f': Out += '\f'; break;
                case 'n': Out += '\n'; break;
                case 'r': Out += '\r'; break;
                case 't': Out += '\t'; break;
                case 'u': {
                    unsigned C1 = Hex4();
                    if (C1 >= 0xD800 && C1 <= 0xDBFF && Take("\\u")) C1 = 0x10000 + ((C1 - 0xD800) << 10) + (Hex4() - 0xDC00);
                    AppendUtf8(C1, Out);
                    break;
                }
                default: Fail("bad escape");
            }
        }
    }
    TJson Parse() {
        Blanks();
        TJson V;
        if (At_ >= Text_.size()) Fail("unexpected end");
        const char C = Text_[At_];
        if (C == '{') {
            ++At_;
            V.Kind = TJson::Object;
            Blanks();
            if (Take("}")) return V;
            for (;;) {
                Blanks();
                if (Next() != '"') Fail("object key expected");
                std::string Key = StringBody();
                Blanks();
                if (Next() != ':') Fail("':' expected");
                V.Members.emplace_back(std::move(Key), Parse());
                Blanks();
                const char Sep = Next();
                if (Sep == '}') return V;
                if (Sep != ',') Fail("',' or '}' expected");
            }
        }
        if (C == '[') {
            ++At_;
            V.Kind = TJson::Array;
            Blanks();
            if (Take("]")) return V;
            for (;;) {
                V.Items.push_back(Parse());
                Blanks();
                const char Sep = Next();
                if (Sep == ']') return V;
                if (Sep != ',') Fail("',' or ']' expected");
            }
        }
        if (C == '"') {
            ++At_;
            V.Kind = TJson::String;
            V.Text = StringBody();
            return V;
        }
        if (Take("true")) V.Kind = TJson::Bool, V.Flag = true;
        else if (Take("false")) V.Kind = TJson::Bool;
        else if (Take("null")) V.Kind = TJson::Null;
        else {
            const char* Start = Text_.c_str() + At_;
            char* End = nullptr;
            V.Value = std::strtod(Start, &End);
            if (End == Start) Fail("value expected");
            V.Kind = TJson::Number;
            At_ += static_cast<std::size_t>(End - Start);
        }
        return V;
    }

    const std::string& Text_;
    std::size_t At_ = 0;
};

}  // namespace

const TJson& TJson::operator[](const std::string& Name) const {
    for (const auto& Member : Members)
        if (Member.first == Name) return Member.second;
    throw std::runtime_error("no JSON member \"" + Name + "\"");
}

TJson ParseJson(const std::string& Document) { return TParser(Document).Document(); }

}  // namespace orv::test
