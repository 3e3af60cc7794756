#include "link/LineFailure.h"

#include <cstdio>

namespace {

const char* CauseText(BYTE cause)
{
    switch (cause) {
    case KVBL_FAILURE_TIMEOUT: return "no whole answer within the time-out";
    case KVBL_FAILURE_NACK: return "the chip refused it (NACK)";
    case KVBL_FAILURE_DAMAGED: return "its answer arrived damaged";
    case KVBL_FAILURE_BRIDGE: return "the bridge answered with an error status";
    case KVBL_FAILURE_LINE_GONE: return "the line is gone (adapter unplugged?)";
    case KVBL_FAILURE_SILENT: return "the chip stopped answering";
    case KVBL_FAILURE_NOISY: return "the line fails too many commands to repeat them (noise on the line?)";
    default: return "unknown cause";
    }
}

bool HasAddress(BYTE cmd)
{
    return cmd == READ_CMD || cmd == WRITE_CMD || cmd == GO_CMD || cmd == FIRMWARE_CRC_CMD;
}

} // namespace

std::string CommandName(BYTE cmd)
{
    switch (cmd) {
    case INIT_CON: return "the bootloader start";
    case GET_CMD: return "GET";
    case GET_VER_ROPS_CMD: return "GET_VER_ROPS";
    case GET_ID_CMD: return "GET_ID";
    case SET_SPEED_CMD: return "SET_SPEED";
    case READ_CMD: return "READ";
    case GO_CMD: return "GO";
    case WRITE_CMD: return "WRITE";
    case ERASE_CMD: return "ERASE";
    case ERASE_EXT_CMD: return "ERASE_EXT";
    case ERASEPROGRAM_PROTECT_CMD: return "ERASEPROGRAM_PROTECT";
    case ERASEPROGRAM_TEMP_UNPROTECT_CMD: return "ERASEPROGRAM_TEMP_UNPROTECT";
    case ERASEPROGRAM_PERM_UNPROTECT_CMD: return "ERASEPROGRAM_PERM_UNPROTECT";
    case ACCESS_PROTECT_CMD: return "ACCESS_PROTECT";
    case ACCESS_TEMP_UNPROTECT_CMD: return "ACCESS_TEMP_UNPROTECT";
    case ACCESS_PERM_UNPROTECT_CMD: return "ACCESS_PERM_UNPROTECT";
    case FIRMWARE_CRC_CMD: return "FIRMWARE_CRC";
    case ENABLE_BANK3_CMD: return "ENABLE_BANK3";
    case KV32_ISP_CMD: return "ISP_TOOL";
    case ENABLE_SLIB_CMD: return "ENABLE_SLIB";
    case DISABLE_SLIB_CMD: return "DISABLE_SLIB";
    case GET_SLIB_STATUS_CMD: return "GET_SLIB_STATUS";
    case REMAP_ENABLE_CMD: return "REMAP_ENABLE";
    case RESET_MCU_CMD: return "RESET_MCU";
    case ACCESS_LEVEL_PROTECT_CMD: return "ACCESS_LEVEL_PROTECT";
    default: {
        char text[8];
        std::snprintf(text, sizeof text, "0x%02X", static_cast<unsigned>(cmd));
        return text;
    }
    }
}

std::string TakeLineFailure(HANDLE h, const std::string& operation)
{
    BYTE cmd = 0;
    DWORD address = 0;
    BYTE cause = KVBL_FAILURE_NONE;
    BYTE attempts = 0;
    if (KVBL_TakeLastFailure(h, &cmd, &address, &cause, &attempts) != SUCCESS ||
        cause == KVBL_FAILURE_NONE)
        return std::string();
    std::string line = operation + ": " + CommandName(cmd);
    if (HasAddress(cmd)) {
        char text[24];
        std::snprintf(text, sizeof text, " at 0x%08lX", static_cast<unsigned long>(address & 0xFFFFFFFFul));
        line += text;
    }
    line += std::string(" failed: ") + CauseText(cause);
    if (attempts > 1)
        line += " (" + std::to_string(attempts) + " attempts)";
    return line;
}
