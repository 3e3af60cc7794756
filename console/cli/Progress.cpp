#include "cli/Progress.h"

#include "ShareParameter.h"
#include "cli/ConsoleTap.h"
#include "cli/Interrupt.h"
#include "cli/ProductionLog.h"
#include "link/BootLoader.h"
#include "link/Com.h"
#include "result/Result.h"

#include <atomic>
#include <iostream>

namespace {

// The operation the console callback is attached to while a command waits.
std::atomic<COperation*> s_running{nullptr};

COperation* CurrentOperation(CCom* connection)
{
    CBootLoader* link = connection ? connection->GetBootLoader() : nullptr;
    return link ? link->GetOperation() : nullptr;
}

// The firmware check of a download ("-d --crc") reports as the verify does.
bool ShowsFileAndPercent(OP_Type type)
{
    return type == OP_DOWNLOAD || type == OP_VERIFY || type == OP_UPLOAD || type == OP_FWCRC;
}

bool ShowsPercent(OP_Type type)
{
    return type == OP_ERASE || ShowsFileAndPercent(type);
}

// On a DFU link, what the device said of a failure that has no text of its
// own.
int ShownResult(int code)
{
    CCom* connection = g_shareParameter.c_obCCom;
    if (connection == nullptr || connection->GetInterfaceType() != INTERFACE_DFU)
        return code;
    BYTE status = 0, state = 0;
    if (KVBL_GetDFUStatus(connection->GetHandle(), &status, &state) != SUCCESS)
        return code;
    return CResult::ShownForDFU(code, status);
}

void StartOperation(COperation* operation, CCom* connection)
{
    // The connection is set before the thread starts: its reports read it.
    g_shareParameter.c_obCCom = connection;
    if (operation) {
        s_running.store(operation);
        operation->SetOperationInfoDelegate(GetOperationInfo);
        operation->Start();
    }
}

}  // namespace

void Start(CCom* connection)
{
    StartOperation(CurrentOperation(connection), connection);
}

void Stop()
{
    COperation* operation = s_running.exchange(nullptr);
    if (operation)
        operation->SetOperationInfoDelegate(nullptr);
    // Last: once the flag drops, the waiting command may free the operation.
    g_shareParameter.c_OperationFlag = false;
}

std::string GetOperatioStringName(OP_Type type)
{
    switch (type) {
    case OP_ERASE: return CResult::GetInfoString(Info_Operation_Erase);
    case OP_DOWNLOAD: return CResult::GetInfoString(Info_Operation_Download);
    case OP_VERIFY: return CResult::GetInfoString(Info_Operation_Verify);
    case OP_UPLOAD: return CResult::GetInfoString(Info_Operation_Upload);
    case OP_ACCESS_PROTECT: return CResult::GetInfoString(Info_Operation_FAP_E);
    case OP_ACCESS_UNPROTECT: return CResult::GetInfoString(Info_Operation_FAP_D);
    case OP_ERASEPROGRAM_PROTECT: return CResult::GetInfoString(Info_Operation_EPP_E);
    case OP_ERASEPROGRAM_UNPROTECT: return CResult::GetInfoString(Info_Operation_EPP_D);
    case OP_FWCRC: return CResult::GetInfoString(Info_Operation_FWCRC);
    case OP_ENBANK3: return CResult::GetInfoString(Info_Operation_ENBANK3);
    case OP_WRITESN: return CResult::GetInfoString(Info_Operation_WRITESN);
    case OP_WRITEUSERSYSTEMDATA: return CResult::GetInfoString(Info_Operation_WRITEUSERSYSTEMDATA);
    case OP_ENSLIB: return CResult::GetInfoString(Info_Operation_EnableSlib);
    case OP_DISSLIB: return CResult::GetInfoString(Info_Operation_DisableSlib);
    case OP_FLASHCRC: return CResult::GetInfoString(Info_Operation_FlashCRC);
    case OP_DOWNLOADPROJECT:
    default: return CResult::GetInfoString(Info_UnknownError);
    }
}

