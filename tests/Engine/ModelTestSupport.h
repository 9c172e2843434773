// Helpers for the tests of the plug-in model: building descriptors in memory, locating the test
// plug-ins, a platform layer that counts and injects faults, and a probe into a test plug-in.
//
// Linking this file also installs a listener that fails any test of the suite that leaves model
// objects (TAdatableInterfacedObject) alive.
#ifndef ORV_TEST_MODEL_TEST_SUPPORT_H
#define ORV_TEST_MODEL_TEST_SUPPORT_H

#include "Common/ORVConsts.h"
#include "Common/Platform.h"
#include "Engine/ORVCollections.h"
#include "Engine/ORVDescriptor.h"
#include "Engine/ORVExtension.h"
#include "Engine/ORVExtensionPoint.h"
#include "Engine/ORVRegistry.h"
#include "Support/RecordingLogger.h"

#include <gtest/gtest.h>

#include <functional>
#include <exception>
#include <string>
#include <vector>

namespace orv::test {

// Full path of the test plug-in library Name in the build's output folder.
std::string TestPluginPath(const std::string& Name);

// Whether the library file Path is loaded in this process (without loading it).
bool LibraryIsLoaded(const std::string& Path);

// A registry held by a Ref, with the object at hand.
struct TModel {
    Ref<IORVRegistry> Registry{new TORVRegistry()};
    TORVRegistry* Object() const { return TConverter::ToRegistry(Registry); }
    TORVDescriptors* Descriptors() const { return TConverter::ToDescriptors(Registry->GetDescriptors()); }

    // A new descriptor of this registry, added to its collection.
    Ref<IORVDescriptor> AddDescriptor(const std::string& ID, const std::string& Library = std::string(),
                                      bool Initialize = false);
};

// The engine's object behind a model interface, as the collections take it.
inline TORVDescriptor* ModelObject(const Ref<IORVDescriptor>& R) { return TConverter::ToDescriptor(R); }
inline TORVExtension* ModelObject(const Ref<IORVExtension>& R) { return TConverter::ToExtension(R); }
inline TORVExtensionPoint* ModelObject(const Ref<IORVExtensionPoint>& R) { return TConverter::ToExtensionPoint(R); }

// A descriptor that belongs to no registry.
Ref<IORVDescriptor> NewDescriptor(const std::string& ID, const std::string& Library = std::string());
// A new point LocalID of Descriptor, added to its collection.
Ref<IORVExtensionPoint> AddPoint(const Ref<IORVDescriptor>& Descriptor, const std::string& LocalID,
                                 bool Required = false, bool Unique = false);
// A new extension LocalID of Descriptor naming Points, added to its collection.
Ref<IORVExtension> AddExtension(const Ref<IORVDescriptor>& Descriptor, const std::string& LocalID,
                                const std::string& Points, const std::string& Factory = DefaultFactoryMethod);

// The real platform layer, counting library calls and failing on request.
class TSpyPlatform : public TPlatform {
public:
    enum class TFault { None, Std, NonStd };

    int Opens = 0;
    int Closes = 0;
    std::vector<std::string> Lookups;      // every FindSymbol name, in order
    TFault CloseFault = TFault::None;      // raised after the library was really closed
    std::function<void()> BeforeClose;     // runs before each real close

    TLibraryHandle OpenLibrary(const std::string& Path, std::string& Error) override;
    void* FindSymbol(TLibraryHandle Handle, const std::string& Name) override;
    void CloseLibrary(TLibraryHandle Handle) override;
    int LookupsOf(const std::string& Name) const;
};

// Keeps a test plug-in loaded and calls its ModelProbe / ModelJournal exports.
class TPluginProbe {
public:
    explicit TPluginProbe(const std::string& Name);
    ~TPluginProbe();
    TPluginProbe(const TPluginProbe&) = delete;
    TPluginProbe& operator=(const TPluginProbe&) = delete;

    int32_t Probe(int32_t Which) const;
    std::string Journal() const;  // empty when the plug-in keeps none

private:
    TLibraryHandle Handle_ = nullptr;
    int32_t(ORV_CALL* Probe_)(int32_t) = nullptr;
    const char*(ORV_CALL* Journal_)() = nullptr;
};

// The message of the exception Action raises, or "<nothing raised>".
template <class F>
std::string MessageOf(F&& Action) {
    try {
        Action();
    } catch (const std::exception& E) {
        return E.what();
    }
    return "<nothing raised>";
}

}  // namespace orv::test

#endif
