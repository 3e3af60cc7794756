/* SPDX-License-Identifier: MIT */
// The programming interface of the bootloader-protocol libraries, as every
// one of them exports it: libKVBLLIB (USART and USB DFU), libKVI2CBLLIB,
// libKVSPIBLLIB and libKVCANBLLIB. What only some of them export is in
// KVBLLIB.h, KVI2CBL.h, KVSPIBL.h and KVCANBL.h; include the one of the
// library you link (it includes this file).
//
// A port is named by an opaque HANDLE that holds its number (0..1024); every
// function returns a one-byte result code (SUCCESS = 0). Buffers are always
// the caller's. Plain C99 or C++17, C linkage.
#ifndef KVBL_H
#define KVBL_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#if defined(KVBL_BUILDING_LIBRARY)
#define KVBL_API __attribute__((visibility("default")))
#else
#define KVBL_API
#endif

// A named constant: typed in C++, an enumerator in C (usable in case labels
// and array sizes there as well).
#ifdef __cplusplus
#define KVBL_CONSTANT(type, name, value) constexpr type name = value
#else
#define KVBL_CONSTANT(type, name, value) enum { name = value }
#endif

typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef unsigned long DWORD;  // protocol values use 32 bits of it
typedef int BOOL;
typedef void* HANDLE;
typedef BYTE* LPBYTE;
typedef WORD* LPWORD;
typedef DWORD* LPDWORD;
typedef HANDLE* PHANDLE;

// ---- result codes --------------------------------------------------------
KVBL_CONSTANT(BYTE, ERROR_OFFSET, 0x00);
KVBL_CONSTANT(BYTE, COM_ERROR_OFFSET, 0x00);
KVBL_CONSTANT(BYTE, SYS_MEM_ERROR_OFFSET, 0x10);
KVBL_CONSTANT(BYTE, PROGRAM_ERROR_OFFSET, 0x20);
KVBL_CONSTANT(BYTE, SLIBENABLE_ERROR_OFFSET, 0x30);
KVBL_CONSTANT(BYTE, SLIBDISABLE_ERROR_OFFSET, 0x40);

KVBL_CONSTANT(BYTE, SUCCESS, 0x00);
KVBL_CONSTANT(BYTE, NO_CON_AVAILABLE, 0x01);
KVBL_CONSTANT(BYTE, COM_ALREADY_OPENED, 0x02);
KVBL_CONSTANT(BYTE, CANT_OPEN_COM, 0x03);
KVBL_CONSTANT(BYTE, SEND_FAIL, 0x04);
KVBL_CONSTANT(BYTE, READ_FAIL, 0x05);
KVBL_CONSTANT(BYTE, I2C_UNRECOGNIZED_CMD, 0x06);
KVBL_CONSTANT(BYTE, I2C_INVALID_DATA_PARAM, 0x07);
KVBL_CONSTANT(BYTE, I2C_DEVICE_BUSY, 0x08);
KVBL_CONSTANT(BYTE, I2C_CMD_EXEC_ERROR, 0x09);
KVBL_CONSTANT(BYTE, SPI_UNRECOGNIZED_CMD, 0x06);
KVBL_CONSTANT(BYTE, SPI_INVALID_DATA_PARAM, 0x07);
KVBL_CONSTANT(BYTE, SPI_DEVICE_BUSY, 0x08);
KVBL_CONSTANT(BYTE, SPI_CMD_EXEC_ERROR, 0x09);
KVBL_CONSTANT(BYTE, CAN_UNRECOGNIZED_CMD, 0x0A);
KVBL_CONSTANT(BYTE, CAN_INVALID_DATA_PARAM, 0x0B);
KVBL_CONSTANT(BYTE, CAN_DEVICE_BUSY, 0x0C);
KVBL_CONSTANT(BYTE, CAN_CMD_EXEC_ERROR, 0x0D);
KVBL_CONSTANT(BYTE, CANT_INIT_BL, 0x11);
KVBL_CONSTANT(BYTE, UNREOGNIZED_DEVICE, 0x12);
KVBL_CONSTANT(BYTE, CMD_NOT_ALLOWED, 0x13);
KVBL_CONSTANT(BYTE, CMD_FAIL, 0x14);
KVBL_CONSTANT(BYTE, INPUT_PARAMS_ERROR, 0x21);
KVBL_CONSTANT(BYTE, INPUT_PARAMS_MEMORY_ALLOCATION_ERROR, 0x22);
KVBL_CONSTANT(BYTE, SLIB_HASBEEN_ENABLE_ERROR, 0x31);
KVBL_CONSTANT(BYTE, SLIB_STARTSECTOR_ERROR, 0x32);
KVBL_CONSTANT(BYTE, SLIB_STARTDATASECTOR_ERROR, 0x33);
KVBL_CONSTANT(BYTE, SLIB_ENDSECTOR_ERROR, 0x34);
KVBL_CONSTANT(BYTE, SLIB_PASSWORD_ERROR, 0x35);
KVBL_CONSTANT(BYTE, SLIB_DISABLE_PASSWORD_ERROR, 0x41);
KVBL_CONSTANT(BYTE, CHUNK_FAIL, 0xFF);  // a chunk of a multi-frame write failed / empty write

