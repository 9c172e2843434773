// TLinkBatch: links between extensions and points, entered in bulk.
#ifndef ORV_LINK_BATCH_H
#define ORV_LINK_BATCH_H

#include <cstdint>
#include <utility>
#include <vector>

namespace orv {

class TORVExtension;
class TORVExtensionPoint;

// The extension's side of each link is recorded when the link is added; the points' side waits for
// Enter, which takes the links point by point (each point's in the order they were added), so that
// a point and its collection are visited once rather than once per link. What the points end up
// holding is what linking one extension after the other gives.
class TLinkBatch {
public:
    TLinkBatch() = default;
    TLinkBatch(const TLinkBatch&) = delete;
    TLinkBatch& operator=(const TLinkBatch&) = delete;

    // Links Extension to each of Points (distinct points). A link made before stays as it is, its
    // key included, so that linking anew changes nothing that a failed load would have to restore.
    void Add(TORVExtension& Extension, const std::vector<TORVExtensionPoint*>& Points);
    // One link: the point and the extension.
    using TMade = std::pair<TORVExtensionPoint*, TORVExtension*>;

    // Enters the points' side of every link added, and forgets them; each link entered is appended
    // to Made when given. Should that fail, the links not entered are taken back from their
    // extensions before the failure travels on.
    void Enter(std::vector<TMade>* Made = nullptr);

private:
    struct TLink {
        TORVExtensionPoint* Point;
        TORVExtension* Extension;
        uint32_t Code;  // of the extension's id (see TORVCollection::CodeOf)
    };
    std::vector<TLink> Links_;
};

}  // namespace orv

#endif
