// The connect commands: -com, -i2c, -can, -spi and -dfu.
#include "cli/Handlers.h"

#include <cctype>
#include <iostream>
#include <string>

#include "ShareParameter.h"
#include "cli/SubOptionWalk.h"
#include "device/Device.h"
#include "link/BootLoader.h"
#include "link/Com.h"
#include "link/ComManager.h"
#include "result/Result.h"

namespace {

// Bounds of the numbers a connect command takes.
constexpr int kMinTimeOut = 1;
constexpr int kMaxTimeOut = 120;
constexpr int kMaxBootOption = 12;

// The link's own bridge settings, used while the line has not given them.
constexpr uint32_t kDefaultI2CAddress = 0x3C;
constexpr uint32_t kDefaultI2CRate = 400000;
constexpr uint32_t kDefaultDutySelector = 0;
constexpr uint32_t kDefaultCANSpeed = 2;
constexpr uint64_t kDefaultSPISpeed = 150000;

// Which bridge settings some connect command of this run has given.
struct BridgeSettingsGiven {
    bool addr = false;
    bool rate = false;
    bool dc = false;
    bool canSpeed = false;
    bool spiSpeed = false;
} s_given;

struct ConnectKind {
    const char* banner;
    char type;
    int firstTimeOutMs;
};

const ConnectKind kUsart = {"USART Connect......", INTERFACE_USART, 1000};
const ConnectKind kI2C = {"I2C Connect......", INTERFACE_I2C, 5000};
const ConnectKind kCAN = {"CAN Connect......", INTERFACE_CAN, 1000};
const ConnectKind kSPI = {"SPI Connect......", INTERFACE_SPI, 2000};

// Decimal number read from the first digit of the text onward; 0 without one.
// The number only picks the library's entry for the port (0..1024). A device
// path can hold a larger one before its end (/dev/serial/by-id/usb-..._CP2102_
// ...-if00-port0): the number that ends the name (0 there) is taken instead,
// and 0 when that does not fit either.
int PortNumberOf(const std::string& name)
{
    const int kMaxPortNumber = KVBL_MAX_PORTS - 1;
    for (size_t k = 0; k < name.size(); ++k) {
        if (!std::isdigit(static_cast<unsigned char>(name[k])))
            continue;
        const int first = ShareParameter::IntParse(name.substr(k));
        if (first >= 0 && first <= kMaxPortNumber)
            return first;
        size_t end = name.size();
        while (end > 0 && std::isdigit(static_cast<unsigned char>(name[end - 1])))
            --end;
        const int last = end < name.size() ? ShareParameter::IntParse(name.substr(end)) : 0;
        return last >= 0 && last <= kMaxPortNumber ? last : 0;
    }
    return 0;
}

// The sub-options of one connect command; false (reported) on a bad one.
bool ReadConnectOptions(int argc, char** argv, int& i, char type)
{
    ShareParameter& p = g_shareParameter;
    CSubOptionWalk walk(argc, argv, i, true);
    while (walk.Next()) {
        const std::string& name = walk.LowerName();
        const std::string& value = walk.Value();
        bool bad = false;
        if (name == "--pn") {
            p.str_portName = value;
            p.c_portNumber = PortNumberOf(value);
        } else if (type == INTERFACE_USART && name == "--br") {
            p.c_BaudRate = ShareParameter::IntParse(value);
        } else if (type == INTERFACE_USART && name == "--db") {
            p.c_DataBits = ShareParameter::IntParse(value);
        } else if (type == INTERFACE_USART && name == "--pr") {
            p.c_parity = ShareParameter::ParityToInt(ShareParameter::ToUpper(value));
        } else if (type == INTERFACE_USART && name == "--to") {
            const int seconds = ShareParameter::IntParse(value);
            bad = seconds < kMinTimeOut || seconds > kMaxTimeOut;
            if (!bad)
                p.c_timeout = seconds;
        } else if (type == INTERFACE_USART && name == "--auto") {
            const int option = ShareParameter::IntParse(value);
            bad = option < 0 || option > kMaxBootOption;
            if (!bad) {
                p.c_autoConnectFlag = true;
                p.c_autoConnectOption = option;
            }
        } else if (type == INTERFACE_I2C && name == "--addr") {
            p.addr = ShareParameter::StringToUInt32(value, 16);
            s_given.addr = true;
        } else if (type == INTERFACE_I2C && name == "--rate") {
            p.rate = static_cast<uint32_t>(ShareParameter::IntParse(value));
            s_given.rate = true;
        } else if (type == INTERFACE_I2C && name == "--dc") {
            p.dc = static_cast<uint32_t>(ShareParameter::IntParse(value));
            s_given.dc = true;
        } else if (type == INTERFACE_CAN && name == "--speed") {
            p.uiCANSpeed = static_cast<uint32_t>(ShareParameter::IntParse(value));
            s_given.canSpeed = true;
        } else if (type == INTERFACE_SPI && name == "--speed") {
            p.ulSPISpeed = static_cast<uint64_t>(ShareParameter::StringToUInt32(value, 10));
            s_given.spiSpeed = true;
        }
        if (bad) {
            CloseConnection();
            WriteBadParameterInfor(argv, i);
            return false;
        }
    }
    if (walk.Bad()) {
        CloseConnection();
        WriteBadParameterInfor(argv, i);
        return false;
    }
    return true;
}

// Closes and forgets the run's previous connection before a new one is made.
void ReleaseConnection(CCom*& com)
{
    if (com == nullptr)
        return;
    if (com->IsOpen())
        com->Close();
    if (g_shareParameter.c_obCCom == com)
        g_shareParameter.c_obCCom = nullptr;
    delete com;
    com = nullptr;
}

void PrintIdentity(CBootLoader* link, CDevice* device)
{
    std::string version;
    std::string bid;
    link->GetVersion(version, bid);
    if (bid == "NA") {
        std::string fallback = bid;
        link->GetBID(fallback);
    }
    WriteInforAndWaitInput("Device:  " + device->m_StrName + "    Flash:  " +
                           std::to_string(device->m_IFlashSize) + " KB");
    WriteInforAndWaitInput("PID:  " + device->m_StrPID + "      BID:  " + bid + "    Version:  " + version);
    WriteInforAndWaitInput("Device connected Successfully");
    WriteInforAndWaitInput("");
}

// Connect over a serial line (USART or a bridge on a serial port).
bool SerialConnect(const ConnectKind& kind, int argc, char** argv, int& i, CCom*& com)
{
    ShareParameter& p = g_shareParameter;
    WriteInforAndWaitInput(kind.banner);
    p.m_InterfaceType = kind.type;
    if (!ReadConnectOptions(argc, argv, i, kind.type))
        return false;

    CComManager manager;
    manager.SetInterfaceType(kind.type);
    if (p.c_portNumber == -1) {
        WriteInforAndWaitInput("Don't choose com port number");
        return false;
    }
    ReleaseConnection(com);
    // The serial port opens a bare name under /dev and a full path as it is.
    com = new CCom(p.c_portNumber, kind.type, p.str_portName.c_str());
    if (kind.type == INTERFACE_USART)
        (void)com->SetSettings(p.c_BaudRate, p.c_DataBits, p.c_parity);
    else
        (void)com->SetSettings(115200, 8, 2);

    if (com->Open() != CResult::SUCCESS || com->GetBootLoader() == nullptr) {
        WriteInforAndWaitInput("Cannot open the com port, the port not exist or may be used by another application");
        return false;
    }
    (void)com->SetComTimeOut(kind.firstTimeOutMs);
    if (kind.type == INTERFACE_USART && p.c_autoConnectFlag) {
        com->SetBootSwitch(AUTOMATIC);
        com->SetBootOptionIndex(p.c_autoConnectOption);
    } else {
        com->SetBootSwitch(MANUAL);
    }

    CBootLoader* link = com->GetBootLoader();
    if (kind.type == INTERFACE_I2C) {
        link->SetI2CSettings(s_given.addr ? p.addr : kDefaultI2CAddress,
                             s_given.rate ? p.rate : kDefaultI2CRate,
                             static_cast<unsigned char>(s_given.dc ? p.dc : kDefaultDutySelector));
    } else if (kind.type == INTERFACE_CAN) {
        link->SetCANSettings(s_given.canSpeed ? p.uiCANSpeed : kDefaultCANSpeed);
    } else if (kind.type == INTERFACE_SPI) {
        link->SetSPISettings(static_cast<unsigned long>(s_given.spiSpeed ? p.ulSPISpeed : kDefaultSPISpeed));
    }

    if (link->Connect() != CResult::SUCCESS) {
        WriteInforAndWaitInput("Unrecognized device...Please, reset your device then try again ");
        com->Close();
        return false;
    }
    (void)com->SetComTimeOut(p.c_timeout * 1000);
    CDevice* device = InitDevice(com->GetBootLoader());
    if (device == nullptr) {
        WriteInforAndWaitInput("Init Device Failed!");
        com->Close();
        return false;
    }
    PrintIdentity(com->GetBootLoader(), device);
    return true;
}

} // namespace

