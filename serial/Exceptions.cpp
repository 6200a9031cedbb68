#include "serial/Exceptions.h"

#include "serial/ErrorCodes.h"
#include "serial/MessageTable.h"

#include <algorithm>
#include <array>

namespace orvi {

Exception::Exception(std::string message, int32_t helpContext)
    : message_(std::make_shared<const std::string>(std::move(message))), helpContext_(helpContext) {
}

EORVException::EORVException(int32_t code) : Exception(ErrorMessageText(code)), errorCode_(code) {}

EORVException::EORVException(std::string text) : Exception(std::move(text)), errorCode_(0) {}

EORVException::EORVException(const char* text) : EORVException(std::string(text ? text : "")) {}

namespace {

using Thrower = void (*)(int32_t code);

template <class E> void Throw(int32_t code) {
    throw E(code);
}

struct CodeClass {
    int32_t Code;
    Thrower Raise;
};

// The codes that have an exception class of their own, sorted by descending code.
constexpr std::array kCodeClasses{
    CodeClass{-1002, Throw<EBadArgument>},
    CodeClass{-1003, Throw<EGotQuitMsg>},
    CodeClass{-1004, Throw<EBufferTooBig>},
    CodeClass{-1005, Throw<EPortNotAssigned>},
    CodeClass{-1006, Throw<EInternal>},
    CodeClass{-1007, Throw<EModemNotAssigned>},
    CodeClass{-1008, Throw<EPhonebookNotAssigned>},
    CodeClass{-1009, Throw<ECannotUseWithWinSock>},
    CodeClass{-2001, Throw<EBadId>},
    CodeClass{-2002, Throw<EBaudRate>},
    CodeClass{-2003, Throw<EByteSize>},
    CodeClass{-2004, Throw<EDefault>},
    CodeClass{-2005, Throw<EHardware>},
    CodeClass{-2006, Throw<EMemory>},
    CodeClass{-2007, Throw<ECommNotOpen>},
    CodeClass{-2008, Throw<EAlreadyOpen>},
    CodeClass{-2009, Throw<ENoHandles>},
    CodeClass{-2010, Throw<ENoTimers>},
    CodeClass{-2011, Throw<ENoPortSelected>},
    CodeClass{-2012, Throw<ENotOpenedByTapi>},
    CodeClass{-3001, Throw<ENullApi>},
    CodeClass{-3003, Throw<ERegisterHandlerFailed>},
    CodeClass{-3004, Throw<EPutBlockFail>},
    CodeClass{-3005, Throw<EGetBlockFail>},
    CodeClass{-3006, Throw<EOutputBufferTooSmall>},
    CodeClass{-3007, Throw<EBufferIsEmpty>},
    CodeClass{-3008, Throw<ETracingNotEnabled>},
    CodeClass{-3009, Throw<ELoggingNotEnabled>},
    CodeClass{-3010, Throw<EBaseAddressNotSet>},
    CodeClass{-4001, Throw<EModemNotStarted>},
    CodeClass{-4002, Throw<EModemBusy>},
    CodeClass{-4003, Throw<EModemNotDialing>},
    CodeClass{-4004, Throw<ENotDialing>},
    CodeClass{-4005, Throw<EAlreadyDialing>},
    CodeClass{-4006, Throw<EModemNotResponding>},
    CodeClass{-4007, Throw<EModemRejectedCommand>},
    CodeClass{-4008, Throw<EModemStatusMismatch>},
    CodeClass{-5001, Throw<ENoMoreTriggers>},
    CodeClass{-5002, Throw<ETriggerTooLong>},
    CodeClass{-5003, Throw<EBadTriggerHandle>},
    CodeClass{-6006, Throw<EProtocol>},
    CodeClass{-6008, Throw<EProtocol>},
    CodeClass{-6009, Throw<EProtocol>},
    CodeClass{-7001, Throw<EKeyTooLong>},
    CodeClass{-7002, Throw<EDataTooLarge>},
    CodeClass{-7003, Throw<EInternal>},
    CodeClass{-7004, Throw<EIniWrite>},
    CodeClass{-7005, Throw<EIniRead>},
    CodeClass{-7006, Throw<EInternal>},
    CodeClass{-7007, Throw<ERecordExists>},
    CodeClass{-7008, Throw<ERecordNotFound>},
    CodeClass{-7010, Throw<EDatabaseFull>},
    CodeClass{-7011, Throw<EDatabaseEmpty>},
    CodeClass{-7012, Throw<EInternal>},
    CodeClass{-7013, Throw<EBadFieldList>},
    CodeClass{-7014, Throw<EBadFieldForIndex>},
    CodeClass{-8001, Throw<EFaxBadFormat>},
    CodeClass{-8002, Throw<EBadGraphicsFormat>},
    CodeClass{-8003, Throw<EConvertAbort>},
    CodeClass{-8004, Throw<EUnpackAbort>},
    CodeClass{-8005, Throw<ECantMakeBitmap>},
    CodeClass{-8053, Throw<EInvalidPageNumber>},
    CodeClass{-8060, Throw<EFaxBadMachine>},
    CodeClass{-8061, Throw<EFaxBadModemResult>},
    CodeClass{-8062, Throw<EFaxTrainError>},
    CodeClass{-8063, Throw<EFaxInitError>},
    CodeClass{-8064, Throw<EFaxBusy>},
    CodeClass{-8065, Throw<EFaxVoiceCall>},
    CodeClass{-8066, Throw<EFaxDataCall>},
    CodeClass{-8067, Throw<EFaxNoDialTone>},
    CodeClass{-8068, Throw<EFaxNoCarrier>},
    CodeClass{-8069, Throw<EFaxSessionError>},
    CodeClass{-8070, Throw<EFaxPageError>},
    CodeClass{-13801, Throw<ETapiAllocated>},
    CodeClass{-13802, Throw<ETapiBadDeviceID>},
    CodeClass{-13803, Throw<ETapiBearerModeUnavail>},
    CodeClass{-13805, Throw<ETapiCallUnavail>},
    CodeClass{-13806, Throw<ETapiCompletionOverrun>},
    CodeClass{-13807, Throw<ETapiConferenceFull>},
    CodeClass{-13808, Throw<ETapiDialBilling>},
    CodeClass{-13809, Throw<ETapiDialDialtone>},
    CodeClass{-13810, Throw<ETapiDialPrompt>},
    CodeClass{-13811, Throw<ETapiDialQuiet>},
    CodeClass{-13812, Throw<ETapiIncompatibleApiVersion>},
    CodeClass{-13813, Throw<ETapiIncompatibleExtVersion>},
    CodeClass{-13814, Throw<ETapiIniFileCorrupt>},
    CodeClass{-13815, Throw<ETapiInUse>},
    CodeClass{-13816, Throw<ETapiInvalAddress>},
    CodeClass{-13817, Throw<ETapiInvalAddressID>},
    CodeClass{-13818, Throw<ETapiInvalAddressMode>},
    CodeClass{-13819, Throw<ETapiInvalAddressState>},
    CodeClass{-13820, Throw<ETapiInvalAppHandle>},
    CodeClass{-13821, Throw<ETapiInvalAppName>},
    CodeClass{-13822, Throw<ETapiInvalBearerMode>},
    CodeClass{-13823, Throw<ETapiInvalCallComplMode>},
    CodeClass{-13824, Throw<ETapiInvalCallHandle>},
    CodeClass{-13825, Throw<ETapiInvalCallParams>},
    CodeClass{-13826, Throw<ETapiInvalCallPrivilege>},
    CodeClass{-13827, Throw<ETapiInvalCallSelect>},
    CodeClass{-13828, Throw<ETapiInvalCallState>},
    CodeClass{-13829, Throw<ETapiInvalCallStatelist>},
    CodeClass{-13830, Throw<ETapiInvalCard>},
    CodeClass{-13831, Throw<ETapiInvalCompletionID>},
    CodeClass{-13832, Throw<ETapiInvalConfCallHandle>},
    CodeClass{-13833, Throw<ETapiInvalConsultCallHandle>},
    CodeClass{-13834, Throw<ETapiInvalCountryCode>},
    CodeClass{-13835, Throw<ETapiInvalDeviceClass>},
    CodeClass{-13836, Throw<ETapiInvalDeviceHandle>},
    CodeClass{-13837, Throw<ETapiInvalDialParams>},
    CodeClass{-13838, Throw<ETapiInvalDigitList>},
    CodeClass{-13839, Throw<ETapiInvalDigitMode>},
    CodeClass{-13840, Throw<ETapiInvalDigits>},
    CodeClass{-13841, Throw<ETapiInvalExtVersion>},
    CodeClass{-13842, Throw<ETapiInvalGroupID>},
    CodeClass{-13843, Throw<ETapiInvalLineHandle>},
    CodeClass{-13844, Throw<ETapiInvalLineState>},
    CodeClass{-13845, Throw<ETapiInvalLocation>},
    CodeClass{-13846, Throw<ETapiInvalMediaList>},
    CodeClass{-13847, Throw<ETapiInvalMediaMode>},
    CodeClass{-13848, Throw<ETapiInvalMessageID>},
    CodeClass{-13850, Throw<ETapiInvalParam>},
    CodeClass{-13851, Throw<ETapiInvalParkID>},
    CodeClass{-13852, Throw<ETapiInvalParkMode>},
    CodeClass{-13853, Throw<ETapiInvalPointer>},
    CodeClass{-13854, Throw<ETapiInvalPrivSelect>},
    CodeClass{-13855, Throw<ETapiInvalRate>},
    CodeClass{-13856, Throw<ETapiInvalRequestMode>},
    CodeClass{-13857, Throw<ETapiInvalTerminalID>},
    CodeClass{-13858, Throw<ETapiInvalTerminalMode>},
    CodeClass{-13859, Throw<ETapiInvalTimeout>},
    CodeClass{-13860, Throw<ETapiInvalTone>},
    CodeClass{-13861, Throw<ETapiInvalToneList>},
    CodeClass{-13862, Throw<ETapiInvalToneMode>},
    CodeClass{-13863, Throw<ETapiInvalTransferMode>},
    CodeClass{-13864, Throw<ETapiLineMapperFailed>},
    CodeClass{-13865, Throw<ETapiNoConference>},
    CodeClass{-13866, Throw<ETapiNoDevice>},
    CodeClass{-13867, Throw<ETapiNoDriver>},
    CodeClass{-13868, Throw<ETapiNoMem>},
    CodeClass{-13869, Throw<ETapiNoRequest>},
    CodeClass{-13870, Throw<ETapiNotOwner>},
    CodeClass{-13871, Throw<ETapiNotRegistered>},
    CodeClass{-13872, Throw<ETapiOperationFailed>},
    CodeClass{-13873, Throw<ETapiOperationUnavail>},
    CodeClass{-13874, Throw<ETapiRateUnavail>},
    CodeClass{-13875, Throw<ETapiResourceUnavail>},
    CodeClass{-13876, Throw<ETapiRequestOverrun>},
    CodeClass{-13877, Throw<ETapiStructureTooSmall>},
    CodeClass{-13878, Throw<ETapiTargetNotFound>},
    CodeClass{-13879, Throw<ETapiTargetSelf>},
    CodeClass{-13880, Throw<ETapiUninitialized>},
    CodeClass{-13881, Throw<ETapiUserUserInfoTooBig>},
    CodeClass{-13882, Throw<ETapiReinit>},
    CodeClass{-13883, Throw<ETapiAddressBlocked>},
    CodeClass{-13884, Throw<ETapiBillingRejected>},
    CodeClass{-13885, Throw<ETapiInvalFeature>},
    CodeClass{-13886, Throw<ETapiNoMultipleInstance>},
    CodeClass{-13928, Throw<ETapiBusy>},
    CodeClass{-13929, Throw<ETapiNotSet>},
    CodeClass{-13930, Throw<ETapiNoSelect>},
    CodeClass{-13931, Throw<ETapiLoadFail>},
    CodeClass{-13932, Throw<ETapiGetAddrFail>},
    CodeClass{-13935, Throw<ETapiVoiceNotSupported>},
    CodeClass{-13936, Throw<ETapiWaveFail>},
    CodeClass{-13942, Throw<ETapiTranslateFail>},
    CodeClass{-13980, Throw<ERasLoadFail>},
};

constexpr bool IsDescending(const auto& table) {
    for (std::size_t i = 1; i < table.size(); ++i) {
        if (table[i - 1].Code <= table[i].Code)
            return false;
    }
    return true;
}
static_assert(IsDescending(kCodeClasses), "code-to-class table must be sorted, no duplicates");

const CodeClass* FindClass(int32_t code) {
    auto it = std::lower_bound(kCodeClasses.begin(), kCodeClasses.end(), code,
                               [](const CodeClass& entry, int32_t c) { return entry.Code > c; });
    return it != kCodeClasses.end() && it->Code == code ? &*it : nullptr;
}

[[noreturn]] void RaiseForCode(int32_t code) {
    if (const CodeClass* entry = FindClass(code))
        entry->Raise(code);
    if (code == ecOutOfMemory)
        throw EOutOfMemory();
    if (code >= ecFirstFileError && code <= ecLastFileError)
        throw EInOutError(ErrorMessageText(-code), -code);
    throw EORVException("Orvi exception");
}

} // namespace

int32_t ErrorCodeToException(bool loading, int32_t code) {
    if (code >= 0 || loading)
        return code;
    RaiseForCode(code);
}

} // namespace orvi
