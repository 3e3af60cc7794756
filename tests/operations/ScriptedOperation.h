#ifndef TARNFLASH_TESTS_OPERATIONS_SCRIPTEDOPERATION_H
#define TARNFLASH_TESTS_OPERATIONS_SCRIPTEDOPERATION_H

// A test operation that follows a script: a number of steps, with an
// optional failure or cancel in a chosen stage.

#include "operations/Operation.h"

#include <QThread>

#include <atomic>
#include <vector>

namespace kvtest {

struct Script {
    Script(unsigned init = 0, int stepCount = 1, int failAt = -1, unsigned failCode = 0,
           int cancelAt = -1, unsigned doneCode = 0, bool cancelDuringDone = false)
        : initResult(init), steps(stepCount), failAtStep(failAt), actionResult(failCode),
          cancelAtStep(cancelAt), doneResult(doneCode), cancelInDone(cancelDuringDone)
    {
    }
    unsigned initResult;        // InitAction fails with this code when not 0
    int steps;
    int failAtStep;             // 1-based step whose Action fails
    unsigned actionResult;      // code of that failure
    int cancelAtStep;           // 1-based step during which Cancel() arrives
    unsigned doneResult;        // result of ActionDone
    bool cancelInDone;          // Cancel() arrives while ActionDone runs
    unsigned long stepSleepMs = 0;
    bool endSilently = false;   // the last step leaves a command that ends without a report
    std::vector<int> percents;  // percent reported by each step (default: steps done / steps)
};

class ScriptedOperation : public COperation {
public:
    explicit ScriptedOperation(const Script& s, OP_Type type = OP_DOWNLOAD)
        : COperation(nullptr), m_script(s)
    {
        m_EmType = type;
        m_strName = "Scripted";
    }
    ~ScriptedOperation() override { WaitForEnd(); }
    unsigned int InitAction() override
    {
        if (m_script.initResult)
            return m_script.initResult;
        return COperation::InitAction();
    }
    unsigned int Action() override
    {
        ++m_stepsRun;
        if (m_script.stepSleepMs)
            QThread::msleep(m_script.stepSleepMs);
        if (m_stepsRun == m_script.failAtStep)
            return m_script.actionResult;
        if (m_stepsRun == m_script.cancelAtStep)
            Cancel();
        int step = m_stepsRun;
        m_ActionInfo.m_iPercent = step <= static_cast<int>(m_script.percents.size())
                                      ? m_script.percents[step - 1]
                                      : PercentOf(step, m_script.steps);
        if (step >= m_script.steps && !IsCancel())
            CallCommand(m_script.endSilently ? COMMAND_ABEND : COMMAND_DONE);
        return 0;
    }
    unsigned int ActionDone() override
    {
        ++m_doneRuns;
        if (m_script.cancelInDone)
            Cancel();
        return m_script.doneResult;
    }
    unsigned int Work() override
    {
        m_lastResult = COperation::Work();
        return m_lastResult;
    }
    Script m_script;
    std::atomic<int> m_stepsRun{0};
    std::atomic<int> m_doneRuns{0};
    std::atomic<unsigned> m_lastResult{0xFFFFFFFFu};
};

}  // namespace kvtest

#endif
