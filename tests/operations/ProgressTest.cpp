// What the console prints while an operation runs, byte for byte, and how the
// waiting command learns the outcome.

#include "ScriptedOperation.h"
#include "ShareParameter.h"
#include "cli/Progress.h"
#include "result/Result.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

namespace {

using kvtest::Script;
using kvtest::ScriptedOperation;

// Feeds records to the callback as an operation would, capturing stdout.
class ProgressLines : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_shareParameter.c_OperationFlag = true;
        g_shareParameter.c_OperationSucceedFlag = true;
        g_shareParameter.c_operationPersent = 0;
        testing::internal::CaptureStdout();
    }
    std::string Output() { return testing::internal::GetCapturedStdout(); }

    void Init(OP_Type type, const std::string& path = "", uint32_t size = 0)
    {
        CInitInfo info;
        info.m_emType = type;
        info.m_strFilePath = path;
        info.m_uiFileSize = size;
        GetOperationInfo(INFO_TYPE_INIT, &info);
    }
    void Percent(OP_Type type, int percent)
    {
        CActionInfo info;
        info.m_emType = type;
        info.m_iPercent = percent;
        GetOperationInfo(INFO_TYPE_ACTION, &info);
    }
    void Abend(int code)
    {
        CAbendInfo info;
        info.m_iResult = code;
        GetOperationInfo(INFO_TYPE_ABEND, &info);
    }
    void Base(InfoType kind, OP_Type type)
    {
        CBaseInfo info;
        info.m_emType = type;
        GetOperationInfo(kind, &info);
    }
};

TEST_F(ProgressLines, RepeatedAndZeroPercentPrintNothing)
{
    Init(OP_DOWNLOAD, "/data/app.hex", 1024);
    for (int p : {0, 50, 50, 100})
        Percent(OP_DOWNLOAD, p);
    Base(INFO_TYPE_DONE, OP_DOWNLOAD);
    EXPECT_EQ(Output(),
              "Download\n/data/app.hex     1024B\n\rRunning...50%\rRunning...100%\nDownload "
              "successfully!\n");
    EXPECT_FALSE(g_shareParameter.c_OperationFlag);
    EXPECT_TRUE(g_shareParameter.c_OperationSucceedFlag);
}

TEST_F(ProgressLines, FailureEndsThePercentLineThenPrintsTheText)
{
    Init(OP_UPLOAD, "/tmp/out.bin", 2048);
    Percent(OP_UPLOAD, 40);
    Abend(CResult::PROGRAM_VERIFY_DATA_NOT_MATCHING);
    EXPECT_EQ(Output(), "Upload\n/tmp/out.bin     2048B\n\rRunning...40%\n" +
                            CResult::GetInfoStringName(CResult::PROGRAM_VERIFY_DATA_NOT_MATCHING) +
                            "\n");
    EXPECT_FALSE(g_shareParameter.c_OperationFlag);
    EXPECT_FALSE(g_shareParameter.c_OperationSucceedFlag);
}

TEST_F(ProgressLines, EraseShowsNameAndPercentButNoFileOrRunningLine)
{
    Init(OP_ERASE);
    Percent(OP_ERASE, 100);
    Base(INFO_TYPE_DONE, OP_ERASE);
    EXPECT_EQ(Output(), "Erase\n\rRunning...100%\nErase successfully!\n");
}

TEST_F(ProgressLines, OtherOperationsShowRunningLineAndNoPercent)
{
    Init(OP_ACCESS_PROTECT);
    Percent(OP_ACCESS_PROTECT, 100);
    Base(INFO_TYPE_DONE, OP_ACCESS_PROTECT);
    EXPECT_EQ(Output(),
              "Enable access protection\nRunning...\nEnable access protection successfully!\n");
}

TEST_F(ProgressLines, CancelFailsTheCommand)
{
    Init(OP_ERASE);
    Base(INFO_TYPE_CANCEL, OP_ERASE);
    EXPECT_EQ(Output(), "Erase\nOperation has been canceled!\n");
    EXPECT_FALSE(g_shareParameter.c_OperationFlag);
    EXPECT_FALSE(g_shareParameter.c_OperationSucceedFlag);
}

