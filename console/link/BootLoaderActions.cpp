// The actions the link starts on the target: the operation slot with its
// starting methods, the user system data with the reconnect that follows a
// write, jumping, resetting, and the external SPI flash.

#include "link/BootLoader.h"

#include "ShareParameter.h"

#include "device/Device.h"
#include "files/UserSystemDataFile.h"
#include "link/ComManager.h"
#include "operations/Crc.h"
#include "operations/Download.h"
#include "operations/Erase.h"
#include "operations/FeatureOperations.h"
#include "operations/FlashLayout.h"
#include "operations/Project.h"
#include "operations/Protection.h"
#include "operations/Upload.h"
#include "result/Result.h"
#include "usd/UserSystemData.h"

#include <QThread>

#include <iostream>

#include <cstring>
#include <vector>

namespace {

// Chips whose encoded option-byte block gets index 8 forced to 0xFF.
bool ForcesIndex8(const std::string& name)
{
    return name == "KV32S01CBT6" || name == "KV32S04C8T7" || name == "KV32S91C8T7";
}

const int kReopenAttempts = CBootLoader::REOPEN_PASSES;
const unsigned long kReopenWaitMs = 2000;
const unsigned long kReconnectWaitMs = 100;
const unsigned int kElementMin = 48;
const unsigned int kElementMax = 4096;

// Every operation-starting method: the previous operation goes (after its
// thread), the new one takes the slot and, when given, a copy of the record.
template <class Operation>
void Replace(CBootLoader* link, COperation*& slot, const void* parameters = nullptr)
{
    link->FreeOperation();
    slot = new Operation(link);
    if (parameters)
        slot->SetParameters(const_cast<void*>(parameters));
}

}  // namespace

void CBootLoader::FreeOperation()
{
    if (!m_ObOperation)
        return;
    m_ObOperation->WaitForEnd();  // never delete an operation under its thread
    delete m_ObOperation;
    m_ObOperation = nullptr;
}

void CBootLoader::EraseFlash(const EraseParam& parameters)
{
    Replace<CErase>(this, m_ObOperation, &parameters);
}

void CBootLoader::DownloadToDevice(const DownloadParam& parameters)
{
    Replace<CDownload>(this, m_ObOperation, &parameters);
}

void CBootLoader::UploadFromDevice(const UploadParam& parameters)
{
    Replace<CUpload>(this, m_ObOperation, &parameters);
}

void CBootLoader::AccessProtect(BYTE Level)
{
    Replace<CAccessProtect>(this, m_ObOperation, &Level);
}

void CBootLoader::ReadoutUnProtect()
{
    Replace<CAccessUnProtect>(this, m_ObOperation);
}

void CBootLoader::EraseProgramProtect(const QList<int>& nSectorIndex)
{
    Replace<CEraseProgramProtect>(this, m_ObOperation, &nSectorIndex);
}

void CBootLoader::WriteUnProtect()
{
    Replace<CEraseProgramUnProtect>(this, m_ObOperation);
}

void CBootLoader::EnableBank3Func(const EnBank3Param& parameters)
{
    Replace<CEnBank3>(this, m_ObOperation, &parameters);
}

void CBootLoader::EnableSlib(const EnableSlibParam& parameters)
{
    Replace<CEnableSlib>(this, m_ObOperation, &parameters);
}

void CBootLoader::DisableSlib(unsigned int password)
{
    Replace<CDisableSlib>(this, m_ObOperation, &password);
}

void CBootLoader::DisableSlibCheck(unsigned int password)
{
    DisableSlib(password);
}

void CBootLoader::FirmwareCRCCheck(const FWCRCParam& parameters)
{
    Replace<CFWCRC>(this, m_ObOperation, &parameters);
}

void CBootLoader::FlashCRCCheck(const FlashCRCParam& parameters)
{
    Replace<CFlashCRC>(this, m_ObOperation, &parameters);
}

void CBootLoader::DownloadToDeviceProject(const DLPROJECTParam& parameters)
{
    Replace<CDownloadProject>(this, m_ObOperation, &parameters);
}

CBootLoader::ReopenOutcome CBootLoader::ReopenPasses(bool keepWaitingWithoutDevice,
                                                     const std::function<bool()>& deviceListed,
                                                     const std::function<BYTE()>& open,
                                                     const std::function<void()>& waitBeforePass)
{
    ReopenOutcome outcome;
    for (int pass = 0; pass < kReopenAttempts; ++pass) {
        ++outcome.passes;
        waitBeforePass();
        if (!deviceListed()) {
            if (keepWaitingWithoutDevice)
                continue;
            outcome.gaveUp = true;  // the device list is empty: try the reconnect at once
            break;
        }
        outcome.lastOpen = open();
        if (outcome.lastOpen == SUCCESS) {
            outcome.reopened = true;
            break;
        }
    }
    return outcome;
}

