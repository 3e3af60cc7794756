#include "result/Result.h"

int CResult::Convert(int libraryResult)
{
    if ((libraryResult & ERROR_OFFSET) == ERROR_OFFSET)
        return libraryResult;
    switch (libraryResult) {
    case 0x00: return SUCCESS;
    case 0x01: return COM_NOT_OPENED;
    case 0x03: return COM_CANT_OPEN_COM;
    case 0x04: return COM_SEND_FAIL;
    case 0x05: return COM_READ_FAIL;
    case 0x11: return SYS_CANT_INIT_BL;
    case 0x12: return SYS_UNREOGNIZED_DEVICE;
    case 0x13: return SYS_CMD_NOT_ALLOWED;
    case 0x14: return SYS_CMD_FAIL;
    case 0x21: return PROGRAM_INPUT_PARAMS_ERROR;
    case 0x22: return PROGRAM_INPUT_PARAMS_MEMORY_ALLOCATION_ERROR;
    case 0x23: return PROGRAM_LIB_LOADING_ERROR;
    default: return UNKNOWN_ERROR;
    }
}

int CResult::Convert(unsigned fileResult)
{
    switch (fileResult) {
    case FILES_LIB_NOERROR: return SUCCESS;
    case 0x02: return FILES_BADSUFFIX;
    case 0x03: return FILES_UNABLETOOPENFILE;
    case 0x04: return FILES_UNABLETOOPENTEMPFILE;
    case 0x05: return FILES_BADFORMAT;
    case 0x06: return FILES_BADADDRESSRANGE;
    case 0x08: return FILES_BADPARAMETER;
    case 0x0A: return FILES_UNEXPECTEDERROR;
    case 0x0D: return FILES_FILEGENERALERROR;
    case 0x0E: return FILES_NOTOPEN;
    case 0x0F: return FILES_SETELEMENTFULL;
    default: return UNKNOWN_ERROR;
    }
}

int CResult::FromDFUStatus(unsigned char status)
{
    return status >= 0x01 && status <= 0x0F ? DFU_STATUS_ERROR_OFFSET + status : UNKNOWN_ERROR;
}

int CResult::ShownForDFU(int code, unsigned char status)
{
    if (code == SUCCESS || status == 0 || GetInfoStringName(code) != Info_UnknownError)
        return code;
    return FromDFUStatus(status);
}

