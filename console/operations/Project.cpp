#include "operations/Project.h"

#include "KVBL.h"
#include "device/Device.h"
#include "operations/OperationLink.h"
#include "operations/Erase.h"
#include "operations/FeatureOperations.h"
#include "operations/FlashLayout.h"
#include "operations/Protection.h"
#include "result/Result.h"

#include <algorithm>

namespace {

constexpr uint32_t kTopOfPartAddresses = 0x1FFFFFFF;

std::string RecordName(const char* baseText, const SFileInfo& record)
{
    return CResult::GetInfoString(baseText) + "------(" + record.LoadFileType + ")";
}

unsigned int Converted(BYTE r)
{
    return static_cast<unsigned int>(CResult::Convert(static_cast<int>(r)));
}

// Sends every part of a record piece by piece through transfer (0 or the
// failure), counting the bytes into done and reporting each piece. A cancel
// ends the record after the piece in flight, with 0.
template <class Operation>
unsigned int ForEachRecordPiece(
    Operation& op, const SFileInfo& record, uint32_t& done,
    const std::function<unsigned int(uint32_t, const unsigned char*, uint32_t)>& transfer)
{
    for (const HEXFILEPARTINFO& part : record.partInfo) {
        unsigned int r = ForEachProjectPiece(part, [&](uint32_t address, const unsigned char* data, uint32_t n) {
            const unsigned int t = transfer(address, data, n);
            if (t != 0)
                return t;
            done += n;
            op.CalculatePercent(static_cast<int>(done));
            op.Callback(INFO_TYPE_ACTION);
            return op.IsCancel() ? 1u : 0u;
        });
        if (op.IsCancel())
            return 0;
        if (r != 0)
            return r;
    }
    return 0;
}

}  // namespace

unsigned int ForEachProjectPiece(
    const HEXFILEPARTINFO& part,
    const std::function<unsigned int(uint32_t, const unsigned char*, uint32_t)>& piece)
{
    const uint32_t size = std::min(part.PartSize, HEXFILEPART_MAX_SIZE);
    for (uint32_t done = 0; done < size; done += PROJECT_TRANSFER_UNIT) {
        const uint32_t n = std::min(PROJECT_TRANSFER_UNIT, size - done);
        unsigned int r = piece(part.PartStartAddress + done, part.pData.data() + done, n);
        if (r != 0)
            return r;
    }
    return 0;
}

// ---- CVerifyProject ------------------------------------------------------------

CVerifyProject::CVerifyProject(COperationLink* obBootLoader)
    : COperation(obBootLoader), m_TempDownlaodFileSize(0), m_TempDownlaodedFileSize(0),
      m_bOptimize(false)
{
    m_EmType = OP_VERIFY;
    m_strName = CResult::GetInfoString(Info_Operation_Verify);
}

unsigned int CVerifyProject::InitAction()
{
    m_strName = RecordName(Info_Operation_Verify, m_obProgramFile);
    COperation::InitAction();
    m_InitInfo.m_strFilePath = m_obProgramFile.FilePath;
    m_InitInfo.m_uiFileSize = static_cast<uint32_t>(m_obProgramFile.FileSize);
    m_TempDownlaodFileSize = static_cast<uint32_t>(m_obProgramFile.FileSize);
    m_TempDownlaodedFileSize = 0;
    return 0;
}

void CVerifyProject::CalculatePercent(int bytes)
{
    COperation::CalculatePercent(static_cast<uint32_t>(bytes), m_TempDownlaodFileSize);
}

unsigned int CVerifyProject::Action()
{
    if (m_obProgramFile.partInfo.isEmpty())
        return CResult::UNKNOWN_ERROR;
    unsigned int r = CDownloadProject::CheckParts(QList<SFileInfo>() << m_obProgramFile);
    if (r != 0)
        return r;
    HANDLE handle = Handle();
    // Part addresses are absolute (the format's rule), binary records too.
    r = ForEachRecordPiece(*this, m_obProgramFile, m_TempDownlaodedFileSize,
                           [&](uint32_t address, const unsigned char* data, uint32_t n) {
                               BYTE b = KVBL_VERIFY(handle, address, const_cast<unsigned char*>(data), n,
                                                    m_bOptimize ? 1 : 0);
                               if (b == CMD_NOT_ALLOWED)
                                   return static_cast<unsigned int>(CResult::PROGRAM_VERIFY_DATA_NOT_MATCHING);
                               return b == SUCCESS ? 0u : Converted(b);
                           });
    if (r != 0 || IsCancel())
        return r;
    CallCommand(COMMAND_DONE);
    return 0;
}

