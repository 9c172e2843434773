#include "ModelTestSupport.h"

#include <stdexcept>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace orv::test {

namespace {

// Fails every test that ends with more model objects alive than it started with (zero, unless an
// earlier test leaked): reference counts must balance. A leak fails the leaking test only.
class TLiveObjectCheck : public ::testing::EmptyTestEventListener {
public:
    void OnTestStart(const ::testing::TestInfo&) override { AtStart_ = TAdatableInterfacedObject::LiveObjectCount(); }
    void OnTestEnd(const ::testing::TestInfo& Info) override {
        const int64_t Live = TAdatableInterfacedObject::LiveObjectCount();
        if (Live == 0 || Live == AtStart_) return;
        ADD_FAILURE() << Live << " model object(s) still alive after " << Info.test_suite_name() << "."
                      << Info.name() << " (" << AtStart_ << " at its start)";
    }

private:
    int64_t AtStart_ = 0;
};

const bool GLiveObjectCheckInstalled = [] {
    ::testing::UnitTest::GetInstance()->listeners().Append(new TLiveObjectCheck());
    return true;
}();

}  // namespace

std::string TestPluginPath(const std::string& Name) {
    const std::string Base = std::string(ORV_TEST_BIN_DIR) + "/" + Name;
    for (const char* Suffix : {".so", ".dll", ".dylib"})
        if (Platform().FileExists(Base + Suffix)) return Base + Suffix;
    throw std::runtime_error("test plug-in not built: " + Base);
}

bool LibraryIsLoaded(const std::string& Path) {
#ifdef _WIN32
    return GetModuleHandleA(Path.c_str()) != nullptr;
#else
    void* Handle = dlopen(Path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (Handle) dlclose(Handle);
    return Handle != nullptr;
#endif
}

Ref<IORVDescriptor> TModel::AddDescriptor(const std::string& ID, const std::string& Library, bool Initialize) {
    Ref<IORVDescriptor> D = NewDescriptor(ID, Library);
    TORVDescriptor* Object = TConverter::ToDescriptor(D);
    Object->SetRegistry(this->Object());
    Object->SetInitialize(Initialize);
    Descriptors()->Add(Object);
    return D;
}

Ref<IORVDescriptor> NewDescriptor(const std::string& ID, const std::string& Library) {
    auto* Object = new TORVDescriptor();
    Ref<IORVDescriptor> D(Object);
    Object->SetID(ID);
    Object->SetLibrary(Library);
    Object->SetLocation("/plugins/" + ID + "/");
    Object->SetConfigFile("/plugins/" + ID + "/plugin.xml");
    return D;
}

Ref<IORVExtensionPoint> AddPoint(const Ref<IORVDescriptor>& Descriptor, const std::string& LocalID, bool Required,
                                 bool Unique) {
    auto* Object = new TORVExtensionPoint();
    Ref<IORVExtensionPoint> P(Object);
    Object->SetDescriptor(ModelObject(Descriptor));
    Object->SetLocalID(LocalID);
    Object->SetRequired(Required);
    Object->SetUnique(Unique);
    ModelObject(Descriptor)->OwnExtensionPoints().Add(Object);
    return P;
}

Ref<IORVExtension> AddExtension(const Ref<IORVDescriptor>& Descriptor, const std::string& LocalID,
                                const std::string& Points, const std::string& Factory) {
    auto* Object = new TORVExtension(LocalID);
    Ref<IORVExtension> E(Object);
    Object->SetDescriptor(ModelObject(Descriptor));
    Object->SetPoints(Points);
    Object->SetFactoryMethod(Factory);
    ModelObject(Descriptor)->OwnExtensions().Add(Object);
    return E;
}

TLibraryHandle TSpyPlatform::OpenLibrary(const std::string& Path, std::string& Error) {
    ++Opens;
    return TPlatform::OpenLibrary(Path, Error);
}

void* TSpyPlatform::FindSymbol(TLibraryHandle Handle, const std::string& Name) {
    Lookups.push_back(Name);
    return TPlatform::FindSymbol(Handle, Name);
}

void TSpyPlatform::CloseLibrary(TLibraryHandle Handle) {
    ++Closes;
    if (BeforeClose) BeforeClose();
    TPlatform::CloseLibrary(Handle);
    if (CloseFault == TFault::Std) throw std::runtime_error("unload refused");
    if (CloseFault == TFault::NonStd) throw 5;
}

int TSpyPlatform::LookupsOf(const std::string& Name) const {
    int N = 0;
    for (const std::string& L : Lookups) N += L == Name;
    return N;
}

namespace {
// The built-in platform layer, out of reach of the overrides that tests install.
TPlatform& RealPlatform() {
    static TPlatform Real;
    return Real;
}
}  // namespace

TPluginProbe::TPluginProbe(const std::string& Name) {
    std::string Error;
    const std::string Path = TestPluginPath(Name);
    Handle_ = RealPlatform().OpenLibrary(Path, Error);
    if (!Handle_) throw std::runtime_error("cannot load " + Path + ": " + Error);
    Probe_ = reinterpret_cast<int32_t(ORV_CALL*)(int32_t)>(RealPlatform().FindSymbol(Handle_, "ModelProbe"));
    Journal_ = reinterpret_cast<const char*(ORV_CALL*)()>(RealPlatform().FindSymbol(Handle_, "ModelJournal"));
    if (Probe_) Probe_(-1);
}

TPluginProbe::~TPluginProbe() {
    try {
        RealPlatform().CloseLibrary(Handle_);
    } catch (...) {
    }
}

int32_t TPluginProbe::Probe(int32_t Which) const { return Probe_ ? Probe_(Which) : -1; }

std::string TPluginProbe::Journal() const { return Journal_ ? Journal_() : std::string(); }

}  // namespace orv::test
