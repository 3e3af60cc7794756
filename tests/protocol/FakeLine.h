// Recording fakes for the protocol tests:
//  * FakeSerial: a serial port whose writes are recorded frame by frame and
//    whose reads play scripted bytes (for the bridge framing);
//  * FakeFlavour: a transport at the bootloader level that records every
//    host byte string and plays scripted answers (for the command layer).
#ifndef PROTOCOL_FAKELINE_H
#define PROTOCOL_FAKELINE_H

#include <deque>
#include <map>
#include <string>
#include <vector>

#include "KVBLFlavour.h"
#include "SerialPort.h"

using Bytes = std::vector<BYTE>;

class FakeSerial : public CSerialPort {
 public:
  std::vector<Bytes> sent;
  std::deque<BYTE> answers;
  long shortWriteAt = -1;  // index of the write that is cut short
  // Answers that arrive only once the write of that index (into `sent`) is
  // made, as a chip answers what it was sent.
  std::map<size_t, Bytes> answerAfter;

  void answer(const Bytes& b) { answers.insert(answers.end(), b.begin(), b.end()); }

  bool openPort() override { return isConnected = true; }
  void closePort() override { isConnected = false; }
  bool isOpened() override { return false; }
  int receiveData(unsigned long lg, unsigned char* data) override {
    unsigned long n = 0;
    while (n < lg && !answers.empty()) {
      data[n++] = answers.front();
      answers.pop_front();
    }
    return static_cast<int>(n);
  }
  int receiveData(std::string*) override { return 0; }
  int sendData(unsigned long lg, unsigned char* data) override {
    sent.emplace_back(data, data + lg);
    auto later = answerAfter.find(sent.size() - 1);
    if (later != answerAfter.end()) answer(later->second);
    if (static_cast<long>(sent.size()) - 1 == shortWriteAt) return static_cast<int>(lg) - 1;
    return static_cast<int>(lg);
  }
  int sendData(std::string*) override { return 0; }
  bool setTimeOut(unsigned long ms) override { m_timeout = ms; return true; }
  void setFlowControl(FlowControl) override {}
  bool setRts(bool) override { return true; }
  bool setDtr(bool) override { return true; }
  bool setTxd(bool) override { return false; }
  bool getCts() override { return false; }
  bool getDtr() override { return false; }
  bool getRi() override { return false; }
  bool getCd() override { return false; }
  std::string getErrorMsg() override { return {}; }
};

// The bootloader-level fake. One instance is active at a time.
struct FakeFlavourState {
  std::vector<Bytes> written;
  std::deque<Bytes> reads;  // one entry per read call (or a shorter one: READ_FAIL)
  std::deque<Bytes> blocks; // GET blocks
  BYTE failWriteCode = SUCCESS;
  int writeCalls = 0;
  int failWriteAt = -1;

  static FakeFlavourState* current;
};

const kvbl::Flavour& FakeFlavour();

// The flavour the test binding hands to SetCOMSettings / Interface_Open.
void SelectFlavourForTests(const kvbl::Flavour* f);

#endif  // PROTOCOL_FAKELINE_H
