#include "FakeLine.h"

#include <cstring>

FakeFlavourState* FakeFlavourState::current = nullptr;

namespace {

BYTE fakeWrite(HANDLE, const BYTE* data, WORD n) {
  FakeFlavourState* s = FakeFlavourState::current;
  s->written.emplace_back(data, data + n);
  if (s->writeCalls++ == s->failWriteAt) return s->failWriteCode;
  return SUCCESS;
}

BYTE fakeRead(HANDLE, BYTE* data, WORD n) {
  FakeFlavourState* s = FakeFlavourState::current;
  if (s->reads.empty()) return READ_FAIL;
  Bytes b = s->reads.front();
  s->reads.pop_front();
  if (b.size() < n) return READ_FAIL;
  std::memcpy(data, b.data(), n);
  return SUCCESS;
}

BYTE fakeBlock(HANDLE, BYTE* data, WORD cap, WORD* got) {
  FakeFlavourState* s = FakeFlavourState::current;
  if (s->blocks.empty()) return READ_FAIL;
  Bytes b = s->blocks.front();
  s->blocks.pop_front();
  if (b.size() > cap) return READ_FAIL;
  std::memcpy(data, b.data(), b.size());
  *got = static_cast<WORD>(b.size());
  return SUCCESS;
}

BYTE fakeInit(HANDLE, WORD, DWORD, BYTE) { return SUCCESS; }

const kvbl::Flavour* g_selected = nullptr;

}  // namespace

const kvbl::Flavour& FakeFlavour() {
  static const kvbl::Flavour f = [] {
    kvbl::Flavour x{};
    x.name = "fake";
    x.interfaceType = 99;
    x.initBL = fakeInit;
    x.write = fakeWrite;
    x.read = fakeRead;
    x.readBlock = fakeBlock;
    return x;
  }();
  return f;
}

void SelectFlavourForTests(const kvbl::Flavour* f) { g_selected = f; }

// The library binding of the test executables.
namespace kvbl {
BYTE SelectInterfaceType(BYTE) { return SUCCESS; }
const Flavour* SelectedFlavour() { return g_selected; }
}  // namespace kvbl
