#include "operations/DownloadSteps.h"

#include "operations/FeatureOperations.h"
#include "operations/OperationLink.h"
#include "operations/Protection.h"

CDownloadSteps::CDownloadSteps(COperationLink* link)
    : m_link(link),
      m_obWriteSN(Add(new CWriteSN(link))),
      m_obFAP(Add(new CAccessProtect(link))),
      m_obWriteOTP2File(Add(new CWriteUserSystemData(link))),
      m_obEnableSlib(Add(new CEnableSlib(link))),
      m_obEnBank3(Add(new CEnBank3(link)))
{
}

CDownloadSteps::~CDownloadSteps()
{
    for (COperation* operation : m_operations)
        delete operation;
}

void CDownloadSteps::Own(COperation* operation)
{
    operation->SetSubOperation(true);
    m_operations.push_back(operation);
}

void CDownloadSteps::SetOperationInfoDelegate(lpFunc func)
{
    for (COperation* operation : m_operations)
        operation->SetOperationInfoDelegate(func);
}

void CDownloadSteps::Cancel()
{
    for (COperation* operation : m_operations)
        operation->Cancel();
}

unsigned int CDownloadSteps::EnBank3(const DownloadSteps& options)
{
    EnBank3Param p;
    p.m_bRemapFlag = options.m_bRemapFlag;
    p.m_bNeedRemap = options.m_bNeedRemap;
    p.m_bFlashType = options.m_bFlashType;
    p.m_uiFlashSize = options.m_uiFlashSize;
    p.m_uiFlashDA = options.m_uiFlashDA;
    m_obEnBank3->SetParameters(&p);
    return m_obEnBank3->Start();
}

unsigned int CDownloadSteps::EnableSlib(const DownloadSteps& options, uint32_t password)
{
    EnableSlibParam p{password, options.m_usStartSector, options.m_usStartDataSector,
                      options.m_usEndSector};
    m_obEnableSlib->SetParameters(&p);
    return m_obEnableSlib->Start();
}

unsigned int CDownloadSteps::AfterData(DownloadSteps& options, const unsigned char* userSystemData,
                                       uint32_t userSystemDataLength,
                                       const std::function<unsigned int(unsigned int, bool&)>& endStep,
                                       const std::function<unsigned int()>& jump)
{
    bool stop = false;
    unsigned int r = 0;
    if (options.m_bWriteSN) {
        WriteSN_Param p{options.m_uiSNAddress, options.m_uiSNNumber, options.m_uiSNStep};
        m_obWriteSN->SetParameters(&p);
        r = endStep(m_obWriteSN->Start(), stop);
        if (stop)
            return r;
    }
    options.m_uiSNNumber += options.m_uiSNStep;

    if (userSystemData && userSystemDataLength > 0) {
        std::vector<unsigned char> data(userSystemData, userSystemData + userSystemDataLength);
        if (options.m_bFAP && data[0] != 0xCC)
            data[0] = options.m_bFAPLevel == 2 ? 0xCC : 0xFF;
        m_obWriteOTP2File->SetParameters(data.data(), static_cast<uint32_t>(data.size()));
        r = endStep(m_obWriteOTP2File->Start(), stop);
        if (stop)
            return r;
    }
    if (options.m_bFAP) {
        unsigned char level = options.m_bFAPLevel;
        m_obFAP->SetParameters(&level);
        r = endStep(m_obFAP->Start(), stop);
        if (stop)
            return r;
    }
    if (options.m_bJump)
        return jump();
    if (options.m_bEnableSlib)
        return static_cast<unsigned int>(m_link->ResetMcu());
    return 0;
}
