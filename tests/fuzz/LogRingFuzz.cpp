// Records entries of random sizes into a small dispatch log, writes it, and checks that
// the file holds exactly the entries that fit, newest ones, oldest first, byte for byte.
#include "serial/dispatch/TraceLog.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr uint32_t kHeader = 16;

struct Entry {
    uint32_t Id;
    std::vector<uint8_t> Bytes;
};

std::vector<uint8_t> Pattern(uint32_t id, uint32_t length) {
    std::vector<uint8_t> bytes(length);
    for (uint32_t i = 0; i < length; ++i)
        bytes[i] = uint8_t(id * 7 + i);
    return bytes;
}

// What the log must hold: whole entries, the oldest dropped first to make room.
class Model {
public:
    explicit Model(uint32_t size) : size_(size), free_(size) {}
    void Record(Entry entry) {
        const uint64_t total = uint64_t(kHeader) + entry.Bytes.size();
        if (total >= size_)
            return;
        while (free_ < total) {
            free_ += kHeader + uint32_t(entries_.front().Bytes.size());
            entries_.pop_front();
        }
        free_ -= uint32_t(total);
        entries_.push_back(std::move(entry));
    }
    const std::deque<Entry>& Entries() const { return entries_; }

private:
    uint32_t size_;
    uint32_t free_;
    std::deque<Entry> entries_;
};

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(text.substr(start, end - start));
    if (start != text.size())
        std::abort(); // every log line ends in CR LF
    return lines;
}

// Parses all-hex entry lines back into entries (data value and bytes).
std::vector<Entry> Parse(const std::string& text) {
    std::vector<std::string> lines = Lines(text);
    if (lines.size() < 7 || lines[0] != "ORVI v4.05")
        std::abort();
    std::vector<Entry> entries;
    const std::string indent(44, ' ');
    for (std::size_t i = 7; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        if (line.size() < 44 || line.size() > 78)
            std::abort();
        if (line.compare(0, 44, indent) != 0) {
            if (line.substr(10, 8) != "Dispatch" || line.substr(20, 12) != "WriteCom    ")
                std::abort();
            entries.push_back({uint32_t(std::stoul(line.substr(34, 8), nullptr, 16)), {}});
        } else if (entries.empty()) {
            std::abort();
        }
        for (std::size_t at = 44; at < line.size(); at += 4) {
            if (line[at] != '[' || at + 3 >= line.size() || line[at + 3] != ']')
                std::abort();
            entries.back().Bytes.push_back(
                uint8_t(std::stoul(line.substr(at + 1, 2), nullptr, 16)));
        }
    }
    return entries;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

const std::string& LogPath() {
    static const std::string path = "/tmp/logringfuzz-" + std::to_string(getpid()) + ".log";
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    const uint32_t logSize = 1 + uint32_t(data[0]) * 3; // 1 .. 766 bytes
    orvi::TOrvTraceLog log;
    uint32_t now = 0;
    log.SetClock([&now] { return now++; });
    log.Reset(0);
    log.SetDeviceName("COM1");
    log.LogStart(logSize);
    Model model(logSize);
    uint32_t id = 0;
    for (size_t i = 1; i + 1 < size; i += 2) {
        const uint32_t length = (uint32_t(data[i]) << 8 | data[i + 1]) % 1024;
        const uint32_t entryId = id++;
        Entry entry{entryId, Pattern(entryId, length)};
        log.LogRecord(1, 2, entry.Id, entry.Bytes.data(), length);
        model.Record(std::move(entry));
    }
    std::remove(LogPath().c_str());
    if (log.LogWrite(LogPath(), false, true, true) != 0)
        std::abort();
    if (log.LogExists())
        std::abort();
    if (model.Entries().empty()) {
        if (std::FILE* f = std::fopen(LogPath().c_str(), "rb")) {
            std::fclose(f);
            std::abort(); // an empty log touches no file
        }
        return 0;
    }
    const std::vector<Entry> parsed = Parse(ReadFile(LogPath()));
    const std::deque<Entry>& expected = model.Entries();
    if (parsed.size() != expected.size())
        std::abort();
    for (std::size_t k = 0; k < parsed.size(); ++k) {
        if (parsed[k].Id != expected[k].Id || parsed[k].Bytes != expected[k].Bytes)
            std::abort();
    }
    std::remove(LogPath().c_str());
    return 0;
}
