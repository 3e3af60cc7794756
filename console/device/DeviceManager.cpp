#include "device/DeviceManager.h"

#include "device/KV32F4Device.h"

CDeviceManager::~CDeviceManager() { qDeleteAll(m_lsCDevice); }

CDevice* CDeviceManager::GetDevice(const std::string& strPID, const std::string& strSerial, int iFlashSize) {
  for (CDevice* d : m_lsCDevice)
    if (d->m_StrPID == strPID && d->m_IFlashSize == iFlashSize && d->m_StrSerial == strSerial) return d;
  CKV32F4Device* device = new CKV32F4Device(strPID, strSerial, iFlashSize);
  if (!device->IsDevicePID(strPID, strSerial) || device->m_StrPID != strPID) {
    delete device;
    return nullptr;
  }
  m_lsCDevice.append(device);
  return device;
}

unsigned int CDeviceManager::GetFlashSizeAddress(const std::string& strPID, const std::string& strSerial,
                                                 int iFlashSize) {
  CDevice* d = GetDevice(strPID, strSerial, iFlashSize);
  return d ? d->m_UiFlashSizeAdd : 0;
}