CDevice* InitDevice(CBootLoader* link)
{
    if (link == nullptr)
        return nullptr;
    link->InitDevice();
    if (link->GetDevice() == nullptr && !link->CatalogueProblem().empty())
        std::cerr << "tarnflash: the device catalogue does not fit this chip: " << link->CatalogueProblem()
                  << std::endl;
    return link->GetDevice();
}

bool USARTConnect(int argc, char** argv, int& i, CCom*& com)
{
    return SerialConnect(kUsart, argc, argv, i, com);
}

bool I2CConnect(int argc, char** argv, int& i, CCom*& com)
{
    return SerialConnect(kI2C, argc, argv, i, com);
}

bool CANConnect(int argc, char** argv, int& i, CCom*& com)
{
    return SerialConnect(kCAN, argc, argv, i, com);
}

bool SPIConnect(int argc, char** argv, int& i, CCom*& com)
{
    return SerialConnect(kSPI, argc, argv, i, com);
}

namespace {

// The words a "-dfu" takes: "--sn SERIAL" and the program's "--log FILE".
// Any other word is left for the main walk. Leaves i past what it took.
void ReadDFUOptions(int argc, char** argv, int& i, std::string& serial)
{
    if (i < argc)
        ++i;
    while (i + 1 < argc && argv[i] != nullptr) {
        const std::string word = ShareParameter::ToLower(argv[i]);
        if (word != "--sn" && word != "--log")
            break;
        if (word == "--sn")
            serial = argv[i + 1] != nullptr ? argv[i + 1] : "";
        i += 2;
    }
}

// "serial=..." of a listing text; empty when it has none.
std::string SerialOf(const std::string& listing)
{
    const size_t at = listing.find("serial=");
    return at == std::string::npos ? std::string() : listing.substr(at + 7);
}

void ReportDFUProblems()
{
    for (const std::string& problem : CComManager::DFUProblems())
        std::cerr << problem << std::endl;
}

} // namespace

