// The OTP file's records and their checks, and the counting of the reopen
// passes after a chip restarted.

#include "cli/OtpFile.h"
#include "link/BootLoader.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

Bytes Record(uint32_t partAddress, bool lock, bool write, unsigned char fill = 0)
{
    Bytes r = {static_cast<unsigned char>(partAddress >> 24), static_cast<unsigned char>(partAddress >> 16),
               static_cast<unsigned char>(partAddress >> 8), static_cast<unsigned char>(partAddress)};
    for (int k = 0; k < 32; ++k)
        r.push_back(static_cast<unsigned char>(fill + k));
    r.push_back(lock ? 0 : 0xFF);
    r.push_back(write ? 0 : 0xFF);
    return r;
}

TEST(OtpFile, RecordsAreCheckedAgainstTheAreaBeforeAnythingIsWritten)
{
    auto parse = [](std::vector<Bytes> list) {
        Bytes file;
        for (const Bytes& r : list)
            file.insert(file.end(), r.begin(), r.end());
        QList<OTP_CONFIG_INFO> records;
        ParseOTPRecords(file.data(), file.size(), records);
        return records;
    };
    struct Case {
        const char* what;
        std::vector<Bytes> records;
        uint32_t dataLength;
        uint32_t lockLength;
        OtpFileStatus status;
    };
    const Case cases[] = {
        {"last block of a 4 KB area", {Record(4064, false, true)}, 4096, 128, OTP_FILE_OK},
        {"one byte past a 4 KB area", {Record(4065, false, true)}, 4096, 128, OTP_FILE_DATA_OUTSIDE},
        {"past a 1 KB area", {Record(1000, false, true)}, 1024, 128, OTP_FILE_DATA_OUTSIDE},
        {"address that wraps in 32 bits", {Record(0xFFFFFFF0, false, true)}, 4096, 128, OTP_FILE_DATA_OUTSIDE},
        {"unused record is not checked", {Record(0xFFFFFFF0, false, false)}, 4096, 128, OTP_FILE_OK},
        {"lock of the record's own block", {Record(0, false, false), Record(32, true, true)}, 1024, 128, OTP_FILE_OK},
        {"lock only", {Record(0, true, false)}, 1024, 128, OTP_FILE_OK},
        {"lock of another block", {Record(0, false, false), Record(64, true, true)}, 1024, 128,
         OTP_FILE_LOCK_MISMATCH},
        {"lock of a block outside the data area", {Record(1024, true, false)}, 1024, 128, OTP_FILE_DATA_OUTSIDE},
        {"lock index past the lock area", {Record(0, false, true), Record(32, true, true)}, 4096, 1,
         OTP_FILE_LOCK_OUTSIDE},
        {"no record: nothing to write", {}, 1024, 128, OTP_FILE_OK},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CheckOTPRecords(parse(c.records), c.dataLength, c.lockLength), c.status) << c.what;
}

// ---- reopen passes ----------------------------------------------------------

TEST(ReopenPasses, PassesStopAtTheRightMomentAndReportTheLastOpen)
{
    struct Case {
        const char* what;
        bool keepWaiting;
        std::vector<bool> listed;   // device list answer per pass (last repeats)
        std::vector<BYTE> opens;    // open result per call (last repeats)
        int passes;
        int openCalls;
        bool reopened;
        bool gaveUp;
        BYTE lastOpen;
    };
    const BYTE kFail = CANT_OPEN_COM;
    const BYTE kOther = 0x55;
    const Case cases[] = {
        {"serial port back at once", false, {true}, {SUCCESS}, 1, 1, true, false, SUCCESS},
        {"serial port back in the third pass", false, {true}, {kFail, kFail, SUCCESS}, 3, 3, true, false, SUCCESS},
        {"port never back: five passes, last result", false, {true}, {kFail, kFail, kFail, kFail, kOther}, 5, 5,
         false, false, kOther},
        {"DFU device missing: stop waiting at once", false, {false}, {SUCCESS}, 1, 0, false, true, kFail},
        {"DFU device missing, keep waiting until it is back", true, {false, false, true}, {SUCCESS}, 3, 1, true,
         false, SUCCESS},
        {"DFU device never back, keep waiting", true, {false}, {SUCCESS}, 5, 0, false, false, kFail},
    };
    for (const Case& c : cases) {
        int listedCalls = 0, openCalls = 0, waits = 0;
        auto at = [](const auto& v, int k) { return v[static_cast<size_t>(k) < v.size() ? k : v.size() - 1]; };
        const CBootLoader::ReopenOutcome out = CBootLoader::ReopenPasses(
            c.keepWaiting, [&] { return at(c.listed, listedCalls++); }, [&] { return at(c.opens, openCalls++); },
            [&] { ++waits; });
        EXPECT_EQ(out.passes, c.passes) << c.what;
        EXPECT_EQ(waits, c.passes) << c.what << ": every pass waits first";
        EXPECT_EQ(openCalls, c.openCalls) << c.what;
        EXPECT_EQ(out.reopened, c.reopened) << c.what;
        EXPECT_EQ(out.gaveUp, c.gaveUp) << c.what;
        EXPECT_EQ(out.lastOpen, c.lastOpen) << c.what;
    }
}

} // namespace
