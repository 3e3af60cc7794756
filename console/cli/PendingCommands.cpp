// Handlers whose actions on the chip are not part of this build yet. Each one
// checks the connection and walks and checks its sub-options exactly as the
// finished command will; where it would have to act on the chip it reports the
// failure and returns the command's failure code. Nothing here ever reports
// success for an action it did not perform.
#include "cli/Handlers.h"

#include <QFile>
#include <QString>

#include "ShareParameter.h"
#include "cli/CommandChecks.h"
#include "cli/SubOptionWalk.h"
#include "device/Device.h"
#include "link/BootLoader.h"
#include "link/Com.h"

namespace {

bool Connected(CCom* com)
{
    return com != nullptr && com->GetBootLoader() != nullptr;
}

// The chip action the command needs is not available: report it.
void ReportCannotAct()
{
    WriteInforAndWaitInput("Error:  Device operation failed");
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

} // namespace

int Protection(int argc, char** argv, int& i, CCom* com)
{
    if (!Connected(com))
        return EXIT_NOT_CONNECTED;
    CSubOptionWalk walk(argc, argv, i);
    while (walk.Next()) {
        const std::string& name = walk.Name();
        if (name == "--efap" || name == "--erp" || name == "--efap1") {
            walk.StepBack();
            ReportCannotAct();
            return EXIT_FAP_FAILED;
        }
        if (name == "--efap2") {
            const bool confirmed = ShareParameter::ToLower(walk.Value()) == "--y";
            if (IsOneTimeProtectionSeries(SeriesCode(com))) {
                if (!confirmed) {
                    WriteInforAndWaitInput("KV32S15/S18/S29/S16/S19/S20/S21/S22/S23/S30/S25/S26/S28/S31/S32 "
                                           "need a parameter \"--y\" for operation \"--efap2\"!");
                    return EXIT_FAP2_FAILED;
                }
            } else if (!confirmed) {
                walk.StepBack();
            }
            ReportCannotAct();
            return EXIT_FAP2_FAILED;
        }
        if (name == "--dfap" || name == "--drp") {
            walk.StepBack();
            ReportCannotAct();
            return EXIT_FAP_DISABLE_FAILED;
        }
        if (name == "--eepp" || name == "--ewp") {
            int begin = 0;
            int end = 0;
            ReadSectorRange(walk.Value(), begin, end);
            if (!IsSectorsValid(begin, end, com))
                WriteBadParameterInfor(argv, i);
            else
                ReportCannotAct();
            return EXIT_EPP_ENABLE_FAILED;
        }
        if (name == "--depp" || name == "--dwp") {
            walk.StepBack();
            ReportCannotAct();
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
    if (!Connected(com))
        return EXIT_NOT_CONNECTED;
    CSubOptionWalk walk(argc, argv, i);
    while (walk.Next()) {
        if (!walk.HasValue())
            return EXIT_OK;
        const std::string& name = walk.Name();
        const bool get = name == "--get";
        if (!get && name != "--set")
            continue;
        const int failure = get ? EXIT_GET_USD_FAILED : EXIT_SET_USD_FAILED;
        if (walk.Value() != "--fn") {
            WriteBadParameterInfor(argv, i);
            return failure;
        }
        int& index = walk.Index();
        if (index < argc)
            ++index;
        const std::string file = index < argc ? argv[index] : "";
        if (!IsValidFileName(file)) {
            WriteBadParameterInfor(argv, index);
            return failure;
        }
        if (get) {
            WriteInforAndWaitInput("Get user system data to file");
            WriteInforAndWaitInput("running...");
            ReportCannotAct();
            WriteInforAndWaitInput("Get user system data to file failed!");
        } else {
            g_shareParameter.c_filename = file;
            WriteInforAndWaitInput("Set user system data to device");
            WriteInforAndWaitInput("running...");
            ReportCannotAct();
            WriteInforAndWaitInput("Set user system data to device failed!");
        }
        return failure;
    }
    if (walk.Bad()) {
        WriteInforAndWaitInput(walk.Current());
        return EXIT_BAD_PARAMETER;
    }
    return EXIT_OK;
}

bool EnableBank3(int argc, char** argv, int& i, CCom* com)
{
    if (!Connected(com))
        return false;
    ShareParameter& p = g_shareParameter;
    CSubOptionWalk walk(argc, argv, i);
    while (walk.Next()) {
        const std::string& name = walk.Name();
        if (name == "--ft") {
            p.c_SPIMType = static_cast<uint8_t>(ShareParameter::IntParse(walk.Value()));
        } else if (name == "--fs") {
            const int megabytes = ShareParameter::IntParse(walk.Value());
            if (megabytes < 1 || megabytes > 16) {
                WriteBadParameterInfor(argv, i);
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
    ReportCannotAct();
    return false;
}

int DownLoadOTPData(int argc, char** argv, int& i, CCom* com)
{
    if (!Connected(com))
        return EXIT_NOT_CONNECTED;
    ShareParameter& p = g_shareParameter;
    CSubOptionWalk walk(argc, argv, i);
    while (walk.Next()) {
        WriteInforAndWaitInput("Set OTP data to device");
        WriteInforAndWaitInput("running...");
        if (walk.Name() == "--fn") {
            // A bad name ends the run: nothing can be written from it.
            if (!IsValidOTPFileName(walk.Value())) {
                WriteBadParameterInfor(argv, i);
                return EXIT_BAD_PARAMETER;
            }
            p.c_otpfilename = walk.Value();
        }
    }
    if (walk.Bad()) {
        WriteInforAndWaitInput(walk.Current());
        return EXIT_BAD_PARAMETER;
    }
    if (p.c_otpfilename.empty() || !QFile::exists(QString::fromStdString(p.c_otpfilename))) {
        WriteInforAndWaitInput("Get OTP data from the configuration file failed!");
        return EXIT_OTP_FAILED;
    }
    ReportCannotAct();
    WriteInforAndWaitInput("Write OTP data failed!");
    return EXIT_OTP_FAILED;
}
