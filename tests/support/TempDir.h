#pragma once

#include <filesystem>
#include <string>

namespace kds::test {

// A fresh folder under the system's temporary folder, removed with everything
// in it when the object goes away. Single-threaded use.
class TTempDir {
public:
    TTempDir();
    ~TTempDir();
    TTempDir(const TTempDir&) = delete;
    TTempDir& operator=(const TTempDir&) = delete;

    const std::filesystem::path& Path() const { return FPath; }
    // Writes Content to the file at Relative (folders made as needed).
    std::filesystem::path WriteFile(const std::string& Relative, const std::string& Content) const;

private:
    std::filesystem::path FPath;
};

} // namespace kds::test
