// The host side of the firmware check and the project planning, without a
// chip: the checksum against known values, the sector runs it is asked for,
// the delta download's search for differing sectors, the project's sectors
// and part checks.

#include "operations/Crc.h"
#include "operations/DeltaPlan.h"
#include "operations/Project.h"
#include "result/Result.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

Bytes Text(const std::string& s)
{
    return Bytes(s.begin(), s.end());
}

// Values computed independently (byte-wise MSB-first CRC over each word's
// bytes in reverse order, checked against the classic "123456789" value).
TEST(FirmwareCrc, KnownValues)
{
    struct Row {
        const char* name;
        Bytes data;
        uint32_t crc;
    };
    const std::vector<Row> rows = {
        {"nothing", {}, 0xFFFFFFFFu},
        {"one zero word", {0, 0, 0, 0}, 0xC704DD7Bu},
        {"word 0x12345678", {0x78, 0x56, 0x34, 0x12}, 0xDF8A8A2Bu},
        {"one erased word", {0xFF, 0xFF, 0xFF, 0xFF}, 0x00000000u},
        {"12345678", Text("12345678"), 0xFEFC54F9u},
        {"erased 2 KB sector", Bytes(2048, 0xFF), 0x01745503u},
        {"partial word padded as erased", Text("123456789"), 0xD9020D98u},
    };
    for (const Row& row : rows)
        EXPECT_EQ(FirmwareCrc::Compute(row.data.data(), row.data.size()), row.crc) << row.name;
    // A partial last word is completed with erased bytes.
    const Bytes padded = {'1', '2', '3', '4', '5', '6', '7', '8', '9', 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(FirmwareCrc::Compute(padded.data(), padded.size()), 0xD9020D98u);
}

using Piece = CFWCRC::Piece;
using SectorRuns = QList<CFWCRC::SectorRun>;

std::vector<std::vector<uint32_t>> Flatten(const SectorRuns& runs)
{
    std::vector<std::vector<uint32_t>> out;
    for (const CFWCRC::SectorRun& r : runs)
        out.push_back({r.address, r.sectorSize, r.count});
    return out;
}

TEST(FirmwareCheckRuns, WholeSectorsEachFileCovers)
{
    const unsigned char byte = 0;
    struct Row {
        const char* name;
        std::vector<Piece> pieces;
        unsigned int sectorSize;
        uint32_t maxRunBytes;
        bool ok;
        std::vector<std::vector<uint32_t>> runs;
    };
    const std::vector<Row> rows = {
        {"unaligned piece over two sectors", {{0x08000700, 0x200, &byte}}, 2048, 1 << 20, true,
         {{0x08000000, 2048, 2}}},
        {"gap between pieces splits the run",
         {{0x08000000, 16, &byte}, {0x08002000, 16, &byte}}, 2048, 1 << 20, true,
         {{0x08000000, 2048, 1}, {0x08002000, 2048, 1}}},
        {"pieces in one sector give one sector",
         {{0x08000010, 4, &byte}, {0x08000400, 4, &byte}}, 1024, 1 << 20, true,
         {{0x08000000, 1024, 2}}},
        {"run capped", {{0x08000000, 5 * 1024, &byte}}, 1024, 2048, true,
         {{0x08000000, 1024, 2}, {0x08000800, 1024, 2}, {0x08001000, 1024, 1}}},
        {"external bank in 4 KB sectors", {{0x08400FFF, 2, &byte}}, 2048, 1 << 20, true,
         {{0x08400000, 4096, 2}}},
        {"main flash and bank are separate runs",
         {{0x083FF800, 0x800, &byte}, {0x08400000, 1, &byte}}, 2048, 1 << 20, true,
         {{0x083FF800, 2048, 1}, {0x08400000, 4096, 1}}},
        {"below the flash refused", {{0x07FFFFFF, 2, &byte}}, 2048, 1 << 20, false, {}},
        {"unusable sector size refused", {{0x08000000, 2, &byte}}, 0, 1 << 20, false, {}},
    };
    for (const Row& row : rows) {
        SectorRuns runs;
        EXPECT_EQ(CFWCRC::GetSectorRuns(row.pieces, row.sectorSize, row.maxRunBytes, runs),
                  row.ok)
            << row.name;
        if (row.ok) {
            EXPECT_EQ(Flatten(runs), row.runs) << row.name;
        }
    }
}

// The delta search against a chip played by a buffer: which sectors it
// finds, and how many CRC requests it needs.
TEST(DeltaPlan, FindsTheDifferingSectorsByHalving)
{
    const uint32_t kBase = 0x08000000, kSector = 2048, kSectors = 16;
    const Bytes image = [] {
        Bytes b(16 * 2048);
        for (size_t k = 0; k < b.size(); ++k)
            b[k] = static_cast<unsigned char>(k * 13 + 7);
        return b;
    }();
    struct Row {
        const char* name;
        std::vector<int> differ;  // sectors whose chip contents differ
        bool foreignChecksum;     // the chip's checksum is not ours
        int maxRequests;
    };
    const std::vector<Row> rows = {
        {"unchanged chip: one request", {}, false, 1},
        {"one sector: one request per halving", {5}, false, 1 + 4},
        {"two neighbours", {6, 7}, false, 1 + 4},
        {"first and last", {0, 15}, false, 1 + 2 * 3 + 1},
        {"every sector: never more than one request each", {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15},
         false, 16},
        {"a checksum other than ours rewrites everything", {}, true, 16},
    };
    const std::vector<Piece> pieces = {{kBase, static_cast<uint32_t>(image.size()), image.data()}};
    for (const Row& row : rows) {
        Bytes chip = image;
        for (int s : row.differ)
            chip[size_t(s) * kSector + 100] ^= 0x01;
        int asked = 0;
        CDeltaPlan plan;
        const unsigned int r = plan.Plan(pieces, pieces, kSector, [&](uint32_t address, uint16_t n, uint32_t& crc) {
            ++asked;
            crc = FirmwareCrc::Compute(chip.data() + (address - kBase), size_t(n) * kSector);
            if (row.foreignChecksum)
                crc ^= 0xFFFFFFFFu;
            return 0u;
        });
        EXPECT_EQ(r, 0u) << row.name;
        QList<int> expected;
        if (row.foreignChecksum)
            for (uint32_t s = 0; s < kSectors; ++s)
                expected.append(static_cast<int>(s));
        else
            for (int s : row.differ)
                expected.append(s);
        EXPECT_EQ(plan.ChangedSectors(), expected) << row.name;
        EXPECT_EQ(plan.SectorCount(), 16) << row.name;
        EXPECT_EQ(plan.Requests(), asked) << row.name;
        EXPECT_LE(asked, row.maxRequests) << row.name;
    }
    // A request that fails ends the search with its code.
    CDeltaPlan plan;
    EXPECT_EQ(plan.Plan(pieces, pieces, kSector,
                        [](uint32_t, uint16_t, uint32_t&) { return 0x0F000005u; }),
              0x0F000005u);
}

SFileInfo Record(std::vector<std::pair<uint32_t, uint32_t>> parts)
{
    SFileInfo record;
    record.LoadFileType = "HEX";
    for (const auto& p : parts) {
        HEXFILEPARTINFO part;
        part.PartStartAddress = p.first;
        part.PartSize = p.second;
        part.PartEndAddress = p.first + p.second - 1;
        record.partInfo.append(part);
    }
    return record;
}

TEST(ProjectPlanning, NecessarySectors)
{
    struct Row {
        const char* name;
        QList<SFileInfo> files;
        unsigned int sectorSize;
        QList<int> sectors;
    };
    const std::vector<Row> rows = {
        {"0x900 bytes at 0x08000800 on 2 KB sectors", {Record({{0x08000800, 0x900}})}, 2048, {1, 2}},
        {"4097 bytes at the external bank", {Record({{0x08400000, 4097}})}, 2048, {0x8000, 0x8001}},
        {"unaligned start counts its offset", {Record({{0x08000FFF, 2}})}, 1024, {3, 4}},
        {"repeats kept, record by record",
         {Record({{0x08000000, 10}}), Record({{0x08000100, 10}, {0x08001000, 1}})}, 4096, {0, 0, 1}},
        {"parts of no bytes and below the flash add nothing",
         {Record({{0x08000123, 0}, {0x07000000, 16}, {0x20000000, 16}})}, 2048, {}},
        {"unusable sector size plans nothing", {Record({{0x08000000, 16}})}, 0, {}},
    };
    for (const Row& row : rows)
        EXPECT_EQ(CDownloadProject::GetProjectSectorIndex(row.files, row.sectorSize), row.sectors)
            << row.name;
}

TEST(ProjectPlanning, PartsThatCannotBeWrittenAreRefused)
{
    EXPECT_EQ(CDownloadProject::CheckParts({Record({{0x08000000, 65536}})}), 0u);
    EXPECT_EQ(CDownloadProject::CheckParts({Record({{0x08000000, 65537}})}),
              static_cast<unsigned int>(CResult::FILES_BADPARAMETER));
    EXPECT_EQ(CDownloadProject::CheckParts({Record({{0xFFFFFF00, 0x101}})}),
              static_cast<unsigned int>(CResult::FILES_BADPARAMETER));
}

}  // namespace
