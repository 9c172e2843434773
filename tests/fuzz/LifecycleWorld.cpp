#include "LifecycleWorld.h"

#include <algorithm>
#include <functional>

namespace orv::fuzz {

namespace {

TWorld* GWorld = nullptr;

bool StartsWith(const std::string& S, const std::string& Prefix) { return S.compare(0, Prefix.size(), Prefix) == 0; }

std::string WithoutTrailingSlash(std::string Path) {
    while (Path.size() > 1 && Path.back() == '/') Path.pop_back();
    return Path;
}

class TFakePlugin : public TInterfacedObject<IORVPlugin> {
public:
    TFakePlugin(std::size_t Record, IORVDescriptor* Descriptor) : Record_(Record), Descriptor_(Descriptor) {}
    void ORV_CALL Start() override { GWorld->Hooks->Start(Record_, Descriptor_); }
    void ORV_CALL Stop() override { GWorld->Hooks->Stop(Record_); }

private:
    std::size_t Record_;
    IORVDescriptor* Descriptor_;  // owns this object, so it outlives it
};

// What a factory makes.
class TFakeObject : public TInterfacedObject<IORVApplication> {
public:
    void ORV_CALL Run(const TVarRec*, int32_t) override {}
};

void ORV_CALL FakeGetPluginImpl(IInterface** Result, IORVDescriptor* Descriptor) {
    TPluginPlan* Plan = GWorld->PluginOfLibrary(Descriptor->GetLibrary());
    GWorld->Records.push_back(TPluginRecord{Plan});
    *Result = Ref<IORVPlugin>(new TFakePlugin(GWorld->Records.size() - 1, Descriptor)).Detach();
}

void ORV_CALL FakeFactory(IInterface** Result, IORVExtension* Extension) {
    TPluginPlan* Plan = GWorld->PluginOfLibrary(Extension->GetDescriptor()->GetLibrary());
    GWorld->Hooks->Factory(*Plan);
    *Result = Ref<IORVApplication>(new TFakeObject()).Detach();
}

struct TFakeLibrary {
    std::size_t Plugin;
};

}  // namespace

std::string TPluginPlan::Library() const { return Name + ".so"; }

// The tree: a byte with the folder count, then per folder a byte (bit 0: under /fz/extra, which
// the start-up does not search; bits 1-3: 6 an extension without points, 7 no XML; bits 4-7: the
// plug-in count), then per plug-in:
//   a byte: bits 0-2 the id, bit 3 Initialize, bits 4-5 both set: no library, bits 6-7 the points;
//   a byte: the extension count; per extension a byte (bit 0: names two points) and per named
//   point a byte (bit 7: a point of its own plug-in, else of plug-in id bits 1-3; bit 0: x0 or x1);
//   per piece of code (Start, Stop, factory) an action byte and a folder argument byte.
TWorld::TWorld(TBytes& In) {
    GWorld = this;
    std::vector<uint8_t> ArgBytes;
    const int FolderCount = 1 + In.Next() % 6;
    for (int F = 0; F < FolderCount; ++F) {
        const uint8_t Flags = In.Next();
        TFolderPlan Folder;
        Folder.Path = std::string((Flags & 1) ? "/fz/extra/f" : "/fz/plugins/f") + std::to_string(F);
        const int Kind = (Flags >> 1) & 7;
        Folder.Broken = Kind == 6 ? 1 : Kind == 7 ? 2 : 0;
        const int PluginCount = 1 + (Flags >> 4) % 3;
        for (int K = 0; K < PluginCount; ++K) {
            TPluginPlan P;
            P.Folder = F;
            const uint8_t A = In.Next();
            P.ID = "p" + std::to_string((A & 7) % 5);
            P.Name = "f" + std::to_string(F) + "p" + std::to_string(K);
            P.Initialize = (A & 8) != 0;
            P.HasLibrary = (A & 0x30) != 0x30;
            P.Points = (A >> 6) % 3;
            const int ExtensionCount = In.Next() % 3;
            for (int E = 0; E < ExtensionCount; ++E) {
                const int NamedCount = 1 + (In.Next() & 1);
                std::vector<std::string> Named;
                std::string Text;
                for (int N = 0; N < NamedCount; ++N) {
                    const uint8_t D = In.Next();
                    const std::string Local = "x" + std::to_string(D & 1);
                    const std::string Owner = (D & 0x80) ? P.ID : "p" + std::to_string(((D >> 1) & 7) % 5);
                    Named.push_back(Owner + "." + Local);
                    Text += (N ? ", " : "") + ((D & 0x80) ? Local : Named.back());
                }
                P.Named.push_back(Named);
                P.NamedText.push_back(Text);
            }
            for (int C = 0; C < CodeCount; ++C) {
                P.Actions[C] = static_cast<TAction>(In.Next() % static_cast<int>(TAction::Count));
                ArgBytes.push_back(In.Next());  // a folder argument, known once every folder is
            }
            Folder.Plugins.push_back(static_cast<int>(Plugins.size()));
            Plugins.push_back(P);
        }
        Folders.push_back(Folder);
    }
    for (std::size_t I = 0; I < ArgBytes.size(); ++I)
        Plugins[I / CodeCount].Args[I % CodeCount] = FolderArg(ArgBytes[I]);

    for (const char* Path : {"/fz", "/fz/plugins", "/fz/extra"}) FolderPaths_.insert(Path);
    for (const TFolderPlan& Folder : Folders) {
        FolderPaths_.insert(Folder.Path);
        Files_[Folder.Path + "/plugin.xml"] = Manifest(Folder);
        for (int K : Folder.Plugins) {
            const TPluginPlan& P = Plugins[static_cast<std::size_t>(K)];
            if (!P.HasLibrary) continue;
            Files_[Folder.Path + "/" + P.Library()] = "";
            Libraries_[Folder.Path + "/" + P.Library()] = static_cast<std::size_t>(K);
        }
    }
    Files_["/fz/engine.xml"] = "<Engine Path=\"/fz/plugins\"/>";
}

TWorld::~TWorld() { GWorld = nullptr; }

std::string TWorld::Manifest(const TFolderPlan& Folder) const {
    if (Folder.Broken == 2) return "<Plugins><Plugin ID=\"p0\"";
    std::string Xml = "<Plugins>\n";
    for (std::size_t I = 0; I < Folder.Plugins.size(); ++I) {
        const TPluginPlan& P = Plugins[static_cast<std::size_t>(Folder.Plugins[I])];
        Xml += " <Plugin ID=\"" + P.ID + "\" Name=\"" + P.Name + "\" Initialize=\"" +
               (P.Initialize ? "true" : "false") + "\"" + (P.HasLibrary ? " Library=\"" + P.Library() + "\"" : "") +
               ">\n";
        for (std::size_t E = 0; E < P.Named.size(); ++E)
            Xml += "  <Extension ID=\"e" + std::to_string(E) + "\" Points=\"" + P.NamedText[E] +
                   "\" FactoryMethod=\"F" + std::to_string(E) + "\"/>\n";
        if (Folder.Broken == 1 && I + 1 == Folder.Plugins.size()) Xml += "  <Extension ID=\"nopoints\"/>\n";
        for (int X = 0; X < P.Points; ++X) Xml += "  <ExtensionPoint ID=\"x" + std::to_string(X) + "\"/>\n";
        Xml += " </Plugin>\n";
    }
    return Xml + "</Plugins>\n";
}

std::string TWorld::FolderArg(uint8_t B) const {
    const std::size_t V = B % (Folders.size() + 2);
    if (V < Folders.size()) return Folders[V].Path;
    return V == Folders.size() ? "/fz/plugins" : "/fz";
}

std::vector<int> TWorld::FoldersUnder(const std::string& Path) const {
    std::vector<int> Result;
    for (std::size_t F = 0; F < Folders.size(); ++F)
        if (StartsWith(Folders[F].Path + "/", Path + "/")) Result.push_back(static_cast<int>(F));
    std::sort(Result.begin(), Result.end(), [this](int A, int B) {
        return Folders[static_cast<std::size_t>(A)].Path < Folders[static_cast<std::size_t>(B)].Path;
    });
    return Result;
}

TPluginPlan* TWorld::PluginOfLibrary(const std::string& Path) {
    auto It = Libraries_.find(Path);
    return It == Libraries_.end() ? nullptr : &Plugins[It->second];
}

TLibraryHandle TWorld::OpenLibrary(const std::string& Path, std::string& Error) {
    auto It = Libraries_.find(Path);
    if (It == Libraries_.end()) {
        Error = "no such library in the tree";
        return nullptr;
    }
    ++LibrariesOpen;
    return new TFakeLibrary{It->second};
}

void* TWorld::FindSymbol(TLibraryHandle Handle, const std::string& Name) {
    const TPluginPlan& P = Plugins[static_cast<TFakeLibrary*>(Handle)->Plugin];
    if (Name == "GetPluginImpl") return reinterpret_cast<void*>(&FakeGetPluginImpl);
    for (std::size_t E = 0; E < P.Named.size(); ++E)
        if (Name == "F" + std::to_string(E)) return reinterpret_cast<void*>(&FakeFactory);
    return nullptr;
}

void TWorld::CloseLibrary(TLibraryHandle Handle) {
    --LibrariesOpen;
    delete static_cast<TFakeLibrary*>(Handle);
}

bool TWorld::FolderExists(const std::string& Path) { return FolderPaths_.count(WithoutTrailingSlash(Path)) != 0; }

bool TWorld::FileIdentity(const std::string& Path, TFileIdentity& Identity) {
    if (!FileExists(Path) && !FolderExists(Path)) return false;
    Identity.Volume = 1;
    Identity.Index = std::hash<std::string>()(WithoutTrailingSlash(Path));
    return true;
}

int64_t TWorld::FileSize(const std::string& Path) {
    auto It = Files_.find(Path);
    return It == Files_.end() ? -1 : static_cast<int64_t>(It->second.size());
}

TReadResult TWorld::ReadFile(const std::string& Path, int64_t MaxSize, std::string& Bytes, int64_t& Size,
                             std::string& Error) {
    auto It = Files_.find(Path);
    if (It == Files_.end()) {
        Error = "no such file in the tree";
        return TReadResult::CannotOpen;
    }
    Size = static_cast<int64_t>(It->second.size());
    if (Size > MaxSize) return TReadResult::TooLarge;
    Bytes = It->second;
    return TReadResult::Ok;
}

namespace {
// A file of the tree, known as FileIdentity knows it.
class TWorldEntry : public TEntryIdentity {
public:
    explicit TWorldEntry(uint64_t Index) : Index_(Index) {}
    bool Get(TFileIdentity& Identity) const override {
        Identity.Volume = 1;
        Identity.Index = Index_;
        return true;
    }

private:
    uint64_t Index_;
};
}  // namespace

void TWorld::WalkFolderTree(const std::string& Root, TFolderWalker& Walker) {
    // Full paths in byte order are the walk's order here: names hold no character below "/".
    for (const auto& File : Files_) {
        if (!StartsWith(File.first, Root)) continue;
        const std::size_t Slash = File.first.rfind('/');
        Walker.File(File.first.substr(0, Slash + 1), File.first.substr(Slash + 1),
                    TWorldEntry(std::hash<std::string>()(File.first)));
    }
}

}  // namespace orv::fuzz
