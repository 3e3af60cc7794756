// The cache of chip descriptions made from the catalogue.
#ifndef TARNFLASH_DEVICE_DEVICEMANAGER_H
#define TARNFLASH_DEVICE_DEVICEMANAGER_H

#include <string>

#include <QList>

#include "device/Device.h"

class CDeviceManager {
 public:
  CDeviceManager() = default;
  ~CDeviceManager();
  CDeviceManager(const CDeviceManager&) = delete;
  CDeviceManager& operator=(const CDeviceManager&) = delete;

  // The description of the chip, cached; null when no map file claims it.
  CDevice* GetDevice(const std::string& strPID, const std::string& strSerial, int iFlashSize);
  // Flash-size register address of the chip's description, 0 when none.
  unsigned int GetFlashSizeAddress(const std::string& strPID, const std::string& strSerial, int iFlashSize);

 private:
  QList<CDevice*> m_lsCDevice;  // owned
};

#endif
