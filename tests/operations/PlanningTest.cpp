// Which sectors and blocks a download erases, and which sectors a block
// erase covers.

#include "operations/Download.h"
#include "operations/Erase.h"
#include "operations/FlashLayout.h"
#include "operations/PacketStream.h"

#include <gtest/gtest.h>

#include <ostream>

namespace {

QList<int> L(std::initializer_list<int> values)
{
    return QList<int>(values);
}

struct RangesCase {
    const char* name;
    unsigned int sectorSize;
    QList<AddressRange> ranges;
    QList<int> expected;
};

void PrintTo(const RangesCase& c, std::ostream* os)
{
    *os << c.name;
}

class NecessarySectors : public ::testing::TestWithParam<RangesCase> {};

TEST_P(NecessarySectors, EveryTouchedSectorOnceInFirstSeenOrder)
{
    const RangesCase& c = GetParam();
    EXPECT_EQ(FlashLayout::SectorsOfRanges(c.ranges, c.sectorSize), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Download, NecessarySectors,
    ::testing::Values(
        // A binary of three elements loaded at 0x08001000 on 2 KB sectors.
        RangesCase{"BinaryThreeElements",
                   0x800,
                   {{0x08001000, 0x800}, {0x08001800, 0x800}, {0x08002000, 0x800}},
                   L({2, 3, 4})},
        // An unaligned binary also touches the sector after its start sector:
        // counting one sector per element would write on un-erased flash.
        RangesCase{"UnalignedElementTouchesNextSector", 0x800, {{0x08000400, 0x800}}, L({0, 1})},
        RangesCase{"LastByteDecidesTheLastSector", 0x800, {{0x08000000, 0x801}}, L({0, 1})},
        RangesCase{"HexRecordsInOneSectorCountOnce",
                   0x800,
                   {{0x08000000, 16}, {0x08000010, 16}, {0x08000800, 4}},
                   L({0, 1})},
        RangesCase{"FirstSeenOrderKept", 0x400, {{0x08000C00, 4}, {0x08000000, 4}}, L({3, 0})},
        RangesCase{"ExternalBankSectorsFrom0x8000",
                   0x800,
                   {{0x08400000, 0x1001}},
                   L({0x8000, 0x8001})},
        RangesCase{"RangeAcrossTheWindowBoundary",
                   0x800,
                   {{0x083FF800, 0x1000}},
                   L({2047, 0x8000})},
        RangesCase{"BelowFlashAndEmptyRangesAddNothing",
                   0x800,
                   {{0x07FFF000, 0x800}, {0x08000000, 0}},
                   QList<int>()},
        RangesCase{"UnusableSectorSizeAddsNoMainSectors", 0, {{0x08000000, 16}}, QList<int>()}),
    [](const ::testing::TestParamInfo<RangesCase>& info) { return info.param.name; });

struct BlockCase {
    const char* name;
    QList<int> sectors;
    unsigned int blockSize;
    unsigned int sectorSize;
    QList<int> blocks;
    QList<int> loose;
};

void PrintTo(const BlockCase& c, std::ostream* os)
{
    *os << c.name;
}

class BlockSplit : public ::testing::TestWithParam<BlockCase> {};

TEST_P(BlockSplit, WholeAlignedBlocksBecomeBlockErases)
{
    const BlockCase& c = GetParam();
    QList<int> blocks, loose;
    CDownload::GetNecessaryBlockIndexAndSectorIndex(c.sectors, c.blockSize, c.sectorSize, blocks,
                                                    loose);
    EXPECT_EQ(blocks, c.blocks);
    EXPECT_EQ(loose, c.loose);
}

QList<int> Range(int first, int last)
{
    QList<int> out;
    for (int s = first; s <= last; ++s)
        out.append(s);
    return out;
}

INSTANTIATE_TEST_SUITE_P(
    Download, BlockSplit,
    ::testing::Values(
        // 64 KB blocks of sixteen 4 KB sectors.
        BlockCase{"OneWholeBlock", Range(0, 15), 0x10000, 0x1000, L({0}), QList<int>()},
        BlockCase{"BlockThenLooseTail", Range(0, 16), 0x10000, 0x1000, L({0}), L({16})},
        BlockCase{"LooseHeadUntilBoundaryThenBlock", Range(14, 33), 0x10000, 0x1000, L({1}),
                  L({14, 15, 32, 33})},
        BlockCase{"PartialBlockStaysSectors", Range(16, 20), 0x10000, 0x1000, QList<int>(),
                  Range(16, 20)},
        BlockCase{"SeparateRuns", Range(0, 15) + L({40}), 0x10000, 0x1000, L({0}), L({40})},
        BlockCase{"TwoBlocks", Range(32, 63), 0x10000, 0x1000, L({2, 3}), QList<int>()},
        BlockCase{"ExternalBankSectorsStaySectors", Range(0, 15) + L({0x8000, 0x8001}), 0x10000,
                  0x1000, L({0}), L({0x8000, 0x8001})},
        BlockCase{"NoBlockSizeMeansSectors", Range(0, 15), 0, 0x1000, QList<int>(), Range(0, 15)}),
    [](const ::testing::TestParamInfo<BlockCase>& info) { return info.param.name; });

TEST(EraseBlocks, SectorsCoveredByBlocks)
{
    EXPECT_EQ(CErase::GetNecessarySectorIndexFromBlockIndex(L({0}), 0x10000, 0x1000), Range(0, 15));
    EXPECT_EQ(CErase::GetNecessarySectorIndexFromBlockIndex(L({2, 0}), 0x10000, 0x1000),
              Range(32, 47) + Range(0, 15));
    // The last block of the 4 MB main-flash window still counts.
    EXPECT_EQ(CErase::GetNecessarySectorIndexFromBlockIndex(L({63}), 0x10000, 0x1000),
              Range(1008, 1023));
    // A block reaching above the window adds no sectors to the protection check.
    EXPECT_TRUE(CErase::GetNecessarySectorIndexFromBlockIndex(L({64}), 0x10000, 0x1000).isEmpty());
    // Guarded arithmetic: no block size, or a sector size outside 1..128 KB.
    EXPECT_TRUE(CErase::GetNecessarySectorIndexFromBlockIndex(L({0}), 0, 0x1000).isEmpty());
    EXPECT_TRUE(CErase::GetNecessarySectorIndexFromBlockIndex(L({0}), 0x10000, 0).isEmpty());
}

TEST(FlashLayout, SectorIndexOfAddress)
{
    EXPECT_EQ(FlashLayout::FlashGetSectorIndex(0x08000000, 0x800), 0);
    EXPECT_EQ(FlashLayout::FlashGetSectorIndex(0x080007FF, 0x800), 0);
    EXPECT_EQ(FlashLayout::FlashGetSectorIndex(0x08000800, 0x800), 1);
    EXPECT_EQ(FlashLayout::FlashGetSectorIndex(0x083FFFFF, 0x1000), 1023);
    EXPECT_EQ(FlashLayout::FlashGetSectorIndex(0x08400000, 0x800), 0x8000);
    EXPECT_EQ(FlashLayout::FlashGetSectorIndex(0x08401000, 0x800), 0x8001);
    EXPECT_EQ(FlashLayout::FlashGetSectorIndex(0x07FFFFFF, 0x800), -1);
}

// Elements cut at sector boundaries reach the transfer joined, in whole
// packets; only the end of a run, where the next bytes do not continue it,
// is short.
TEST(PacketStream, JoinsElementsThatContinueEachOther)
{
    std::vector<std::pair<uint32_t, uint32_t>> sent;
    std::vector<unsigned char> bytes;
    CPacketStream stream(252, [&](uint32_t at, const unsigned char* data, uint32_t n) {
        sent.emplace_back(at, n);
        bytes.insert(bytes.end(), data, data + n);
        return 0u;
    });
    std::vector<unsigned char> a(2048, 0x11), b(2048, 0x22), c(10, 0x33);
    EXPECT_EQ(stream.Add(0x08000000, a.data(), 2048), 0u);
    EXPECT_EQ(stream.Add(0x08000800, b.data(), 2048), 0u);
    EXPECT_EQ(stream.Add(0x08002000, c.data(), 10), 0u);
    EXPECT_EQ(stream.Flush(), 0u);
    const std::vector<std::pair<uint32_t, uint32_t>> expected = {
        {0x08000000, 8 * 252}, {0x08000000 + 8 * 252, 8 * 252}, {0x08000FC0, 64}, {0x08002000, 10}};
    EXPECT_EQ(sent, expected);
    std::vector<unsigned char> all = a;
    all.insert(all.end(), b.begin(), b.end());
    all.insert(all.end(), c.begin(), c.end());
    EXPECT_EQ(bytes, all);

    // A failure of the transfer stops the stream with its code.
    CPacketStream failing(252, [](uint32_t, const unsigned char*, uint32_t) { return 7u; });
    EXPECT_EQ(failing.Add(0x08000000, a.data(), 2048), 7u);
}

}  // namespace
