// Selects the library's interface type, probes ports and lists DFU devices.
#ifndef TARNFLASH_LINK_COMMANAGER_H
#define TARNFLASH_LINK_COMMANAGER_H

#include <QList>

#include <string>

#include "link/Com.h"

class CComManager
{
public:
    CComManager();

    // Stores the type and announces it to the library.
    void SetInterfaceType(char type);
    char GetInterfaceType() const { return m_InterfaceType; }
    // Whether the USART port can be opened (other interfaces: true).
    bool IsCanbeOpen(int iPortNum);
    // Connection objects for ports 1..count (count replaced unless -1);
    // empty for USART.
    QList<CCom> getCom(int nPortNum);
    int GetDefPortNums() const { return m_nDefPortNums; }
    // Whether a USB DFU device is present (true at once when the run's
    // interface is not DFU).
    static bool InitKVDFUDeviceList();

    // Asks the library for the DFU device list; on success *pCount holds the
    // number found and devices (when given) the library's text of each.
    // Returns the library's result.
    static BYTE ListDFUDevices(BYTE* pCount, QList<std::string>* devices = nullptr);
    // What went wrong with DFU devices since the last listing (devices that
    // could not be opened, and why).
    static QList<std::string> DFUProblems();

private:
    int m_nDefPortNums = 1024;
    char m_InterfaceType = INTERFACE_USART;
};

#endif
