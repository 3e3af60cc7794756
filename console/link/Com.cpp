#include "link/Com.h"

#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

#include "link/BootLoader.h"
#include "result/Result.h"

namespace {

struct BootOptionRow {
    BootOptionLine reset;
    BootOptionLine boot;
    BootOptionState resetState;
    BootOptionState bootState;
};

// Index = boot option 0..12 of the command line.
const BootOptionRow kBootOptions[] = {
    {BOOTOPTION_NONE, BOOTOPTION_NONE, LOW, HIGH},
    {BOOTOPTION_DTR, BOOTOPTION_NONE, LOW, HIGH},
    {BOOTOPTION_DTR, BOOTOPTION_RTS, LOW, LOW},
    {BOOTOPTION_DTR, BOOTOPTION_RTS, LOW, HIGH},
    {BOOTOPTION_DTR, BOOTOPTION_NONE, HIGH, HIGH},
    {BOOTOPTION_DTR, BOOTOPTION_RTS, HIGH, LOW},
    {BOOTOPTION_DTR, BOOTOPTION_RTS, HIGH, HIGH},
    {BOOTOPTION_RTS, BOOTOPTION_NONE, LOW, HIGH},
    {BOOTOPTION_RTS, BOOTOPTION_DTR, LOW, LOW},
    {BOOTOPTION_RTS, BOOTOPTION_DTR, LOW, HIGH},
    {BOOTOPTION_RTS, BOOTOPTION_NONE, HIGH, HIGH},
    {BOOTOPTION_RTS, BOOTOPTION_DTR, HIGH, LOW},
    {BOOTOPTION_RTS, BOOTOPTION_DTR, HIGH, HIGH},
};
constexpr int kBootOptionCount = static_cast<int>(sizeof kBootOptions / sizeof kBootOptions[0]);

bool HasSerialSettings(char type)
{
    return type == INTERFACE_USART || type == INTERFACE_I2C || type == INTERFACE_CAN ||
           type == INTERFACE_SPI;
}

} // namespace

CCom::CCom()
{
    InitSetting();
}

CCom::CCom(int iPortNum, char type, const char* strPortName) : m_InterfaceType(type)
{
    InitSetting();
    if (type == INTERFACE_DFU) {
        m_iPortNum = iPortNum - 1;
        m_handle = reinterpret_cast<HANDLE>(static_cast<intptr_t>(iPortNum - 1));
    } else {
        m_iPortNum = iPortNum;
        m_strPortName = strPortName != nullptr ? strPortName : "";
        SetSettings(m_iSpeedInBaud, m_iBit, m_iParity);
    }
}

CCom::CCom(const CCom& other)
{
    CopySettings(other);
}

CCom& CCom::operator=(const CCom& other)
{
    if (this != &other) {
        DestroyLink();
        CopySettings(other);
    }
    return *this;
}

CCom::~CCom()
{
    DestroyLink();
}

void CCom::CopySettings(const CCom& o)
{
    m_handle = o.m_handle;
    m_ObBootLoader = nullptr;
    m_iPortNum = o.m_iPortNum;
    m_strPortName = o.m_strPortName;
    m_iSpeedInBaud = o.m_iSpeedInBaud;
    m_iBit = o.m_iBit;
    m_iParity = o.m_iParity;
    m_fStopBit = o.m_fStopBit;
    m_iTimeOut = o.m_iTimeOut;
    m_lsSupSpeedInBaud = o.m_lsSupSpeedInBaud;
    m_lsSupiBit = o.m_lsSupiBit;
    m_lsSupParity = o.m_lsSupParity;
    m_lsSupiTimeOut = o.m_lsSupiTimeOut;
    m_emBootSwitch = o.m_emBootSwitch;
    m_AutoSwitchIndex = o.m_AutoSwitchIndex;
    m_InterfaceType = o.m_InterfaceType;
}

void CCom::DestroyLink()
{
    delete m_ObBootLoader;
    m_ObBootLoader = nullptr;
}

