// The portable half of the platform layer: the seam that tests use to replace it. The operating
// system calls live in the included implementation files of the build's platform; folder
// listings and walks are in FolderWalk.cpp, on top of their primitives.
#include "Platform.h"
#include "ORVText.h"

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

// The build's platform, one file per concept (the two folders hold files of the same names).
#ifdef _WIN32
#include "Windows/Support.inc"
#include "Windows/Library.inc"
#include "Windows/LibrarySearch.inc"
#include "Windows/Files.inc"
#include "Windows/FolderAccess.inc"
#include "Windows/Text.inc"
#include "Windows/Process.inc"
#else
#include "Linux/Support.inc"
#include "Linux/ElfCheck.inc"
#include "Linux/Library.inc"
#include "Linux/LibrarySearch.inc"
#include "Linux/Files.inc"
#include "Linux/FolderAccess.inc"
#include "Linux/Text.inc"
#include "Linux/Process.inc"
#endif
#include "Posix/ThreadLocal.inc"
