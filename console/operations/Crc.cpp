#include "operations/Crc.h"

#include "KVBL.h"
#include "ShareParameter.h"
#include "device/Device.h"
#include "files/ProgramFile.h"
#include "operations/OperationLink.h"
#include "operations/FlashLayout.h"
#include "result/Result.h"

#include <QThread>

#include <algorithm>
#include <array>
#include <cstring>
#include <set>

namespace {

const unsigned long kSettleMs = 50;
const DWORD kDefaultTimeOutMs = 5000;

// MSB-first table of the polynomial 0x04C11DB7.
const std::array<uint32_t, 256>& CrcTable()
{
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i << 24;
            for (int b = 0; b < 8; ++b)
                c = (c & 0x80000000u) ? (c << 1) ^ 0x04C11DB7u : c << 1;
            t[i] = c;
        }
        return t;
    }();
    return table;
}

DWORD ConfiguredTimeOutMs()
{
    int seconds = g_shareParameter.c_timeout;
    return seconds > 0 ? static_cast<DWORD>(seconds) * 1000 : kDefaultTimeOutMs;
}

}  // namespace

uint32_t FirmwareCrc::Compute(const unsigned char* data, size_t length, uint32_t crc)
{
    const std::array<uint32_t, 256>& table = CrcTable();
    for (size_t i = 0; i < length; i += 4) {
        // The word is little-endian in memory; its top byte goes in first.
        unsigned char word[4] = {0xFF, 0xFF, 0xFF, 0xFF};
        std::memcpy(word, data + i, length - i < 4 ? length - i : 4);
        for (int k = 3; k >= 0; --k)
            crc = (crc << 8) ^ table[((crc >> 24) ^ word[k]) & 0xFF];
    }
    return crc;
}

// ---- CFlashCRC ---------------------------------------------------------------

CFlashCRC::CFlashCRC(COperationLink* obBootLoader) : COperation(obBootLoader), m_CRCValue(0)
{
    m_EmType = OP_FLASHCRC;
    m_strName = CResult::GetInfoString(Info_Operation_FlashCRC);
}

void CFlashCRC::SetParameters(void* parameters)
{
    if (parameters)
        m_Parameters = *static_cast<FlashCRCParam*>(parameters);
}

unsigned int CFlashCRC::InitAction()
{
    const uint32_t first = m_Parameters.m_uiBeginSectorNum;
    const uint32_t last = first + m_Parameters.m_uiSectorNumbers - 1;
    m_strName = CResult::GetInfoString(Info_Operation_FlashCRC) + ": Sector" + std::to_string(first) +
                "--Sector" + std::to_string(last);
    return COperation::InitAction();
}

unsigned int CFlashCRC::ReadChipCRC(void* handle, uint32_t address, uint16_t sectors, uint32_t& crc,
                                     unsigned long settleMs)
{
    SetTimeOut(handle, static_cast<DWORD>(CRC_TIMEOUT_MS));
    const DWORD savedMs = ConfiguredTimeOutMs();
    if (settleMs > 0)
        QThread::msleep(settleMs);
    BYTE bytes[4] = {0, 0, 0, 0};
    BYTE r = KVBL_GetFirmwareCRC(handle, address, sectors, bytes);
    BYTE restored = SetTimeOut(handle, savedMs);
    if (r != SUCCESS)
        return static_cast<unsigned int>(CResult::Convert(static_cast<int>(r)));
    crc = (uint32_t(bytes[0]) << 24) | (uint32_t(bytes[1]) << 16) | (uint32_t(bytes[2]) << 8) |
          uint32_t(bytes[3]);
    return static_cast<unsigned int>(CResult::Convert(static_cast<int>(restored)));
}

unsigned int CFlashCRC::Action()
{
    unsigned int r = ReadChipCRC(Handle(), m_Parameters.m_uiStartAddress,
                                 static_cast<uint16_t>(m_Parameters.m_uiSectorNumbers & 0xFFFF),
                                 m_CRCValue, kSettleMs);
    if (r != 0)
        return r;
    CalculatePercent();
    CallCommand(COMMAND_DONE);
    return 0;
}

// ---- CFWCRC ------------------------------------------------------------------

CFWCRC::CFWCRC(COperationLink* obBootLoader)
    : COperation(obBootLoader),
      m_bBorrowed(false),
      m_iAllElementNum(0),
      m_iCurrentElementNum(0),
      m_iCurrentSzie(0)
{
    m_EmType = OP_FWCRC;
    m_strName = CResult::GetInfoString(Info_Operation_FWCRC);
}

CFWCRC::~CFWCRC()
{
    WaitForEnd();
    FreeFiles();
}

