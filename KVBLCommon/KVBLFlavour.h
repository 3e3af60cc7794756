// How a transport ("flavour") plugs into the shared command layer.
//
// Everything that is the same on every link lives in KVBLCommon once: the
// per-port tables, the target descriptor, request building, the reference
// Send_RQ, block transfers, erase grouping, progress, the TARGET_ functions
// and every bounds check. A flavour supplies only a `kvbl::Flavour` table:
//
//   * line functions (required): bridge start (`initBL`), `write` of one host
//     byte string, `read` of exactly n bytes, and `readBlock`, the variable-
//     length read of the GET answer. Each returns SUCCESS or a result code;
//     `read` must never report bytes that did not arrive.
//   * optional differences from the reference command sequences (leave a
//     pointer null / a field 0 to get the reference behaviour):
//       `open`/`close` for links that are not a serial terminal,
//       `setSpeed`     KVBL_SetSpeed (null: CMD_NOT_ALLOWED),
//       `sendCommand`  the command frame (reference: [cmd][NOT cmd]),
//       `ack`          every "ACK?" of Send_RQ, returning the code Send_RQ
//                      returns for it (reference: read 1 byte and compare),
//       `pause`        waits at the named points, replacing the reference
//                      waits (2 s before the first ACK of 0x82/0x91/0x92);
//                      PAUSE_BEFORE_RESULT comes before the CRC bytes of
//                      0xAC and before the status byte of 0xD0/0xD1,
//       `getCountIsBlock0` CmdCount = block[0] (reference: block[0] + 1),
//       `finalByteIsAck` GO, RESET_MCU and the ISP-tool command end with
//                      `ack` instead of a plain byte read,
//       `knowsCode`    which codes of a GET answer the flavour recognises,
//       `sendRQ`       a complete Send_RQ of its own (for links whose
//                      sequences differ throughout); it can use the helpers
//                      of KVBLRequest.h so no check is written twice,
//       `onSlibStatus` told the first status word after KVBL_GetSlibStatus,
//       `exactRate`    the serial port runs at exactly the user's rate,
//       `readRange`/`writeRange` whole ranges for KVBL_UPLOAD, KVBL_VERIFY
//                      and KVBL_DNLOAD, for links whose requests carry more
//                      than a packet (DFU),
//       `resync`       how the line is brought back in step after a failed
//                      command (KVBLRecovery.h; null: failed commands are
//                      not repeated),
//       `frames`       the host frames of a command, for a flavour with
//                      sequences of its own (null: the reference's).
//
// Frames reach the serial port through kvbl::LineSend / kvbl::LineReceive
// (KVBLPorts.h); waits go through kvbl::Sleep so that tests need not sleep.
//
// Each flavour lives in its own namespace (kvi2c, kvspi, kvcan, kvusart) and
// defines `extern const kvbl::Flavour kFlavour` there, declared in its
// folder's header (I2CBridge.h, SPIBridge.h, CANBridge.h). Its code is an
// OBJECT library named KV<I2C|SPI|CAN>BL_objects linking KVBLCommon. A
// standalone flavour library is those objects + KVBLCommon + SerialPort +
// one source file with
//     KVBL_SINGLE_FLAVOUR_LIBRARY(kvspi::kFlavour)
// linked with KVBLExports (see KVI2CBLLIB/CMakeLists.txt). libKVBLLIB picks
// the SPI and CAN object libraries up when they exist and routes interface
// types 4 and 3 to them (KVBLLIB/CMakeLists.txt, KVBLLIB/KVBLRouting.cpp).
#ifndef KVBLFLAVOUR_H
#define KVBLFLAVOUR_H

#include "KVBL.h"

namespace kvbl {

enum AckPoint { ACK_FIRST = 0, ACK_LATER = 1 };
enum PausePoint { PAUSE_BEFORE_FIRST_ACK = 0, PAUSE_BEFORE_RESULT = 1 };

struct Flavour {
  const char* name;
  BYTE interfaceType;

  // ---- line functions --------------------------------------------------
  BYTE (*initBL)(HANDLE h, WORD addr, DWORD rate, BYTE dutyCycle);
  BYTE (*write)(HANDLE h, const BYTE* data, WORD n);
  BYTE (*read)(HANDLE h, BYTE* data, WORD n);
  // Reads the GET block into data (at most cap bytes); *got = bytes that
  // arrived. A block longer than cap must be refused, never truncated.
  BYTE (*readBlock)(HANDLE h, BYTE* data, WORD cap, WORD* got);

