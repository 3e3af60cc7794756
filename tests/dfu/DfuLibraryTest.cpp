// The DFU transport of libKVBLLIB through the KVBL_ interface, against the
// fake DFU device (the library's own objects, the fake in place of libusb).
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <deque>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "ChipMemory.h"
#include "DfuLine.h"
#include "FakeDfuDevice.h"
#include "KVBLLIB.h"
#include "KVBLPorts.h"

namespace {

using Bytes = std::vector<BYTE>;
constexpr DWORD kFlash = 0x08000000;
const HANDLE kPort = nullptr;  // port 0: the first DFU device

class Dfu : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(dfufake::Device().setup(DFU_MAP_DIR, "KV32S04", "", error)) << error;
    ASSERT_EQ(SUCCESS, TARGET_SetComIntType(KVBL_INTERFACE_DFU));
    connect();
  }
  void TearDown() override {
    if (Interface_is_Open(kPort)) Interface_Close(kPort);
    TARGET_SetComIntType(KVBL_INTERFACE_USART);
  }
  void connect() {
    ASSERT_EQ(SUCCESS, Interface_Open(kPort));
    BYTE version = 0;
    ASSERT_EQ(SUCCESS, KVBL_GET(kPort, &version, &cmds));
  }
  // Closes, waits for the device to come back on the bus, reconnects.
  void reconnectAfterReset() {
    Interface_Close(kPort);
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!dfufake::Device().present() && std::chrono::steady_clock::now() < until)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    connect();
  }
  Bytes flash(DWORD address, size_t n) {
    Bytes b(n);
    EXPECT_TRUE(dfufake::Device().chip().read(address, static_cast<uint32_t>(n), b.data()));
    return b;
  }
  Commands cmds{};
};

// The entries of KVBL_GetKVDeviceList.
std::vector<std::string> ListChips() {
  BYTE count = 99;
  WORD vids[255], pids[255];
  char info[99][KVBL_DFU_INFO_LENGTH];
  std::vector<std::string> out;
  EXPECT_EQ(SUCCESS, KVBL_GetKVDeviceList(&count, vids, pids, info));
  for (int k = 0; k < count; ++k) out.emplace_back(info[k]);
  return out;
}

Bytes pattern(size_t n, unsigned seed) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<BYTE>((i * 7 + seed) ^ (i >> 8));
  return b;
}

TEST_F(Dfu, IdentifiesTheChipFromItsDescriptorAndCommandList) {
  EXPECT_TRUE(cmds.GET_CMD && cmds.GET_ID_CMD && cmds.GET_VER_ROPS_CMD && cmds.READ_CMD &&
              cmds.WRITE_CMD && cmds.GO_CMD && cmds.ERASE_EXT_CMD &&
              cmds.ACCESS_PERM_UNPROTECT_CMD && cmds.ACCESS_PROTECT_CMD);
  // Commands the transport has no counterpart for are never listed.
  EXPECT_FALSE(cmds.ERASE_CMD || cmds.FIRMWARE_CRC_CMD || cmds.ENABLE_SLIB_CMD ||
               cmds.KV32_ISP_CMD || cmds.ACCESS_TEMP_UNPROTECT_CMD);
  BYTE size = 0;
  ASSERT_EQ(SUCCESS, KVBL_GET_ID(kPort, &size, nullptr));
  ASSERT_EQ(5, size);
  BYTE id[5] = {};
  ASSERT_EQ(SUCCESS, KVBL_GET_ID(kPort, &size, id));
  EXPECT_EQ((Bytes{0x02, 0x41, 0x70, 0x04, 0x04}), Bytes(id, id + 5));  // PID 70040241
  BYTE version = 0, minor = 0, major = 0;
  ASSERT_EQ(SUCCESS, KVBL_GET_VER_ROPS(kPort, &version, &minor, &major));
  EXPECT_EQ(0x31, version);
  EXPECT_EQ(0x46, major);
  EXPECT_EQ(0x02, minor);
  WORD kb = 0;
  ASSERT_EQ(SUCCESS, TARGET_GetFlashSize(kPort, 0x1FFFF7E0, &kb));
  EXPECT_EQ(256, kb);
}