// ---- CDownloadProject ------------------------------------------------------------

CDownloadProject::CDownloadProject(COperationLink* obBootLoader)
    : COperation(obBootLoader),
      m_Steps(obBootLoader),
      m_obErase(m_Steps.Add(new CErase(obBootLoader))),
      m_obVerify(m_Steps.Add(new CVerifyProject(obBootLoader))),
      m_obRDUP(m_Steps.Add(new CAccessUnProtect(obBootLoader))),
      m_obDisableSlib(m_Steps.Add(new CDisableSlib(obBootLoader))),
      m_hasGetEraseProgramProtectStatus(false),
      m_TempDownlaodFileSize(0),
      m_TempDownlaodedFileSize(0)
{
    m_EmType = OP_DOWNLOAD;
    m_strName = CResult::GetInfoString(Info_Operation_Download);
}

CDownloadProject::~CDownloadProject()
{
    WaitForEnd();  // the sub-operations are in use while the thread runs
}

void CDownloadProject::SetParameters(void* parameters)
{
    if (!parameters)
        return;
    m_Parameters = *static_cast<DLPROJECTParam*>(parameters);
    const unsigned char* data = m_Parameters.m_UserSystemDataArray;
    m_UserSystemData.assign(data, data ? data + m_Parameters.m_UserSystemDataLen : data);
    // The operation never holds on to the caller's array.
    m_Parameters.m_UserSystemDataArray = nullptr;
}

void CDownloadProject::SetOperationInfoDelegate(lpFunc func)
{
    COperation::SetOperationInfoDelegate(func);
    m_Steps.SetOperationInfoDelegate(func);
}

void CDownloadProject::Cancel()
{
    COperation::Cancel();
    m_Steps.Cancel();
}

void CDownloadProject::CalculatePercent(int bytes)
{
    COperation::CalculatePercent(static_cast<uint32_t>(bytes), m_TempDownlaodFileSize);
}

unsigned int CDownloadProject::CheckParts(const QList<SFileInfo>& files)
{
    for (const SFileInfo& record : files)
        for (const HEXFILEPARTINFO& part : record.partInfo)
            if (part.PartSize > HEXFILEPART_MAX_SIZE ||
                uint64_t(part.PartStartAddress) + part.PartSize > 0x100000000ull)
                return CResult::FILES_BADPARAMETER;
    return 0;
}

QList<int> CDownloadProject::GetProjectSectorIndex(const QList<SFileInfo>& files,
                                                   unsigned int sectorSize)
{
    QList<int> sectors;
    if (!FlashLayout::IsUsableSectorSize(sectorSize))
        return sectors;
    for (const SFileInfo& record : files) {
        for (const HEXFILEPARTINFO& part : record.partInfo) {
            const uint64_t a = part.PartStartAddress, size = part.PartSize;
            if (size == 0 || a < FlashLayout::kFlashBase || a > kTopOfPartAddresses)
                continue;
            uint64_t first = 0, unit = 0, base = 0;
            if (a <= FlashLayout::kMainFlashLast) {
                unit = sectorSize;
                first = (a - FlashLayout::kFlashBase) / unit;
            } else {
                unit = FlashLayout::kBank3SectorSize;
                first = (a - FlashLayout::kBank3Base) / unit;
                base = FlashLayout::kBank3FirstSector;
            }
            const uint64_t count = (size + a % unit + unit - 1) / unit;
            for (uint64_t k = 0; k < count; ++k)
                sectors.append(static_cast<int>(base + first + k));
        }
    }
    return sectors;
}

