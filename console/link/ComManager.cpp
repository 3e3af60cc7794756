#include "link/ComManager.h"

#include <cstring>
#include <memory>

#include "ShareParameter.h"

CComManager::CComManager() : m_nDefPortNums(1024) {}

void CComManager::SetInterfaceType(char type)
{
    m_InterfaceType = type;
    (void)TARGET_SetComIntType(static_cast<BYTE>(type));
}

bool CComManager::IsCanbeOpen(int iPortNum)
{
    if (m_InterfaceType != INTERFACE_USART)
        return true;
    HANDLE handle = nullptr;
    // A port that is open already answers "already opened" and names itself.
    const BYTE result = SetCOMSettings(&handle, iPortNum, nullptr, 115200, 8, 2, 1.0f);
    if (result != SUCCESS && result != COM_ALREADY_OPENED)
        return false;
    if (Interface_is_Open(handle) == 1)
        return true;
    if (Interface_Open(handle) != 0)
        return false;
    (void)Interface_Close(handle);
    return true;
}

QList<CCom> CComManager::getCom(int nPortNum)
{
    if (nPortNum != -1)
        m_nDefPortNums = nPortNum;
    QList<CCom> list;
    if (m_InterfaceType == INTERFACE_USART)
        return list;
    for (int i = 1; i <= m_nDefPortNums; ++i)
        list.append(CCom(i, m_InterfaceType, nullptr));
    return list;
}

BYTE CComManager::ListDFUDevices(BYTE* pCount, QList<std::string>* devices)
{
    constexpr int kIdEntries = 255;
    constexpr int kDevices = 99;
    WORD vendorIds[kIdEntries] = {};
    WORD productIds[kIdEntries] = {};
    // 99 texts of 99 characters: keep it off the stack.
    auto info = std::make_unique<char[][KVBL_DFU_INFO_LENGTH]>(kDevices);
    std::memset(info.get(), 0, sizeof(char) * KVBL_DFU_INFO_LENGTH * kDevices);
    *pCount = kDevices;
    const BYTE result = KVBL_GetKVDeviceList(pCount, vendorIds, productIds, info.get());
    if (*pCount > kDevices)
        *pCount = kDevices;
    if (devices) {
        devices->clear();
        for (int k = 0; k < *pCount; ++k)
            devices->append(std::string(info[k], strnlen(info[k], KVBL_DFU_INFO_LENGTH)));
    }
    return result;
}

QList<std::string> CComManager::DFUProblems()
{
    constexpr int kTexts = 32;
    auto texts = std::make_unique<char[][KVBL_DFU_PROBLEM_LENGTH]>(kTexts);
    BYTE count = kTexts;
    QList<std::string> out;
    if (KVBL_GetKVDeviceProblems(&count, texts.get()) != SUCCESS)
        return out;
    for (int k = 0; k < count && k < kTexts; ++k)
        out.append(std::string(texts[k], strnlen(texts[k], KVBL_DFU_PROBLEM_LENGTH)));
    return out;
}

bool CComManager::InitKVDFUDeviceList()
{
    if (g_shareParameter.m_InterfaceType != INTERFACE_DFU)
        return true;
    CComManager manager;
    manager.SetInterfaceType(INTERFACE_DFU);
    BYTE count = 0;
    if (ListDFUDevices(&count) != 0 || count == 0)
        return false;
    return !manager.getCom(count).isEmpty();
}
