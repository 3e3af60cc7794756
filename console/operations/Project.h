#ifndef TARNFLASH_OPERATIONS_PROJECT_H
#define TARNFLASH_OPERATIONS_PROJECT_H

// Programming the chip from images already in memory, described by the file
// records of a project instead of paths to open.
//
// Address rule of the project format: every part's PartStartAddress is the
// absolute chip address of its first byte, binary records included. The
// project download writes each part there and the project verify compares it
// there; a record's StartAddress is only its load (and jump) address.

#include "ShareParameter.h"
#include "operations/Download.h"
#include "operations/FeatureOperations.h"
#include "operations/Operation.h"

#include <QList>

#include <cstdint>
#include <functional>
#include <vector>

class CErase;
class CAccessUnProtect;
class CDisableSlib;

// Copies m_UserSystemDataArray at SetParameters; the caller keeps its own array.
struct DLPROJECTParam : DownloadSteps {
    QList<SFileInfo> m_DownFileInfo;
    bool m_bRDUP = false;  // disable access protection first
    uint32_t m_uiEnablePassword = 0;
    bool m_bDisableSlib = false;  // disable sLib first
    uint32_t m_uiDisablePassword = 0;
};

// Parts travel in pieces of this many bytes (the last carries the rest).
constexpr uint32_t PROJECT_TRANSFER_UNIT = 1024;

// Calls piece(address, bytes, length) for each transfer unit of the part, in
// order; stops at the first non-zero result and returns it.
unsigned int ForEachProjectPiece(
    const HEXFILEPARTINFO& part,
    const std::function<unsigned int(uint32_t, const unsigned char*, uint32_t)>& piece);

// Compares one project record with the chip, part by part.
class CVerifyProject : public COperation {
public:
    explicit CVerifyProject(COperationLink* obBootLoader);
    ~CVerifyProject() override { WaitForEnd(); }

    void SetVerifyFile(const SFileInfo& file) { m_obProgramFile = file; }
    void SetVerifyOptimize(bool optimize) { m_bOptimize = optimize; }
    unsigned int InitAction() override;
    unsigned int Action() override;
    void CalculatePercent(int bytes);
    using COperation::CalculatePercent;

private:
    SFileInfo m_obProgramFile;
    uint32_t m_TempDownlaodFileSize;
    uint32_t m_TempDownlaodedFileSize;
    bool m_bOptimize;
};

// Writes a user-system-data element image for a project: the download's
// step (its own copy of the bytes, written through the link).
class CWriteUserSystemDataProject : public CWriteUserSystemData {
public:
    using CWriteUserSystemData::CWriteUserSystemData;
    using CWriteUserSystemData::SetParameters;
    using COperation::SetParameters;
};

// The project counterpart of the download.
class CDownloadProject : public COperation {
public:
    explicit CDownloadProject(COperationLink* obBootLoader);
    ~CDownloadProject() override;

    void SetParameters(void* parameters) override;
    void SetOperationInfoDelegate(lpFunc func) override;
    void Cancel() override;
    unsigned int InitAction() override;
    unsigned int Action() override;
    unsigned int ActionDone() override;
    void CalculatePercent(int bytes);
    using COperation::CalculatePercent;

    // The sectors the records' parts touch, record by record and part by
    // part, repeats kept: main flash from 0, the external bank from 0x8000
    // in 4 KB sectors. Parts of no bytes, below the flash or above
    // 0x1FFFFFFF add nothing.
    static QList<int> GetProjectSectorIndex(const QList<SFileInfo>& files, unsigned int sectorSize);
    // The records' sectors, and the serial number's when one is written.
    QList<int> GetNecessarySectorIndex();
    // sLib on and any necessary sector inside its range:
    // SLIB_DOWNLOADFILE_IN_SLIBSECTOR_ERROR.
    unsigned int DownloadFileInSlibCheck();
    // Whether the series has an sLib area to check before a project download.
    static bool SeriesHasSlib(int series);
    // A part longer than its buffer, or one that runs past the 32-bit
    // address space, can never be written: FILES_BADPARAMETER.
    static unsigned int CheckParts(const QList<SFileInfo>& files);

    uint32_t NextSerialNumber() const { return m_Parameters.m_uiSNNumber; }

private:
    unsigned int CheckEraseProgramProtect();
    unsigned int Erase(EraseMode mode);
    unsigned int DownloadRecord(const SFileInfo& record);
    unsigned int Verify(const SFileInfo& record);
    unsigned int DisableSlib(uint32_t password);
    unsigned int JumpToUserProgram();
    // A step's end: failure gives its code, a cancel 0; stop tells whether
    // the caller ends here.
    unsigned int EndStep(unsigned int result, bool& stop);

    CDownloadSteps m_Steps;  // owns the sub-operations below
    CErase* m_obErase;
    CVerifyProject* m_obVerify;
    CAccessUnProtect* m_obRDUP;
    CDisableSlib* m_obDisableSlib;
    DLPROJECTParam m_Parameters;
    std::vector<unsigned char> m_UserSystemData;  // own copy of the given bytes
    bool m_hasGetEraseProgramProtectStatus;
    uint32_t m_TempDownlaodFileSize;
    uint32_t m_TempDownlaodedFileSize;
};

#endif
