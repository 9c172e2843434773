// The operating system's side of folder listings and walks, for Common/FolderWalk.cpp only: the
// system opens, lists and identifies folders here, and the portable code does the rest (the order
// of the entries, the walk's frames, which folders are entered). Where the system names folders
// by their paths alone (Windows), a handle holds nothing, opening cannot fail, and the calls use
// the path they are given.
#ifndef ORV_FOLDER_ACCESS_H
#define ORV_FOLDER_ACCESS_H

#include "Platform.h"

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace orv {

using TFolderHandle = std::intptr_t;
constexpr TFolderHandle NoFolder = -1;

class TFolderAccess {
public:
    // How many handles a walk keeps open at most (the deepest folders' ones). Where handles hold
    // nothing there is no limit, and a walk never opens a folder again (OpenParent, Duplicate).
    static const std::size_t OpenBudget;

    // The folder Path; NoFolder, with the system's text in Error, when it cannot be opened.
    TFolderHandle Open(const std::string& Path, std::string& Error);
    // The folder Name in the open folder Parent; Path is its path.
    TFolderHandle OpenIn(TFolderHandle Parent, const std::string& Name, const std::string& Path, std::string& Error);
    // The parent of the open folder Folder; NoFolder when it cannot be opened.
    TFolderHandle OpenParent(TFolderHandle Folder);
    TFolderHandle Duplicate(TFolderHandle Folder);
    void Close(TFolderHandle Folder);

    // The identity of the open folder Folder, whose path is Path; false, with Error set, when the
    // system cannot tell it.
    bool Identity(TFolderHandle Folder, const std::string& Path, TFileIdentity& Identity, std::string& Error);
    // The identity of the entry Name of the open folder Folder, whose path (with its trailing
    // separator) is Path.
    bool EntryIdentity(TFolderHandle Folder, const std::string& Path, const std::string& Name,
                       TFileIdentity& Identity);
    // Whether the open folder Folder (of identity Identity) lies on one of the kernel's pseudo
    // file systems.
    bool IsPseudo(TFolderHandle Folder, const TFileIdentity& Identity);
    // Appends the folders and regular files of the open folder Folder (at Path), in the system's
    // order, hidden entries left out. False, with Error set, when it could be listed only in part
    // or not at all.
    bool List(TFolderHandle Folder, const std::string& Path, std::vector<TFolderEntry>& Entries, std::string& Error);

private:
    std::unordered_map<uint64_t, bool> PseudoVolumes_;  // volumes asked about already
    std::vector<uint64_t> ListBuffer_;                  // where a listing is read, when the system needs one
};

}  // namespace orv

#endif
