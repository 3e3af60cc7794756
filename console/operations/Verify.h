#ifndef TARNFLASH_OPERATIONS_VERIFY_H
#define TARNFLASH_OPERATIONS_VERIFY_H

// Comparing an image file with the chip's memory, one element per step.

#include "operations/Operation.h"

#include <cstdint>

class CProgramFile;

class CVerify : public COperation {
public:
    explicit CVerify(CBootLoader* obBootLoader);
    ~CVerify() override { WaitForEnd(); }

    // Borrowed: the download that owns the file outlives the verify.
    void SetVerifyFile(CProgramFile* file) { m_obProgramFile = file; }
    void SetAddressOffset(uint32_t offset) { m_uiAddressOffset = offset; }

    unsigned int InitAction() override;
    unsigned int Action() override;
    void CalculatePercent() override;
    using COperation::CalculatePercent;

private:
    CProgramFile* m_obProgramFile;
    uint32_t m_uiAddressOffset;
};

#endif
