#include "Engine/ORVLinkBatch.h"

#include "Engine/ORVCollections.h"
#include "Engine/ORVExtension.h"
#include "Engine/ORVExtensionPoint.h"
#include "Engine/ORVRegistry.h"

#include <algorithm>
#include <functional>
#include <string>

namespace orv {

void TLinkBatch::Add(TORVExtension& Extension, const std::vector<TORVExtensionPoint*>& Points) {
    if (Points.empty()) return;
    const uint32_t Code = TORVExtensions::CodeOf(Extension.GetID());
    for (TORVExtensionPoint* Point : Points)
        if (Extension.RecordLink(*Point)) Links_.push_back(TLink{Point, &Extension, Code});
}

void TLinkBatch::Enter(std::vector<TMade>* Made) {
    std::stable_sort(Links_.begin(), Links_.end(),
                     [](const TLink& A, const TLink& B) { return std::less<TORVExtensionPoint*>()(A.Point, B.Point); });
    std::size_t I = 0;
    try {
        while (I < Links_.size()) {
            TORVExtensions& Linked = Links_[I].Point->LinkedExtensions();
            std::size_t End = I;
            while (End < Links_.size() && Links_[End].Point == Links_[I].Point) ++End;
            Linked.Grow(End - I);
            for (; I < End; ++I) {
                Linked.AppendNew(Links_[I].Extension, Links_[I].Code);
                if (Made) Made->emplace_back(Links_[I].Point, Links_[I].Extension);
                TORVRegistry::LinkChanged(*Links_[I].Point, *Links_[I].Extension, true);
            }
        }
    } catch (...) {
        for (; I < Links_.size(); ++I) Links_[I].Extension->ForgetPoint(Links_[I].Point);
        Links_.clear();
        throw;
    }
    Links_.clear();
}

}  // namespace orv
