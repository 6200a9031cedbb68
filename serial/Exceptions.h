#pragma once
// The exceptions of the serial side and the routine that turns a negative result code
// into one of them.
//
// Every exception here derives from orvi::Exception, so a caller can catch all of
// them in one place. Exceptions are immutable values: copying one never throws, and
// any thread may throw, copy or read one.
#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <utility>

namespace orvi {

// The general exception root: a message text and a help context.
class Exception : public std::exception {
public:
    explicit Exception(std::string message, int32_t helpContext = 0);

    const std::string& Message() const noexcept { return *message_; }
    int32_t HelpContext() const noexcept { return helpContext_; }
    const char* what() const noexcept override { return message_->c_str(); }

private:
    // Shared so that copying an exception cannot throw.
    std::shared_ptr<const std::string> message_;
    int32_t helpContext_;
};

// The run-time library's input/output error: ErrorCode is the error number (positive).
class EInOutError : public Exception {
public:
    EInOutError(std::string message, int32_t errorCode)
        : Exception(std::move(message)), errorCode_(errorCode) {}
    int32_t ErrorCode() const noexcept { return errorCode_; }

private:
    int32_t errorCode_;
};

// The run-time library's out-of-memory error.
class EOutOfMemory : public Exception {
public:
    EOutOfMemory() : Exception("Out of memory") {}
};

// A failure of the serial component or its dispatcher.
class EORVException : public Exception {
public:
    // ErrorCode = code, message = ErrorMessageText(code).
    explicit EORVException(int32_t code);
    // ErrorCode = 0, message = text (a null text gives an empty message).
    explicit EORVException(std::string text);
    explicit EORVException(const char* text);