// ---- bootloader command codes --------------------------------------------
// (the same names are the flag fields of the records below)
KVBL_CONSTANT(BYTE, INIT_CON, 0x7F);
KVBL_CONSTANT(BYTE, GET_CMD, 0x00);
KVBL_CONSTANT(BYTE, GET_VER_ROPS_CMD, 0x01);
KVBL_CONSTANT(BYTE, GET_ID_CMD, 0x02);
KVBL_CONSTANT(BYTE, SET_SPEED_CMD, 0x03);
KVBL_CONSTANT(BYTE, READ_CMD, 0x11);
KVBL_CONSTANT(BYTE, GO_CMD, 0x21);
KVBL_CONSTANT(BYTE, WRITE_CMD, 0x31);
KVBL_CONSTANT(BYTE, ERASE_CMD, 0x43);
KVBL_CONSTANT(BYTE, ERASE_EXT_CMD, 0x44);
KVBL_CONSTANT(BYTE, ERASEPROGRAM_PROTECT_CMD, 0x63);
KVBL_CONSTANT(BYTE, ERASEPROGRAM_TEMP_UNPROTECT_CMD, 0x71);
KVBL_CONSTANT(BYTE, ERASEPROGRAM_PERM_UNPROTECT_CMD, 0x73);
KVBL_CONSTANT(BYTE, ACCESS_PROTECT_CMD, 0x82);
KVBL_CONSTANT(BYTE, ACCESS_TEMP_UNPROTECT_CMD, 0x91);
KVBL_CONSTANT(BYTE, ACCESS_PERM_UNPROTECT_CMD, 0x92);
KVBL_CONSTANT(BYTE, FIRMWARE_CRC_CMD, 0xAC);
KVBL_CONSTANT(BYTE, ENABLE_BANK3_CMD, 0xB3);
KVBL_CONSTANT(BYTE, KV32_ISP_CMD, 0xFA);
KVBL_CONSTANT(BYTE, ENABLE_SLIB_CMD, 0xD0);
KVBL_CONSTANT(BYTE, DISABLE_SLIB_CMD, 0xD1);
KVBL_CONSTANT(BYTE, GET_SLIB_STATUS_CMD, 0xD2);
KVBL_CONSTANT(BYTE, REMAP_ENABLE_CMD, 0xD3);
KVBL_CONSTANT(BYTE, RESET_MCU_CMD, 0xD4);
KVBL_CONSTANT(BYTE, ACCESS_LEVEL_PROTECT_CMD, 0xD6);

// Special sector counts of KVBL_ERASE (passed to the bootloader unchanged).
KVBL_CONSTANT(WORD, KVBL_ERASE_CODE_FFFF, 0xFFFF);
KVBL_CONSTANT(WORD, KVBL_ERASE_CODE_BLOCK, 0xFFFB);  // 64 KB block at an address

