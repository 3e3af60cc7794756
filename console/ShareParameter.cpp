#include "ShareParameter.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>

ShareParameter g_shareParameter;

ShareParameter::ShareParameter()
{
    str_portName.clear();
    c_filename.clear();
    c_otpfilename.clear();
    c_strFilePath.clear();
    c_address = 0;
    c_size = 0;
    c_Verify = false;
    c_optimize = false;
    c_obCCom = nullptr;
}

void ShareParameter::CopySettingsFrom(const ShareParameter& o)
{
    c_portNumber = o.c_portNumber;
    str_portName = o.str_portName;
    c_BaudRate = o.c_BaudRate;
    c_DataBits = o.c_DataBits;
    c_parity = o.c_parity;
    c_timeout = o.c_timeout;
    c_autoConnectFlag = o.c_autoConnectFlag;
    c_autoConnectOption = o.c_autoConnectOption;
    addr = o.addr;
    rate = o.rate;
    dc = o.dc;
    uiCANSpeed = o.uiCANSpeed;
    ulSPISpeed = o.ulSPISpeed;
    c_address = o.c_address;
    c_size = o.c_size;
    c_filename = o.c_filename;
    c_Verify = o.c_Verify;
    c_optimize = o.c_optimize;
    c_otpfilename = o.c_otpfilename;
    c_haveSPIM = o.c_haveSPIM;
    c_SPIMSize = o.c_SPIMSize;
    c_bNeedRemap = o.c_bNeedRemap;
    c_bRemapFlag = o.c_bRemapFlag;
    c_SPIMType = o.c_SPIMType;
    c_SPIMDA = o.c_SPIMDA;
    OTP_Data_Address = o.OTP_Data_Address;
    OTP_Data_Length = o.OTP_Data_Length;
    OTP_Lock_Address = o.OTP_Lock_Address;
    OTP_Lock_Length = o.OTP_Lock_Length;
    c_operationPersent = o.c_operationPersent;
    c_strFilePath = o.c_strFilePath;
    m_InterfaceType = o.m_InterfaceType;
    str_DFUDevice = o.str_DFUDevice;
}

int32_t ShareParameter::StringToInt32(const std::string& text, int base)
{
    long long value = std::strtoll(text.c_str(), nullptr, base);
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<unsigned long long>(value)));
}

uint32_t ShareParameter::StringToUInt32(const std::string& text, int base)
{
    long long value = std::strtoll(text.c_str(), nullptr, base);
    return static_cast<uint32_t>(static_cast<unsigned long long>(value));
}

int ShareParameter::IntParse(const std::string& text)
{
    // atoi's result for out-of-range text is undefined; strtol saturates.
    long value = std::strtol(text.c_str(), nullptr, 10);
    if (value > 2147483647L)
        return 2147483647;
    if (value < -2147483647L - 1)
        return -2147483647 - 1;
    return static_cast<int>(value);
}

int ShareParameter::ParityToInt(const std::string& text)
{
    if (text == "NONE")
        return 0;
    if (text == "ODD")
        return 1;
    return 2;
}

