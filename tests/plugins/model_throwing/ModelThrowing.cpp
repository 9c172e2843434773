// A plug-in that fails on request. The descriptor's id says where:
//   contains "entry": GetPluginImpl throws;  contains "start": Start throws;
//   contains "stop": Stop throws;  contains "nonstd": the thrown value is the int 42 instead of
//   a std::runtime_error (of a class derived in this library).
// The factory GetExtensionImpl always throws std::runtime_error, ThrowOther the int 7.
#include <ORVPluginHelpers.h>

#include <atomic>
#include <stdexcept>
#include <string>

namespace {

std::atomic<int32_t> GLive{0};
std::atomic<int32_t> GStarts{0};

bool Has(const std::string& ID, const char* Part) { return ID.find(Part) != std::string::npos; }

// A class of this library: its code goes when the library is unloaded, so an exception of it
// must not outlive the library.
class TPluginError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

[[noreturn]] void Fail(const std::string& ID, const std::string& Where) {
    if (Has(ID, "nonstd")) throw 42;
    throw TPluginError(Where + " failed in " + ID);
}

class TPlugin : public orv::TInterfacedObject<orv::IORVPlugin> {
public:
    explicit TPlugin(orv::IORVDescriptor* Descriptor) : ID_(Descriptor->GetID()) { ++GLive; }
    ~TPlugin() override { --GLive; }
    void ORV_CALL Start() override {
        ++GStarts;
        if (Has(ID_, "start")) Fail(ID_, "Start");
    }
    void ORV_CALL Stop() override {
        if (Has(ID_, "stop")) Fail(ID_, "Stop");
    }

private:
    std::string ID_;
};

}  // namespace

ORV_EXPORT void ORV_CALL GetPluginImpl(orv::IInterface** Result, orv::IORVDescriptor* Descriptor) {
    const std::string ID = Descriptor->GetID();
    if (Has(ID, "entry")) Fail(ID, "GetPluginImpl");
    orv::detail::Produce<TPlugin>(Result, Descriptor);
}

ORV_EXPORT void ORV_CALL GetExtensionImpl(orv::IInterface**, orv::IORVExtension*) {
    throw std::runtime_error("factory failed");
}

ORV_EXPORT void ORV_CALL ThrowOther(orv::IInterface**, orv::IORVExtension*) { throw 7; }

// 0: plug-in objects alive; 1: Start calls; -1: resets the Start count.
ORV_EXPORT int32_t ORV_CALL ModelProbe(int32_t Which) {
    if (Which == -1) GStarts = 0;
    return Which == 0 ? GLive.load() : Which == 1 ? GStarts.load() : 0;
}
