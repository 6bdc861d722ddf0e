// A fresh folder in the temporary folder for one test, removed with everything in it when
// the test ends; small helpers to write and read files in it.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace mub::test {

class TempFolder {
public:
    TempFolder() {
        // A new folder of a random name (std::filesystem: also on Windows).
        std::random_device random;
        const auto base = std::filesystem::temp_directory_path();
        for (int attempt = 0; attempt < 100 && root_.empty(); ++attempt) {
            const auto candidate = base / ("mub-test-" + std::to_string(random()));
            std::error_code error;
            if (std::filesystem::create_directory(candidate, error)) root_ = candidate.generic_string();
        }
        if (root_.empty()) ADD_FAILURE() << "cannot make a folder in " << base.string();
    }
    ~TempFolder() {
        namespace fs = std::filesystem;
        std::error_code ignored;
        // Windows keeps a read-only file (a test's preset) where it is.
        for (auto it = fs::recursive_directory_iterator(root_, ignored); it != fs::recursive_directory_iterator();
             it.increment(ignored))
            fs::permissions(it->path(), fs::perms::owner_write, fs::perm_options::add | fs::perm_options::nofollow,
                            ignored);
        fs::remove_all(root_, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::string& root() const { return root_; }
    std::string path(const std::string& name) const { return root_ + "/" + name; }

    void write(const std::string& name, const std::string& bytes) const {
        std::ofstream out(path(name), std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        if (!out) ADD_FAILURE() << "cannot write " << path(name);
    }
    std::string read(const std::string& name) const {
        std::ifstream in(path(name), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    bool exists(const std::string& name) const { return std::filesystem::exists(path(name)); }
    void makeFolder(const std::string& name) const { std::filesystem::create_directories(path(name)); }

    // The inode number: it changes when a file is replaced by a rename.
    ino_t inode(const std::string& name) const {
        struct stat info {};
        if (::stat(path(name).c_str(), &info) != 0) ADD_FAILURE() << "no " << path(name);
        return info.st_ino;
    }

    // Names in the folder, sorted (hidden ones included).
    std::vector<std::string> entries() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(root_)) names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

private:
    std::string root_;
};

} // namespace mub::test
