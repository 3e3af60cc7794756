#ifndef TARNFLASH_OPERATIONS_OPERATIONLINK_H
#define TARNFLASH_OPERATIONS_OPERATIONLINK_H

// What an operation sees of the link it runs on: the open handle, the chip's
// description and command set, the cached option bytes, and the few link
// actions an operation calls (write the option bytes, jump, reset and
// reconnect). The link implements it; operations know nothing else of it.

#include "KVBL.h"

#include <QList>

class CDevice;
class CUserSystemData;

class COperationLink
{
public:
    virtual HANDLE GetHandle() const = 0;
    virtual char GetInterfaceType() const = 0;
    // The connected chip's description and command set; null before.
    virtual CDevice* GetDevice() const = 0;
    virtual const Commands* GetCommands() const = 0;
    virtual int GetAccessProtectiosStatus(bool* bEnabled) = 0;

    // The cached option bytes: read from the chip, the cache (null until
    // first read), written from an element image.
    virtual int GetUserSystemData() = 0;
    virtual CUserSystemData* GetUserSystemDataModel() const = 0;
    virtual int LoadUserSystemDataToDevice(unsigned char* usersystemdata, unsigned int usersystemdataLen) = 0;
    virtual int LoadUserSystemDataToDeviceExceptFAP(unsigned char* usersystemdata,
                                                    unsigned int usersystemdataLen) = 0;
    virtual bool HasBeenEraseProgramProtect(const QList<int>& aSectorIndexs) = 0;

    virtual int JumpToUserProgram(unsigned int uiAddress) = 0;
    virtual int ResetMcu() = 0;
    virtual int ResetMcuS90() = 0;
    // After the chip restarted on its own: reopen the port and reconnect.
    virtual int ReconnectAfterReset(bool keepWaitingWithoutDevice, bool discardUserSystemData) = 0;

protected:
    COperationLink() = default;
    COperationLink(const COperationLink&) = default;
    COperationLink& operator=(const COperationLink&) = default;
    ~COperationLink() = default;  // never deleted through this view
};

#endif
