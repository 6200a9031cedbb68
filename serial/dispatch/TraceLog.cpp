#include "serial/dispatch/TraceLog.h"

#include "platform/ByteFile.h"
#include "serial/ErrorCodes.h"
#include "serial/MessageTable.h"
#include "serial/Utilities.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <new>
#include <optional>
#include <string_view>

namespace orvi {

namespace {

constexpr uint32_t kMaxTraceEntries = 4000000;
constexpr uint32_t kEntryHeaderSize = 16;
constexpr std::size_t kLineLimit = 78;
// The log's extra bytes start in this column, right after the 44-character prefix.
constexpr std::size_t kLogDataColumn = 45;
constexpr std::string_view kCrLf = "\r\n";
constexpr std::string_view kContinuation = "                                            ";
static_assert(kContinuation.size() == kLogDataColumn - 1);
constexpr std::size_t kFileChunk = 64 * 1024;

// A text file being written in chunks; remembers the first failure. Lines end in
// CR LF on every platform, so the file is written as bytes.
class TextFile {
public:
    TextFile() = default;
    TextFile(const TextFile&) = delete;
    TextFile& operator=(const TextFile&) = delete;

    // Appends when asked (creating a missing file), else creates or replaces the file.
    // 0 or the negated error.
    int32_t Open(const std::string& name, bool append) {
        return -int32_t(file_.Open(name, append));
    }

    void Put(std::string_view text) {
        pending_.append(text);
        if (pending_.size() >= kFileChunk)
            Flush();
    }
    void Put(char c) { pending_.push_back(c); }

    // Writes what is pending and closes. 0, or the negated first failure.
    int32_t Close() {
        Flush();
        const uint32_t closed = file_.Close();
        if (closed != 0 && error_ == 0)
            error_ = -int32_t(closed);
        return error_;
    }

private:
    void Flush() {
        if (error_ == 0 && !pending_.empty())
            error_ = -int32_t(file_.Write(pending_.data(), pending_.size()));
        pending_.clear();
    }

    platform::ByteFile file_;
    int32_t error_ = 0;
    std::string pending_;
};

// One byte as written to a file: the character itself or its value in brackets.
struct Item {
    std::array<char, 6> Text{};
    std::size_t Width = 0;
    std::string_view View() const { return {Text.data(), Width}; }
};

Item CharItem(uint8_t byte) {
    Item item;
    item.Text[0] = char(byte);
    item.Width = 1;
    return item;
}

// Printable bytes as themselves (a space only outside hex mode), others as "[XX]" in
// hex or "[n]" in decimal; in all-hex mode every byte as "[XX]".
Item ByteItem(uint8_t byte, bool inHex, bool allHex) {
    const bool printable = byte >= (inHex ? 0x21 : 0x20) && byte <= 0x7E;
    if (printable && !allHex)
        return CharItem(byte);
    Item item;
    const int n = inHex || allHex
                      ? std::snprintf(item.Text.data(), item.Text.size(), "[%02X]", unsigned(byte))
                      : std::snprintf(item.Text.data(), item.Text.size(), "[%u]", unsigned(byte));
    item.Width = std::size_t(n);
    return item;
}

// ---- trace file ----

std::string TraceBlockHeader(uint8_t kind) {
    switch (kind) {
    case 'R':
        return "Receive: ";
    case 'T':
        return "Transmit: ";
    default:
        return std::string("Special-") + char(kind) + ": ";
    }
}

// `count` entries of `buffer` (two bytes each, `size` entries) from `start`, wrapping.
void WriteTraceEntries(TextFile& file, const uint8_t* buffer, uint32_t size, uint32_t start,
                       uint32_t count, bool inHex, bool allHex) {
    std::optional<uint8_t> kind;
    std::size_t column = 0;
    uint32_t index = start;
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t entryKind = buffer[2 * index];
        const uint8_t byte = buffer[2 * index + 1];
        index = index + 1 == size ? 0 : index + 1;
        if (kind != entryKind) {
            if (kind.has_value()) {
                file.Put(kCrLf);
                file.Put(kCrLf);
            }
            file.Put(TraceBlockHeader(entryKind));
            file.Put(kCrLf);
            kind = entryKind;
            column = 0;
        }
        const Item item = ByteItem(byte, inHex, allHex);
        column += item.Width;
        if (column > kLineLimit) {
            file.Put(kCrLf);
            column = item.Width;
        }
        file.Put(item.View());
    }
}

// ---- log entries and file ----

struct EntryHeader {
    uint8_t Type = 0;
    uint8_t Subtype = 0;
    uint32_t Time = 0;
    uint32_t Data = 0;
    uint32_t Length = 0;
};

using RawHeader = std::array<uint8_t, kEntryHeaderSize>;

RawHeader EncodeHeader(const EntryHeader& h) {
    RawHeader raw{};
    raw[0] = h.Type;
    raw[1] = h.Subtype;
    std::memcpy(&raw[4], &h.Time, 4);
    std::memcpy(&raw[8], &h.Data, 4);
    std::memcpy(&raw[12], &h.Length, 4);
    return raw;
}

EntryHeader DecodeHeader(const RawHeader& raw) {
    EntryHeader h;
    h.Type = raw[0];
    h.Subtype = raw[1];
    std::memcpy(&h.Time, &raw[4], 4);
    std::memcpy(&h.Data, &raw[8], 4);
    std::memcpy(&h.Length, &raw[12], 4);
    return h;
}

// The names the log file uses, looked up in the message table once per write.
class LogVocabulary {
public:
    const std::string& TypeName(uint8_t type) {
        return Lookup(types_[type], msgLogTypeBase + type);
    }
    const std::string& SubtypeName(uint8_t subtype) {
        return Lookup(subtypes_[subtype], msgLogSubtypeBase + subtype);
    }
    const std::string& ModemBitName(int bit) {
        return Lookup(modemBits_[std::size_t(bit)], msgModemBitBase + bit);
    }
    const std::string& TelnetOption(uint32_t option) {
        return Lookup(telnet_[option], msgTelnetOptionBase + int32_t(option));
    }

private:
    static const std::string& Lookup(std::optional<std::string>& slot, int32_t message) {
        if (!slot.has_value())
            slot = ErrorMessageText(message);
        return *slot;
    }

