// The protection and configuration commands: "-p" (access and erase/program
// protection), "-usd"/"-o" (option bytes to and from a file), "-enspim" (the
// external SPI flash bank) and "-otp" (one-time-programmable data and lock
// bytes).
#include "cli/Handlers.h"

#include <QList>

#include <functional>

#include "ShareParameter.h"
#include "cli/CommandChecks.h"
#include "cli/FlashCommands.h"
#include "cli/LineCheck.h"
#include "cli/ProductionLog.h"
#include "cli/OtpFile.h"
#include "cli/Progress.h"
#include "cli/SubOptionWalk.h"
#include "device/Device.h"
#include "link/BootLoader.h"
#include "link/Com.h"
#include "operations/FeatureOperations.h"

namespace {

CBootLoader* Link(CCom* com)
{
    return com != nullptr ? com->GetBootLoader() : nullptr;
}

// Series whose high-level protection is one-time and needs "--y".
bool IsOneTimeProtectionSeries(int series)
{
    static const int kSeries[] = {15, 18, 29, 16, 19, 20, 30, 21, 22, 23, 25, 26, 28, 31, 32};
    for (int s : kSeries)
        if (s == series)
            return true;
    return false;
}

// Series whose "--efap2" sets level 2 without confirmation.
bool IsLevel2Series(int series)
{
    return series == 9 || series == 17 || series == 5;
}

const int kMinSPIMMegabytes = 1;
const int kMaxSPIMMegabytes = 16;

// Scans the whole line for "-usd --set --fn FILE"; stores FILE.
void GetUserSystemDataFile(int argc, char** argv)
{
    for (int k = 0; k + 3 < argc; ++k) {
        if (std::string(argv[k]) == "-usd" && std::string(argv[k + 1]) == "--set" &&
            std::string(argv[k + 2]) == "--fn") {
            g_shareParameter.c_strFilePath = argv[k + 3];
            return;
        }
    }
}

// "-usd --get/--set": the file after "--fn", checked (for --get also that
// the program writes its kind); false when refused.
bool ReadUsdFileName(CSubOptionWalk& walk, int argc, char** argv, std::string& file, bool writing)
{
    int& index = walk.Index();
    if (walk.Value() != "--fn") {
        WriteBadParameterInfor(argv, index);
        return false;
    }
    if (index < argc)
        ++index;
    file = index < argc ? argv[index] : "";
    if (!IsValidFileName(file) || (writing && !CanWriteImageKind(file))) {
        WriteBadParameterInfor(argv, index);
        return false;
    }
    return true;
}

// One protection step: asks the link for its operation and waits for it
// (in checking mode nothing runs).
bool RunStep(CCom* com, const std::function<void()>& ask)
{
    if (LineCheck::Active())
        return true;
    ask();
    return WaitOperation(com);
}

} // namespace

int Protection(int argc, char** argv, int& i, CCom* com)
{
    CBootLoader* link = Link(com);
    if (link == nullptr)
        return EXIT_NOT_CONNECTED;
    CSubOptionWalk walk(argc, argv, i);
    while (walk.Next()) {
        const std::string& name = walk.Name();
        if (name == "--efap" || name == "--erp" || name == "--efap1") {
            walk.StepBack();
            if (!RunStep(com, [&] { link->AccessProtect(1); }))
                return EXIT_FAP_FAILED;
        } else if (name == "--efap2") {
            const int series = SeriesCode(com);
            const bool confirmed = ShareParameter::ToLower(walk.Value()) == "--y";
            if (IsOneTimeProtectionSeries(series) && !confirmed) {
                WriteInforAndWaitInput("KV32S15/S18/S29/S16/S19/S20/S21/S22/S23/S30/S25/S26/S28/S31/S32 "
                                       "need a parameter \"--y\" for operation \"--efap2\"!");
                return EXIT_FAP2_FAILED;
            }
            // A "--y" is taken as the confirmation on every series, so it is
            // never read as a sub-option of its own.
            if (!confirmed)
                walk.StepBack();
            const bool level2 = IsOneTimeProtectionSeries(series) || IsLevel2Series(series);
            if (!RunStep(com, [&] { link->AccessProtect(level2 ? 2 : 1); }))
                return EXIT_FAP2_FAILED;
        } else if (name == "--dfap" || name == "--drp") {
            walk.StepBack();
            if (!RunStep(com, [&] { link->ReadoutUnProtect(); }))
                return EXIT_FAP_DISABLE_FAILED;
        } else if (name == "--eepp" || name == "--ewp") {
            int begin = 0;
            int end = 0;
            // A missing value or a following option word would read as
            // sector 0; every sector must exist on the chip.
            const std::string& value = walk.Value();
            const bool realValue = walk.HasValue() && !value.empty() && !Is_Option(value.c_str()) &&
                                   !Is_SubOption(value.c_str());
            ReadSectorRange(value, begin, end);
            if (!realValue || !IsSectorsValid(begin, end, com) || !IsSectorRangeOnChip(begin, end, com)) {
                WriteBadParameterInfor(argv, walk.Index());
                return EXIT_EPP_ENABLE_FAILED;
            }
            QList<int> sectors;
            for (int s = begin; s <= end; ++s)
                sectors.append(s);
            if (!RunStep(com, [&] { link->EraseProgramProtect(sectors); }))
                return EXIT_EPP_ENABLE_FAILED;
        } else if (name == "--depp" || name == "--dwp") {
            walk.StepBack();
            if (!RunStep(com, [&] { link->WriteUnProtect(); }))
                return EXIT_EPP_DISABLE_FAILED;
        }
    }
    if (walk.Bad()) {
        WriteBadParameterInfor(argv, i);
        return EXIT_BAD_PARAMETER;
    }
    return EXIT_OK;
}

