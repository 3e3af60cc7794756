// Reliability on the simulated chip: an upload never saves bytes the line
// changed (it reads them again and saves the chip's), a command that may
// have changed the chip is not sent again, and repeated sessions of a
// libKVBLLIB client leave no descriptor behind.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "RunProgram.h"
#include "SimProcess.h"
#include "SoakCycle.h"

namespace {

std::string ScratchFolder() {
  char templ[] = "/tmp/kvreliability-XXXXXX";
  const char* made = mkdtemp(templ);
  return made ? made : "";
}

struct FlipCase {
  const char* link;
  const char* connect;
  const char* fault;
  bool chipCrc;  // the bootloader lists FIRMWARE_CRC
};

class UploadOverAChangedByte : public ::testing::TestWithParam<FlipCase> {};

// The flipped byte lands in the upload's READ answers (on CAN in a bridge
// frame around them). A READ answer carries no check bytes: the changed byte
// must never reach the file. Where the chip has the firmware CRC, the run's
// CRC differs; without it the second read differs: either way the run is
// read again, each byte taken once two reads agree on it, and the file holds
// what the chip holds. (A damaged bridge frame fails its READ, which is sent
// again.)
TEST_P(UploadOverAChangedByte, NeverSavesTheChangedByte) {
  const std::string folder = ScratchFolder();
  ASSERT_FALSE(folder.empty());
  std::vector<char> flash(8192);
  for (size_t i = 0; i < flash.size(); ++i) flash[i] = char((i * 37 + (i >> 7)) & 0xFF);
  std::ofstream(folder + "/flash.bin", std::ios::binary).write(flash.data(), std::streamsize(flash.size()));

  kvtest::SimProcess sim;
  std::vector<std::string> args = {"--link", GetParam().link, "--map", kvtest::mapDir(), "--load-flash",
                                   folder + "/flash.bin", "--fault", GetParam().fault};
  if (!GetParam().chipCrc) args.insert(args.end(), {"--unlist", "AC"});
  ASSERT_TRUE(sim.start(args));
  const std::string out = folder + "/up.bin";
  const ProgramRun run = RunProgram(TARNFLASH_BINARY, {GetParam().connect, "--pn", sim.portName(), "-u", "--sec",
                                                       "0-3", "--fn", out}, folder, 60);
  EXPECT_EQ(0, run.exitCode) << run.out;
  std::ifstream in(out, std::ios::binary);
  const std::vector<char> saved((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(saved, flash);
  std::remove(out.c_str());
  std::remove((folder + "/flash.bin").c_str());
  rmdir(folder.c_str());
}

INSTANTIATE_TEST_SUITE_P(Links, UploadOverAChangedByte,
                         ::testing::Values(FlipCase{"usart", "-com", "flip:1500:0x10", true},
                                           FlipCase{"usart", "-com", "flip:3000:0x10", true},
                                           FlipCase{"usart", "-com", "flip:3000:0x10", false},
                                           FlipCase{"i2c", "-i2c", "flip:1500:0x10", true},
                                           FlipCase{"i2c", "-i2c", "flip:3000:0x10", true},
                                           FlipCase{"i2c", "-i2c", "flip:3000:0x10", false},
                                           FlipCase{"spi", "-spi", "flip:3000:0x10", true},
                                           FlipCase{"can", "-can", "flip:3000:0x10", true}),
                         [](const ::testing::TestParamInfo<FlipCase>& info) {
                           std::string name = std::string(info.param.link) + "_" + info.param.fault +
                                              (info.param.chipCrc ? "" : "_without_crc");
                           for (char& c : name)
                             if (c == ':') c = '_';
                           return name;
                         });

struct LinkCase {
  const char* link;
  const char* connect;
};

class NeverRepeated : public ::testing::TestWithParam<LinkCase> {};

// A command whose last frame may have changed the chip is not sent again:
// refused once, access protection fails with its exit code and says so on
// standard error (one attempt), and the chip is as the refusal left it,
// unprotected (an upload afterwards reads it).
TEST_P(NeverRepeated, ARefusedProtectionFailsOnceAndLeavesTheChipUnprotected) {
  const std::string folder = ScratchFolder();
  ASSERT_FALSE(folder.empty());
  kvtest::SimProcess sim;
  ASSERT_TRUE(sim.start({"--link", GetParam().link, "--map", kvtest::mapDir(), "--fault", "nack:0x82"}));
  ProgramRun run = RunProgram(TARNFLASH_BINARY, {GetParam().connect, "--pn", sim.portName(), "-p", "--efap"},
                              folder, 60);
  EXPECT_EQ(32, run.exitCode) << run.out;
  EXPECT_EQ("Protection: ACCESS_PROTECT failed: the chip refused it (NACK)\n", run.err);
  const std::string out = folder + "/up.bin";
  run = RunProgram(TARNFLASH_BINARY, {GetParam().connect, "--pn", sim.portName(), "-u", "--sec", "0-0", "--fn", out},
                   folder, 60);
  EXPECT_EQ(0, run.exitCode) << run.out << run.err;
  std::remove(out.c_str());
  rmdir(folder.c_str());
}

INSTANTIATE_TEST_SUITE_P(Links, NeverRepeated,
                         ::testing::Values(LinkCase{"usart", "-com"}, LinkCase{"i2c", "-i2c"},
                                           LinkCase{"spi", "-spi"}, LinkCase{"can", "-can"}),
                         [](const ::testing::TestParamInfo<LinkCase>& info) { return std::string(info.param.link); });

class RepeatedSessions : public ::testing::TestWithParam<const char*> {};

// Every session opens and closes the terminal, and an open refused while
// another program holds the port keeps nothing either: none may leave a
// descriptor.
TEST_P(RepeatedSessions, LeaveNoDescriptorBehind) {
  const SoakLink* link = FindSoakLink(GetParam());
  ASSERT_NE(nullptr, link);
  kvtest::SimProcess sim;
  ASSERT_TRUE(sim.start({"--link", link->name, "--map", kvtest::mapDir()}));
  ASSERT_EQ("", SoakCycle(*link, sim.portName(), 1, 2));
  const int before = CurrentUsage().openDescriptors;
  for (unsigned c = 2; c <= 6; ++c) ASSERT_EQ("", SoakCycle(*link, sim.portName(), c, 2)) << "cycle " << c;
  EXPECT_EQ(before, CurrentUsage().openDescriptors);

  const int holder = open(sim.ptyPath().c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(0, flock(holder, LOCK_EX | LOCK_NB));
  testing::internal::CaptureStderr();
  for (unsigned c = 7; c <= 9; ++c) EXPECT_EQ("open 3", SoakCycle(*link, sim.portName(), c, 2)) << "cycle " << c;
  testing::internal::GetCapturedStderr();
  close(holder);
  EXPECT_EQ(before, CurrentUsage().openDescriptors);
  EXPECT_EQ("", SoakCycle(*link, sim.portName(), 10, 2)) << "the port stays taken after the holder closed it";
}

INSTANTIATE_TEST_SUITE_P(Links, RepeatedSessions, ::testing::Values("usart", "i2c", "spi", "can"),
                         [](const ::testing::TestParamInfo<const char*>& info) { return std::string(info.param); });

}  // namespace