std::string GetOperationSuccessString(OP_Type type)
{
    switch (type) {
    case OP_ERASE: return CResult::GetInfoString(Info_Erase_Operation_Success);
    case OP_DOWNLOAD: return CResult::GetInfoString(Info_Download_Operation_Success);
    case OP_UPLOAD: return CResult::GetInfoString(Info_Upload_Operation_Success);
    case OP_ACCESS_PROTECT: return CResult::GetInfoString(Info_EnableRP_Operation_Success);
    case OP_ACCESS_UNPROTECT: return CResult::GetInfoString(Info_DisableRP_Operation_Success);
    case OP_ERASEPROGRAM_PROTECT: return CResult::GetInfoString(Info_EnableWP_Operation_Success);
    case OP_ERASEPROGRAM_UNPROTECT: return CResult::GetInfoString(Info_DisableWP_Operation_Success);
    case OP_FWCRC: return CResult::GetInfoString(Info_FWCRC_Operation_Success);
    default: return CResult::GetInfoString(Info_Progress_Operation_Success);
    }
}

void GetOperationInfo(InfoType type, void* info)
{
    std::ostream& out = std::cout;
    switch (type) {
    case INFO_TYPE_INIT: {
        const CInitInfo* init = static_cast<const CInitInfo*>(info);
        out << GetOperatioStringName(init->m_emType) << std::endl;
        if (ShowsFileAndPercent(init->m_emType))
            out << init->m_strFilePath << "     " << init->m_uiFileSize << "B" << std::endl;
        else if (init->m_emType != OP_ERASE)
            out << CResult::GetInfoString(Info_Progress_Running) << std::endl;
        g_shareParameter.c_operationPersent = 0;
        break;
    }
    case INFO_TYPE_ACTION: {
        const CActionInfo* action = static_cast<const CActionInfo*>(info);
        // The image bytes a download has written or an upload has read.
        if (action->m_emType == OP_DOWNLOAD || action->m_emType == OP_UPLOAD)
            CurrentReport().bytes = action->m_uiFileStatus;
        if (!ShowsPercent(action->m_emType) ||
            action->m_iPercent == g_shareParameter.c_operationPersent)
            break;
        out << "\r" << CResult::GetInfoString(Info_Progress_Running) << action->m_iPercent << "%"
            << std::flush;
        if (action->m_iPercent == 100)
            out << std::endl;
        g_shareParameter.c_operationPersent = action->m_iPercent;
        break;
    }
    case INFO_TYPE_CANCEL:
        CConsoleTap::Instance().EndOpenLine();
        out << CResult::GetInfoString(Info_Progress_Operation_Cancel) << std::endl;
        g_shareParameter.c_OperationSucceedFlag = false;
        Stop();
        break;
    case INFO_TYPE_ABEND: {
        const CAbendInfo* abend = static_cast<const CAbendInfo*>(info);
        out << std::endl;
        out << CResult::GetInfoStringName(ShownResult(abend->m_iResult)) << std::endl;
        g_shareParameter.c_OperationSucceedFlag = false;
        Stop();
        break;
    }
    case INFO_TYPE_DONE: {
        const CBaseInfo* base = static_cast<const CBaseInfo*>(info);
        out << GetOperationSuccessString(base->m_emType) << std::endl;
        Stop();
        break;
    }
    case INFO_TYPE_INFO:
    default:
        break;
    }
}

bool WaitOperation(CCom* connection)
{
    return RunOperation(CurrentOperation(connection), connection);
}

bool RunOperation(COperation* operation, CCom* connection)
{
    // After a signal nothing new is begun.
    if (Interrupt::Signal() != 0)
        return false;
    g_shareParameter.c_OperationFlag = true;
    g_shareParameter.c_OperationSucceedFlag = true;
    Interrupt::Watch(operation);
    StartOperation(operation, connection);
    // QThread::wait wakes as soon as the thread ends, so the command goes on
    // within 10 ms of the operation's end.
    while (g_shareParameter.c_OperationFlag) {
        if (!operation || operation->WaitForEnd(10))
            break;
    }
    Interrupt::Watch(nullptr);
    if (g_shareParameter.c_OperationFlag) {
        // The thread ended (or never existed) without a final report.
        Stop();
        return false;
    }
    return g_shareParameter.c_OperationSucceedFlag;
}
