#ifndef TARNFLASH_OPERATIONS_PROTECTION_H
#define TARNFLASH_OPERATIONS_PROTECTION_H

// Protection changes through the bootloader. Each makes the chip reset
// itself, so the link reconnects before the change counts as done.

#include "operations/Operation.h"

#include <QList>

class CAccessProtect : public COperation {
public:
    explicit CAccessProtect(COperationLink* obBootLoader);
    ~CAccessProtect() override { WaitForEnd(); }

    // Copies one byte: the protection level, 1 or 2.
    void SetParameters(void* parameters) override;
    unsigned int Action() override;

private:
    unsigned char m_protectLevel;
};

// Removes access protection; the chip mass-erases its flash first. Two
// attempts; protection still on after both is a failure.
class CAccessUnProtect : public COperation {
public:
    explicit CAccessUnProtect(COperationLink* obBootLoader);
    ~CAccessUnProtect() override { WaitForEnd(); }
    unsigned int Action() override;

    static constexpr unsigned long UNPROTECT_TIMEOUT_MS = 20000;
    static constexpr int ATTEMPTS = 2;
};

// Sets erase/program protection for the given sectors.
class CEraseProgramProtect : public COperation {
public:
    explicit CEraseProgramProtect(COperationLink* obBootLoader);
    ~CEraseProgramProtect() override { WaitForEnd(); }
    // Copies a QList<int> of sector numbers.
    void SetParameters(void* parameters) override;
    unsigned int Action() override;

private:
    QList<int> m_iSectorIndex;
};

// Clears all erase/program protection.
class CEraseProgramUnProtect : public COperation {
public:
    explicit CEraseProgramUnProtect(COperationLink* obBootLoader);
    ~CEraseProgramUnProtect() override { WaitForEnd(); }
    unsigned int Action() override;
};

#endif
