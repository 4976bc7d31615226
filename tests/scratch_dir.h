// A fresh folder for one test under $KEVRA_TEST_TMP (which ctest sets) or
// the system's temporary folder, removed with all it holds at the end, even
// where the test took its permissions away.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

namespace kevra::testing {

class ScratchDir {
  public:
    explicit ScratchDir(const std::string& prefix = "kevra") {
        const char* base = std::getenv("KEVRA_TEST_TMP");
        const std::filesystem::path root =
            base != nullptr && base[0] != '\0' ? base : std::filesystem::temp_directory_path();
        std::filesystem::create_directories(root);
        std::string pattern = (root / (prefix + "-XXXXXX")).string();
        if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp " + pattern);
        path_ = pattern;
    }
    ~ScratchDir() {
        std::error_code ec;
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
        std::filesystem::remove_all(path_, ec);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::filesystem::path& Path() const { return path_; }
    std::string File(const std::string& name) const { return (path_ / name).string(); }
    // Writes a file of the folder and returns its path.
    std::string Write(const std::string& name, const std::string& content) const {
        std::string p = File(name);
        std::ofstream(p, std::ios::binary) << content;
        return p;
    }

  private:
    std::filesystem::path path_;
};

}  // namespace kevra::testing
