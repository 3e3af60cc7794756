#ifndef TARNFLASH_OPERATIONS_UPLOAD_H
#define TARNFLASH_OPERATIONS_UPLOAD_H

// Reading chip memory (selected sectors, optionally the external bank) into
// a new image file, one element per step.

#include "files/FileImage.h"
#include "operations/Operation.h"

#include <QList>

#include <cstdint>
#include <string>

class CProgramFile;

struct UploadParam {
    std::string m_strUploadPathFile;  // its extension selects the format
    QList<int> m_aSectorIndexs;       // external-bank sectors from 0x8000
    int m_bank3Size = 0;              // KB
};

class CUpload : public COperation {
public:
    explicit CUpload(COperationLink* obBootLoader);
    ~CUpload() override;

    void SetParameters(void* parameters) override;
    unsigned int InitAction() override;
    unsigned int Action() override;
    void CalculatePercent() override;
    using COperation::CalculatePercent;

    // The firmware checksum of the sectors read, in address order; false
    // before they were all read.
    bool ImageChecksum(uint32_t& crc) const;

    // Bytes of one run of sectors confirmed by one firmware CRC request.
    static constexpr uint32_t CONFIRM_RUN_BYTES = 64 * 1024;

private:
    unsigned int Save();
    // Reads the element a second time and compares: for chips without the
    // firmware CRC, and elements that are not whole sectors.
    unsigned int ConfirmByRereading(IMAGEELEMENT* element);
    // One CRC request for the pending run of sectors; a mismatch reads the
    // run again (twice at most) before the upload fails. Stores the run's
    // elements into the image once they are confirmed.
    unsigned int ConfirmRun();
    bool IsWholeSector(const IMAGEELEMENT* element) const;
    bool ContinuesRun(const IMAGEELEMENT* last, const IMAGEELEMENT* next) const;

    CProgramFile* m_obProgramFile;
    UploadParam m_Parameters;
    bool m_bConfirmByCRC = false;
    QList<int> m_lsRun;  // elements read and not yet confirmed
};

#endif
