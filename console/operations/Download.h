#ifndef TARNFLASH_OPERATIONS_DOWNLOAD_H
#define TARNFLASH_OPERATIONS_DOWNLOAD_H

// Programming one or more image files, with the steps a production download
// needs around it: erase before writing, verify after, serial number, user
// system data, access protection, sLib, the external bank, jump or reset.

#include "files/FileImage.h"
#include "operations/DeltaPlan.h"
#include "operations/DownloadSteps.h"
#include "operations/Operation.h"

#include <QList>

#include <cstdint>
#include <string>
#include <vector>

class CProgramFile;
class CErase;
class CVerify;
class CFWCRC;

// m_UserSystemDataArray is owned by the operation after SetParameters.
struct DownloadParam : DownloadSteps {
    QList<std::string> m_strDownPathFile;
    uint32_t m_uiPassword = 0;  // sLib
    // Check each file after writing it with the chip's firmware CRC (a run
    // whose CRC differs is read back); with m_bVerify both checks run.
    bool m_bCRC = false;
    // Before a necessary erase, ask the chip's firmware CRC which sectors
    // already hold the image, and erase and write only the others (a chip
    // without the CRC command gets everything). Goes with m_bCRC: the result
    // is checked whole.
    bool m_bDelta = false;
};

class CDownload : public COperation {
public:
    explicit CDownload(COperationLink* obBootLoader);
    ~CDownload() override;

    void SetParameters(void* parameters) override;
    void SetOperationInfoDelegate(lpFunc func) override;
    void Cancel() override;
    // Stops between blocks, and so do the erase and the checks it runs; the
    // configuration steps it may run (external bank, option bytes, sLib,
    // protection) finish first.
    void Interrupt() override;
    unsigned int InitAction() override;
    unsigned int Action() override;
    unsigned int ActionDone() override;

    // Every sector that a file's whole runs (after its offset, blank data
    // included) touch, in first-seen order without repeats; the serial
    // number's sector last.
    QList<int> GetNecessarySectorIndex();
    // Splits a sector list into whole blocks and the sectors outside them.
    static void GetNecessaryBlockIndexAndSectorIndex(const QList<int>& sectors,
                                                     unsigned int blockSize,
                                                     unsigned int sectorSize,
                                                     QList<int>& blocks,
                                                     QList<int>& looseSectors);

    // The firmware checksum of the sectors the (first) file touches once
    // placed, uncovered bytes erased; false when no file was opened.
    bool ImageChecksum(uint32_t& crc) const;

    uint32_t NextSerialNumber() const { return m_Parameters.m_uiSNNumber; }
    // The sectors a "--delta" download found different, or null when it
    // wrote everything.
    const CDeltaPlan* GetDeltaPlan() const { return m_bDeltaPlanned ? &m_DeltaPlan : nullptr; }
    const QList<uint32_t>& AddressOffsets() const { return m_uiAddressOffset; }

private:
    unsigned int OpenFile();
    unsigned int ConfirmAddressOffset();
    // Each file's whole runs moved by its offset; FILES_BADADDRESSRANGE for
    // a run that would wrap past the 32-bit address space.
    unsigned int GetPlacedRanges(QList<AddressRange>& ranges) const;
    // Finds the sectors that differ from the image (m_bDelta).
    unsigned int PlanDelta();
    unsigned int SetEraseNecessary(const QList<int>& sectors);
    unsigned int SetEraseBlockNecessary(const QList<int>& sectors);
    unsigned int Erase(EraseMode mode);
    unsigned int Download(uint32_t offset, CProgramFile* file);
    unsigned int Verify(uint32_t offset, CProgramFile* file);
    unsigned int CheckCRC(uint32_t offset, CProgramFile* file);
    unsigned int JumpToUserProgram(uint32_t offset);
    unsigned int ResetMcu();
    unsigned int ResetMcuS90();
    unsigned int ResetMcuAfterEnableSlib();
    // Ends a follow-up step: a failure or cancel resets the chip first when
    // sLib was enabled; a cancel gives 0.
    unsigned int EndStep(unsigned int result, bool& stop);
    void FreeFiles();

    QList<CProgramFile*> m_lsProgramFile;
    CDownloadSteps m_Steps;  // owns the sub-operations below
    CErase* m_obErase;
    CVerify* m_obVerify;
    CFWCRC* m_obFWCRC;
    DownloadParam m_Parameters;
    QList<uint32_t> m_uiAddressOffset;
    CDeltaPlan m_DeltaPlan;
    bool m_bDeltaPlanned = false;
};

#endif
