#ifndef TARNFLASH_OPERATIONS_DOWNLOADSTEPS_H
#define TARNFLASH_OPERATIONS_DOWNLOADSTEPS_H

// What the file download and the project download share: the options of the
// steps around the writing (erase, external bank, sLib, serial number,
// option bytes, protection, jump or reset), and the sub-operations that run
// them.

#include "operations/Operation.h"

#include <QList>

#include <cstdint>
#include <functional>
#include <vector>

class CWriteSN;
class CAccessProtect;
class CWriteUserSystemData;
class CEnableSlib;
class CEnBank3;

enum EraseMode { ERASEMODE_NONE = 0, NECESSARY = 1, GLOBAL = 2 };

struct DownloadSteps {
    QList<uint32_t> m_uiStartAddress;
    EraseMode m_enEraseMode = NECESSARY;
    bool m_bOptimize = false;
    bool m_bJump = false;
    bool m_bVerify = false;
    // Option bytes written after the data (an element image).
    unsigned char* m_UserSystemDataArray = nullptr;
    uint32_t m_UserSystemDataLen = 0;
    bool m_bFAP = false;
    unsigned char m_bFAPLevel = 1;
    bool m_bWriteSN = false;
    uint32_t m_uiSNAddress = 0;
    uint32_t m_uiSNNumber = 0;
    uint32_t m_uiSNStep = 0;
    bool m_bEnableSlib = false;
    uint16_t m_usStartSector = 0;
    uint16_t m_usStartDataSector = 0;
    uint16_t m_usEndSector = 0;
    bool m_bEnBank3 = false;
    bool m_bRemapFlag = false;
    bool m_bNeedRemap = false;
    unsigned char m_bFlashType = 0x90;
    uint32_t m_uiFlashSize = 0;  // KB
    uint32_t m_uiFlashDA = 0;
};

// The sub-operations of a download: the shared steps, and the ones its owner
// adds. All are owned here, marked as sub-operations, and receive the
// owner's delegate and cancel.
class CDownloadSteps {
public:
    explicit CDownloadSteps(COperationLink* link);
    ~CDownloadSteps();
    CDownloadSteps(const CDownloadSteps&) = delete;
    CDownloadSteps& operator=(const CDownloadSteps&) = delete;

    // Takes an owner's own sub-operation; returns it.
    template <class Operation>
    Operation* Add(Operation* operation)
    {
        Own(operation);
        return operation;
    }
    void SetOperationInfoDelegate(lpFunc func);
    void Cancel();

    unsigned int EnBank3(const DownloadSteps& options);
    unsigned int EnableSlib(const DownloadSteps& options, uint32_t password);

    // The steps after the data, in order: the serial number (the number then
    // advances by its step), the option bytes (with the access level folded
    // in when protection follows), access protection; then a jump, or a reset
    // when sLib was enabled. endStep ends each of the first three: when it
    // sets stop, its result is returned at once.
    unsigned int AfterData(DownloadSteps& options, const unsigned char* userSystemData,
                           uint32_t userSystemDataLength,
                           const std::function<unsigned int(unsigned int, bool&)>& endStep,
                           const std::function<unsigned int()>& jump);

private:
    void Own(COperation* operation);

    COperationLink* m_link;
    std::vector<COperation*> m_operations;
    CWriteSN* m_obWriteSN;
    CAccessProtect* m_obFAP;
    CWriteUserSystemData* m_obWriteOTP2File;
    CEnableSlib* m_obEnableSlib;
    CEnBank3* m_obEnBank3;
};

#endif