int CBootLoader::ReconnectAfterReset(bool keepWaitingWithoutDevice, bool discardUserSystemData)
{
    Interface_Close(m_handle);
    HANDLE handle = m_handle;
    const ReopenOutcome outcome = ReopenPasses(
        keepWaitingWithoutDevice, [] { return CComManager::InitKVDFUDeviceList(); },
        [handle] { return Interface_Open(handle); }, [] { QThread::msleep(kReopenWaitMs); });
    if (!outcome.reopened && !outcome.gaveUp) {
        TellDFUDeviceGone(outcome.passes);
        return CResult::Convert(static_cast<int>(outcome.lastOpen));
    }
    if (discardUserSystemData) {
        delete m_ObUserSystemData;
        m_ObUserSystemData = nullptr;
    }
    QThread::msleep(kReconnectWaitMs);
    const int connected = Connect();
    if (connected != CResult::SUCCESS && !outcome.reopened)
        TellDFUDeviceGone(outcome.passes);
    return connected;
}

void CBootLoader::TellDFUDeviceGone(int passes) const
{
    if (m_InterfaceType != INTERFACE_DFU)
        return;
    std::cerr << "tarnflash: the DFU device " << g_shareParameter.str_DFUDevice
              << " did not come back within " << passes * kReopenWaitMs / 1000
              << " s of its reset (another board on the bus is never taken in its place)" << std::endl;
    for (const std::string& problem : CComManager::DFUProblems())
        std::cerr << problem << std::endl;
}

int CBootLoader::GetUserSystemData()
{
    if (!m_ObDevice)
        return CResult::UNKNOWN_ERROR;
    int series = FlashLayout::SeriesOf(m_ObDevice);
    int length = CUserSystemData::GetUserSystemDataLength(series, m_BID,
                                                          static_cast<int>(m_ObDevice->m_ISectorSize));
    if (length <= 0)
        return CResult::UNKNOWN_ERROR;
    std::vector<unsigned char> buffer(static_cast<size_t>(length), 0xFF);
    BYTE r = TARGET_GetUserSystemData(m_handle, m_ObDevice->m_UiUserSystemDataAddress, buffer.data(),
                                      static_cast<DWORD>(length));
    if (r == SUCCESS) {
        if (m_ObUserSystemData)
            m_ObUserSystemData->Set(buffer.data(), static_cast<unsigned int>(length));
        else
            m_ObUserSystemData = new CUserSystemData(series, m_BID, m_ObDevice, buffer.data(),
                                                     static_cast<unsigned int>(length));
    }
    return CResult::Convert(static_cast<int>(r));
}

int CBootLoader::SetUserSystemData()
{
    if (!m_ObUserSystemData) {
        int r = GetUserSystemData();
        if (r != 0)
            return r;
    }
    int series = FlashLayout::SeriesOf(m_ObDevice);
    unsigned char* block = nullptr;
    int length = m_ObUserSystemData->Get(block);
    std::vector<unsigned char> encoded(block, block + (length > 0 ? length : 0));
    delete[] block;
    if (encoded.empty())
        return CResult::UNKNOWN_ERROR;
    if (ForcesIndex8(m_ObDevice->m_StrName) && encoded.size() > 8)
        encoded[8] = 0xFF;
    BYTE r = TARGET_SetUserSystemData(m_handle, m_ObDevice->m_UiUserSystemDataAddress,
                                      encoded.data(), static_cast<DWORD>(encoded.size()));
    if (r != SUCCESS)
        return CResult::Convert(static_cast<int>(r));
    // A chip on USB cannot see the port close: it loads the new option bytes
    // only when told to restart, whatever its series.
    if (series == 13 || series == 14 || m_InterfaceType == INTERFACE_DFU) {
        r = KVBL_ResetMCU(m_handle);
        if (r != SUCCESS)
            return CResult::Convert(static_cast<int>(r));
    }
    // The chip restarts with its new option bytes. A failed reconnect does
    // not undo the write; the next command finds the line silent.
    ReconnectAfterReset(false, false);
    return CResult::SUCCESS;
}

