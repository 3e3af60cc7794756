// tarnflash over "-dfu" end to end: the unchanged program with the fake
// DFU device preloaded in place of the system's USB library.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

struct ProgramRun {
  std::string out;
  std::string err;
  int exitCode = -1;
};

class DfuProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/dfu_program_XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(pattern));
    dir = pattern;
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
  }

  // Runs tarnflash in the test folder with the fake device (absent: not on
  // the bus; withFake false: the system's own USB library; bus: the fake
  // bus's devices, DFUFAKE_BUS).
  ProgramRun tarnflash(const std::string& args, bool absent = false, bool withFake = true,
                       const std::string& bus = "kv32:KV0001", const std::string& fault = "") {
    std::string env;
    if (withFake)
      env = std::string("LD_PRELOAD='") + DFU_PRELOAD + "' DFUFAKE_MAP='" + DFU_MAP_DIR +
            "' DFUFAKE_STATE='" + dir + "/chip.state' DFUFAKE_ABSENT=" + (absent ? "1" : "0") +
            " DFUFAKE_BUS='" + bus + "' DFUFAKE_FAULT='" + fault + "'" +
            // A sanitizer build checks that its runtime is loaded first.
            " ASAN_OPTIONS=\"${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0\"";
    const std::string cmd = "cd '" + dir + "' && env " + env + " timeout 120 '" + DFU_PROGRAM +
                            "' " + args + " </dev/null 2>'" + dir + "/stderr.txt'";
    ProgramRun run;
    FILE* p = popen(cmd.c_str(), "r");
    if (p == nullptr) return run;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof(buf), p)) > 0) run.out.append(buf, n);
    const int status = pclose(p);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    const std::vector<uint8_t> err = readFile(dir + "/stderr.txt");
    run.err.assign(err.begin(), err.end());
    return run;
  }

  // An Intel HEX file of `data` at `address`.
  std::string writeHex(const std::string& name, uint32_t address, const std::vector<uint8_t>& data) {
    const std::string path = dir + "/" + name;
    std::ofstream f(path);
    auto record = [&](uint8_t type, uint16_t offset, const uint8_t* bytes, size_t n) {
      char line[80];
      unsigned sum = static_cast<unsigned>(n) + (offset >> 8) + (offset & 0xFF) + type;
      int pos = std::snprintf(line, sizeof(line), ":%02X%04X%02X", static_cast<unsigned>(n), offset, type);
      for (size_t i = 0; i < n; ++i) {
        pos += std::snprintf(line + pos, sizeof(line) - pos, "%02X", bytes[i]);
        sum += bytes[i];
      }
      std::snprintf(line + pos, sizeof(line) - pos, "%02X\n", (0x100 - (sum & 0xFF)) & 0xFF);
      f << line;
    };
    const uint8_t upper[2] = {static_cast<uint8_t>(address >> 24), static_cast<uint8_t>(address >> 16)};
    record(0x04, 0, upper, 2);
    for (size_t off = 0; off < data.size(); off += 16)
      record(0x00, static_cast<uint16_t>((address + off) & 0xFFFF), &data[off],
             data.size() - off < 16 ? data.size() - off : 16);
    record(0x01, 0, nullptr, 0);
    return path;
  }

  std::vector<uint8_t> readFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), {});
  }

  // The first n bytes of the flash, uploaded by the program.
  std::vector<uint8_t> uploaded(size_t n) {
    const std::string out = dir + "/back.bin";
    std::remove(out.c_str());
    const ProgramRun r = tarnflash("-dfu -u --fn " + out);
    EXPECT_EQ(0, r.exitCode) << r.out;
    std::vector<uint8_t> all = readFile(out);
    if (all.size() > n) all.resize(n);
    return all;
  }

  std::string dir;
};

std::vector<uint8_t> pattern(size_t n) {
  std::vector<uint8_t> b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(i * 13 + (i >> 9));
  return b;
}

TEST_F(DfuProgram, WithoutADeviceTheConnectFailsWithExitCode2) {
  for (bool withFake : {true, false}) {
    const ProgramRun r = tarnflash("-dfu", true, withFake);
    EXPECT_EQ(2, r.exitCode) << r.out;
    EXPECT_NE(std::string::npos, r.out.find("DFU Connect......\nUnable to get DFU device\n")) << r.out;
  }
}

TEST_F(DfuProgram, ConnectListsAndIdentifiesTheChip) {
  const ProgramRun r = tarnflash("-dfu");
  EXPECT_EQ(0, r.exitCode) << r.out;
  EXPECT_NE(std::string::npos,
            r.out.find("Device:  KV32S04    Flash:  256 KB\n"
                       "PID:  70040241      BID:  4602    Version:  3.1\n"
                       "Device connected Successfully\n"))
      << r.out;
}

