#include "operations/Download.h"

#include "KVBL.h"
#include "device/Device.h"
#include "files/ProgramFile.h"
#include "operations/OperationLink.h"
#include "operations/Protection.h"
#include "operations/Crc.h"
#include "operations/Erase.h"
#include "operations/FeatureOperations.h"
#include "operations/FlashLayout.h"
#include "operations/PacketStream.h"
#include "operations/Verify.h"
#include "result/Result.h"

#include <QThread>

#include <vector>

CDownload::CDownload(COperationLink* obBootLoader)
    : COperation(obBootLoader),
      m_Steps(obBootLoader),
      m_obErase(m_Steps.Add(new CErase(obBootLoader))),
      m_obVerify(m_Steps.Add(new CVerify(obBootLoader))),
      m_obFWCRC(m_Steps.Add(new CFWCRC(obBootLoader)))
{
    m_EmType = OP_DOWNLOAD;
    m_strName = CResult::GetInfoString(Info_Operation_Download);
}

CDownload::~CDownload()
{
    WaitForEnd();  // the sub-operations and files are in use while the thread runs
    FreeFiles();
    delete[] m_Parameters.m_UserSystemDataArray;
}

void CDownload::FreeFiles()
{
    qDeleteAll(m_lsProgramFile);
    m_lsProgramFile.clear();
}

void CDownload::SetParameters(void* parameters)
{
    if (!parameters)
        return;
    const DownloadParam& p = *static_cast<DownloadParam*>(parameters);
    if (m_Parameters.m_UserSystemDataArray != p.m_UserSystemDataArray)
        delete[] m_Parameters.m_UserSystemDataArray;
    m_Parameters = p;
}

void CDownload::SetOperationInfoDelegate(lpFunc func)
{
    COperation::SetOperationInfoDelegate(func);
    m_Steps.SetOperationInfoDelegate(func);
}

void CDownload::Cancel()
{
    COperation::Cancel();
    m_Steps.Cancel();
}

void CDownload::Interrupt()
{
    COperation::Interrupt();
    for (COperation* sub : {static_cast<COperation*>(m_obErase), static_cast<COperation*>(m_obVerify),
                            static_cast<COperation*>(m_obFWCRC)})
        sub->Interrupt();
}

unsigned int CDownload::InitAction()
{
    std::string baseName = CResult::GetInfoString(Info_Operation_Download);
    m_strName = m_Parameters.m_strDownPathFile.isEmpty()
                    ? baseName
                    : DecoratedName(baseName, m_Parameters.m_strDownPathFile.first());
    COperation::InitAction();

    unsigned int r = OpenFile();
    if (r != 0)
        return r;
    r = ConfirmAddressOffset();
    if (r != 0)
        return r;
    // Data that would wrap past the end of the address space is refused
    // before anything is erased.
    QList<AddressRange> placed;
    r = GetPlacedRanges(placed);
    if (r != 0)
        return r;
    QList<int> sectors = GetNecessarySectorIndex();
    if (sectors.isEmpty())
        return CResult::UNKNOWN_ERROR;
    if (m_obBootLoader->HasBeenEraseProgramProtect(sectors))
        return CResult::SYS_ERASEPROGRAM_PROTECTION;

    if (m_Parameters.m_bEnBank3) {
        if (m_Parameters.m_uiFlashDA != 0 && m_Parameters.m_UserSystemDataArray) {
            int w = m_obBootLoader->LoadUserSystemDataToDeviceExceptFAP(
                m_Parameters.m_UserSystemDataArray, m_Parameters.m_UserSystemDataLen);
            if (w != 0)
                return CResult::Convert(w);
        }
        r = m_Steps.EnBank3(m_Parameters);
        if (r != 0)
            return r;
        if (IsCancel())
            return 0;
    }
    // After a mass erase everything is written anyway.
    m_bDeltaPlanned = false;
    if (m_Parameters.m_bDelta && m_Parameters.m_enEraseMode == NECESSARY) {
        r = PlanDelta();
        if (r != 0)
            return r;
    }
    r = Erase(m_Parameters.m_enEraseMode);
    if (r != 0)
        return r;
    if (m_Parameters.m_bEnableSlib) {
        r = m_Steps.EnableSlib(m_Parameters, m_Parameters.m_uiPassword);
        if (r != 0)
            return r;
        if (IsCancel()) {
            ResetMcuAfterEnableSlib();
            return 0;
        }
    }
    return 0;
}