    int32_t ErrorCode() const noexcept { return errorCode_; }

private:
    int32_t errorCode_;
};

// Groups and classes add nothing to EORVException; they only let callers tell
// failures apart by type.
#define ORVI_DECLARE_EXCEPTION(Name, Parent)                                                       \
    class Name : public Parent {                                                                   \
    public:                                                                                        \
        using Parent::Parent;                                                                      \
    }

ORVI_DECLARE_EXCEPTION(EGeneral, EORVException);
ORVI_DECLARE_EXCEPTION(EBadArgument, EGeneral);
ORVI_DECLARE_EXCEPTION(EGotQuitMsg, EGeneral);
ORVI_DECLARE_EXCEPTION(EBufferTooBig, EGeneral);
ORVI_DECLARE_EXCEPTION(EPortNotAssigned, EGeneral);
ORVI_DECLARE_EXCEPTION(EInternal, EGeneral);
ORVI_DECLARE_EXCEPTION(EModemNotAssigned, EGeneral);
ORVI_DECLARE_EXCEPTION(EPhonebookNotAssigned, EGeneral);
ORVI_DECLARE_EXCEPTION(ECannotUseWithWinSock, EGeneral);

ORVI_DECLARE_EXCEPTION(EOpenComm, EORVException);
ORVI_DECLARE_EXCEPTION(EBadId, EOpenComm);
ORVI_DECLARE_EXCEPTION(EBaudRate, EOpenComm);
ORVI_DECLARE_EXCEPTION(EByteSize, EOpenComm);
ORVI_DECLARE_EXCEPTION(EDefault, EOpenComm);
ORVI_DECLARE_EXCEPTION(EHardware, EOpenComm);
ORVI_DECLARE_EXCEPTION(EMemory, EOpenComm);
ORVI_DECLARE_EXCEPTION(ECommNotOpen, EOpenComm);
ORVI_DECLARE_EXCEPTION(EAlreadyOpen, EOpenComm);
ORVI_DECLARE_EXCEPTION(ENoHandles, EOpenComm);
ORVI_DECLARE_EXCEPTION(ENoTimers, EOpenComm);
ORVI_DECLARE_EXCEPTION(ENoPortSelected, EOpenComm);
ORVI_DECLARE_EXCEPTION(ENotOpenedByTapi, EOpenComm);

ORVI_DECLARE_EXCEPTION(ESerialIO, EORVException);
ORVI_DECLARE_EXCEPTION(ENullApi, ESerialIO);
ORVI_DECLARE_EXCEPTION(ERegisterHandlerFailed, ESerialIO);
ORVI_DECLARE_EXCEPTION(EPutBlockFail, ESerialIO);
ORVI_DECLARE_EXCEPTION(EGetBlockFail, ESerialIO);
ORVI_DECLARE_EXCEPTION(EOutputBufferTooSmall, ESerialIO);
ORVI_DECLARE_EXCEPTION(EBufferIsEmpty, ESerialIO);
ORVI_DECLARE_EXCEPTION(ETracingNotEnabled, ESerialIO);
ORVI_DECLARE_EXCEPTION(ELoggingNotEnabled, ESerialIO);
ORVI_DECLARE_EXCEPTION(EBaseAddressNotSet, ESerialIO);

ORVI_DECLARE_EXCEPTION(EModem, EORVException);
ORVI_DECLARE_EXCEPTION(EModemNotStarted, EModem);
ORVI_DECLARE_EXCEPTION(EModemBusy, EModem);
ORVI_DECLARE_EXCEPTION(EModemNotDialing, EModem);
ORVI_DECLARE_EXCEPTION(EModemNotResponding, EModem);
ORVI_DECLARE_EXCEPTION(EModemRejectedCommand, EModem);
ORVI_DECLARE_EXCEPTION(EModemStatusMismatch, EModem);
ORVI_DECLARE_EXCEPTION(EAlreadyDialing, EModem);
ORVI_DECLARE_EXCEPTION(ENotDialing, EModem);

ORVI_DECLARE_EXCEPTION(ETrigger, EORVException);
ORVI_DECLARE_EXCEPTION(ENoMoreTriggers, ETrigger);
ORVI_DECLARE_EXCEPTION(ETriggerTooLong, ETrigger);
ORVI_DECLARE_EXCEPTION(EBadTriggerHandle, ETrigger);

ORVI_DECLARE_EXCEPTION(EProtocol, EORVException);

ORVI_DECLARE_EXCEPTION(EINI, EORVException);
ORVI_DECLARE_EXCEPTION(EKeyTooLong, EINI);
ORVI_DECLARE_EXCEPTION(EDataTooLarge, EINI);
ORVI_DECLARE_EXCEPTION(EIniWrite, EINI);
ORVI_DECLARE_EXCEPTION(EIniRead, EINI);
ORVI_DECLARE_EXCEPTION(ERecordExists, EINI);
ORVI_DECLARE_EXCEPTION(ERecordNotFound, EINI);
ORVI_DECLARE_EXCEPTION(EDatabaseFull, EINI);
ORVI_DECLARE_EXCEPTION(EDatabaseEmpty, EINI);
ORVI_DECLARE_EXCEPTION(EBadFieldList, EINI);
ORVI_DECLARE_EXCEPTION(EBadFieldForIndex, EINI);

ORVI_DECLARE_EXCEPTION(EFax, EORVException);
ORVI_DECLARE_EXCEPTION(EFaxBadFormat, EFax);
ORVI_DECLARE_EXCEPTION(EBadGraphicsFormat, EFax);
ORVI_DECLARE_EXCEPTION(EConvertAbort, EFax);
ORVI_DECLARE_EXCEPTION(EUnpackAbort, EFax);
ORVI_DECLARE_EXCEPTION(ECantMakeBitmap, EFax);
ORVI_DECLARE_EXCEPTION(EInvalidPageNumber, EFax);
ORVI_DECLARE_EXCEPTION(EFaxBadMachine, EFax);
ORVI_DECLARE_EXCEPTION(EFaxBadModemResult, EFax);
ORVI_DECLARE_EXCEPTION(EFaxTrainError, EFax);
ORVI_DECLARE_EXCEPTION(EFaxInitError, EFax);
ORVI_DECLARE_EXCEPTION(EFaxBusy, EFax);
ORVI_DECLARE_EXCEPTION(EFaxVoiceCall, EFax);
ORVI_DECLARE_EXCEPTION(EFaxDataCall, EFax);
ORVI_DECLARE_EXCEPTION(EFaxNoDialTone, EFax);
ORVI_DECLARE_EXCEPTION(EFaxNoCarrier, EFax);
ORVI_DECLARE_EXCEPTION(EFaxSessionError, EFax);
ORVI_DECLARE_EXCEPTION(EFaxPageError, EFax);

ORVI_DECLARE_EXCEPTION(ETapi, EORVException);
ORVI_DECLARE_EXCEPTION(ETapiAllocated, ETapi);
ORVI_DECLARE_EXCEPTION(ETapiBadDeviceID, ETapi);
ORVI_DECLARE_EXCEPTION(ETapiBearerModeUnavail, ETapi);
ORVI_DECLARE_EXCEPTION(ETapiCallUnavail, ETapi);
ORVI_DECLARE_EXCEPTION(ETapiCompletionOverrun, ETapi);
ORVI_DECLARE_EXCEPTION(ETapiConferenceFull, ETapi);
ORVI_DECLARE_EXCEPTION(ETapiDialBilling, ETapi);
ORVI_DECLARE_EXCEPTION(ETapiDialDialtone, ETapi);
ORVI_DECLARE_EXCEPTION(ETapiDialPrompt, ETapi);
ORVI_DECLARE_EXCEPTION(ETapiDialQuiet, ETapi);
ORVI_DECLARE_EXCEPTION(ETapiIncompatibleApiVersion, ETapi);
ORVI_DECLARE_EXCEPTION(ETapiIncompatibleExtVersion, ETapi);
ORVI_DECLARE_EXCEPTION(ETapiIniFileCorrupt, ETapi);
ORVI_DECLARE_EXCEPTION(ETapiInUse, ETapi);
ORVI_DECLARE_EXCEPTION(ETapiInvalAddress, ETapi);
ORVI_DECLARE_EXCEPTION(ETapiInvalAddressID, ETapi);
ORVI_DECLARE_EXCEPTION(ETapiInvalAddressMode, ETapi);
ORVI_DECLARE_EXCEPTION(ETapiInvalAddressState, ETapi);
ORVI_DECLARE_EXCEPTION(ETapiInvalAppHandle, ETapi);
ORVI_DECLARE_EXCEPTION(ETapiInvalAppName, ETapi);
ORVI_DECLARE_EXCEPTION(ETapiInvalBearerMode, ETapi);
ORVI_DECLARE_EXCEPTION(ETapiInvalCallComplMode, ETapi);
ORVI_DECLARE_EXCEPTION(ETapiInvalCallHandle, ETapi);
ORVI_DECLARE_EXCEPTION(ETapiInvalCallParams, ETapi);
ORVI_DECLARE_EXCEPTION(ETapiInvalCallPrivilege, ETapi);
ORVI_DECLARE_EXCEPTION(ETapiInvalCallSelect, ETapi);
ORVI_DECLARE_EXCEPTION(ETapiInvalCallState, ETapi);
ORVI_DECLARE_EXCEPTION(ETapiInvalCallStatelist, ETapi);
ORVI_DECLARE_EXCEPTION(ETapiInvalCard, ETapi);
ORVI_DECLARE_EXCEPTION(ETapiInvalCompletionID, ETapi);
ORVI_DECLARE_EXCEPTION(ETapiInvalConfCallHandle, ETapi);
ORVI_DECLARE_EXCEPTION(ETapiInvalConsultCallHandle, ETapi);
ORVI_DECLARE_EXCEPTION(ETapiInvalCountryCode, ETapi);
ORVI_DECLARE_EXCEPTION(ETapiInvalDeviceClass, ETapi);
ORVI_DECLARE_EXCEPTION(ETapiInvalDeviceHandle, ETapi);
ORVI_DECLARE_EXCEPTION(ETapiInvalDialParams, ETapi);
ORVI_DECLARE_EXCEPTION(ETapiInvalDigitList, ETapi);
ORVI_DECLARE_EXCEPTION(ETapiInvalDigitMode, ETapi);
ORVI_DECLARE_EXCEPTION(ETapiInvalDigits, ETapi);
ORVI_DECLARE_EXCEPTION(ETapiInvalExtVersion, ETapi);
ORVI_DECLARE_EXCEPTION(ETapiInvalGroupID, ETapi);
ORVI_DECLARE_EXCEPTION(ETapiInvalLineHandle, ETapi);
ORVI_DECLARE_EXCEPTION(ETapiInvalLineState, ETapi);
ORVI_DECLARE_EXCEPTION(ETapiInvalLocation, ETapi);
ORVI_DECLARE_EXCEPTION(ETapiInvalMediaList, ETapi);
ORVI_DECLARE_EXCEPTION(ETapiInvalMediaMode, ETapi);
ORVI_DECLARE_EXCEPTION(ETapiInvalMessageID, ETapi);
ORVI_DECLARE_EXCEPTION(ETapiInvalParam, ETapi);
ORVI_DECLARE_EXCEPTION(ETapiInvalParkID, ETapi);
ORVI_DECLARE_EXCEPTION(ETapiInvalParkMode, ETapi);
ORVI_DECLARE_EXCEPTION(ETapiInvalPointer, ETapi);
ORVI_DECLARE_EXCEPTION(ETapiInvalPrivSelect, ETapi);
ORVI_DECLARE_EXCEPTION(ETapiInvalRate, ETapi);
ORVI_DECLARE_EXCEPTION(ETapiInvalRequestMode, ETapi);
ORVI_DECLARE_EXCEPTION(ETapiInvalTerminalID, ETapi);
ORVI_DECLARE_EXCEPTION(ETapiInvalTerminalMode, ETapi);
ORVI_DECLARE_EXCEPTION(ETapiInvalTimeout, ETapi);
ORVI_DECLARE_EXCEPTION(ETapiInvalTone, ETapi);
ORVI_DECLARE_EXCEPTION(ETapiInvalToneList, ETapi);
ORVI_DECLARE_EXCEPTION(ETapiInvalToneMode, ETapi);
ORVI_DECLARE_EXCEPTION(ETapiInvalTransferMode, ETapi);
ORVI_DECLARE_EXCEPTION(ETapiLineMapperFailed, ETapi);
ORVI_DECLARE_EXCEPTION(ETapiNoConference, ETapi);
ORVI_DECLARE_EXCEPTION(ETapiNoDevice, ETapi);
ORVI_DECLARE_EXCEPTION(ETapiNoDriver, ETapi);
ORVI_DECLARE_EXCEPTION(ETapiNoMem, ETapi);
ORVI_DECLARE_EXCEPTION(ETapiNoRequest, ETapi);
ORVI_DECLARE_EXCEPTION(ETapiNotOwner, ETapi);
ORVI_DECLARE_EXCEPTION(ETapiNotRegistered, ETapi);
ORVI_DECLARE_EXCEPTION(ETapiOperationFailed, ETapi);
ORVI_DECLARE_EXCEPTION(ETapiOperationUnavail, ETapi);
ORVI_DECLARE_EXCEPTION(ETapiRateUnavail, ETapi);
ORVI_DECLARE_EXCEPTION(ETapiResourceUnavail, ETapi);
ORVI_DECLARE_EXCEPTION(ETapiRequestOverrun, ETapi);
ORVI_DECLARE_EXCEPTION(ETapiStructureTooSmall, ETapi);
ORVI_DECLARE_EXCEPTION(ETapiTargetNotFound, ETapi);
ORVI_DECLARE_EXCEPTION(ETapiTargetSelf, ETapi);
ORVI_DECLARE_EXCEPTION(ETapiUninitialized, ETapi);
ORVI_DECLARE_EXCEPTION(ETapiUserUserInfoTooBig, ETapi);
ORVI_DECLARE_EXCEPTION(ETapiReinit, ETapi);
ORVI_DECLARE_EXCEPTION(ETapiAddressBlocked, ETapi);
ORVI_DECLARE_EXCEPTION(ETapiBillingRejected, ETapi);
ORVI_DECLARE_EXCEPTION(ETapiInvalFeature, ETapi);
ORVI_DECLARE_EXCEPTION(ETapiNoMultipleInstance, ETapi);
ORVI_DECLARE_EXCEPTION(ETapiBusy, ETapi);
ORVI_DECLARE_EXCEPTION(ETapiNotSet, ETapi);
ORVI_DECLARE_EXCEPTION(ETapiNoSelect, ETapi);
ORVI_DECLARE_EXCEPTION(ETapiLoadFail, ETapi);
ORVI_DECLARE_EXCEPTION(ETapiGetAddrFail, ETapi);
ORVI_DECLARE_EXCEPTION(ETapiVoiceNotSupported, ETapi);
ORVI_DECLARE_EXCEPTION(ETapiWaveFail, ETapi);
ORVI_DECLARE_EXCEPTION(ETapiTranslateFail, ETapi);

ORVI_DECLARE_EXCEPTION(ERas, EORVException);
ORVI_DECLARE_EXCEPTION(ERasLoadFail, ERas);

#undef ORVI_DECLARE_EXCEPTION

// Returns `code` when it is 0 or more, or whatever it is while `loading` (a component
// being loaded from a layout never stops on a serial failure). Otherwise throws and
// never returns:
//  - a code with its own class: that class built from the code;
//  - -8: EOutOfMemory;
//  - any other code from -162 to -2: EInOutError with the magnitude as ErrorCode and
//    ErrorMessageText(magnitude) as message;
//  - any other negative code: EORVException("Orvi exception"), ErrorCode 0.
[[nodiscard]] int32_t ErrorCodeToException(bool loading, int32_t code);

} // namespace orvi
