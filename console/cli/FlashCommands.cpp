// The commands that work on the flash contents: erase, download, upload, run.

#include "cli/FlashCommands.h"

#include "ShareParameter.h"
#include "cli/CommandChecks.h"
#include "cli/Handlers.h"
#include "cli/LineCheck.h"
#include "cli/ProductionLog.h"
#include "cli/Progress.h"
#include "cli/SubOptionWalk.h"
#include "device/Device.h"
#include "files/ProgramFile.h"
#include "link/BootLoader.h"
#include "link/Com.h"
#include "operations/Download.h"
#include "operations/Erase.h"
#include "operations/FlashLayout.h"
#include "operations/Upload.h"
#include "result/Result.h"

#include <QFile>
#include <QFileInfo>
#include <QString>
#include <QThread>

#include <cstdio>
#include <iostream>

namespace {

CBootLoader* LinkOf(CCom* com)
{
    return com ? com->GetBootLoader() : nullptr;
}

// A value that is a command or sub-option word is no value.
bool IsRealValue(const CSubOptionWalk& walk)
{
    if (!walk.HasValue() || walk.Value().empty())
        return false;
    return !Is_Option(walk.Value().c_str()) && !Is_SubOption(walk.Value().c_str());
}

QList<int> SectorsOf(int begin, int end)
{
    QList<int> sectors;
    for (int s = begin; s <= end; ++s)
        sectors.append(s);
    return sectors;
}

// Reads a "--sec" value and checks it against the chip.
bool ReadCheckedRange(const CSubOptionWalk& walk, CCom* com, int& begin, int& end)
{
    if (!IsRealValue(walk))
        return false;
    ReadSectorRange(walk.Value(), begin, end);
    return IsSectorsValid(begin, end, com) && IsSectorRangeOnChip(begin, end, com);
}

enum class RangeCheck { Ok, NoSpim, OutOfSpim, OutOfFlash };

// One run of bytes [address, address + length) against both windows, in
// 64-bit arithmetic so that nothing wraps.
RangeCheck CheckRange(uint64_t address, uint64_t length, uint64_t flashBytes, uint64_t spimBytes,
                      bool haveSpim)
{
    const uint64_t end = address + length;
    if (address > FlashLayout::kMainFlashLast) {
        if (!haveSpim)
            return RangeCheck::NoSpim;
        if (FlashLayout::kBank3Base + spimBytes < end)
            return RangeCheck::OutOfSpim;
        return RangeCheck::Ok;
    }
    if (address < FlashLayout::kFlashBase || FlashLayout::kFlashBase + flashBytes < end)
        return RangeCheck::OutOfFlash;
    return RangeCheck::Ok;
}

bool ReportRange(RangeCheck check)
{
    switch (check) {
    case RangeCheck::NoSpim:
        WriteInforAndWaitInput("Error:  No operation can be performed without using SPIM!");
        return false;
    case RangeCheck::OutOfSpim:
        WriteInforAndWaitInput("Error:  The file download address or file size out of SPIM range!");
        return false;
    case RangeCheck::OutOfFlash:
        WriteInforAndWaitInput("Error:  The file download address or file size out of flash range!");
        return false;
    case RangeCheck::Ok:
    default:
        return true;
    }
}

}  // namespace

bool IsSectorRangeOnChip(int begin, int end, CCom* com)
{
    const CDevice* device = ConnectedDevice(com);
    if (!device || begin < 0 || end < begin || !FlashLayout::IsUsableSectorSize(device->m_ISectorSize))
        return false;
    const long long mainCount =
        static_cast<long long>(device->m_IFlashSize) * 1024 / device->m_ISectorSize;
    if (end < mainCount)
        return true;
    if (!device->m_haveBank3)
        return false;
    unsigned long long spimKB = device->m_Bank3Szie ? device->m_Bank3Szie : g_shareParameter.c_SPIMSize;
    const long long spimCount = static_cast<long long>(spimKB * 1024 / FlashLayout::kBank3SectorSize);
    return begin >= FlashLayout::kBank3FirstSector &&
           end < FlashLayout::kBank3FirstSector + spimCount;
}

