// Folder listings and the folder walk of the platform layer, on top of the system's primitives
// (Common/FolderAccess.h, implemented in the platform folders).
#include "FolderAccess.h"

#include <algorithm>
#include <memory>
#include <set>
#include <unordered_set>

namespace orv {

namespace {

void SortByName(std::vector<TFolderEntry>& Entries) {
    std::sort(Entries.begin(), Entries.end(),
              [](const TFolderEntry& A, const TFolderEntry& B) { return A.Name < B.Name; });
}

// One walk of WalkFolderTree. Each folder of the current branch is a frame holding its sorted
// entries and the name that led to it; the path of the deepest frame is one text that grows and
// shrinks with the branch, so that memory grows with the number of entries, not with the depth
// times the length of the path. A folder is opened relative to its parent's handle, so that the
// cost of opening does not grow with the depth and no path length limit applies. Only the deepest
// frames keep their handles open (at most OpenBudget); on the way back up, a closed parent is
// opened again as the parent of its open child, and only where that is not the folder entered
// before (a link led there), one level at a time from the nearest open ancestor.
class TTreeWalk {
public:
    TTreeWalk(const std::string& Root, TFolderWalker& Walker) : Walker_(Walker) {
        RootPath_ = Root.empty() || TPathRules::IsSeparator(Root.back()) ? Root : Root + TPathRules::Delimiter;
    }

    void Run() {
        std::string Error;
        const TFolderHandle Root = System_.Open(RootPath_, Error);
        if (Root == NoFolder) {
            Walker_.Unreadable(RootPath_, Error);
            return;
        }
        Path_ = RootPath_;
        if (!Enter(Root, std::string())) return;
        while (!Frames_.empty()) {
            TFrame& Frame = Frames_.back();
            if (Frame.Next == Frame.Entries.size()) {
                Leave();
                continue;
            }
            const std::size_t Index = Frame.Next++;
            if (!Frame.Entries[Index].IsFolder) {
                const TIdentityOfEntry Identity(*this, Frame.Entries[Index].Name);
                Walker_.File(Path_, Frame.Entries[Index].Name, Identity);
                continue;
            }
            std::string Name = Frame.Entries[Index].Name;
            const std::size_t Length = Path_.size();
            Path_ += Name;
            Path_ += TPathRules::Delimiter;
            if (!Reopen(Frames_.size() - 1)) {
                Walker_.Unreadable(Path_, "its parent folder cannot be opened again");
                Path_.resize(Length);
                Frames_.back().Next = Frames_.back().Entries.size();
                continue;
            }
            const TFolderHandle Child = System_.OpenIn(Frames_.back().Handle, Name, Path_, Error);
            if (Child == NoFolder) {
                Walker_.Unreadable(Path_, Error);
                Path_.resize(Length);
                continue;
            }
            if (!Enter(Child, std::move(Name))) Path_.resize(Length);
        }
    }

private:
    struct TFrame {
        TFolderHandle Handle;  // NoFolder while closed
        std::string Name;      // the entry of the parent that led here (empty for the root)
        TFileIdentity Identity;
        std::vector<TFolderEntry> Entries;
        std::size_t Next = 0;
        std::shared_ptr<const TFileNames> Files;  // its regular files, made when first asked for
    };

    // The identity of a file entry of the deepest frame, from its folder's handle.
    class TIdentityOfEntry : public TEntryIdentity {
    public:
        TIdentityOfEntry(TTreeWalk& Walk, const std::string& Name) : Walk_(Walk), Name_(Name) {}
        bool Get(TFileIdentity& Identity) const override {
            return Walk_.Reopen(Walk_.Frames_.size() - 1) &&
                   Walk_.System_.EntryIdentity(Walk_.Frames_.back().Handle, Walk_.Path_, Name_, Identity);
        }
        std::shared_ptr<const TFileNames> FilesBeside() const override {
            TFrame& Frame = Walk_.Frames_.back();
            if (!Frame.Files) {
                auto Files = std::make_shared<TFileNames>();
                for (const TFolderEntry& Entry : Frame.Entries)
                    if (!Entry.IsFolder) Files->push_back(Entry.Name);
                Frame.Files = std::move(Files);
            }
            return Frame.Files;
        }

    private:
        TTreeWalk& Walk_;
        const std::string& Name_;
    };