  // ---- differences from the reference (null / 0 = reference) -----------
  // Port open/close for links that are not a serial terminal (null: the
  // port's serial object).
  BYTE (*open)(HANDLE h) = nullptr;
  void (*close)(HANDLE h) = nullptr;
  BYTE (*setSpeed)(HANDLE h, DWORD speed) = nullptr;
  BYTE (*sendCommand)(HANDLE h, BYTE cmd) = nullptr;
  BYTE (*ack)(HANDLE h, BYTE cmd, AckPoint point) = nullptr;
  void (*pause)(BYTE cmd, PausePoint point, const KVBL_Request* rq) = nullptr;
  bool getCountIsBlock0 = false;
  bool finalByteIsAck = false;
  bool (*knowsCode)(BYTE code) = nullptr;
  BYTE (*sendRQ)(HANDLE h, LPKVBL_Request rq) = nullptr;
  void (*onSlibStatus)(DWORD slibStatus) = nullptr;
  bool exactRate = false;
  // Reads / writes [address, address + length) (length > 0, the range and
  // the command flag checked) in as few requests as the link allows, in
  // place of one READ or WRITE per packet. A write's length is even.
  BYTE (*readRange)(HANDLE h, DWORD address, BYTE* data, DWORD length) = nullptr;
  BYTE (*writeRange)(HANDLE h, DWORD address, const BYTE* data, DWORD length) = nullptr;
  // Brings the chip back to waiting for a command: the chip may be waiting
  // for a command or for a frame of the command in progress, and the n
  // bytes of `completion` (never 0) make it refuse any of them. SUCCESS once
  // the chip has answered; another code when it did not (a stall). A
  // flavour with sequences of its own may bring its line back otherwise.
  BYTE (*resync)(HANDLE h, const BYTE* completion, WORD n) = nullptr;
  // Host frames of a command, its opening included; the last one is the one
  // the chip acts on.
  BYTE (*frames)(const KVBL_Request* rq) = nullptr;
};

// A flavour's table with its line functions set and every difference from
// the reference left at null / 0; the flavour sets its differences after.
inline Flavour LineFlavour(const char* name, BYTE interfaceType,
                           BYTE (*initBL)(HANDLE, WORD, DWORD, BYTE),
                           BYTE (*write)(HANDLE, const BYTE*, WORD), BYTE (*read)(HANDLE, BYTE*, WORD),
                           BYTE (*readBlock)(HANDLE, BYTE*, WORD, WORD*)) {
  return Flavour{name, interfaceType, initBL, write, read, readBlock};
}

// KVBL_GET's protocol-variant step (KVBLAckValue.cpp): ACK_VALUE becomes
// 0x79 unless it is 0x75. A library whose transport has no variant (SPI)
// leaves ACK_VALUE and GetAckValue out of its export map.
void SelectAckVariant();

// ---- supplied once per library (see KVBL_SINGLE_FLAVOUR_LIBRARY) ---------
// TARGET_SetComIntType: select the flavour that the next SetCOMSettings (or
// an Interface_Open of a port without settings) binds to its port.
BYTE SelectInterfaceType(BYTE type);
// The flavour selected now; null when this library has none for the type.
const Flavour* SelectedFlavour();

// Erase/program protection, shared by every library; each exports it as
// KVBL_ERASEPROGRAM_PROTECT with the parameters its header declares.
BYTE EraseProgramProtect(HANDLE h, BYTE NbSectors, LPBYTE pSectors);

}  // namespace kvbl

// A library that carries exactly one flavour: every port uses it and
// TARGET_SetComIntType accepts any type and changes nothing. Its
// erase/program protection takes the three parameters of the bridge
// libraries' headers (KVI2CBL.h, KVSPIBL.h, KVCANBL.h).
#define KVBL_SINGLE_FLAVOUR_LIBRARY(flavour)                                          \
  namespace kvbl {                                                                    \
  BYTE SelectInterfaceType(BYTE) { return SUCCESS; }                                  \
  const Flavour* SelectedFlavour() { return &(flavour); }                             \
  }                                                                                   \
  extern "C" KVBL_API BYTE KVBL_ERASEPROGRAM_PROTECT(HANDLE hCOM, BYTE NbSectors,     \
                                                     LPBYTE pSectors) {               \
    return kvbl::EraseProgramProtect(hCOM, NbSectors, pSectors);                      \
  }

#endif  // KVBLFLAVOUR_H
