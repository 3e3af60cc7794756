// OTP data files: whatever the file holds, a file that passes the checks
// writes data only inside the chip's OTP data area and locks only the
// blocks its records fill, since OTP and lock bytes are forever.
#include <cstring>

#include "FuzzEntries.h"
#include "ShareParameter.h"
#include "cli/OtpFile.h"

int FuzzOtpFile(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  static const int kSeries[] = {21, 25, 31, 4};
  InitOTPAndLOCKInfo(kSeries[data[0] % 4]);
  const uint32_t dataLength = uint32_t(g_shareParameter.OTP_Data_Length);
  const uint32_t lockLength = uint32_t(g_shareParameter.OTP_Lock_Length);
  const uint8_t* file = data + 1;
  const size_t length = size - 1;

  QList<OTP_CONFIG_INFO> records;
  const OtpFileStatus parsed = ParseOTPRecords(file, length, records);
  FuzzCheck(size_t(records.size()) == length / OTP_RECORD_LENGTH, "one record per whole 38 bytes");
  if (parsed != OTP_FILE_OK) {
    FuzzCheck(length % OTP_RECORD_LENGTH != 0, "a file of whole records refused");
    return 0;
  }
  for (int i = 0; i < records.size(); ++i) {
    const uint8_t* r = file + size_t(i) * OTP_RECORD_LENGTH;
    const OTP_CONFIG_INFO& rec = records[i];
    FuzzCheck(rec.PartAddress == (uint32_t(r[0]) << 24 | uint32_t(r[1]) << 16 | uint32_t(r[2]) << 8 | r[3]),
              "PartAddress is big-endian");
    FuzzCheck(std::memcmp(rec.pData, r + 4, OTP_BLOCK_LENGTH) == 0, "record data");
    FuzzCheck(rec.LockFlag == r[36] && rec.WriteFlag == r[37], "record flags");
  }
  if (CheckOTPRecords(records, dataLength, lockLength) != OTP_FILE_OK) return 0;
  for (int i = 0; i < records.size(); ++i) {
    const OTP_CONFIG_INFO& rec = records[i];
    if (rec.WriteFlag == 0 || rec.LockFlag == 0)
      FuzzCheck(uint64_t(rec.PartAddress) + OTP_BLOCK_LENGTH <= dataLength, "data outside the OTP area");
    if (rec.LockFlag == 0) {
      FuzzCheck(uint32_t(i) < lockLength, "lock byte outside the lock area");
      FuzzCheck(rec.PartAddress == uint32_t(i) * OTP_BLOCK_LENGTH, "lock of a block the record does not fill");
    }
  }
  return 0;
}
