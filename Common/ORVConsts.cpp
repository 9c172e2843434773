#include "ORVConsts.h"

#include "Platform.h"

namespace orv {

std::string LoadMessage(TMessageId Id) { return Platform().LoadMessage(Id); }

}  // namespace orv