TEST_F(DfuProgram, DownloadWithVerifyThenUploadAndErase) {
  const std::vector<uint8_t> image = pattern(5000 + 3);
  const std::string hex = writeHex("app.hex", 0x08000000, image);
  const ProgramRun d = tarnflash("-dfu -d --fn " + hex + " --v");
  ASSERT_EQ(0, d.exitCode) << d.out;
  EXPECT_EQ(image, uploaded(image.size()));
  // Running the program leaves DFU mode; a new session finds the chip again.
  const ProgramRun go = tarnflash("-dfu -r");
  EXPECT_EQ(0, go.exitCode) << go.out;

  const ProgramRun e = tarnflash("-dfu -e --all");
  ASSERT_EQ(0, e.exitCode) << e.out;
  EXPECT_EQ(std::vector<uint8_t>(image.size(), 0xFF), uploaded(image.size()));
}

TEST_F(DfuProgram, ProtectionRoundTripsThroughTheDeviceResets) {
  const std::vector<uint8_t> image = pattern(512);
  ASSERT_EQ(0, tarnflash("-dfu -d --fn " + writeHex("a.hex", 0x08000000, image)).exitCode);
  const ProgramRun on = tarnflash("-dfu -p --efap");
  ASSERT_EQ(0, on.exitCode) << on.out;
  // Protected: reading the flash back fails, it does not return data.
  const ProgramRun denied = tarnflash("-dfu -u --fn " + dir + "/x.bin");
  EXPECT_NE(0, denied.exitCode) << denied.out;
  const ProgramRun off = tarnflash("-dfu -p --dfap");
  ASSERT_EQ(0, off.exitCode) << off.out;
  EXPECT_EQ(std::vector<uint8_t>(image.size(), 0xFF), uploaded(image.size()));

  const ProgramRun wp = tarnflash("-dfu -p --eepp 0-1");
  ASSERT_EQ(0, wp.exitCode) << wp.out;
  const ProgramRun blocked = tarnflash("-dfu -d --fn " + writeHex("b.hex", 0x08000000, image));
  EXPECT_NE(0, blocked.exitCode) << blocked.out;
  const ProgramRun wup = tarnflash("-dfu -p --depp");
  ASSERT_EQ(0, wup.exitCode) << wup.out;
  const ProgramRun again = tarnflash("-dfu -d --fn " + writeHex("c.hex", 0x08000000, image) + " --v");
  EXPECT_EQ(0, again.exitCode) << again.out;
}

// Another maker's device in DFU mode comes first on the bus and is never
// taken; "--sn" picks a chip by its USB serial number; a device that cannot
// be opened says why on standard error.
TEST_F(DfuProgram, TheChipIsChosenAmongOtherDevicesAndBySerialNumber) {
  const std::string bus = "foreign,kv32:KV0001,kv32:KV0002";
  const std::vector<uint8_t> one = pattern(700), two = pattern(900);
  std::vector<uint8_t> twoImage(two);
  for (uint8_t& b : twoImage) b ^= 0x5A;
  ASSERT_EQ(0, tarnflash("-dfu -d --fn " + writeHex("one.hex", 0x08000000, one), false, true, bus).exitCode);
  const ProgramRun second = tarnflash("-dfu --sn KV0002 --log ./line.jsonl -d --fn " +
                                          writeHex("two.hex", 0x08000000, twoImage),
                                      false, true, bus);
  ASSERT_EQ(0, second.exitCode) << second.out;
  // The log names the link and the chip's place on the bus.
  const std::vector<uint8_t> log = readFile(dir + "/line.jsonl");
  const std::string text(log.begin(), log.end());
  EXPECT_NE(std::string::npos, text.find("\"interface\": \"dfu\", \"port\": \"usb:1-3\", \"pid\": \"70040241\""))
      << text;
  for (const auto& chip : {std::make_pair(std::string("KV0001"), one), std::make_pair(std::string("KV0002"), twoImage)}) {
    SCOPED_TRACE(chip.first);
    const std::string back = dir + "/" + chip.first + ".bin";
    const ProgramRun up = tarnflash("-dfu --sn " + chip.first + " -u --sec 0-0 --fn " + back, false, true, bus);
    ASSERT_EQ(0, up.exitCode) << up.out;
    std::vector<uint8_t> got = readFile(back);
    got.resize(chip.second.size());
    EXPECT_EQ(chip.second, got);
  }

  const ProgramRun none = tarnflash("-dfu --sn KV0009 -e --all", false, true, bus);
  EXPECT_EQ(2, none.exitCode) << none.out;
  EXPECT_NE(std::string::npos, none.out.find("Don't have DFU device!\n")) << none.out;
  EXPECT_NE(std::string::npos, none.err.find("KV0009; found: KV0001 KV0002")) << none.err;

  // A chip that cannot be used says why on standard error.
  const struct {
    const char* bus;
    const char* printed;
    const char* why;
  } refused[] = {
      {"foreign,denied:KV0003", "Unable to get DFU device\n", "4b56 at usb 1-2: no permission"},
      {"busy:KV0003", "Open DFU device error!\n", "at usb 1-1: busy: another program has claimed its DFU interface"},
      {"driver:KV0003", "Open DFU device error!\n", "at usb 1-1: a kernel driver holds its DFU interface"},
  };
  for (const auto& r : refused) {
    const ProgramRun run = tarnflash("-dfu -e --all", false, true, r.bus);
    EXPECT_EQ(2, run.exitCode) << run.out;
    EXPECT_NE(std::string::npos, run.out.find(r.printed)) << run.out;
    EXPECT_NE(std::string::npos, run.err.find(r.why)) << run.err;
  }
}

