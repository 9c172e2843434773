// Message-table ids and the one way to read an entry.
#ifndef ORV_CONSTS_H
#define ORV_CONSTS_H

#include <cstdint>
#include <string>

namespace orv {

enum TMessageId : uint16_t {
#define ORV_MESSAGE(Id, Name, Text) Name = Id,
#include "ORVMessages.def"
#undef ORV_MESSAGE
};

// Loads the text of entry Id afresh through the platform layer (8-bit, process code page).
// An unknown id yields the empty string.
std::string LoadMessage(TMessageId Id);

}  // namespace orv

#endif
