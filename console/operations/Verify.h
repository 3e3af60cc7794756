#ifndef TARNFLASH_OPERATIONS_VERIFY_H
#define TARNFLASH_OPERATIONS_VERIFY_H

// Comparing an image file with the chip's memory, one element per step.

#include "files/FileImage.h"
#include "operations/Operation.h"

#include <cstdint>
#include <memory>

class CPacketStream;
class CProgramFile;

class CVerify : public COperation {
public:
    explicit CVerify(COperationLink* obBootLoader);
    ~CVerify() override;

    // Borrowed: the download that owns the file outlives the verify.
    void SetVerifyFile(CProgramFile* file) { m_obProgramFile = file; }
    void SetAddressOffset(uint32_t offset) { m_uiAddressOffset = offset; }
    // Only the parts of the file within these ranges (as placed) are
    // compared; null compares everything. Borrowed like the file.
    void SetRanges(const QList<AddressRange>* ranges) { m_lsRanges = ranges; }

    unsigned int InitAction() override;
    unsigned int Action() override;
    void CalculatePercent() override;
    using COperation::CalculatePercent;

private:
    CProgramFile* m_obProgramFile;
    uint32_t m_uiAddressOffset;
    const QList<AddressRange>* m_lsRanges = nullptr;
    // Joins the bytes of elements that continue each other into whole packets.
    std::unique_ptr<CPacketStream> m_obStream;
};

#endif
