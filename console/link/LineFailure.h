// Why a command failed on the line, for the line the program adds on
// standard error: the specified messages on standard output name what
// failed, this one names the bootloader command, its address and what the
// line did (a time-out, a refusal, a damaged answer, a line gone).
#ifndef TARNFLASH_LINK_LINEFAILURE_H
#define TARNFLASH_LINK_LINEFAILURE_H

#include <string>

#include "KVBL.h"

// Takes the port's last failure from the library: "OPERATION: COMMAND at
// 0xADDRESS failed: CAUSE (N attempts)", or "" when there is none.
std::string TakeLineFailure(HANDLE h, const std::string& operation);

// The name of a bootloader command code ("WRITE"), or its code in hex.
std::string CommandName(BYTE cmd);

#endif
