// orv_test_host CONFIG: starts the process-wide engine on CONFIG and leaves main without calling
// Shutdown, so the process ends while plug-ins are loaded and started. Exits 0 when the startup
// returned, 1 with the message when it raised, 2 on a usage error.
#include <ORVInterface.h>

#include <cstdio>
#include <exception>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: orv_test_host CONFIG\n");
        return 2;
    }
    try {
        orv::Ref<orv::IORVEngine> Engine;
        GetORVEngine(Engine.Put());
        Engine->Startup(argv[1], nullptr, -1);
    } catch (const std::exception& E) {
        std::fprintf(stderr, "orv_test_host: %s\n", E.what());
        return 1;
    }
    return 0;
}