void CCom::InitSetting()
{
    m_iSpeedInBaud = 115200;
    m_iBit = 8;
    m_iParity = 2;
    m_fStopBit = 1.0f;
    m_iTimeOut = 5;
    m_emBootSwitch = MANUAL;
    m_AutoSwitchIndex = 0;
    m_handle = nullptr;
    m_ObBootLoader = nullptr;
    m_lsSupSpeedInBaud.clear();
    m_lsSupiBit.clear();
    m_lsSupParity.clear();
    m_lsSupiTimeOut.clear();
    if (m_InterfaceType != INTERFACE_USART)
        return;
    m_lsSupSpeedInBaud << 1200 << 2400 << 4800 << 9600 << 14400 << 19200 << 38400 << 56000
                       << 57600 << 115200 << 128000 << 256000;
    m_lsSupiBit << 8;
    m_lsSupParity << 0 << 1 << 2;
    m_lsSupiTimeOut << 1 << 2 << 3 << 4 << 5 << 6 << 7 << 8 << 9 << 10 << 20 << 30 << 40 << 50
                    << 60 << 70 << 80 << 90 << 120;
}

int CCom::SetSettings(int speedInBaud, int nbBit, int parity)
{
    if (!HasSerialSettings(m_InterfaceType))
        return CResult::SUCCESS;
    std::vector<char> name(m_strPortName.begin(), m_strPortName.end());
    name.push_back('\0');
    const BYTE result = SetCOMSettings(&m_handle, m_iPortNum, name.data(), speedInBaud, nbBit,
                                       parity, m_fStopBit);
    if (result == 0) {
        m_iSpeedInBaud = speedInBaud;
        m_iBit = nbBit;
        m_iParity = parity;
    }
    return CResult::Convert(static_cast<int>(result));
}

void CCom::SetBootSwitch(BootSwitch emSwitch)
{
    if (m_InterfaceType == INTERFACE_USART)
        m_emBootSwitch = emSwitch;
}

bool CCom::SetBootOption()
{
    if (m_InterfaceType != INTERFACE_USART)
        return true;
    if (m_emBootSwitch != AUTOMATIC)
        return false;
    if (m_AutoSwitchIndex < 0 || m_AutoSwitchIndex >= kBootOptionCount)
        return false;
    const BootOptionRow& row = kBootOptions[m_AutoSwitchIndex];
    return SetBootOption(row.reset, row.boot, row.resetState, row.bootState);
}

bool CCom::SetBootOption(BootOptionLine Reset, BootOptionLine BL, BootOptionState ResetState,
                         BootOptionState BLState)
{
    if (m_InterfaceType != INTERFACE_USART)
        return true;
    if (Reset == BOOTOPTION_NONE && BL != BOOTOPTION_NONE)
        return false;
    DriveLine(Reset, ResetState == HIGH);
    Pause(100);
    DriveLine(BL, BLState == HIGH);
    Pause(100);
    DriveLine(Reset, ResetState == LOW);
    Pause(200);
    DriveLine(BL, BLState == LOW);
    Pause(200);
    return true;
}

void CCom::DriveLine(BootOptionLine line, bool level)
{
    // Line-control failures are not reported: the connect that follows tells.
    if (line == BOOTOPTION_DTR)
        (void)KVBL_SetDtr(m_handle, level);
    else if (line == BOOTOPTION_RTS)
        (void)KVBL_SetRts(m_handle, level);
}

void CCom::Pause(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

int CCom::SetComTimeOut(int iTimeOut)
{
    if (!HasSerialSettings(m_InterfaceType))
        return CResult::SUCCESS;
    const BYTE result = SetTimeOut(m_handle, static_cast<DWORD>(iTimeOut));
    if (result == 0)
        m_iTimeOut = iTimeOut;
    return CResult::Convert(static_cast<int>(result));
}

int CCom::Open()
{
    const BYTE result = Interface_Open(m_handle);
    if (result == 0) {
        DestroyLink();
        m_ObBootLoader = new CBootLoader(this, m_InterfaceType);
    }
    return CResult::Convert(static_cast<int>(result));
}

int CCom::Close()
{
    DestroyLink();
    return CResult::Convert(static_cast<int>(Interface_Close(m_handle)));
}

bool CCom::IsOpen() const
{
    return Interface_is_Open(m_handle) == 1;
}
