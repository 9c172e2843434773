// TORVExtension: one contribution of a plug-in to one or more extension points, with the name of
// the library export that creates its object.
#ifndef ORV_EXTENSION_H
#define ORV_EXTENSION_H

#include "Engine/ORVAdatable.h"
#include "Engine/ORVCollections.h"
#include "Engine/ORVExtensionPoint.h"
#include "Engine/ORVKeptText.h"
#include "Engine/ORVRegistry.h"

#include <algorithm>

#include <string>
#include <utility>
#include <vector>

namespace orv {

class TChecks;
class TORVExtensionPoint;

// The factory export looked up when a manifest names none; the manifest reader applies it.
constexpr const char* DefaultFactoryMethod = "GetExtensionImpl";

// What becomes of a named point that the registry lacks: a finding (the first linking), a Warn
// line (linking again: the point has gone with its plug-in), or nothing (a question asked later).
enum class TMissingPoint { Report, Warn, Pass };

// Filled by the manifest reader: create it with its local id, call SetDescriptor (before
// SetPoints, whose message names the qualified id), SetPoints, set the factory method, name and
// element, and add it to the descriptor's extension collection.
class TORVExtension : public TAdatableObject<IORVExtension> {
public:
    // An extension with LocalID and everything else empty (no descriptor, no points, no factory).
    explicit TORVExtension(const std::string& LocalID = std::string());

    // --- IORVExtension ---
    // "<plug-in id>.<local id>"; EORVException "Condition is not valid" without a descriptor.
    std::string ORV_CALL GetID() override;
    std::string ORV_CALL GetName() override { return Name_.Str(); }
    // The manifest's Extension element (a new reference to the same node object on every call),
    // nil when none was set.
    Ref<IXMLNode> ORV_CALL GetConfig() override;
    // The declaring plug-in (a new reference); EORVException "Condition is not valid" when none is set.
    Ref<IORVDescriptor> ORV_CALL GetDescriptor() override;
    // A new unhashed collection of the points named by SetPoints, each looked up as the registry's
    // union of points would give it (which needs a parsed registry); a point named twice is held
    // once. A name that the registry lacks is logged with Error and raised as EORVException,
    // unless the extension was linked before (the point has gone with its plug-in since: it is
    // left out); a plug-in without a registry raises "Condition is not valid".
    Ref<IORVExtensionPoints> ORV_CALL GetExtensionPoints() override;
    // The export named by the factory method in the plug-in's library (loading and starting the
    // plug-in first when its library is not loaded); nullptr when the name is empty or the
    // library has no such export.
    TORVFactory ORV_CALL GetFactory() override;

    // --- fields written by the manifest reader ---
    // Stores the declaring plug-in without taking a reference; nil when the plug-in goes (then
    // every operation that needs it raises).
    void SetDescriptor(TORVDescriptor* Descriptor) { Descriptor_ = Descriptor; }
    // The declaring plug-in without a reference; nil when none is set.
    TORVDescriptor* GetDescriptorObject() const { return Descriptor_; }
    // Parses the manifest's comma list of point ids (blanks separate too, "..." quotes). Each
    // item is trimmed; one without a "." is a point of this extension's own plug-in and gets
    // the plug-in id and a "." in front. Text that names no point (empty, or blanks only) raises
    // EORVException (message 65531 with GetID) and leaves the points as they were.
    void SetPoints(const std::string& Text);
    // SetPoints without the exception: false, with the points unchanged, where it would raise.
    bool TrySetPoints(const std::string& Text);
    // The qualified point ids, in the order written.
    const TStringDynArray& GetPoints() const { return Points_; }
    // The id without the plug-in prefix.
    void SetLocalID(const std::string& Value) { LocalID_.Own(Value); }
    std::string GetLocalID() const { return LocalID_.Str(); }
    void SetName(const std::string& Value) { Name_.Own(Value); }
    // The name of the export that creates the extension's object (DefaultFactoryMethod when the
    // manifest names none: the reader puts it here).
    void SetFactoryMethod(const std::string& Value) { FactoryMethod_.Own(Value); }
    std::string GetFactoryMethod() const { return FactoryMethod_.Str(); }
    // The same three from texts that stay where they are as long as this extension holds the
    // document of SetConfigElement (or literals), not copied. Any of them may be nullptr: that
    // text is left as it was.
    void BorrowTexts(const char* LocalID, const char* Name, const char* FactoryMethod);
    // The same as element E of Document (which the engine's XML layer loaded), held through its
    // document: the node object is made when GetConfig asks for it. Texts borrowed from the
    // document held before become copies of the extension's own first.
    void SetConfigElement(const Ref<IXMLDocument>& Document, uint32_t E);
    // Where the manifest declares the extension (1-based line and column; 0 when unknown).
    void GetPosition(int32_t& Line, int32_t& Column) const;

    // --- links, made and undone by the registry ---
    // Appends to Found each point named in the points list that Registry has
    // (TORVRegistry::FindPoint), in the order named, each point once. A named point that is
    // missing is, as Missing says, a finding for Checks (the engine's reaction: an Error line and
    // EORVException, message 65530), a Warn line, or passed over. Whether every named point was
    // there.
    bool FindNamedPoints(TORVRegistry& Registry, TMissingPoint Missing, TChecks& Checks,
                         std::vector<TORVExtensionPoint*>& Found);
    // Whether GetID would give ID (nothing is built for the question); false without a descriptor.
    bool HasID(const std::string& ID) const;
    // This extension's side of a link to Point (TLinkBatch enters the point's side): whether the
    // link is new.
    bool RecordLink(TORVExtensionPoint& Point);
    // Leaves every point this extension is linked to.
    void UnlinkAll();
    // Forgets the link to Point, which lets go of this extension itself.
    void ForgetPoint(const TORVExtensionPoint* Point);
    // The points this extension is linked to, in linking order (uncounted: a point that goes
    // unlinks itself first).
    const std::vector<TORVExtensionPoint*>& GetLinkedPoints() const { return LinkedPoints_; }
    // Whether the registry has linked this extension once. From then on a named point that is
    // missing has gone with its plug-in: the extension stays, unlinked from it.
    bool WasLinked() const { return WasLinked_; }
    void SetLinked() { WasLinked_ = true; }

private:
    // Reports the named point PointID that the registry lacks (see FindNamedPoints).
    void MissingPoint(const std::string& PointID, TMissingPoint Missing, TChecks& Checks);

    Ref<IXMLNode> Config_;
    Ref<IXMLDocument> ConfigDocument_;
    uint32_t ConfigElement_ = 0;
    TORVDescriptor* Descriptor_ = nullptr;  // weak
    TKeptText LocalID_;
    TKeptText Name_;
    TKeptText FactoryMethod_;
    TStringDynArray Points_;
    std::vector<TORVExtensionPoint*> LinkedPoints_;  // weak: each point unlinks itself when it goes
    bool WasLinked_ = false;
};

}  // namespace orv

#endif
