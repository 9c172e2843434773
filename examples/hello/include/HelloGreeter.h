// A greeter whose greeting text comes from its extension's "Greeting" attribute.
#ifndef HELLO_GREETER_H
#define HELLO_GREETER_H

#include "HelloInterfaces.h"

#include <ORVPluginHelpers.h>

class THelloGreeter : public orv::TInterfacedObject<IGreeter> {
public:
    explicit THelloGreeter(orv::IORVExtension* Extension) {
        orv::Ref<orv::IXMLNode> Config = Extension->GetConfig();
        Greeting_ = Config ? Config->GetAttribute("Greeting") : std::string();
        if (Greeting_.empty()) Greeting_ = "Hello";
    }
    std::string ORV_CALL Greet(const std::string& Who) override { return Greeting_ + ", " + Who + "!"; }

private:
    std::string Greeting_;
};

#endif
