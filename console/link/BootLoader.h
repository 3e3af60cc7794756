// The link with one target's factory bootloader over one open port: the
// handshake per interface type, the command set, the chip's identity and its
// description from the device catalogue.
#ifndef TARNFLASH_LINK_BOOTLOADER_H
#define TARNFLASH_LINK_BOOTLOADER_H

#include <functional>
#include <string>

#include "KVBL.h"
#include "device/DeviceManager.h"
#include "operations/OperationLink.h"

class CCom;
class CDevice;
class CUserSystemData;
class CUserSystemDataFile;
class COperation;

class CBootLoader : public COperationLink
{
public:
    // Fixed target addresses read while identifying a chip.
    static constexpr DWORD UID_ADDRESS = 0x1FFFF7E8;
    static constexpr int UID_LENGTH = 12;
    static constexpr DWORD BID_BLOCK_ADDRESS = 0x1FFFB100;
    static constexpr int BID_BLOCK_LENGTH = 8;

    CBootLoader(CCom* hCCom, char type);
    ~CBootLoader();
    CBootLoader(const CBootLoader&) = delete;
    CBootLoader& operator=(const CBootLoader&) = delete;

    void SetI2CSettings(unsigned int uiAddr, unsigned long ulRate, unsigned char bDutyCycle);
    void SetCANSettings(unsigned int uiCANSpeed);
    void SetSPISettings(unsigned long ulSPISpeed);

    int Connect();
    // The library's reset handler (KVBL_SetResetHandler) of a USART link
    // with automatic boot entry: the boot-line sequence and the connect.
    static BYTE ResetThroughBootLines(HANDLE hCOM, void* context);
    int InitDevice();
    bool HasInitDevice() const { return m_ObDevice != nullptr; }
    // Why the last InitDevice refused the catalogue's description of the
    // chip (it disagrees with itself or with the chip); empty otherwise.
    const std::string& CatalogueProblem() const { return m_strCatalogueProblem; }
    bool IsNeedReeonnect();
    int Get(char* Version, Commands* pCmds);
    int GetVersion(std::string& strVersion, std::string& strBid);
    void GetBID(std::string& strBID);
    int GetUID(unsigned char* bUID);
    int GetPID(std::string& strPID, BYTE& chipSeries);
    int GetFlashSize(unsigned int uiAddr, int& size);
    static int KV32GetFlashSize(unsigned int value);
    int SetComPaketSize(int size);
    int GetAccessProtectiosStatus(bool* bEnabled);

    // The pure parts of identification, also used by the tests.
    // PID text and series from a GET_ID answer; false for a length other
    // than 2 or 5.
    static bool DecodeProductId(const BYTE* id, int length, std::string& strPID, BYTE& chipSeries);
    // Version and BID texts from the GET_VER_ROPS bytes; bid receives the
    // numeric BID, or stays unchanged when the chip gives none.
    static void DecodeVersion(BYTE bVersion, BYTE bBIDReserve, BYTE bBID, std::string& strVersion,
                              std::string& strBid, int& bid);
    // BID text from byte 6 of the fallback block.
    static std::string DecodeFallbackBID(BYTE value);

    HANDLE GetHandle() const { return m_handle; }
    CCom* GetCom() const { return m_hCCOM; }
    char GetInterfaceType() const { return m_InterfaceType; }
    CDevice* GetDevice() const { return m_ObDevice; }
    const Commands* GetCommands() const { return m_pCmds; }
    int GetBIDValue() const { return m_BID; }
    bool HasJumpToUserProgram() const { return m_bHasJumpToUserProgram; }

    // ---- actions on the target (link actions, operations) -------------------
    // Declared by the operations code in the block below.
    // Defined in link/BootLoaderActions.cpp.