TEST_F(ProgressLines, PercentResetsWithEachInit)
{
    // A sub-operation's INIT (the erase inside a download) starts a new line.
    Init(OP_ERASE);
    Percent(OP_ERASE, 100);
    Init(OP_DOWNLOAD, "/a.bin", 4);
    Percent(OP_DOWNLOAD, 100);
    EXPECT_EQ(Output(), "Erase\n\rRunning...100%\nDownload\n/a.bin     4B\n\rRunning...100%\n");
}

TEST(ProgressNames, EveryTypeHasItsNameAndSuccessText)
{
    struct Row {
        OP_Type type;
        const char* name;
        const char* success;
    };
    const Row rows[] = {
        {OP_ERASE, "Erase", "Erase successfully!"},
        {OP_DOWNLOAD, "Download", "Download successfully!"},
        {OP_VERIFY, "Verify", "Operation finished successfully!"},
        {OP_UPLOAD, "Upload", "Upload successfully!"},
        {OP_ACCESS_PROTECT, "Enable access protection", "Enable access protection successfully!"},
        {OP_ACCESS_UNPROTECT, "Disable access protection",
         "Disable access protection successfully!"},
        {OP_ERASEPROGRAM_PROTECT, "Enable erase and program protection",
         "Enable erase and program protection successfully!"},
        {OP_ERASEPROGRAM_UNPROTECT, "Disable erase and program protection",
         "Disable erase and program protection successfully!"},
        {OP_FWCRC, "Firmware CRC Check", "Firmware CRC check successfully!"},
        {OP_ENBANK3, "Enable Bank3", "Operation finished successfully!"},
        {OP_WRITESN, "Write serial number", "Operation finished successfully!"},
        {OP_WRITEUSERSYSTEMDATA, "Write user system data file", "Operation finished successfully!"},
        {OP_ENSLIB, "Enable sLib", "Operation finished successfully!"},
        {OP_DISSLIB, "Disable sLib", "Operation finished successfully!"},
        {OP_DOWNLOADPROJECT, "Unknown error!", "Operation finished successfully!"},
        {OP_FLASHCRC, "Flash CRC calculate", "Operation finished successfully!"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(GetOperatioStringName(row.type), row.name) << row.type;
        EXPECT_EQ(GetOperationSuccessString(row.type), row.success) << row.type;
    }
}

TEST(ProgressWait, SuccessfulOperationReturnsTrueAndPrintsItsCourse)
{
    ScriptedOperation op(Script{0, 2}, OP_ERASE);
    testing::internal::CaptureStdout();
    bool ok = RunOperation(&op, nullptr);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(ok);
    EXPECT_EQ(out, "Erase\n\rRunning...50%\rRunning...100%\nErase successfully!\n");
    EXPECT_FALSE(g_shareParameter.c_OperationFlag);
}

TEST(ProgressWait, FailingOperationReturnsFalse)
{
    ScriptedOperation op(Script{0, 3, 2, CResult::SYS_CMD_FAIL}, OP_ERASE);
    testing::internal::CaptureStdout();
    bool ok = RunOperation(&op, nullptr);
    testing::internal::GetCapturedStdout();
    EXPECT_FALSE(ok);
}

TEST(ProgressWait, ThreadEndingWithoutFinalReportIsAFailureNotAHang)
{
    Script s{0, 2};
    s.endSilently = true;
    ScriptedOperation op(s, OP_ERASE);
    testing::internal::CaptureStdout();
    bool ok = RunOperation(&op, nullptr);
    testing::internal::GetCapturedStdout();
    EXPECT_FALSE(ok);
    EXPECT_FALSE(g_shareParameter.c_OperationFlag);
}

TEST(ProgressWait, NoOperationIsAFailure)
{
    EXPECT_FALSE(RunOperation(nullptr, nullptr));
    EXPECT_FALSE(g_shareParameter.c_OperationFlag);
}

TEST(ProgressWait, LaterReportsOfAFinishedOperationPrintNothing)
{
    // After the final report the callback is detached from the operation.
    ScriptedOperation op(Script{0, 1}, OP_ERASE);
    testing::internal::CaptureStdout();
    ASSERT_TRUE(RunOperation(&op, nullptr));
    testing::internal::GetCapturedStdout();
    testing::internal::CaptureStdout();
    op.Callback(INFO_TYPE_DONE);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

}  // namespace