void CFWCRC::FreeFiles()
{
    if (!m_bBorrowed)
        qDeleteAll(m_obProgramFile);
    m_obProgramFile.clear();
    m_bBorrowed = false;
}

void CFWCRC::SetParameters(void* parameters)
{
    if (!parameters)
        return;
    FreeFiles();
    m_Parameters = *static_cast<FWCRCParam*>(parameters);
}

void CFWCRC::SetCheckFile(CProgramFile* file, uint32_t offset)
{
    FreeFiles();
    m_Parameters = FWCRCParam();
    m_uiAddressOffset.clear();
    if (!file)
        return;
    m_bBorrowed = true;
    m_obProgramFile.append(file);
    m_uiAddressOffset.append(offset);
    m_Parameters.m_strDownPathFile.append(file->GetPath());
}

unsigned int CFWCRC::InitAction()
{
    std::string baseName = CResult::GetInfoString(Info_Operation_FWCRC);
    m_strName = m_Parameters.m_strDownPathFile.isEmpty()
                    ? baseName
                    : DecoratedName(baseName, m_Parameters.m_strDownPathFile.first());
    COperation::InitAction();
    if (m_bBorrowed) {
        CProgramFile* file = m_obProgramFile.first();
        m_InitInfo.m_strFilePath = file->GetPath();
        m_InitInfo.m_uiFileSize = file->GetFileSize();
        return 0;
    }
    unsigned int r = OpenFile();
    if (r != 0)
        return r;
    return ConfirmAddressOffset();
}

unsigned int CFWCRC::OpenFile()
{
    FreeFiles();
    return OpenProgramFiles(m_Parameters.m_strDownPathFile, false, m_obProgramFile);
}

unsigned int CFWCRC::ConfirmAddressOffset()
{
    return AddressOffsetsOf(m_obProgramFile, m_Parameters.m_uiStartAddress, m_uiAddressOffset);
}

unsigned int CFWCRC::Action()
{
    int series = FlashLayout::SeriesOf(m_obBootLoader ? m_obBootLoader->GetDevice() : nullptr);
    for (int i = 0; i < m_obProgramFile.size(); ++i) {
        CProgramFile* file = m_obProgramFile[i];
        if (i > 0) {
            m_InitInfo.m_strFilePath = file->GetPath();
            m_InitInfo.m_uiFileSize = file->GetFileSize();
            m_InitInfo.m_strName =
                DecoratedName(CResult::GetInfoString(Info_Operation_FWCRC), file->GetPath());
            Callback(INFO_TYPE_INIT);
        }
        uint32_t offset = m_uiAddressOffset.value(i, 0);
        unsigned int r = (series == 1 || series == 2) ? GetFWCRCCode(file, offset)
                                                      : GetFWCRCCode_S04(file, offset);
        if (r != 0)
            return r;
        if (IsCancel())
            return 0;
    }
    CallCommand(COMMAND_DONE);
    return 0;
}

unsigned int CFWCRC::GetFWCRCCode(CProgramFile* file, uint32_t offset)
{
    return CheckFile(file, offset);
}

unsigned int CFWCRC::GetFWCRCCode_S04(CProgramFile* file, uint32_t offset)
{
    if (file)
        file->ResetElement();
    return CheckFile(file, offset);
}

uint32_t CFWCRC::GetLoadFileCRCCode(const unsigned char* bytes, uint32_t length)
{
    return bytes ? FirmwareCrc::Compute(bytes, length) : FirmwareCrc::kInitial;
}

uint32_t CFWCRC::GetLoadFileCRCCode_S04(const unsigned char* bytes, uint32_t length)
{
    return GetLoadFileCRCCode(bytes, length);
}

void CFWCRC::CalculatePercent()
{
    if (m_iAllElementNum == 0) {
        m_ActionInfo.m_iPercent = 100;
        return;
    }
    m_ActionInfo.m_iPercent = PercentOf(m_iCurrentElementNum, m_iAllElementNum);
    m_ActionInfo.m_uiFileStatus = m_iCurrentSzie;
}

