/* SPDX-License-Identifier: MIT */
// The protocol variant, exported by libKVBLLIB, libKVI2CBLLIB and
// libKVCANBLLIB (the SPI link has none, and libKVSPIBLLIB does not export
// it). KVBLLIB.h, KVI2CBL.h and KVCANBL.h include this file.
#ifndef KVBLACKVALUE_H
#define KVBLACKVALUE_H

#include "KVBL.h"

typedef enum { UNDEFINED = 0, ST75 = 117, ST79 = 121 } ACKS;

#ifdef __cplusplus
extern "C" {
#endif

// 0x79 (ST79) selects the frames every call of these libraries sends;
// KVBL_GET sets it to 0x79 unless it is 0x75.
KVBL_API extern ACKS ACK_VALUE;
KVBL_API ACKS GetAckValue(void);

#ifdef __cplusplus
}  // extern "C"
#endif

#endif  // KVBLACKVALUE_H
