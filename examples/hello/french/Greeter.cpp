// A greeter plug-in; its greeting text is set in its manifest.
#include "HelloGreeter.h"
#include "HelloPlugin.h"

ORV_EXPORT_PLUGIN(THelloPlugin)
ORV_EXPORT_FACTORY(CreateGreeter, THelloGreeter)