// Interface types of TARGET_SetComIntType.
KVBL_CONSTANT(BYTE, KVBL_INTERFACE_USART, 0);
KVBL_CONSTANT(BYTE, KVBL_INTERFACE_DFU, 1);
KVBL_CONSTANT(BYTE, KVBL_INTERFACE_I2C, 2);
KVBL_CONSTANT(BYTE, KVBL_INTERFACE_CAN, 3);
KVBL_CONSTANT(BYTE, KVBL_INTERFACE_SPI, 4);

// States of KVBL_GetLineState.
KVBL_CONSTANT(BYTE, KVBL_LINE_PRESENT, 0);
KVBL_CONSTANT(BYTE, KVBL_LINE_GONE, 1);

// Why the last command that gave up on a port failed (KVBL_TakeLastFailure).
KVBL_CONSTANT(BYTE, KVBL_FAILURE_NONE, 0);
KVBL_CONSTANT(BYTE, KVBL_FAILURE_TIMEOUT, 1);    // no answer, or not all of it, in time
KVBL_CONSTANT(BYTE, KVBL_FAILURE_NACK, 2);       // the chip refused it
KVBL_CONSTANT(BYTE, KVBL_FAILURE_DAMAGED, 3);    // an answer that is neither ACK nor NACK
KVBL_CONSTANT(BYTE, KVBL_FAILURE_BRIDGE, 4);     // the bridge answered an error status
KVBL_CONSTANT(BYTE, KVBL_FAILURE_LINE_GONE, 5);  // the adapter went away
KVBL_CONSTANT(BYTE, KVBL_FAILURE_SILENT, 6);     // the chip stopped answering altogether
KVBL_CONSTANT(BYTE, KVBL_FAILURE_NOISY, 7);      // the line fails too many commands to repeat them

KVBL_CONSTANT(int, KVBL_MAX_PORTS, 1025);     // port numbers 0..1024
KVBL_CONSTANT(DWORD, KVBL_MAX_PACKET, 252);   // largest packet after SetPaketSize
KVBL_CONSTANT(int, KVBL_DFU_INFO_LENGTH, 99); // characters per DFU device text

// One per open port, owned by the library.
typedef struct {
  BYTE Version;
  BYTE CmdCount;
  BYTE PIDLen;
  LPBYTE PID;
  BYTE ROPE;
  BYTE ROPD;
  BOOL GET_CMD;
  BOOL GET_VER_ROPS_CMD;
  BOOL GET_ID_CMD;
  BOOL SET_SPEED_CMD;
  BOOL READ_CMD;
  BOOL GO_CMD;
  BOOL WRITE_CMD;
  BOOL ERASE_CMD;
  BOOL ERASE_EXT_CMD;
  BOOL ERASEPROGRAM_PROTECT_CMD;
  BOOL ERASEPROGRAM_TEMP_UNPROTECT_CMD;
  BOOL ERASEPROGRAM_PERM_UNPROTECT_CMD;
  BOOL ACCESS_PERM_PROTECT_CMD;
  BOOL ACCESS_TEMP_UNPROTECT_CMD;
  BOOL ACCESS_PERM_UNPROTECT_CMD;
  BOOL FIRMWARE_CRC_CMD;
  BOOL ENABLE_BANK3_CMD;
  BOOL KV32_ISP_CMD;
  BOOL ENABLE_SLIB_CMD;
  BOOL DISABLE_SLIB_CMD;
  BOOL GET_SLIB_STATUS_CMD;
  BOOL REMAP_ENABLE_CMD;
  BOOL RESET_MCU_CMD;
  BOOL ACCESS_LEVEL_PROTECT_CMD;
} TARGET_DESCRIPTOR, *LPTARGET_DESCRIPTOR;