QList<int> CDownloadProject::GetNecessarySectorIndex()
{
    CDevice* device = m_obBootLoader ? m_obBootLoader->GetDevice() : nullptr;
    if (!device)
        return QList<int>();
    QList<int> sectors = GetProjectSectorIndex(m_Parameters.m_DownFileInfo, device->m_ISectorSize);
    // The serial number is written after the records: its sector must be
    // erased with theirs, as in the download.
    if (m_Parameters.m_bWriteSN && !sectors.isEmpty()) {
        int s = FlashLayout::FlashGetSectorIndex(m_Parameters.m_uiSNAddress, device->m_ISectorSize);
        if (s >= 0 && !sectors.contains(s))
            sectors.append(s);
    }
    return sectors;
}

bool CDownloadProject::SeriesHasSlib(int series)
{
    if (series < 0 || series > 32)
        return false;
    switch (series) {
    case 0: case 1: case 2: case 3: case 6: case 10: case 11: case 12: case 24: case 27:
        return false;
    default:
        return true;
    }
}

unsigned int CDownloadProject::DownloadFileInSlibCheck()
{
    const int series = FlashLayout::SeriesOf(m_obBootLoader->GetDevice());
    DWORD status = 0, sectors1 = 0, sectors2 = 0, password = 0;
    unsigned int start = 0, dataStart = 0, end = 0;
    BYTE b;
    if (series == 13 || series == 14) {
        b = KVBL_GetSlibStatus_Ex(Handle(), &status, &sectors1, &sectors2, &password);
        start = sectors1 & 0xFFFF;
        dataStart = sectors2 & 0xFFFF;
        end = (sectors1 >> 16) & 0xFFFF;
    } else {
        b = KVBL_GetSlibStatus(Handle(), &status, &sectors1, &password);
        start = sectors1 & 0x7FF;
        dataStart = (sectors1 >> 11) & 0x7FF;
        end = (sectors1 >> 22) & 0x3FF;
    }
    (void)dataStart;
    if (b != SUCCESS)
        return Converted(b);
    if ((status & 0x8) == 0)
        return 0;
    const QList<int> necessary = GetNecessarySectorIndex();
    if (necessary.isEmpty())
        return CResult::UNKNOWN_ERROR;
    for (int s : necessary)
        if (s >= 0 && static_cast<unsigned int>(s) >= start && static_cast<unsigned int>(s) <= end)
            return CResult::SLIB_DOWNLOADFILE_IN_SLIBSECTOR_ERROR;
    return 0;
}

unsigned int CDownloadProject::CheckEraseProgramProtect()
{
    const QList<int> sectors = GetNecessarySectorIndex();
    if (sectors.isEmpty())
        return CResult::UNKNOWN_ERROR;
    if (m_obBootLoader->HasBeenEraseProgramProtect(sectors))
        return CResult::SYS_ERASEPROGRAM_PROTECTION;
    m_hasGetEraseProgramProtectStatus = true;
    return 0;
}

unsigned int CDownloadProject::InitAction()
{
    const QList<SFileInfo>& files = m_Parameters.m_DownFileInfo;
    m_strName = files.isEmpty() ? CResult::GetInfoString(Info_Operation_Download)
                                : RecordName(Info_Operation_Download, files.first());
    COperation::InitAction();
    m_hasGetEraseProgramProtectStatus = false;
    if (files.isEmpty())
        return CResult::UNKNOWN_ERROR;
    m_InitInfo.m_strFilePath = files.first().FilePath;
    m_InitInfo.m_uiFileSize = static_cast<uint32_t>(files.first().FileSize);
    unsigned int r = CheckParts(files);
    if (r != 0)
        return r;

    bool stop = false;
    if (m_Parameters.m_bRDUP) {
        r = EndStep(m_obRDUP->Start(), stop);
        if (stop)
            return r;
    }
    if (m_Parameters.m_bDisableSlib) {
        r = EndStep(DisableSlib(m_Parameters.m_uiDisablePassword), stop);
        if (stop)
            return r;
    }
    if (SeriesHasSlib(FlashLayout::SeriesOf(m_obBootLoader->GetDevice()))) {
        r = DownloadFileInSlibCheck();
        if (r != 0)
            return r;
    }
    // Protected sectors are found before anything is erased.
    r = CheckEraseProgramProtect();
    if (r != 0)
        return r;
    if (m_Parameters.m_bEnBank3) {
        if (m_Parameters.m_uiFlashDA != 0 && !m_UserSystemData.empty()) {
            int w = m_obBootLoader->LoadUserSystemDataToDeviceExceptFAP(
                m_UserSystemData.data(), static_cast<unsigned int>(m_UserSystemData.size()));
            if (w != 0)
                return static_cast<unsigned int>(CResult::Convert(w));
        }
        r = EndStep(m_Steps.EnBank3(m_Parameters), stop);
        if (stop)
            return r;
    }
    r = Erase(m_Parameters.m_enEraseMode);
    if (r != 0)
        return r;
    if (m_Parameters.m_bEnableSlib) {
        r = m_Steps.EnableSlib(m_Parameters, m_Parameters.m_uiEnablePassword);
        if (r != 0)
            return r;
    }
    return 0;
}