bool CDownload::ImageChecksum(uint32_t& crc) const
{
    const CDevice* device = m_obBootLoader ? m_obBootLoader->GetDevice() : nullptr;
    if (m_lsProgramFile.isEmpty() || !device)
        return false;
    return CFWCRC::ImageChecksum(m_lsProgramFile.first(), m_uiAddressOffset.value(0, 0), device->m_ISectorSize,
                                 crc);
}

unsigned int CDownload::OpenFile()
{
    FreeFiles();
    return OpenProgramFiles(m_Parameters.m_strDownPathFile, m_Parameters.m_bOptimize, m_lsProgramFile);
}

unsigned int CDownload::ConfirmAddressOffset()
{
    return AddressOffsetsOf(m_lsProgramFile, m_Parameters.m_uiStartAddress, m_uiAddressOffset);
}

unsigned int CDownload::GetPlacedRanges(QList<AddressRange>& ranges) const
{
    ranges.clear();
    for (int i = 0; i < m_lsProgramFile.size(); ++i) {
        const uint32_t offset = m_uiAddressOffset.value(i, 0);
        for (const AddressRange& range : m_lsProgramFile[i]->GetFileRanges()) {
            uint32_t placed = 0;
            if (!FlashLayout::PlaceRun(range.address, offset, range.length, placed))
                return CResult::FILES_BADADDRESSRANGE;
            ranges.append(AddressRange{placed, range.length});
        }
    }
    return 0;
}

QList<int> CDownload::GetNecessarySectorIndex()
{
    CDevice* device = m_obBootLoader ? m_obBootLoader->GetDevice() : nullptr;
    if (m_lsProgramFile.isEmpty() || !device || !device->m_CMapping)
        return QList<int>();
    // The files' whole runs, blank data included: skipping blank packets
    // must never leave older contents in a sector the image covers.
    QList<AddressRange> ranges;
    if (GetPlacedRanges(ranges) != 0)
        return QList<int>();
    if (m_Parameters.m_bWriteSN)
        ranges.append(AddressRange{m_Parameters.m_uiSNAddress, 4});
    return FlashLayout::SectorsOfRanges(ranges, device->m_ISectorSize);
}

void CDownload::GetNecessaryBlockIndexAndSectorIndex(const QList<int>& sectors,
                                                     unsigned int blockSize,
                                                     unsigned int sectorSize,
                                                     QList<int>& blocks,
                                                     QList<int>& looseSectors)
{
    blocks.clear();
    looseSectors.clear();
    if (blockSize == 0 || !FlashLayout::IsUsableSectorSize(sectorSize)) {
        looseSectors = sectors;
        return;
    }
    auto boundaryAt = [&](int64_t sector) {
        return (static_cast<uint64_t>(sector) * sectorSize) % blockSize == 0;
    };
    // One run of consecutive sector numbers: whole aligned blocks become
    // block erases, everything else stays a sector erase.
    auto splitRun = [&](const QList<int>& run) {
        if (run.isEmpty())
            return;
        bool aligned = boundaryAt(run.first());
        QList<int> pending;
        for (int k = 0; k < run.size(); ++k) {
            int s = run[k];
            if (aligned) {
                if (!boundaryAt(int64_t(s) + 1)) {
                    pending.append(s);
                    if (k == run.size() - 1)
                        looseSectors.append(pending);
                } else {
                    blocks.append(
                        static_cast<int>(static_cast<uint64_t>(s) * sectorSize / blockSize));
                    pending.clear();
                }
            } else {
                looseSectors.append(s);
                if (boundaryAt(int64_t(s) + 1)) {
                    aligned = true;
                    pending.clear();
                }
            }
        }
    };
    QList<int> run;
    for (int s : sectors) {
        if (s < 0 || s >= FlashLayout::kBank3FirstSector) {
            // External-bank sectors have no blocks: erased one by one.
            splitRun(run);
            run.clear();
            looseSectors.append(s);
            continue;
        }
        if (!run.isEmpty() && run.last() + 1 != s) {
            splitRun(run);
            run.clear();
        }
        run.append(s);
    }
    splitRun(run);
}

