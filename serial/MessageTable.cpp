#include "serial/MessageTable.h"

#include "platform/SystemError.h"

#include <span>

namespace orvi {

namespace {

// Sorted by ascending magnitude. Texts of the modem, protocol, settings-file, fax and
// telephony ranges cover the codes that map to exception classes; the serial paths of
// this console produce none of them.
constexpr ErrorMessageEntry kEntries[] = {
    ErrorMessageEntry{0, "OK"},
    // File and device errors, by magnitude.
    ErrorMessageEntry{2, "File not found"},
    ErrorMessageEntry{3, "Path not found"},
    ErrorMessageEntry{4, "Too many open files"},
    ErrorMessageEntry{5, "File access denied"},
    ErrorMessageEntry{6, "Invalid file handle"},
    ErrorMessageEntry{8, "Insufficient memory"},
    ErrorMessageEntry{15, "Invalid drive"},
    ErrorMessageEntry{18, "No more files"},
    ErrorMessageEntry{100, "Attempt to read beyond end of file"},
    ErrorMessageEntry{101, "Disk is full"},
    ErrorMessageEntry{102, "File/device not assigned"},
    ErrorMessageEntry{103, "File/device not open"},
    ErrorMessageEntry{104, "File/device not open for input"},
    ErrorMessageEntry{105, "File/device not open for output"},
    ErrorMessageEntry{150, "Disk is write-protected"},
    ErrorMessageEntry{151, "Unknown disk unit"},
    ErrorMessageEntry{152, "Drive is not ready"},
    ErrorMessageEntry{153, "Unknown command"},
    ErrorMessageEntry{154, "Data error"},
    ErrorMessageEntry{155, "Bad request structure length"},
    ErrorMessageEntry{156, "Seek error"},
    ErrorMessageEntry{157, "Unknown media type"},
    ErrorMessageEntry{158, "Disk sector not found"},
    ErrorMessageEntry{159, "Printer is out of paper"},
    ErrorMessageEntry{160, "Device write error"},
    ErrorMessageEntry{161, "Device read error"},
    ErrorMessageEntry{162, "General failure"},
    // General.
    ErrorMessageEntry{-1001, "Bad handle passed to com function"},
    ErrorMessageEntry{-1002, "Bad argument passed to function"},
    ErrorMessageEntry{-1003, "Got quit message"},
    ErrorMessageEntry{-1004, "Terminal buffer greater than 65521"},
    ErrorMessageEntry{-1005, "ComPort component not assigned"},
    ErrorMessageEntry{-1006, "Internal error creating window class"},
    ErrorMessageEntry{-1007, "Modem component not assigned"},
    ErrorMessageEntry{-1008, "Phonebook component not assigned"},
    ErrorMessageEntry{-1009, "Component not compatible with WinSock"},
    // Opening a port.
    ErrorMessageEntry{-2001, "ie_BadId - Specified comport doesn't exist"},
    ErrorMessageEntry{-2002, "ie_Baudrate - unsupported baud rate"},
    ErrorMessageEntry{-2003, "ie_Bytesize - invalid byte size"},
    ErrorMessageEntry{-2004, "ie_Default - error in default parameters"},
    ErrorMessageEntry{-2005, "ie_Hardware - Specified comport in use"},
    ErrorMessageEntry{-2006, "ie_Memory - unable to allocate queues"},
    ErrorMessageEntry{-2007, "ie_NOpen - device not open"},
    ErrorMessageEntry{-2008, "ie_Open - device already open"},
    ErrorMessageEntry{-2009, "No more handles, can't open port"},
    ErrorMessageEntry{-2010, "No timers available"},
    ErrorMessageEntry{-2011, "The ComNumber property of the TOrvComPort has not been set"},
    ErrorMessageEntry{-2012, "Comport was not opened by Tapi"},
    // Serial input and output.
    ErrorMessageEntry{-3001, "No device layer specified"},
    ErrorMessageEntry{-3002, "Function not supported by driver"},
    ErrorMessageEntry{-3003, "EnableCommNotification failed"},
    ErrorMessageEntry{-3004, "Failed to put entire block"},
    ErrorMessageEntry{-3005, "Failed to get entire block"},
    ErrorMessageEntry{-3006, "Output buffer too small for block"},
    ErrorMessageEntry{-3007, "Buffer is empty"},
    ErrorMessageEntry{-3008, "Tracing not enabled"},
    ErrorMessageEntry{-3009, "Logging not enabled"},
    ErrorMessageEntry{-3010, "Base address not set"},
    // Modem.
    ErrorMessageEntry{-4001, "Modem not started"},
    ErrorMessageEntry{-4002, "Modem is busy"},
    ErrorMessageEntry{-4003, "Modem is not dialing"},
    ErrorMessageEntry{-4004, "Not dialing"},
    ErrorMessageEntry{-4005, "Already dialing"},
    ErrorMessageEntry{-4006, "Modem not responding"},
    ErrorMessageEntry{-4007, "Modem rejected command"},
    ErrorMessageEntry{-4008, "Modem status mismatch"},
    // Triggers.
    ErrorMessageEntry{-5001, "No more trigger slots"},
    ErrorMessageEntry{-5002, "Data trigger too long"},
    ErrorMessageEntry{-5003, "Bad trigger handle"},
    // File-transfer protocols.
    ErrorMessageEntry{-6006, "File transfer protocol error 6006"},
    ErrorMessageEntry{-6008, "File transfer protocol error 6008"},
    ErrorMessageEntry{-6009, "File transfer protocol error 6009"},
    // Settings files and their record store.
    ErrorMessageEntry{-7001, "Key string too long"},
    ErrorMessageEntry{-7002, "Data too large for settings file"},
    ErrorMessageEntry{-7003, "Internal settings file error"},
    ErrorMessageEntry{-7004, "Error writing settings file"},
    ErrorMessageEntry{-7005, "Error reading settings file"},
    ErrorMessageEntry{-7006, "Internal record store error"},
    ErrorMessageEntry{-7007, "Record already exists"},
    ErrorMessageEntry{-7008, "Record not found"},
    ErrorMessageEntry{-7010, "Record store is full"},
    ErrorMessageEntry{-7011, "Record store is empty"},
    ErrorMessageEntry{-7012, "Internal record store index error"},
    ErrorMessageEntry{-7013, "Bad field list"},
    ErrorMessageEntry{-7014, "Bad field for index"},
    // Fax.
    ErrorMessageEntry{-8001, "Bad fax file format"},
    ErrorMessageEntry{-8002, "Bad graphics file format"},
    ErrorMessageEntry{-8003, "Conversion aborted"},
    ErrorMessageEntry{-8004, "Unpacking aborted"},
    ErrorMessageEntry{-8005, "Unable to create bitmap"},
    ErrorMessageEntry{-8053, "Invalid page number"},
    ErrorMessageEntry{-8060, "Remote machine is not a compatible fax"},
    ErrorMessageEntry{-8061, "Unexpected modem result"},
    ErrorMessageEntry{-8062, "Fax training error"},
    ErrorMessageEntry{-8063, "Fax initialization error"},
    ErrorMessageEntry{-8064, "Fax line busy"},
    ErrorMessageEntry{-8065, "Voice call answered"},
    ErrorMessageEntry{-8066, "Data call answered"},
    ErrorMessageEntry{-8067, "No dial tone"},
    ErrorMessageEntry{-8068, "No carrier"},
    ErrorMessageEntry{-8069, "Fax session error"},
    ErrorMessageEntry{-8070, "Fax page error"},
    // Telephony and remote access.
    ErrorMessageEntry{-13801, "TAPI: line or phone already allocated"},
    ErrorMessageEntry{-13802, "TAPI: bad device ID"},
    ErrorMessageEntry{-13803, "TAPI: bearer mode unavailable"},
    ErrorMessageEntry{-13805, "TAPI: call unavailable"},
    ErrorMessageEntry{-13806, "TAPI: completion overrun"},
    ErrorMessageEntry{-13807, "TAPI: conference full"},
    ErrorMessageEntry{-13808, "TAPI: billing tone dialing not supported"},
    ErrorMessageEntry{-13809, "TAPI: waiting for dial tone not supported"},
    ErrorMessageEntry{-13810, "TAPI: dial prompt not supported"},
    ErrorMessageEntry{-13811, "TAPI: waiting for quiet not supported"},
    ErrorMessageEntry{-13812, "TAPI: incompatible API version"},
    ErrorMessageEntry{-13813, "TAPI: incompatible extension version"},
    ErrorMessageEntry{-13814, "TAPI: configuration file corrupt"},
    ErrorMessageEntry{-13815, "TAPI: device in use"},
    ErrorMessageEntry{-13816, "TAPI: invalid address"},
    ErrorMessageEntry{-13817, "TAPI: invalid address ID"},
    ErrorMessageEntry{-13818, "TAPI: invalid address mode"},
    ErrorMessageEntry{-13819, "TAPI: invalid address state"},
    ErrorMessageEntry{-13820, "TAPI: invalid application handle"},
    ErrorMessageEntry{-13821, "TAPI: invalid application name"},
    ErrorMessageEntry{-13822, "TAPI: invalid bearer mode"},
    ErrorMessageEntry{-13823, "TAPI: invalid call completion mode"},
    ErrorMessageEntry{-13824, "TAPI: invalid call handle"},
    ErrorMessageEntry{-13825, "TAPI: invalid call parameters"},
    ErrorMessageEntry{-13826, "TAPI: invalid call privilege"},
    ErrorMessageEntry{-13827, "TAPI: invalid call select"},
    ErrorMessageEntry{-13828, "TAPI: invalid call state"},
    ErrorMessageEntry{-13829, "TAPI: invalid call state list"},
    ErrorMessageEntry{-13830, "TAPI: invalid calling card"},
    ErrorMessageEntry{-13831, "TAPI: invalid completion ID"},
    ErrorMessageEntry{-13832, "TAPI: invalid conference call handle"},
    ErrorMessageEntry{-13833, "TAPI: invalid consultation call handle"},
    ErrorMessageEntry{-13834, "TAPI: invalid country code"},
    ErrorMessageEntry{-13835, "TAPI: invalid device class"},
    ErrorMessageEntry{-13836, "TAPI: invalid device handle"},
    ErrorMessageEntry{-13837, "TAPI: invalid dial parameters"},
    ErrorMessageEntry{-13838, "TAPI: invalid digit list"},
    ErrorMessageEntry{-13839, "TAPI: invalid digit mode"},
    ErrorMessageEntry{-13840, "TAPI: invalid digits"},
    ErrorMessageEntry{-13841, "TAPI: invalid extension version"},
    ErrorMessageEntry{-13842, "TAPI: invalid group ID"},
    ErrorMessageEntry{-13843, "TAPI: invalid line handle"},
    ErrorMessageEntry{-13844, "TAPI: invalid line state"},
    ErrorMessageEntry{-13845, "TAPI: invalid location"},
    ErrorMessageEntry{-13846, "TAPI: invalid media list"},
    ErrorMessageEntry{-13847, "TAPI: invalid media mode"},
    ErrorMessageEntry{-13848, "TAPI: invalid message ID"},
    ErrorMessageEntry{-13850, "TAPI: invalid parameter"},
    ErrorMessageEntry{-13851, "TAPI: invalid park ID"},
    ErrorMessageEntry{-13852, "TAPI: invalid park mode"},
    ErrorMessageEntry{-13853, "TAPI: invalid pointer"},
    ErrorMessageEntry{-13854, "TAPI: invalid privilege select"},
    ErrorMessageEntry{-13855, "TAPI: invalid rate"},
    ErrorMessageEntry{-13856, "TAPI: invalid request mode"},
    ErrorMessageEntry{-13857, "TAPI: invalid terminal ID"},
    ErrorMessageEntry{-13858, "TAPI: invalid terminal mode"},
    ErrorMessageEntry{-13859, "TAPI: invalid timeout"},
    ErrorMessageEntry{-13860, "TAPI: invalid tone"},
    ErrorMessageEntry{-13861, "TAPI: invalid tone list"},
    ErrorMessageEntry{-13862, "TAPI: invalid tone mode"},
    ErrorMessageEntry{-13863, "TAPI: invalid transfer mode"},
    ErrorMessageEntry{-13864, "TAPI: line mapper failed"},
    ErrorMessageEntry{-13865, "TAPI: no conference"},
    ErrorMessageEntry{-13866, "TAPI: no device"},
    ErrorMessageEntry{-13867, "TAPI: no driver"},
    ErrorMessageEntry{-13868, "TAPI: out of memory"},
    ErrorMessageEntry{-13869, "TAPI: no request"},
    ErrorMessageEntry{-13870, "TAPI: not owner"},
    ErrorMessageEntry{-13871, "TAPI: not registered"},
    ErrorMessageEntry{-13872, "TAPI: operation failed"},
    ErrorMessageEntry{-13873, "TAPI: operation unavailable"},
    ErrorMessageEntry{-13874, "TAPI: rate unavailable"},
    ErrorMessageEntry{-13875, "TAPI: resource unavailable"},
    ErrorMessageEntry{-13876, "TAPI: request overrun"},
    ErrorMessageEntry{-13877, "TAPI: structure too small"},
    ErrorMessageEntry{-13878, "TAPI: target not found"},
    ErrorMessageEntry{-13879, "TAPI: target is self"},
    ErrorMessageEntry{-13880, "TAPI: not initialized"},
    ErrorMessageEntry{-13881, "TAPI: user-to-user information too big"},
    ErrorMessageEntry{-13882, "TAPI: reinitialization required"},
    ErrorMessageEntry{-13883, "TAPI: address blocked"},
    ErrorMessageEntry{-13884, "TAPI: billing rejected"},
    ErrorMessageEntry{-13885, "TAPI: invalid feature"},
    ErrorMessageEntry{-13886, "TAPI: multiple instances not allowed"},
    ErrorMessageEntry{-13928, "TAPI: line busy"},
    ErrorMessageEntry{-13929, "TAPI: device not set"},
    ErrorMessageEntry{-13930, "TAPI: no device selected"},
    ErrorMessageEntry{-13931, "Unable to load the TAPI library"},
    ErrorMessageEntry{-13932, "TAPI: unable to get address"},
    ErrorMessageEntry{-13935, "TAPI: voice not supported by device"},
    ErrorMessageEntry{-13936, "TAPI: wave device failure"},
    ErrorMessageEntry{-13942, "TAPI: address translation failed"},
    ErrorMessageEntry{-13980, "Unable to load the remote access library"},
    // Dispatch log: entry type names (15001 + type).
    ErrorMessageEntry{15001, "No event"},
    ErrorMessageEntry{15002, "Dispatch"},
    ErrorMessageEntry{15003, "Trigger"},
    ErrorMessageEntry{15004, "Error"},
    ErrorMessageEntry{15005, "Thread"},
    ErrorMessageEntry{15006, "TrigAllc"},
    ErrorMessageEntry{15007, "TrigDisp"},
    ErrorMessageEntry{15008, "TrgHdAlc"},
    ErrorMessageEntry{15009, "TrgHdDsp"},
    ErrorMessageEntry{15010, "TrDatChg"},
    ErrorMessageEntry{15011, "Telnet"},
    ErrorMessageEntry{15012, "Fax"},
    ErrorMessageEntry{15013, "XModem"},
    ErrorMessageEntry{15014, "YModem"},
    ErrorMessageEntry{15015, "ZModem"},
    ErrorMessageEntry{15016, "Kermit"},
    ErrorMessageEntry{15017, "Ascii"},
    ErrorMessageEntry{15018, "BPlus"},
    ErrorMessageEntry{15019, "Packet"},
    ErrorMessageEntry{15020, "User"},
    ErrorMessageEntry{15021, "Script"},
    // Dispatch log: entry subtype names (15100 + subtype; subtype 0 has none).
    ErrorMessageEntry{15100, ""},
    ErrorMessageEntry{15101, "ReadCom"},
    ErrorMessageEntry{15102, "WriteCom"},
    ErrorMessageEntry{15103, "Line status"},
    ErrorMessageEntry{15104, "Modem status"},
    ErrorMessageEntry{15105, "Avail"},
    ErrorMessageEntry{15106, "Timer"},
    ErrorMessageEntry{15107, "Data"},
    ErrorMessageEntry{15108, "Status"},
    ErrorMessageEntry{15109, "Start"},
    ErrorMessageEntry{15110, "Exit"},
    ErrorMessageEntry{15111, "Sleep"},
    ErrorMessageEntry{15112, "Wake"},
    ErrorMessageEntry{15113, "Data"},
    ErrorMessageEntry{15114, "Timer"},
    ErrorMessageEntry{15115, "Status"},
    ErrorMessageEntry{15116, "Avail"},
    ErrorMessageEntry{15117, "Window"},
    ErrorMessageEntry{15118, "Procedure"},
    ErrorMessageEntry{15119, "Method"},
    // Dispatch log: modem status bit names, each with one trailing space.
    ErrorMessageEntry{15601, "DCTS "},
    ErrorMessageEntry{15602, "DDSR "},
    ErrorMessageEntry{15603, "TERI "},
    ErrorMessageEntry{15604, "DDCD "},
    ErrorMessageEntry{15605, "CTS "},
    ErrorMessageEntry{15606, "DSR "},
    ErrorMessageEntry{15607, "RI "},
    ErrorMessageEntry{15608, "DCD "},
    // Dispatch log: telnet option names (15700 + option).
    ErrorMessageEntry{15700, "Binary Transmission"},
    ErrorMessageEntry{15701, "Echo"},
    ErrorMessageEntry{15702, "Reconnection"},
    ErrorMessageEntry{15703, "Suppress Go Ahead"},
    ErrorMessageEntry{15704, "Approx Message Size Negotiation"},
    ErrorMessageEntry{15705, "Status"},
    ErrorMessageEntry{15706, "Timing Mark"},
    ErrorMessageEntry{15707, "Remote Controlled Trans and Echo"},
    ErrorMessageEntry{15708, "Output Line Width"},
    ErrorMessageEntry{15709, "Output Page Size"},
    ErrorMessageEntry{15710, "Output Carriage-Return Disposition"},
    ErrorMessageEntry{15711, "Output Horizontal Tab Stops"},
    ErrorMessageEntry{15712, "Output Horizontal Tab Disposition"},
    ErrorMessageEntry{15713, "Output Formfeed Disposition"},
    ErrorMessageEntry{15714, "Output Vertical Tabstops"},
    ErrorMessageEntry{15715, "Output Vertical Tab Disposition"},
    ErrorMessageEntry{15716, "Output Linefeed Disposition"},
    ErrorMessageEntry{15717, "Extended ASCII"},
    ErrorMessageEntry{15718, "Logout"},
    ErrorMessageEntry{15719, "Byte Macro"},
    ErrorMessageEntry{15720, "Data Entry Terminal"},
    ErrorMessageEntry{15721, "SUPDUP"},
    ErrorMessageEntry{15722, "SUPDUP Output"},
    ErrorMessageEntry{15723, "Send Location"},
    ErrorMessageEntry{15724, "Terminal Type"},
    ErrorMessageEntry{15725, "End of Record"},
    ErrorMessageEntry{15726, "TACACS User Identification"},
    ErrorMessageEntry{15727, "Output Marking"},
    ErrorMessageEntry{15728, "Terminal Location Number"},
    ErrorMessageEntry{15729, "Telnet 3270 Regime"},
    ErrorMessageEntry{15730, "X.3 PAD"},
    ErrorMessageEntry{15731, "Negotiate About Window Size"},
    ErrorMessageEntry{15732, "Terminal Speed"},
    ErrorMessageEntry{15733, "Remote Flow Control"},
    ErrorMessageEntry{15734, "Linemode"},
    ErrorMessageEntry{15735, "X Display Location"},
    ErrorMessageEntry{15736, "Environment Option"},
    ErrorMessageEntry{15737, "Authentication Option"},
    ErrorMessageEntry{15738, "Encryption Option"},
    ErrorMessageEntry{15739, "New Environment Option"},
    ErrorMessageEntry{15740, "TN3270E"},
    ErrorMessageEntry{15741, "XAUTH"},
    ErrorMessageEntry{15742, "CHARSET"},
};
constexpr std::span<const ErrorMessageEntry> kTable{kEntries};

// Magnitude of a code without overflow for INT32_MIN.
constexpr uint32_t Magnitude(int32_t code) {
    return code < 0 ? uint32_t(-int64_t(code)) : uint32_t(code);
}

constexpr bool IsWellFormed(const auto& table) {
    for (std::size_t i = 0; i < table.size(); ++i) {
        if (table[i].Text.size() > kMaxMessageLength || Magnitude(table[i].Code) > 0xFFFF)
            return false;
        if (i > 0 && Magnitude(table[i - 1].Code) >= Magnitude(table[i].Code))
            return false;
    }
    return true;
}
static_assert(IsWellFormed(kTable), "message table must be sorted by strictly ascending magnitude, "
                                    "16-bit magnitudes, texts of at most 255 characters");

// The integer nearest to (low + high) / 2; an exact half goes to the even index.
constexpr int NearestMiddle(int low, int high) {
    int sum = low + high;
    int middle = sum / 2;
    if (sum % 2 != 0 && middle % 2 != 0)
        ++middle;
    return middle;
}

const ErrorMessageEntry* FindEntry(uint32_t magnitude) {
    int low = 0;
    int high = int(kTable.size()) - 1;
    while (high >= low) {
        int middle = NearestMiddle(low, high);
        uint32_t found = Magnitude(kTable[middle].Code);
        if (found == magnitude)
            return &kTable[middle];
        if (found > magnitude)
            high = middle - 1;
        else
            low = middle + 1;
    }
    return nullptr;
}

} // namespace

std::span<const ErrorMessageEntry> ErrorMessageTable() {
    return kTable;
}

std::string CleanSystemText(std::string_view text) {
    std::string result;
    result.reserve(text.size());
    for (char c : text) {
        if (static_cast<unsigned char>(c) < ' ')
            c = ' ';
        if (c == ' ' && !result.empty() && result.back() == ' ')
            continue;
        result.push_back(c);
    }
    if (result.size() > kMaxMessageLength) {
        // Cut before a character whose UTF-8 bytes would not all fit (system texts in
        // Cyrillic take two bytes a letter).
        size_t length = kMaxMessageLength;
        while (length > 0 && (static_cast<unsigned char>(result[length]) & 0xC0) == 0x80)
            --length;
        result.resize(length);
    }
    return result;
}

std::string ErrorMessageText(int32_t code) {
    uint32_t magnitude = Magnitude(code);
    // Every entry's magnitude fits 16 bits; a larger magnitude is looked up only as a
    // system error number, never folded onto a table entry.
    if (magnitude <= 0xFFFF) {
        if (const ErrorMessageEntry* entry = FindEntry(magnitude))
            return std::string(entry->Text);
    }
    return CleanSystemText(platform::SystemErrorText(magnitude));
}

} // namespace orvi
