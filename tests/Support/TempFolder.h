// A unique temporary folder for one test, removed with everything in it when the object dies.
#ifndef ORV_TEST_TEMP_FOLDER_H
#define ORV_TEST_TEMP_FOLDER_H

#include <string>

namespace orv::test {

class TTempFolder {
public:
    // Creates a new empty folder below the system's temporary folder.
    TTempFolder();
    // Removes the folder recursively (errors are ignored).
    ~TTempFolder();
    TTempFolder(const TTempFolder&) = delete;
    TTempFolder& operator=(const TTempFolder&) = delete;

    // Absolute path of the folder, without a trailing separator.
    const std::string& Path() const { return Path_; }
    // Path() joined with Relative ("a/b.xml"; "/" is turned into the platform's separator).
    std::string PathOf(const std::string& Relative) const;
    // Writes Content to Relative (creating parent folders, replacing a file); returns its path.
    std::string WriteFile(const std::string& Relative, const std::string& Content) const;
    // Creates the folder Relative with its parents; returns its path.
    std::string MakeFolder(const std::string& Relative) const;
    // Copies the file Source to Relative (creating parent folders); returns the new path.
    std::string CopyFile(const std::string& Source, const std::string& Relative) const;

private:
    std::string Path_;
};

}  // namespace orv::test

#endif
