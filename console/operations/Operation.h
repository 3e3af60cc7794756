#ifndef TARNFLASH_OPERATIONS_OPERATION_H
#define TARNFLASH_OPERATIONS_OPERATION_H

// The frame every long action on the chip runs in: a worker thread, a fixed
// life cycle (initialise, repeat one step, finish) and one callback that
// receives typed information records at each stage.

#include <QList>
#include <QThread>

#include <atomic>
#include <climits>
#include <cstdint>
#include <string>

class COperationLink;
class CProgramFile;

enum OP_Type {
    OP_ERASE = 0,
    OP_DOWNLOAD = 1,
    OP_VERIFY = 2,
    OP_UPLOAD = 3,
    OP_ACCESS_PROTECT = 4,
    OP_ACCESS_UNPROTECT = 5,
    OP_ERASEPROGRAM_PROTECT = 6,
    OP_ERASEPROGRAM_UNPROTECT = 7,
    OP_FWCRC = 8,
    OP_ENBANK3 = 9,
    OP_WRITESN = 10,
    OP_WRITEUSERSYSTEMDATA = 11,
    OP_ENSLIB = 12,
    OP_DISSLIB = 13,
    OP_DOWNLOADPROJECT = 14,
    OP_FLASHCRC = 15
};

enum InfoType {
    INFO_TYPE_INIT = 0,
    INFO_TYPE_ACTION = 1,
    INFO_TYPE_CANCEL = 2,
    INFO_TYPE_ABEND = 3,
    INFO_TYPE_DONE = 4,
    INFO_TYPE_INFO = 5
};

enum Status { STOP = 0, SRART = 1 };

enum Command {
    COMMAND_NONE = 0,
    COMMAND_CONTINUE = 1,
    COMMAND_CANCEL = 2,
    COMMAND_ABEND = 3,
    COMMAND_DONE = 4
};

// Records handed to the callback. The pointer is valid only during the call.
struct CBaseInfo {
    int m_nPortNum = 0;
    OP_Type m_emType = OP_ERASE;
    uint32_t m_nNextSN = 0;
};

struct CInitInfo {
    int m_nPortNum = 0;
    OP_Type m_emType = OP_ERASE;
    std::string m_strName;
    bool m_bSubOperation = false;
    std::string m_strFilePath;
    uint32_t m_uiFileSize = 0;
};

struct CActionInfo {
    int m_nPortNum = 0;
    int m_iPercent = 0;
    uint32_t m_uiFileStatus = 0;
    OP_Type m_emType = OP_ERASE;
};

struct CAbendInfo {
    int m_nPortNum = 0;
    int m_iResult = 0;
};

typedef void (*lpFunc)(InfoType type, void* info);

// Truncated done/total x 100 in double precision; 100 for a zero total.
int PercentOf(double done, double total);

class COperation : public QThread {
public:
    explicit COperation(COperationLink* obBootLoader);
    // Waits for the thread: an operation is never destroyed while it runs.
    // Every concrete operation also waits first thing in its own destructor,
    // before its own members go.
    ~COperation() override;

    virtual void Cancel();
    // The run was interrupted: stop at the next safe point. A data transfer
    // (erase, download, verify, upload, checksums) stops after the block in
    // flight; a step that configures the chip (protection, option bytes,
    // sLib, the external bank, a serial number) runs to its end.
    virtual void Interrupt();
    void run() override;
    virtual unsigned int Work();
    virtual unsigned int InitAction();
    virtual unsigned int Action();
    virtual unsigned int ActionDone();
    virtual void CalculatePercent();
    // File-based progress: bytes handled of a file's total.
    virtual void CalculatePercent(uint32_t handled, uint32_t total);
    virtual void SetParameters(void* parameters);
    virtual void SetOperationInfoDelegate(lpFunc func);

    // Sub-operations run Work() on the caller's thread and return its
    // result; a top-level operation starts its thread and returns 0.
    unsigned int Start();
    // Waits up to ms milliseconds for the thread to end; true when it has
    // ended (or never started). Everything the thread wrote is visible to the
    // caller afterwards.
    bool WaitForEnd(unsigned long ms = ULONG_MAX);
    void Stop();
    void ChangeStatus(Status status);
    void CallCommand(Command command);
    void Callback(InfoType type);
    void SetSubOperation(bool bSubOperation);
    bool IsSubOperation() const;
    bool HasStart() const;
    bool IsContinue() const;
    bool IsCancel() const;
    bool IsDone() const;

    OP_Type GetType() const { return m_EmType; }
    const std::string& GetName() const { return m_strName; }

    // Decorated display name of a file-based operation: base name followed
    // by "------(" + last path component + ")".
    static std::string DecoratedName(const std::string& baseName, const std::string& path);

protected:
    // The link's handle as the records carry it, and as the interface takes it.
    int PortNum() const;
    void* Handle() const;
    // The packet size of the link's block transfers (0 when unknown).
    static uint32_t PacketSizeOf(void* handle);
    // Waits up to ms milliseconds; returns early when a cancel arrives.
    void SleepUnlessCancelled(unsigned long ms) const;
    // Ends a single-step operation successfully (100 %, COMMAND_DONE); 0.
    unsigned int FinishStep();
    // After a command that restarts the chip: the link reconnects, then
    // (rereadOptionBytes) reads the option bytes again; 0 or the failure.
    unsigned int AfterRestart(bool rereadOptionBytes);

    // Opens each image file for the connected chip, appending it to files
    // (owned by the caller). A file that cannot be opened is tried a few
    // times, a second apart, in case another program is still writing it; a
    // file without data is refused with FILES_EMPTY. The first file fills the
    // init record's file fields.
    unsigned int OpenProgramFiles(const QList<std::string>& paths, bool optimize,
                                  QList<CProgramFile*>& files);
    // Where each file goes: a binary file's first byte is moved to its
    // requested load address (the flash base when none is given), other
    // kinds carry their own addresses (offset 0). Offsets are 32-bit: adding
    // one moves an address down as well as up.
    static unsigned int AddressOffsetsOf(const QList<CProgramFile*>& files,
                                         const QList<uint32_t>& startAddresses,
                                         QList<uint32_t>& offsets);

    OP_Type m_EmType;
    std::string m_strName;
    bool m_bSubOperation;
    std::atomic<int> m_emStatus;
    std::atomic<int> m_emCommand;
    COperationLink* m_obBootLoader;
    CBaseInfo m_BaseInfo;
    CInitInfo m_InitInfo;
    CActionInfo m_ActionInfo;
    CAbendInfo m_AbendInfo;
    std::string m_strInfoStringName;
    std::atomic<lpFunc> m_lpFunc;

private:
    // Cleared (release) as the last action of the thread body.
    std::atomic<bool> m_bThreadBusy{false};
};

#endif
