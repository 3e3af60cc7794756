#include "operations/FeatureOperations.h"

#include "KVBL.h"
#include "ShareParameter.h"
#include "operations/OperationLink.h"
#include "operations/FlashLayout.h"
#include "result/Result.h"
#include "usd/UserSystemData.h"

// ---- CEnBank3 ---------------------------------------------------------------

CEnBank3::CEnBank3(COperationLink* obBootLoader) : COperation(obBootLoader)
{
    m_EmType = OP_ENBANK3;
    m_strName = CResult::GetInfoString(Info_Operation_ENBANK3);
}

void CEnBank3::SetParameters(void* parameters)
{
    if (parameters)
        m_Parameters = *static_cast<EnBank3Param*>(parameters);
}

uint32_t CEnBank3::FlashDAToSend()
{
    if (!m_obBootLoader || FlashLayout::SeriesOf(m_obBootLoader->GetDevice()) != 4)
        return m_Parameters.m_uiFlashDA;
    const CUserSystemData* usd = m_obBootLoader->GetUserSystemDataModel();
    if (!usd)
        return m_Parameters.m_uiFlashDA;
    bool allFF = true, allZero = true;
    for (unsigned char key : usd->BANK3KEY) {
        allFF = allFF && key == 0xFF;
        allZero = allZero && key == 0x00;
    }
    return (allFF || allZero) ? 0 : m_Parameters.m_uiFlashDA;
}

unsigned int CEnBank3::Action()
{
    if (!m_obBootLoader)
        return CResult::UNKNOWN_ERROR;
    if (m_Parameters.m_bNeedRemap) {
        BYTE r = KVBL_SPIMREMAP(Handle(), m_Parameters.m_bRemapFlag ? 1 : 0);
        if (r != SUCCESS)
            return CResult::Convert(static_cast<int>(r));
    }
    m_obBootLoader->GetUserSystemData();  // only refreshes the bank keys
    BYTE r = KVBL_EnableBank3(Handle(), m_Parameters.m_bFlashType,
                              static_cast<DWORD>(m_Parameters.m_uiFlashSize) * 1024, FlashDAToSend());
    if (r != SUCCESS)
        return CResult::Convert(static_cast<int>(r));
    return FinishStep();
}

// ---- CWriteSN ---------------------------------------------------------------

CWriteSN::CWriteSN(COperationLink* obBootLoader) : COperation(obBootLoader)
{
    m_EmType = OP_WRITESN;
    m_strName = CResult::GetInfoString(Info_Operation_WRITESN);
}

void CWriteSN::SetParameters(void* parameters)
{
    if (parameters)
        m_Parameters = *static_cast<WriteSN_Param*>(parameters);
}

unsigned int CWriteSN::Action()
{
    const uint32_t n = m_Parameters.m_uiSNNum;
    BYTE word[4] = {static_cast<BYTE>(n & 0xFF), static_cast<BYTE>((n >> 8) & 0xFF),
                    static_cast<BYTE>((n >> 16) & 0xFF), static_cast<BYTE>((n >> 24) & 0xFF)};
    BYTE r = KVBL_DNLOAD(Handle(), m_Parameters.m_uiAddr, word, 4, 0);
    if (r == SUCCESS)
        r = KVBL_VERIFY(Handle(), m_Parameters.m_uiAddr, word, 4, 0);
    if (r != SUCCESS)
        return CResult::Convert(static_cast<int>(r));
    return FinishStep();
}

// ---- CWriteUserSystemData ---------------------------------------------------

CWriteUserSystemData::CWriteUserSystemData(COperationLink* obBootLoader)
    : COperation(obBootLoader), m_UserSystemDataLen(0)
{
    m_EmType = OP_WRITEUSERSYSTEMDATA;
    m_strName = CResult::GetInfoString(Info_Operation_WRITEUSERSYSTEMDATA);
}

void CWriteUserSystemData::SetParameters(const unsigned char* data, uint32_t length)
{
    if (data)
        m_UserSystemData.assign(data, data + length);
    else
        m_UserSystemData.clear();
    m_UserSystemDataLen = static_cast<uint32_t>(m_UserSystemData.size());
}

unsigned int CWriteUserSystemData::Action()
{
    if (!m_obBootLoader || m_UserSystemData.empty())
        return CResult::FILES_EMPTY;
    std::vector<unsigned char> copy = m_UserSystemData;
    int r = m_obBootLoader->LoadUserSystemDataToDevice(copy.data(), m_UserSystemDataLen);
    return r != 0 ? static_cast<unsigned int>(CResult::Convert(r)) : FinishStep();
}

// ---- CEnableSlib ------------------------------------------------------------

CEnableSlib::CEnableSlib(COperationLink* obBootLoader) : COperation(obBootLoader)
{
    m_EmType = OP_ENSLIB;
    m_strName = CResult::GetInfoString(Info_Operation_EnableSlib);
}

void CEnableSlib::SetParameters(void* parameters)
{
    if (parameters)
        m_Parameters = *static_cast<EnableSlibParam*>(parameters);
}

unsigned int CEnableSlib::Action()
{
    BYTE r = KVBL_EnableSlib(Handle(), m_Parameters.m_uiPassword, m_Parameters.m_usStartSector,
                             m_Parameters.m_usStartDataSector, m_Parameters.m_usEndSector);
    if (r != SUCCESS)
        return CResult::Convert(static_cast<int>(r));
    return FinishStep();
}

// ---- CDisableSlib -----------------------------------------------------------

CDisableSlib::CDisableSlib(COperationLink* obBootLoader) : COperation(obBootLoader)
{
    m_EmType = OP_DISSLIB;
    m_strName = CResult::GetInfoString(Info_Operation_DisableSlib);
}

void CDisableSlib::SetParameters(void* parameters)
{
    if (parameters)
        m_uiPassword = *static_cast<unsigned int*>(parameters);
}

unsigned int CDisableSlib::Action()
{
    if (!m_obBootLoader)
        return CResult::UNKNOWN_ERROR;
    const DWORD savedMs = static_cast<DWORD>(g_shareParameter.c_timeout) * 1000;
    SetTimeOut(Handle(), DISABLE_TIMEOUT_MS);  // the chip erases the area first
    BYTE r = KVBL_DisableSlib(Handle(), m_uiPassword);
    SetTimeOut(Handle(), savedMs);
    if (r != SUCCESS && r != SLIB_DISABLE_PASSWORD_ERROR)
        return CResult::Convert(static_cast<int>(r));
    const unsigned int back = AfterRestart(true);
    if (back != 0)
        return back;
    FinishStep();
    return r == SUCCESS ? 0u : static_cast<unsigned int>(CResult::Convert(static_cast<int>(r)));
}