TEST(DfuIdentity, ParsesOnlyWellFormedWords) {
  struct {
    const char* text;
    bool hasId, hasVersion;
    uint32_t pid, sector;
  } rows[] = {
      {"KV32 DFU PID=70040241 SER=04 VER=31 BID=4602 SECT=2048 FLASH=256", true, true, 0x70040241,
       2048},
      {"PID=7004024 SER=04", false, false, 0, 0},          // 7 digits
      {"PID=70040241 SER=4", false, false, 0x70040241, 0}, // series of one digit
      {"PID=7004024G SER=04 SECT=512", false, false, 0, 0},// not hex; sector below 1 KB
      {"VER=31 BID=4602 SECT=999999999", false, true, 0, 0},
      {"", false, false, 0, 0},
  };
  for (const auto& r : rows) {
    const kvdfu::DfuIdentity id = kvdfu::ParseIdentity(r.text);
    EXPECT_EQ(r.hasId, id.hasId) << r.text;
    EXPECT_EQ(r.hasVersion, id.hasVersion) << r.text;
    EXPECT_EQ(r.pid, id.pid) << r.text;
    EXPECT_EQ(r.sector, id.sectorSize) << r.text;
  }
}

TEST_F(Dfu, DownloadVerifyUploadAndEraseReachTheFlash) {
  // Sectors 1..3 (2 KB each), an image that ends on an odd length.
  const DWORD address = kFlash + 0x800 + 0x10;
  const Bytes image = pattern(3 * 2048 - 0x20 - 3, 5);
  BYTE sectors[] = {1, 0, 2, 0, 3, 0};
  ASSERT_EQ(SUCCESS, KVBL_ERASE(kPort, 3, sectors, 2048));
  ASSERT_EQ(SUCCESS, KVBL_DNLOAD(kPort, address, const_cast<BYTE*>(image.data()),
                                 static_cast<DWORD>(image.size()), 0));
  EXPECT_EQ(image, flash(address, image.size()));
  EXPECT_EQ(SUCCESS, KVBL_VERIFY(kPort, address, const_cast<BYTE*>(image.data()),
                                 static_cast<DWORD>(image.size()), 0));
  Bytes back(image.size());
  ASSERT_EQ(SUCCESS, KVBL_UPLOAD(kPort, address, back.data(), static_cast<DWORD>(back.size())));
  EXPECT_EQ(image, back);
  // A differing byte is a verify failure, never a success.
  Bytes other = image;
  other[1000] ^= 0x01;
  EXPECT_EQ(CMD_NOT_ALLOWED, KVBL_VERIFY(kPort, address, other.data(),
                                         static_cast<DWORD>(other.size()), 0));
  // Writing on bytes that are not erased is refused by the chip.
  EXPECT_EQ(CMD_FAIL, KVBL_DNLOAD(kPort, address + 960, other.data() + 960, 64, 0));
  // Sector erase clears exactly its sector; mass erase clears everything.
  BYTE one[] = {2, 0};
  ASSERT_EQ(SUCCESS, KVBL_ERASE(kPort, 1, one, 2048));
  EXPECT_EQ(Bytes(2048, 0xFF), flash(kFlash + 2 * 2048, 2048));
  EXPECT_NE(Bytes(2048, 0xFF), flash(kFlash + 3 * 2048, 2048));
  ASSERT_EQ(SUCCESS, KVBL_ERASE(kPort, KVBL_ERASE_CODE_FFFF, nullptr, 0));
  EXPECT_EQ(Bytes(image.size(), 0xFF), flash(address, image.size()));
  // Bank 1 of a 256 KB chip is all of its flash, up to the last byte.
  const DWORD last = kFlash + 256 * 1024 - 256;
  ASSERT_EQ(SUCCESS, KVBL_DNLOAD(kPort, last, const_cast<BYTE*>(image.data()), 256, 0));
  ASSERT_EQ(SUCCESS, KVBL_DNLOAD(kPort, kFlash, const_cast<BYTE*>(image.data()), 256, 0));
  ASSERT_EQ(SUCCESS, KVBL_ERASE(kPort, 0xFFFE, nullptr, 0));
  EXPECT_EQ(Bytes(256, 0xFF), flash(last, 256));
  EXPECT_EQ(Bytes(256, 0xFF), flash(kFlash, 256));
}