int UserSystemData(int argc, char** argv, int& i, CCom* com)
{
    CBootLoader* link = Link(com);
    if (link == nullptr)
        return EXIT_NOT_CONNECTED;
    CSubOptionWalk walk(argc, argv, i);
    while (walk.Next()) {
        if (!walk.HasValue())
            return EXIT_OK;
        const std::string& name = walk.Name();
        std::string file;
        if (name == "--get") {
            if (!ReadUsdFileName(walk, argc, argv, file, true))
                return EXIT_GET_USD_FAILED;
            CurrentReport().file = file;
            WriteInforAndWaitInput("Get user system data to file");
            WriteInforAndWaitInput("running...");
            // Where the file cannot be made, the chip is not read at all.
            const bool creatable = CheckFileCreatable(file) == 0;
            if (creatable && LineCheck::Active()) {
                LineCheck::NoteWrittenFile(file);
                continue;
            }
            if (!creatable || link->SaveUserSystemDatatoFile(file) != 0) {
                WriteInforAndWaitInput("Get user system data to file failed!");
                return EXIT_GET_USD_FAILED;
            }
            WriteInforAndWaitInput("Get user system data to file succeed!");
        } else if (name == "--set") {
            if (!ReadUsdFileName(walk, argc, argv, file, false))
                return EXIT_SET_USD_FAILED;
            g_shareParameter.c_filename = file;
            CurrentReport().file = file;
            WriteInforAndWaitInput("Set user system data to device");
            WriteInforAndWaitInput("running...");
            // Nothing reaches the chip unless the whole file was read and
            // checked first.
            const bool good = LineCheck::Active()
                                  ? LineCheck::IsWrittenByLine(file) ||
                                        link->CheckUserSystemDataFile(file, false) == 0
                                  : link->LoadUserSystemDataFromFileToDevice(file) == 0;
            if (!good) {
                WriteInforAndWaitInput("Set user system data to device failed!");
                return EXIT_SET_USD_FAILED;
            }
            if (!LineCheck::Active())
                WriteInforAndWaitInput("Set user system data to device successfully!");
        }
    }
    if (walk.Bad()) {
        WriteInforAndWaitInput(walk.Current());
        return EXIT_BAD_PARAMETER;
    }
    return EXIT_OK;
}

bool HandleEnSPIM(CCom* com)
{
    CBootLoader* link = Link(com);
    if (link == nullptr)
        return false;
    const ShareParameter& p = g_shareParameter;
    EnBank3Param param;
    param.m_bRemapFlag = p.c_bRemapFlag;
    param.m_bNeedRemap = p.c_bNeedRemap;
    param.m_bFlashType = p.c_SPIMType == 1 ? 0x91 : 0x90;
    param.m_uiFlashSize = p.c_SPIMSize;
    param.m_uiFlashDA = p.c_SPIMDA;
    if (p.c_SPIMDA != 0 && IsValidFileName(p.c_strFilePath)) {
        // The encrypted area's keys travel in the option bytes: enabling the
        // bank without them would leave it unreadable as configured.
        const std::string& file = p.c_strFilePath;
        const bool good = LineCheck::Active()
                              ? LineCheck::IsWrittenByLine(file) || link->CheckUserSystemDataFile(file, true) == 0
                              : link->LoadUserSystemDataFromFileToDeviceExceptFAP(file) == 0;
        if (!good) {
            WriteInforAndWaitInput("Set user system data to device failed!");
            return false;
        }
    }
    if (LineCheck::Active())
        return true;
    link->EnableBank3Func(param);
    return WaitOperation(com);
}

