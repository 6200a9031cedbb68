#include "viewer/OutputFile.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <system_error>

namespace orvi::viewer {

namespace fs = std::filesystem;

bool SameFile(const std::string& a, const std::string& b) {
    std::error_code ec;
    return fs::equivalent(fs::path(a), fs::path(b), ec) && !ec;
}

namespace {

// A name no other writer in this folder uses: the output's name, a dot before it so that
// it stays out of listings, and a number of this process and moment.
fs::path TemporaryName(const fs::path& output) {
    static std::atomic<uint64_t> counter{0};
    const uint64_t stamp =
        uint64_t(std::chrono::steady_clock::now().time_since_epoch().count()) ^ (counter++ << 48);
    std::string name(1, '.');
    name += output.filename().string();
    name += '.';
    name += std::to_string(stamp);
    name += ".part";
    return output.parent_path() / fs::path(name);
}

} // namespace

bool WriteReplacing(
    const std::string& path,
    const std::function<bool(const std::string& temporary, std::string& error)>& write,
    std::string& error) {
    const fs::path output(path);
    const fs::path temporary = TemporaryName(output);
    std::error_code ec;
    if (!write(temporary.string(), error)) {
        fs::remove(temporary, ec);
        return false;
    }
    fs::rename(temporary, output, ec);
    if (ec) {
        error = ec.message();
        fs::remove(temporary, ec);
        return false;
    }
    return true;
}

} // namespace orvi::viewer
