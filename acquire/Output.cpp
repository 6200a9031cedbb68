#include "acquire/Output.h"

#include "acquire/Terminal.h"
#include "app/DataLog.h"
#include "app/RecordFields.h"
#include "serial/Exceptions.h"

#include <cmath>
#include <ctime>
#include <filesystem>

namespace orvi::acquire {

namespace {

constexpr auto kRedraw = std::chrono::milliseconds(500);
constexpr int kMaxSuffix = 100000;
constexpr size_t kQueuedLines = 256;

std::tm Broken(std::chrono::system_clock::time_point when, bool utc) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
    std::tm parts{};
    if (utc)
        platform::UtcTime(seconds, parts);
    else
        platform::LocalTime(seconds, parts);
    return parts;
}

} // namespace

std::string UtcTimeStamp(std::chrono::system_clock::time_point when) {
    using namespace std::chrono;
    const auto ms = duration_cast<milliseconds>(when.time_since_epoch()).count();
    const long long millis = (ms % 1000 + 1000) % 1000;
    const std::tm t = Broken(when, true);
    char text[96];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03lldZ", t.tm_year + 1900,
                  t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, millis);
    return text;
}

std::string JsonLine(uint64_t seq, const app::TMeasurementRecord& record,
                     std::chrono::system_clock::time_point measured) {
    std::string line = "{\"seq\":" + std::to_string(seq) + ",";
    for (const app::TRecordField& field : app::RecordFields()) {
        line += '"';
        line += field.Key;
        line += "\":";
        line += std::isfinite(field.Get(record)) ? app::FieldText(field, record) : "null";
        line += ',';
        if (&field == &app::RecordFields()[app::kTickField])
            line += "\"time\":\"" + UtcTimeStamp(measured) + "\",";
    }
    line.back() = '}';
    line += '\n';
    return line;
}

std::unique_ptr<app::TDataLog> CreateDatedLog(const std::string& dir,
                                              std::chrono::system_clock::time_point when,
                                              std::string& path) {
    const std::tm t = Broken(when, false);
    const std::string name =
        app::DateFileName(t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min);
    const std::string stem =
        (std::filesystem::path(dir) / name.substr(0, name.size() - 4)).string();
    for (int suffix = 1;; ++suffix) {
        path = suffix == 1 ? stem + ".txt" : stem + "_" + std::to_string(suffix) + ".txt";
        try {
            return std::make_unique<app::TDataLog>(path, app::TDataLog::TOpen::CreateNew);
        } catch (const EInOutError& e) {
            if (e.ErrorCode() != app::TDataLog::kNameTaken || suffix >= kMaxSuffix)
                throw;
        }
    }
}

TStatusLine::TStatusLine(std::FILE* err, bool showStatus)
    : writer_(err, kQueuedLines), terminal_(showStatus) {}

void TStatusLine::Update(uint64_t polls, const app::TMeasurementRecord& r,
                         std::optional<uint64_t> logBytes) {
    const auto now = std::chrono::steady_clock::now();
    if (!terminal_ || now - drawn_ < kRedraw)
        return;
    drawn_ = now;
    const double seconds = std::chrono::duration<double>(now - started_).count();
    std::string text = "polls " + std::to_string(polls);
    char rate[32];
    std::snprintf(rate, sizeof rate, "  %.1f/s  ", seconds > 0 ? double(polls) / seconds : 0.0);
    text += rate;
    for (size_t channel = 0; channel < 4; ++channel)
        text += app::LogNumberText(r.Housing[channel]) + "/" +
                app::LogNumberText(r.Sensor[channel]) + " ";
    text += "°C";
    if (logBytes)
        text += "  log " + std::to_string(*logBytes / 1024) + " KiB";
    std::string out;
    Clear(out);
    shown_ = writer_.Put(out + text);
}

void TStatusLine::Say(const std::string& line) {
    std::string out;
    Clear(out);
    writer_.Put(out + "orvi_acquire: " + line + "\n");
    drawn_ = {}; // the status comes back at the next update
}

void TStatusLine::Finish() {
    if (shown_)
        writer_.Put("\n");
    shown_ = false;
    writer_.Close(std::chrono::seconds(1));
}

void TStatusLine::Clear(std::string& text) {
    if (shown_)
        text += "\r\033[K";
    shown_ = false;
}

} // namespace orvi::acquire
