#include "operations/Protection.h"

#include "KVBL.h"
#include "link/BootLoader.h"
#include "result/Result.h"

CAccessProtect::CAccessProtect(CBootLoader* obBootLoader)
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
        int reconnect = m_obBootLoader->ReconnectAfterReset(false, false);
        if (reconnect != 0)
            return static_cast<unsigned int>(reconnect);
    } else {
        QThread::msleep(500);  // already protected: nothing is sent
    }
    CalculatePercent();
    CallCommand(COMMAND_DONE);
    return 0;
}
