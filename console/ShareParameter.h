// The run's settings, the front-end/operation handshake flags, and the
// project-file and file-information records.
#ifndef TARNFLASH_SHAREPARAMETER_H
#define TARNFLASH_SHAREPARAMETER_H

#include <QList>

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

class CCom;

class ShareParameter
{
public:
    ShareParameter();

    int c_portNumber = 0;
    std::string str_portName;
    int c_BaudRate = 0;
    int c_DataBits = 0;
    int c_parity = 0;
    int c_timeout = 0;
    bool c_autoConnectFlag = false;
    int c_autoConnectOption = 0;
    uint32_t addr = 0;
    uint32_t rate = 0;
    uint32_t dc = 0;
    uint32_t uiCANSpeed = 0;
    uint64_t ulSPISpeed = 0;
    uint32_t c_address = 0;
    uint32_t c_size = 0;
    std::string c_filename;
    bool c_Verify = false;
    bool c_optimize = false;
    std::string c_otpfilename;
    bool c_haveSPIM = false;
    uint32_t c_SPIMSize = 0;
    bool c_bNeedRemap = false;
    bool c_bRemapFlag = false;
    uint8_t c_SPIMType = 0;
    uint32_t c_SPIMDA = 0;
    uint32_t OTP_Data_Address = 0;
    int OTP_Data_Length = 0;
    uint32_t OTP_Lock_Address = 0;
    int OTP_Lock_Length = 0;
    CCom* c_obCCom = nullptr;
    std::atomic<bool> c_OperationFlag{false};
    std::atomic<bool> c_OperationSucceedFlag{false};
    int c_operationPersent = 0;
    std::string c_strFilePath;
    char m_InterfaceType = 0;
    // The USB device a "-dfu" connect chose, as its listing names it.
    std::string str_DFUDevice;

    // Copies every setting of the run from other; the handshake flags and
    // the connection of the running operation stay as they are.
    void CopySettingsFrom(const ShareParameter& other);

    // strtoll of the text in the given base (blanks, sign, "0x" in base 16
    // accepted; stops at the first bad character; no digits gives 0), cut to
    // 32 bits.
    static int32_t StringToInt32(const std::string& text, int base);
    static uint32_t StringToUInt32(const std::string& text, int base);
    // Decimal conversion like atoi, without its undefined overflow.
    static int IntParse(const std::string& text);
    // "NONE" 0, "ODD" 1, anything else 2 (exact match).
    static int ParityToInt(const std::string& text);
    static std::string ToUpper(const std::string& text);
    static std::string ToLower(const std::string& text);
};

extern ShareParameter g_shareParameter;

// ---- project file header ----------------------------------------------------
constexpr int PROJECTFILE_HEADER_VALID_LENGTH = 41378;
constexpr int PROJECTFILE_HEADER_EXTEND_LENGTH = 1024;
constexpr int PROJECTFILE_HEADER_LENGTH = PROJECTFILE_HEADER_VALID_LENGTH + PROJECTFILE_HEADER_EXTEND_LENGTH;
constexpr int PROJECTFILE_KEY_LENGTH = 24;
constexpr int PROJECTFILE_CHECKSUM_LENGTH = 4;
constexpr int PROJECTFILE_MAX_FILE_NUM = 10;
constexpr int PROJECTFILE_ONECODE_MAX_SIZE = 32;
constexpr int PROJECTFILE_NAME_MAX_SIZE = 64;
constexpr int PROJECTFILE_SPIMNAME_MAX_SIZE = 64;
constexpr int PROJECTFILE_MCU_NAME_LENGTH = 64;
constexpr int PROJECTFILE_OPT_DATA_LENGTH = 48;
constexpr int PROJECTFILE_MAX_PART_NUM = 512;

struct ProjectFileHeader
{
    uint32_t file_version = 0;
    uint8_t mcu_serial = 0;
    uint32_t mcu_Pid = 0;
    uint8_t mcu_target_name[PROJECTFILE_MCU_NAME_LENGTH] = {};
    uint8_t project_descriptor_name[PROJECTFILE_NAME_MAX_SIZE] = {};
    uint32_t code_number = 0;
    uint32_t code_begin_addr[PROJECTFILE_MAX_FILE_NUM] = {};
    int32_t code_length[PROJECTFILE_MAX_FILE_NUM] = {};
    int32_t code_name_length[PROJECTFILE_MAX_FILE_NUM] = {};
    int32_t code_part_number[PROJECTFILE_MAX_FILE_NUM] = {};
    uint32_t code_part_begin_addr[PROJECTFILE_MAX_FILE_NUM][PROJECTFILE_MAX_PART_NUM] = {};
    int32_t code_part_length[PROJECTFILE_MAX_FILE_NUM][PROJECTFILE_MAX_PART_NUM] = {};
    uint8_t opt_data_flag = 0;
    int32_t opt_name_length = 0;
    int32_t opt_data_length = 0;
    uint8_t erase_option = 0;
    uint8_t verify_option = 0;
    uint8_t FAP_Disable = 0;
    uint8_t FAP_Enable = 0;
    uint8_t reset_and_run_option = 0;
    int32_t BaudRate = 0;
    int32_t BootSwitch = 0;
    int32_t BootOption = 0;
    uint8_t spim_flag = 0;
    uint8_t spim_descriptor_name[PROJECTFILE_SPIMNAME_MAX_SIZE] = {};
    uint8_t spim_remap = 0;
    uint32_t spim_da = 0;
    uint32_t spim_size = 0;
    uint8_t slib_disable_flag = 0;
    uint32_t slib_disable_password = 0;
    uint8_t slib_enable_flag = 0;
    uint32_t slib_enable_password = 0;
    uint16_t slib_startsector = 0;
    uint16_t slib_startdatasector = 0;
    uint16_t slib_endsector = 0;
    uint8_t extend_bytes[PROJECTFILE_HEADER_EXTEND_LENGTH] = {};
};

// Encoding: fields in declaration order, packed, little-endian, then one
// reserved zero byte, then extend_bytes: PROJECTFILE_HEADER_LENGTH bytes.
// Both return false (and touch nothing) when the buffer is null or shorter
// than PROJECTFILE_HEADER_LENGTH. Decoding also refuses a code_number above
// PROJECTFILE_MAX_FILE_NUM.
bool ProjectFileHeaderToBytes(const ProjectFileHeader& header, uint8_t* buffer, size_t length);
bool ProjectFileHeaderFromBytes(const uint8_t* buffer, size_t length, ProjectFileHeader& header);

// ---- file information of a multi-file download ------------------------------
constexpr uint32_t HEXFILEPART_MAX_SIZE = 65536;

// One contiguous part of an image file.
struct HEXFILEPARTINFO
{
    uint32_t PartStartAddress = 0;
    uint32_t PartEndAddress = 0;
    uint32_t PartSize = 0;      // never above HEXFILEPART_MAX_SIZE
    uint32_t PartChecksum = 0;
    std::array<uint8_t, HEXFILEPART_MAX_SIZE> pData{};
};

struct SFileInfo
{
    std::string FilePath;
    std::string LoadFileType;
    int32_t Filechecksum = 0;
    uint32_t StartAddress = 0;
    int32_t FileSize = 0;
    int32_t FileInMemoPos = 0;
    QList<HEXFILEPARTINFO> partInfo;
};

#endif
