#include "link/BootLoader.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "device/Device.h"
#include "device/MapCatalogue.h"
#include "device/Mapping.h"
#include "files/UserSystemDataFile.h"
#include "link/Com.h"
#include "operations/Operation.h"
#include "result/Result.h"
#include "usd/UserSystemData.h"

namespace {

// Library codes used where the link reports a failure of its own.
constexpr int kLibReadFail = 0x05;
constexpr int kLibUnrecognizedDevice = 0x12;
constexpr int kLibCmdNotAllowed = 0x13;

int Lib(BYTE result)
{
    return CResult::Convert(static_cast<int>(result));
}

std::string HexByte(unsigned value)
{
    char text[8];
    std::snprintf(text, sizeof text, "%02X", value & 0xFFu);
    return text;
}

} // namespace

CBootLoader::CBootLoader(CCom* hCCom, char type)
    : m_handle(hCCom != nullptr ? hCCom->GetHandle() : nullptr),
      m_pCmds(new Commands()),
      m_InterfaceType(type),
      m_hCCOM(hCCom)
{
    std::memset(m_pCmds, 0, sizeof(Commands));
}

CBootLoader::~CBootLoader()
{
    // First the operation, after its thread has ended: it uses the command
    // set, the device and the cached data freed below.
    FreeOperation();
    if (m_InterfaceType == INTERFACE_USART)
        (void)KVBL_SetResetHandler(m_handle, nullptr, nullptr);
    delete m_pCmds;
    m_pCmds = nullptr;
    delete m_ObUserSystemData;
    m_ObUserSystemData = nullptr;
    delete m_ObUserSystemDataFile;
    m_ObUserSystemDataFile = nullptr;
    // m_pDeviceManager frees the descriptions it made when it goes.
}

void CBootLoader::SetI2CSettings(unsigned int uiAddr, unsigned long ulRate, unsigned char bDutyCycle)
{
    m_uiAddr = uiAddr;
    m_ulRate = ulRate;
    m_bDutyCycle = bDutyCycle;
}

void CBootLoader::SetCANSettings(unsigned int uiCANSpeed)
{
    m_uiCANSpeed = uiCANSpeed;
}

void CBootLoader::SetSPISettings(unsigned long ulSPISpeed)
{
    m_ulSPISpeed = ulSPISpeed;
}

int CBootLoader::Connect()
{
    m_bHasJumpToUserProgram = false;
    BYTE result = 0;
    switch (m_InterfaceType) {
    case INTERFACE_USART:
        // With automatic boot entry, a chip that stops answering in the
        // middle of a command is reset through the same lines and connected
        // again, and the command is repeated (a real chip never notices the
        // port being closed and opened again: only a reset reaches it).
        if (m_hCCOM != nullptr && m_hCCOM->GetBootSwitch() == AUTOMATIC)
            (void)KVBL_SetResetHandler(m_handle, &CBootLoader::ResetThroughBootLines, this);
        else
            (void)KVBL_SetResetHandler(m_handle, nullptr, nullptr);
        if (m_hCCOM != nullptr)
            (void)m_hCCOM->SetBootOption();
        result = KVBL_Init_BL(m_handle, 0, 0, 0);
        if (result != 0)
            return Lib(result);
        (void)KVBL_KV32ISP_TOOL(m_handle);
        break;
    case INTERFACE_DFU:
        break;
    case INTERFACE_I2C:
        result = KVBL_Init_BL(m_handle, static_cast<WORD>(m_uiAddr), m_ulRate, m_bDutyCycle);
        if (result != 0)
            return Lib(result);
        break;
    case INTERFACE_CAN:
        result = KVBL_Init_BL(m_handle, 0, 2, 0);
        if (result != 0)
            return Lib(result);
        result = KVBL_SetSpeed(m_handle, m_uiCANSpeed);
        if (result != 0)
            return Lib(result);
        break;
    case INTERFACE_SPI:
        result = KVBL_Init_BL(m_handle, 0, m_ulSPISpeed, 0);
        if (result != 0)
            return Lib(result);
        break;
    default:
        return CResult::PROGRAM_INPUT_PARAMS_ERROR;
    }
    char version = 0;
    return Get(&version, m_pCmds);
}