    std::array<std::optional<std::string>, 256> types_;
    std::array<std::optional<std::string>, 256> subtypes_;
    std::array<std::optional<std::string>, 8> modemBits_;
    std::array<std::optional<std::string>, msgTelnetOptionLast + 1> telnet_;
};

std::string PadRight(std::string text, std::size_t width) {
    if (text.size() < width)
        text.append(width - text.size(), ' ');
    return text;
}

std::string PadLeft(const std::string& text, std::size_t width) {
    return text.size() < width ? std::string(width - text.size(), ' ') + text : text;
}

// Milliseconds as seconds with three decimals, at least seven digits: 1234 -> 0001.234.
std::string TimeText(uint32_t ms) {
    std::array<char, 20> text{};
    std::snprintf(text.data(), text.size(), "%04u.%03u", unsigned(ms / 1000), unsigned(ms % 1000));
    return text.data();
}

// Time, type, subtype and data in their columns; 44 characters for the known names.
std::string EntryPrefix(const EntryHeader& h, LogVocabulary& names) {
    std::array<char, 12> data{};
    std::snprintf(data.data(), data.size(), "%08X", unsigned(h.Data));
    return PadLeft(TimeText(h.Time), 8) + "  " + PadRight(names.TypeName(h.Type), 8) + "  " +
           PadRight(names.SubtypeName(h.Subtype), 12) + "  " + data.data() + "  ";
}

std::string_view OutputStatusText(uint8_t which) {
    static constexpr std::array<std::string_view, 6> texts = {
        "(Not active)",         "(Modem status)",       "(Line status)",
        "(Output buffer free)", "(Output buffer used)", "(Output sent)"};
    return which < texts.size() ? texts[which] : std::string_view();
}

// "(" the names of the modem status bits set in `bits`, from bit 0, ")".
std::string ModemBitsText(uint32_t bits, LogVocabulary& names) {
    std::string text;
    for (int bit = 0; bit < 8; ++bit) {
        if ((bits & (1u << bit)) != 0)
            text += names.ModemBitName(bit);
    }
    const auto first = text.find_first_not_of(' ');
    const auto last = text.find_last_not_of(' ');
    text = first == std::string::npos ? std::string() : text.substr(first, last - first + 1);
    return "(" + text + ")";
}

// The extra bytes as items after the prefix; lines that would pass column 78 continue
// on a new line indented under the data.
void PutLogItems(TextFile& file, const EntryHeader& h, const uint8_t* extra, bool inHex,
                 bool allHex) {
    const bool asCharacters = allHex && h.Type == 19;
    std::size_t column = kLogDataColumn;
    for (uint32_t i = 0; i < h.Length; ++i) {
        const Item item = asCharacters ? CharItem(extra[i]) : ByteItem(extra[i], inHex, allHex);
        column += item.Width;
        if (column > kLineLimit) {
            file.Put(kCrLf);
            file.Put(kContinuation);
            column = item.Width + kLogDataColumn;
        }
        file.Put(item.View());
    }
}

void PutLogEntry(TextFile& file, const EntryHeader& h, const uint8_t* extra, LogVocabulary& names,
                 bool inHex, bool allHex) {
    file.Put(EntryPrefix(h, names));
    if (h.Length == 0) {
        if (h.Type == 10) {
            file.Put('[');
            if (h.Data <= uint32_t(msgTelnetOptionLast))
                file.Put(names.TelnetOption(h.Data));
            file.Put(']');
        }
    } else if ((h.Type == 5 || h.Type == 6) && h.Subtype == 15) {
        file.Put(OutputStatusText(extra[0]));
    } else {
        PutLogItems(file, h, extra, inHex, allHex);
        if (h.Subtype == 4)
            file.Put(ModemBitsText(h.Data, names));
    }
    file.Put(kCrLf);
}

std::string DateTimeText(const platform::LocalDateTime& t) {
    std::array<char, 96> text{};
    std::snprintf(text.data(), text.size(), "%02d/%02d/%02d, %02d:%02d:%02d", t.Day, t.Month,
                  t.Year % 100, t.Hour, t.Minute, t.Second);
    return std::string(text.data()).substr(0, 80);
}

void PutLogHeader(TextFile& file, const std::string& system, const std::string& device,
                  const std::string& dateTime) {
    const std::string lines[] = {
        "ORVI v4.05",
        "Compiler : Unknown",
        "Operating System : " + system,
        "Device: " + device,
        "Date/time: " + dateTime,
        "Time      Type      SubType       Data      OtherData",
        "--------  --------  ------------  --------  ---------",
    };
    for (const std::string& line : lines) {
        file.Put(line);
        file.Put(kCrLf);
    }
}

} // namespace

