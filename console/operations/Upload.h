#ifndef TARNFLASH_OPERATIONS_UPLOAD_H
#define TARNFLASH_OPERATIONS_UPLOAD_H

// Reading chip memory (selected sectors, optionally the external bank) into
// a new image file, one element per step.

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
    explicit CUpload(CBootLoader* obBootLoader);
    ~CUpload() override;

    void SetParameters(void* parameters) override;
    unsigned int InitAction() override;
    unsigned int Action() override;
    void CalculatePercent() override;
    using COperation::CalculatePercent;

    // The temporary file the image is written to before it is renamed into
    // place: same folder, same extension.
    static std::string TemporaryPathFor(const std::string& path);
    // The firmware checksum of the sectors read, in address order; false
    // before they were all read.
    bool ImageChecksum(uint32_t& crc) const;

private:
    unsigned int Save();

    CProgramFile* m_obProgramFile;
    UploadParam m_Parameters;
};

#endif