std::string CResult::GetInfoStringName(int code)
{
    const char* text = Info_UnknownError;
    switch (code) {
    case SUCCESS: text = Info_Success; break;
    case COM_NOT_OPENED: text = Info_Com_NotOpen; break;
    case COM_ALREADY_OPENED: text = Info_Com_AlreadyOpen; break;
    case COM_CANT_OPEN_COM: text = Info_Com_CantOpen; break;
    case COM_SEND_FAIL: text = Info_Com_SendFail; break;
    case COM_READ_FAIL: text = Info_NoResponse; break;
    case SLIB_HASBEEN_ENABLE_ERROR: text = Info_SLIB_HASBEEN_ENABLE_ERROR; break;
    case SLIB_STARTSECTOR_ERROR: text = Info_SLIB_STARTSECTOR_ERROR; break;
    case SLIB_STARTDATASECTOR_ERROR: text = Info_SLIB_STARTDATASECTOR_ERROR; break;
    case SLIB_ENDSECTOR_ERROR: text = Info_SLIB_ENDSECTOR_ERROR; break;
    case SLIB_PASSWORD_ERROR: text = Info_SLIB_PASSWORD_ERROR; break;
    case SLIB_DISABLE_PASSWORD_ERROR: text = Info_SLIB_PASSWORD_ERROR; break;
    case SLIB_DOWNLOADFILE_IN_SLIBSECTOR_ERROR: text = Info_Slib_DownloadFile_Sector_InSlib; break;
    case SLIB_ENABLE_NOTSETEOPB0_ERROR: text = KVS07_EOPB0_Notset_Info; break;
    case NO_DFU_AVAILABLE: text = Info_No_DFUDevice; break;
    case DFU_ALREADY_OPENED: text = Info_DFU_AlreadyOpen; break;
    case CANT_OPEN_DFU: text = Info_DFU_CantOpen; break;
    case DFU_SEND_FAIL: text = Info_DFU_SendFail; break;
    case DFU_READ_FAIL: text = Info_DFU_ReadFail; break;
    case DFU_ACCESS_PROTECT: text = Info_DFU_AccessProtect; break;
    case DFU_COMMUNICATION_FAIL: text = Info_DFU_CommunicationFail; break;
    case DFU_NOT_DFUMODE: text = Info_DFU_NotDFUMode; break;
    case DFU_TRANSFER_SIZE_ERROR: text = Info_DFU_TransferSizeError; break;
    case DFU_STATUS_STATE_DFU_ERROR: text = Info_DFU_StateError; break;
    case DFU_STATUS_ERROR_TARGET: text = Info_DFU_StatusError_Target; break;
    case DFU_STATUS_ERROR_FILE: text = Info_DFU_StatusError_File; break;
    case DFU_STATUS_ERROR_WRITE: text = Info_DFU_StatusError_Write; break;
    case DFU_STATUS_ERROR_ERASE: text = Info_DFU_StatusError_Erase; break;
    case DFU_STATUS_ERROR_CHECK_ERASED: text = Info_DFU_StatusError_CheckErase; break;
    case DFU_STATUS_ERROR_PROG: text = Info_DFU_StatusError_Prog; break;
    case DFU_STATUS_ERROR_VERIFY: text = Info_DFU_StatusError_Verify; break;
    case DFU_STATUS_ERROR_ADDRESS: text = Info_DFU_StatusError_Address; break;
    case DFU_STATUS_ERROR_NOTDONE: text = Info_DFU_StatusError_Notdone; break;
    case DFU_STATUS_ERROR_FIRMWARE: text = Info_DFU_StatusError_Firmware; break;
    case DFU_STATUS_ERROR_VENDOR: text = Info_DFU_StatusError_Vendeor; break;
    case DFU_STATUS_ERROR_USBR: text = Info_DFU_StatusError_Usbr; break;
    case DFU_STATUS_ERROR_POR: text = Info_DFU_StatusError_Por; break;
    case DFU_STATUS_ERROR_UNKNOWN: text = Info_DFU_StatusError_Unknown; break;
    case DFU_STATUS_ERROR_STALLEDPKT: text = Info_DFU_StatusError_Stalledpkt; break;
    case SYS_UNREOGNIZED_DEVICE: text = Info_UnRecognizedDevice; break;
    case SYS_CMD_NOT_ALLOWED: text = Info_CMDNotAllowed; break;
    case SYS_ACCESS_PROTECTION: text = Info_AccessProtection; break;
    case SYS_ERASEPROGRAM_PROTECTION: text = Info_EraseProgramProtection; break;
    case PROGRAM_INPUT_PARAMS_ERROR: text = Info_Program_InputParamsError; break;
    case PROGRAM_VERIFY_DATA_NOT_MATCHING: text = Info_Program_VerifyDataNotMatching; break;
    case FILES_BADSUFFIX: text = Info_Files_BadSuffex; break;
    case FILES_UNABLETOOPENFILE: text = Info_Files_UNABLETOOPENFILE; break;
    case FILES_UNABLETOOPENTEMPFILE: text = Info_Files_UNABLETOOPENTEMPFILE; break;
    case FILES_BADFORMAT: text = Info_Files_BADFORMAT; break;
    case FILES_BADADDRESSRANGE: text = Info_Files_BADADDRESSRANGE; break;
    case FILES_BADPARAMETER: text = Info_Files_BADPARAMETER; break;
    case FILES_NOTOPEN: text = Info_Files_NOTOPEN; break;
    case FILES_SETELEMENTFULL: text = Info_Files_SETELEMENTFULL; break;
    case FILES_EMPTY: text = Info_Files_Empty; break;
    case FWCRC_CHECK_FAILED: text = Info_FWCRC_CheckFailed; break;
    default: break; // SYS_CANT_INIT_BL, SYS_CMD_FAIL, FILES_UNEXPECTEDERROR, ... and unknown values
    }
    return GetInfoString(text);
}

std::string CResult::GetInfoString(const std::string& text)
{
    return text;
}