bool EnableBank3(int argc, char** argv, int& i, CCom* com)
{
    if (Link(com) == nullptr)
        return false;
    ShareParameter& p = g_shareParameter;
    CSubOptionWalk walk(argc, argv, i);
    while (walk.Next()) {
        const std::string& name = walk.Name();
        if (name == "--ft") {
            p.c_SPIMType = static_cast<uint8_t>(ShareParameter::IntParse(walk.Value()));
        } else if (name == "--fs") {
            const int megabytes = ShareParameter::IntParse(walk.Value());
            if (megabytes < kMinSPIMMegabytes || megabytes > kMaxSPIMMegabytes) {
                WriteBadParameterInfor(argv, walk.Index());
                return false;
            }
            p.c_SPIMSize = static_cast<uint32_t>(megabytes) * 1024u;
        } else if (name == "--fda") {
            p.c_SPIMDA = ShareParameter::StringToUInt32(walk.Value(), 16);
            if (p.c_SPIMDA != 0)
                GetUserSystemDataFile(argc, argv);
        } else if (name == "--remap") {
            if (com->GetInterfaceType() == INTERFACE_USART) {
                p.c_bRemapFlag = ShareParameter::IntParse(walk.Value()) != 0;
                p.c_bNeedRemap = p.c_bRemapFlag;
            }
        }
    }
    if (walk.Bad()) {
        WriteBadParameterInfor(argv, i);
        return false;
    }
    p.c_haveSPIM = true;
    if (CDevice* device = ConnectedDevice(com)) {
        device->m_haveBank3 = true;
        device->m_Bank3Type = p.c_SPIMType;
        device->m_Bank3Szie = p.c_SPIMSize;
        device->m_Bank3FlashDA = p.c_SPIMDA;
        device->m_Nank3RemapFlag = p.c_bRemapFlag;
    }
    return HandleEnSPIM(com);
}

int DownLoadOTPData(int argc, char** argv, int& i, CCom* com)
{
    if (Link(com) == nullptr)
        return EXIT_NOT_CONNECTED;
    ShareParameter& p = g_shareParameter;
    CSubOptionWalk walk(argc, argv, i);
    while (walk.Next()) {
        if (walk.LowerName() == "--log")
            continue;  // the program's, not the command's
        WriteInforAndWaitInput("Set OTP data to device");
        WriteInforAndWaitInput("running...");
        if (walk.Name() == "--fn") {
            // Nothing can be written from a bad name: the run stops here.
            if (!IsValidOTPFileName(walk.Value())) {
                WriteBadParameterInfor(argv, walk.Index());
                return EXIT_BAD_PARAMETER;
            }
            p.c_otpfilename = walk.Value();
            CurrentReport().file = p.c_otpfilename;
        }
    }
    if (walk.Bad()) {
        WriteInforAndWaitInput(walk.Current());
        return EXIT_BAD_PARAMETER;
    }
    InitOTPAndLOCKInfo(SeriesCode(com));
    if (p.OTP_Data_Length <= 0) {
        WriteInforAndWaitInput("The device has no OTP area!");
        return EXIT_OTP_FAILED;
    }
    // Every record is read and checked before the first byte is written:
    // OTP and lock bytes cannot be undone.
    OtpFileStatus status = OTPProjectFileOpen(p.c_otpfilename);
    if (status == OTP_FILE_OK)
        status = CheckOTPRecords(m_listWriteOTPData, static_cast<uint32_t>(p.OTP_Data_Length),
                                 static_cast<uint32_t>(p.OTP_Lock_Length));
    if (status != OTP_FILE_OK) {
        if (status != OTP_FILE_UNREADABLE)
            WriteInforAndWaitInput(OtpFileStatusText(status));
        WriteInforAndWaitInput("Get OTP data from the configuration file failed!");
        return EXIT_OTP_FAILED;
    }
    if (LineCheck::Active())
        return EXIT_OK;
    if (!WriteOTPData(com))
        return EXIT_OTP_FAILED;
    WriteInforAndWaitInput("set OTP data to device successfully!");
    return EXIT_OK;
}
