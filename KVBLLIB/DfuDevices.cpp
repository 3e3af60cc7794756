// KVBL_GetKVDeviceList: the KV32 chips in DFU mode on the bus, and
// KVBL_GetKVDeviceProblems: the devices that could not be opened, and why.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "DfuLine.h"
#include "KVBLLIB.h"
#include "UsbDevice.h"

namespace {

constexpr unsigned kIdTableSize = 255;
constexpr size_t kMaxProblems = 32;

std::vector<std::string>& Problems() {
  static std::vector<std::string> problems;
  return problems;
}

}  // namespace

namespace kvdfu {
void NoteDfuProblem(const std::string& text) {
  if (!text.empty() && Problems().size() < kMaxProblems) Problems().push_back(text);
}
}  // namespace kvdfu

KVBL_API BYTE KVBL_GetKVDeviceList(LPBYTE pCount, LPWORD pVendorIds, LPWORD pProductIds,
                                   char (*DeviceInfo)[KVBL_DFU_INFO_LENGTH]) {
  if (!pCount || !pVendorIds || !pProductIds || !DeviceInfo)
    return INPUT_PARAMS_MEMORY_ALLOCATION_ERROR;
  const unsigned capacity = *pCount < kIdTableSize ? *pCount : kIdTableSize;
  *pCount = 0;
  Problems().clear();
  std::vector<kvdfu::DfuListing> devices;
  std::vector<std::string> problems;
  const bool listed = kvdfu::ListDfuDevices(devices, problems);
  for (const std::string& p : problems) kvdfu::NoteDfuProblem(p);
  unsigned found = 0;
  for (const kvdfu::DfuListing& d : devices) {
    if (found >= capacity) break;
    pVendorIds[found] = d.vendor;
    pProductIds[found] = d.product;
    // "usb:1-4.2 1209:4b56 serial=KV0001", the serial number last.
    char text[KVBL_DFU_INFO_LENGTH];
    std::snprintf(text, sizeof text, "usb:%s %04x:%04x serial=", d.path.c_str(), d.vendor, d.product);
    std::snprintf(DeviceInfo[found], KVBL_DFU_INFO_LENGTH, "%s%s", text, d.serial.c_str());
    ++found;
  }
  *pCount = static_cast<BYTE>(found);
  return listed ? SUCCESS : CANT_OPEN_COM;
}

KVBL_API BYTE KVBL_GetKVDeviceProblems(LPBYTE pCount, char (*Texts)[KVBL_DFU_PROBLEM_LENGTH]) {
  if (!pCount || !Texts) return INPUT_PARAMS_MEMORY_ALLOCATION_ERROR;
  const size_t n = std::min<size_t>(*pCount, Problems().size());
  for (size_t k = 0; k < n; ++k) std::snprintf(Texts[k], KVBL_DFU_PROBLEM_LENGTH, "%s", Problems()[k].c_str());
  *pCount = static_cast<BYTE>(n);
  return SUCCESS;
}
