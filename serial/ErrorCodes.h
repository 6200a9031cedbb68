#pragma once
// Result codes of the serial component, its dispatcher, triggers and trace/log, and
// the message numbers of the dispatch log's vocabulary. A result code is a 32-bit
// signed integer: 0 success, negative a failure, positive a count, state or text
// identifier. The message text of every code is ErrorMessageText (MessageTable.h).
#include <cstdint>

namespace orvi {

constexpr int32_t ecOK = 0; // success

// File and device errors: the operating system's and the run-time library's
// input/output error numbers, negated (-2 .. -162).
constexpr int32_t ecFileNotFound = -2;     // no such file or device
constexpr int32_t ecPathNotFound = -3;     // no such path or device
constexpr int32_t ecTooManyOpenFiles = -4; // out of file handles
constexpr int32_t ecAccessDenied = -5;     // file or port held elsewhere, or read-only
constexpr int32_t ecInvalidHandle = -6;    // file handle not valid
constexpr int32_t ecOutOfMemory = -8;      // memory or system objects could not be had
constexpr int32_t ecInvalidDrive = -15;    // no such drive
constexpr int32_t ecNoMoreFiles = -18;     // directory search exhausted
constexpr int32_t ecReadBeyondEof = -100;  // read past the end of a file
constexpr int32_t ecDiskFull = -101;       // write failed for lack of space
constexpr int32_t ecFileNotAssigned = -102;
constexpr int32_t ecFileNotOpen = -103;
constexpr int32_t ecFileNotOpenForInput = -104;
constexpr int32_t ecFileNotOpenForOutput = -105;
constexpr int32_t ecWriteProtected = -150;
constexpr int32_t ecDeviceWriteError = -160;
constexpr int32_t ecDeviceReadError = -161;
constexpr int32_t ecGeneralFailure = -162;
constexpr int32_t ecFirstFileError = -162; // file and device errors span -162 .. -2
constexpr int32_t ecLastFileError = -2;
// Operating-system error 995, negated: an overlapped operation was cancelled.
constexpr int32_t ecOperationAborted = -995;

// General.
constexpr int32_t ecBadHandle = -1001;            // bad handle passed to a com function
constexpr int32_t ecBadArgument = -1002;          // argument out of range
constexpr int32_t ecGotQuitMsg = -1003;           // a quit message arrived while waiting
constexpr int32_t ecBufferTooBig = -1004;         // terminal buffer above 65521 bytes
constexpr int32_t ecPortNotAssigned = -1005;      // no com port component attached
constexpr int32_t ecInternal = -1006;             // internal failure (window class)
constexpr int32_t ecModemNotAssigned = -1007;     // no modem component attached
constexpr int32_t ecPhonebookNotAssigned = -1008; // no phonebook component attached
constexpr int32_t ecCannotUseWithWinSock = -1009; // component cannot work over WinSock

// Opening a port.
constexpr int32_t ecBadId = -2001;           // the named port does not exist
constexpr int32_t ecBaudRate = -2002;        // unsupported line speed
constexpr int32_t ecByteSize = -2003;        // invalid number of data bits
constexpr int32_t ecDefault = -2004;         // invalid default parameters
constexpr int32_t ecHardware = -2005;        // port in use
constexpr int32_t ecMemory = -2006;          // queues could not be allocated
constexpr int32_t ecCommNotOpen = -2007;     // operation needs an open port
constexpr int32_t ecAlreadyOpen = -2008;     // port already open (held by another program)
constexpr int32_t ecNoHandles = -2009;       // no free dispatcher handle
constexpr int32_t ecNoTimers = -2010;        // no timer available
constexpr int32_t ecNoPortSelected = -2011;  // ComNumber was never set
constexpr int32_t ecNotOpenedByTapi = -2012; // telephony mode without a device handle

// Serial input and output.
constexpr int32_t ecNullApi = -3001;               // no device layer selected
constexpr int32_t ecNotSupported = -3002;          // the driver lacks the function
constexpr int32_t ecRegisterHandlerFailed = -3003; // notification could not be enabled
constexpr int32_t ecPutBlockFail = -3004;          // the device took none of a block
constexpr int32_t ecGetBlockFail = -3005;          // fewer bytes available than asked
constexpr int32_t ecOutputBufferTooSmall = -3006;  // block larger than the free output space
constexpr int32_t ecBufferIsEmpty = -3007;         // nothing to read
constexpr int32_t ecTracingNotEnabled = -3008;     // trace operation while tracing is off
constexpr int32_t ecLoggingNotEnabled = -3009;     // log operation while logging is off
constexpr int32_t ecBaseAddressNotSet = -3010;     // RS-485 needs the UART base address

// Modem.
constexpr int32_t ecModemNotStarted = -4001;
constexpr int32_t ecModemBusy = -4002;
constexpr int32_t ecModemNotDialing = -4003;
constexpr int32_t ecNotDialing = -4004;
constexpr int32_t ecAlreadyDialing = -4005;
constexpr int32_t ecModemNotResponding = -4006;
constexpr int32_t ecModemRejectedCommand = -4007;
constexpr int32_t ecModemStatusMismatch = -4008;

// Triggers.
constexpr int32_t ecNoMoreTriggers = -5001;   // every trigger slot is taken
constexpr int32_t ecTriggerTooLong = -5002;   // data trigger longer than allowed
constexpr int32_t ecBadTriggerHandle = -5003; // no trigger with that handle

// Message numbers of the dispatch log's vocabulary (positive, looked up with
// ErrorMessageText like any code).
constexpr int32_t msgLogTypeBase = 15001;      // + entry type (0 .. 20): type name
constexpr int32_t msgLogSubtypeBase = 15100;   // + entry subtype: subtype name, 0 is empty
constexpr int32_t msgModemBitBase = 15601;     // + bit (0 .. 7): modem status bit name
constexpr int32_t msgTelnetOptionBase = 15700; // + option (0 .. 42): telnet option name
constexpr int32_t msgTelnetOptionLast = 42;

} // namespace orvi
