#include "operations/Operation.h"

#include "files/ProgramFile.h"
#include "operations/OperationLink.h"
#include "operations/FlashLayout.h"
#include "result/Result.h"

#include <cstdint>

int PercentOf(double done, double total)
{
    if (total <= 0.0)
        return 100;
    double percent = done / total * 100.0;
    if (percent < 0.0)
        return 0;
    if (percent > 100.0)
        return 100;
    return static_cast<int>(percent);
}

COperation::COperation(COperationLink* obBootLoader)
    : m_EmType(OP_ERASE),
      m_bSubOperation(false),
      m_emStatus(STOP),
      m_emCommand(COMMAND_NONE),
      m_obBootLoader(obBootLoader),
      m_lpFunc(nullptr)
{
}

COperation::~COperation()
{
    WaitForEnd();
}

bool COperation::WaitForEnd(unsigned long ms)
{
    if (!wait(ms))
        return false;
    // QThread's own synchronisation is not visible to every checker; this
    // acquire pairs with the release at the end of run().
    while (m_bThreadBusy.load(std::memory_order_acquire) && isRunning())
        QThread::yieldCurrentThread();
    return true;
}

int COperation::PortNum() const
{
    return static_cast<int>(reinterpret_cast<intptr_t>(Handle()));
}

uint32_t COperation::PacketSizeOf(void* handle)
{
    BYTE size = 0;
    return GetPaketSize(handle, &size) == SUCCESS ? size : 0;
}

void* COperation::Handle() const
{
    return m_obBootLoader ? m_obBootLoader->GetHandle() : nullptr;
}

void COperation::SleepUnlessCancelled(unsigned long ms) const
{
    while (ms > 0 && !IsCancel()) {
        unsigned long step = ms < 10 ? ms : 10;
        QThread::msleep(step);
        ms -= step;
    }
}

unsigned int COperation::FinishStep()
{
    CalculatePercent();
    CallCommand(COMMAND_DONE);
    return 0;
}

unsigned int COperation::AfterRestart(bool rereadOptionBytes)
{
    const int reconnect = m_obBootLoader->ReconnectAfterReset(false, false);
    if (reconnect != 0)
        return static_cast<unsigned int>(reconnect);
    return rereadOptionBytes ? static_cast<unsigned int>(m_obBootLoader->GetUserSystemData()) : 0u;
}

std::string COperation::DecoratedName(const std::string& baseName, const std::string& path)
{
    size_t slash = path.rfind('/');
    std::string file = slash == std::string::npos ? path : path.substr(slash + 1);
    return baseName + "------(" + file + ")";
}

void COperation::Cancel()
{
    if (m_emStatus.load() == SRART)
        m_emCommand.store(COMMAND_CANCEL);
}

void COperation::Interrupt()
{
    switch (m_EmType) {
    case OP_ERASE:
    case OP_DOWNLOAD:
    case OP_VERIFY:
    case OP_UPLOAD:
    case OP_FWCRC:
    case OP_FLASHCRC:
        COperation::Cancel();
        break;
    default:
        break;
    }
}

void COperation::run()
{
    Work();
    m_bThreadBusy.store(false, std::memory_order_release);
}

unsigned int COperation::Work()
{
    unsigned int r = InitAction();
    if (r != 0) {
        if (!m_bSubOperation) {
            m_AbendInfo.m_iResult = static_cast<int>(r);
            Callback(INFO_TYPE_ABEND);
        }
        Stop();
        return r;
    }
    Callback(INFO_TYPE_INIT);
    Callback(INFO_TYPE_ACTION);

    while (IsContinue()) {
        r = Action();
        if (r != 0) {
            m_AbendInfo.m_iResult = static_cast<int>(r);
            Callback(INFO_TYPE_ABEND);
            Stop();
            return r;
        }
        Callback(INFO_TYPE_ACTION);
    }

    if (IsCancel()) {
        Callback(INFO_TYPE_CANCEL);
    } else if (IsDone()) {
        r = ActionDone();
        if (r != 0) {
            m_AbendInfo.m_iResult = static_cast<int>(r);
            Callback(INFO_TYPE_ABEND);
            Stop();
            return r;
        }
        Callback(IsCancel() ? INFO_TYPE_CANCEL : INFO_TYPE_DONE);
    }
    Stop();
    return r;
}

unsigned int COperation::InitAction()
{
    int port = PortNum();
    m_BaseInfo.m_nPortNum = port;
    m_BaseInfo.m_emType = m_EmType;
    m_InitInfo = CInitInfo{port, m_EmType, m_strName, m_bSubOperation, std::string(), 0};
    m_ActionInfo = CActionInfo{port, 0, 0, m_EmType};
    m_AbendInfo.m_nPortNum = port;
    // Arm the step loop. A cancel that arrived after Start() but before this
    // point still holds; any other leftover (a sub-operation started again
    // ends its previous run with COMMAND_DONE) is replaced.
    int current = m_emCommand.load();
    while (current != COMMAND_CANCEL &&
           !m_emCommand.compare_exchange_weak(current, COMMAND_CONTINUE)) {
    }
    return 0;
}

