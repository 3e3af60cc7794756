#include "SimChip.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <unistd.h>

namespace prottest {

Bytes OtpRecord(uint32_t partAddress, unsigned char fill, bool lock, bool write)
{
    Bytes r = {static_cast<unsigned char>(partAddress >> 24), static_cast<unsigned char>(partAddress >> 16),
               static_cast<unsigned char>(partAddress >> 8), static_cast<unsigned char>(partAddress)};
    for (int k = 0; k < 32; ++k)
        r.push_back(static_cast<unsigned char>(fill + k));
    r.push_back(lock ? 0x00 : 0xFF);
    r.push_back(write ? 0x00 : 0xFF);
    return r;
}

Bytes DataOf(const Bytes& record)
{
    return Bytes(record.begin() + 4, record.begin() + 36);
}

Bytes Concat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

Bytes OptionBytesFile(std::initializer_list<std::pair<int, unsigned char>> values)
{
    Bytes image(4096);
    for (size_t k = 0; k < image.size(); k += 2)
        image[k] = k == 0 ? 0xA5 : 0xFF;
    for (const auto& v : values)
        image[2 * static_cast<size_t>(v.first)] = v.second;
    for (size_t k = 0; k < image.size(); k += 2)
        image[k + 1] = static_cast<unsigned char>(image[k] ^ 0xFF);
    return image;
}

Chip::Chip(const std::string& device, std::vector<std::string> extra)
    : m_device(device), m_extra(std::move(extra))
{
    char templ[] = "/tmp/tarnflash-prot-XXXXXX";
    const char* made = mkdtemp(templ);
    m_dir = made ? made : "/tmp";
}

Chip::~Chip()
{
    m_sim.stop();
    std::error_code ignored;
    if (m_dir != "/tmp")
        std::filesystem::remove_all(m_dir, ignored);
}

ProgramRun Chip::Run(const std::vector<std::string>& commands)
{
    m_sim.stop();
    std::vector<std::string> args = {"--device", m_device, "--state", Path("chip.state")};
    if (!m_started)
        for (const std::string& a : m_extra)
            args.push_back(a == "LOG" ? Path("LOG") : a);
    if (!kvtest::StartChip(m_sim, "usart", args))
        return ProgramRun();
    m_started = true;
    return kvtest::RunOnChip(m_sim, "-com", commands, m_dir);
}

Bytes Chip::SystemMemory()
{
    m_sim.stop();
    const Bytes state = ReadFile(Path("chip.state"));
    const std::string head = "KV32SIMSTATE 1\n";
    if (state.size() < head.size())
        return Bytes();
    for (size_t at = head.size(); at + 8 <= state.size();) {
        const std::string tag(state.begin() + static_cast<long>(at), state.begin() + static_cast<long>(at) + 4);
        uint32_t length = 0;
        std::memcpy(&length, &state[at + 4], 4);
        at += 8;
        if (length > state.size() - at)
            return Bytes();
        if (tag == "SYSM")
            return Bytes(state.begin() + static_cast<long>(at), state.begin() + static_cast<long>(at + length));
        at += length;
    }
    return Bytes();
}

Bytes Chip::Slice(const Bytes& system, uint32_t address, size_t n)
{
    const size_t off = address - kSystemBase;
    if (address < kSystemBase || off + n > system.size())
        return Bytes();
    return Bytes(system.begin() + static_cast<long>(off), system.begin() + static_cast<long>(off + n));
}

} // namespace prottest
