// A small JSON reader for tests that check a program's JSON output.
#ifndef ORV_TEST_JSON_H
#define ORV_TEST_JSON_H

#include <string>
#include <utility>
#include <vector>

namespace orv::test {

struct TJson {
    enum TKind { Null, Bool, Number, String, Array, Object } Kind = Null;
    bool Flag = false;
    double Value = 0;
    std::string Text;                                   // a string, in UTF-8
    std::vector<TJson> Items;                           // an array
    std::vector<std::pair<std::string, TJson>> Members;  // an object, in document order

    // The member Name of an object; std::runtime_error when there is none.
    const TJson& operator[](const std::string& Name) const;
};

// Parses Document whole; std::runtime_error, with the byte offset, when it is not JSON.
TJson ParseJson(const std::string& Document);

}  // namespace orv::test

#endif