int CBootLoader::SaveUserSystemDatatoFile(const std::string& strFilePath)
{
    if (!m_ObUserSystemDataFile)
        m_ObUserSystemDataFile = new CUserSystemDataFile();
    int r = m_ObUserSystemDataFile->Create(m_ObDevice);
    if (r != 0)
        return r;
    IMAGEELEMENT* element = m_ObUserSystemDataFile->GetElement();
    if (!element)
        return CResult::UNKNOWN_ERROR;
    if (!m_ObUserSystemData) {
        r = GetUserSystemData();
        if (r != 0)
            return r;
    }
    unsigned char* image = nullptr;
    int imageLength = m_ObUserSystemData->GetElementData(image);
    if (element->dwDataLength > static_cast<unsigned long>(imageLength) || !element->Data) {
        delete[] image;
        return CResult::UNKNOWN_ERROR;
    }
    std::memcpy(element->Data, image, element->dwDataLength);
    delete[] image;
    r = m_ObUserSystemDataFile->SetElement();
    if (r != 0)
        return r;
    return m_ObUserSystemDataFile->Save(strFilePath);
}

// Opens a user-system-data file and leaves its first element's bytes in
// `bytes`; shared by the three file variants.
static int ReadUserSystemDataElement(CUserSystemDataFile* file, const std::string& path,
                                     std::vector<unsigned char>& bytes)
{
    int r = file->Open(path, nullptr);
    if (r != 0)
        return r;
    file->ResetElement();
    IMAGEELEMENT* element = file->GetElement();
    if (!element)
        return CResult::FILES_EMPTY;
    if (element->dwDataLength < kElementMin || element->dwDataLength > kElementMax || !element->Data)
        return CResult::FILES_BADPARAMETER;
    bytes.assign(element->Data, element->Data + element->dwDataLength);
    return 0;
}

// Leaves the protection level and option bytes 1 to 15 out of an element
// image: FAP becomes 0xA5 and the values of bytes 1-15 become 0xFF.
static void DropProtectionFromElement(std::vector<unsigned char>& bytes)
{
    if (!bytes.empty())
        bytes[0] = 0xA5;
    for (size_t k = 2; k <= 30 && k < bytes.size(); k += 2)
        bytes[k] = 0xFF;
}

// Whether an element image can be written to the chip: its length fits the
// chip's option bytes and, read from a file, every value has its complement.
static int CheckElement(const CBootLoader& link, const std::vector<unsigned char>& bytes, bool exceptFAP,
                        bool fromFile)
{
    const CDevice* device = link.GetDevice();
    if (!device)
        return CResult::UNKNOWN_ERROR;
    int length = CUserSystemData::GetUserSystemDataLength(FlashLayout::SeriesOf(device),
                                                          link.GetBIDValue(),
                                                          static_cast<int>(device->m_ISectorSize));
    // A block shorter than the chip's option bytes would leave the cache as
    // it was and write that instead of the given values.
    if (bytes.size() > kElementMax || bytes.size() < 2 * static_cast<size_t>(length) ||
        (exceptFAP && bytes.size() < kElementMin))
        return CResult::FILES_BADPARAMETER;
    // A file holds every option byte with its complement; a pair that does
    // not match means a damaged file, and nothing of it may reach the chip.
    if (fromFile)
        for (int k = 0; k < length; ++k)
            if (static_cast<unsigned char>(bytes[2 * k] ^ bytes[2 * k + 1]) != 0xFF)
                return CResult::FILES_BADFORMAT;
    return 0;
}

// Decodes an element image into the link's cache (FAP and option bytes 1-15
// left out when exceptFAP); FILES_BADPARAMETER for a bad length.
static int DecodeElementIntoCache(CBootLoader& link, std::vector<unsigned char>& bytes,
                                  bool exceptFAP, bool fromFile = false)
{
    if (!link.GetUserSystemDataModel()) {
        int r = link.GetUserSystemData();
        if (r != 0)
            return r;
    }
    CUserSystemData* cache = link.GetUserSystemDataModel();
    if (!cache)
        return CResult::UNKNOWN_ERROR;
    const int r = CheckElement(link, bytes, exceptFAP, fromFile);
    if (r != 0)
        return r;
    if (exceptFAP)
        DropProtectionFromElement(bytes);
    cache->SetElementData(bytes.data(), static_cast<unsigned int>(bytes.size()));
    return 0;
}

int CBootLoader::CheckUserSystemDataFile(const std::string& strFilePath, bool exceptFAP)
{
    CUserSystemDataFile file;
    std::vector<unsigned char> bytes;
    const int r = ReadUserSystemDataElement(&file, strFilePath, bytes);
    return r != 0 ? r : CheckElement(*this, bytes, exceptFAP, true);
}

// Reads a file's element image through `file` (made on first use) and
// decodes it into the link's cache.
static int DecodeFileIntoCache(CBootLoader& link, CUserSystemDataFile*& file, const std::string& path,
                               bool exceptFAP)
{
    if (!file)
        file = new CUserSystemDataFile();
    std::vector<unsigned char> bytes;
    const int r = ReadUserSystemDataElement(file, path, bytes);
    return r != 0 ? r : DecodeElementIntoCache(link, bytes, exceptFAP, true);
}