// The caller's copy of the command flags (filled by KVBL_GET).
typedef struct {
  BOOL GET_CMD;
  BOOL GET_VER_ROPS_CMD;
  BOOL GET_ID_CMD;
  BOOL SET_SPEED_CMD;
  BOOL READ_CMD;
  BOOL GO_CMD;
  BOOL WRITE_CMD;
  BOOL ERASE_CMD;
  BOOL ERASE_EXT_CMD;
  BOOL ERASEPROGRAM_PROTECT_CMD;
  BOOL ERASEPROGRAM_TEMP_UNPROTECT_CMD;
  BOOL ERASEPROGRAM_PERM_UNPROTECT_CMD;
  BOOL ACCESS_PROTECT_CMD;
  BOOL ACCESS_TEMP_UNPROTECT_CMD;
  BOOL ACCESS_PERM_UNPROTECT_CMD;
  BOOL FIRMWARE_CRC_CMD;
  BOOL ENABLE_BANK3_CMD;
  BOOL KV32_ISP_CMD;
  BOOL ENABLE_SLIB_CMD;
  BOOL DISABLE_SLIB_CMD;
  BOOL GET_SLIB_STATUS_CMD;
  BOOL REMAP_ENABLE_CMD;
  BOOL RESET_MCU_CMD;
  BOOL ACCESS_LEVEL_PROTECT_CMD;
} Commands, *LPCommands;

// One command in flight.
typedef struct {
  BYTE _cmd;
  DWORD _address;
  WORD _length;
  BYTE _nbSectors;
  LPTARGET_DESCRIPTOR _target;
  LPBYTE _data;
  WORD _wbSectors;
  BYTE _flashtype;
  DWORD _flashsize;
  DWORD _flashDA;
  DWORD _SlibPassword;
  WORD _SlibStartSector;
  WORD _SlibStartDataSector;
  WORD _SlibEndSector;
  BYTE _RemapFlag;
} KVBL_Request, *LPKVBL_Request;

