// Replays arbitrary bytes as a data log and checks the reader, record by record, against a model
// of the format kept in memory: numbers separated by characters 0 to 32, at most 32 characters
// taken for a whole number and 64 for a real one, nothing read from a 0x1A on, a number at the
// end of the file 0, a text that does not convert 0 with "Invalid numeric input" raised after
// the twelfth number, and end of file only when no character is left. Every number that does
// convert is checked against the C library's reading of the same text.
//
// When the first byte is odd, the bytes follow some 64 KiB of blanks, so that numbers straddle
// the reader's buffer refill.
#include "app/LogReplay.h"
#include "serial/Exceptions.h"

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <unistd.h>

namespace {

using orvi::app::TMeasurementRecord;

constexpr size_t kIntegerLimit = 32;
constexpr size_t kRealLimit = 64;
constexpr size_t kRefillPadding = 64 * 1024 - 200; // plus up to 255 more

bool IsSign(char c) {
    return c == '+' || c == '-';
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// A whole number that converts is a sign and digits whose value strtoll gives.
void CheckInteger(const std::string& text, int32_t value) {
    const size_t first = IsSign(text[0]) ? 1 : 0;
    if (first == text.size())
        std::abort();
    for (size_t i = first; i < text.size(); ++i)
        if (!IsDigit(text[i]))
            std::abort();
    errno = 0;
    if (std::strtoll(text.c_str(), nullptr, 10) != value || errno != 0)
        std::abort();
}

// A real number that converts is finite, written with digits, signs, "." and an exponent mark
// only, and is what strtod makes of it (0 where strtod finds it too small to hold).
void CheckReal(const std::string& text, double value) {
    if (!std::isfinite(value))
        std::abort();
    for (char c : text)
        if (!IsDigit(c) && !IsSign(c) && c != '.' && c != 'e' && c != 'E')
            std::abort();
    errno = 0;
    const double expected = std::strtod(text.c_str(), nullptr);
    if (errno == ERANGE ? value != 0 : value != expected)
        std::abort();
}

// The data log as the format describes it, read from memory.
class Model {
public:
    explicit Model(std::string bytes) : bytes_(std::move(bytes)) {
        const size_t mark = bytes_.find('\x1A');
        if (mark != std::string::npos)
            bytes_.resize(mark);
    }

    bool Eof() const { return at_ == bytes_.size(); }

    void ReadRecord(TMeasurementRecord& r, bool& failed) {
        r.Tick = Integer(failed);
        for (size_t channel = 0; channel < 4; ++channel) {
            r.Housing[channel] = Real(failed);
            r.Sensor[channel] = Real(failed);
        }
        r.Roll = Real(failed);
        r.Pitch = Real(failed);
        r.ZeroCount = int16_t(uint16_t(uint32_t(Integer(failed))));
    }

private:
    static bool IsBlank(char c) { return uint8_t(c) <= ' '; }

    std::string Next(size_t limit) {
        while (!Eof() && IsBlank(bytes_[at_]))
            ++at_;
        const size_t start = at_;
        while (!Eof() && !IsBlank(bytes_[at_]) && at_ - start < limit)
            ++at_;
        return bytes_.substr(start, at_ - start);
    }

    // The next number by `parse`, checked by `check` when it converts; 0 when it does not.
    template <typename T>
    T Number(size_t limit, std::optional<T> (*parse)(const std::string&),
             void (*check)(const std::string&, T), bool& failed) {
        const std::string text = Next(limit);
        if (text.empty())
            return 0;
        const std::optional<T> value = parse(text);
        if (!value) {
            failed = true;
            return 0;
        }
        check(text, *value);
        return *value;
    }

    int32_t Integer(bool& failed) {
        return Number(kIntegerLimit, orvi::app::ParseLogInteger, CheckInteger, failed);
    }

    double Real(bool& failed) {
        return Number(kRealLimit, orvi::app::ParseLogReal, CheckReal, failed);
    }

    std::string bytes_;
    size_t at_ = 0;
};

bool Same(const TMeasurementRecord& a, const TMeasurementRecord& b) {
    return a.Tick == b.Tick && a.Housing == b.Housing && a.Sensor == b.Sensor && a.Roll == b.Roll &&
           a.Pitch == b.Pitch && a.ZeroCount == b.ZeroCount;
}

// One record from the reader; whether it raised "Invalid numeric input".
bool ReadRecord(orvi::app::TLogReader& reader, TMeasurementRecord& record) {
    try {
        reader.ReadLogRecord(record);
        return false;
    } catch (const orvi::EInOutError& e) {
        if (std::string(e.what()) != "Invalid numeric input")
            std::abort();
        return true;
    }
}

const std::string& LogPath() {
    static const std::string path = "/tmp/logreplayfuzz-" + std::to_string(getpid()) + ".txt";
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    std::string bytes;
    if (data[0] % 2 == 1)
        bytes.assign(kRefillPadding + data[0], ' ');
    bytes.append(reinterpret_cast<const char*>(data + 1), size - 1);
    std::FILE* file = std::fopen(LogPath().c_str(), "wb");
    if (file == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size() ||
        std::fclose(file) != 0)
        std::abort();

    orvi::app::TLogReader reader(LogPath());
    Model model(bytes);
    // Every record takes at least one character, so the file ends within this many.
    for (size_t records = 0; records <= bytes.size() + 1; ++records) {
        const bool ended = model.Eof();
        if (reader.Eof() != ended)
            std::abort();
        TMeasurementRecord got;
        TMeasurementRecord expected;
        const bool raised = ReadRecord(reader, got);
        bool failed = false;
        model.ReadRecord(expected, failed);
        if (raised != failed || !Same(got, expected))
            std::abort();
        if (ended) {
            // Read at the end of the file: all zeros, nothing raised, still at the end.
            if (raised || !Same(got, TMeasurementRecord{}) || !reader.Eof())
                std::abort();
            std::remove(LogPath().c_str());
            return 0;
        }
    }
    std::abort(); // the reader did not reach the end of the file
}
