#include "cli/ProductionLog.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "ShareParameter.h"
#include "cli/Handlers.h"
#include "link/BootLoader.h"
#include "link/Com.h"
#include "device/Device.h"

namespace {

// A JSON string: quotes, backslashes and control characters escaped; bytes
// that are no UTF-8 become U+FFFD.
std::string Quoted(const std::string& text)
{
    std::string out = "\"";
    const size_t n = text.size();
    for (size_t k = 0; k < n;) {
        const unsigned char c = static_cast<unsigned char>(text[k]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
            ++k;
        } else if (c < 0x20 || c == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
            ++k;
        } else if (c < 0x80) {
            out += static_cast<char>(c);
            ++k;
        } else {
            // Length of the sequence and its first byte's range.
            size_t len = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 && c <= 0xDF ? 2 : 0;
            bool ok = len > 0 && k + len <= n;
            for (size_t j = 1; ok && j < len; ++j)
                ok = (static_cast<unsigned char>(text[k + j]) & 0xC0) == 0x80;
            if (ok && len == 3) {
                const unsigned char d = static_cast<unsigned char>(text[k + 1]);
                ok = !(c == 0xE0 && d < 0xA0) && !(c == 0xED && d >= 0xA0);
            } else if (ok && len == 4) {
                const unsigned char d = static_cast<unsigned char>(text[k + 1]);
                ok = !(c == 0xF0 && d < 0x90) && !(c == 0xF4 && d >= 0x90);
            }
            if (ok) {
                out.append(text, k, len);
                k += len;
            } else {
                out += "\\ufffd";
                ++k;
            }
        }
    }
    return out + "\"";
}

std::string OrNull(bool present, const std::string& text)
{
    return present ? Quoted(text) : "null";
}

// Local time in ISO 8601 with milliseconds and the zone's offset.
std::string Now()
{
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const long millis = static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000);
    std::tm local{};
    localtime_r(&seconds, &local);
    char stamp[32], zone[8];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S", &local);
    std::strftime(zone, sizeof zone, "%z", &local);  // +0200
    char text[48];
    std::snprintf(text, sizeof text, "%s.%03ld%.3s:%.2s", stamp, millis, zone, zone + 3);
    return text;
}

const char* InterfaceName(char type)
{
    switch (type) {
    case INTERFACE_USART: return "usart";
    case INTERFACE_DFU: return "dfu";
    case INTERFACE_I2C: return "i2c";
    case INTERFACE_CAN: return "can";
    case INTERFACE_SPI: return "spi";
    default: return nullptr;
    }
}

bool IsConnectWord(const std::string& word)
{
    return word == "-com" || word == "-dfu" || word == "-i2c" || word == "-can" || word == "-spi";
}

bool s_connectTried = false;

}  // namespace

CommandReport& CurrentReport()
{
    static CommandReport report;
    return report;
}

CProductionLog& CProductionLog::Instance()
{
    static CProductionLog log;
    return log;
}

bool CProductionLog::FindLogFile(int argc, char** argv, std::string& path)
{
    for (int k = 0; k < argc; ++k) {
        if (argv[k] != nullptr && ShareParameter::ToLower(argv[k]) == "--log") {
            path = k + 1 < argc && argv[k + 1] != nullptr ? argv[k + 1] : "";
            return true;
        }
    }
    return false;
}

bool CProductionLog::Open(const std::string& path, std::string& reason)
{
    if (path.empty()) {
        reason = "no file name";
        return false;
    }
    // The umask decides who may read it.
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY, 0666);
    if (fd < 0) {
        reason = std::strerror(errno);
        return false;
    }
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = fd;
    return true;
}

void CProductionLog::Close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    ForgetChip();
    s_connectTried = false;
}

void CProductionLog::ForgetChip()
{
    m_haveChip = false;
    m_pid.clear();
    m_uid.clear();
}

void CProductionLog::NoteChip(CCom* com)
{
    ForgetChip();
    CBootLoader* link = com ? com->GetBootLoader() : nullptr;
    CDevice* device = link ? link->GetDevice() : nullptr;
    if (!IsOpen() || !device)
        return;
    m_haveChip = true;
    m_pid = device->m_StrPID;
    unsigned char uid[CBootLoader::UID_LENGTH] = {};
    // A protected chip refuses the read: the record then has no identifier.
    if (link->GetUID(uid) == 0) {
        char hex[2 * CBootLoader::UID_LENGTH + 1];
        for (int k = 0; k < CBootLoader::UID_LENGTH; ++k)
            std::snprintf(hex + 2 * k, 3, "%02X", uid[k]);
        m_uid = hex;
    }
}

void CProductionLog::Begin(const std::string& command)
{
    CommandReport& report = CurrentReport();
    report.file.clear();
    report.hasCrc = false;
    report.crc = 0;
    report.bytes = 0;
    if (IsConnectWord(command)) {
        s_connectTried = true;
        ForgetChip();
    }
    m_command = command;
    m_time = Now();
    m_start = std::chrono::steady_clock::now();
}

std::string CProductionLog::Record(int exitCode, const std::string& message) const
{
    const ShareParameter& p = g_shareParameter;
    const CommandReport& report = CurrentReport();
    const char* interface = s_connectTried ? InterfaceName(p.m_InterfaceType) : nullptr;
    const std::string& port = p.m_InterfaceType == INTERFACE_DFU ? p.str_DFUDevice : p.str_portName;
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
    char crc[16], number[64];
    std::snprintf(crc, sizeof crc, "%08x", report.crc);
    std::string line = "{\"time\": " + Quoted(m_time);
    line += ", \"interface\": " + OrNull(interface != nullptr, interface ? interface : "");
    line += ", \"port\": " + OrNull(interface != nullptr && !port.empty(), port);
    line += ", \"pid\": " + OrNull(m_haveChip, m_pid);
    line += ", \"uid\": " + OrNull(m_haveChip && !m_uid.empty(), m_uid);
    line += ", \"command\": " + Quoted(m_command);
    line += ", \"file\": " + OrNull(!report.file.empty(), report.file);
    line += ", \"crc32\": " + OrNull(report.hasCrc, crc);
    std::snprintf(number, sizeof number, ", \"exit_code\": %d", exitCode);
    line += number;
    line += ", \"message\": " + Quoted(message);
    std::snprintf(number, sizeof number, ", \"seconds\": %.3f, \"bytes\": %llu}\n", seconds,
                  static_cast<unsigned long long>(report.bytes.load()));
    line += number;
    return line;
}

void CProductionLog::End(int exitCode, const std::string& message)
{
    if (!IsOpen())
        return;
    const std::string line = Record(exitCode, message);
    // One write per record: lines of runs sharing the file never mix.
    size_t done = 0;
    while (done < line.size()) {
        const ssize_t n = ::write(m_fd, line.data() + done, line.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<size_t>(n);
    }
}