unsigned int COperation::Action()
{
    return 0;
}

unsigned int COperation::ActionDone()
{
    return 0;
}

void COperation::CalculatePercent()
{
    m_ActionInfo.m_iPercent = 100;
}

void COperation::CalculatePercent(uint32_t handled, uint32_t total)
{
    m_ActionInfo.m_uiFileStatus = handled;
    m_ActionInfo.m_iPercent = PercentOf(handled, total);
}

void COperation::SetParameters(void*)
{
}

void COperation::SetOperationInfoDelegate(lpFunc func)
{
    m_lpFunc.store(func);
}

unsigned int COperation::Start()
{
    m_emStatus.store(SRART);
    if (m_bSubOperation)
        return Work();
    m_bThreadBusy.store(true, std::memory_order_relaxed);
    start(QThread::InheritPriority);
    return 0;
}

void COperation::Stop()
{
    m_emStatus.store(STOP);
}

void COperation::ChangeStatus(Status status)
{
    m_emStatus.store(status);
}

void COperation::CallCommand(Command command)
{
    m_emCommand.store(command);
}

void COperation::Callback(InfoType type)
{
    lpFunc func = m_lpFunc.load();
    if (!func)
        return;
    switch (type) {
    case INFO_TYPE_INIT:
        func(type, &m_InitInfo);
        break;
    case INFO_TYPE_ACTION:
        func(type, &m_ActionInfo);
        break;
    case INFO_TYPE_ABEND:
        if (!m_bSubOperation)
            func(type, &m_AbendInfo);
        break;
    case INFO_TYPE_INFO:
        func(type, &m_strInfoStringName);
        break;
    default:
        if (!m_bSubOperation)
            func(type, &m_BaseInfo);
        break;
    }
}

void COperation::SetSubOperation(bool bSubOperation)
{
    m_bSubOperation = bSubOperation;
}

bool COperation::IsSubOperation() const
{
    return m_bSubOperation;
}

bool COperation::HasStart() const
{
    return m_emStatus.load() == SRART;
}

bool COperation::IsContinue() const
{
    return m_emCommand.load() == COMMAND_CONTINUE;
}

bool COperation::IsCancel() const
{
    return m_emCommand.load() == COMMAND_CANCEL;
}

bool COperation::IsDone() const
{
    return m_emCommand.load() == COMMAND_DONE;
}

unsigned int COperation::OpenProgramFiles(const QList<std::string>& paths, bool optimize,
                                          QList<CProgramFile*>& files)
{
    CDevice* device = m_obBootLoader ? m_obBootLoader->GetDevice() : nullptr;
    for (const std::string& path : paths) {
        CProgramFile* file = new CProgramFile();
        file->SetOptimizeForOpen(optimize);
        int r = file->OpenPatiently(path, device, [this](unsigned long ms) {
            SleepUnlessCancelled(ms);
            return !IsCancel();
        });
        if (r != 0) {
            delete file;
            return static_cast<unsigned int>(r);
        }
        // A file of blank data that "--o" left nothing of to send is not
        // empty: its sectors are still erased.
        if (file->GetFileRanges().isEmpty()) {
            delete file;
            return CResult::FILES_EMPTY;
        }
        files.append(file);
    }
    if (!files.isEmpty()) {
        m_InitInfo.m_strFilePath = files.first()->GetPath();
        m_InitInfo.m_uiFileSize = files.first()->GetFileSize();
    }
    return 0;
}

unsigned int COperation::AddressOffsetsOf(const QList<CProgramFile*>& files,
                                          const QList<uint32_t>& startAddresses,
                                          QList<uint32_t>& offsets)
{
    offsets.clear();
    if (files.isEmpty())
        return CResult::UNKNOWN_ERROR;
    for (int i = 0; i < files.size(); ++i) {
        CProgramFile* file = files[i];
        if (file->GetType() == CFiles::BIN) {
            if (!file->HasOpen())
                return CResult::FILES_NOTOPEN;
            // The file's first byte goes to the requested address, whatever
            // blank data the open dropped after it.
            uint32_t requested = i < startAddresses.size()
                                     ? startAddresses[i]
                                     : FlashLayout::kFlashBase;
            offsets.append(requested - file->GetFileStartAddress());
        } else if (file->GetType() == CFiles::UNKNOWN) {
            return CResult::UNKNOWN_ERROR;
        } else {
            offsets.append(0);
        }
    }
    return 0;
}
