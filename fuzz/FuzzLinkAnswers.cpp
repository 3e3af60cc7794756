// The answers of each link fed to the library as a fake line: a port of the
// library is bound to the transport under test over a line whose every read
// plays the next bytes of the input. A run of commands then walks the
// command layer and the transport's framing; whatever comes back, nothing
// may be read or written past a buffer (the sanitizers watch), and a command
// that reports success may not have used bytes that never arrived.
#include <algorithm>
#include <cstring>
#include <vector>

#include "FuzzEntries.h"
#include "KVBLLIB.h"
#include "KVBLPorts.h"
#include "SerialPort.h"

namespace {

// A serial line whose reads play the input and whose writes go nowhere; or,
// to record seeds, a pass-through to a real line that keeps what it read.
class PlayedLine : public CSerialPort {
 public:
  void play(const uint8_t* data, size_t size) {
    data_ = data;
    size_ = size;
    pos_ = 0;
  }
  void passTo(CSerialPort* real, std::string* record) {
    real_ = real;
    record_ = record;
  }
  size_t consumed() const { return pos_; }

  bool openPort() override { return isConnected = real_ ? real_->openPort() : true; }
  void closePort() override {
    if (real_) real_->closePort();
    isConnected = false;
  }
  bool isOpened() override { return isConnected; }
  int receiveData(unsigned long lg, unsigned char* out) override {
    if (real_) {
      const int n = real_->receiveData(lg, out);
      if (n > 0) {
        record_->append(reinterpret_cast<const char*>(out), size_t(n));
        pos_ += size_t(n);
      }
      return n;
    }
    const size_t n = std::min<size_t>(lg, size_ - pos_);
    if (n) std::memcpy(out, data_ + pos_, n);
    pos_ += n;
    return static_cast<int>(n);
  }
  int receiveData(std::string*) override { return 0; }
  int sendData(unsigned long lg, unsigned char* data) override {
    return real_ ? real_->sendData(lg, data) : static_cast<int>(lg);
  }
  int sendData(std::string*) override { return 0; }
  bool setTimeOut(unsigned long ms) override {
    m_timeout = ms;
    return real_ ? real_->setTimeOut(ms) : true;
  }
  void setFlowControl(FlowControl) override {}
  bool setRts(bool) override { return true; }
  bool setDtr(bool) override { return true; }
  bool setTxd(bool) override { return true; }
  bool getCts() override { return false; }
  bool getDtr() override { return false; }
  bool getRi() override { return false; }
  bool getCd() override { return false; }
  std::string getErrorMsg() override { return {}; }