unsigned int CDownloadProject::Erase(EraseMode mode)
{
    if (mode == ERASEMODE_NONE)
        return 0;
    EraseParam request;
    if (mode == NECESSARY) {
        request.m_iSectorIndex = GetNecessarySectorIndex();
        if (request.m_iSectorIndex.isEmpty())
            return CResult::UNKNOWN_ERROR;
    }
    m_obErase->SetParameters(&request);
    return m_obErase->Start();
}

unsigned int CDownloadProject::Action()
{
    if (!m_hasGetEraseProgramProtectStatus) {
        unsigned int r = CheckEraseProgramProtect();
        if (r != 0)
            return r;
    }
    const QList<SFileInfo>& files = m_Parameters.m_DownFileInfo;
    for (int i = 0; i < files.size(); ++i) {
        const SFileInfo& record = files[i];
        if (i > 0) {
            m_InitInfo.m_strFilePath = record.FilePath;
            m_InitInfo.m_uiFileSize = static_cast<uint32_t>(record.FileSize);
            m_InitInfo.m_strName = RecordName(Info_Operation_Download, record);
            Callback(INFO_TYPE_INIT);
        }
        unsigned int r = DownloadRecord(record);
        if (r != 0 || IsCancel())
            return r;
        if (m_Parameters.m_bVerify) {
            r = Verify(record);
            if (r != 0 || IsCancel())
                return r;
        }
    }
    CallCommand(COMMAND_DONE);
    return 0;
}

unsigned int CDownloadProject::DownloadRecord(const SFileInfo& record)
{
    HANDLE handle = Handle();
    m_TempDownlaodFileSize = static_cast<uint32_t>(record.FileSize);
    m_TempDownlaodedFileSize = 0;
    // Written at PartStartAddress: part addresses are absolute.
    return ForEachRecordPiece(*this, record, m_TempDownlaodedFileSize,
                              [&](uint32_t address, const unsigned char* data, uint32_t n) {
                                  BYTE b = KVBL_DNLOAD(handle, address, const_cast<unsigned char*>(data), n,
                                                       m_Parameters.m_bOptimize ? 1 : 0);
                                  return b == SUCCESS ? 0u : Converted(b);
                              });
}

unsigned int CDownloadProject::Verify(const SFileInfo& record)
{
    m_obVerify->SetVerifyFile(record);
    m_obVerify->SetVerifyOptimize(m_Parameters.m_bOptimize);
    return m_obVerify->Start();
}

unsigned int CDownloadProject::EndStep(unsigned int result, bool& stop)
{
    stop = result != 0 || IsCancel();
    return result;
}

unsigned int CDownloadProject::ActionDone()
{
    m_hasGetEraseProgramProtectStatus = false;
    return m_Steps.AfterData(
        m_Parameters, m_UserSystemData.empty() ? nullptr : m_UserSystemData.data(),
        static_cast<uint32_t>(m_UserSystemData.size()),
        [this](unsigned int result, bool& stop) { return EndStep(result, stop); },
        [this] { return JumpToUserProgram(); });
}

unsigned int CDownloadProject::DisableSlib(uint32_t password)
{
    m_obDisableSlib->SetParameters(&password);
    return m_obDisableSlib->Start();
}

unsigned int CDownloadProject::JumpToUserProgram()
{
    if (m_Parameters.m_DownFileInfo.isEmpty())
        return CResult::UNKNOWN_ERROR;
    return static_cast<unsigned int>(
        m_obBootLoader->JumpToUserProgram(m_Parameters.m_DownFileInfo.first().StartAddress));
}
