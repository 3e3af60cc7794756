#include "operations/Protection.h"

#include "KVBL.h"
#include "KVBLLIB.h"
#include "ShareParameter.h"
#include "operations/OperationLink.h"
#include "operations/FlashLayout.h"
#include "result/Result.h"
#include "usd/UserSystemData.h"

#include <vector>

// ---- CAccessProtect ---------------------------------------------------------

CAccessProtect::CAccessProtect(COperationLink* obBootLoader)
    : COperation(obBootLoader), m_protectLevel(1)
{
    m_EmType = OP_ACCESS_PROTECT;
    m_strName = CResult::GetInfoString(Info_Operation_FAP_E);
}

void CAccessProtect::SetParameters(void* parameters)
{
    if (parameters)
        m_protectLevel = *static_cast<unsigned char*>(parameters);
}

unsigned int CAccessProtect::Action()
{
    if (m_protectLevel != 1 && m_protectLevel != 2)
        return CResult::UNKNOWN_ERROR;
    if (!m_obBootLoader)
        return CResult::UNKNOWN_ERROR;
    bool enabled = false;
    int status = m_obBootLoader->GetAccessProtectiosStatus(&enabled);
    if (status != 0)
        return CResult::Convert(status);
    if (!enabled) {
        BYTE r = m_protectLevel == 1 ? KVBL_ACCESS_PROTECT(Handle())
                                     : KVBL_ACCESS_PROTECT_LEVEL(Handle(), 2);
        if (r != SUCCESS)
            return CResult::Convert(static_cast<int>(r));
        const unsigned int back = AfterRestart(false);
        if (back != 0)
            return back;
    } else {
        QThread::msleep(500);  // already protected: nothing is sent
    }
    return FinishStep();
}

// ---- CAccessUnProtect -------------------------------------------------------

CAccessUnProtect::CAccessUnProtect(COperationLink* obBootLoader) : COperation(obBootLoader)
{
    m_EmType = OP_ACCESS_UNPROTECT;
    m_strName = CResult::GetInfoString(Info_Operation_FAP_D);
}

unsigned int CAccessUnProtect::Action()
{
    if (!m_obBootLoader)
        return CResult::UNKNOWN_ERROR;
    const DWORD savedMs = static_cast<DWORD>(g_shareParameter.c_timeout) * 1000;
    bool enabled = true;
    for (int attempt = 0; attempt < ATTEMPTS && enabled; ++attempt) {
        // The chip erases its whole flash before it answers.
        SetTimeOut(Handle(), UNPROTECT_TIMEOUT_MS);
        BYTE r = KVBL_ACCESS_PERM_UNPROTECT(Handle());
        SetTimeOut(Handle(), savedMs);
        if (r != SUCCESS)
            return CResult::Convert(static_cast<int>(r));
        // The chip may take longer than one pass to come back on USB.
        int reconnect = m_obBootLoader->ReconnectAfterReset(true, true);
        if (reconnect != 0)
            return static_cast<unsigned int>(reconnect);
        int status = m_obBootLoader->GetAccessProtectiosStatus(&enabled);
        if (status != 0)
            return CResult::Convert(status);
    }
    // A chip that still reads as protected holds nothing the user can use:
    // reporting success would be a lie.
    if (enabled)
        return CResult::SYS_ACCESS_PROTECTION;
    int r = m_obBootLoader->GetUserSystemData();
    if (r != 0)
        return static_cast<unsigned int>(r);
    return FinishStep();
}

// ---- CEraseProgramProtect ---------------------------------------------------

CEraseProgramProtect::CEraseProgramProtect(COperationLink* obBootLoader) : COperation(obBootLoader)
{
    m_EmType = OP_ERASEPROGRAM_PROTECT;
    m_strName = CResult::GetInfoString(Info_Operation_EPP_E);
}

void CEraseProgramProtect::SetParameters(void* parameters)
{
    if (parameters)
        m_iSectorIndex = *static_cast<QList<int>*>(parameters);
}

unsigned int CEraseProgramProtect::Action()
{
    if (!m_obBootLoader)
        return CResult::UNKNOWN_ERROR;
    if (!m_obBootLoader->GetUserSystemDataModel()) {
        int r = m_obBootLoader->GetUserSystemData();
        if (r != 0)
            return static_cast<unsigned int>(r);
    }
    const CUserSystemData* usd = m_obBootLoader->GetUserSystemDataModel();
    if (!usd)
        return CResult::UNKNOWN_ERROR;
    const QList<int> bits = usd->FilterEPPSectorIndexForEraseProgramProtect(m_iSectorIndex);
    // The count travels in one byte; an empty list is refused by the library.
    if (bits.size() > 0xFF)
        return CResult::PROGRAM_INPUT_PARAMS_ERROR;
    std::vector<BYTE> bytes;
    for (int bit : bits)
        bytes.push_back(static_cast<BYTE>(bit & 0xFF));
    const int series = FlashLayout::SeriesOf(m_obBootLoader->GetDevice());
    const BYTE flag = (m_obBootLoader->GetInterfaceType() == KVBL_INTERFACE_DFU &&
                       (series == 13 || series == 14))
                          ? 1
                          : 0;
    BYTE r = KVBL_ERASEPROGRAM_PROTECT(Handle(), static_cast<BYTE>(bytes.size()),
                                       bytes.empty() ? nullptr : bytes.data(), flag);
    if (r != SUCCESS)
        return CResult::Convert(static_cast<int>(r));
    const unsigned int back = AfterRestart(true);
    return back != 0 ? back : FinishStep();
}

// ---- CEraseProgramUnProtect -------------------------------------------------

CEraseProgramUnProtect::CEraseProgramUnProtect(COperationLink* obBootLoader) : COperation(obBootLoader)
{
    m_EmType = OP_ERASEPROGRAM_UNPROTECT;
    m_strName = CResult::GetInfoString(Info_Operation_EPP_D);
}

unsigned int CEraseProgramUnProtect::Action()
{
    if (!m_obBootLoader)
        return CResult::UNKNOWN_ERROR;
    BYTE r = KVBL_ERASEPROGRAM_PERM_UNPROTECT(Handle());
    if (r != SUCCESS)
        return CResult::Convert(static_cast<int>(r));
    const unsigned int back = AfterRestart(true);
    return back != 0 ? back : FinishStep();
}
