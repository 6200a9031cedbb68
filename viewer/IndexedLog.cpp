#include "viewer/IndexedLog.h"

#include <algorithm>
#include <fstream>

namespace orvi::viewer {

namespace {

constexpr size_t kChunkBytes = 1 << 20;
constexpr size_t kHeadBytes = 64;

std::string FileHead(const std::string& path, size_t length) {
    std::ifstream in(path, std::ios::binary);
    std::string head(length, '\0');
    in.read(head.data(), std::streamsize(length));
    head.resize(size_t(in.gcount()));
    return head;
}

} // namespace

std::unique_ptr<TIndexedLog> TIndexedLog::Open(const std::string& path, std::string& error) {
    std::shared_ptr<const platform::TReadOnlyFile> map = platform::TReadOnlyFile::Open(path, error);
    if (!map)
        return nullptr;
    return std::unique_ptr<TIndexedLog>(new TIndexedLog(path, std::move(map)));
}

TIndexedLog::TIndexedLog(std::string path, std::shared_ptr<const platform::TReadOnlyFile> map)
    : path_(std::move(path)), map_(std::move(map)) {
    head_.resize(size_t(std::min<uint64_t>(kHeadBytes, map_->Size())));
    if (!map_->Read(0, head_.size(), head_.data()))
        head_.clear();
    mappedBytes_ = map_->Size();
    reader_ = [this](uint64_t offset, size_t length, char* out) {
        return map_->Read(offset, length, out);
    };
}

TIndexedLog::~TIndexedLog() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    cancelled_ = true;
    wake_.notify_all();
    if (thread_.joinable())
        thread_.join();
}

void TIndexedLog::IndexHere() {
    std::shared_ptr<const platform::TReadOnlyFile> map;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        map = map_;
    }
    IndexAvailable(*map, true);
    idle_ = true;
}

void TIndexedLog::Start(std::chrono::milliseconds settle) {
    settle_ = settle;
    thread_ = std::thread([this] { Run(); });
}

void TIndexedLog::Cancel() {
    cancelled_ = true;
    generation_++; // lets the owner see that indexing ended
}

bool TIndexedLog::Done() const {
    return cancelled_ || ended_ || idle_;
}

void TIndexedLog::Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (true) {
        const auto work = [&] {
            return stop_ || (!cancelled_ && !ended_ && indexedBytes_ < map_->Size());
        };
        if (!work()) {
            idle_ = true;
            wake_.wait(lock, work);
        }
        if (stop_)
            return;
        idle_ = false;
        const std::shared_ptr<const platform::TReadOnlyFile> map = map_;
        const uint64_t before = indexedBytes_;
        lock.unlock();
        IndexAvailable(*map, false);
        lock.lock();
        if (indexedBytes_ == before && map == map_ && !stop_)
            WaitForLineEnd(lock, map);
    }
}

// A torn last line: waits for the file to grow; when it stays as it is for settle_, the
// line is shown as it stands meanwhile.
void TIndexedLog::WaitForLineEnd(std::unique_lock<std::mutex>& lock,
                                 const std::shared_ptr<const platform::TReadOnlyFile>& map) {
    idle_ = true;
    const auto changed = [&] { return stop_ || map != map_; };
    if (wake_.wait_for(lock, settle_, changed) || cancelled_)
        return;
    lock.unlock();
    PublishLastLine(*map);
    lock.lock();
    wake_.wait(lock, changed);
}

void TIndexedLog::PublishLastLine(const platform::TReadOnlyFile& file) {
    std::string rest(size_t(file.Size() - builder_.Consumed()), '\0');
    if (!file.Read(builder_.Consumed(), rest.size(), rest.data()))
        return;
    TIndexBuilder shown = builder_.WithLastLine(rest);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        shown.Publish(index_);
    }
    generation_++;
}

void TIndexedLog::IndexAvailable(const platform::TReadOnlyFile& map, bool atEnd) {
    std::string chunk(kChunkBytes, '\0');
    while (!cancelled_ && !builder_.Ended()) {
        const uint64_t from = builder_.Consumed();
        const size_t length = size_t(std::min<uint64_t>(kChunkBytes, map.Size() - from));
        if (length == 0 || !map.Read(from, length, chunk.data()))
            break; // all read, or the file lost bytes: Poll sees it shrink
        const bool last = atEnd && from + length == map.Size();
        const size_t used = builder_.Feed(chunk.data(), length, last);
        Publish();
        if (used < length && from + length == map.Size())
            break; // a torn last line
    }
}

void TIndexedLog::Publish() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        builder_.Publish(index_);
    }
    indexedBytes_ = builder_.Consumed();
    ended_ = builder_.Ended();
    generation_++;
}

TIndexedLog::TChange TIndexedLog::Poll() {
    uint64_t size = 0;
    if (!platform::TReadOnlyFile::CurrentSize(path_, size))
        return TChange::Unreadable;
    if (size < mappedBytes_ || FileHead(path_, head_.size()) != head_)
        return TChange::StartedOver;
    if (size == mappedBytes_)
        return TChange::None;
    std::string error;
    std::shared_ptr<const platform::TReadOnlyFile> map =
        platform::TReadOnlyFile::Open(path_, error);
    if (!map)
        return TChange::Unreadable;
    if (map->Size() < mappedBytes_)
        return TChange::StartedOver;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        map_ = std::move(map);
        mappedBytes_ = map_->Size();
        idle_ = false;
    }
    wake_.notify_all();
    return TChange::Grew;
}

} // namespace orvi::viewer
