#include "operations/Verify.h"

#include "KVBL.h"
#include "files/ProgramFile.h"
#include "operations/FlashLayout.h"
#include "result/Result.h"

CVerify::CVerify(CBootLoader* obBootLoader)
    : COperation(obBootLoader), m_obProgramFile(nullptr), m_uiAddressOffset(0)
{
    m_EmType = OP_VERIFY;
    m_strName = CResult::GetInfoString(Info_Operation_Verify);
}

unsigned int CVerify::InitAction()
{
    std::string baseName = CResult::GetInfoString(Info_Operation_Verify);
    m_strName = m_obProgramFile ? DecoratedName(baseName, m_obProgramFile->GetPath()) : baseName;
    COperation::InitAction();
    if (!m_obProgramFile)
        return CResult::UNKNOWN_ERROR;
    m_obProgramFile->ResetElement();
    m_InitInfo.m_strFilePath = m_obProgramFile->GetPath();
    m_InitInfo.m_uiFileSize = m_obProgramFile->GetFileSize();
    return 0;
}

unsigned int CVerify::Action()
{
    IMAGEELEMENT* element = m_obProgramFile->GetElement();
    if (!element) {
        CalculatePercent();  // 100 %, also for a file with nothing to compare
        CallCommand(COMMAND_DONE);
        return 0;
    }
    uint32_t address = 0;
    if (!FlashLayout::PlaceRun(element->dwAddress, m_uiAddressOffset, element->dwDataLength, address))
        return CResult::FILES_BADADDRESSRANGE;
    BYTE r = KVBL_VERIFY(Handle(), address, element->Data, element->dwDataLength,
                         m_obProgramFile->GetOptimizeForOpen() ? 1 : 0);
    if (r == CMD_NOT_ALLOWED)
        return CResult::PROGRAM_VERIFY_DATA_NOT_MATCHING;
    if (r != SUCCESS)
        return CResult::Convert(static_cast<int>(r));
    CalculatePercent();
    return 0;
}

void CVerify::CalculatePercent()
{
    COperation::CalculatePercent(m_obProgramFile->GetFileStatus(), m_obProgramFile->GetFileSize());
}
