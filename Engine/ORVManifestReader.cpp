// The manifest reader: turns one discovered plugin.xml into descriptors, extensions and
// extension points in a registry's descriptor collection.
#include "Engine/ORVEngineImpl.h"

#include "Common/ORVCommon.h"
#include "Common/ORVException.h"
#include "Common/Platform.h"
#include "Companion/TarnXMLTree.h"
#include "Companion/TarnXMLUtils.h"
#include "Engine/ORVChecks.h"
#include "Engine/ORVCollections.h"
#include "Engine/ORVDescriptor.h"
#include "Engine/ORVExtension.h"
#include "Engine/ORVExtensionPoint.h"
#include "Engine/ORVRegistry.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

namespace orv {

namespace {

// The part of a dotted id after its last ".": an extension's or a point's own id.
std::string LocalPart(const std::string& ID) {
    const std::size_t Dot = ID.rfind('.');
    return Dot == std::string::npos ? ID : ID.substr(Dot + 1);
}
const char* LocalPart(const char* ID) {
    const char* Dot = std::strrchr(ID, '.');
    return Dot ? Dot + 1 : ID;
}

// Every attribute the reader takes from a manifest element. Reading names them only through
// TAttribute, and a document of another module's XML layer is copied with all of them: an
// attribute added here is both read and copied.
#define ORV_MANIFEST_ATTRIBUTES(X) \
    X(ID) X(Name) X(Version) X(Provider) X(Initialize) X(Library) X(Points) X(FactoryMethod) X(Required) X(Unique)

enum class TAttribute {
#define ORV_ATTRIBUTE_ENUM(Name) Name,
    ORV_MANIFEST_ATTRIBUTES(ORV_ATTRIBUTE_ENUM)
#undef ORV_ATTRIBUTE_ENUM
};

// The attributes' names, in the order of TAttribute.
const std::vector<const char*>& AttributeNames() {
#define ORV_ATTRIBUTE_NAME(Name) #Name,
    static const std::vector<const char*> Names{ORV_MANIFEST_ATTRIBUTES(ORV_ATTRIBUTE_NAME)};
#undef ORV_ATTRIBUTE_NAME
    return Names;
}

const char* NameOf(TAttribute A) { return AttributeNames()[static_cast<std::size_t>(A)]; }

}  // namespace

struct TManifest;

namespace {

// Where ResolveLibrary looks first, beside the manifest, answered by the listing that discovery
// made of the manifest's folder instead of another look at the file by its full path. Only a
// library the listing holds under the very name the manifest gives (no folder part) is answered
// so; every other one, and every plug-in whose folder discovery did not list, goes through
// ResolveLibrary. Parse of scripts/bench's 10,000 plug-ins (orv-bench, turn about, median of 11):
// a stat a plug-in less, 11 system calls down to 10, 117 to 108 us a plug-in (-7%; -8% in a second
// series).
bool LibraryBeside(const TManifest& Manifest, TORVDescriptor& Descriptor);

}  // namespace

// A manifest's tree with the engine's reading of names and values.
struct TManifest {
    const TXMLTree& Tree;
    const std::string& FileName;
    // The regular files of the manifest's folder as discovery listed them; nil when unknown.
    const TFileNames* FilesBeside;

