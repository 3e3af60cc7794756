#include "cli/OtpFile.h"

#include <QFile>
#include <QString>

#include <cstring>

#include "KVBL.h"
#include "ShareParameter.h"
#include "cli/Handlers.h"
#include "link/BootLoader.h"
#include "link/Com.h"

QList<OTP_CONFIG_INFO> m_listWriteOTPData;

namespace {

// OTP files are small: a full 4 KB area is 128 records.
const qint64 kMaxOtpFileLength = 1 << 20;

} // namespace

void InitOTPAndLOCKInfo(int series)
{
    ShareParameter& p = g_shareParameter;
    p.OTP_Data_Address = 0;
    p.OTP_Data_Length = 0;
    p.OTP_Lock_Address = 0;
    p.OTP_Lock_Length = 0;
    switch (series) {
    case 21:
    case 22:
    case 23:
        p.OTP_Data_Address = 0x1FFFE400;
        p.OTP_Data_Length = 4096;
        break;
    case 25:
    case 26:
    case 28:
    case 31:
    case 32:
        p.OTP_Data_Address = 0x1FFFF000;
        p.OTP_Data_Length = 1024;
        break;
    default:
        return;
    }
    p.OTP_Lock_Address = 0x1FFFF500;
    p.OTP_Lock_Length = 128;
}

OtpFileStatus ParseOTPRecords(const unsigned char* bytes, size_t length,
                              QList<OTP_CONFIG_INFO>& records)
{
    records.clear();
    if (length == 0)
        return OTP_FILE_OK;
    if (bytes == nullptr)
        return OTP_FILE_UNREADABLE;
    const size_t count = length / OTP_RECORD_LENGTH;
    for (size_t k = 0; k < count; ++k) {
        const unsigned char* r = bytes + k * OTP_RECORD_LENGTH;
        OTP_CONFIG_INFO info;
        info.PartAddress = (uint32_t(r[0]) << 24) | (uint32_t(r[1]) << 16) | (uint32_t(r[2]) << 8) | r[3];
        std::memcpy(info.pData, r + 4, OTP_BLOCK_LENGTH);
        info.LockFlag = r[36];
        info.WriteFlag = r[37];
        records.append(info);
    }
    if (length % OTP_RECORD_LENGTH != 0)
        return OTP_FILE_PARTIAL;
    return OTP_FILE_OK;
}

OtpFileStatus CheckOTPRecords(const QList<OTP_CONFIG_INFO>& records, uint32_t dataLength,
                              uint32_t lockLength)
{
    for (int i = 0; i < records.size(); ++i) {
        const OTP_CONFIG_INFO& r = records[i];
        const bool write = r.WriteFlag == 0;
        const bool lock = r.LockFlag == 0;
        if (!write && !lock)
            continue;
        if (uint64_t(r.PartAddress) + OTP_BLOCK_LENGTH > dataLength)
            return OTP_FILE_DATA_OUTSIDE;
        if (!lock)
            continue;
        if (uint64_t(i) >= lockLength)
            return OTP_FILE_LOCK_OUTSIDE;
        // Lock byte i closes block i: it must be the block this record fills.
        if (uint64_t(r.PartAddress) != uint64_t(i) * OTP_BLOCK_LENGTH)
            return OTP_FILE_LOCK_MISMATCH;
    }
    return OTP_FILE_OK;
}

std::string OtpFileStatusText(OtpFileStatus status)
{
    switch (status) {
    case OTP_FILE_OK: return std::string();
    case OTP_FILE_UNREADABLE: return "The OTP data file cannot be read.";
    case OTP_FILE_TOO_LARGE: return "The OTP data file is too large.";
    case OTP_FILE_PARTIAL: return "The OTP data file ends in a partial record.";
    case OTP_FILE_DATA_OUTSIDE: return "An OTP data record lies outside the OTP data area.";
    case OTP_FILE_LOCK_OUTSIDE: return "An OTP lock index lies outside the OTP lock area.";
    case OTP_FILE_LOCK_MISMATCH: return "An OTP record to lock does not fill the block its lock byte closes.";
    }
    return std::string();
}

OtpFileStatus OTPProjectFileOpen(const std::string& path)
{
    m_listWriteOTPData.clear();
    QFile file(QString::fromStdString(path));
    if (path.empty() || !file.open(QIODevice::ReadOnly))
        return OTP_FILE_UNREADABLE;
    if (file.size() > kMaxOtpFileLength)
        return OTP_FILE_TOO_LARGE;
    const QByteArray bytes = file.read(kMaxOtpFileLength + 1);
    if (bytes.size() > kMaxOtpFileLength)
        return OTP_FILE_TOO_LARGE;
    return ParseOTPRecords(reinterpret_cast<const unsigned char*>(bytes.constData()),
                           static_cast<size_t>(bytes.size()), m_listWriteOTPData);
}

bool WriteOTPData(CCom* connection)
{
    CBootLoader* link = connection != nullptr ? connection->GetBootLoader() : nullptr;
    if (link == nullptr)
        return false;
    const ShareParameter& p = g_shareParameter;
    HANDLE handle = link->GetHandle();
    for (const OTP_CONFIG_INFO& r : m_listWriteOTPData) {
        if (r.WriteFlag != 0)
            continue;
        BYTE data[OTP_BLOCK_LENGTH];
        std::memcpy(data, r.pData, sizeof(data));
        if (KVBL_DNLOAD(handle, p.OTP_Data_Address + r.PartAddress, data, OTP_BLOCK_LENGTH, 0) != SUCCESS) {
            WriteInforAndWaitInput("Write OTP data failed!");
            return false;
        }
    }
    for (int i = 0; i < m_listWriteOTPData.size(); ++i) {
        if (m_listWriteOTPData[i].LockFlag != 0)
            continue;
        BYTE lock = 0;
        if (KVBL_DNLOAD(handle, p.OTP_Lock_Address + static_cast<DWORD>(i), &lock, 1, 0) != SUCCESS) {
            WriteInforAndWaitInput("Write OTP lock failed!");
            return false;
        }
    }
    return true;
}