// After a protection change the chip restarts and re-enumerates after the
// other board; the line goes on with the same chip (its bus path and serial
// number), and one that does not come back fails the command clearly.
TEST_F(DfuProgram, ALineStaysWithItsChipThroughAReset) {
  const std::string bus = "kv32:KV0001,kv32:KV0002";
  const std::vector<uint8_t> image = pattern(600);
  const ProgramRun run = tarnflash("-dfu -p --eepp 0-1 -d --fn " + writeHex("a.hex", 0x08010000, image), false,
                                   true, bus);
  ASSERT_EQ(0, run.exitCode) << run.out << run.err;
  for (const auto& chip : {std::make_pair(std::string("KV0001"), image),
                           std::make_pair(std::string("KV0002"), std::vector<uint8_t>(image.size(), 0xFF))}) {
    SCOPED_TRACE(chip.first);
    const std::string back = dir + "/" + chip.first + ".bin";
    const ProgramRun up = tarnflash("-dfu --sn " + chip.first + " -u --sec 32-32 --fn " + back, false, true, bus);
    ASSERT_EQ(0, up.exitCode) << up.out;
    std::vector<uint8_t> got = readFile(back);
    got.resize(image.size());
    EXPECT_EQ(chip.second, got);
  }
  const ProgramRun gone = tarnflash("-dfu -p --eepp 2-3", false, true, "gone:KV0005,kv32:KV0006");
  EXPECT_NE(0, gone.exitCode) << gone.out;
  EXPECT_NE(std::string::npos, gone.err.find("the DFU device usb:1-1 did not come back within 10 s")) << gone.err;
}

// The chip loads option bytes when it restarts, and on USB only the program
// can tell it to (it cannot see the port close): read protection set through
// the option bytes holds for the rest of the line. A write the chip fails is
// told by the DFU status it reported.
TEST_F(DfuProgram, OptionBytesTakeEffectOnTheSameLine) {
  const ProgramRun get = tarnflash("-dfu -usd --get --fn " + dir + "/orig.bin");
  ASSERT_EQ(0, get.exitCode) << get.out;
  std::vector<uint8_t> usd = readFile(dir + "/orig.bin");
  ASSERT_EQ(4096u, usd.size());
  usd[0] = 0x00;  // FAP with its complement: read protection, level 1
  usd[1] = 0xFF;
  {
    std::ofstream f(dir + "/set.bin", std::ios::binary);
    f.write(reinterpret_cast<const char*>(usd.data()), static_cast<std::streamsize>(usd.size()));
  }
  const ProgramRun set = tarnflash("-dfu -usd --set --fn " + dir + "/set.bin -u --sec 0-0 --fn " + dir + "/x.bin");
  EXPECT_NE(std::string::npos, set.out.find("Set user system data to device successfully!\n")) << set.out;
  EXPECT_EQ(4, set.exitCode) << set.out;  // the upload is refused: the chip is protected now
  EXPECT_TRUE(readFile(dir + "/x.bin").empty());

  std::remove((dir + "/chip.state").c_str());  // a new, unprotected chip
  const ProgramRun failed = tarnflash("-dfu -d --fn " + writeHex("w.hex", 0x08010000, pattern(100)), false, true,
                                      "kv32:KV0001", "write");
  EXPECT_NE(0, failed.exitCode) << failed.out;
  EXPECT_NE(std::string::npos, failed.out.find("\nInfo_DFU_StatusError_Write\n")) << failed.out;
  EXPECT_EQ(std::string::npos, failed.out.find("Unknown error!")) << failed.out;
}

}  // namespace