BYTE CBootLoader::ResetThroughBootLines(HANDLE, void* context)
{
    CBootLoader* link = static_cast<CBootLoader*>(context);
    return link != nullptr && link->Connect() == CResult::SUCCESS ? SUCCESS : READ_FAIL;
}

int CBootLoader::Get(char* Version, Commands* pCmds)
{
    if (Version == nullptr || pCmds == nullptr)
        return CResult::PROGRAM_INPUT_PARAMS_ERROR;
    return Lib(KVBL_GET(m_handle, reinterpret_cast<LPBYTE>(Version), pCmds));
}

bool CBootLoader::DecodeProductId(const BYTE* id, int length, std::string& strPID, BYTE& chipSeries)
{
    strPID.clear();
    chipSeries = 2;
    if (id == nullptr)
        return false;
    if (length == 2) {
        strPID = HexByte(id[0]) + HexByte(id[1]);
        return true;
    }
    if (length == 5) {
        strPID = HexByte(id[2]) + HexByte(id[3]) + HexByte(id[0]) + HexByte(id[1]);
        chipSeries = id[4];
        return true;
    }
    return false;
}

int CBootLoader::GetPID(std::string& strPID, BYTE& chipSeries)
{
    strPID.clear();
    chipSeries = 2;
    // The identifier is asked twice (its length, then its bytes). Its answer
    // carries no check bytes, so both answers are kept: a byte changed on
    // the line shows as a difference, and the chip is asked again until two
    // answers agree (a wrong identifier would find another chip's map).
    constexpr int kAnswers = 4;
    BYTE ids[kAnswers][256] = {};  // the length is one byte: 256 hold any answer
    BYTE sizes[kAnswers] = {};
    for (int k = 0; k < kAnswers; ++k) {
        sizes[k] = 255;  // the room in ids[k]
        const BYTE result = KVBL_GET_ID(m_handle, &sizes[k], ids[k]);
        if (result != 0)
            return Lib(result);
        for (int j = 0; j < k; ++j) {
            if (sizes[j] != sizes[k] || std::memcmp(ids[j], ids[k], sizes[k]) != 0)
                continue;
            if (!DecodeProductId(ids[k], sizes[k], strPID, chipSeries))
                return CResult::Convert(kLibReadFail);
            return CResult::SUCCESS;
        }
    }
    return CResult::Convert(kLibReadFail);
}

int CBootLoader::KV32GetFlashSize(unsigned int value)
{
    static const int kSizes[23] = {16,  24,  32,   48,   64,   72,   96,   128,
                                   192, 256, 384,  512,  768,  1024, 1536, 2048,
                                   4096, 5120, 192, 960, 1984, 4032, 448};
    const unsigned code = (value >> 6) & 0x1Fu;
    if (code > 22)
        return 0;
    return kSizes[code];
}

int CBootLoader::InitDevice()
{
    m_ObDevice = nullptr;
    m_strCatalogueProblem.clear();
    std::string strPID;
    BYTE chipSeries = 0;
    int result = GetPID(strPID, chipSeries);
    if (result != CResult::SUCCESS)
        return result;
    const unsigned long pid = std::strtoul(strPID.c_str(), nullptr, 16);
    const int flashSize = KV32GetFlashSize(static_cast<unsigned int>(pid));
    const std::string serial = HexByte(chipSeries);
    m_ObDevice = m_pDeviceManager.GetDevice(strPID, serial, flashSize);
    if (m_ObDevice == nullptr)
        return CResult::Convert(kLibUnrecognizedDevice);
    // A sector file that exists but cannot be read would leave a connected
    // chip without sectors, on which every download fails later.
    if (m_ObDevice->m_CMapping != nullptr && m_ObDevice->m_CMapping->IsBroken()) {
        m_ObDevice = nullptr;
        return CResult::FILES_BADFORMAT;
    }
    // Erases are planned from the sector table: one that does not describe
    // this chip's flash would erase pages outside the image.
    m_strCatalogueProblem = CatalogueDisagreement(*m_ObDevice);
    if (!m_strCatalogueProblem.empty()) {
        m_ObDevice = nullptr;
        return CResult::FILES_BADFORMAT;
    }
    const int packetSize = m_ObDevice->m_CMapping != nullptr ? m_ObDevice->m_CMapping->GetPacketSize() : 0;
    (void)SetComPaketSize(packetSize);
    std::string version;
    std::string bid;
    return GetVersion(version, bid);
}