unsigned int CDownload::PlanDelta()
{
    CDevice* device = m_obBootLoader->GetDevice();
    const Commands* commands = m_obBootLoader->GetCommands();
    if (!device || !commands || !commands->FIRMWARE_CRC_CMD)
        return 0;
    // The serial number goes on erased bytes: a sector that holds an older
    // one is rewritten.
    std::vector<CFWCRC::Piece> blank;
    if (m_Parameters.m_bWriteSN)
        blank.push_back(CFWCRC::Piece{m_Parameters.m_uiSNAddress, 4, nullptr});
    HANDLE handle = Handle();
    unsigned int r = m_DeltaPlan.PlanFiles(
        m_lsProgramFile, m_uiAddressOffset, blank, device->m_ISectorSize,
        [handle](uint32_t address, uint16_t sectors, uint32_t& crc) {
            return CFlashCRC::ReadChipCRC(handle, address, sectors, crc);
        });
    if (r != 0)
        return r;
    m_bDeltaPlanned = true;
    return 0;
}

unsigned int CDownload::SetEraseNecessary(const QList<int>& sectors)
{
    if (sectors.isEmpty())
        return CResult::UNKNOWN_ERROR;
    EraseParam request;
    request.m_iSectorIndex = sectors;
    m_obErase->SetParameters(&request);
    return 0;
}

unsigned int CDownload::SetEraseBlockNecessary(const QList<int>& sectors)
{
    if (sectors.isEmpty())
        return CResult::UNKNOWN_ERROR;
    CDevice* device = m_obBootLoader->GetDevice();
    EraseParam request;
    GetNecessaryBlockIndexAndSectorIndex(sectors, device->m_BlockSize, device->m_ISectorSize,
                                         request.m_iBlockIndex, request.m_iSectorIndex);
    if (request.m_iBlockIndex.isEmpty() && request.m_iSectorIndex.isEmpty())
        return CResult::UNKNOWN_ERROR;
    m_obErase->SetParameters(&request);
    return 0;
}

unsigned int CDownload::Erase(EraseMode mode)
{
    if (!m_obErase)
        return CResult::UNKNOWN_ERROR;
    if (mode == ERASEMODE_NONE)
        return 0;
    if (mode == NECESSARY) {
        int series = FlashLayout::SeriesOf(m_obBootLoader->GetDevice());
        // A block erase carries no address over CAN: sectors are erased there.
        bool blocks = (series == 13 || series == 14) &&
                      m_obBootLoader->GetInterfaceType() != KVBL_INTERFACE_CAN;
        // Never an empty list: the erase would take it for a mass erase.
        if (m_bDeltaPlanned && m_DeltaPlan.ChangedSectors().isEmpty())
            return 0;
        const QList<int> sectors =
            m_bDeltaPlanned ? m_DeltaPlan.ChangedSectors() : GetNecessarySectorIndex();
        unsigned int r = blocks ? SetEraseBlockNecessary(sectors) : SetEraseNecessary(sectors);
        if (r != 0)
            return r;
    } else {
        EraseParam everything;
        m_obErase->SetParameters(&everything);
    }
    return m_obErase->Start();
}

unsigned int CDownload::Action()
{
    int series = FlashLayout::SeriesOf(m_obBootLoader->GetDevice());
    for (int i = 0; i < m_lsProgramFile.size(); ++i) {
        CProgramFile* file = m_lsProgramFile[i];
        uint32_t offset = m_uiAddressOffset.value(i, 0);
        if (i > 0) {
            m_InitInfo.m_strFilePath = file->GetPath();
            m_InitInfo.m_uiFileSize = file->GetFileSize();
            m_InitInfo.m_strName = DecoratedName(
                CResult::GetInfoString(Info_Operation_Download), file->GetPath());
            Callback(INFO_TYPE_INIT);
        }
        unsigned int r = Download(offset, file);
        if (r != 0 || IsCancel()) {
            ResetMcuAfterEnableSlib();
            return r;
        }
        if (series == 1 || series == 2) {
            r = ResetMcuS90();
            if (r != 0)
                return r;
            if (m_Parameters.m_bEnBank3) {
                r = m_Steps.EnBank3(m_Parameters);
                if (r != 0)
                    return r;
            }
        }
        if (m_Parameters.m_bVerify) {
            r = Verify(offset, file);
            if (r != 0 || IsCancel()) {
                ResetMcuAfterEnableSlib();
                return r;
            }
        }
        if (m_Parameters.m_bCRC) {
            r = CheckCRC(offset, file);
            if (r != 0 || IsCancel()) {
                ResetMcuAfterEnableSlib();
                return r;
            }
        }
    }
    CallCommand(COMMAND_DONE);
    return 0;
}

