// What orv-probe tells orv-inspect, one line each, fields separated by tabs:
//   phase <name>                   it enters a phase: loading, GetPluginImpl, Start,
//                                  factory <extension id>, Stop, releasing
//   load-failed <reason>           the system loader refused the library
//   raised <phase> <text>          plug-in code raised an exception
//   not-a-plugin <text>            GetPluginImpl yielded nothing, or nothing with IORVPlugin
//   factory-failed <id> <text>     a factory is missing or yielded nothing
//   loaded <milliseconds>          the library is loaded
//   done                           everything is released
//   problem <text>                 the probe itself could not do its work
// Line breaks, tabs and backslashes inside a field are written \n, \t, \\.
#ifndef ORV_PROBE_PROTOCOL_H
#define ORV_PROBE_PROTOCOL_H

#include <string>
#include <vector>

namespace Probe {

inline std::string Escape(const std::string& Text) {
    std::string Out;
    for (char C : Text) {
        if (C == '\\') Out += "\\\\";
        else if (C == '\n') Out += "\\n";
        else if (C == '\r') Out += "\\r";
        else if (C == '\t') Out += "\\t";
        else Out += C;
    }
    return Out;
}

// The fields of one line, unescaped.
inline std::vector<std::string> Fields(const std::string& Line) {
    std::vector<std::string> Result(1);
    for (std::size_t I = 0; I < Line.size(); ++I) {
        const char C = Line[I];
        if (C == '\t') {
            Result.emplace_back();
        } else if (C == '\\' && I + 1 < Line.size()) {
            const char N = Line[++I];
            Result.back() += N == 'n' ? '\n' : N == 'r' ? '\r' : N == 't' ? '\t' : N;
        } else {
            Result.back() += C;
        }
    }
    return Result;
}

}  // namespace Probe

#endif
