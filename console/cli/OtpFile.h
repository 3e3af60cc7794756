// The OTP data file and the OTP area of the connected chip.
//
// The file is a run of 38-byte records, read from the start:
//   0  4  PartAddress, offset of the data within the OTP data area, big-endian
//   4 32  the data bytes
//  36  1  LockFlag  (0: lock this record's block)
//  37  1  WriteFlag (0: write this record's data)
// A record's lock byte is the one at its position in the file.
#ifndef TARNFLASH_CLI_OTPFILE_H
#define TARNFLASH_CLI_OTPFILE_H

#include <QList>

#include <cstddef>
#include <cstdint>
#include <string>

class CCom;

struct OTP_CONFIG_INFO {
    uint32_t PartAddress = 0;
    uint8_t pData[32] = {};
    uint8_t WriteFlag = 0xFF;
    uint8_t LockFlag = 0xFF;
};

constexpr size_t OTP_RECORD_LENGTH = 38;
constexpr uint32_t OTP_BLOCK_LENGTH = 32;

// The records of the last file read, in file order.
extern QList<OTP_CONFIG_INFO> m_listWriteOTPData;

// Sets the OTP area of the given series into the shared parameters (all 0 for
// a series without one).
void InitOTPAndLOCKInfo(int series);

// Why a file's records cannot be written; OTP_FILE_OK when they can.
enum OtpFileStatus {
    OTP_FILE_OK = 0,
    OTP_FILE_UNREADABLE,    // cannot be opened or read
    OTP_FILE_TOO_LARGE,     // larger than any OTP file can be
    OTP_FILE_PARTIAL,       // a trailing partial record
    OTP_FILE_DATA_OUTSIDE,  // a record's 32 bytes outside the data area
    OTP_FILE_LOCK_OUTSIDE,  // a lock index outside the lock area
    OTP_FILE_LOCK_MISMATCH, // a record to lock whose data is not block index × 32
};

// Records from the file's bytes (whole records only; a trailing partial one
// is reported, not taken). An empty file holds no record and writes nothing.
OtpFileStatus ParseOTPRecords(const unsigned char* bytes, size_t length,
                              QList<OTP_CONFIG_INFO>& records);
// Every record that will be written or locked fits the area: checked before
// the first byte goes to the chip, since OTP and lock bytes are forever.
OtpFileStatus CheckOTPRecords(const QList<OTP_CONFIG_INFO>& records, uint32_t dataLength,
                              uint32_t lockLength);
// One line telling what is wrong with the file.
std::string OtpFileStatusText(OtpFileStatus status);

// Reads the file into m_listWriteOTPData (cleared first).
OtpFileStatus OTPProjectFileOpen(const std::string& path);
// Data pass, then lock pass, through the connection's link. Prints the
// failure line of the pass that failed.
bool WriteOTPData(CCom* connection);

#endif