TOrvTraceLog::TOrvTraceLog() : clock_(MillisecondClock), localTime_(platform::LocalNow) {}

void TOrvTraceLog::Reset(uint32_t startTime) {
    std::lock_guard guard(lock_);
    TraceStopLocked();
    LogStopLocked();
    StartTime = startTime;
}

void TOrvTraceLog::SetDeviceName(const std::string& name) {
    std::lock_guard guard(lock_);
    DeviceName = name;
}

void TOrvTraceLog::SetScratchSize(uint32_t size) {
    std::lock_guard guard(lock_);
    ScratchHint = size;
}

void TOrvTraceLog::SetClock(std::function<uint32_t()> clock) {
    std::lock_guard guard(lock_);
    clock_ = std::move(clock);
}

void TOrvTraceLog::SetLocalTime(std::function<platform::LocalDateTime()> localTime) {
    std::lock_guard guard(lock_);
    localTime_ = std::move(localTime);
}

// ---- trace ----

int32_t TOrvTraceLog::TraceStart(uint32_t entries) {
    std::lock_guard guard(lock_);
    if (TraceBuffer) {
        TraceClearLocked();
    } else if (entries > kMaxTraceEntries) {
        return ecBadArgument;
    } else if (entries > 0) {
        // Zero-filled, allocated here so that recording never allocates.
        std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[2 * std::size_t(entries)]());
        if (!buffer)
            return ecOutOfMemory;
        TraceBuffer = std::move(buffer);
        TraceSize = entries;
        TraceClearLocked();
    }
    // A trace of 0 entries is on but has nowhere to record.
    traceOn_ = true;
    return 0;
}

