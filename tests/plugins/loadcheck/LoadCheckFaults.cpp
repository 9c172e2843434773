// The plug-ins of the --check-load tests: one library per fault, chosen by a definition, each with
// a plug-in object and a factory (GetExtensionImpl) that work unless its fault is theirs.
//   LOADCHECK_ABORT_ON_LOAD     a static constructor calls abort()
//   LOADCHECK_HANG_ON_LOAD      a static constructor never returns
//   LOADCHECK_NULL_IN_ENTRY     GetPluginImpl writes through a null pointer
//   LOADCHECK_UNDEFINED         the library reads a variable that nothing defines
//   LOADCHECK_HELPER            the library needs loadcheck_gone, which is never shipped with it
//   LOADCHECK_ENTRY_RAISES      GetPluginImpl raises "entry refused"
//   LOADCHECK_ENTRY_NIL         GetPluginImpl yields nothing
//   LOADCHECK_ENTRY_NOT_PLUGIN  GetPluginImpl yields an object without IORVPlugin
//   LOADCHECK_FACTORY_RAISES    the factory raises "factory refused"
//   LOADCHECK_FACTORY_NIL       the factory yields nothing
// None of them: a plug-in that passes.
#include <ORVPluginHelpers.h>

#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <thread>

namespace {

class TPlugin : public orv::TInterfacedObject<orv::IORVPlugin> {
public:
    void ORV_CALL Start() override {}
    void ORV_CALL Stop() override {}
};

class TObject : public orv::TInterfacedObject<orv::IORVApplication> {
public:
    void ORV_CALL Run(const orv::TVarRec*, int32_t) override {}
};

#if defined(LOADCHECK_ABORT_ON_LOAD) || defined(LOADCHECK_HANG_ON_LOAD)
struct TOnLoad {
    TOnLoad() {
#ifdef LOADCHECK_ABORT_ON_LOAD
        std::abort();
#else
        for (;;) std::this_thread::sleep_for(std::chrono::seconds(1));
#endif
    }
};
TOnLoad GOnLoad;
#endif

#ifdef LOADCHECK_NULL_IN_ENTRY
// Kept from the sanitizers' null check, which would end the process its own way.
__attribute__((noinline, no_sanitize("null"))) void WriteThrough(volatile int* Where) { *Where = 1; }
volatile int* GNowhere = nullptr;
#endif

}  // namespace

#ifdef LOADCHECK_UNDEFINED
extern "C" int LoadCheckNowhereDefined;
ORV_EXPORT int32_t ORV_CALL LoadCheckValue() { return LoadCheckNowhereDefined; }
#endif
#ifdef LOADCHECK_HELPER
extern "C" int LoadCheckHelperValue();
ORV_EXPORT int32_t ORV_CALL LoadCheckValue() { return LoadCheckHelperValue(); }
#endif

ORV_EXPORT void ORV_CALL GetPluginImpl(orv::IInterface** Result, orv::IORVDescriptor* Descriptor) {
#if defined(LOADCHECK_NULL_IN_ENTRY)
    WriteThrough(GNowhere);
#elif defined(LOADCHECK_ENTRY_RAISES)
    throw std::runtime_error("entry refused");
#elif defined(LOADCHECK_ENTRY_NIL)
    return;
#elif defined(LOADCHECK_ENTRY_NOT_PLUGIN)
    orv::detail::Produce<TObject>(Result, Descriptor);
    return;
#endif
    orv::detail::Produce<TPlugin>(Result, Descriptor);
}

ORV_EXPORT void ORV_CALL GetExtensionImpl(orv::IInterface** Result, orv::IORVExtension* Extension) {
#if defined(LOADCHECK_FACTORY_RAISES)
    throw std::runtime_error("factory refused");
#elif defined(LOADCHECK_FACTORY_NIL)
    return;
#endif
    orv::detail::Produce<TObject>(Result, Extension);
}
