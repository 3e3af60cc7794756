#include "device/Device.h"

#include "device/Mapping.h"

CDevice::~CDevice() { delete m_CMapping; }