void TOrvTraceLog::TraceStop() {
    std::lock_guard guard(lock_);
    TraceStopLocked();
}

int32_t TOrvTraceLog::TraceClear() {
    std::lock_guard guard(lock_);
    TraceClearLocked();
    return 0;
}

void TOrvTraceLog::TracePause() {
    std::lock_guard guard(lock_);
    traceOn_ = false;
}

void TOrvTraceLog::TraceResume() {
    std::lock_guard guard(lock_);
    if (TraceBuffer)
        traceOn_ = true;
}

bool TOrvTraceLog::TraceExists() {
    std::lock_guard guard(lock_);
    return TraceBuffer != nullptr;
}

void TOrvTraceLog::TraceRecord(uint8_t kind, uint8_t byte) {
    TraceBlock(kind, &byte, 1);
}

void TOrvTraceLog::TraceBlock(uint8_t kind, const uint8_t* bytes, uint32_t count) {
    std::lock_guard guard(lock_);
    if (!traceOn_ || !TraceBuffer)
        return;
    for (uint32_t i = 0; i < count; ++i) {
        TraceBuffer[2 * std::size_t(TraceIndex)] = kind;
        TraceBuffer[2 * std::size_t(TraceIndex) + 1] = bytes[i];
        if (++TraceIndex == TraceSize) {
            TraceIndex = 0;
            TraceWrapped = true;
        }
    }
}

int32_t TOrvTraceLog::TraceWrite(const std::string& name, bool append, bool inHex, bool allHex) {
    std::lock_guard guard(lock_);
    if (!TraceBuffer)
        return 0;
    traceOn_ = false;
    if (!TraceWrapped && TraceIndex == 0) {
        TraceStopLocked();
        return 0;
    }
    TextFile file;
    int32_t result = file.Open(name, append);
    if (result == 0) {
        const uint32_t start = TraceWrapped ? TraceIndex : 0;
        const uint32_t count = TraceWrapped ? TraceSize : TraceIndex;
        WriteTraceEntries(file, TraceBuffer.get(), TraceSize, start, count, inHex, allHex);
        result = file.Close();
    }
    TraceStopLocked();
    return result;
}

void TOrvTraceLog::TraceStopLocked() {
    traceOn_ = false;
    TraceBuffer.reset();
    TraceSize = 0;
    TraceClearLocked();
}

void TOrvTraceLog::TraceClearLocked() {
    TraceIndex = 0;
    TraceWrapped = false;
}

// ---- log ----

void TOrvTraceLog::LogStart(uint32_t size) {
    std::lock_guard guard(lock_);
    if (LogBuffer) {
        LogClearLocked();
        return;
    }
    if (size > 0) {
        // The scratch takes the extra bytes of any entry the log can hold.
        const uint32_t largestEntry = size > kEntryHeaderSize ? size - kEntryHeaderSize : 0;
        const uint32_t scratchSize = std::max({ScratchHint, largestEntry, 1u});
        std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[size]);
        std::unique_ptr<uint8_t[]> scratch(new (std::nothrow) uint8_t[scratchSize]);
        if (!buffer || !scratch)
            return;
        LogBuffer = std::move(buffer);
        LogScratch = std::move(scratch);
        ScratchSize = scratchSize;
        LogSize = size;
        LogClearLocked();
    }
    // A log of 0 bytes is on but drops every entry.
    logOn_ = true;
}

void TOrvTraceLog::LogStop() {
    std::lock_guard guard(lock_);
    LogStopLocked();
}

void TOrvTraceLog::LogClear() {
    std::lock_guard guard(lock_);
    LogClearLocked();
}

void TOrvTraceLog::LogPause() {
    std::lock_guard guard(lock_);
    logOn_ = false;
}

void TOrvTraceLog::LogResume() {
    std::lock_guard guard(lock_);
    if (LogBuffer)
        logOn_ = true;
}

bool TOrvTraceLog::LogExists() {
    std::lock_guard guard(lock_);
    return LogBuffer != nullptr;
}