bool CFWCRC::GetSectorRuns(const std::vector<Piece>& pieces, unsigned int sectorSize,
                           uint32_t maxRunBytes, QList<SectorRun>& runs)
{
    runs.clear();
    if (!FlashLayout::IsUsableSectorSize(sectorSize))
        return false;
    // Sector keys: main flash by its sector number, the external bank from
    // 0x8000 in 4 KB sectors, as the rest of the program numbers them.
    std::set<int64_t> sectors;
    for (const Piece& p : pieces) {
        if (p.length == 0)
            continue;
        const uint64_t first = p.address, last = p.address + p.length - 1;
        if (first < FlashLayout::kFlashBase || last > 0xFFFFFFFFull)
            return false;
        if (first <= FlashLayout::kMainFlashLast) {
            const uint64_t mainLast = std::min<uint64_t>(last, FlashLayout::kMainFlashLast);
            for (uint64_t s = (first - FlashLayout::kFlashBase) / sectorSize;
                 s <= (mainLast - FlashLayout::kFlashBase) / sectorSize; ++s)
                sectors.insert(static_cast<int64_t>(s));
        }
        if (last >= FlashLayout::kBank3Base) {
            const uint64_t bankFirst = std::max<uint64_t>(first, FlashLayout::kBank3Base);
            for (uint64_t s = (bankFirst - FlashLayout::kBank3Base) / FlashLayout::kBank3SectorSize;
                 s <= (last - FlashLayout::kBank3Base) / FlashLayout::kBank3SectorSize; ++s)
                sectors.insert(FlashLayout::kBank3FirstSector + static_cast<int64_t>(s));
        }
    }
    SectorRun run;
    int64_t previous = -2;
    for (int64_t s : sectors) {
        const uint32_t size = FlashLayout::SectorSize(static_cast<int>(s), sectorSize);
        const uint32_t address = FlashLayout::SectorAddress(static_cast<int>(s), sectorSize);
        const uint32_t cap = std::max<uint32_t>(1, std::min<uint32_t>(maxRunBytes / size, 0xFFFF));
        if (run.count > 0 && s == previous + 1 && run.sectorSize == size && run.count < cap) {
            ++run.count;
        } else {
            if (run.count > 0)
                runs.append(run);
            run = SectorRun{address, size, 1};
        }
        previous = s;
    }
    if (run.count > 0)
        runs.append(run);
    return true;
}

unsigned int CFWCRC::PiecesOf(CProgramFile* file, uint32_t offset, std::vector<Piece>& pieces,
                              std::vector<Piece>& covered)
{
    pieces.clear();
    covered.clear();
    if (!file)
        return CResult::FILES_EMPTY;
    file->ResetElement();
    while (IMAGEELEMENT* element = file->GetElement()) {
        if (element->dwDataLength == 0 || !element->Data)
            continue;
        // Where the download placed the element.
        uint32_t placed = 0;
        if (!FlashLayout::PlaceRun(element->dwAddress, offset, element->dwDataLength, placed)) {
            file->ResetElement();
            return CResult::FILES_BADADDRESSRANGE;
        }
        pieces.push_back(Piece{placed, static_cast<uint32_t>(element->dwDataLength), element->Data});
    }
    file->ResetElement();
    for (const AddressRange& range : file->GetFileRanges()) {
        uint32_t placed = 0;
        if (range.length == 0)
            continue;
        if (range.length > 0xFFFFFFFFull ||
            !FlashLayout::PlaceRun(range.address, offset, range.length, placed))
            return CResult::FILES_BADADDRESSRANGE;
        covered.push_back(Piece{placed, static_cast<uint32_t>(range.length), nullptr});
    }
    // An image made in memory has no ranges of its own: its data covers it.
    if (covered.empty())
        for (const Piece& p : pieces)
            covered.push_back(Piece{p.address, p.length, nullptr});
    auto byAddress = [](const Piece& a, const Piece& b) { return a.address < b.address; };
    std::sort(pieces.begin(), pieces.end(), byAddress);
    std::sort(covered.begin(), covered.end(), byAddress);
    // Ranges that touch or overlap (records of a HEX file) become one, so
    // that a read-back reads them in one piece.
    std::vector<Piece> merged;
    for (const Piece& p : covered) {
        if (!merged.empty() && p.address <= merged.back().address + merged.back().length) {
            const uint64_t end = std::max(merged.back().address + merged.back().length, p.address + p.length);
            merged.back().length = static_cast<uint32_t>(end - merged.back().address);
        } else {
            merged.push_back(p);
        }
    }
    covered.swap(merged);
    return 0;
}

std::vector<unsigned char> CFWCRC::RunBytes(const SectorRun& run, const std::vector<Piece>& pieces)
{
    const uint64_t begin = run.address, end = run.End();
    std::vector<unsigned char> bytes(static_cast<size_t>(end - begin), 0xFF);
    for (const Piece& p : pieces) {
        const uint64_t from = std::max<uint64_t>(p.address, begin);
        const uint64_t to = std::min<uint64_t>(p.address + p.length, end);
        if (from < to && p.data)
            std::memcpy(bytes.data() + (from - begin), p.data + (from - p.address),
                        static_cast<size_t>(to - from));
    }
    return bytes;
}