// Decodes a caller's element image into the cache and writes the cache to
// the chip.
static int WriteGivenElement(CBootLoader& link, const unsigned char* data, unsigned int length,
                             bool exceptFAP)
{
    if (!data)
        return CResult::FILES_EMPTY;
    std::vector<unsigned char> bytes(data, data + length);
    const int r = DecodeElementIntoCache(link, bytes, exceptFAP);
    return r != 0 ? r : link.SetUserSystemData();
}

int CBootLoader::LoadUserSystemDataFromFile(const std::string& strFilePath)
{
    return DecodeFileIntoCache(*this, m_ObUserSystemDataFile, strFilePath, false);
}

int CBootLoader::LoadUserSystemDataFromFileToDevice(const std::string& strFilePath)
{
    const int r = LoadUserSystemDataFromFile(strFilePath);
    return r != 0 ? r : SetUserSystemData();
}

int CBootLoader::LoadUserSystemDataFromFileToDeviceExceptFAP(const std::string& strFilePath)
{
    const int r = DecodeFileIntoCache(*this, m_ObUserSystemDataFile, strFilePath, true);
    return r != 0 ? r : SetUserSystemData();
}

int CBootLoader::LoadUserSystemDataToDevice(unsigned char* usersystemdata,
                                            unsigned int usersystemdataLen)
{
    return WriteGivenElement(*this, usersystemdata, usersystemdataLen, false);
}

int CBootLoader::LoadUserSystemDataToDeviceExceptFAP(unsigned char* usersystemdata,
                                                     unsigned int usersystemdataLen)
{
    return WriteGivenElement(*this, usersystemdata, usersystemdataLen, true);
}

bool CBootLoader::HasBeenEraseProgramProtect(const QList<int>& aSectorIndexs)
{
    GetUserSystemData();
    if (!m_ObUserSystemData)
        return false;
    QList<int> protectedSectors =
        m_ObUserSystemData->GetEPPMapSectorIndex(aSectorIndexs.isEmpty() ? 0 : aSectorIndexs.last());
    if (protectedSectors.isEmpty())
        return false;
    if (aSectorIndexs.isEmpty())
        return true;
    for (int sector : aSectorIndexs)
        if (protectedSectors.contains(sector))
            return true;
    return false;
}

int CBootLoader::JumpToUserProgram(unsigned int uiAddress)
{
    bool enabled = false;
    if (GetAccessProtectiosStatus(&enabled) == 0 && enabled)
        return CResult::SYS_ACCESS_PROTECTION;
    BYTE r = KVBL_GO(m_handle, uiAddress);
    if (r == SUCCESS)
        m_bHasJumpToUserProgram = true;
    return CResult::Convert(static_cast<int>(r));
}

int CBootLoader::ResetMcu()
{
    BYTE r = KVBL_ResetMCU(m_handle);
    if (r != SUCCESS)
        return CResult::Convert(static_cast<int>(r));
    return ReconnectAfterReset(false, false);
}

int CBootLoader::ResetMcuS90()
{
    if (!m_ObDevice)
        return CResult::UNKNOWN_ERROR;
    unsigned int lastWord = FlashLayout::kFlashBase +
                            static_cast<unsigned int>(m_ObDevice->m_IFlashSize) * 1024u - 4u;
    int r = JumpToUserProgram(lastWord);
    if (r != 0)
        return r;
    return ReconnectAfterReset(false, false);
}

int CBootLoader::ReadoutUnProtectNoThread()
{
    BYTE r = KVBL_ACCESS_PERM_UNPROTECT(m_handle);
    if (r != SUCCESS)
        return CResult::Convert(static_cast<int>(r));
    // The chip mass-erased itself: the cached option bytes are stale.
    return ReconnectAfterReset(false, true);
}

int CBootLoader::EnableSPIM(const EnBank3Param& parameters)
{
    if (parameters.m_bRemapFlag) {
        BYTE r = KVBL_SPIMREMAP(m_handle, 1);
        if (r != SUCCESS)
            return CResult::Convert(static_cast<int>(r));
    }
    // The size travels in bytes; the record holds KB.
    BYTE r = KVBL_EnableBank3(m_handle, parameters.m_bFlashType,
                              static_cast<DWORD>(parameters.m_uiFlashSize) * 1024,
                              parameters.m_uiFlashDA);
    return r == SUCCESS ? 0 : static_cast<int>(r);
}
