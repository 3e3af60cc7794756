#include "operations/Erase.h"

#include "KVBL.h"
#include "device/Device.h"
#include "operations/OperationLink.h"
#include "operations/FlashLayout.h"
#include "result/Result.h"

namespace {

// Time-out of a normal exchange, set back after a mass erase.
const DWORD kNormalTimeOutMs = 5000;
// A mass erase may take long on big chips.
const DWORD kMassEraseTimeOutMs = 100000;

}  // namespace

CErase::CErase(COperationLink* obBootLoader)
    : COperation(obBootLoader), m_iAllSectorNum(0), m_iAddSectorNum(0)
{
    m_EmType = OP_ERASE;
    m_strName = CResult::GetInfoString(Info_Operation_Erase);
}

void CErase::SetParameters(void* parameters)
{
    if (parameters)
        m_parameters = *static_cast<EraseParam*>(parameters);
}

void CErase::CalculatePercent()
{
    if (m_iAllSectorNum == 0) {
        m_ActionInfo.m_iPercent = 100;
        return;
    }
    ++m_iAddSectorNum;
    m_ActionInfo.m_iPercent = PercentOf(m_iAddSectorNum, m_iAllSectorNum);
}

QList<int> CErase::GetNecessarySectorIndexFromBlockIndex(const QList<int>& blocks,
                                                         unsigned int blockSize,
                                                         unsigned int sectorSize)
{
    QList<int> sectors;
    if (!FlashLayout::IsUsableSectorSize(sectorSize) || blockSize == 0)
        return sectors;
    for (int block : blocks) {
        if (block < 0)
            continue;
        uint64_t begin = static_cast<uint64_t>(block) * blockSize;
        uint64_t end = static_cast<uint64_t>(block + 1) * blockSize;
        if (FlashLayout::kFlashBase + end - 1 > FlashLayout::kMainFlashLast)
            continue;
        for (uint64_t n = begin / sectorSize; n < end / sectorSize; ++n)
            sectors.append(static_cast<int>(n));
    }
    return sectors;
}

unsigned int CErase::Action()
{
    m_iAllSectorNum = 0;
    m_iAddSectorNum = 0;
    CDevice* device = m_obBootLoader ? m_obBootLoader->GetDevice() : nullptr;
    if (!device)
        return CResult::UNKNOWN_ERROR;

    // Sector numbers travel as two bytes: a number that does not fit is
    // refused before anything is erased, never truncated.
    for (int sector : m_parameters.m_iSectorIndex)
        if (sector < 0 || sector > 0xFFFF)
            return CResult::PROGRAM_INPUT_PARAMS_ERROR;
    for (int block : m_parameters.m_iBlockIndex)
        if (block < 0)
            return CResult::PROGRAM_INPUT_PARAMS_ERROR;

    if (!m_parameters.m_iBlockIndex.isEmpty()) {
        QList<int> covered = GetNecessarySectorIndexFromBlockIndex(
            m_parameters.m_iBlockIndex, device->m_BlockSize, device->m_ISectorSize);
        if (m_obBootLoader->HasBeenEraseProgramProtect(covered))
            return CResult::SYS_ERASEPROGRAM_PROTECTION;
        m_iAllSectorNum += m_parameters.m_iBlockIndex.size();
    }
    if (!m_parameters.m_iSectorIndex.isEmpty()) {
        if (m_obBootLoader->HasBeenEraseProgramProtect(m_parameters.m_iSectorIndex))
            return CResult::SYS_ERASEPROGRAM_PROTECTION;
        m_iAllSectorNum += m_parameters.m_iSectorIndex.size();
    }
    if (m_parameters.m_iBlockIndex.isEmpty() && m_parameters.m_iSectorIndex.isEmpty()) {
        if (m_obBootLoader->HasBeenEraseProgramProtect(QList<int>()))
            return CResult::SYS_ERASEPROGRAM_PROTECTION;
        return MassErase();
    }
    return EraseBlocksAndSectors();
}

unsigned int CErase::MassErase()
{
    CDevice* device = m_obBootLoader->GetDevice();
    HANDLE handle = Handle();
    SetTimeOut(handle, kMassEraseTimeOutMs);

    BYTE r = KVBL_ERASE(handle, 0xFFFE, nullptr, 0);
    if (r == SUCCESS && device->m_IFlashSize > 512)
        r = KVBL_ERASE(handle, 0xFFFD, nullptr, 0);
    if (r == SUCCESS && device->m_haveBank3) {
        bool sectorWise = false;
        if (FlashLayout::SeriesOf(device) == 4) {
            DWORD slib = 0, sector = 0, password = 0;
            r = KVBL_GetSlibStatus(handle, &slib, &sector, &password);
            sectorWise = (slib & 0x8) != 0;
        }
        if (r == SUCCESS && sectorWise) {
            uint64_t count = static_cast<uint64_t>(device->m_Bank3Szie) * 1024 /
                             FlashLayout::kBank3SectorSize;
            for (uint64_t j = 0; j < count && r == SUCCESS; ++j) {
                unsigned int number = FlashLayout::kBank3FirstSector + static_cast<unsigned>(j);
                BYTE bytes[2] = {static_cast<BYTE>(number & 0xFF),
                                 static_cast<BYTE>((number >> 8) & 0xFF)};
                r = KVBL_ERASE(handle, 1, bytes, FlashLayout::kBank3SectorSize);
            }
        } else if (r == SUCCESS) {
            r = KVBL_ERASE(handle, 0xFFFC, nullptr, 0);
        }
    }
    if (r != SUCCESS) {
        SetTimeOut(handle, kNormalTimeOutMs);
        return CResult::Convert(static_cast<int>(r));
    }
    r = SetTimeOut(handle, kNormalTimeOutMs);
    if (r != SUCCESS)
        return CResult::Convert(static_cast<int>(r));
    CalculatePercent();
    CallCommand(COMMAND_DONE);
    return 0;
}

bool CErase::StepDone()
{
    if (IsCancel())
        return false;
    CalculatePercent();
    Callback(INFO_TYPE_ACTION);
    return true;
}

unsigned int CErase::EraseBlocksAndSectors()
{
    CDevice* device = m_obBootLoader->GetDevice();
    HANDLE handle = Handle();
    for (int block : m_parameters.m_iBlockIndex) {
        DWORD address = FlashLayout::kFlashBase +
                        static_cast<DWORD>(static_cast<unsigned>(block) * device->m_BlockSize);
        BYTE r = KVBL_BLOCK_ERASE(handle, 0xFFFB, address);
        if (r != SUCCESS)
            return CResult::Convert(static_cast<int>(r));
        if (!StepDone())
            return 0;
    }
    for (int sector : m_parameters.m_iSectorIndex) {
        BYTE bytes[2] = {static_cast<BYTE>(sector & 0xFF), static_cast<BYTE>((sector >> 8) & 0xFF)};
        BYTE r = KVBL_ERASE(handle, 1, bytes, device->m_ISectorSize);
        if (r != SUCCESS)
            return CResult::Convert(static_cast<int>(r));
        if (!StepDone())
            return 0;
    }
    CallCommand(COMMAND_DONE);
    return 0;
}
