#ifndef TARNFLASH_OPERATIONS_DELTAPLAN_H
#define TARNFLASH_OPERATIONS_DELTAPLAN_H

// Which sectors of a download already hold what the image puts there, found
// with the chip's firmware CRC, so that only the others are erased and
// written ("-d --delta").

#include "files/FileImage.h"
#include "operations/Crc.h"

#include <QList>

#include <cstdint>
#include <functional>
#include <vector>

class CProgramFile;

class CDeltaPlan {
public:
    using Piece = CFWCRC::Piece;
    using SectorRun = CFWCRC::SectorRun;
    // Asks the chip for the CRC of a run of sectors: a result code, and the
    // chip's value in crc.
    using ChipCrcFn = std::function<unsigned int(uint32_t address, uint16_t sectors, uint32_t& crc)>;

    // Compares every sector the covered ranges touch with what it must hold
    // after the download (the pieces' bytes, 0xFF elsewhere): first one
    // request per run of consecutive sectors; a run that differs is halved,
    // the chip asked for the first half and the second half's CRC derived
    // from the two answers, down to single sectors. Halving never asks more
    // than one request per sector would (n - 1 requests for n sectors that
    // all differ), and far fewer when few differ.
    unsigned int Plan(const std::vector<Piece>& pieces, const std::vector<Piece>& covered,
                      unsigned int sectorSize, const ChipCrcFn& chipCrc);
    // The same for image files as a download places them (one offset per
    // file); blank adds places that must be erased bytes afterwards (a serial
    // number written later).
    unsigned int PlanFiles(const QList<CProgramFile*>& files, const QList<uint32_t>& offsets,
                           const std::vector<Piece>& blank, unsigned int sectorSize,
                           const ChipCrcFn& chipCrc);

    // Sectors to erase and write (program numbering, address order).
    const QList<int>& ChangedSectors() const { return m_lsChanged; }
    // Their address ranges, merged where they touch.
    const QList<AddressRange>& ChangedRanges() const { return m_lsChangedRanges; }
    int SectorCount() const { return m_iSectors; }
    int Requests() const { return m_iRequests; }

    // The chip's CRC of the second part of a run from the CRC of the whole
    // run and of its first part (the CRC is linear: whole = CRC of the
    // second part continued from the first part's value).
    static uint32_t SecondPartCrc(uint32_t whole, uint32_t first, uint64_t secondLength);

private:
    unsigned int Resolve(const SectorRun& run, uint32_t chip, const std::vector<Piece>& pieces,
                         const ChipCrcFn& chipCrc);
    void MarkChanged(const SectorRun& run);

    QList<int> m_lsChanged;
    QList<AddressRange> m_lsChangedRanges;
    int m_iSectors = 0;
    int m_iRequests = 0;
    unsigned int m_uiSectorSize = 0;
};

#endif
