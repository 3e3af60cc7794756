// One connection to one target: the library's port handle, the serial
// settings, the automatic boot entry through RTS/DTR, and the bootloader link
// created when the port opens.
#ifndef TARNFLASH_LINK_COM_H
#define TARNFLASH_LINK_COM_H

#include <QList>

#include <string>

#include "KVBLLIB.h"  // the program links libKVBLLIB

class CBootLoader;

enum BootSwitch { MANUAL = 0, AUTOMATIC = 1 };
enum BootOptionLine { BOOTOPTION_NONE = 0, BOOTOPTION_DTR = 1, BOOTOPTION_RTS = 2 };
enum BootOptionState { LOW = 0, HIGH = 1 };

// Interface types shared by the front end, the connection and the link.
enum : char {
    INTERFACE_USART = 0,
    INTERFACE_DFU = 1,
    INTERFACE_I2C = 2,
    INTERFACE_CAN = 3,
    INTERFACE_SPI = 4,
};

class CCom
{
public:
    CCom();
    CCom(int iPortNum, char type, const char* strPortName);
    // A copy takes the settings and the handle, never the link.
    CCom(const CCom& other);
    CCom& operator=(const CCom& other);
    virtual ~CCom();

    void InitSetting();
    int SetSettings(int speedInBaud, int nbBit, int parity);
    void SetBootSwitch(BootSwitch emSwitch);
    BootSwitch GetBootSwitch() const { return m_emBootSwitch; }
    void SetBootOptionIndex(int nIndex) { m_AutoSwitchIndex = nIndex; }
    int GetBootOptionIndex() const { return m_AutoSwitchIndex; }
    // Automatic boot entry with the stored option (USART only).
    bool SetBootOption();
    // One reset/boot toggling sequence: 600 ms whatever lines are used.
    bool SetBootOption(BootOptionLine Reset, BootOptionLine BL, BootOptionState ResetState,
                       BootOptionState BLState);
    int SetComTimeOut(int iTimeOut);
    int GetTimeOut() const { return m_iTimeOut; }
    int Open();
    int Close();
    bool IsOpen() const;
    char GetInterfaceType() const { return m_InterfaceType; }

    HANDLE GetHandle() const { return m_handle; }
    CBootLoader* GetBootLoader() const { return m_ObBootLoader; }
    int GetPortNum() const { return m_iPortNum; }
    const std::string& GetPortName() const { return m_strPortName; }
    int GetSpeedInBaud() const { return m_iSpeedInBaud; }
    int GetBit() const { return m_iBit; }
    int GetParity() const { return m_iParity; }
    const QList<int>& GetSupSpeedInBaud() const { return m_lsSupSpeedInBaud; }
    const QList<int>& GetSupBit() const { return m_lsSupiBit; }
    const QList<int>& GetSupParity() const { return m_lsSupParity; }
    const QList<int>& GetSupTimeOut() const { return m_lsSupiTimeOut; }

protected:
    // Seams of the boot-line sequence: drive one modem line, and wait.
    virtual void DriveLine(BootOptionLine line, bool level);
    virtual void Pause(int ms);

private:
    void CopySettings(const CCom& other);
    void DestroyLink();

    HANDLE m_handle = nullptr;
    CBootLoader* m_ObBootLoader = nullptr;
    int m_iPortNum = 0;
    std::string m_strPortName;
    int m_iSpeedInBaud = 115200;
    int m_iBit = 8;
    int m_iParity = 2;
    float m_fStopBit = 1.0f;
    int m_iTimeOut = 5;
    QList<int> m_lsSupSpeedInBaud;
    QList<int> m_lsSupiBit;
    QList<int> m_lsSupParity;
    QList<int> m_lsSupiTimeOut;
    BootSwitch m_emBootSwitch = MANUAL;
    int m_AutoSwitchIndex = 0;
    char m_InterfaceType = INTERFACE_USART;
};

#endif
