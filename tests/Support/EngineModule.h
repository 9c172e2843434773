// The engine library as a host sees it: loaded at run time and reached only through its exports.
#ifndef ORV_TEST_ENGINE_MODULE_H
#define ORV_TEST_ENGINE_MODULE_H

#include <ORVInterface.h>

#include <string>

#include "Common/Platform.h"

namespace orv::test {

class TEngineModule {
public:
    // Loads the library at Path; std::runtime_error when it cannot or an export is missing.
    explicit TEngineModule(const std::string& Path);
    // Restores the do-nothing logger and unloads the library (every object from it must be gone).
    ~TEngineModule();
    TEngineModule(const TEngineModule&) = delete;
    TEngineModule& operator=(const TEngineModule&) = delete;

    // The engine library ("libORVEngine.so" or "ORVEngine.dll") in Folder; empty when absent.
    static std::string LibraryIn(const std::string& Folder);

    // GetORVEngine: the process-wide engine.
    Ref<IORVEngine> Singleton() const;
    // GetORVParser: a new engine of its own.
    Ref<IORVParser> NewParser() const;
    // A new engine of its own, asked for IORVEngine.
    Ref<IORVEngine> NewEngine() const;
    // SetLogger on the calling thread (no reference is kept).
    void SetLogger(IORVLogger* Logger) const;

private:
    TLibraryHandle Handle_ = nullptr;
    TGetORVEngine GetEngine_ = nullptr;
    TGetORVParser GetParser_ = nullptr;
    TSetLogger SetLogger_ = nullptr;
};

}  // namespace orv::test

#endif
