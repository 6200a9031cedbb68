#pragma once
// A temporary folder of its own for a test, without Qt (the console's core tests also run
// on Windows): made new under the system's temporary folder, removed with what it holds.
#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>
#include <system_error>

namespace orvi::testing {

class TempDir {
public:
    TempDir() {
        std::random_device random;
        const std::filesystem::path base = std::filesystem::temp_directory_path();
        for (int attempt = 0; attempt < 100; ++attempt) {
            path_ = base / ("orvi-test-" + std::to_string(random()));
            if (std::filesystem::create_directory(path_))
                return;
        }
        throw std::runtime_error("no temporary folder under " + base.string());
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    std::string Path() const { return path_.string(); }
    std::string FilePath(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

} // namespace orvi::testing
