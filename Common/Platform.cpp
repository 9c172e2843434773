// The portable half of the platform layer: the seam that tests use to replace it. The operating
// system calls live in the included implementation file of the build's platform.
#include "Platform.h"

#include <atomic>
#include <new>

namespace orv {

namespace {

// The replacement in force, nullptr for the built-in layer.
std::atomic<TPlatform*> GOverride{nullptr};

// The built-in layer. It is never destroyed, so code running in static destructors (module
// unload) can still reach it.
TPlatform& DefaultPlatform() {
    union THolder {
        TPlatform Value;
        THolder() : Value() {}
        ~THolder() {}
    };
    static THolder Holder;
    return Holder.Value;
}

}  // namespace

TPlatform& Platform() {
    TPlatform* P = GOverride.load(std::memory_order_acquire);
    return P ? *P : DefaultPlatform();
}

TPlatformOverride::TPlatformOverride(TPlatform& Replacement)
    : Previous_(GOverride.exchange(&Replacement, std::memory_order_acq_rel)) {}

TPlatformOverride::~TPlatformOverride() { GOverride.store(Previous_, std::memory_order_release); }

}  // namespace orv

#ifdef _WIN32
#include "Windows/Platform.inc"
#else
#include "Unix/Platform.inc"
#endif
