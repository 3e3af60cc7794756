#include "cli/LineCheck.h"

#include <QDir>
#include <QList>
#include <QString>

#include <set>

#include "ShareParameter.h"
#include "cli/CommandChecks.h"
#include "cli/OtpFile.h"
#include "device/Device.h"

namespace LineCheck {
namespace {

struct Saved {
    bool active = false;
    ShareParameter settings;
    CDevice* device = nullptr;
    bool haveBank3 = false;
    int bank3Type = 0;
    unsigned int bank3Size = 0;
    unsigned int bank3FlashDA = 0;
    bool bank3Remap = false;
    QList<OTP_CONFIG_INFO> otpRecords;
    std::set<std::string> written;
};

Saved& State()
{
    static Saved saved;
    return saved;
}

// Names of one file compare equal however the line spells its folder.
std::string Canonical(const std::string& path)
{
    return QDir::cleanPath(QString::fromStdString(path)).toStdString();
}

}  // namespace

bool Active()
{
    return State().active;
}

void Begin(CCom* com)
{
    Saved& s = State();
    s.settings.CopySettingsFrom(g_shareParameter);
    s.device = ConnectedDevice(com);
    if (s.device) {
        s.haveBank3 = s.device->m_haveBank3;
        s.bank3Type = s.device->m_Bank3Type;
        s.bank3Size = s.device->m_Bank3Szie;
        s.bank3FlashDA = s.device->m_Bank3FlashDA;
        s.bank3Remap = s.device->m_Nank3RemapFlag;
    }
    s.otpRecords = m_listWriteOTPData;
    s.written.clear();
    s.active = true;
}

void End(CCom* com)
{
    Saved& s = State();
    if (!s.active)
        return;
    g_shareParameter.CopySettingsFrom(s.settings);
    if (s.device && ConnectedDevice(com) == s.device) {
        s.device->m_haveBank3 = s.haveBank3;
        s.device->m_Bank3Type = s.bank3Type;
        s.device->m_Bank3Szie = s.bank3Size;
        s.device->m_Bank3FlashDA = s.bank3FlashDA;
        s.device->m_Nank3RemapFlag = s.bank3Remap;
    }
    m_listWriteOTPData = s.otpRecords;
    s.written.clear();
    s.device = nullptr;
    s.active = false;
}

void NoteWrittenFile(const std::string& path)
{
    if (Active())
        State().written.insert(Canonical(path));
}

bool IsWrittenByLine(const std::string& path)
{
    return Active() && State().written.count(Canonical(path)) != 0;
}

}  // namespace LineCheck