    // The attribute's text in the engine's encoding, empty when absent.
    std::string Text(uint32_t E, TAttribute A) const {
        const char* Value = Tree.Attribute(E, NameOf(A));
        if (!Value) return std::string();
        if (!Tree.IsNative())
            for (const char* C = Value; *C; ++C)
                if (static_cast<unsigned char>(*C) >= 0x80) return Platform().Utf8ToNative(Value);
        return std::string(Value);  // ASCII reads the same in every encoding
    }
    // The attribute's text where the tree holds it in the engine's encoding ("" when absent), to
    // be borrowed by an object that holds the document; nullptr when only Text gives it.
    const char* Kept(uint32_t E, TAttribute A) const {
        const char* Value = Tree.Attribute(E, NameOf(A));
        if (!Value) return "";
        if (!Tree.IsNative())
            for (const char* C = Value; *C; ++C)
                if (static_cast<unsigned char>(*C) >= 0x80) return nullptr;
        return Value;
    }
    bool Bool(uint32_t E, TAttribute A) const {
        const char* Value = Tree.Attribute(E, NameOf(A));
        return Value && XMLTextToBool(Value);
    }
    bool Named(uint32_t E, const char* Name) const { return SameTextAscii(Tree.Name(E), Name); }
    // A finding of Rule about element E (its place in the file; none for TXMLTree::None).
    TFinding At(uint32_t E, const TRule& Rule, TEngineReaction Reaction) const {
        TFinding F(Rule);
        F.Reaction = Reaction;
        F.File = FileName;
        if (E != TXMLTree::None) Tree.Position(E, F.Line, F.Column);
        return F;
    }
};

namespace {

bool LibraryBeside(const TManifest& Manifest, TORVDescriptor& Descriptor) {
    if (!Manifest.FilesBeside) return false;
    const std::string Library = Descriptor.GetLibrary();
    if (Library.empty() || TPathUtils::IsAbsolutePath(Library)) return false;
    for (char C : Library)
        if (TPathRules::EndsFolderPart(C)) return false;
    if (!std::binary_search(Manifest.FilesBeside->begin(), Manifest.FilesBeside->end(), Library)) return false;
    Descriptor.SetLibrary(TPathUtils::CombinePath(Descriptor.GetLocation(), Library));
    return true;
}

}  // namespace

void TORVEngine::ReadPluginConfig(const Ref<TORVRegistry>& Registry, const TEngineConfigEx& EngineConfig,
                                  const TPluginConfig& PluginConfig, const TPathParser& Parser,
                                  TORVDescriptors* Target, TChecks* Checks) {
    Assert(static_cast<bool>(Registry), AssertSites::ReadPluginConfig);
    TChecks& Findings = Checks ? *Checks : EngineChecks();
    const std::string& FileName = PluginConfig.FileName;
    if (!PluginConfig.Document) {
        Log::WarnFmt(SPluginDocumentEmpty, {FileName});
        return;
    }
    // A document of another module's XML layer is read through a copy of what the reader asks of it.
    Ref<IXMLDocument> Document = PluginConfig.Document;
    const TXMLTree* Tree = XMLTreeOf(Document.Get());
    if (!Tree) {
        Document = XMLDocumentCopy(Document.Get(), AttributeNames());
        Tree = XMLTreeOf(Document.Get());
    }
    const std::shared_ptr<const TFileNames> FilesBeside = XMLTakeFilesBeside(PluginConfig.Document.Get());
    const TManifest Manifest{*Tree, FileName, FilesBeside.get()};
    const uint32_t Root = Tree->Root();
    if (Root == TXMLTree::None) {
        TFinding F = Manifest.At(Root, Rules::NoRootElement, TEngineReaction::Log);
        F.Entry = SInvalidConfigFile;
        F.Args = {FileName};
        Findings.Report(F);
        return;
    }

    // Either a Plugins root listing the plug-ins, or a single plug-in as the root itself.
    uint32_t Element = Root;
    if (Manifest.Named(Root, "Plugins")) {
        if (Tree->ChildCount(Root) == 0) return;
        Element = Tree->Child(Root, 0);
    }

    for (; Element != TXMLTree::None; Element = Tree->Next(Element)) {
        if (!Manifest.Named(Element, "Plugin")) {
            TFinding F = Manifest.At(Element, Rules::InvalidNode, TEngineReaction::Log);
            F.Entry = SInvalidPluginNode;
            F.Args = {FileName, Tree->IsNative() ? std::string(Tree->Name(Element)) : Platform().Utf8ToNative(Tree->Name(Element))};
            Findings.Report(F);
            continue;
        }
        const std::string ID = Manifest.Text(Element, TAttribute::ID);
        if (!IsPluginAllowed(ID, EngineConfig.ShieldedPlugins)) {
            TFinding F = Manifest.At(Element, Rules::ShieldedPlugin, TEngineReaction::Silent);
            F.PluginID = ID;
            F.Text = "Plug-in [" + ID + "] is shielded by the engine configuration and left out";
            Findings.Report(F);
            continue;
        }

        // Only a complete descriptor enters the registry; a half-read one dies with this scope.
        Ref<TORVDescriptor> Descriptor(new TORVDescriptor());
        Descriptor->SetRegistry(Registry.Get());
        try {
            ReadPlugin(Manifest, Element, *Descriptor, EngineConfig, Parser, Findings);
            ReadExtensions(Manifest, Document, Element, *Descriptor, &Descriptor->OwnExtensions(), Findings);
            ReadExtensionPoints(Manifest, Element, *Descriptor, &Descriptor->OwnExtensionPoints());
            TORVDescriptors& Into = Target ? *Target : Registry->OwnDescriptors();
            Into.Add(Descriptor.Get());
        } catch (const TPluginSkipped&) {
            // A collecting check took the finding; the next plug-in follows.
        } catch (...) {
            if (!Findings.Collecting()) {
                Log::ErrorFmt(SCannotParseFile, {FileName, CurrentExceptionMessage()});
                throw;
            }
            TFinding F = Manifest.At(Element, Rules::ManifestError, TEngineReaction::Raise);
            F.PluginID = ID;
            F.Entry = SCannotParseFile;
            F.Args = {FileName, CurrentExceptionMessage()};
            Findings.Report(F);
        }
    }
}

void TORVEngine::ReadPlugin(const TManifest& Manifest, uint32_t Element, TORVDescriptor& Descriptor,
                            const TEngineConfigEx& EngineConfig, const TPathParser& Parser, TChecks& Findings) {
    const std::string& FileName = Manifest.FileName;
    const std::string ID = Manifest.Text(Element, TAttribute::ID);
    if (ID.empty()) {
        TFinding F = Manifest.At(Element, Rules::MissingAttribute, TEngineReaction::Raise);
        F.Entry = SPluginWithoutID;
        F.Args = {FileName};
        Findings.Report(F);
        throw TPluginSkipped();
    }

    int32_t Line, Column;
    Manifest.Tree.Position(Element, Line, Column);
    Descriptor.SetPosition(Line, Column);
    Descriptor.SetID(ID);
    Descriptor.SetName(Manifest.Text(Element, TAttribute::Name));
    // One kind of separator, whatever the configuration's paths and discovery joined.
    Descriptor.SetLocation(TPathUtils::NativeSeparators(TPathUtils::ExtractFilePath(FileName)));
    Descriptor.SetConfigFile(FileName);
    Descriptor.SetVersion(Manifest.Text(Element, TAttribute::Version));
    Descriptor.SetProvider(Manifest.Text(Element, TAttribute::Provider));
    Descriptor.SetInitialize(Manifest.Bool(Element, TAttribute::Initialize));
    Descriptor.SetLibrary(Trim(Manifest.Text(Element, TAttribute::Library)));

    if (Descriptor.GetLibrary().empty()) {
        Log::WarnFmt(SPluginWithoutDll, {ID, FileName});
        return;
    }
    TStringDynArray Searched;
    if (LibraryBeside(Manifest, Descriptor) || ResolveLibrary(Descriptor, EngineConfig.DllPath, Parser, Searched)) {
        Log::InfoFmt(SPluginBoundToDll, {ID, Descriptor.GetLibrary()});
        return;
    }
    // Only a warning now; loading the plug-in reports it as an error.
    TFinding F = Manifest.At(Element, Rules::MissingLibrary, TEngineReaction::Log);
    F.PluginID = ID;
    F.Entry = SDllNotFound;
    F.Args = {ID, Descriptor.GetLocation(), Descriptor.GetLibrary()};
    F.Related = std::move(Searched);
    Findings.Report(F);
}

bool TORVEngine::ResolveLibrary(TORVDescriptor& Descriptor, const TStringDynArray& DllPath, const TPathParser& Parser,
                                TStringDynArray& Searched) {
    const std::string Library = Descriptor.GetLibrary();
    auto TryCandidate = [&](const std::string& Candidate) {
        Searched.push_back(Candidate);
        if (!Platform().FileExists(Candidate)) return false;
        Descriptor.SetLibrary(Candidate);
        return true;
    };

    // An absolute name stands for itself: joined to a folder it would name some other file.
    if (TPathUtils::IsAbsolutePath(Library)) return TryCandidate(Library);
    if (TryCandidate(TPathUtils::CombinePath(Descriptor.GetLocation(), Library))) return true;
    for (const std::string& Folder : DllPath)
        if (TryCandidate(TPathUtils::CombinePath(Folder, Library))) return true;
    // A name that resolution does not make absolute finds nothing, whatever the current folder holds.
    const std::string Expanded = Parser.Replace(Library);
    return TPathUtils::IsAbsolutePath(Expanded) && TryCandidate(Expanded);
}

void TORVEngine::ReadExtensions(const TManifest& Manifest, const Ref<IXMLDocument>& Document, uint32_t Element,
                                TORVDescriptor& Descriptor, TORVExtensions* Extensions, TChecks& Findings) {
    TExceptionBuilder::CheckNotNil(Extensions);
    const TXMLTree& Tree = Manifest.Tree;
    for (uint32_t I = 0; I < Tree.ChildCount(Element); ++I) {
        const uint32_t Child = Tree.Child(Element, I);
        if (!Manifest.Named(Child, "Extension")) continue;
        Ref<TORVExtension> Extension(new TORVExtension());
        Extension->SetDescriptor(&Descriptor);
        // The element is made an interface object only when someone asks for it. The extension
        // holds the document, so its texts stay where the tree has them.
        Extension->SetConfigElement(Document, Child);
        if (const char* ID = Manifest.Kept(Child, TAttribute::ID))
            Extension->BorrowTexts(LocalPart(ID), nullptr, nullptr);
        else
            Extension->SetLocalID(LocalPart(Manifest.Text(Child, TAttribute::ID)));
        if (!Extension->TrySetPoints(Manifest.Text(Child, TAttribute::Points))) {
            TFinding F = Manifest.At(Child, Rules::MissingAttribute, TEngineReaction::Raise);
            F.PluginID = Descriptor.GetID();
            F.Subject = Extension->GetID();
            F.Entry = SExtensionWithoutPoints;
            F.Args = {F.Subject};
            Findings.Report(F);
            throw TPluginSkipped();
        }
        if (const char* FactoryMethod = Manifest.Kept(Child, TAttribute::FactoryMethod))
            Extension->BorrowTexts(nullptr, nullptr, *FactoryMethod ? FactoryMethod : DefaultFactoryMethod);
        else
            Extension->SetFactoryMethod(Manifest.Text(Child, TAttribute::FactoryMethod));
        if (const char* Name = Manifest.Kept(Child, TAttribute::Name))
            Extension->BorrowTexts(nullptr, Name, nullptr);
        else
            Extension->SetName(Manifest.Text(Child, TAttribute::Name));
        Extensions->Add(Extension.Get());
    }
}

void TORVEngine::ReadExtensionPoints(const TManifest& Manifest, uint32_t Element, TORVDescriptor& Descriptor,
                                     TORVExtensionPoints* ExtensionPoints) {
    TExceptionBuilder::CheckNotNil(ExtensionPoints);
    const TXMLTree& Tree = Manifest.Tree;
    for (uint32_t I = 0; I < Tree.ChildCount(Element); ++I) {
        const uint32_t Child = Tree.Child(Element, I);
        if (!Manifest.Named(Child, "ExtensionPoint")) continue;
        Ref<TORVExtensionPoint> Point(new TORVExtensionPoint());
        Point->SetDescriptor(&Descriptor);
        int32_t Line, Column;
        Tree.Position(Child, Line, Column);
        Point->SetPosition(Line, Column);
        Point->SetRequired(Manifest.Bool(Child, TAttribute::Required));
        Point->SetUnique(Manifest.Bool(Child, TAttribute::Unique));
        Point->SetLocalID(LocalPart(Manifest.Text(Child, TAttribute::ID)));
        Point->SetName(Manifest.Text(Child, TAttribute::Name));
        ExtensionPoints->Add(Point.Get());
    }
}

}  // namespace orv
