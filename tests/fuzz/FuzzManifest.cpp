// The manifest reader over one document, then linking and checking the registry it filled, and
// walking the result: parse-only, no library is ever loaded.
#include "Companion/TarnXMLUtils.h"
#include "Engine/ORVEngineImpl.h"
#include "Engine/ORVRegistry.h"
#include "FuzzSupport.h"

using namespace orv;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, std::size_t Size) {
    static TPathParser Parser("/fuzz/engine/", "/fuzz/conf/");
    static const std::string FileName = "/fuzz/plugins/p/plugin.xml";
    try {
        TEngineConfigEx Config;
        Config.ShieldedPlugins = {"shielded"};
        Config.DllPath = {"/fuzz/dlls"};
        const TPluginConfig Manifest{LoadXMLDocumentFromString(fuzz::Input(Data, Size), FileName), FileName};
        Ref<TORVRegistry> Registry = TORVEngine::BuildRegistry(Config, {Manifest}, Parser);
        Ref<IORVExtensions> Extensions = Registry->GetExtensions();
        for (int32_t I = 0; I < Extensions->GetCount(); ++I) {
            Ref<IORVExtension> Extension = Extensions->GetItem(I);
            Extension->GetExtensionPoints();
            Extension->GetConfig();
            Registry->GetExtensionPoints()->Find(Extension->GetID());
        }
    } catch (const EORVException&) {
    } catch (const EAssertionFailed&) {
        // The reader's invariants, not a fault of the input: every accepted extension names points.
        std::abort();
    }
    fuzz::CheckNothingLeft();
    return 0;
}
