// The production log ("--log FILE"): one JSON object per line for every
// command the walk runs, appended with one write each, so that several runs
// (one per board) can share one file.
//
//   {"time": "2024-05-02T14:03:11.250+02:00", "interface": "usart",
//    "port": "ttyUSB0", "pid": "70040241", "uid": "30313233...",
//    "command": "-d", "file": "./app.hex", "crc32": "1c291ca3",
//    "exit_code": 0, "message": "Download successfully!", "seconds": 4.113,
//    "bytes": 6000}
//
// crc32 is the firmware checksum (the chip's FIRMWARE_CRC algorithm) of the
// sectors the command wrote or read, in address order, bytes the image
// leaves out counted as erased: a download and an upload of the same sectors
// give the same value.
#ifndef TARNFLASH_CLI_PRODUCTIONLOG_H
#define TARNFLASH_CLI_PRODUCTIONLOG_H

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>

class CCom;

// What the running command handled, for its record. Handlers fill it; the
// progress display counts the bytes.
struct CommandReport {
    std::string file;
    bool hasCrc = false;
    uint32_t crc = 0;
    std::atomic<uint64_t> bytes{0};
};
CommandReport& CurrentReport();

class CProductionLog
{
public:
    static CProductionLog& Instance();

    // The value of the first "--log" on the line; false when there is none.
    static bool FindLogFile(int argc, char** argv, std::string& path);
    // Opens the file for appending (created when missing); false with the
    // reason when it cannot be.
    bool Open(const std::string& path, std::string& reason);
    bool IsOpen() const { return m_fd >= 0; }
    // Closes the file at the end of the run.
    void Close();

    // A connect command begins: the chip of the last connection is gone.
    void ForgetChip();
    // The connection a connect command has just made: its chip's identity
    // and unique identifier (read here, only when the log is open).
    void NoteChip(CCom* com);

    // A command begins; its report is cleared.
    void Begin(const std::string& command);
    // The command ended with this exit code; appends its record.
    void End(int exitCode, const std::string& message);

private:
    CProductionLog() = default;
    std::string Record(int exitCode, const std::string& message) const;

    int m_fd = -1;
    std::string m_command;
    std::string m_time;
    std::chrono::steady_clock::time_point m_start;
    bool m_haveChip = false;
    std::string m_pid;
    std::string m_uid;  // empty: the chip refused the read
};

#endif
