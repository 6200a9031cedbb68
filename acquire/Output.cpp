#include "acquire/Output.h"

#include "acquire/Terminal.h"
#include "app/DataLog.h"
#include "app/RecordFields.h"

#include <cmath>
#include <ctime>
#include <filesystem>

namespace orvi::acquire {

namespace {

constexpr auto kRedraw = std::chrono::milliseconds(500);

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

std::string DatedLogPath(const std::string& dir, std::chrono::system_clock::time_point when) {
    const std::tm t = Broken(when, false);
    const std::string name =
        app::DateFileName(t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min);
    const std::string stem =
        (std::filesystem::path(dir) / name.substr(0, name.size() - 4)).string();
    std::string path = stem + ".txt";
    std::error_code ignored;
    for (int suffix = 2; std::filesystem::exists(path, ignored); ++suffix)
        path = stem + "_" + std::to_string(suffix) + ".txt";
    return path;
}

TStatusLine::TStatusLine(std::FILE* err, std::string program)
    : err_(err), program_(std::move(program)), terminal_(platform::IsTerminal(err)), journal_(platform::IsJournal(err)) {}

void TStatusLine::Update(uint64_t polls, const app::TMeasurementRecord& r, uint64_t logBytes,
                         const std::string& more) {
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
    text += "°C  log " + std::to_string(logBytes / 1024) + " KiB";
    if (!more.empty())
        text += "  " + more;
    Clear();
    std::fputs(text.c_str(), err_);
    std::fflush(err_);
    shown_ = true;
}

void TStatusLine::Say(const std::string& line, TSeverity severity) {
    Clear();
    std::string priority;
    if (journal_)
        priority = severity == TSeverity::Error     ? "<3>"
                   : severity == TSeverity::Warning ? "<4>"
                                                    : "<5>";
    std::fputs((priority + program_ + ": " + line + "\n").c_str(), err_);
    std::fflush(err_);
    drawn_ = {}; // the status comes back at the next update
}

void TStatusLine::Finish() {
    if (shown_)
        std::fputs("\n", err_);
    shown_ = false;
    std::fflush(err_);
}

void TStatusLine::Clear() {
    if (shown_)
        std::fputs("\r\033[K", err_);
    shown_ = false;
}

} // namespace orvi::acquire
