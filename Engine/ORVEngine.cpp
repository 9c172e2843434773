// The engine library's exported functions and its module-level set-up and tear-down.
#include "Common/ORVCommon.h"

#include <ORVInterface.h>

namespace {

// Module finalization: runs when the library is unloaded (at the latest at process exit).
struct TModuleFinalization {
    ~TModuleFinalization() { orv::ReleaseThreadNullLogger(); }
};
TModuleFinalization GModuleFinalization;

}  // namespace

ORV_ENGINE_API void ORV_CALL SetLogger(orv::IORVLogger* Logger) {
    // Keep the argument alive while it is being stored; the slot itself holds no count.
    orv::Ref<orv::IORVLogger> Hold(Logger);
    orv::SetThreadLogger(Logger);
}
