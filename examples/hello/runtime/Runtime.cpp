// The runtime plug-in: declares the point "ORVEngine.Runtime.applications" in its manifest;
// its library only announces start and stop.
#include "HelloPlugin.h"

ORV_EXPORT_PLUGIN(THelloPlugin)
