// A plug-in object that announces its start and stop on stdout, shared by the hello plug-ins.
#ifndef HELLO_PLUGIN_H
#define HELLO_PLUGIN_H

#include <ORVPluginHelpers.h>

#include <cstdio>

class THelloPlugin : public orv::TInterfacedObject<orv::IORVPlugin> {
public:
    explicit THelloPlugin(orv::IORVDescriptor* Descriptor) : Id_(Descriptor ? Descriptor->GetID() : "?") {}
    void ORV_CALL Start() override { std::printf("[%s] started\n", Id_.c_str()); std::fflush(stdout); }
    void ORV_CALL Stop() override { std::printf("[%s] stopped\n", Id_.c_str()); std::fflush(stdout); }

private:
    std::string Id_;
};

#endif
