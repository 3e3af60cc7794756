// Result-code conversions and texts, shared-parameter conversions and the
// project-file header encoding.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "ShareParameter.h"
#include "result/Result.h"

namespace {

TEST(ConsoleResult, ConvertLibraryResults)
{
    struct Case { int in; int out; };
    const Case cases[] = {
        {0x00, CResult::SUCCESS},
        {0x01, CResult::COM_NOT_OPENED},
        {0x02, CResult::UNKNOWN_ERROR},  // already-open has no code of its own
        {0x03, CResult::COM_CANT_OPEN_COM},
        {0x04, CResult::COM_SEND_FAIL},
        {0x05, CResult::COM_READ_FAIL},
        {0x06, CResult::UNKNOWN_ERROR},
        {0x11, CResult::SYS_CANT_INIT_BL},
        {0x12, CResult::SYS_UNREOGNIZED_DEVICE},
        {0x13, CResult::SYS_CMD_NOT_ALLOWED},
        {0x14, CResult::SYS_CMD_FAIL},
        {0x21, CResult::PROGRAM_INPUT_PARAMS_ERROR},
        {0x22, CResult::PROGRAM_INPUT_PARAMS_MEMORY_ALLOCATION_ERROR},
        {0x23, CResult::PROGRAM_LIB_LOADING_ERROR},
        {0xFF, CResult::UNKNOWN_ERROR},
        // values that already are result codes pass through
        {0x0F001055, 0x0F001055},
        {-1, -1},
        {0x0F008022, 0x0F008022},
        // the error bits only partly set: not a result code
        {0x0E000000, CResult::UNKNOWN_ERROR},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CResult::Convert(c.in), c.out) << std::hex << c.in;
}

TEST(ConsoleResult, ConvertImageFileResults)
{
    struct Case { unsigned in; int out; };
    const Case cases[] = {
        {0x12340000u, CResult::SUCCESS},
        {0u, CResult::UNKNOWN_ERROR},  // 0 is not the library's no-error value
        {2u, CResult::FILES_BADSUFFIX},
        {3u, CResult::FILES_UNABLETOOPENFILE},
        {4u, CResult::FILES_UNABLETOOPENTEMPFILE},
        {5u, CResult::FILES_BADFORMAT},
        {6u, CResult::FILES_BADADDRESSRANGE},
        {7u, CResult::UNKNOWN_ERROR},
        {8u, CResult::FILES_BADPARAMETER},
        {10u, CResult::FILES_UNEXPECTEDERROR},
        {13u, CResult::FILES_FILEGENERALERROR},
        {14u, CResult::FILES_NOTOPEN},
        {15u, CResult::FILES_SETELEMENTFULL},
        {16u, CResult::UNKNOWN_ERROR},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CResult::Convert(c.in), c.out) << c.in;
}

TEST(ConsoleResult, TextsOfCodes)
{
    struct Case { int code; const char* text; };
    const Case cases[] = {
        {0, "Info Success"},
        {0x0F000000, "Unknown error!"},
        {0x0F001001, "Serial port hasn't been opened yet!"},
        {0x0F001003, "Failed to open serial port!"},
        {0x0F001005, "No response from the device...\nPlease verify the boot mode configuration.\n"
                     "Check the UART cable.\nReset the device then run again."},
        {0x0F001041, "Info_SLIB_PASSWORD_ERROR"},
        {0x0F001043, "KVS07_EOPB0_Notset_Info"},
        {0x0F0010AB, "Info_DFU_StatusError_Vendeor"},
        {0x0F002001, "Unknown error!"},
        {0x0F002002, "Unrecognized device...\nPlease, reset your device then try again."},
        {0x0F002004, "Unknown error!"},
        {0x0F002005, "The device is access protection!"},
        {0x0F004002, "Unknown error!"},
        {0x0F004004, "Verify failed. Data not matching..."},
        {0x0F008008, "File's bad paramer!"},
        {0x0F00800A, "Unknown error!"},
        {0x0F00800F, "Cannot open file!"},
        {0x0F008010, "File is empty!"},
        {0x0F008022, "Firmware CRC check failed!"},
        {0x0F010022, "Unknown error!"},
        {12345, "Unknown error!"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CResult::GetInfoStringName(c.code), c.text) << std::hex << c.code;
}

TEST(ConsoleResult, GB2312PunctuationBytes)
{
    const std::string disconnect = Disconnect_Error_Info;
    ASSERT_GE(disconnect.size(), 2u);
    EXPECT_EQ(disconnect.substr(disconnect.size() - 2), "\xA1\xA3");
    EXPECT_EQ(disconnect.substr(0, disconnect.size() - 2), "Device has disconnected");
    EXPECT_EQ(std::string(Protection_Selection_Error_Info), "Selection error\xA3\xA1");
    EXPECT_STREQ(MultiPort_DeviceDiffrent_Info, "MultiPort_DeviceDiffrent_Info");
}

TEST(ConsoleShareParameter, NumberConversions)
{
    EXPECT_EQ(ShareParameter::StringToUInt32("0x08001000", 16), 0x08001000u);
    EXPECT_EQ(ShareParameter::StringToUInt32("8001000", 16), 0x08001000u);
    EXPECT_EQ(ShareParameter::StringToUInt32("  1fFfF800zz", 16), 0x1FFFF800u);
    EXPECT_EQ(ShareParameter::StringToUInt32("xyz", 16), 0u);
    EXPECT_EQ(ShareParameter::StringToUInt32("", 16), 0u);
    EXPECT_EQ(ShareParameter::StringToUInt32("123456789ab", 16), 0x456789ABu);  // cut to 32 bits
    EXPECT_EQ(ShareParameter::StringToInt32("12abc", 10), 12);
    EXPECT_EQ(ShareParameter::StringToInt32("-7", 10), -7);
    EXPECT_EQ(ShareParameter::StringToInt32("4294967297", 10), 1);
    EXPECT_EQ(ShareParameter::IntParse("42x"), 42);
    EXPECT_EQ(ShareParameter::IntParse("x42"), 0);
    EXPECT_EQ(ShareParameter::IntParse("99999999999999999999"), 2147483647);  // no overflow
    EXPECT_EQ(ShareParameter::IntParse("-99999999999999999999"), -2147483647 - 1);
}

TEST(ConsoleShareParameter, ParityAndCase)
{
    EXPECT_EQ(ShareParameter::ParityToInt("NONE"), 0);
    EXPECT_EQ(ShareParameter::ParityToInt("ODD"), 1);
    EXPECT_EQ(ShareParameter::ParityToInt("EVEN"), 2);
    EXPECT_EQ(ShareParameter::ParityToInt("none"), 2);  // the match is exact
    EXPECT_EQ(ShareParameter::ParityToInt("MARK"), 2);
    EXPECT_EQ(ShareParameter::ParityToInt(ShareParameter::ToUpper("odd")), 1);
    EXPECT_EQ(ShareParameter::ToUpper("--fn a\xE9z"), "--FN A\xE9Z");
    EXPECT_EQ(ShareParameter::ToLower("--FN"), "--fn");
}

TEST(ConsoleShareParameter, ProjectHeaderLayout)
{
    auto header = std::make_unique<ProjectFileHeader>();
    header->file_version = 0x04030201;
    header->mcu_serial = 0x0D;
    header->mcu_Pid = 0x700D0401;
    std::memcpy(header->mcu_target_name, "KV32S13", 7);
    header->code_number = 2;
    header->code_part_begin_addr[9][511] = 0xCAFEBABE;
    header->slib_endsector = 0xBEEF;
    header->extend_bytes[0] = 0x5A;
    header->extend_bytes[1023] = 0xA5;

    std::vector<uint8_t> bytes(PROJECTFILE_HEADER_LENGTH, 0xEE);
    ASSERT_TRUE(ProjectFileHeaderToBytes(*header, bytes.data(), bytes.size()));
    EXPECT_EQ(PROJECTFILE_HEADER_LENGTH, 42402);
    // little-endian, packed, in declaration order
    EXPECT_EQ(bytes[0], 0x01);
    EXPECT_EQ(bytes[3], 0x04);
    EXPECT_EQ(bytes[4], 0x0D);
    EXPECT_EQ(bytes[5], 0x01);
    EXPECT_EQ(bytes[8], 0x70);
    EXPECT_EQ(bytes[9], 'K');
    // the last part address ends just before the part lengths (10 x 512 x 4 bytes)
    const size_t partAddrEnd = 4 + 1 + 4 + 64 + 64 + 4 + 4 * 40 + 20480;
    EXPECT_EQ(bytes[partAddrEnd - 4], 0xBE);
    EXPECT_EQ(bytes[partAddrEnd - 1], 0xCA);
    // slib_endsector closes the valid part, then the reserved zero byte
    EXPECT_EQ(bytes[PROJECTFILE_HEADER_VALID_LENGTH - 3], 0xEF);
    EXPECT_EQ(bytes[PROJECTFILE_HEADER_VALID_LENGTH - 2], 0xBE);
    EXPECT_EQ(bytes[PROJECTFILE_HEADER_VALID_LENGTH - 1], 0x00);
    EXPECT_EQ(bytes[PROJECTFILE_HEADER_VALID_LENGTH], 0x5A);
    EXPECT_EQ(bytes[PROJECTFILE_HEADER_LENGTH - 1], 0xA5);

    auto back = std::make_unique<ProjectFileHeader>();
    ASSERT_TRUE(ProjectFileHeaderFromBytes(bytes.data(), bytes.size(), *back));
    std::vector<uint8_t> again(PROJECTFILE_HEADER_LENGTH);
    ASSERT_TRUE(ProjectFileHeaderToBytes(*back, again.data(), again.size()));
    EXPECT_EQ(bytes, again);
}

TEST(ConsoleShareParameter, ProjectHeaderRefusesBadBuffers)
{
    auto header = std::make_unique<ProjectFileHeader>();
    std::vector<uint8_t> shortBuffer(PROJECTFILE_HEADER_LENGTH - 1, 0);
    EXPECT_FALSE(ProjectFileHeaderToBytes(*header, shortBuffer.data(), shortBuffer.size()));
    EXPECT_FALSE(ProjectFileHeaderToBytes(*header, nullptr, PROJECTFILE_HEADER_LENGTH));
    EXPECT_FALSE(ProjectFileHeaderFromBytes(shortBuffer.data(), shortBuffer.size(), *header));

    // more code files than the record can describe
    std::vector<uint8_t> bytes(PROJECTFILE_HEADER_LENGTH, 0);
    header->code_number = 3;
    ASSERT_TRUE(ProjectFileHeaderToBytes(*header, bytes.data(), bytes.size()));
    const size_t codeNumberAt = 4 + 1 + 4 + 64 + 64;
    bytes[codeNumberAt] = 11;
    EXPECT_FALSE(ProjectFileHeaderFromBytes(bytes.data(), bytes.size(), *header));
    EXPECT_EQ(header->code_number, 3u);  // left as it was
}

} // namespace
