// What the fuzz targets share: the input as a string, and the check that every model object and
// XML document of an input is gone when the input is done (reference counts balance).
#ifndef ORV_FUZZ_SUPPORT_H
#define ORV_FUZZ_SUPPORT_H

#include "Companion/TarnXMLLiveCount.h"
#include "Engine/ORVAdatable.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace orv::fuzz {

inline std::string Input(const uint8_t* Data, std::size_t Size) { return std::string(reinterpret_cast<const char*>(Data), Size); }

// Aborts (a finding) when objects of the input outlived it.
inline void CheckNothingLeft() {
    const int64_t Objects = TAdatableInterfacedObject::LiveObjectCount();
    const int32_t Documents = LiveXMLDocumentCount();
    if (Objects == 0 && Documents == 0) return;
    std::fprintf(stderr, "%lld model object(s) and %d XML document(s) outlived the input\n",
                 static_cast<long long>(Objects), Documents);
    std::abort();
}

}  // namespace orv::fuzz

#endif