 private:
  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
  size_t pos_ = 0;
  CSerialPort* real_ = nullptr;
  std::string* record_ = nullptr;
};

constexpr int kPort = 900;

void AllowEveryCommand(TARGET_DESCRIPTOR* d) {
  d->GET_CMD = d->GET_VER_ROPS_CMD = d->GET_ID_CMD = d->SET_SPEED_CMD = 1;
  d->READ_CMD = d->GO_CMD = d->WRITE_CMD = d->ERASE_EXT_CMD = 1;
  d->ERASE_CMD = 0;
  d->ERASEPROGRAM_PROTECT_CMD = d->ERASEPROGRAM_TEMP_UNPROTECT_CMD = 1;
  d->ERASEPROGRAM_PERM_UNPROTECT_CMD = d->ACCESS_PERM_PROTECT_CMD = 1;
  d->ACCESS_TEMP_UNPROTECT_CMD = d->ACCESS_PERM_UNPROTECT_CMD = d->FIRMWARE_CRC_CMD = 1;
  d->ENABLE_BANK3_CMD = d->KV32_ISP_CMD = d->ENABLE_SLIB_CMD = d->DISABLE_SLIB_CMD = 1;
  d->GET_SLIB_STATUS_CMD = d->REMAP_ENABLE_CMD = d->RESET_MCU_CMD = 1;
  d->ACCESS_LEVEL_PROTECT_CMD = 1;
}

// One step of the walk; the line's consumed count before and after tells
// how many answer bytes it had.
using Step = void (*)(HANDLE h, PlayedLine& line);

void StepInit(HANDLE h, PlayedLine&) { KVBL_Init_BL(h, 0x3C, 400000, 0); }

void StepGet(HANDLE h, PlayedLine&) {
  BYTE version = 0;
  Commands cmds{};
  KVBL_GET(h, &version, &cmds);
}

void StepVersion(HANDLE h, PlayedLine&) {
  BYTE v = 0, e = 0, d = 0;
  KVBL_GET_VER_ROPS(h, &v, &e, &d);
}

void StepId(HANDLE h, PlayedLine& line) {
  BYTE size = 0;
  BYTE id[8];
  const size_t before = line.consumed();
  if (KVBL_GET_ID(h, &size, id) == SUCCESS) {
    FuzzCheck(size <= 5, "GET_ID longer than 5 bytes accepted");
    FuzzCheck(line.consumed() - before >= size, "GET_ID bytes that never arrived");
  }
}

void StepRead(HANDLE h, PlayedLine& line) {
  std::vector<BYTE> out(252);
  const size_t before = line.consumed();
  if (KVBL_READ(h, 0x08000000, 252, out.data()) == SUCCESS)
    FuzzCheck(line.consumed() - before >= 252, "READ data that never arrived");
}

void StepUpload(HANDLE h, PlayedLine& line) {
  std::vector<BYTE> out(600);
  const size_t before = line.consumed();
  if (KVBL_UPLOAD(h, 0x08000000, out.data(), DWORD(out.size())) == SUCCESS)
    FuzzCheck(line.consumed() - before >= out.size(), "UPLOAD data that never arrived");
}

void StepWrite(HANDLE h, PlayedLine&) {
  std::vector<BYTE> in(13, 0x5A);  // odd: the pad byte is the library's
  KVBL_WRITE(h, 0x08000000, 13, in.data());
}

void StepDownload(HANDLE h, PlayedLine&) {
  std::vector<BYTE> in(520, 0xA5);
  KVBL_DNLOAD(h, 0x08000000, in.data(), DWORD(in.size()), 0);
}

void StepVerify(HANDLE h, PlayedLine& line) {
  std::vector<BYTE> in(300, 0x11);
  const size_t before = line.consumed();
  if (KVBL_VERIFY(h, 0x08000000, in.data(), DWORD(in.size()), 0) == SUCCESS)
    FuzzCheck(line.consumed() - before >= in.size(), "VERIFY matched bytes that never arrived");
}

void StepErase(HANDLE h, PlayedLine&) {
  BYTE sectors[6] = {0, 1, 0, 2, 0x80, 0};
  KVBL_ERASE(h, 3, sectors, 2048);
  KVBL_ERASE(h, 0xFFFF, nullptr, 2048);
}

void StepCrc(HANDLE h, PlayedLine&) {
  BYTE crc[4];
  KVBL_GetFirmwareCRC(h, 0x08000000, 4, crc);
}

void StepSlib(HANDLE h, PlayedLine&) {
  DWORD a = 0, b = 0, c = 0, d = 0;
  KVBL_GetSlibStatus(h, &a, &b, &c);
  KVBL_GetSlibStatus_Ex(h, &a, &b, &c, &d);
  KVBL_EnableSlib(h, 0x12345678, 1, 2, 3);
  KVBL_DisableSlib(h, 0x12345678);
}

void StepProtection(HANDLE h, PlayedLine&) {
  BYTE sectors[2] = {0, 1};
  KVBL_ERASEPROGRAM_PROTECT(h, 2, sectors, 0);
  KVBL_ERASEPROGRAM_TEMP_UNPROTECT(h);
  KVBL_ACCESS_PROTECT_LEVEL(h, 1);
  KVBL_ACCESS_PERM_UNPROTECT(h);
}

void StepFeatures(HANDLE h, PlayedLine&) {
  KVBL_EnableBank3(h, 0x90, 4096 * 1024, 0x12);
  KVBL_SPIMREMAP(h, 1);
  KVBL_KV32ISP_TOOL(h);
  KVBL_GO(h, 0x08000000);
  KVBL_ResetMCU(h);
}

void StepTarget(HANDLE h, PlayedLine&) {
  WORD flash = 0;
  TARGET_GetFlashSize(h, 0x1FFFF7E0, &flash);
  BYTE usd[48];
  TARGET_GetUserSystemData(h, 0x1FFFF800, usd, sizeof(usd));
  BYTE fap = 0;
  TARGET_GetFAPUserSystemData(h, &fap);
}

const Step kSteps[] = {StepInit,   StepGet,   StepVersion, StepId,   StepRead,
                       StepUpload, StepWrite, StepDownload, StepVerify, StepErase,
                       StepCrc,    StepSlib,  StepProtection, StepFeatures, StepTarget};
constexpr size_t kStepCount = sizeof(kSteps) / sizeof(kSteps[0]);

// The first input byte picks the first step and the packet size; the rest is
// what the line answers.
void RunSteps(HANDLE h, PlayedLine& line, uint8_t first) {
  SetPaketSize(h, BYTE(4 + 4 * ((first >> 4) % 63)));
  AllowEveryCommand(kvbl::Descriptor(kPort));
  for (size_t i = first % kStepCount; i < kStepCount; ++i) {
    kSteps[i](h, line);
    // GET rewrites the flags from the answer; keep every command open.
    AllowEveryCommand(kvbl::Descriptor(kPort));
  }
}

int RunLink(BYTE type, const uint8_t* data, size_t size) {
  static bool once = [] {
    kvbl::SetSleepFunction([](unsigned) {});
    return true;
  }();
  (void)once;
  if (size < 1) return 0;
  PlayedLine line;
  kvbl::ReplaceLine(kPort, &line);
  kvbl::BindFlavour(kPort, nullptr);
  TARGET_SetComIntType(type);
  HANDLE h = nullptr;
  char name[] = "played";
  const bool opened = SetCOMSettings(&h, kPort, name, 115200, 8, 2, 1.0f) == SUCCESS && Interface_Open(h) == SUCCESS;
  FuzzCheck(opened, "the played line opens");
  if (opened) {
    line.play(data + 1, size - 1);
    RunSteps(h, line, data[0]);
    Interface_Close(h);
  }
  kvbl::ReplaceLine(kPort, nullptr);
  kvbl::BindFlavour(kPort, nullptr);
  return 0;
}

}  // namespace

