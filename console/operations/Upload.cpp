#include "operations/Upload.h"

#include "KVBL.h"
#include "files/ProgramFile.h"
#include "device/Device.h"
#include "link/BootLoader.h"
#include "operations/Crc.h"
#include "result/Result.h"

#include <algorithm>
#include <cstdio>
#include <unistd.h>

CUpload::CUpload(CBootLoader* obBootLoader) : COperation(obBootLoader), m_obProgramFile(nullptr)
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
    m_InitInfo.m_strFilePath = m_Parameters.m_strUploadPathFile;
    m_InitInfo.m_uiFileSize = m_obProgramFile->GetFileSize();
    return 0;
}

unsigned int CUpload::Action()
{
    IMAGEELEMENT* element = m_obProgramFile->GetElement();
    if (element) {
        BYTE r = KVBL_UPLOAD(Handle(), static_cast<DWORD>(element->dwAddress), element->Data,
                             element->dwDataLength);
        if (r != SUCCESS)
            return CResult::Convert(static_cast<int>(r));
        // READ answers carry no check bytes: a byte changed on the line looks
        // like the chip's own. A second read compared on the host confirms
        // the element before it can reach the file.
        r = KVBL_VERIFY(Handle(), static_cast<DWORD>(element->dwAddress), element->Data,
                        element->dwDataLength, 0);
        if (r == CMD_NOT_ALLOWED)
            return CResult::PROGRAM_VERIFY_DATA_NOT_MATCHING;
        if (r != SUCCESS)
            return CResult::Convert(static_cast<int>(r));
        int s = m_obProgramFile->SetElement();
        if (s != 0)
            return static_cast<unsigned int>(s);
        CalculatePercent();
        return 0;
    }
    unsigned int r = Save();
    if (r != 0)
        return r;
    CallCommand(COMMAND_DONE);
    return 0;
}

std::string CUpload::TemporaryPathFor(const std::string& path)
{
    size_t slash = path.rfind('/');
    std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    // The whole name stays at the end, so the file keeps its kind.
    return folder + ".tarnflash-" + std::to_string(static_cast<long>(getpid())) + "-" + name;
}

unsigned int CUpload::Save()
{
    const std::string& path = m_Parameters.m_strUploadPathFile;
    std::string temporary = TemporaryPathFor(path);
    int r = m_obProgramFile->Save(temporary);
    if (r != 0) {
        std::remove(temporary.c_str());
        return static_cast<unsigned int>(r);
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        std::remove(temporary.c_str());
        return CResult::FILES_UNABLETOOPENFILE;
    }
    return 0;
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
