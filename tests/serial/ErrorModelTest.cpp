#include "serial/ErrorCodes.h"
#include "serial/Exceptions.h"
#include "serial/MessageTable.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <typeinfo>
#include <vector>

namespace orvi {
namespace {

// Calls ErrorCodeToException for a code that must raise and hands back what it threw.
template <class E> E Raised(int32_t code) {
    try {
        (void)ErrorCodeToException(false, code);
    } catch (const E& e) {
        return e;
    }
    ADD_FAILURE() << "code " << code << " raised nothing";
    throw std::logic_error("not raised");
}

// ---------------------------------------------------------------- message table

TEST(ErrorMessageTable, IsSortedByStrictlyAscendingMagnitude) {
    auto table = ErrorMessageTable();
    ASSERT_FALSE(table.empty());
    for (std::size_t i = 1; i < table.size(); ++i) {
        EXPECT_LT(std::abs(table[i - 1].Code), std::abs(table[i].Code)) << "entry " << i;
    }
}

TEST(ErrorMessageTable, EveryEntryIsFoundByEitherSign) {
    // Looking up every entry walks the bisection through every position of the table.
    for (const ErrorMessageEntry& entry : ErrorMessageTable()) {
        EXPECT_EQ(ErrorMessageText(entry.Code), entry.Text) << entry.Code;
        EXPECT_EQ(ErrorMessageText(-entry.Code), entry.Text) << -entry.Code;
        EXPECT_LE(entry.Text.size(), kMaxMessageLength);
    }
}

struct TextCase {
    int32_t Code;
    const char* Text;
};

TEST(ErrorMessageText, SerialCodesHaveTheirExactTexts) {
    const TextCase cases[] = {
        {0, "OK"},
        {-1001, "Bad handle passed to com function"},
        {-1002, "Bad argument passed to function"},
        {-1003, "Got quit message"},
        {-1004, "Terminal buffer greater than 65521"},
        {-1005, "ComPort component not assigned"},
        {-1006, "Internal error creating window class"},
        {-1007, "Modem component not assigned"},
        {-1008, "Phonebook component not assigned"},
        {-1009, "Component not compatible with WinSock"},
        {-2001, "ie_BadId - Specified comport doesn't exist"},
        {-2002, "ie_Baudrate - unsupported baud rate"},
        {-2003, "ie_Bytesize - invalid byte size"},
        {-2004, "ie_Default - error in default parameters"},
        {-2005, "ie_Hardware - Specified comport in use"},
        {-2006, "ie_Memory - unable to allocate queues"},
        {-2007, "ie_NOpen - device not open"},
        {-2008, "ie_Open - device already open"},
        {-2009, "No more handles, can't open port"},
        {-2010, "No timers available"},
        {-2011, "The ComNumber property of the TOrvComPort has not been set"},
        {-2012, "Comport was not opened by Tapi"},
        {-3001, "No device layer specified"},
        {-3002, "Function not supported by driver"},
        {-3003, "EnableCommNotification failed"},
        {-3004, "Failed to put entire block"},
        {-3005, "Failed to get entire block"},
        {-3006, "Output buffer too small for block"},
        {-3007, "Buffer is empty"},
        {-3008, "Tracing not enabled"},
        {-3009, "Logging not enabled"},
        {-3010, "Base address not set"},
        {-5001, "No more trigger slots"},
        {-5002, "Data trigger too long"},
        {-5003, "Bad trigger handle"},
        {2, "File not found"},
        {3, "Path not found"},
        {4, "Too many open files"},
        {5, "File access denied"},
        {6, "Invalid file handle"},
        {8, "Insufficient memory"},
        {15, "Invalid drive"},
        {18, "No more files"},
        {100, "Attempt to read beyond end of file"},
        {101, "Disk is full"},
        {102, "File/device not assigned"},
        {103, "File/device not open"},
        {104, "File/device not open for input"},
        {105, "File/device not open for output"},
        {150, "Disk is write-protected"},
        {151, "Unknown disk unit"},
        {152, "Drive is not ready"},
        {153, "Unknown command"},
        {154, "Data error"},
        {155, "Bad request structure length"},
        {156, "Seek error"},
        {157, "Unknown media type"},
        {158, "Disk sector not found"},
        {159, "Printer is out of paper"},
        {160, "Device write error"},
        {161, "Device read error"},
        {162, "General failure"},
    };
    for (const TextCase& c : cases)
        EXPECT_EQ(ErrorMessageText(c.Code), c.Text) << c.Code;
}

TEST(ErrorMessageText, LogVocabulary) {
    const char* types[] = {"No event", "Dispatch", "Trigger",  "Error",    "Thread", "TrigAllc",
                           "TrigDisp", "TrgHdAlc", "TrgHdDsp", "TrDatChg", "Telnet", "Fax",
                           "XModem",   "YModem",   "ZModem",   "Kermit",   "Ascii",  "BPlus",
                           "Packet",   "User",     "Script"};
    for (int type = 0; type <= 20; ++type)
        EXPECT_EQ(ErrorMessageText(msgLogTypeBase + type), types[type]) << type;

    const char* subtypes[] = {"",       "ReadCom", "WriteCom", "Line status", "Modem status",
                              "Avail",  "Timer",   "Data",     "Status",      "Start",
                              "Exit",   "Sleep",   "Wake",     "Data",        "Timer",
                              "Status", "Avail",   "Window",   "Procedure",   "Method"};
    for (int subtype = 0; subtype <= 19; ++subtype)
        EXPECT_EQ(ErrorMessageText(msgLogSubtypeBase + subtype), subtypes[subtype]) << subtype;

    const char* bits[] = {"DCTS ", "DDSR ", "TERI ", "DDCD ", "CTS ", "DSR ", "RI ", "DCD "};
    for (int bit = 0; bit < 8; ++bit)
        EXPECT_EQ(ErrorMessageText(msgModemBitBase + bit), bits[bit]) << bit;

    for (int option = 0; option <= msgTelnetOptionLast; ++option)
        EXPECT_FALSE(ErrorMessageText(msgTelnetOptionBase + option).empty()) << option;
}

TEST(ErrorMessageText, LooksUpByMagnitude) {
    EXPECT_EQ(ErrorMessageText(-4001), ErrorMessageText(4001));
    EXPECT_EQ(ErrorMessageText(3007), "Buffer is empty");
    EXPECT_EQ(ErrorMessageText(-15001), "No event");
}

TEST(ErrorMessageText, FallsBackToTheCleanedSystemText) {
    EXPECT_EQ(ErrorMessageText(-87), "The parameter is incorrect. ");
    std::string aborted = ErrorMessageText(ecOperationAborted);
    ASSERT_FALSE(aborted.empty());
    EXPECT_EQ(aborted.back(), ' ');
    EXPECT_EQ(aborted.find("  "), std::string::npos);
}

TEST(ErrorMessageText, EmptyWhenNeitherTableNorSystemHasText) {
    EXPECT_EQ(ErrorMessageText(-30000), "");
    EXPECT_EQ(ErrorMessageText(30000), "");
}

TEST(ErrorMessageText, LargeMagnitudesAreNotFoldedOntoTableEntries) {
    // 65538 shares its low 16 bits with 2 ("File not found").
    EXPECT_EQ(ErrorMessageText(65538), "");
    EXPECT_EQ(ErrorMessageText(-65538 - 65536), "");
    EXPECT_EQ(ErrorMessageText(INT32_MIN), "");
    EXPECT_EQ(ErrorMessageText(INT32_MAX), "");
}

TEST(CleanSystemText, ControlCharactersBecomeSingleSpaces) {
    const struct {
        const char* In;
        const char* Out;
    } cases[] = {
        {"", ""},
        {"Plain", "Plain"},
        {"Ends in a line break.\r\n", "Ends in a line break. "},
        {"a\tb\nc", "a b c"},
        {"two  spaces   and four    ", "two spaces and four "},
        {"  leading", " leading"},
        {"\r\n\r\n", " "},
        {"bell\a\x1f\x7f", "bell \x7f"},
        {"\xd0\x9e\xd1\x88\xd0\xb8\xd0\xb1\xd0\xba\xd0\xb0\r\n",
         "\xd0\x9e\xd1\x88\xd0\xb8\xd0\xb1\xd0\xba\xd0\xb0 "},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CleanSystemText(c.In), c.Out) << c.In;
}

TEST(CleanSystemText, CutsTo255Characters) {
    EXPECT_EQ(CleanSystemText(std::string(300, 'x')), std::string(255, 'x'));
    // Collapsing happens before the cut, so a long run of spaces costs one character.
    std::string spaced = "a" + std::string(100, ' ') + std::string(254, 'b');
    EXPECT_EQ(CleanSystemText(spaced), "a " + std::string(253, 'b'));
    // A Cyrillic text (two bytes a letter) is cut before the letter that does not fit.
    std::string cyrillic;
    for (int i = 0; i < 200; ++i)
        cyrillic += "Ж";
    EXPECT_EQ(CleanSystemText(cyrillic), cyrillic.substr(0, 254));
}

// ---------------------------------------------------------------- exceptions

TEST(ErrorCodeToException, ReturnsNonNegativeCodes) {
    for (int32_t code : {0, 5, 4101, 15742, INT32_MAX}) {
        EXPECT_EQ(ErrorCodeToException(false, code), code);
        EXPECT_EQ(ErrorCodeToException(true, code), code);
    }
}

TEST(ErrorCodeToException, ReturnsNegativeCodesWhileLoading) {
    for (int32_t code : {-1, -2, -8, -87, -1001, -2011, -3007, -13980, INT32_MIN})
        EXPECT_EQ(ErrorCodeToException(true, code), code);
}

struct MappedCase {
    int32_t Code;
    const std::type_info* Type;
};

// A code with the class it must raise; the group is checked at compile time.
template <class E, class Group> MappedCase Row(int32_t code) {
    static_assert(std::is_base_of_v<Group, E> && std::is_base_of_v<EORVException, Group>);
    return {code, &typeid(E)};
}

const std::vector<MappedCase>& MappedCodes() {
    static const std::vector<MappedCase> rows = {
        Row<EBadArgument, EGeneral>(-1002),
        Row<EGotQuitMsg, EGeneral>(-1003),
        Row<EBufferTooBig, EGeneral>(-1004),
        Row<EPortNotAssigned, EGeneral>(-1005),
        Row<EInternal, EGeneral>(-1006),
        Row<EModemNotAssigned, EGeneral>(-1007),
        Row<EPhonebookNotAssigned, EGeneral>(-1008),
        Row<ECannotUseWithWinSock, EGeneral>(-1009),
        Row<EInternal, EGeneral>(-7003),
        Row<EInternal, EGeneral>(-7006),
        Row<EInternal, EGeneral>(-7012),
        Row<EBadId, EOpenComm>(-2001),
        Row<EBaudRate, EOpenComm>(-2002),
        Row<EByteSize, EOpenComm>(-2003),
        Row<EDefault, EOpenComm>(-2004),
        Row<EHardware, EOpenComm>(-2005),
        Row<EMemory, EOpenComm>(-2006),
        Row<ECommNotOpen, EOpenComm>(-2007),
        Row<EAlreadyOpen, EOpenComm>(-2008),
        Row<ENoHandles, EOpenComm>(-2009),
        Row<ENoTimers, EOpenComm>(-2010),
        Row<ENoPortSelected, EOpenComm>(-2011),
        Row<ENotOpenedByTapi, EOpenComm>(-2012),
        Row<ENullApi, ESerialIO>(-3001),
        Row<ERegisterHandlerFailed, ESerialIO>(-3003),
        Row<EPutBlockFail, ESerialIO>(-3004),
        Row<EGetBlockFail, ESerialIO>(-3005),
        Row<EOutputBufferTooSmall, ESerialIO>(-3006),
        Row<EBufferIsEmpty, ESerialIO>(-3007),
        Row<ETracingNotEnabled, ESerialIO>(-3008),
        Row<ELoggingNotEnabled, ESerialIO>(-3009),
        Row<EBaseAddressNotSet, ESerialIO>(-3010),
        Row<EModemNotStarted, EModem>(-4001),
        Row<EModemBusy, EModem>(-4002),
        Row<EModemNotDialing, EModem>(-4003),
        Row<ENotDialing, EModem>(-4004),
        Row<EAlreadyDialing, EModem>(-4005),
        Row<EModemNotResponding, EModem>(-4006),
        Row<EModemRejectedCommand, EModem>(-4007),
        Row<EModemStatusMismatch, EModem>(-4008),
        Row<ENoMoreTriggers, ETrigger>(-5001),
        Row<ETriggerTooLong, ETrigger>(-5002),
        Row<EBadTriggerHandle, ETrigger>(-5003),
        Row<EProtocol, EProtocol>(-6006),
        Row<EProtocol, EProtocol>(-6008),
        Row<EProtocol, EProtocol>(-6009),
        Row<EKeyTooLong, EINI>(-7001),
        Row<EDataTooLarge, EINI>(-7002),
        Row<EIniWrite, EINI>(-7004),
        Row<EIniRead, EINI>(-7005),
        Row<ERecordExists, EINI>(-7007),
        Row<ERecordNotFound, EINI>(-7008),
        Row<EDatabaseFull, EINI>(-7010),
        Row<EDatabaseEmpty, EINI>(-7011),
        Row<EBadFieldList, EINI>(-7013),
        Row<EBadFieldForIndex, EINI>(-7014),
        Row<EFaxBadFormat, EFax>(-8001),
        Row<EBadGraphicsFormat, EFax>(-8002),
        Row<EConvertAbort, EFax>(-8003),
        Row<EUnpackAbort, EFax>(-8004),
        Row<ECantMakeBitmap, EFax>(-8005),
        Row<EInvalidPageNumber, EFax>(-8053),
        Row<EFaxBadMachine, EFax>(-8060),
        Row<EFaxBadModemResult, EFax>(-8061),
        Row<EFaxTrainError, EFax>(-8062),
        Row<EFaxInitError, EFax>(-8063),
        Row<EFaxBusy, EFax>(-8064),
        Row<EFaxVoiceCall, EFax>(-8065),
        Row<EFaxDataCall, EFax>(-8066),
        Row<EFaxNoDialTone, EFax>(-8067),
        Row<EFaxNoCarrier, EFax>(-8068),
        Row<EFaxSessionError, EFax>(-8069),
        Row<EFaxPageError, EFax>(-8070),
        Row<ETapiAllocated, ETapi>(-13801),
        Row<ETapiBadDeviceID, ETapi>(-13802),
        Row<ETapiBearerModeUnavail, ETapi>(-13803),
        Row<ETapiCallUnavail, ETapi>(-13805),
        Row<ETapiCompletionOverrun, ETapi>(-13806),
        Row<ETapiConferenceFull, ETapi>(-13807),
        Row<ETapiDialBilling, ETapi>(-13808),
        Row<ETapiDialDialtone, ETapi>(-13809),
        Row<ETapiDialPrompt, ETapi>(-13810),
        Row<ETapiDialQuiet, ETapi>(-13811),
        Row<ETapiIncompatibleApiVersion, ETapi>(-13812),
        Row<ETapiIncompatibleExtVersion, ETapi>(-13813),
        Row<ETapiIniFileCorrupt, ETapi>(-13814),
        Row<ETapiInUse, ETapi>(-13815),
        Row<ETapiInvalAddress, ETapi>(-13816),
        Row<ETapiInvalAddressID, ETapi>(-13817),
        Row<ETapiInvalAddressMode, ETapi>(-13818),
        Row<ETapiInvalAddressState, ETapi>(-13819),
        Row<ETapiInvalAppHandle, ETapi>(-13820),
        Row<ETapiInvalAppName, ETapi>(-13821),
        Row<ETapiInvalBearerMode, ETapi>(-13822),
        Row<ETapiInvalCallComplMode, ETapi>(-13823),
        Row<ETapiInvalCallHandle, ETapi>(-13824),
        Row<ETapiInvalCallParams, ETapi>(-13825),
        Row<ETapiInvalCallPrivilege, ETapi>(-13826),
        Row<ETapiInvalCallSelect, ETapi>(-13827),
        Row<ETapiInvalCallState, ETapi>(-13828),
        Row<ETapiInvalCallStatelist, ETapi>(-13829),
        Row<ETapiInvalCard, ETapi>(-13830),
        Row<ETapiInvalCompletionID, ETapi>(-13831),
        Row<ETapiInvalConfCallHandle, ETapi>(-13832),
        Row<ETapiInvalConsultCallHandle, ETapi>(-13833),
        Row<ETapiInvalCountryCode, ETapi>(-13834),
        Row<ETapiInvalDeviceClass, ETapi>(-13835),
        Row<ETapiInvalDeviceHandle, ETapi>(-13836),
        Row<ETapiInvalDialParams, ETapi>(-13837),
        Row<ETapiInvalDigitList, ETapi>(-13838),
        Row<ETapiInvalDigitMode, ETapi>(-13839),
        Row<ETapiInvalDigits, ETapi>(-13840),
        Row<ETapiInvalExtVersion, ETapi>(-13841),
        Row<ETapiInvalGroupID, ETapi>(-13842),
        Row<ETapiInvalLineHandle, ETapi>(-13843),
        Row<ETapiInvalLineState, ETapi>(-13844),
        Row<ETapiInvalLocation, ETapi>(-13845),
        Row<ETapiInvalMediaList, ETapi>(-13846),
        Row<ETapiInvalMediaMode, ETapi>(-13847),
        Row<ETapiInvalMessageID, ETapi>(-13848),
        Row<ETapiInvalParam, ETapi>(-13850),
        Row<ETapiInvalParkID, ETapi>(-13851),
        Row<ETapiInvalParkMode, ETapi>(-13852),
        Row<ETapiInvalPointer, ETapi>(-13853),
        Row<ETapiInvalPrivSelect, ETapi>(-13854),
        Row<ETapiInvalRate, ETapi>(-13855),
        Row<ETapiInvalRequestMode, ETapi>(-13856),
        Row<ETapiInvalTerminalID, ETapi>(-13857),
        Row<ETapiInvalTerminalMode, ETapi>(-13858),
        Row<ETapiInvalTimeout, ETapi>(-13859),
        Row<ETapiInvalTone, ETapi>(-13860),
        Row<ETapiInvalToneList, ETapi>(-13861),
        Row<ETapiInvalToneMode, ETapi>(-13862),
        Row<ETapiInvalTransferMode, ETapi>(-13863),
        Row<ETapiLineMapperFailed, ETapi>(-13864),
        Row<ETapiNoConference, ETapi>(-13865),
        Row<ETapiNoDevice, ETapi>(-13866),
        Row<ETapiNoDriver, ETapi>(-13867),
        Row<ETapiNoMem, ETapi>(-13868),
        Row<ETapiNoRequest, ETapi>(-13869),
        Row<ETapiNotOwner, ETapi>(-13870),
        Row<ETapiNotRegistered, ETapi>(-13871),
        Row<ETapiOperationFailed, ETapi>(-13872),
        Row<ETapiOperationUnavail, ETapi>(-13873),
        Row<ETapiRateUnavail, ETapi>(-13874),
        Row<ETapiResourceUnavail, ETapi>(-13875),
        Row<ETapiRequestOverrun, ETapi>(-13876),
        Row<ETapiStructureTooSmall, ETapi>(-13877),
        Row<ETapiTargetNotFound, ETapi>(-13878),
        Row<ETapiTargetSelf, ETapi>(-13879),
        Row<ETapiUninitialized, ETapi>(-13880),
        Row<ETapiUserUserInfoTooBig, ETapi>(-13881),
        Row<ETapiReinit, ETapi>(-13882),
        Row<ETapiAddressBlocked, ETapi>(-13883),
        Row<ETapiBillingRejected, ETapi>(-13884),
        Row<ETapiInvalFeature, ETapi>(-13885),
        Row<ETapiNoMultipleInstance, ETapi>(-13886),
        Row<ETapiBusy, ETapi>(-13928),
        Row<ETapiNotSet, ETapi>(-13929),
        Row<ETapiNoSelect, ETapi>(-13930),
        Row<ETapiLoadFail, ETapi>(-13931),
        Row<ETapiGetAddrFail, ETapi>(-13932),
        Row<ETapiVoiceNotSupported, ETapi>(-13935),
        Row<ETapiWaveFail, ETapi>(-13936),
        Row<ETapiTranslateFail, ETapi>(-13942),
        Row<ERasLoadFail, ERas>(-13980),
    };
    return rows;
}

TEST(ErrorCodeToException, EachMappedCodeRaisesItsClassWithCodeAndText) {
    EXPECT_EQ(MappedCodes().size(), 166u);
    for (const MappedCase& row : MappedCodes()) {
        SCOPED_TRACE(row.Code);
        try {
            (void)ErrorCodeToException(false, row.Code);
            ADD_FAILURE() << "nothing raised";
        } catch (const EORVException& e) {
            EXPECT_EQ(typeid(e), *row.Type) << typeid(e).name();
            EXPECT_EQ(e.ErrorCode(), row.Code);
            EXPECT_EQ(e.Message(), ErrorMessageText(row.Code));
            EXPECT_FALSE(e.Message().empty());
        }
    }
}

TEST(ErrorCodeToException, BufferIsEmpty) {
    EBufferIsEmpty e = Raised<EBufferIsEmpty>(ecBufferIsEmpty);
    EXPECT_EQ(e.ErrorCode(), -3007);
    EXPECT_EQ(e.Message(), "Buffer is empty");
    EXPECT_STREQ(e.what(), "Buffer is empty");
}

TEST(ErrorCodeToException, NoPortSelectedNamesTheComponent) {
    ENoPortSelected e = Raised<ENoPortSelected>(ecNoPortSelected);
    EXPECT_NE(e.Message().find("TOrvComPort"), std::string::npos);
}

TEST(ErrorCodeToException, FileErrorsRaiseInOutErrorWithTheMagnitude) {
    EInOutError notFound = Raised<EInOutError>(-2);
    EXPECT_EQ(notFound.ErrorCode(), 2);
    EXPECT_EQ(notFound.Message(), "File not found");

    EInOutError parameter = Raised<EInOutError>(-87);
    EXPECT_EQ(parameter.ErrorCode(), 87);
    EXPECT_EQ(parameter.Message(), "The parameter is incorrect. ");

    EXPECT_EQ(Raised<EInOutError>(-162).Message(), "General failure");
    // A close that gave up on a device call the driver never ended.
    EXPECT_EQ(Raised<EInOutError>(-121).Message(), "The semaphore timeout period has expired. ");
    // In the range but known to neither table nor system: empty message, still raised.
    EInOutError unknown = Raised<EInOutError>(-140);
    EXPECT_EQ(unknown.ErrorCode(), 140);
    EXPECT_EQ(unknown.Message(), ErrorMessageText(140));
}

TEST(ErrorCodeToException, MinusEightIsOutOfMemory) {
    EXPECT_THROW((void)ErrorCodeToException(false, ecOutOfMemory), EOutOfMemory);
}

TEST(ErrorCodeToException, UnmappedCodesRaiseTheGenericException) {
    for (int32_t code : {-1, -163, -995, -1001, -3002, -4009, -5004, -13804, -30000, INT32_MIN}) {
        SCOPED_TRACE(code);
        try {
            (void)ErrorCodeToException(false, code);
            ADD_FAILURE() << "nothing raised";
        } catch (const EORVException& e) {
            EXPECT_EQ(typeid(e), typeid(EORVException));
            EXPECT_EQ(e.ErrorCode(), 0);
            EXPECT_EQ(e.Message(), "Orvi exception");
        }
    }
}

TEST(Exception, OneRootCatchesEveryKind) {
    for (int32_t code : {-2, -8, -1001, -2011, -13980}) {
        try {
            (void)ErrorCodeToException(false, code);
            ADD_FAILURE() << code << " raised nothing";
        } catch (const Exception& e) {
            EXPECT_STREQ(e.what(), e.Message().c_str());
            EXPECT_EQ(e.HelpContext(), 0);
        }
    }
}

TEST(Exception, ConstructorsAndCopies) {
    EORVException fromCode(ecBaudRate);
    EXPECT_EQ(fromCode.ErrorCode(), ecBaudRate);
    EXPECT_EQ(fromCode.Message(), "ie_Baudrate - unsupported baud rate");

    EORVException fromText("Своё сообщение");
    EXPECT_EQ(fromText.ErrorCode(), 0);
    EXPECT_EQ(fromText.Message(), "Своё сообщение");

    const char* none = nullptr;
    EXPECT_EQ(EORVException(none).Message(), "");

    EBadId original(ecBadId);
    EBadId copy = original;
    EXPECT_EQ(copy.Message(), original.Message());
    EXPECT_EQ(copy.ErrorCode(), ecBadId);

    Exception withHelp("text", 42);
    EXPECT_EQ(withHelp.HelpContext(), 42);
}

} // namespace
} // namespace orvi
