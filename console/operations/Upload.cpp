#include "operations/Upload.h"

#include "KVBL.h"
#include "device/Device.h"
#include "files/ProgramFile.h"
#include "operations/OperationLink.h"
#include "operations/Crc.h"
#include "operations/FlashLayout.h"
#include "result/Result.h"

#include <algorithm>

CUpload::CUpload(COperationLink* obBootLoader) : COperation(obBootLoader), m_obProgramFile(nullptr)
{
    m_EmType = OP_UPLOAD;
    m_strName = CResult::GetInfoString(Info_Operation_Upload);
}

CUpload::~CUpload()
{
    WaitForEnd();
    delete m_obProgramFile;
}

void CUpload::SetParameters(void* parameters)
{
    if (!parameters)
        return;
    m_Parameters = *static_cast<UploadParam*>(parameters);
    // The image is built in ascending sector order; a repeat would read twice.
    std::sort(m_Parameters.m_aSectorIndexs.begin(), m_Parameters.m_aSectorIndexs.end());
    m_Parameters.m_aSectorIndexs.erase(
        std::unique(m_Parameters.m_aSectorIndexs.begin(), m_Parameters.m_aSectorIndexs.end()),
        m_Parameters.m_aSectorIndexs.end());
}

unsigned int CUpload::InitAction()
{
    COperation::InitAction();
    if (!m_obProgramFile)
        m_obProgramFile = new CProgramFile();
    m_obProgramFile->SetSectorIndexsForCreate(m_Parameters.m_aSectorIndexs,
                                              m_Parameters.m_aSectorIndexs.size());
    m_obProgramFile->SetBank3SizeForCreate(m_Parameters.m_bank3Size);
    int r = m_obProgramFile->Create(m_obBootLoader ? m_obBootLoader->GetDevice() : nullptr);
    if (r != 0)
        return static_cast<unsigned int>(r);
    m_obProgramFile->ResetElement();
    m_lsRun.clear();
    const Commands* commands = m_obBootLoader ? m_obBootLoader->GetCommands() : nullptr;
    m_bConfirmByCRC = commands && commands->FIRMWARE_CRC_CMD && m_obBootLoader->GetDevice();
    m_InitInfo.m_strFilePath = m_Parameters.m_strUploadPathFile;
    m_InitInfo.m_uiFileSize = m_obProgramFile->GetFileSize();
    return 0;
}

unsigned int CUpload::Action()
{
    IMAGEELEMENT* element = m_obProgramFile->GetElement();
    if (!element) {
        unsigned int r = Save();
        if (r != 0)
            return r;
        CallCommand(COMMAND_DONE);
        return 0;
    }
    BYTE b = KVBL_UPLOAD(Handle(), static_cast<DWORD>(element->dwAddress), element->Data,
                         element->dwDataLength);
    if (b != SUCCESS)
        return CResult::Convert(static_cast<int>(b));
    unsigned int r = 0;
    if (m_bConfirmByCRC && IsWholeSector(element)) {
        const int index = m_obProgramFile->GetCurrentElementIndex();
        m_lsRun.append(index);
        const IMAGEELEMENT* next = m_obProgramFile->ElementAt(index + 1);
        if (!next || !ContinuesRun(element, next))
            r = ConfirmRun();
    } else {
        r = ConfirmByRereading(element);
    }
    if (r != 0)
        return r;
    CalculatePercent();
    return 0;
}

unsigned int CUpload::ConfirmByRereading(IMAGEELEMENT* element)
{
    // READ answers carry no check bytes: a byte changed on the line looks
    // like the chip's own. A second read compared on the host confirms the
    // element before it can reach the file. When they differ, the first read
    // may be the changed one: the element is read again packet by packet,
    // each byte taken once two reads agree on it.
    const DWORD address = static_cast<DWORD>(element->dwAddress);
    BYTE b = KVBL_VERIFY(Handle(), address, element->Data, element->dwDataLength, 0);
    if (b == CMD_NOT_ALLOWED)
        b = KVBL_UPLOAD_CONFIRMED(Handle(), address, element->Data, element->dwDataLength);
    if (b == CMD_NOT_ALLOWED)
        return CResult::PROGRAM_VERIFY_DATA_NOT_MATCHING;
    if (b != SUCCESS)
        return CResult::Convert(static_cast<int>(b));
    int s = m_obProgramFile->SetElement();
    return static_cast<unsigned int>(s);
}

