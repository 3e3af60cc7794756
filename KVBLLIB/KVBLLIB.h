/* SPDX-License-Identifier: MIT */
// libKVBLLIB: the programming interface of KVBL.h over a UART or USB DFU,
// and through the I2C, SPI and CAN bridges as well (TARGET_SetComIntType
// chooses the transport of the next port; type 0, the UART, until then).
// Beside KVBL.h the library exports the protocol variant (KVBLAckValue.h),
// erase/program protection with its fourth parameter and the list of USB
// devices in DFU mode. Plain C99 or C++17, C linkage.
#ifndef KVBLLIB_H
#define KVBLLIB_H

#include "KVBL.h"
#include "KVBLAckValue.h"

#ifdef __cplusplus
extern "C" {
#endif

// [ERASEPROGRAM_PROTECT_CMD]: protects the NbSectors sectors numbered (one
// byte each) in pSectors; adds 1 to Progress on success. Flag: 1 over USB
// DFU for series 13 and 14, else 0.
KVBL_API BYTE KVBL_ERASEPROGRAM_PROTECT(HANDLE hCOM, BYTE NbSectors, LPBYTE pSectors,
                                        BYTE Flag);

// The KV32 chips in USB DFU mode: devices with a DFU-mode interface whose
// interface string names a KV32 chip. *pCount: capacity on entry (entries
// of DeviceInfo; the vendor and product tables hold at least 255 entries),
// number of devices found on return. Each DeviceInfo entry receives a
// zero-terminated text of at most KVBL_DFU_INFO_LENGTH - 1 characters:
// "usb:BUS-PORTS VID:PID serial=SERIAL".
KVBL_API BYTE KVBL_GetKVDeviceList(LPBYTE pCount, LPWORD pVendorIds, LPWORD pProductIds,
                                   char (*DeviceInfo)[KVBL_DFU_INFO_LENGTH]);

KVBL_CONSTANT(int, KVBL_DFU_PROBLEM_LENGTH, 256);  // characters per DFU problem text

// What went wrong with USB DFU devices since the last listing, one text
// each: a device in DFU mode that could not be opened to be identified, a
// chosen chip that could not be opened or claimed, and why (no permission,
// busy, gone). *pCount: capacity on entry, texts on return.
KVBL_API BYTE KVBL_GetKVDeviceProblems(LPBYTE pCount, char (*Texts)[KVBL_DFU_PROBLEM_LENGTH]);

// Binds a DFU port to one chip of the list: its opens, the first and every
// reopen after the chip restarted, reach only the device at that place on
// the bus with that serial number, wherever it is in the list by then (a
// chip that re-enumerates may come back after the other boards); an open
// finds no device while it is away. deviceInfo: an entry of
// KVBL_GetKVDeviceList as it was given; null or empty unbinds (the port
// number is the index in the list again). Kept while the port is closed.
KVBL_API BYTE KVBL_BindDFUDevice(HANDLE hCOM, const char* deviceInfo);

// The DFU status (bStatus, 0x01 errTARGET .. 0x0F errSTALLEDPKT) and state
// the device reported when the last call on the port failed on it; 0 and 0
// when that call saw no error status.
KVBL_API BYTE KVBL_GetDFUStatus(HANDLE hCOM, LPBYTE pStatus, LPBYTE pState);

#ifdef __cplusplus
}  // extern "C"
#endif

#endif  // KVBLLIB_H
