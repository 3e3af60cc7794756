#ifndef TARNFLASH_OPERATIONS_PROTECTION_H
#define TARNFLASH_OPERATIONS_PROTECTION_H

// Protection changes through the bootloader. Each makes the chip reset
// itself, so the link reconnects before the change counts as done.

#include "operations/Operation.h"

class CAccessProtect : public COperation {
public:
    explicit CAccessProtect(CBootLoader* obBootLoader);
    ~CAccessProtect() override { WaitForEnd(); }

    // Copies one byte: the protection level, 1 or 2.
    void SetParameters(void* parameters) override;
    unsigned int Action() override;

private:
    unsigned char m_protectLevel;
};

#endif
