#include <ORVInterface.h>
#include <cstdio>
int main(int argc, char** argv) try {
    orv::Ref<orv::IORVEngine> Engine;
    GetORVEngine(Engine.Put());
    Engine->Startup(argc > 1 ? argv[1] : "engine.xml", nullptr, -1);  // runs the application
    Engine->Shutdown();
} catch (const std::exception& E) {
    std::fprintf(stderr, "%s\n", E.what());
    return 1;
}
