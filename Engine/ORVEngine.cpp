// The engine library's exported functions and its module-level set-up and tear-down.
#include "Common/ORVCommon.h"
#include "Common/Platform.h"
#include "Engine/ORVEngineImpl.h"

#include <ORVInterface.h>

namespace {

// The process-wide engine, created by the first GetORVEngine.
orv::Ref<orv::IORVEngine> GEngine;
// Where the engine is kept when the process exits without releasing it (reachable, not leaked).
// volatile: the compiler drops the store to a variable that nothing reads, and the engine was then
// reported leaked.
orv::IORVEngine* volatile GEngineAtExit = nullptr;

// Module finalization: runs when the library is unloaded (at the latest at process exit).
struct TModuleFinalization {
    ~TModuleFinalization() {
        if (orv::Platform().ProcessIsExiting()) {
            // Plug-in libraries may already be unloaded, or their static objects destroyed:
            // releasing their objects now would call into dead code. The process is ending anyway.
            GEngineAtExit = GEngine.Detach();
        } else {
            GEngine = nullptr;
        }
        orv::FinalizeLogging();
    }
};
TModuleFinalization GModuleFinalization;

template <class T>
void HandOut(T** Target, const orv::Ref<T>& Value) {
    if (!Target) return;
    orv::Ref<T> Previous;
    Previous.Attach(*Target);  // released when this function returns
    *Target = orv::Ref<T>(Value).Detach();
}

}  // namespace

ORV_ENGINE_API void ORV_CALL GetORVEngine(orv::IORVEngine** Engine) {
    if (!GEngine) GEngine = orv::Ref<orv::IORVEngine>(new orv::TORVEngine());
    HandOut(Engine, GEngine);
}

ORV_ENGINE_API void ORV_CALL GetORVParser(orv::IORVParser** Parser) {
    HandOut(Parser, orv::Ref<orv::IORVParser>(new orv::TORVEngine()));
}

ORV_ENGINE_API void ORV_CALL SetLogger(orv::IORVLogger* Logger) {
    // Keep the argument alive while it is being stored; the slot itself holds no count.
    orv::Ref<orv::IORVLogger> Hold(Logger);
    orv::SetThreadLogger(Logger);
}