bool DFUConnect(int argc, char** argv, int& i, CCom*& com)
{
    WriteInforAndWaitInput("DFU Connect......");
    std::string serial;
    ReadDFUOptions(argc, argv, i, serial);
    g_shareParameter.m_InterfaceType = INTERFACE_DFU;
    CComManager manager;
    manager.SetInterfaceType(INTERFACE_DFU);

    BYTE count = 0;
    QList<std::string> listed;
    if (CComManager::ListDFUDevices(&count, &listed) != 0 || count == 0) {
        ReportDFUProblems();
        WriteInforAndWaitInput("Unable to get DFU device");
        return false;
    }
    QList<CCom> devices = manager.getCom(count);
    // Without a serial number the first chip is taken.
    int chosen = devices.isEmpty() ? -1 : 0;
    if (!serial.empty()) {
        chosen = -1;
        for (int k = 0; k < listed.size() && k < devices.size(); ++k)
            if (SerialOf(listed[k]) == serial)
                chosen = k;
        if (chosen < 0) {
            std::cerr << "No KV32 DFU device has the serial number " << serial << "; found:";
            for (const std::string& device : listed)
                std::cerr << " " << SerialOf(device);
            std::cerr << std::endl;
        }
    }
    if (chosen < 0) {
        WriteInforAndWaitInput("Don't have DFU device!");
        return false;
    }
    ReleaseConnection(com);
    com = new CCom(devices[chosen]);
    devices.clear();
    g_shareParameter.str_DFUDevice = listed.value(chosen).substr(0, listed.value(chosen).find(' '));
    com->Close();
    // From now on the port reaches this chip only, also when it comes back
    // from a reset after the other boards on the bus.
    (void)KVBL_BindDFUDevice(com->GetHandle(), listed.value(chosen).c_str());
    if (com->Open() != CResult::SUCCESS || com->GetBootLoader() == nullptr) {
        ReportDFUProblems();
        WriteInforAndWaitInput("Open DFU device error!");
        return false;
    }
    if (com->GetBootLoader()->Connect() != CResult::SUCCESS) {
        ReportDFUProblems();
        WriteInforAndWaitInput("Unrecognized device...Please, reset your device then try again");
        return false;
    }
    CDevice* device = InitDevice(com->GetBootLoader());
    if (device == nullptr) {
        WriteInforAndWaitInput("Init Device Failed!");
        return false;
    }
    PrintIdentity(com->GetBootLoader(), device);
    return true;
}
