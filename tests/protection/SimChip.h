// A simulated chip for the protection tests: memory kept in a state file,
// restarted before every run of the program, and read back afterwards.
#ifndef TARNFLASH_TESTS_PROTECTION_SIMCHIP_H
#define TARNFLASH_TESTS_PROTECTION_SIMCHIP_H

#include "ProgramOnSim.h"

#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

namespace prottest {

using Bytes = std::vector<unsigned char>;

constexpr uint32_t kSystemBase = 0x1FFF0000;  // start of the state file's system memory
constexpr uint32_t kLockAddress = 0x1FFFF500;

using kvtest::Contains;
using kvtest::ReadFile;
using kvtest::WriteFile;
// One OTP file record: PartAddress big-endian, 32 data bytes, lock, write.
Bytes OtpRecord(uint32_t partAddress, unsigned char fill, bool lock, bool write);
// The 32 data bytes of a record.
Bytes DataOf(const Bytes& record);
Bytes Concat(std::initializer_list<Bytes> parts);
// A 4096-byte option-byte file: value/complement pairs, FAP 0xA5, the given
// option bytes set, every other one 0xFF.
Bytes OptionBytesFile(std::initializer_list<std::pair<int, unsigned char>> values);

// Start options apply to the first start only; later starts take the chip
// from its state file. The option value "LOG" stands for Path("LOG").
class Chip {
public:
    explicit Chip(const std::string& device, std::vector<std::string> extra = {});
    ~Chip();
    Chip(const Chip&) = delete;
    Chip& operator=(const Chip&) = delete;

    std::string Path(const std::string& name) const { return m_dir + "/" + name; }
    // tarnflash -com --pn PORT COMMANDS... in the scratch folder.
    ProgramRun Run(const std::vector<std::string>& commands);
    // Stops the chip; its system memory (option bytes, OTP, lock bytes)
    // from the state file.
    Bytes SystemMemory();
    static Bytes Slice(const Bytes& system, uint32_t address, size_t n);

private:
    std::string m_device;
    std::vector<std::string> m_extra;
    std::string m_dir;
    kvtest::SimProcess m_sim;
    bool m_started = false;
};

} // namespace prottest

#endif