TEST_F(Dfu, CallsWithoutACounterpartAreRefusedNotAcknowledged) {
  BYTE crc[4];
  DWORD a = 0, b = 0, c = 0;
  const std::vector<std::pair<const char*, std::function<BYTE()>>> calls = {
      {"firmware CRC", [&] { return KVBL_GetFirmwareCRC(kPort, kFlash, 1, crc); }},
      {"sLib enable", [&] { return KVBL_EnableSlib(kPort, 1, 0, 1, 2); }},
      {"sLib status", [&] { return KVBL_GetSlibStatus(kPort, &a, &b, &c); }},
      {"speed", [&] { return KVBL_SetSpeed(kPort, 2); }},
      {"ISP tool notice", [&] { return KVBL_KV32ISP_TOOL(kPort); }},
      {"temporary unprotect", [&] { return KVBL_ACCESS_TEMP_UNPROTECT(kPort); }},
      {"external bank erase", [&] { return KVBL_ERASE(kPort, 0xFFFC, nullptr, 0); }},
      {"second bank of a one-bank chip", [&] { return KVBL_ERASE(kPort, 0xFFFD, nullptr, 0); }},
      {"bank 3 enable", [&] { return KVBL_EnableBank3(kPort, 1, 0x100000, 0); }},
  };
  for (const auto& call : calls) EXPECT_EQ(CMD_NOT_ALLOWED, call.second()) << call.first;
}

TEST_F(Dfu, FaultyDevicesGiveResultCodesWithinTheTimeOut) {
  struct Row {
    const char* name;
    std::function<void(dfufake::Faults&)> fault;
    bool upload;  // else download
    BYTE expected;
    BYTE dfuStatus;  // what KVBL_GetDFUStatus tells of the failure
  } rows[] = {
      {"stalled upload", [](dfufake::Faults& f) { f.stallUploads = true; }, true, CMD_FAIL, 0x0F},
      {"short upload", [](dfufake::Faults& f) { f.shortUpload = 5; }, true, READ_FAIL, 0},
      {"oversized upload", [](dfufake::Faults& f) { f.oversizedUpload = 9; }, true, READ_FAIL, 0},
      {"short status", [](dfufake::Faults& f) { f.shortStatus = true; }, true, READ_FAIL, 0},
      {"write error", [](dfufake::Faults& f) { f.failWrites = true; }, false, CMD_FAIL, 0x03},
      {"busy for ever", [](dfufake::Faults& f) { f.busyForever = true; }, false, READ_FAIL, 0},
  };
  ASSERT_EQ(SUCCESS, SetTimeOut(kPort, 300));
  const Bytes data = pattern(200, 1);
  DWORD address = kFlash;
  for (auto& r : rows) {
    dfufake::Device().faults = dfufake::Faults();
    r.fault(dfufake::Device().faults);
    Bytes buf(200);
    const auto start = std::chrono::steady_clock::now();
    const BYTE got = r.upload ? KVBL_UPLOAD(kPort, address, buf.data(), 200)
                              : KVBL_DNLOAD(kPort, address, const_cast<BYTE*>(data.data()), 200, 0);
    EXPECT_EQ(r.expected, got) << r.name;
    BYTE status = 0xFF, state = 0xFF;
    ASSERT_EQ(SUCCESS, KVBL_GetDFUStatus(kPort, &status, &state));
    EXPECT_EQ(r.dfuStatus, status) << r.name;
    EXPECT_EQ(r.dfuStatus ? 10 : 0, state) << r.name;  // dfuERROR
    // Bounded by the 300 ms time-out (with room for a loaded machine): no hang.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10)) << r.name;
    // Once the fault is gone the device is usable again (dfuERROR cleared).
    dfufake::Device().faults = dfufake::Faults();
    address += 256;
    EXPECT_EQ(SUCCESS, KVBL_DNLOAD(kPort, address, const_cast<BYTE*>(data.data()), 200, 0))
        << r.name;
    EXPECT_EQ(data, flash(address, 200)) << r.name;
    address += 256;
  }
}

