// The interface that the hello application asks of its greeters.
#ifndef HELLO_INTERFACES_H
#define HELLO_INTERFACES_H

#include <ORVInterface.h>

#include <string>

struct IGreeter : orv::IInterface {
    static constexpr orv::TGUID IID = {0x1537FCB4, 0x387C, 0x46A0, {0x9B, 0xF9, 0x18, 0xA1, 0xB2, 0xBB, 0x00, 0x9B}};
    // The greeting for Who, built from the greeter's own settings.
    virtual std::string ORV_CALL Greet(const std::string& Who) = 0;
};

#endif
