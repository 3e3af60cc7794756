#ifndef TARNFLASH_OPERATIONS_FEATUREOPERATIONS_H
#define TARNFLASH_OPERATIONS_FEATUREOPERATIONS_H

// Small single-step operations that switch chip features or write small
// items; mostly the follow-up steps of a download.

#include "operations/Operation.h"

#include <cstdint>
#include <vector>

struct EnBank3Param {
    bool m_bRemapFlag = false;
    bool m_bNeedRemap = false;
    unsigned char m_bFlashType = 0x90;  // 0x90 or 0x91
    uint32_t m_uiFlashSize = 0;         // KB
    uint32_t m_uiFlashDA = 0;           // start of the encrypted area
};

struct WriteSN_Param {
    uint32_t m_uiAddr = 0;
    uint32_t m_uiSNNum = 0;
    uint32_t m_uiSNStep = 0;  // carried for the caller; not used here
};

struct EnableSlibParam {
    uint32_t m_uiPassword = 0;
    uint16_t m_usStartSector = 0;
    uint16_t m_usStartDataSector = 0;
    uint16_t m_usEndSector = 0;
};

// Enables the external SPI flash bank.
class CEnBank3 : public COperation {
public:
    explicit CEnBank3(COperationLink* obBootLoader);
    ~CEnBank3() override { WaitForEnd(); }
    void SetParameters(void* parameters) override;
    unsigned int Action() override;
    // FLASH_DA actually sent: 0 on series 4 when the bank keys are blank.
    uint32_t FlashDAToSend();

private:
    EnBank3Param m_Parameters;
};

// Writes a serial-number word (least significant byte first) and reads it back.
class CWriteSN : public COperation {
public:
    explicit CWriteSN(COperationLink* obBootLoader);
    ~CWriteSN() override { WaitForEnd(); }
    void SetParameters(void* parameters) override;
    unsigned int Action() override;

private:
    WriteSN_Param m_Parameters;
};

// Writes a user-system-data element image to the chip's option bytes.
class CWriteUserSystemData : public COperation {
public:
    explicit CWriteUserSystemData(COperationLink* obBootLoader);
    ~CWriteUserSystemData() override { WaitForEnd(); }
    // Keeps its own copy of the bytes.
    void SetParameters(const unsigned char* data, uint32_t length);
    unsigned int Action() override;

private:
    std::vector<unsigned char> m_UserSystemData;
    uint32_t m_UserSystemDataLen;
};

// Enables the sLib protected library area.
class CEnableSlib : public COperation {
public:
    explicit CEnableSlib(COperationLink* obBootLoader);
    ~CEnableSlib() override { WaitForEnd(); }
    void SetParameters(void* parameters) override;
    unsigned int Action() override;

private:
    EnableSlibParam m_Parameters;
};

// Disables the sLib area; the chip erases it and restarts, so the link
// reconnects, also after a wrong password.
class CDisableSlib : public COperation {
public:
    explicit CDisableSlib(COperationLink* obBootLoader);
    ~CDisableSlib() override { WaitForEnd(); }
    // Copies an unsigned int: the password.
    void SetParameters(void* parameters) override;
    unsigned int Action() override;

    static constexpr unsigned long DISABLE_TIMEOUT_MS = 20000;

private:
    uint32_t m_uiPassword = 0;
};

#endif