TEST_F(Dfu, ADeviceThatDisappearsFailsEveryCallAndCannotBeReopened) {
  dfufake::Device().faults.vanishAfter = 3;
  Bytes buf(64);
  const BYTE first = KVBL_UPLOAD(kPort, kFlash, buf.data(), 64);
  EXPECT_TRUE(first == READ_FAIL || first == SEND_FAIL) << int(first);
  EXPECT_NE(SUCCESS, KVBL_UPLOAD(kPort, kFlash, buf.data(), 64));
  BYTE b = 0;
  EXPECT_NE(SUCCESS, KVBL_DNLOAD(kPort, kFlash, &b, 1, 0));
  Interface_Close(kPort);
  EXPECT_EQ(CANT_OPEN_COM, Interface_Open(kPort));
  EXPECT_TRUE(ListChips().empty());
}

TEST_F(Dfu, OnlyDevicesThatNameAKV32ChipAreListedAndOpened) {
  Interface_Close(kPort);
  // Another maker's device in DFU mode first, one the user may not open, and
  // the chip (the fixture's) last.
  auto& bus = dfufake::Bus();
  std::string error;
  for (int k = 0; k < 2; ++k) {
    bus.insert(bus.begin(), std::unique_ptr<dfufake::FakeDfuDevice>(new dfufake::FakeDfuDevice));
    ASSERT_TRUE(bus.front()->setup(DFU_MAP_DIR, "KV32S04", "", error)) << error;
  }
  bus[0]->foreignIdentity = "Bootloader of another maker";
  bus[1]->openError = -3;  // LIBUSB_ERROR_ACCESS
  bus[2]->serial = "SN-77";
  EXPECT_EQ(std::vector<std::string>{"usb:1-3 1209:4b56 serial=SN-77"}, ListChips());
  BYTE problems = 8;
  char texts[8][KVBL_DFU_PROBLEM_LENGTH];
  ASSERT_EQ(SUCCESS, KVBL_GetKVDeviceProblems(&problems, texts));
  ASSERT_EQ(1, problems);
  EXPECT_NE(nullptr, std::strstr(texts[0], "at usb 1-2: no permission")) << texts[0];
  // Port 0 is the chip, not the first device in DFU mode.
  connect();
  BYTE size = 5, id[5];
  EXPECT_EQ(SUCCESS, KVBL_GET_ID(kPort, &size, id));
  Interface_Close(kPort);
  bus.erase(bus.begin(), bus.begin() + 2);

  // A DFU device whose interface string carries no product identifier is
  // no KV32 chip: never listed, never opened.
  dfufake::Device().faults.identity = "KV32 DFU";
  EXPECT_TRUE(ListChips().empty());
  EXPECT_EQ(CANT_OPEN_COM, Interface_Open(kPort));
  // Without a sector size only the mass erase can be expressed.
  dfufake::Device().faults.identity = "KV32 DFU PID=70040241 SER=04";
  connect();
  EXPECT_TRUE(cmds.GET_ID_CMD);
  EXPECT_FALSE(cmds.GET_VER_ROPS_CMD);
  BYTE sector[] = {1, 0};
  EXPECT_EQ(CMD_NOT_ALLOWED, KVBL_ERASE(kPort, 1, sector, 2048));
  EXPECT_EQ(SUCCESS, KVBL_ERASE(kPort, KVBL_ERASE_CODE_FFFF, nullptr, 0));
}

