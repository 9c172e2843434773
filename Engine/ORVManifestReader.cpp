// The manifest reader: turns one discovered plugin.xml into descriptors, extensions and
// extension points in a registry's descriptor collection.
#include "Engine/ORVEngineImpl.h"

#include "Common/ORVCommon.h"
#include "Common/ORVException.h"
#include "Common/Platform.h"
#include "Companion/TarnXMLUtils.h"
#include "Engine/ORVChecks.h"
#include "Engine/ORVCollections.h"
#include "Engine/ORVDescriptor.h"
#include "Engine/ORVExtension.h"
#include "Engine/ORVExtensionPoint.h"

namespace orv {

namespace {

// Calls Visit for each child element of Element whose name is Name (ASCII case ignored), in order.
template <class F>
void ForEachChildNamed(const Ref<IXMLNode>& Element, const char* Name, F&& Visit) {
    const Ref<IXMLNodeList> Children = Element->GetChildNodes();
    const int32_t Count = Children->GetCount();
    for (int32_t I = 0; I < Count; ++I) {
        const Ref<IXMLNode> Child = Children->GetItem(I);
        if (SameTextAscii(Child->GetNodeName(), Name)) Visit(Child);
    }
}

bool IsControlOrBlank(char C) { return static_cast<unsigned char>(C) <= 32; }

// Text without leading and trailing characters of codes 0 to 32.
std::string TrimBlanks(const std::string& Text) {
    std::size_t First = 0, Last = Text.size();
    while (First < Last && IsControlOrBlank(Text[First])) ++First;
    while (Last > First && IsControlOrBlank(Text[Last - 1])) --Last;
    return Text.substr(First, Last - First);
}

// The part of a dotted id after its last ".": an extension's or a point's own id.
std::string LocalPart(const std::string& ID) { return TStringUtils::SplitAtLast(ID, ".").Tail; }

// A finding of Rule about Element (its place in the file; none for nil) of the manifest FileName.
TFinding At(const Ref<IXMLNode>& Element, const std::string& FileName, const char* Rule, TSeverity Severity,
            TEngineReaction Reaction) {
    TFinding F;
    F.Severity = Severity;
    F.Reaction = Reaction;
    F.Rule = Rule;
    F.File = FileName;
    if (Element) XMLNodePosition(Element.Get(), F.Line, F.Column);
    return F;
}

}  // namespace

void TORVEngine::ReadPluginConfig(const Ref<IORVRegistry>& Registry, const TEngineConfigEx& EngineConfig,
                                  const TPluginConfig& PluginConfig, const TPathParser& Parser,
                                  TORVDescriptors* Target, TChecks* Checks) {
    Assert(static_cast<bool>(Registry), AssertSites::ReadPluginConfig);
    TChecks& Findings = Checks ? *Checks : EngineChecks();
    const std::string& FileName = PluginConfig.FileName;
    if (!PluginConfig.Document) {
        Log::WarnFmt(SPluginDocumentEmpty, {FileName});
        return;
    }
    const Ref<IXMLNode> Root = PluginConfig.Document->GetDocumentElement();
    if (!Root) {
        TFinding F = At(nullptr, FileName, Rules::NoRootElement, TSeverity::Error, TEngineReaction::Log);
        F.Entry = SInvalidConfigFile;
        F.Args = {FileName};
        Findings.Report(F);
        return;
    }

    // Either a Plugins root listing the plug-ins, or a single plug-in as the root itself.
    Ref<IXMLNode> Element = Root;
    if (SameTextAscii(Root->GetNodeName(), "Plugins")) {
        const Ref<IXMLNodeList> Children = Root->GetChildNodes();
        if (Children->GetCount() == 0) return;
        Element = Children->GetItem(0);
    }

    for (; Element; Element = Element->GetNextSibling()) {
        const std::string ElementName = Element->GetNodeName();
        if (!SameTextAscii(ElementName, "Plugin")) {
            TFinding F = At(Element, FileName, Rules::InvalidNode, TSeverity::Error, TEngineReaction::Log);
            F.Entry = SInvalidPluginNode;
            F.Args = {FileName, ElementName};
            Findings.Report(F);
            continue;
        }
        const std::string ID = Element->GetAttribute("ID");
        if (!IsPluginAllowed(ID, EngineConfig.ShieldedPlugins)) {
            TFinding F = At(Element, FileName, Rules::ShieldedPlugin, TSeverity::Note, TEngineReaction::Silent);
            F.PluginID = ID;
            F.Text = "Plug-in [" + ID + "] is shielded by the engine configuration and left out";
            Findings.Report(F);
            continue;
        }

        // Only a complete descriptor enters the registry; a half-read one dies with this scope.
        Ref<TORVDescriptor> Descriptor(new TORVDescriptor());
        Descriptor->SetRegistry(Registry.Get());
        try {
            ReadPlugin(Element, *Descriptor, FileName, EngineConfig, Parser, Findings);
            ReadExtensions(Element, *Descriptor, &Descriptor->OwnExtensions(), Findings);
            ReadExtensionPoints(Element, *Descriptor, &Descriptor->OwnExtensionPoints());
            TORVDescriptors* Into = Target ? Target : TConverter::ToDescriptors(Registry->GetDescriptors());
            Into->Add(Ref<IORVDescriptor>(Descriptor));
        } catch (const TPluginSkipped&) {
            // A collecting check took the finding; the next plug-in follows.
        } catch (...) {
            if (!Findings.Collecting()) {
                Log::ErrorFmt(SCannotParseFile, {FileName, CurrentExceptionMessage()});
                throw;
            }
            TFinding F = At(Element, FileName, Rules::ManifestError, TSeverity::Error, TEngineReaction::Raise);
            F.PluginID = ID;
            F.Entry = SCannotParseFile;
            F.Args = {FileName, CurrentExceptionMessage()};
            Findings.Report(F);
        }
    }
}

void TORVEngine::ReadPlugin(const Ref<IXMLNode>& Element, TORVDescriptor& Descriptor, const std::string& FileName,
                            const TEngineConfigEx& EngineConfig, const TPathParser& Parser, TChecks& Findings) {
    const std::string ID = Element->GetAttribute("ID");
    if (ID.empty()) {
        TFinding F = At(Element, FileName, Rules::MissingAttribute, TSeverity::Error, TEngineReaction::Raise);
        F.Entry = SPluginWithoutID;
        F.Args = {FileName};
        Findings.Report(F);
        throw TPluginSkipped();
    }

    int32_t Line, Column;
    XMLNodePosition(Element.Get(), Line, Column);
    Descriptor.SetPosition(Line, Column);
    Descriptor.SetID(ID);
    Descriptor.SetName(Element->GetAttribute("Name"));
    Descriptor.SetLocation(TPathUtils::ExtractFilePath(FileName));
    Descriptor.SetConfigFile(FileName);
    Descriptor.SetVersion(Element->GetAttribute("Version"));
    Descriptor.SetProvider(Element->GetAttribute("Provider"));
    Descriptor.SetInitialize(Element->GetAttributes()->GetNamedItem("Initialize")->GetBool());
    Descriptor.SetLibrary(TrimBlanks(Element->GetAttribute("Library")));

    if (Descriptor.GetLibrary().empty()) {
        Log::WarnFmt(SPluginWithoutDll, {ID, FileName});
        return;
    }
    TStringDynArray Searched;
    ResolveLibrary(Descriptor, EngineConfig.DllPath, Parser, Searched);
    // A name that resolution did not make absolute found nothing, whatever the current folder holds.
    if (TPathUtils::IsAbsolutePath(Descriptor.GetLibrary()) && Platform().FileExists(Descriptor.GetLibrary())) {
        Log::InfoFmt(SPluginBoundToDll, {ID, Descriptor.GetLibrary()});
        return;
    }
    // Only a warning now; loading the plug-in reports it as an error.
    TFinding F = At(Element, FileName, Rules::MissingLibrary, TSeverity::Warning, TEngineReaction::Log);
    F.PluginID = ID;
    F.Entry = SDllNotFound;
    F.Args = {ID, Descriptor.GetLocation(), Descriptor.GetLibrary()};
    F.Related = std::move(Searched);
    Findings.Report(F);
}

void TORVEngine::ResolveLibrary(TORVDescriptor& Descriptor, const TStringDynArray& DllPath, const TPathParser& Parser,
                                TStringDynArray& Searched) {
    const std::string Library = Descriptor.GetLibrary();
    auto TryCandidate = [&](const std::string& Candidate) {
        Searched.push_back(Candidate);
        if (!Platform().FileExists(Candidate)) return false;
        Descriptor.SetLibrary(Candidate);
        return true;
    };

    // An absolute name stands for itself: joined to a folder it would name some other file.
    if (TPathUtils::IsAbsolutePath(Library)) {
        TryCandidate(Library);
        return;
    }
    if (TryCandidate(TPathUtils::CombinePath(Descriptor.GetLocation(), Library))) return;
    for (const std::string& Folder : DllPath)
        if (TryCandidate(TPathUtils::CombinePath(Folder, Library))) return;
    const std::string Expanded = Parser.Replace(Library);
    if (TPathUtils::IsAbsolutePath(Expanded)) TryCandidate(Expanded);
}

void TORVEngine::ReadExtensions(const Ref<IXMLNode>& Element, TORVDescriptor& Descriptor, TORVExtensions* Extensions,
                                TChecks& Findings) {
    TExceptionBuilder::CheckNotNil(Extensions);
    ForEachChildNamed(Element, "Extension", [&](const Ref<IXMLNode>& Child) {
        Ref<TORVExtension> Extension(new TORVExtension());
        Extension->SetDescriptor(&Descriptor);
        Extension->SetLocalID(LocalPart(Child->GetAttribute("ID")));
        if (!Extension->TrySetPoints(Child->GetAttribute("Points"))) {
            TFinding F = At(Child, Descriptor.GetConfigFile(), Rules::MissingAttribute, TSeverity::Error,
                            TEngineReaction::Raise);
            F.PluginID = Descriptor.GetID();
            F.Subject = Extension->GetID();
            F.Entry = SExtensionWithoutPoints;
            F.Args = {F.Subject};
            Findings.Report(F);
            throw TPluginSkipped();
        }
        const std::string FactoryMethod = Child->GetAttribute("FactoryMethod");
        Extension->SetFactoryMethod(FactoryMethod.empty() ? DefaultFactoryMethod : FactoryMethod);
        Extension->SetName(Child->GetAttribute("Name"));
        Extension->SetConfig(Child);
        Extensions->Add(Ref<IORVExtension>(Extension));
    });
}

void TORVEngine::ReadExtensionPoints(const Ref<IXMLNode>& Element, TORVDescriptor& Descriptor,
                                     TORVExtensionPoints* ExtensionPoints) {
    TExceptionBuilder::CheckNotNil(ExtensionPoints);
    ForEachChildNamed(Element, "ExtensionPoint", [&](const Ref<IXMLNode>& Child) {
        Ref<TORVExtensionPoint> Point(new TORVExtensionPoint());
        Point->SetDescriptor(&Descriptor);
        int32_t Line, Column;
        XMLNodePosition(Child.Get(), Line, Column);
        Point->SetPosition(Line, Column);
        const Ref<IXMLAttributes> Attributes = Child->GetAttributes();
        Point->SetRequired(Attributes->GetNamedItem("Required")->GetBool());
        Point->SetUnique(Attributes->GetNamedItem("Unique")->GetBool());
        Point->SetLocalID(LocalPart(Child->GetAttribute("ID")));
        Point->SetName(Child->GetAttribute("Name"));
        ExtensionPoints->Add(Ref<IORVExtensionPoint>(Point));
    });
}

}  // namespace orv