bool DownloadFileAndAddressCheck(const std::string& name, uint32_t address, CBootLoader* link)
{
    if (name.empty() || !QFile::exists(QString::fromStdString(name))) {
        WriteInforAndWaitInput("Error:  Please select download file! File Name is " + name);
        return false;
    }
    CDevice* device = link ? link->GetDevice() : nullptr;
    if (!device) {
        WriteInforAndWaitInput("Error:  Device operation failed");
        return false;
    }
    const ShareParameter& p = g_shareParameter;
    const uint64_t flashBytes = static_cast<uint64_t>(device->m_IFlashSize) * 1024;
    const uint64_t spimBytes = static_cast<uint64_t>(p.c_SPIMSize) * 1024;
    const CFiles::Type type = CFiles::ParseFileType(name);
    // The whole binary goes to the address: its size on disk counts, checked
    // before the file is read, so that a huge file is refused at once.
    if (type == CFiles::BIN &&
        !ReportRange(CheckRange(address, static_cast<uint64_t>(QFileInfo(QString::fromStdString(name)).size()),
                                flashBytes, spimBytes, p.c_haveSPIM)))
        return false;
    CProgramFile file;
    const int r = file.OpenPatiently(name, device, [](unsigned long ms) {
        QThread::msleep(ms);
        return true;
    });
    // HEX, S-record and ELF data carry their addresses: every run is checked
    // as the file gives it, also when the open refused data the chip cannot
    // hold.
    if (type != CFiles::BIN) {
        for (const AddressRange& range : file.GetFileRanges()) {
            const RangeCheck check =
                CheckRange(range.address, range.length, flashBytes, spimBytes, p.c_haveSPIM);
            if (check != RangeCheck::Ok)
                return ReportRange(check);
        }
    }
    if (r != 0) {
        WriteInforAndWaitInput("Error:  Download file open failed!");
        std::cerr << name << ": " << CFiles::LastError() << std::endl;
        return false;
    }
    return true;
}

int Erase(int argc, char** argv, int& i, CCom* com, bool& bErased)
{
    CBootLoader* link = LinkOf(com);
    if (!link)
        return EXIT_NOT_CONNECTED;
    CSubOptionWalk walk(argc, argv, i);
    while (walk.Next()) {
        if (walk.Name() == "--all") {
            walk.StepBack();
            if (LineCheck::Active()) {
                bErased = true;
                continue;
            }
            link->EraseFlash(EraseParam());
            if (!WaitOperation(com))
                return g_shareParameter.c_haveSPIM ? EXIT_MASS_ERASE_SPIM_FAILED
                                                   : EXIT_MASS_ERASE_FAILED;
            // Only a mass erase leaves the whole flash blank for the download.
            bErased = true;
        } else if (walk.Name() == "--sec") {
            int begin = 0, end = 0;
            if (!ReadCheckedRange(walk, com, begin, end)) {
                WriteInforAndWaitInput("bad parameter " + walk.Value());
                return EXIT_SECTOR_ERASE_FAILED;
            }
            if (LineCheck::Active())
                continue;
            EraseParam request;
            request.m_iSectorIndex = SectorsOf(begin, end);
            link->EraseFlash(request);
            if (!WaitOperation(com))
                return EXIT_SECTOR_ERASE_FAILED;
        }
    }
    if (walk.Bad()) {
        WriteBadParameterInfor(argv, i);
        return EXIT_BAD_PARAMETER;
    }
    return EXIT_OK;
}

bool Download(int argc, char** argv, int& i, bool bErased, CCom* com)
{
    CBootLoader* link = LinkOf(com);
    if (!link)
        return false;
    ShareParameter& p = g_shareParameter;
    bool crc = false;
    bool delta = false;
    CSubOptionWalk walk(argc, argv, i);
    while (walk.Next()) {
        const std::string& name = walk.Name();
        if (name == "--crc") {
            crc = true;
            walk.StepBack();
        } else if (name == "--delta") {
            delta = true;
            walk.StepBack();
        } else if (name == "--addr" || name == "--a") {
            if (walk.HasValue())
                p.c_address = ShareParameter::StringToUInt32(walk.Value(), 16);
        } else if (name == "--v") {
            p.c_Verify = true;
            walk.StepBack();
        } else if (name == "--o") {
            p.c_optimize = true;
            walk.StepBack();
        } else if (name == "--fn") {
            if (!IsValidFileName(walk.Value())) {
                WriteBadParameterInfor(argv, walk.Index());
                return false;
            }
            p.c_filename = walk.Value();
        }
    }
    if (walk.Bad()) {
        WriteBadParameterInfor(argv, i);
        return false;
    }
    CommandReport& report = CurrentReport();
    report.file = p.c_filename;
    // A file an earlier command of the line writes is checked when it is
    // used.
    if (!LineCheck::IsWrittenByLine(p.c_filename) &&
        !DownloadFileAndAddressCheck(p.c_filename, p.c_address, link))
        return false;
    if (LineCheck::Active())
        return true;

    DownloadParam request;
    request.m_strDownPathFile.append(p.c_filename);
    request.m_uiStartAddress.append(p.c_address);
    request.m_enEraseMode = bErased ? ERASEMODE_NONE : NECESSARY;
    request.m_bOptimize = p.c_optimize;
    request.m_bJump = false;
    request.m_bVerify = p.c_Verify;
    request.m_UserSystemDataArray = nullptr;
    request.m_bFAP = false;
    request.m_bFAPLevel = 1;
    request.m_bEnBank3 = p.c_haveSPIM;
    request.m_bRemapFlag = p.c_bRemapFlag;
    request.m_bNeedRemap = p.c_bNeedRemap;
    request.m_bFlashType = p.c_SPIMType == 1 ? 0x91 : 0x90;
    request.m_uiFlashSize = p.c_SPIMSize;
    request.m_uiFlashDA = p.c_SPIMDA;
    if (crc || delta) {
        const Commands* commands = link->GetCommands();
        if (commands && commands->FIRMWARE_CRC_CMD) {
            // A delta download is always checked whole by the chip's CRC.
            request.m_bCRC = true;
            request.m_bDelta = delta;
        } else {
            WriteInforAndWaitInput(delta ? "The chip has no firmware CRC command: downloading every "
                                           "sector and checking by read-back."
                                         : "The chip has no firmware CRC command: checking by read-back.");
            request.m_bVerify = true;
        }
    }
    link->DownloadToDevice(request);
    const bool done = WaitOperation(com);
    const CDownload* download = dynamic_cast<const CDownload*>(link->GetOperation());
    if (download)
        report.hasCrc = download->ImageChecksum(report.crc);
    const CDeltaPlan* plan = download && done ? download->GetDeltaPlan() : nullptr;
    if (plan) {
        const int written = plan->ChangedSectors().size();
        WriteInforAndWaitInput("Sectors written: " + std::to_string(written) + " of " +
                               std::to_string(plan->SectorCount()) +
                               (written == 0 ? " (the chip already held the image)"
                                : written < plan->SectorCount() ? " (the others already held the image)"
                                                                : ""));
    }
    return done;
}