TEST_F(Dfu, ProtectionChangesResetTheDeviceWhichComesBack) {
  const Bytes image = pattern(256, 9);
  ASSERT_EQ(SUCCESS, KVBL_DNLOAD(kPort, kFlash, const_cast<BYTE*>(image.data()), 256, 0));
  ASSERT_EQ(SUCCESS, KVBL_ACCESS_PROTECT(kPort));
  EXPECT_EQ(1u, dfufake::Device().reenumerations);
  reconnectAfterReset();
  // Protected: reading is refused the way a NACK refuses it.
  WORD kb = 0;
  EXPECT_EQ(CMD_NOT_ALLOWED, TARGET_GetFlashSize(kPort, 0x1FFFF7E0, &kb));
  ASSERT_EQ(SUCCESS, KVBL_ACCESS_PERM_UNPROTECT(kPort));
  reconnectAfterReset();
  Bytes back(256);
  ASSERT_EQ(SUCCESS, KVBL_UPLOAD(kPort, kFlash, back.data(), 256));
  EXPECT_EQ(Bytes(256, 0xFF), back);  // unprotecting mass-erased the flash

  BYTE bits[] = {0, 1};
  ASSERT_EQ(SUCCESS, KVBL_ERASEPROGRAM_PROTECT(kPort, 2, bits, 0));
  reconnectAfterReset();
  BYTE s0[] = {0, 0};
  EXPECT_NE(SUCCESS, KVBL_ERASE(kPort, 1, s0, 2048));  // sector 0 protected
  ASSERT_EQ(SUCCESS, KVBL_ERASEPROGRAM_PERM_UNPROTECT(kPort));
  reconnectAfterReset();
  EXPECT_EQ(SUCCESS, KVBL_ERASE(kPort, 1, s0, 2048));
  EXPECT_EQ(4u, dfufake::Device().reenumerations);
}

// A real device cannot see the host close its handle: option bytes load
// when the chip is asked to restart (its reset command, or a USB reset when
// it lists none), and only then.
TEST_F(Dfu, OptionBytesLoadWhenTheChipIsAskedToRestart) {
  for (bool resetCommand : {true, false}) {
    SCOPED_TRACE(resetCommand ? "reset command" : "USB reset");
    Interface_Close(kPort);
    SetUp();
    Interface_Close(kPort);
    dfufake::Device().listsResetCommand = resetCommand;
    connect();
    EXPECT_TRUE(cmds.RESET_MCU_CMD);
    BYTE opts[16];
    ASSERT_EQ(SUCCESS, TARGET_GetUserSystemData(kPort, 0x1FFFF800, opts, 16));
    EXPECT_EQ(0xA5, opts[0]);
    opts[4] = 0xFE;  // EPP0 bit 0: sectors 0 and 1 erase/program protected
    ASSERT_EQ(SUCCESS, TARGET_SetUserSystemData(kPort, 0x1FFFF800, opts, 16));
    Interface_Close(kPort);
    connect();
    BYTE s0[] = {0, 0};
    EXPECT_EQ(SUCCESS, KVBL_ERASE(kPort, 1, s0, 2048)) << "loaded without a reset";
    EXPECT_EQ(0u, dfufake::Device().reenumerations);
    ASSERT_EQ(SUCCESS, KVBL_ResetMCU(kPort));
    reconnectAfterReset();
    EXPECT_EQ(1u, dfufake::Device().reenumerations);
    EXPECT_NE(SUCCESS, KVBL_ERASE(kPort, 1, s0, 2048));
    BYTE again[16];
    ASSERT_EQ(SUCCESS, TARGET_GetUserSystemData(kPort, 0x1FFFF800, again, 16));
    EXPECT_EQ(Bytes(opts, opts + 16), Bytes(again, again + 16));
    Interface_Close(kPort);
  }
}

// Every busy time the device announces is waited in full (never a status
// request earlier) and extends the wait, so a slow command that the device
// keeps accepting succeeds even past the port's time-out; a device that
// announces more than the cap allows fails at once, without asking early.
TEST_F(Dfu, AnnouncedBusyTimesAreHonoured) {
  ASSERT_EQ(SUCCESS, SetTimeOut(kPort, 300));
  struct Row {
    const char* what;
    std::deque<uint32_t> polls;
    BYTE expected;
  } rows[] = {
      {"three phases of 250 ms", {250, 250, 250}, SUCCESS},
      {"one phase of 700 ms", {700}, SUCCESS},
      {"many short phases", std::deque<uint32_t>(40, 10), SUCCESS},
      {"more than the cap", {130000}, READ_FAIL},
  };
  for (const Row& r : rows) {
    dfufake::Device().pollScript = r.polls;
    dfufake::Device().earlyRequests = 0;
    uint32_t announced = 0;
    for (uint32_t p : r.polls) announced += p;
    BYTE sector[] = {3, 0};
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(r.expected, KVBL_ERASE(kPort, 1, sector, 2048)) << r.what;
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(0u, dfufake::Device().earlyRequests) << r.what;
    if (r.expected == SUCCESS)
      EXPECT_GE(took, std::chrono::milliseconds(announced)) << r.what;
    else
      EXPECT_LT(took, std::chrono::seconds(5)) << r.what;
    dfufake::Device().pollScript.clear();
  }
}

