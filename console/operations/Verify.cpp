#include "operations/Verify.h"

#include "KVBL.h"
#include "files/ProgramFile.h"
#include "operations/FlashLayout.h"
#include "operations/PacketStream.h"
#include "result/Result.h"

CVerify::CVerify(COperationLink* obBootLoader)
    : COperation(obBootLoader), m_obProgramFile(nullptr), m_uiAddressOffset(0)
{
    m_EmType = OP_VERIFY;
    m_strName = CResult::GetInfoString(Info_Operation_Verify);
}

CVerify::~CVerify()
{
    WaitForEnd();
}

unsigned int CVerify::InitAction()
{
    std::string baseName = CResult::GetInfoString(Info_Operation_Verify);
    m_strName = m_obProgramFile ? DecoratedName(baseName, m_obProgramFile->GetPath()) : baseName;
    COperation::InitAction();
    if (!m_obProgramFile)
        return CResult::UNKNOWN_ERROR;
    m_obProgramFile->ResetElement();
    void* handle = Handle();
    const BOOL optimize = m_obProgramFile->GetOptimizeForOpen() ? 1 : 0;
    m_obStream.reset(new CPacketStream(
        PacketSizeOf(handle), [handle, optimize](uint32_t at, const unsigned char* data, uint32_t n) {
            BYTE b = KVBL_VERIFY(handle, at, const_cast<unsigned char*>(data), n, optimize);
            if (b == CMD_NOT_ALLOWED)
                return static_cast<unsigned int>(CResult::PROGRAM_VERIFY_DATA_NOT_MATCHING);
            return b == SUCCESS ? 0u : CResult::Convert(static_cast<int>(b));
        }));
    m_InitInfo.m_strFilePath = m_obProgramFile->GetPath();
    m_InitInfo.m_uiFileSize = m_obProgramFile->GetFileSize();
    return 0;
}

unsigned int CVerify::Action()
{
    IMAGEELEMENT* element = m_obProgramFile->GetElement();
    if (!element) {
        unsigned int r = m_obStream->Flush();
        if (r != 0)
            return r;
        CalculatePercent();  // 100 %, also for a file with nothing to compare
        CallCommand(COMMAND_DONE);
        return 0;
    }
    uint32_t address = 0;
    if (!FlashLayout::PlaceRun(element->dwAddress, m_uiAddressOffset, element->dwDataLength, address))
        return CResult::FILES_BADADDRESSRANGE;
    const QList<AddressRange> whole{AddressRange{address, element->dwDataLength}};
    unsigned int r = FlashLayout::ForEachPartIn(
        m_lsRanges ? *m_lsRanges : whole, address, element->dwDataLength,
        [&](uint32_t at, uint64_t skip, uint64_t n) {
            return m_obStream->Add(at, element->Data + skip, static_cast<uint32_t>(n));
        });
    if (r != 0)
        return r;
    CalculatePercent();
    return 0;
}

void CVerify::CalculatePercent()
{
    COperation::CalculatePercent(m_obProgramFile->GetFileStatus(), m_obProgramFile->GetFileSize());
}
