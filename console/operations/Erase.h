#ifndef TARNFLASH_OPERATIONS_ERASE_H
#define TARNFLASH_OPERATIONS_ERASE_H

// Erasing the chip's flash: everything (mass erase of the banks and the
// external bank), a list of 64 KB blocks, or a list of sectors.

#include "operations/Operation.h"

#include <QList>

struct EraseParam {
    QList<int> m_iSectorIndex;  // sector numbers (external bank from 0x8000)
    QList<int> m_iBlockIndex;   // block numbers; both empty: mass erase
};

class CErase : public COperation {
public:
    explicit CErase(COperationLink* obBootLoader);
    ~CErase() override { WaitForEnd(); }

    void SetParameters(void* parameters) override;
    unsigned int Action() override;
    void CalculatePercent() override;
    using COperation::CalculatePercent;

    // The main-flash sectors the given blocks cover; blocks reaching above
    // the main-flash window add nothing.
    static QList<int> GetNecessarySectorIndexFromBlockIndex(const QList<int>& blocks,
                                                            unsigned int blockSize,
                                                            unsigned int sectorSize);

private:
    unsigned int MassErase();
    unsigned int EraseBlocksAndSectors();
    // Reports one erased block or sector; false when a cancel arrived.
    bool StepDone();

    int m_iAllSectorNum;
    int m_iAddSectorNum;
    EraseParam m_parameters;
};

#endif
