#include "operations/DeltaPlan.h"

#include "operations/FlashLayout.h"
#include "result/Result.h"

unsigned int CDeltaPlan::Plan(const std::vector<Piece>& pieces, const std::vector<Piece>& covered,
                              unsigned int sectorSize, const ChipCrcFn& chipCrc)
{
    m_lsChanged.clear();
    m_lsChangedRanges.clear();
    m_iSectors = 0;
    m_iRequests = 0;
    m_uiSectorSize = sectorSize;
    QList<SectorRun> runs;
    if (!CFWCRC::GetSectorRuns(covered, sectorSize, CFWCRC::MAX_RUN_BYTES, runs))
        return CResult::FILES_BADADDRESSRANGE;
    for (const SectorRun& run : runs)
        m_iSectors += static_cast<int>(run.count);
    for (const SectorRun& run : runs) {
        uint32_t chip = 0;
        ++m_iRequests;
        unsigned int r = chipCrc(run.address, static_cast<uint16_t>(run.count), chip);
        if (r == 0)
            r = Resolve(run, chip, pieces, chipCrc);
        if (r != 0)
            return r;
    }
    return 0;
}

unsigned int CDeltaPlan::PlanFiles(const QList<CProgramFile*>& files, const QList<uint32_t>& offsets,
                                   const std::vector<Piece>& blank, unsigned int sectorSize,
                                   const ChipCrcFn& chipCrc)
{
    std::vector<Piece> pieces, covered(blank);
    for (int i = 0; i < files.size(); ++i) {
        std::vector<Piece> filePieces, fileCovered;
        unsigned int r = CFWCRC::PiecesOf(files[i], offsets.value(i, 0), filePieces, fileCovered);
        if (r != 0)
            return r;
        pieces.insert(pieces.end(), filePieces.begin(), filePieces.end());
        covered.insert(covered.end(), fileCovered.begin(), fileCovered.end());
    }
    return Plan(pieces, covered, sectorSize, chipCrc);
}

unsigned int CDeltaPlan::Resolve(const SectorRun& run, uint32_t chip,
                                 const std::vector<Piece>& pieces, const ChipCrcFn& chipCrc)
{
    const std::vector<unsigned char> expected = CFWCRC::RunBytes(run, pieces);
    if (FirmwareCrc::Compute(expected.data(), expected.size()) == chip)
        return 0;
    if (run.count == 1) {
        MarkChanged(run);
        return 0;
    }
    const SectorRun first{run.address, run.sectorSize, run.count / 2};
    const SectorRun second{static_cast<uint32_t>(first.End()), run.sectorSize, run.count - first.count};
    uint32_t firstCrc = 0;
    ++m_iRequests;
    unsigned int r = chipCrc(first.address, static_cast<uint16_t>(first.count), firstCrc);
    if (r != 0)
        return r;
    const uint32_t secondCrc =
        SecondPartCrc(chip, firstCrc, uint64_t(second.sectorSize) * second.count);
    r = Resolve(first, firstCrc, pieces, chipCrc);
    if (r != 0)
        return r;
    return Resolve(second, secondCrc, pieces, chipCrc);
}

uint32_t CDeltaPlan::SecondPartCrc(uint32_t whole, uint32_t first, uint64_t secondLength)
{
    // crc(A + B) = F(crc(A), B) and crc(B) = F(initial, B), F being linear
    // in the register and the data together: the two differ by the first
    // part's value (XOR the initial one) run over as many zero bytes.
    const std::vector<unsigned char> zeros(static_cast<size_t>(secondLength), 0);
    return whole ^ FirmwareCrc::Compute(zeros.data(), zeros.size(), first ^ FirmwareCrc::kInitial);
}

void CDeltaPlan::MarkChanged(const SectorRun& run)
{
    for (uint32_t k = 0; k < run.count; ++k)
        m_lsChanged.append(
            FlashLayout::FlashGetSectorIndex(run.address + k * run.sectorSize, m_uiSectorSize));
    const uint64_t length = uint64_t(run.sectorSize) * run.count;
    if (!m_lsChangedRanges.isEmpty() &&
        m_lsChangedRanges.last().address + m_lsChangedRanges.last().length == run.address)
        m_lsChangedRanges.last().length += length;
    else
        m_lsChangedRanges.append(AddressRange{run.address, length});
}