std::string ShareParameter::ToUpper(const std::string& text)
{
    std::string out(text);
    for (char& c : out)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

std::string ShareParameter::ToLower(const std::string& text)
{
    std::string out(text);
    for (char& c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// ---- project file header encoding -------------------------------------------
namespace {

class Writer
{
public:
    explicit Writer(uint8_t* p) : m_p(p) {}
    void u8(uint8_t v) { *m_p++ = v; }
    void u16(uint16_t v) { for (int i = 0; i < 2; ++i) u8(static_cast<uint8_t>(v >> (8 * i))); }
    void u32(uint32_t v) { for (int i = 0; i < 4; ++i) u8(static_cast<uint8_t>(v >> (8 * i))); }
    void i32(int32_t v) { u32(static_cast<uint32_t>(v)); }
    void bytes(const uint8_t* src, size_t n) { std::memcpy(m_p, src, n); m_p += n; }
    size_t written(const uint8_t* start) const { return static_cast<size_t>(m_p - start); }

private:
    uint8_t* m_p;
};

class Reader
{
public:
    explicit Reader(const uint8_t* p) : m_p(p) {}
    uint8_t u8() { return *m_p++; }
    uint16_t u16() { uint16_t v = 0; for (int i = 0; i < 2; ++i) v |= static_cast<uint16_t>(u8() << (8 * i)); return v; }
    uint32_t u32() { uint32_t v = 0; for (int i = 0; i < 4; ++i) v |= static_cast<uint32_t>(u8()) << (8 * i); return v; }
    int32_t i32() { return static_cast<int32_t>(u32()); }
    void bytes(uint8_t* dst, size_t n) { std::memcpy(dst, m_p, n); m_p += n; }

private:
    const uint8_t* m_p;
};

} // namespace

bool ProjectFileHeaderToBytes(const ProjectFileHeader& h, uint8_t* buffer, size_t length)
{
    if (buffer == nullptr || length < static_cast<size_t>(PROJECTFILE_HEADER_LENGTH))
        return false;
    Writer w(buffer);
    w.u32(h.file_version);
    w.u8(h.mcu_serial);
    w.u32(h.mcu_Pid);
    w.bytes(h.mcu_target_name, sizeof h.mcu_target_name);
    w.bytes(h.project_descriptor_name, sizeof h.project_descriptor_name);
    w.u32(h.code_number);
    for (uint32_t v : h.code_begin_addr) w.u32(v);
    for (int32_t v : h.code_length) w.i32(v);
    for (int32_t v : h.code_name_length) w.i32(v);
    for (int32_t v : h.code_part_number) w.i32(v);
    for (const auto& row : h.code_part_begin_addr) for (uint32_t v : row) w.u32(v);
    for (const auto& row : h.code_part_length) for (int32_t v : row) w.i32(v);
    w.u8(h.opt_data_flag);
    w.i32(h.opt_name_length);
    w.i32(h.opt_data_length);
    w.u8(h.erase_option);
    w.u8(h.verify_option);
    w.u8(h.FAP_Disable);
    w.u8(h.FAP_Enable);
    w.u8(h.reset_and_run_option);
    w.i32(h.BaudRate);
    w.i32(h.BootSwitch);
    w.i32(h.BootOption);
    w.u8(h.spim_flag);
    w.bytes(h.spim_descriptor_name, sizeof h.spim_descriptor_name);
    w.u8(h.spim_remap);
    w.u32(h.spim_da);
    w.u32(h.spim_size);
    w.u8(h.slib_disable_flag);
    w.u32(h.slib_disable_password);
    w.u8(h.slib_enable_flag);
    w.u32(h.slib_enable_password);
    w.u16(h.slib_startsector);
    w.u16(h.slib_startdatasector);
    w.u16(h.slib_endsector);
    w.u8(0); // reserved
    w.bytes(h.extend_bytes, sizeof h.extend_bytes);
    return w.written(buffer) == static_cast<size_t>(PROJECTFILE_HEADER_LENGTH);
}

bool ProjectFileHeaderFromBytes(const uint8_t* buffer, size_t length, ProjectFileHeader& out)
{
    if (buffer == nullptr || length < static_cast<size_t>(PROJECTFILE_HEADER_LENGTH))
        return false;
    // Decode into a scratch record so that a refused buffer leaves out as it was.
    auto holder = std::make_unique<ProjectFileHeader>();
    ProjectFileHeader* h = holder.get();
    Reader r(buffer);
    h->file_version = r.u32();
    h->mcu_serial = r.u8();
    h->mcu_Pid = r.u32();
    r.bytes(h->mcu_target_name, sizeof h->mcu_target_name);
    r.bytes(h->project_descriptor_name, sizeof h->project_descriptor_name);
    h->code_number = r.u32();
    for (uint32_t& v : h->code_begin_addr) v = r.u32();
    for (int32_t& v : h->code_length) v = r.i32();
    for (int32_t& v : h->code_name_length) v = r.i32();
    for (int32_t& v : h->code_part_number) v = r.i32();
    for (auto& row : h->code_part_begin_addr) for (uint32_t& v : row) v = r.u32();
    for (auto& row : h->code_part_length) for (int32_t& v : row) v = r.i32();
    h->opt_data_flag = r.u8();
    h->opt_name_length = r.i32();
    h->opt_data_length = r.i32();
    h->erase_option = r.u8();
    h->verify_option = r.u8();
    h->FAP_Disable = r.u8();
    h->FAP_Enable = r.u8();
    h->reset_and_run_option = r.u8();
    h->BaudRate = r.i32();
    h->BootSwitch = r.i32();
    h->BootOption = r.i32();
    h->spim_flag = r.u8();
    r.bytes(h->spim_descriptor_name, sizeof h->spim_descriptor_name);
    h->spim_remap = r.u8();
    h->spim_da = r.u32();
    h->spim_size = r.u32();
    h->slib_disable_flag = r.u8();
    h->slib_disable_password = r.u32();
    h->slib_enable_flag = r.u8();
    h->slib_enable_password = r.u32();
    h->slib_startsector = r.u16();
    h->slib_startdatasector = r.u16();
    h->slib_endsector = r.u16();
    (void)r.u8(); // reserved
    r.bytes(h->extend_bytes, sizeof h->extend_bytes);

    bool ok = h->code_number <= static_cast<uint32_t>(PROJECTFILE_MAX_FILE_NUM);
    for (int i = 0; ok && i < PROJECTFILE_MAX_FILE_NUM; ++i)
        ok = h->code_part_number[i] >= 0 && h->code_part_number[i] <= PROJECTFILE_MAX_PART_NUM;
    if (ok)
        out = *h;

    return ok;
}