bool CFWCRC::ImageChecksum(CProgramFile* file, uint32_t offset, unsigned int sectorSize, uint32_t& crc)
{
    std::vector<Piece> pieces, covered;
    QList<SectorRun> runs;
    if (!file || PiecesOf(file, offset, pieces, covered) != 0 || pieces.empty() ||
        !GetSectorRuns(pieces, sectorSize, MAX_RUN_BYTES, runs))
        return false;
    crc = FirmwareCrc::kInitial;
    for (const SectorRun& run : runs) {
        const std::vector<unsigned char> bytes = RunBytes(run, pieces);
        crc = FirmwareCrc::Compute(bytes.data(), bytes.size(), crc);
    }
    return true;
}

unsigned int CFWCRC::CheckFile(CProgramFile* file, uint32_t offset)
{
    if (!file)
        return CResult::FILES_EMPTY;
    CDevice* device = m_obBootLoader ? m_obBootLoader->GetDevice() : nullptr;
    if (!device)
        return CResult::UNKNOWN_ERROR;
    std::vector<Piece> pieces, covered;
    unsigned int r = PiecesOf(file, offset, pieces, covered);
    if (r != 0)
        return r;
    if (covered.empty())
        return CResult::FILES_EMPTY;
    // The whole ranges decide the sectors, so that sectors the image holds
    // as blank (left out of the writing by "--o") are checked too.
    QList<SectorRun> runs;
    if (!GetSectorRuns(covered, device->m_ISectorSize, MAX_RUN_BYTES, runs))
        return CResult::FILES_BADADDRESSRANGE;
    m_iAllElementNum = runs.size();
    m_iCurrentElementNum = 0;
    m_iCurrentSzie = 0;
    for (const SectorRun& run : runs) {
        r = CheckRun(run, pieces, covered);
        if (r != 0)
            return r;
        ++m_iCurrentElementNum;
        for (const Piece& p : covered)
            if (p.address >= run.address && p.address < run.End())
                m_iCurrentSzie += p.length;
        CalculatePercent();
        Callback(INFO_TYPE_ACTION);
        if (IsCancel())
            return 0;
    }
    return 0;
}

bool CFWCRC::ChipHasCRC() const
{
    const Commands* commands = m_obBootLoader ? m_obBootLoader->GetCommands() : nullptr;
    return commands && commands->FIRMWARE_CRC_CMD;
}

unsigned int CFWCRC::CheckRun(const SectorRun& run, const std::vector<Piece>& pieces,
                              const std::vector<Piece>& covered)
{
    const std::vector<unsigned char> expected = RunBytes(run, pieces);
    if (!ChipHasCRC())
        return ReadBackRun(run, expected, covered);
    const uint32_t host = GetLoadFileCRCCode_S04(expected.data(), static_cast<uint32_t>(expected.size()));
    uint32_t chip = 0;
    unsigned int r = CFlashCRC::ReadChipCRC(Handle(), run.address, static_cast<uint16_t>(run.count), chip);
    if (r != 0)
        return r;
    if (chip == host)
        return 0;
    // Bytes outside the file, or a checksum other than ours: the file's own
    // bytes decide.
    return ReadBackRun(run, expected, covered);
}

unsigned int CFWCRC::ReadBackRun(const SectorRun& run, const std::vector<unsigned char>& expected,
                                 const std::vector<Piece>& covered)
{
    const uint64_t begin = run.address, end = run.End();
    std::vector<unsigned char> chip;
    for (const Piece& p : covered) {
        const uint64_t from = std::max<uint64_t>(p.address, begin);
        const uint64_t to = std::min<uint64_t>(p.address + p.length, end);
        if (from >= to)
            continue;
        const unsigned char* want = expected.data() + (from - begin);
        const size_t n = static_cast<size_t>(to - from);
        chip.assign(n, 0);
        // A READ answer carries no check bytes: a difference counts only
        // when a second read shows it too.
        for (int attempt = 0; attempt < 2; ++attempt) {
            BYTE b = KVBL_UPLOAD(Handle(), static_cast<DWORD>(from), chip.data(), static_cast<DWORD>(n));
            if (b != SUCCESS)
                return static_cast<unsigned int>(CResult::Convert(static_cast<int>(b)));
            if (std::memcmp(chip.data(), want, n) == 0)
                break;
            if (attempt == 1)
                return CResult::FWCRC_CHECK_FAILED;
        }
        if (IsCancel())
            return 0;
    }
    return 0;
}
