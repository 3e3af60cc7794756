// Life cycle of the operation frame: which reports reach the callback, in
// which order, for success, failure in each stage and cancellation.

#include "ScriptedOperation.h"
#include "operations/Operation.h"

#include <gtest/gtest.h>

#include <QThread>

#include <atomic>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

namespace {

using kvtest::Script;
using kvtest::ScriptedOperation;

struct Report {
    InfoType type;
    int value;  // percent for ACTION, result for ABEND, -1 otherwise
    bool sub;   // INIT only: the record's sub-operation flag
    bool operator==(const Report& o) const
    {
        return type == o.type && value == o.value && sub == o.sub;
    }
};

void PrintTo(const Report& r, std::ostream* os)
{
    *os << "{type " << r.type << ", value " << r.value << (r.sub ? ", sub" : "") << "}";
}

std::mutex g_reportsMutex;
std::vector<Report> g_reports;

void Record(InfoType type, void* info)
{
    Report r{type, -1, false};
    if (type == INFO_TYPE_ACTION)
        r.value = static_cast<CActionInfo*>(info)->m_iPercent;
    else if (type == INFO_TYPE_ABEND)
        r.value = static_cast<CAbendInfo*>(info)->m_iResult;
    else if (type == INFO_TYPE_INIT)
        r.sub = static_cast<CInitInfo*>(info)->m_bSubOperation;
    std::lock_guard<std::mutex> lock(g_reportsMutex);
    g_reports.push_back(r);
}

std::vector<Report> TakeReports()
{
    std::lock_guard<std::mutex> lock(g_reportsMutex);
    std::vector<Report> out;
    out.swap(g_reports);
    return out;
}

const Report INIT{INFO_TYPE_INIT, -1, false};
const Report INIT_SUB{INFO_TYPE_INIT, -1, true};
const Report DONE{INFO_TYPE_DONE, -1, false};
const Report CANCEL{INFO_TYPE_CANCEL, -1, false};
Report Action(int p) { return Report{INFO_TYPE_ACTION, p, false}; }
Report Abend(int code) { return Report{INFO_TYPE_ABEND, code, false}; }

struct LifeCycleCase {
    const char* name;
    Script script;
    bool sub;
    unsigned expectedResult;
    std::vector<Report> expected;
};

void PrintTo(const LifeCycleCase& c, std::ostream* os)
{
    *os << c.name;
}

class LifeCycle : public ::testing::TestWithParam<LifeCycleCase> {};

TEST_P(LifeCycle, ReportsInOrder)
{
    const LifeCycleCase& c = GetParam();
    TakeReports();
    ScriptedOperation op(c.script);
    op.SetSubOperation(c.sub);
    op.SetOperationInfoDelegate(Record);
    unsigned result;
    if (c.sub) {
        result = op.Start();
    } else {
        EXPECT_EQ(op.Start(), 0u);
        ASSERT_TRUE(op.wait(10000));
        result = op.m_lastResult;
    }
    EXPECT_EQ(result, c.expectedResult);
    EXPECT_EQ(TakeReports(), c.expected);
    EXPECT_FALSE(op.HasStart()) << "status returns to STOP whatever the outcome";
}

const unsigned E = 0x0F004004;

INSTANTIATE_TEST_SUITE_P(
    Operation, LifeCycle,
    ::testing::Values(
        LifeCycleCase{"SingleStepSuccess", Script{}, false, 0,
                      {INIT, Action(0), Action(100), DONE}},
        LifeCycleCase{"ThreeSteps", Script{0, 3}, false, 0,
                      {INIT, Action(0), Action(33), Action(66), Action(100), DONE}},
        LifeCycleCase{"InitFailsOneAbendNoInit", Script{E}, false, E, {Abend(E)}},
        LifeCycleCase{"InitFailsSubReportsNothing", Script{E}, true, E, {}},
        LifeCycleCase{"ActionFailsAtSecondStep", Script{0, 3, 2, E}, false, E,
                      {INIT, Action(0), Action(33), Abend(E)}},
        LifeCycleCase{"ActionFailsSubShowsProgressOnly", Script{0, 3, 2, E}, true, E,
                      {INIT_SUB, Action(0), Action(33)}},
        LifeCycleCase{"ActionDoneFails", Script{0, 1, -1, 0, -1, E}, false, E,
                      {INIT, Action(0), Action(100), Abend(E)}},
        LifeCycleCase{"CancelDuringAction", Script{0, 3, -1, 0, 2}, false, 0,
                      {INIT, Action(0), Action(33), Action(66), CANCEL}},
        LifeCycleCase{"CancelDuringActionSubSilentEnd", Script{0, 3, -1, 0, 2}, true, 0,
                      {INIT_SUB, Action(0), Action(33), Action(66)}},
        LifeCycleCase{"CancelDuringSuccessfulActionDone", Script{0, 1, -1, 0, -1, 0, true},
                      false, 0, {INIT, Action(0), Action(100), CANCEL}},
        LifeCycleCase{"CancelDuringFailingActionDoneIsAbend",
                      Script{0, 1, -1, 0, -1, E, true}, false, E,
                      {INIT, Action(0), Action(100), Abend(E)}},
        LifeCycleCase{"SubSuccessNoDoneReport", Script{0, 2}, true, 0,
                      {INIT_SUB, Action(0), Action(50), Action(100)}}),
    [](const ::testing::TestParamInfo<LifeCycleCase>& info) { return info.param.name; });

TEST(Operation, CancelBeforeStartHasNoEffect)
{
    TakeReports();
    ScriptedOperation op(Script{0, 2});
    op.Cancel();
    op.SetOperationInfoDelegate(Record);
    op.Start();
    ASSERT_TRUE(op.wait(10000));
    EXPECT_EQ(op.m_stepsRun, 2);
    EXPECT_EQ(TakeReports().back(), DONE);
}

TEST(Operation, WithoutCallbackRunsTheSameAndReportsNothing)
{
    TakeReports();
    ScriptedOperation op(Script{0, 4});
    op.Start();
    ASSERT_TRUE(op.wait(10000));
    EXPECT_EQ(op.m_stepsRun, 4);
    EXPECT_EQ(op.m_doneRuns, 1);
    EXPECT_TRUE(TakeReports().empty());
}

TEST(Operation, SubOperationStartedAgainRunsItsStepsAgain)
{
    // The download verifies every file with the same sub-operation.
    ScriptedOperation op(Script{0, 2});
    op.SetSubOperation(true);
    EXPECT_EQ(op.Start(), 0u);
    op.m_stepsRun = 0;
    EXPECT_EQ(op.Start(), 0u);
    EXPECT_EQ(op.m_stepsRun, 2);
    EXPECT_EQ(op.m_doneRuns, 2);
}

TEST(Operation, CancelFromAnotherThreadStopsBetweenSteps)
{
    TakeReports();
    Script s{0, 1000};
    s.stepSleepMs = 2;
    ScriptedOperation op(s);
    op.SetOperationInfoDelegate(Record);
    op.Start();
    while (op.m_stepsRun < 3)
        QThread::msleep(1);
    op.Cancel();
    ASSERT_TRUE(op.wait(10000));
    EXPECT_LT(op.m_stepsRun, 1000);
    EXPECT_EQ(op.m_doneRuns, 0);
    EXPECT_EQ(TakeReports().back(), CANCEL);
}

TEST(Operation, DestroyingARunningOperationWaitsForItsThread)
{
    Script s{0, 20};
    s.stepSleepMs = 5;
    auto* op = new ScriptedOperation(s);
    op->Start();
    delete op;  // must not tear the object down under its running thread
    SUCCEED();
}

TEST(Operation, DecoratedNameUsesLastPathComponent)
{
    EXPECT_EQ(COperation::DecoratedName("Download", "/data/app.hex"), "Download------(app.hex)");
    EXPECT_EQ(COperation::DecoratedName("Verify", "/a/b/c.s19"), "Verify------(c.s19)");
    EXPECT_EQ(COperation::DecoratedName("Download", "plain.bin"), "Download------(plain.bin)");
}

TEST(Operation, PercentTruncatesAndGuardsZeroTotal)
{
    EXPECT_EQ(PercentOf(1, 3), 33);
    EXPECT_EQ(PercentOf(2, 3), 66);
    EXPECT_EQ(PercentOf(3, 3), 100);
    EXPECT_EQ(PercentOf(0, 0), 100);
}

}  // namespace