bool CUpload::IsWholeSector(const IMAGEELEMENT* element) const
{
    const CDevice* device = m_obBootLoader ? m_obBootLoader->GetDevice() : nullptr;
    if (!device || element->dwAddress > 0xFFFFFFFFul)
        return false;
    const uint32_t address = static_cast<uint32_t>(element->dwAddress);
    const int sector = FlashLayout::FlashGetSectorIndex(address, device->m_ISectorSize);
    return sector >= 0 && FlashLayout::SectorAddress(sector, device->m_ISectorSize) == address &&
           element->dwDataLength == FlashLayout::SectorSize(sector, device->m_ISectorSize);
}

bool CUpload::ContinuesRun(const IMAGEELEMENT* last, const IMAGEELEMENT* next) const
{
    return IsWholeSector(next) && next->dwAddress == last->dwAddress + last->dwDataLength &&
           next->dwDataLength == last->dwDataLength &&
           (uint64_t(m_lsRun.size()) + 1) * next->dwDataLength <= CONFIRM_RUN_BYTES;
}

unsigned int CUpload::ConfirmRun()
{
    if (m_lsRun.isEmpty())
        return 0;
    const IMAGEELEMENT* first = m_obProgramFile->ElementAt(m_lsRun.first());
    const uint32_t address = static_cast<uint32_t>(first->dwAddress);
    for (int attempt = 0; attempt < 3; ++attempt) {
        uint32_t host = FirmwareCrc::kInitial;
        for (int i : m_lsRun) {
            IMAGEELEMENT* e = m_obProgramFile->ElementAt(i);
            if (attempt > 0) {
                // A long run read once on a line that changes bytes now and
                // then rarely arrives whole twice: read again, each byte
                // taken once two reads agree on it.
                BYTE b = KVBL_UPLOAD_CONFIRMED(Handle(), static_cast<DWORD>(e->dwAddress), e->Data,
                                               e->dwDataLength);
                if (b == CMD_NOT_ALLOWED)
                    return CResult::PROGRAM_VERIFY_DATA_NOT_MATCHING;
                if (b != SUCCESS)
                    return CResult::Convert(static_cast<int>(b));
            }
            host = FirmwareCrc::Compute(e->Data, e->dwDataLength, host);
        }
        uint32_t chip = 0;
        unsigned int r = CFlashCRC::ReadChipCRC(Handle(), address,
                                                static_cast<uint16_t>(m_lsRun.size()), chip);
        if (r != 0)
            return r;
        if (chip == host) {
            for (int i : m_lsRun) {
                int s = m_obProgramFile->SetElementAt(i);
                if (s != 0)
                    return static_cast<unsigned int>(s);
            }
            m_lsRun.clear();
            return 0;
        }
    }
    return CResult::PROGRAM_VERIFY_DATA_NOT_MATCHING;
}

unsigned int CUpload::Save()
{
    // The image-file library writes one temporary file in the target's
    // folder and renames it into place: no cut-short file under the user's
    // name, and no name another user could prepare.
    return static_cast<unsigned int>(m_obProgramFile->Save(m_Parameters.m_strUploadPathFile));
}

bool CUpload::ImageChecksum(uint32_t& crc) const
{
    const CDevice* device = m_obBootLoader ? m_obBootLoader->GetDevice() : nullptr;
    if (!m_obProgramFile || !device || m_obProgramFile->GetFileStatus() != m_obProgramFile->GetFileSize())
        return false;
    return CFWCRC::ImageChecksum(m_obProgramFile, 0, device->m_ISectorSize, crc);
}

void CUpload::CalculatePercent()
{
    COperation::CalculatePercent(m_obProgramFile->GetFileStatus(), m_obProgramFile->GetFileSize());
}