void TOrvTraceLog::LogRecord(uint8_t type, uint8_t subtype, uint32_t data, const uint8_t* extra,
                             uint32_t extraLength) {
    if (extra == nullptr)
        extraLength = 0;
    std::lock_guard guard(lock_);
    if (!logOn_ || !LogBuffer)
        return;
    // An entry that cannot fit is dropped whole rather than overwrite itself.
    const uint64_t entrySize = uint64_t(kEntryHeaderSize) + extraLength;
    if (entrySize >= LogSize)
        return;
    EntryHeader h;
    h.Type = type;
    h.Subtype = subtype;
    h.Time = clock_() - StartTime;
    h.Data = data;
    h.Length = extraLength;
    while (LogFree < entrySize)
        LogDropOldest();
    const RawHeader raw = EncodeHeader(h);
    LogPut(raw.data(), kEntryHeaderSize);
    LogPut(extra, extraLength);
}

int32_t TOrvTraceLog::LogWrite(const std::string& name, bool append, bool inHex, bool allHex) {
    const std::string system = platform::OperatingSystemDescription();
    std::lock_guard guard(lock_);
    if (!LogBuffer || LogFree == LogSize) {
        LogStopLocked();
        return 0;
    }
    logOn_ = false;
    TextFile file;
    const int32_t opened = file.Open(name, append);
    if (opened != 0)
        return opened;
    PutLogHeader(file, system, DeviceName, DateTimeText(localTime_()));
    // Entries are read through a cursor, so a failed write leaves every one in place.
    LogVocabulary names;
    uint32_t pos = LogTail;
    for (uint32_t held = LogSize - LogFree; held > 0;) {
        RawHeader raw{};
        LogCopyOut(pos, raw.data(), kEntryHeaderSize);
        const EntryHeader h = DecodeHeader(raw);
        LogCopyOut(pos, LogScratch.get(), h.Length);
        PutLogEntry(file, h, LogScratch.get(), names, inHex, allHex);
        held -= kEntryHeaderSize + h.Length;
    }
    const int32_t result = file.Close();
    if (result == 0)
        LogStopLocked();
    return result;
}

void TOrvTraceLog::LogStopLocked() {
    logOn_ = false;
    LogBuffer.reset();
    LogScratch.reset();
    ScratchSize = 0;
    LogSize = 0;
    LogClearLocked();
}

void TOrvTraceLog::LogClearLocked() {
    LogHead = 0;
    LogTail = 0;
    LogFree = LogSize;
}

// Copies n bytes in at LogHead, wrapping at the end of the ring. The caller has made
// room (LogFree >= n).
void TOrvTraceLog::LogPut(const uint8_t* bytes, uint32_t n) {
    if (n == 0)
        return;
    const uint32_t first = std::min(n, LogSize - LogHead);
    std::memcpy(LogBuffer.get() + LogHead, bytes, first);
    std::memcpy(LogBuffer.get(), bytes + first, n - first);
    LogHead = n - first > 0 ? n - first : LogHead + first;
    if (LogHead == LogSize)
        LogHead = 0;
    LogFree -= n;
}

// Copies n bytes out from `pos`, wrapping, and advances `pos`. `out` holds n bytes: an
// entry's extra bytes never exceed ScratchSize.
void TOrvTraceLog::LogCopyOut(uint32_t& pos, uint8_t* out, uint32_t n) const {
    const uint32_t first = std::min(n, LogSize - pos);
    std::memcpy(out, LogBuffer.get() + pos, first);
    std::memcpy(out + first, LogBuffer.get(), n - first);
    pos = n - first > 0 ? n - first : pos + first;
    if (pos == LogSize)
        pos = 0;
}

// Frees the space of the oldest entry; its bytes are not needed.
void TOrvTraceLog::LogDropOldest() {
    if (LogFree == LogSize)
        return;
    RawHeader raw{};
    uint32_t pos = LogTail;
    LogCopyOut(pos, raw.data(), kEntryHeaderSize);
    const uint32_t length = DecodeHeader(raw).Length;
    LogTail = uint32_t((uint64_t(pos) + length) % LogSize);
    LogFree += kEntryHeaderSize + length;
}

} // namespace orvi
