// The engine configuration reader over one document.
#include "Companion/TarnXMLUtils.h"
#include "Engine/ORVEngineImpl.h"
#include "FuzzSupport.h"

using namespace orv;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, std::size_t Size) {
    static TPathParser Parser("/fuzz/engine/", "");
    try {
        TEngineConfigEx Config;
        TORVEngine::ReadEngineConfigDocument(LoadXMLDocumentFromString(fuzz::Input(Data, Size), "/fuzz/conf/engine.xml"),
                                             Parser, Config);
        // The defaults hold whatever the file says.
        if (Config.Path.empty() || Config.ConfigExt.empty()) std::abort();
        if (Config.EnvironmentVariables) Config.EnvironmentVariables->GetValue("Name");
    } catch (const EORVException&) {
    }
    fuzz::CheckNothingLeft();
    return 0;
}