int FuzzUsartAnswers(const uint8_t* data, size_t size) { return RunLink(KVBL_INTERFACE_USART, data, size); }
int FuzzI2CAnswers(const uint8_t* data, size_t size) { return RunLink(KVBL_INTERFACE_I2C, data, size); }
int FuzzSpiAnswers(const uint8_t* data, size_t size) { return RunLink(KVBL_INTERFACE_SPI, data, size); }
int FuzzCanAnswers(const uint8_t* data, size_t size) { return RunLink(KVBL_INTERFACE_CAN, data, size); }

std::string RecordLinkAnswers(unsigned char type, const std::string& portName, uint8_t first) {
  std::string record(1, char(first));
  PlayedLine line;
  kvbl::ReplaceLine(kPort, nullptr);
  kvbl::BindFlavour(kPort, nullptr);
  TARGET_SetComIntType(type);
  HANDLE h = nullptr;
  std::string name = portName;
  if (SetCOMSettings(&h, kPort, &name[0], 115200, 8, 2, 1.0f) != SUCCESS) return std::string();
  line.passTo(kvbl::Line(kPort), &record);
  kvbl::ReplaceLine(kPort, &line);
  if (Interface_Open(h) == SUCCESS) {
    SetTimeOut(h, 500);
    RunSteps(h, line, first);
    Interface_Close(h);
  }
  kvbl::ReplaceLine(kPort, nullptr);
  return record;
}
