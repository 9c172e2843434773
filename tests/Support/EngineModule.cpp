#include "Support/EngineModule.h"

#include <stdexcept>

namespace orv::test {

TEngineModule::TEngineModule(const std::string& Path) {
    std::string Error;
    Handle_ = Platform().OpenLibrary(Path, Error);
    if (!Handle_) throw std::runtime_error("cannot load " + Path + ": " + Error);
    GetEngine_ = reinterpret_cast<TGetORVEngine>(Platform().FindSymbol(Handle_, "GetORVEngine"));
    GetParser_ = reinterpret_cast<TGetORVParser>(Platform().FindSymbol(Handle_, "GetORVParser"));
    SetLogger_ = reinterpret_cast<TSetLogger>(Platform().FindSymbol(Handle_, "SetLogger"));
    if (!GetEngine_ || !GetParser_ || !SetLogger_) {
        Platform().CloseLibrary(Handle_);
        throw std::runtime_error(Path + " lacks one of its exports");
    }
}

TEngineModule::~TEngineModule() {
    SetLogger_(nullptr);
    try {
        Platform().CloseLibrary(Handle_);
    } catch (...) {
        // Nothing sensible is left to do in a destructor.
    }
}

std::string TEngineModule::LibraryIn(const std::string& Folder) {
    for (const char* Name : {"libORVEngine.so", "ORVEngine.dll", "libORVEngine.dylib"}) {
        const std::string Candidate = Folder + TPathRules::Delimiter + Name;
        if (Platform().FileExists(Candidate)) return Candidate;
    }
    return std::string();
}

Ref<IORVEngine> TEngineModule::Singleton() const {
    Ref<IORVEngine> Result;
    GetEngine_(Result.Put());
    return Result;
}

Ref<IORVParser> TEngineModule::NewParser() const {
    Ref<IORVParser> Result;
    GetParser_(Result.Put());
    return Result;
}

Ref<IORVEngine> TEngineModule::NewEngine() const { return NewParser().Query<IORVEngine>(); }

void TEngineModule::SetLogger(IORVLogger* Logger) const { SetLogger_(Logger); }

}  // namespace orv::test
