#ifndef TARNFLASH_OPERATIONS_CRC_H
#define TARNFLASH_OPERATIONS_CRC_H

// Checksums of flash contents: the chip's firmware CRC of a run of sectors,
// and the firmware check that compares image files with the chip through it.

#include "operations/Operation.h"

#include <QList>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class CProgramFile;

// The checksum the bootloader answers to FIRMWARE_CRC: CRC-32 with the
// polynomial 0x04C11DB7, initial value 0xFFFFFFFF, no reflection and no
// final XOR, over the contents as 32-bit little-endian words in address
// order, each word fed most significant bit first. A trailing partial word
// is completed with 0xFF (erased flash). Continue a computation by passing
// the previous result as crc.
namespace FirmwareCrc {
constexpr uint32_t kInitial = 0xFFFFFFFFu;
uint32_t Compute(const unsigned char* data, size_t length, uint32_t crc = kInitial);
}  // namespace FirmwareCrc

struct FlashCRCParam {
    uint32_t m_uiStartAddress = 0;    // address of the first sector
    uint32_t m_uiBeginSectorNum = 0;  // its number, for the name
    uint32_t m_uiSectorNumbers = 0;   // how many sectors
};

struct FWCRCParam {
    QList<std::string> m_strDownPathFile;
    QList<uint32_t> m_uiStartAddress;  // load address per file (binary files)
    unsigned char m_fillData = 0xFF;   // carried; uncovered bytes count as erased
};

// Asks the chip for the checksum of a run of sectors and keeps the value.
class CFlashCRC : public COperation {
public:
    explicit CFlashCRC(COperationLink* obBootLoader);
    ~CFlashCRC() override { WaitForEnd(); }

    void SetParameters(void* parameters) override;
    unsigned int InitAction() override;
    unsigned int Action() override;
    uint32_t GetCRCValue() const { return m_CRCValue; }

    // One FIRMWARE_CRC request under the long time-out, after settleMs; the
    // configured time-out is restored on both paths. Returns a result code;
    // crc is the chip's value, first byte delivered most significant.
    static unsigned int ReadChipCRC(void* handle, uint32_t address, uint16_t sectors, uint32_t& crc,
                                    unsigned long settleMs = 0);

    static constexpr unsigned long CRC_TIMEOUT_MS = 100000;

private:
    FlashCRCParam m_Parameters;
    uint32_t m_CRCValue;
};

// Checks that the chip holds image files: for each run of whole sectors a
// file covers, the checksum computed here (bytes the file leaves out count as
// 0xFF) is compared with the chip's. A run whose checksum differs is read
// back and compared byte by byte over the file's own ranges (blank data left
// out of the writing included), so that a chip whose checksum is not ours
// costs time and never fails a good download. A chip without the CRC
// command is checked by read-back alone.
class CFWCRC : public COperation {
public:
    explicit CFWCRC(COperationLink* obBootLoader);
    ~CFWCRC() override;

    // Copies a FWCRCParam: the files are opened by the operation.
    void SetParameters(void* parameters) override;
    // Checks one file that is already open (borrowed, not opened again) with
    // its address offset: the download's own check after writing it.
    void SetCheckFile(CProgramFile* file, uint32_t offset);

    unsigned int InitAction() override;
    unsigned int Action() override;
    void CalculatePercent() override;
    using COperation::CalculatePercent;

    // The per-file routines: series 1 and 2, and every other series (which
    // starts from the file's first element whatever its cursor).
    unsigned int GetFWCRCCode(CProgramFile* file, uint32_t offset);
    unsigned int GetFWCRCCode_S04(CProgramFile* file, uint32_t offset);
    static uint32_t GetLoadFileCRCCode(const unsigned char* bytes, uint32_t length);
    static uint32_t GetLoadFileCRCCode_S04(const unsigned char* bytes, uint32_t length);

    // A run of consecutive whole sectors of one region.
    struct SectorRun {
        uint32_t address = 0;
        uint32_t sectorSize = 0;
        uint32_t count = 0;
        uint64_t End() const { return uint64_t(address) + uint64_t(sectorSize) * count; }
    };
    // A run of image bytes as placed on the chip.
    struct Piece {
        uint64_t address = 0;
        uint32_t length = 0;
        const unsigned char* data = nullptr;
    };
    // The sector runs that the pieces touch, in address order (main flash in
    // its sectors, the external bank in 4 KB sectors); runs stop at
    // maxRunBytes. False when a piece lies below the flash or past the
    // 32-bit space, or with an unusable sector size.
    static bool GetSectorRuns(const std::vector<Piece>& pieces, unsigned int sectorSize,
                              uint32_t maxRunBytes, QList<SectorRun>& runs);

    static constexpr uint32_t MAX_RUN_BYTES = 256 * 1024;

    // A file as the download placed it (moved by offset): its data elements
    // (pieces) and its whole ranges before blank data was left out (covered,
    // no data, touching ranges joined), both in address order.
    // FILES_BADADDRESSRANGE when one cannot be placed.
    static unsigned int PiecesOf(CProgramFile* file, uint32_t offset, std::vector<Piece>& pieces,
                                 std::vector<Piece>& covered);
    // The run's bytes as the pieces leave them: uncovered bytes erased.
    static std::vector<unsigned char> RunBytes(const SectorRun& run, const std::vector<Piece>& pieces);
    // The firmware checksum of every sector the file touches once placed,
    // in address order, uncovered bytes erased: what the chip answers for
    // those sectors when it holds the file. False for a file without data
    // or one that cannot be placed.
    static bool ImageChecksum(CProgramFile* file, uint32_t offset, unsigned int sectorSize, uint32_t& crc);

private:
    unsigned int OpenFile();
    unsigned int ConfirmAddressOffset();
    unsigned int CheckFile(CProgramFile* file, uint32_t offset);
    unsigned int CheckRun(const SectorRun& run, const std::vector<Piece>& pieces,
                          const std::vector<Piece>& covered);
    // Reads the run's covered bytes back and compares them with what it must
    // hold; FWCRC_CHECK_FAILED when a byte differs in two reads.
    unsigned int ReadBackRun(const SectorRun& run, const std::vector<unsigned char>& expected,
                             const std::vector<Piece>& covered);
    bool ChipHasCRC() const;
    void FreeFiles();

    QList<CProgramFile*> m_obProgramFile;  // owned unless borrowed
    bool m_bBorrowed;
    QList<uint32_t> m_uiAddressOffset;
    FWCRCParam m_Parameters;
    int m_iAllElementNum;
    int m_iCurrentElementNum;
    uint32_t m_iCurrentSzie;
};

#endif
