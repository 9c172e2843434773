// Where the launcher looks for the configuration file: the places the engine itself tries, in the
// same order (the name as given, then beside the engine library, then beside the executable).
#ifndef ORV_HOST_HOST_PATHS_H
#define ORV_HOST_HOST_PATHS_H

#include <string>

enum class TConfigFileState { Found, Missing, NotAFile };

// Whether the configuration file Name can be found, and where (Found in Resolved).
TConfigFileState LocateConfigFile(const std::string& Name, std::string& Resolved);

#endif
