#include "collect/Collector.h"

#include "acquire/LogQueue.h"
#include "app/RecordFields.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <stdexcept>

namespace orvi::collect {

namespace {

// The record of a --json object; false with `why` when a member is missing or no number.
bool ParseRecord(const std::string& payload, app::TMeasurementRecord& record, uint64_t& seq,
                 std::string& why) {
    const nlohmann::json json = nlohmann::json::parse(payload, nullptr, false);
    if (!json.is_object()) {
        why = "the message is no JSON object";
        return false;
    }
    const auto s = json.find("seq");
    if (s == json.end() || !s->is_number_unsigned()) {
        why = "the message has no sequence number";
        return false;
    }
    seq = s->get<uint64_t>();
    for (const app::TRecordField& field : app::RecordFields()) {
        const auto member = json.find(std::string(field.Key));
        if (member == json.end() || !(member->is_number() || member->is_null())) {
            why = "the message has no number \"" + std::string(field.Key) + "\"";
            return false;
        }
        // null: a value that was not finite, which the log writes as NAN.
        field.Set(record, member->is_null() ? NAN : member->get<double>());
    }
    return true;
}

uint64_t CountLines(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    uint64_t lines = 0;
    char block[65536];
    while (in.read(block, sizeof block) || in.gcount() > 0)
        lines += uint64_t(std::count(block, block + in.gcount(), '\n'));
    return lines;
}

std::string StartPath(const std::string& path) {
    return path + ".start";
}

std::string ReadStart(const std::string& path) {
    std::ifstream in(StartPath(path), std::ios::binary);
    std::string start;
    in >> start;
    return start;
}

// A log start as the publisher sends it: decimal digits (empty: none).
bool IsNumber(const std::string& text) {
    return text.size() <= 19 &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

} // namespace

bool IsPlainName(const std::string& name) {
    if (name.empty() || name.size() > 200 || name == "." || name == "..")
        return false;
    return std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '.' || c == '_' || c == '-';
    });
}

TCollector::TCollector(std::string folder) : folder_(std::move(folder)) {}

TCollector::TFile& TCollector::Known(const std::string& path) {
    const auto known = files_.find(path);
    if (known != files_.end())
        return known->second;
    return files_[path] = TFile{CountLines(path), ReadStart(path)};
}

// The file and its .start to the first free <path>.N; the words telling it.
std::string TCollector::MoveAside(TStand& stand, const std::string& path) {
    if (stand.Log && stand.LogPath == path) {
        stand.Log->Close();
        stand.Log.reset();
    }
    std::string aside;
    for (int n = 1;; ++n) {
        aside = path + "." + std::to_string(n);
        if (!std::filesystem::exists(aside) && !std::filesystem::exists(StartPath(aside)))
            break;
    }
    std::error_code error;
    std::filesystem::rename(path, aside, error);
    if (error && std::filesystem::exists(path))
        throw std::filesystem::filesystem_error("cannot move the collected log aside", path,
                                                aside, error);
    std::error_code gone; // a .start removed by hand: the new one replaces it anyway
    std::filesystem::rename(StartPath(path), StartPath(aside), gone);
    files_.erase(path);
    return "a new log began as " + path + "; the earlier one is now " + aside;
}

app::TDataLog& TCollector::Open(TStand& stand, const std::string& path) {
    if (stand.Log && stand.LogPath == path)
        return *stand.Log;
    if (stand.Log)
        stand.Log->Close();
    stand.Log.reset();
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    stand.Log = std::make_unique<app::TDataLog>(path, app::TDataLog::TOpen::Append);
    stand.LogPath = path;
    return *stand.Log;
}

TCollector::TResult TCollector::Store(const std::string& standName, const std::string& logName,
                                      const std::string& logStart, const std::string& payload,
                                      std::string& why) {
    why.clear();
    const std::string log = logName.empty() ? "unlogged.txt" : logName;
    if (!IsPlainName(standName) || !IsPlainName(log)) {
        why = "the stand \"" + standName + "\" or its log \"" + log + "\" is no plain file name";
        return TResult::Rejected;
    }
    app::TMeasurementRecord record;
    uint64_t seq = 0;
    if (!IsNumber(logStart)) {
        why = "the log start \"" + logStart + "\" of " + standName + "/" + log + " is no number";
        return TResult::Rejected;
    }
    if (!ParseRecord(payload, record, seq, why))
        return TResult::Rejected;
    const std::string path = (std::filesystem::path(folder_) / standName / log).string();
    TStand& stand = stands_[standName];
    std::string moved;
    if (!logStart.empty() && Known(path).LogStart != logStart) {
        // A file of another log that holds records moves aside; one of before log starts, or
        // one with none yet, takes this start.
        if (!Known(path).LogStart.empty() && Known(path).LastSeq > 0)
            moved = MoveAside(stand, path);
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        std::string reason;
        if (!acquire::WriteFileAtomically(StartPath(path), logStart + "\n", reason))
            throw std::runtime_error("cannot write \"" + StartPath(path) + "\": " + reason);
        Known(path).LogStart = logStart;
    }
    TFile& known = Known(path);
    app::TDataLog& file = Open(stand, path);
    uint64_t& last = known.LastSeq;
    if (logName.empty() && seq == 1)
        last = 0; // a stand without a data log counts from 1 at each start
    why = moved;
    if (seq <= last) {
        ++repeats_;
        return TResult::Repeat;
    }
    file.Write(app::LogLine(record));
    if (seq > last + 1)
        why += std::string(why.empty() ? "" : "; ") + "records " + std::to_string(last + 1) +
               " to " + std::to_string(seq - 1) + " of " + standName + "/" + log + " never came";
    last = seq;
    ++written_;
    return TResult::Written;
}

void TCollector::CloseAll() {
    for (auto& [name, stand] : stands_) {
        if (stand.Log)
            stand.Log->Close();
        stand.Log.reset();
    }
    files_.clear(); // files may have been moved away: read again when opened
}

} // namespace orvi::collect