unsigned int CDownload::Download(uint32_t offset, CProgramFile* file)
{
    HANDLE handle = Handle();
    const BOOL optimize = m_Parameters.m_bOptimize ? 1 : 0;
    CPacketStream stream(PacketSizeOf(handle),
                         [handle, optimize](uint32_t at, const unsigned char* data, uint32_t n) {
                             BYTE b = KVBL_DNLOAD(handle, at, const_cast<unsigned char*>(data), n, optimize);
                             return b == SUCCESS ? 0u : CResult::Convert(static_cast<int>(b));
                         });
    file->ResetElement();
    const int count = file->GetElementCount();
    if (count == 0) {
        // Nothing left to send ("--o" of blank data): done at once.
        CalculatePercent(0, 0);
        Callback(INFO_TYPE_ACTION);
    }
    for (int k = 0; k < count; ++k) {
        IMAGEELEMENT* element = file->GetElement();
        if (!element)
            continue;
        uint32_t address = 0;
        if (!FlashLayout::PlaceRun(element->dwAddress, offset, element->dwDataLength, address))
            return CResult::FILES_BADADDRESSRANGE;
        // A delta download writes only into the sectors that differed.
        const QList<AddressRange> whole{AddressRange{address, element->dwDataLength}};
        unsigned int r = FlashLayout::ForEachPartIn(
            m_bDeltaPlanned ? m_DeltaPlan.ChangedRanges() : whole, address, element->dwDataLength,
            [&](uint32_t at, uint64_t skip, uint64_t n) {
                return stream.Add(at, element->Data + skip, static_cast<uint32_t>(n));
            });
        if (r == 0 && k == count - 1)
            r = stream.Flush();
        if (r != 0)
            return r;
        CalculatePercent(file->GetFileStatus(), file->GetFileSize());
        Callback(INFO_TYPE_ACTION);
        if (IsCancel())
            return 0;
    }
    return stream.Flush();
}

unsigned int CDownload::Verify(uint32_t offset, CProgramFile* file)
{
    if (!m_obVerify)
        return CResult::UNKNOWN_ERROR;
    m_obVerify->SetVerifyFile(file);
    m_obVerify->SetAddressOffset(offset);
    // What a delta download wrote is read back; the firmware check that
    // follows covers the rest.
    m_obVerify->SetRanges(m_bDeltaPlanned ? &m_DeltaPlan.ChangedRanges() : nullptr);
    return m_obVerify->Start();
}

unsigned int CDownload::CheckCRC(uint32_t offset, CProgramFile* file)
{
    if (!m_obFWCRC)
        return CResult::UNKNOWN_ERROR;
    m_obFWCRC->SetCheckFile(file, offset);
    return m_obFWCRC->Start();
}

unsigned int CDownload::EndStep(unsigned int result, bool& stop)
{
    if (result == 0 && !IsCancel()) {
        stop = false;
        return 0;
    }
    ResetMcuAfterEnableSlib();
    stop = true;
    return result;
}

unsigned int CDownload::ActionDone()
{
    return m_Steps.AfterData(
        m_Parameters, m_Parameters.m_UserSystemDataArray, m_Parameters.m_UserSystemDataLen,
        [this](unsigned int result, bool& stop) { return EndStep(result, stop); },
        [this] { return JumpToUserProgram(m_uiAddressOffset.value(0, 0)); });
}

unsigned int CDownload::JumpToUserProgram(uint32_t offset)
{
    if (m_lsProgramFile.isEmpty())
        return CResult::UNKNOWN_ERROR;
    // The file's own first byte, even when it was blank and not written.
    const CProgramFile* first = m_lsProgramFile.first();
    if (!first->HasOpen())
        return CResult::FILES_NOTOPEN;
    uint32_t start = 0;
    if (!FlashLayout::PlaceRun(first->GetFileStartAddress(), offset, 0, start))
        return CResult::FILES_BADADDRESSRANGE;
    return static_cast<unsigned int>(m_obBootLoader->JumpToUserProgram(start));
}

unsigned int CDownload::ResetMcu()
{
    return static_cast<unsigned int>(m_obBootLoader->ResetMcu());
}

unsigned int CDownload::ResetMcuS90()
{
    return static_cast<unsigned int>(m_obBootLoader->ResetMcuS90());
}

unsigned int CDownload::ResetMcuAfterEnableSlib()
{
    if (!m_Parameters.m_bEnableSlib)
        return 0;
    return ResetMcu();
}