// What an earlier program left behind is brought back to dfuIDLE at the
// connect, by the requests the state allows; a device waiting for the USB
// reset that ends a manifestation gets it, and must be connected again.
TEST_F(Dfu, LeftoversAreBroughtBackToIdleAtConnect) {
  dfufake::FakeDfuDevice& d = dfufake::Device();
  auto raw = [&](bool in, uint8_t request, uint16_t value, Bytes bytes) {
    return d.control(d.generation(), in, request, value, bytes.data(), static_cast<uint16_t>(bytes.size()));
  };
  const Bytes status(6), erasePage = {0x41, 0x00, 0x10, 0x00, 0x08}, pointer = {0x21, 0, 0, 0, 0x08};
  struct Row {
    const char* what;
    std::function<void()> leave;
    BYTE expected;
    unsigned early;  // requests the host could not know were early
  } rows[] = {
      {"busy erasing (for a time announced to another host)",
       [&] { d.polls.pageErase = 200; raw(false, 1, 0, erasePage); raw(true, 3, 0, status); }, SUCCESS, 1},
      {"in a download", [&] { raw(false, 1, 0, pointer); raw(true, 3, 0, status); }, SUCCESS, 0},
      {"in an upload", [&] { raw(true, 2, 2, Bytes(16)); }, SUCCESS, 0},
      {"in dfuERROR", [&] { raw(true, 2, 1, Bytes(16)); }, SUCCESS, 0},
      {"a download not yet asked for", [&] { raw(false, 1, 0, pointer); }, SUCCESS, 0},
      {"manifesting", [&] { raw(false, 1, 0, pointer); raw(true, 3, 0, status); raw(false, 1, 2, Bytes()); },
       CANT_INIT_BL, 0},
      {"waiting for a reset after manifesting",
       [&] { raw(false, 1, 0, pointer); raw(true, 3, 0, status); raw(false, 1, 2, Bytes()); raw(true, 3, 0, status); },
       CANT_INIT_BL, 0},
  };
  for (const Row& r : rows) {
    Interface_Close(kPort);
    SetUp();
    Interface_Close(kPort);
    r.leave();
    d.earlyRequests = 0;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_EQ(SUCCESS, Interface_Open(kPort)) << r.what;
    BYTE version = 0;
    EXPECT_EQ(r.expected, KVBL_GET(kPort, &version, &cmds)) << r.what;
    EXPECT_EQ(r.early, d.earlyRequests) << r.what;
    EXPECT_EQ(r.expected == SUCCESS ? 0u : 1u, d.reenumerations) << r.what;
    Interface_Close(kPort);
  }
}

// Two boards: the one a port is bound to is the one it reopens after the
// chip restarted, though it comes back after the other on the bus; while it
// is away the port opens nothing.
TEST_F(Dfu, APortReopensTheChipItIsBoundTo) {
  Interface_Close(kPort);
  auto& bus = dfufake::Bus();
  std::string error;
  bus.emplace_back(new dfufake::FakeDfuDevice);
  ASSERT_TRUE(bus[1]->setup(DFU_MAP_DIR, "KV32S04", "", error)) << error;
  bus[0]->serial = "KV0001";
  bus[1]->serial = "KV0002";
  const std::vector<std::string> before = ListChips();
  ASSERT_EQ(2u, before.size());
  ASSERT_EQ("usb:1-1 1209:4b56 serial=KV0001", before[0]);
  EXPECT_EQ(INPUT_PARAMS_ERROR, KVBL_BindDFUDevice(kPort, "1-1 serial=KV0001"));
  ASSERT_EQ(SUCCESS, KVBL_BindDFUDevice(kPort, before[0].c_str()));
  connect();
  ASSERT_EQ(SUCCESS, KVBL_ResetMCU(kPort));
  Interface_Close(kPort);
  EXPECT_EQ(CANT_OPEN_COM, Interface_Open(kPort)) << "KV0001 is still away";
  reconnectAfterReset();
  const std::vector<std::string> after = ListChips();
  ASSERT_EQ(2u, after.size());
  EXPECT_EQ("usb:1-2 1209:4b56 serial=KV0002", after[0]) << "the chip that restarted comes last";
  const Bytes image = pattern(64, 3);
  ASSERT_EQ(SUCCESS, KVBL_DNLOAD(kPort, kFlash, const_cast<BYTE*>(image.data()), 64, 0));
  EXPECT_EQ(image, flash(kFlash, 64));
  Bytes other(64);
  ASSERT_TRUE(bus[1]->chip().read(kFlash, 64, other.data()));
  EXPECT_EQ(Bytes(64, 0xFF), other);
  // Unbound, the port is the first of the list again.
  Interface_Close(kPort);
  ASSERT_EQ(SUCCESS, KVBL_BindDFUDevice(kPort, nullptr));
  connect();
  ASSERT_EQ(SUCCESS, KVBL_DNLOAD(kPort, kFlash + 64, const_cast<BYTE*>(image.data()), 64, 0));
  ASSERT_TRUE(bus[1]->chip().read(kFlash + 64, 64, other.data()));
  EXPECT_EQ(image, other);
  Interface_Close(kPort);
  bus.pop_back();
}