#ifdef __cplusplus
extern "C" {
#endif

// ---- exported data -------------------------------------------------------
KVBL_API extern const BYTE ACK;   // 0x79
KVBL_API extern const BYTE NACK;  // 0x1F
KVBL_API extern DWORD Progress;
KVBL_API extern DWORD ActivityTime;
KVBL_API extern const DWORD ADDR_F1_OPB;
KVBL_API extern const DWORD ADDR_F2_OPB;
KVBL_API extern const DWORD ADDR_L1_OPB;
KVBL_API extern const DWORD ADDR_USER_OPB;
KVBL_API extern const DWORD ADDR_DATA_OPB;
KVBL_API extern const DWORD ADDR_FAP_OPB;
KVBL_API extern const DWORD ADDR_EPP0_OPB;
KVBL_API extern const DWORD ADDR_EPP2_OPB;
KVBL_API extern BYTE Target;
KVBL_API extern BYTE McuTarget;
KVBL_API extern DWORD SECTOR_NUM;

// ---- port and settings ---------------------------------------------------
KVBL_API BYTE SetCOMSettings(PHANDLE phCOM, int numPort, char* portName, long speedInBaud,
                             int nbBit, int parity, float nbStopBit);
KVBL_API BYTE Interface_Open(HANDLE hCOM);
KVBL_API BYTE Interface_Close(HANDLE hCOM);
KVBL_API BOOL Interface_is_Open(HANDLE hCOM);
KVBL_API BYTE SetTimeOut(HANDLE hCOM, DWORD vms);
KVBL_API BYTE SetPaketSize(HANDLE hCOM, BYTE size);
KVBL_API BYTE GetPaketSize(HANDLE hCOM, LPBYTE size);
KVBL_API BYTE TARGET_SetComIntType(BYTE com_int_type);
KVBL_API BYTE KVBL_SetRts(HANDLE hCOM, bool Val);
KVBL_API BYTE KVBL_SetDtr(HANDLE hCOM, bool Val);
KVBL_API BYTE KVBL_setTxd(HANDLE hCOM, bool val);
KVBL_API BYTE KVBL_getCts(HANDLE hCOM, bool* pval);
KVBL_API BYTE KVBL_getDtr(HANDLE hCOM, bool* pval);
KVBL_API BYTE KVBL_getRi(HANDLE hCOM, bool* pval);
KVBL_API BYTE KVBL_getCd(HANDLE hCOM, bool* pval);
KVBL_API BYTE KVBL_SetEcho(HANDLE hCOM, int val);
KVBL_API BYTE KVBL_SetFlowControl(HANDLE hCOM, bool val);
// What became of the port's line: KVBL_LINE_PRESENT, or KVBL_LINE_GONE once
// its device went away under the open port (the adapter was unplugged, the
// bridge's far end closed). A gone line fails every later send and receive
// at once; the state survives Interface_Close and is cleared by the next
// successful Interface_Open.
KVBL_API BYTE KVBL_GetLineState(HANDLE hCOM, LPBYTE state);

// A command that fails on the line (a time-out, a NACK, a damaged answer, a
// bridge error status) is brought back in step and sent again, at most 3
// times, where that is safe; the function then returns SUCCESS, or the code
// of its first failure when it gave up. A chip that stops answering
// altogether is handed to the port's reset handler, when one is set: it
// brings the chip back into its bootloader and connects again (the program
// uses the boot lines of its automatic connection) and answers SUCCESS so
// that the command is repeated. Null: such a command fails.
typedef BYTE (*KVBL_RESET_HANDLER)(HANDLE hCOM, void* context);
KVBL_API BYTE KVBL_SetResetHandler(HANDLE hCOM, KVBL_RESET_HANDLER handler, void* context);
// The last command that gave up on the port since the last call (a command
// that succeeds later clears it): its code, its address (0 for commands
// without one), why (KVBL_FAILURE_*) and the attempts made. *cause is
// KVBL_FAILURE_NONE when there is none.
KVBL_API BYTE KVBL_TakeLastFailure(HANDLE hCOM, LPBYTE cmd, LPDWORD address, LPBYTE cause,
                                   LPBYTE attempts);

// ---- bridge start and identification -------------------------------------
KVBL_API BYTE KVBL_Init_BL(HANDLE hCOM, WORD addr, DWORD rate, BYTE dutyCycle);
KVBL_API BYTE KVBL_SetSpeed(HANDLE hCOM, DWORD speed);
KVBL_API BYTE KVBL_GET(HANDLE hCOM, LPBYTE Version, LPCommands pCmds);
KVBL_API BYTE KVBL_GET_VER_ROPS(HANDLE hCOM, LPBYTE Version, LPBYTE ROPEnabled,
                                LPBYTE ROPDisabled);
// *size: on entry the room in pID (when pID is not null), on return the
// length of the product identifier, which is copied to pID.
KVBL_API BYTE KVBL_GET_ID(HANDLE hCOM, LPBYTE size, LPBYTE pID);
KVBL_API BYTE Send_RQ(HANDLE hCOM, LPKVBL_Request pRQ);

// ---- memory --------------------------------------------------------------
// KVBL_READ and KVBL_WRITE move at most one packet (see SetPaketSize). An odd
// Size travels one byte longer: KVBL_READ then stores Size + 1 bytes in pData
// (a write sends 0xFF in that byte). KVBL_UPLOAD, KVBL_VERIFY and KVBL_DNLOAD
// split any length into packets. KVBL_VERIFY reads a packet that differs from
// pData again before the difference counts (two reads must agree on a byte).
// KVBL_ERASE takes NbSectors sector numbers of 2 bytes each, least
// significant first.
KVBL_API BYTE KVBL_READ(HANDLE hCOM, DWORD Address, BYTE Size, LPBYTE pData);
KVBL_API BYTE KVBL_WRITE(HANDLE hCOM, DWORD address, BYTE size, LPBYTE pData);
KVBL_API BYTE KVBL_GO(HANDLE hCOM, DWORD Address);
KVBL_API BYTE KVBL_UPLOAD(HANDLE hCOM, DWORD Address, LPBYTE pData, DWORD Length);
// KVBL_UPLOAD that trusts no single read: every packet is read twice, and
// where the reads differ (a READ answer has no check bytes, so a byte the
// line changed looks like the chip's) it is read again until two reads
// agree on every byte, at most 5 reads; otherwise CMD_NOT_ALLOWED. A clean
// line costs what an upload and a verify of the same bytes cost.
KVBL_API BYTE KVBL_UPLOAD_CONFIRMED(HANDLE hCOM, DWORD Address, LPBYTE pData, DWORD Length);
KVBL_API BYTE KVBL_VERIFY(HANDLE hCOM, DWORD Address, LPBYTE pData, DWORD Length,
                          BOOL bTruncateLeadFFForDnLoad);
KVBL_API BYTE KVBL_DNLOAD(HANDLE hCOM, DWORD Address, LPBYTE pData, DWORD Length,
                          BOOL bTruncateLeadFFForDnLoad);
KVBL_API BYTE KVBL_ERASE(HANDLE hCOM, WORD NbSectors, LPBYTE pSectors, DWORD sectorSize);
KVBL_API BYTE KVBL_BLOCK_ERASE(HANDLE hCOM, WORD cmdNum, DWORD Address);

// ---- protection and features ---------------------------------------------
// KVBL_ERASEPROGRAM_PROTECT: in the header of each library (its parameters
// differ between them).
KVBL_API BYTE KVBL_ERASEPROGRAM_TEMP_UNPROTECT(HANDLE hCOM);
KVBL_API BYTE KVBL_ERASEPROGRAM_PERM_UNPROTECT(HANDLE hCOM);
KVBL_API BYTE KVBL_ACCESS_PROTECT(HANDLE hCOM);
KVBL_API BYTE KVBL_ACCESS_TEMP_UNPROTECT(HANDLE hCOM);
KVBL_API BYTE KVBL_ACCESS_PERM_UNPROTECT(HANDLE hCOM);
KVBL_API BYTE KVBL_ACCESS_PROTECT_LEVEL(HANDLE hCOM, BYTE Level);
KVBL_API BYTE KVBL_GetFirmwareCRC(HANDLE hCOM, DWORD Address, WORD SectorNum, LPBYTE pData);
KVBL_API BYTE KVBL_EnableBank3(HANDLE hCOM, BYTE FlashType, DWORD FlashSize, DWORD FlashDA);
KVBL_API BYTE KVBL_KV32ISP_TOOL(HANDLE hCOM);
KVBL_API BYTE KVBL_EnableSlib(HANDLE hCOM, DWORD Password, WORD StartSector,
                              WORD StartDataSector, WORD EndSector);
KVBL_API BYTE KVBL_DisableSlib(HANDLE hCOM, DWORD Password);
KVBL_API BYTE KVBL_GetSlibStatus(HANDLE hCOM, LPDWORD SlibStatus, LPDWORD SectorStatus,
                                 LPDWORD PasswordStatus);
KVBL_API BYTE KVBL_GetSlibStatus_Ex(HANDLE hCOM, LPDWORD SlibStatus, LPDWORD SectorStatus1,
                                    LPDWORD SectorStatus2, LPDWORD PasswordStatus);
KVBL_API BYTE KVBL_SPIMREMAP(HANDLE hCOM, BYTE Flag);
KVBL_API BYTE KVBL_ResetMCU(HANDLE hCOM);

// ---- progress ------------------------------------------------------------
KVBL_API BYTE SetActivityTime(DWORD time);
KVBL_API BYTE GetActivityTime(LPDWORD time);
KVBL_API BYTE GetProgress(LPBYTE progress);

// ---- option bytes and chip memory ----------------------------------------
KVBL_API BYTE TARGET_GetFlashSize(HANDLE hCOM, DWORD Addr, LPWORD val);
KVBL_API BYTE TARGET_GetMemoryAddress(HANDLE hCOM, DWORD Addr, LPBYTE val);
KVBL_API BYTE TARGET_GetFAPUserSystemData(HANDLE hCOM, LPBYTE FAP);
KVBL_API BYTE TARGET_GetEPPUserSystemData(HANDLE hCOM, LPBYTE EPP0, LPBYTE EPP1, LPBYTE EPP2,
                                          LPBYTE EPP3);
KVBL_API BYTE TARGET_GetUserUserSystemData(HANDLE hCOM, LPBYTE User);
KVBL_API BYTE TARGET_GetDataUserSystemData(HANDLE hCOM, LPBYTE Data0, LPBYTE Data1);
KVBL_API BYTE TARGET_SetUserSystemData(HANDLE hCOM, DWORD Addr, LPBYTE UserSystemData,
                                       DWORD Length);
KVBL_API BYTE TARGET_GetUserSystemData(HANDLE hCOM, DWORD Addr, BYTE* UserSystemData,
                                       DWORD Length);

#ifdef __cplusplus
}  // extern "C"
#endif

#endif  // KVBL_H