bool Upload(int argc, char** argv, int& i, CCom* com)
{
    CBootLoader* link = LinkOf(com);
    if (!link)
        return false;
    QList<int> sectors;
    std::string fileName;
    CSubOptionWalk walk(argc, argv, i);
    while (walk.Next()) {
        if (walk.Name() == "--sec") {
            // Without a value the range reads as sector 0 (reading is
            // harmless); a word that follows is looked at as itself.
            int begin = 0, end = 0;
            if (IsRealValue(walk))
                ReadSectorRange(walk.Value(), begin, end);
            else if (walk.HasValue() && !walk.Value().empty())
                walk.StepBack();
            if (!IsSectorsValid(begin, end, com) || !IsSectorRangeOnChip(begin, end, com)) {
                WriteBadParameterInfor(argv, walk.Index());
                return false;
            }
            sectors.append(SectorsOf(begin, end));
        } else if (walk.Name() == "--fn") {
            if (!IsValidFileName(walk.Value()) || !CanWriteImageKind(walk.Value())) {
                WriteBadParameterInfor(argv, walk.Index());
                return false;
            }
            fileName = walk.Value();
        }
    }
    if (walk.Bad()) {
        WriteBadParameterInfor(argv, i);
        return false;
    }
    if (sectors.isEmpty())
        sectors = GetAllSectors(com);
    if (fileName.empty()) {
        WriteInforAndWaitInput("Upload file name error.");
        return false;
    }
    CommandReport& report = CurrentReport();
    report.file = fileName;
    // Where the file cannot be made, the chip is not read at all.
    const int creatable = CheckFileCreatable(fileName);
    if (creatable != 0) {
        WriteInforAndWaitInput(CResult::GetInfoStringName(creatable));
        return false;
    }
    if (LineCheck::Active()) {
        LineCheck::NoteWrittenFile(fileName);
        return true;
    }
    UploadParam request;
    request.m_strUploadPathFile = fileName;
    request.m_aSectorIndexs = sectors;  // sorted and freed of repeats by the operation
    request.m_bank3Size = static_cast<int>(g_shareParameter.c_SPIMSize);
    link->UploadFromDevice(request);
    const bool done = WaitOperation(com);
    const CUpload* upload = dynamic_cast<const CUpload*>(link->GetOperation());
    if (done && upload)
        report.hasCrc = upload->ImageChecksum(report.crc);
    return done;
}

bool RunAtAddress(int argc, char** argv, int& i, CCom* com)
{
    CBootLoader* link = LinkOf(com);
    if (!link)
        return false;
    uint32_t address = FlashLayout::kFlashBase;
    CSubOptionWalk walk(argc, argv, i);
    while (walk.Next()) {
        if ((walk.Name() == "--addr" || walk.Name() == "--a") && walk.HasValue())
            address = ShareParameter::StringToUInt32(walk.Value(), 16);
    }
    if (walk.Bad()) {
        WriteBadParameterInfor(argv, i);
        return false;
    }
    if (LineCheck::Active())
        return true;
    int r = link->JumpToUserProgram(address);
    char line[64];
    std::snprintf(line, sizeof line, "Your code is running... (0x%08X)", address);
    WriteInforAndWaitInput(line);
    return r == 0;
}