// Whole transfer-size blocks, the address set only where a transfer does
// not follow on, no ABORT between reads: 3 control transfers per block
// downloaded (DNLOAD, GETSTATUS busy, GETSTATUS done), about 1 per block
// uploaded. The counts are reported in docs/dfu.md.
TEST_F(Dfu, WholeBlocksFewRoundTrips) {
  const uint32_t size = 256 * 1024, blocks = size / dfufake::kTransferSize;
  const Bytes image = pattern(size, 4);
  ASSERT_EQ(SUCCESS, KVBL_ERASE(kPort, KVBL_ERASE_CODE_FFFF, nullptr, 0));
  dfufake::Counts before = dfufake::Device().counts;
  ASSERT_EQ(SUCCESS, KVBL_DNLOAD(kPort, kFlash, const_cast<BYTE*>(image.data()), size, 0));
  const dfufake::Counts down = dfufake::Device().counts;
  const unsigned downloading = down.total() - before.total();
  Bytes back(size);
  ASSERT_EQ(SUCCESS, KVBL_UPLOAD(kPort, kFlash, back.data(), size));
  const unsigned uploading = dfufake::Device().counts.total() - down.total();
  std::printf("256 KB: download %u control transfers (%u DNLOAD, %u GETSTATUS), upload %u (%u UPLOAD)\n",
              downloading, down.dnload - before.dnload, down.getstatus - before.getstatus, uploading,
              dfufake::Device().counts.upload - down.upload);
  EXPECT_EQ(image, back);
  ASSERT_EQ(SUCCESS, KVBL_VERIFY(kPort, kFlash, const_cast<BYTE*>(image.data()), size, 0));
  EXPECT_LE(downloading, 3 * blocks + 3);  // + the address once
  EXPECT_LE(uploading * 10, 12 * blocks);  // at most 1.2 per block
  EXPECT_EQ(0u, dfufake::Device().earlyRequests);
}

// The end of a download: the device manifests, then either waits for the
// USB reset (not manifestation tolerant) or comes back to dfuIDLE first;
// either way the host resets it and the program runs.
TEST_F(Dfu, GoLeavesDfuModeForGood) {
  for (uint8_t attributes : {dfufake::kDefaultAttributes, uint8_t(dfufake::kDefaultAttributes | dfufake::kAttrTolerant)}) {
    SCOPED_TRACE(int(attributes));
    Interface_Close(kPort);
    SetUp();
    dfufake::Device().attributes = attributes;
    Interface_Close(kPort);
    connect();
    EXPECT_EQ(CMD_NOT_ALLOWED, KVBL_GO(kPort, 0x00001000));  // not a place to run from
    ASSERT_EQ(SUCCESS, KVBL_GO(kPort, kFlash));
    EXPECT_EQ(0u, dfufake::Device().earlyRequests);
    Interface_Close(kPort);
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    EXPECT_FALSE(dfufake::Device().present());
    EXPECT_EQ(CANT_OPEN_COM, Interface_Open(kPort));
  }
}

}  // namespace
