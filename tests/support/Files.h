#pragma once

#include <string>

namespace orv::test {

std::string golden(const std::string& name);
std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& text);
bool exists(const std::string& path);

// A fresh folder for one test, removed with everything in it on destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const noexcept { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    // The names in the folder, sorted.
    std::string listing() const;

private:
    std::string path_;
};

} // namespace orv::test