    // Takes the opened folder Folder (whose path Path_ is) as a new frame, unless it must not be
    // entered (Folder is closed then).
    bool Enter(TFolderHandle Folder, std::string Name) {
        TFileIdentity Identity;
        std::string Error;
        if (!System_.Identity(Folder, Path_, Identity, Error)) {
            Walker_.Unreadable(Path_, Error);
            System_.Close(Folder);
            return false;
        }
        const char* Refusal = nullptr;
        if (System_.IsPseudo(Folder, Identity))
            Refusal = "it belongs to a pseudo file system of the kernel";
        else if (!Entered_.insert(Identity).second)
            Refusal = "the folder it leads to has been entered already";
        if (Refusal) {
            Walker_.Skipped(Path_, Refusal);
            System_.Close(Folder);
            return false;
        }
        std::vector<TFolderEntry> Entries;
        if (!System_.List(Folder, Path_, Entries, Error)) Walker_.Unreadable(Path_, Error);
        SortByName(Entries);
        Frames_.push_back(TFrame{Folder, std::move(Name), Identity, std::move(Entries), 0, nullptr});
        Opened(Frames_.size() - 1);
        return true;
    }

    // Counts frame Index as open; over the budget, the shallowest open frame is closed: the
    // deepest ones stay open.
    void Opened(std::size_t Index) {
        Open_.insert(Index);
        if (Open_.size() > TFolderAccess::OpenBudget) CloseFrame(*Open_.begin());
    }

    // Drops the deepest frame, its parent opened again through it where it was closed.
    void Leave() {
        TFrame& Frame = Frames_.back();
        if (Frames_.size() > 1) {
            TFrame& Parent = Frames_[Frames_.size() - 2];
            Path_.resize(Path_.size() - Frame.Name.size() - 1);
            if (Frame.Handle != NoFolder && Parent.Handle == NoFolder) {
                const TFolderHandle Up = System_.OpenParent(Frame.Handle);
                if (Up != NoFolder && SameFolder(Up, Parent)) {
                    Parent.Handle = Up;
                    Opened(Frames_.size() - 2);
                } else if (Up != NoFolder) {
                    System_.Close(Up);
                }
            }
        }
        CloseFrame(Frames_.size() - 1);
        Frames_.pop_back();
    }

    // Whether the open folder Folder is the one Frame entered.
    bool SameFolder(TFolderHandle Folder, const TFrame& Frame) {
        TFileIdentity Identity;
        std::string Error;
        return System_.Identity(Folder, Path_, Identity, Error) && Identity == Frame.Identity;
    }

    void CloseFrame(std::size_t Index) {
        TFrame& Frame = Frames_[Index];
        if (Frame.Handle == NoFolder) return;
        System_.Close(Frame.Handle);
        Frame.Handle = NoFolder;
        Open_.erase(Index);
    }

    // Opens frame Index again when its handle was closed: from the nearest open ancestor (or the
    // root's path) down, one level at a time, each folder checked to be the one entered before.
    bool Reopen(std::size_t Index) {
        if (Frames_[Index].Handle != NoFolder) return true;
        std::size_t From = Index;
        while (From > 0 && Frames_[From].Handle == NoFolder) --From;
        std::string Error;
        TFolderHandle Folder = Frames_[From].Handle != NoFolder ? System_.Duplicate(Frames_[From].Handle)
                                                                : System_.Open(RootPath_, Error);
        for (std::size_t Level = From + 1; Folder != NoFolder && Level <= Index; ++Level) {
            const TFolderHandle Next = System_.OpenIn(Folder, Frames_[Level].Name, Path_, Error);
            System_.Close(Folder);
            Folder = Next;
        }
        if (Folder == NoFolder || !SameFolder(Folder, Frames_[Index])) {
            if (Folder != NoFolder) System_.Close(Folder);
            return false;
        }
        Frames_[Index].Handle = Folder;
        Opened(Index);
        return true;
    }

    TFolderWalker& Walker_;
    TFolderAccess System_;
    std::string RootPath_;
    std::string Path_;  // the deepest frame's folder, with its trailing separator
    std::vector<TFrame> Frames_;
    std::set<std::size_t> Open_;  // the frames whose handles are open
    std::unordered_set<TFileIdentity, TFileIdentityHash> Entered_;
};

}  // namespace

std::vector<TFolderEntry> TPlatform::ListFolder(const std::string& Path) {
    std::vector<TFolderEntry> Entries;
    TFolderAccess System;
    std::string Error;
    const TFolderHandle Folder = System.Open(Path, Error);
    if (Folder == NoFolder) return Entries;
    System.List(Folder, Path, Entries, Error);
    System.Close(Folder);
    SortByName(Entries);
    return Entries;
}

void TPlatform::WalkFolderTree(const std::string& Root, TFolderWalker& Walker) { TTreeWalk(Root, Walker).Run(); }

}  // namespace orv
