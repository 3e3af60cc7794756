#include "cli/CommandChecks.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "ShareParameter.h"
#include "device/Device.h"
#include "files/FileImage.h"
#include "link/BootLoader.h"
#include "link/Com.h"
#include "result/Result.h"

namespace {

bool EndsWith(const std::string& text, const std::string& suffix)
{
    return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// The last path component, upper-cased; false when the name is no full path.
bool LastComponent(const std::string& name, std::string& last)
{
    const size_t slash = name.rfind('/');
    if (name.empty() || slash == std::string::npos)
        return false;
    last = ShareParameter::ToUpper(name.substr(slash + 1));
    return true;
}

// Sectors of the main flash; 0 when the description cannot tell.
long MainSectorCount(const CDevice* device)
{
    if (device == nullptr || device->m_ISectorSize == 0 || device->m_IFlashSize <= 0)
        return 0;
    return static_cast<long>(static_cast<long long>(device->m_IFlashSize) * 1024 / device->m_ISectorSize);
}

} // namespace

void ReadSectorRange(const std::string& text, int& begin, int& end)
{
    const size_t dash = text.rfind('-');
    if (dash == std::string::npos) {
        begin = ShareParameter::StringToInt32(text, 10);
        end = ShareParameter::StringToInt32(text.empty() ? text : text.substr(0, text.size() - 1), 10);
        return;
    }
    begin = ShareParameter::StringToInt32(text.substr(0, dash), 10);
    end = ShareParameter::StringToInt32(text.substr(dash + 1), 10);
}

CDevice* ConnectedDevice(CCom* com)
{
    if (com == nullptr || com->GetBootLoader() == nullptr)
        return nullptr;
    return com->GetBootLoader()->GetDevice();
}

int SeriesCode(CCom* com)
{
    const CDevice* device = ConnectedDevice(com);
    if (device == nullptr)
        return -1;
    return static_cast<int>(std::strtol(device->m_StrSerial.c_str(), nullptr, 16));
}

QList<int> GetAllSectors(CCom* com)
{
    QList<int> sectors;
    const long count = MainSectorCount(ConnectedDevice(com));
    for (long k = 0; k < count; ++k)
        sectors.append(static_cast<int>(k));
    return sectors;
}

bool IsSectorsValid(int begin, int end, CCom* com)
{
    if (begin < 0 || end < 0 || end < begin)
        return false;
    const CDevice* device = ConnectedDevice(com);
    if (device == nullptr)
        return false;
    if (device->m_haveBank3) {
        const int series = SeriesCode(com);
        return series == 2 || series == 4 || series == 7 || series == 8;
    }
    const long count = MainSectorCount(device);
    return begin < count && end < count;
}

bool IsValidFileName(const std::string& name)
{
    std::string last;
    if (!LastComponent(name, last))
        return false;
    return EndsWith(last, "HEX") || EndsWith(last, "BIN") || EndsWith(last, "SREC") || EndsWith(last, "S19") ||
           EndsWith(last, "ELF");
}

bool IsValidOTPFileName(const std::string& name)
{
    std::string last;
    if (!LastComponent(name, last))
        return false;
    return EndsWith(last, "KVTP");
}

bool CanWriteImageKind(const std::string& name)
{
    const CFiles::Type type = CFiles::ParseFileType(name);
    return type == CFiles::BIN || type == CFiles::HEX || type == CFiles::S19;
}

int CheckFileCreatable(const std::string& name)
{
    const size_t slash = name.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : name.substr(0, slash);
    struct stat info;
    std::string reason;
    int code = CResult::FILES_UNABLETOOPENTEMPFILE;
    if (stat(folder.c_str(), &info) != 0)
        reason = "folder " + folder + ": " + std::strerror(errno);
    else if (!S_ISDIR(info.st_mode))
        reason = folder + " is no folder";
    else if (access(folder.c_str(), W_OK | X_OK) != 0)
        reason = "folder " + folder + ": " + std::strerror(errno);
    else if (stat(name.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
        reason = "it is a folder";
        code = CResult::FILES_UNABLETOOPENFILE;
    } else
        return 0;
    std::cerr << "Cannot write " << name << ": " << reason << std::endl;
    return code;
}