void CBootLoader::DecodeVersion(BYTE bVersion, BYTE bBIDReserve, BYTE bBID, std::string& strVersion,
                                std::string& strBid, int& bid)
{
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u", static_cast<unsigned>(bVersion >> 4),
                  static_cast<unsigned>(bVersion & 0x0F));
    strVersion = text;
    if (bBID == 0) {
        strBid = "NA";
        return;
    }
    if (bBIDReserve == 0xFF) {
        strBid = HexByte(bBID >> 4) + HexByte(bBID & 0x0F);
        bid = bBID * 256;
        return;
    }
    strBid = HexByte(bBID) + HexByte(bBIDReserve);
    bid = bBID * 256 + bBIDReserve;
}

int CBootLoader::GetVersion(std::string& strVersion, std::string& strBid)
{
    strVersion.clear();
    strBid.clear();
    BYTE bVersion = 0;
    BYTE bBIDReserve = 0;
    BYTE bBID = 0;
    const BYTE result = KVBL_GET_VER_ROPS(m_handle, &bVersion, &bBIDReserve, &bBID);
    if (result != 0)
        return Lib(result);
    DecodeVersion(bVersion, bBIDReserve, bBID, strVersion, strBid, m_BID);
    return CResult::SUCCESS;
}

bool CBootLoader::IsNeedReeonnect()
{
    std::string version;
    std::string bid;
    return GetVersion(version, bid) != CResult::SUCCESS;
}

std::string CBootLoader::DecodeFallbackBID(BYTE value)
{
    if (value < 0x40 || value == 0xFF)
        return "NA";
    char text[8];
    std::snprintf(text, sizeof text, "%x", static_cast<unsigned>(value));
    return text;
}

void CBootLoader::GetBID(std::string& strBID)
{
    strBID.clear();
    BYTE block[BID_BLOCK_LENGTH] = {};
    if (KVBL_UPLOAD(m_handle, BID_BLOCK_ADDRESS, block, BID_BLOCK_LENGTH) != 0) {
        strBID = "NA";
        return;
    }
    strBID = DecodeFallbackBID(block[6]);
}

int CBootLoader::GetUID(unsigned char* bUID)
{
    if (bUID == nullptr)
        return CResult::PROGRAM_INPUT_PARAMS_ERROR;
    BYTE uid[UID_LENGTH] = {};
    const BYTE result = KVBL_UPLOAD(m_handle, UID_ADDRESS, uid, UID_LENGTH);
    if (result == 0)
        std::memcpy(bUID, uid, UID_LENGTH);
    return Lib(result);
}

int CBootLoader::GetFlashSize(unsigned int uiAddr, int& size)
{
    WORD value = 0;
    const BYTE result = TARGET_GetFlashSize(m_handle, uiAddr, &value);
    if (result == 0)
        size = value;
    return Lib(result);
}

int CBootLoader::SetComPaketSize(int size)
{
    return Lib(SetPaketSize(m_handle, static_cast<BYTE>(size)));
}

int CBootLoader::GetAccessProtectiosStatus(bool* bEnabled)
{
    if (bEnabled == nullptr)
        return CResult::PROGRAM_INPUT_PARAMS_ERROR;
    *bEnabled = false;
    unsigned int address = 0;
    if (m_ObDevice != nullptr) {
        address = m_ObDevice->m_UiFlashSizeAdd;
    } else {
        std::string strPID;
        BYTE chipSeries = 0;
        const int result = GetPID(strPID, chipSeries);
        if (result != CResult::SUCCESS)
            return result;
        const unsigned long pid = std::strtoul(strPID.c_str(), nullptr, 16);
        const int flashSize = KV32GetFlashSize(static_cast<unsigned int>(pid));
        // The same series text as identification uses, so that the catalogue
        // lookup and its cache agree.
        address = m_pDeviceManager.GetFlashSizeAddress(strPID, HexByte(chipSeries), flashSize);
        if (address == 0)
            return CResult::Convert(kLibUnrecognizedDevice);
    }
    int size = 0;
    int result = GetFlashSize(address, size);
    if (result == CResult::Convert(kLibCmdNotAllowed) && m_pCmds != nullptr && m_pCmds->READ_CMD) {
        *bEnabled = true;
        result = CResult::SUCCESS;
    }
    return result;
}