    // The one current operation (owned); null when none was created.
    COperation* GetOperation() const { return m_ObOperation; }
    // Waits for the current operation's thread, then deletes it.
    void FreeOperation();
    // Operation-starting methods: free the previous operation, create the new
    // one and hand it the record. The front end starts and waits for it.
    void EraseFlash(const struct EraseParam& parameters);
    void DownloadToDevice(const struct DownloadParam& parameters);
    void UploadFromDevice(const struct UploadParam& parameters);
    void AccessProtect(BYTE Level);
    void ReadoutUnProtect();
    void EraseProgramProtect(const QList<int>& nSectorIndex);
    void WriteUnProtect();
    void EnableBank3Func(const struct EnBank3Param& parameters);
    void EnableSlib(const struct EnableSlibParam& parameters);
    void DisableSlib(unsigned int password);
    void DisableSlibCheck(unsigned int password);
    void FirmwareCRCCheck(const struct FWCRCParam& parameters);
    void FlashCRCCheck(const struct FlashCRCParam& parameters);
    void DownloadToDeviceProject(const struct DLPROJECTParam& parameters);

    // The cached option bytes (owned); null until first read.
    CUserSystemData* GetUserSystemDataModel() const { return m_ObUserSystemData; }
    int GetUserSystemData();
    int SetUserSystemData();
    int SaveUserSystemDatatoFile(const std::string& strFilePath);
    int LoadUserSystemDataFromFile(const std::string& strFilePath);
    int LoadUserSystemDataFromFileToDevice(const std::string& strFilePath);
    int LoadUserSystemDataFromFileToDeviceExceptFAP(const std::string& strFilePath);
    // Whether the file's option bytes can be written to this chip (as the
    // two calls above would), without touching the chip: 0 or the error.
    int CheckUserSystemDataFile(const std::string& strFilePath, bool exceptFAP);
    int LoadUserSystemDataToDevice(unsigned char* usersystemdata, unsigned int usersystemdataLen);
    int LoadUserSystemDataToDeviceExceptFAP(unsigned char* usersystemdata,
                                            unsigned int usersystemdataLen);
    bool HasBeenEraseProgramProtect(const QList<int>& aSectorIndexs);
    int JumpToUserProgram(unsigned int uiAddress);
    int ResetMcu();
    int ResetMcuS90();
    int ReadoutUnProtectNoThread();
    int EnableSPIM(const struct EnBank3Param& parameters);
    // After the chip restarted: close, reopen (up to 5 passes 2 s apart),
    // reconnect. keepWaitingWithoutDevice: an empty DFU list does not end
    // the waiting. Returns the converted last open result when the port never
    // reopened, else the result of Connect().
    int ReconnectAfterReset(bool keepWaitingWithoutDevice, bool discardUserSystemData);
    // On a DFU link: one line on standard error saying that the chip did not
    // come back after `passes` reopen passes, with what the library knows.
    void TellDFUDeviceGone(int passes) const;

    // The reopen passes of a reconnect, with the device-list check, the open
    // and the wait handed in. Each pass waits, then asks deviceListed(): false
    // ends the passes early (gaveUp) unless keepWaitingWithoutDevice; true
    // tries open(), and SUCCESS ends them (reopened).
    struct ReopenOutcome {
        bool reopened = false;
        bool gaveUp = false;
        BYTE lastOpen = CANT_OPEN_COM;  // the last open's result
        int passes = 0;                 // passes begun
    };
    static constexpr int REOPEN_PASSES = 5;
    static ReopenOutcome ReopenPasses(bool keepWaitingWithoutDevice,
                                      const std::function<bool()>& deviceListed,
                                      const std::function<BYTE()>& open,
                                      const std::function<void()>& waitBeforePass);

    // ---- end of actions -----------------------------------------------------

private:
    HANDLE m_handle = nullptr;
    Commands* m_pCmds = nullptr;
    CDevice* m_ObDevice = nullptr;
    CUserSystemData* m_ObUserSystemData = nullptr;
    CUserSystemDataFile* m_ObUserSystemDataFile = nullptr;
    COperation* m_ObOperation = nullptr;
    bool m_bHasJumpToUserProgram = false;
    char m_InterfaceType = 0;
    int m_BID = 0;
    CCom* m_hCCOM = nullptr;
    unsigned int m_uiAddr = 60;
    unsigned long m_ulRate = 400000;
    unsigned char m_bDutyCycle = 0;
    unsigned int m_uiCANSpeed = 2;
    unsigned long m_ulSPISpeed = 150000;
    CDeviceManager m_pDeviceManager;
    std::string m_strCatalogueProblem;
};

#endif
