// Message texts of the program. The constant's name is the key, its value the
// English text the console prints. Texts are byte strings: a few end in a
// two-byte GB2312 punctuation mark.
#ifndef TARNFLASH_RESULT_MESSAGES_H
#define TARNFLASH_RESULT_MESSAGES_H

// ---- messages with real texts ----------------------------------------------
inline constexpr char Info_Success[] = "Info Success";
inline constexpr char Info_UnknownError[] = "Unknown error!";
inline constexpr char Info_Com_NotOpen[] = "Serial port hasn't been opened yet!";
inline constexpr char Info_Com_AlreadyOpen[] = "Serial port already opened!";
inline constexpr char Info_Com_CantOpen[] = "Failed to open serial port!";
inline constexpr char Info_Com_SendFail[] = "send over serial port fail!";
inline constexpr char Info_NoResponse[] =
    "No response from the device...\n"
    "Please verify the boot mode configuration.\n"
    "Check the UART cable.\n"
    "Reset the device then run again.";
inline constexpr char Info_UnRecognizedDevice[] =
    "Unrecognized device...\n"
    "Please, reset your device then try again.";
inline constexpr char Info_AccessProtection[] = "The device is access protection!";
inline constexpr char Info_EraseProgramProtection[] = "The device is erase and program protection!";
inline constexpr char Info_CMDNotAllowed[] = "The cmd not allowed!";
inline constexpr char Info_Program_InputParamsError[] = "Input parameters error!";
inline constexpr char Info_Program_VerifyDataNotMatching[] = "Verify failed. Data not matching...";
inline constexpr char Info_Files_Empty[] = "File is empty!";
inline constexpr char Info_Files_BadSuffex[] = "File bad suffex!";
inline constexpr char Info_Files_UNABLETOOPENTEMPFILE[] = "Cannot open temporary file!";
inline constexpr char Info_Files_UNABLETOOPENFILE[] = "Cannot open file!";
inline constexpr char Info_Files_BADFORMAT[] = "File's format error!";
inline constexpr char Info_Files_BADADDRESSRANGE[] = "File's bad address range!";
inline constexpr char Info_Files_BADPARAMETER[] = "File's bad paramer!";
inline constexpr char Info_Files_NOTOPEN[] = "File not open!";
inline constexpr char Info_Files_SETELEMENTFULL[] = "Cannot open file!";
inline constexpr char Info_Wait[] = "Wait the device answer.";
inline constexpr char Info_FlashStatus_FAP_Readable[] = "Target is readable. Please click \"Next\" to proceed.";
inline constexpr char Info_FlashStatus_FAP_Warning[] =
    "The device is access protection,and the device will limit the use of some functions.";
inline constexpr char Info_FlashStatus_FAP_Error[] = "Can't get the device status.";
inline constexpr char Info_FlashStatus_FAP_Warning2[] = "The device is access protection,unable to operate.";
inline constexpr char Info_FlashStatus_RDUP_Success[] = "Disable access protection successfully!";
inline constexpr char Info_FlashStatus_RDUP_Fail[] = "Disable access protection failed!";
inline constexpr char Info_DeviceInfo_Bank3Size_error[] = "SPIM size error";
inline constexpr char Info_DeviceInfo_Bank3FLASHDA_error[] = "SPIM FLASH_DA error, cannot exceed the SPIM size.";
inline constexpr char Info_Operation_Erase_Sector[] = "Please select sectors to be erased!";
inline constexpr char Info_Operation_Erase_Block[] = "Please select blocks to be erased!";
inline constexpr char Info_Operation_Download_Addr[] = "Invalid download address!";
inline constexpr char Info_Operation_Download_File[] = "Please select download file!";
inline constexpr char Info_Operation_UserSystemData_File[] = "Please select user system data file!";
inline constexpr char Info_FAP_Jump_Error[] =
    "\"Enable Access protection after Download\" or \"Apply user system data\" will enable access "
    "protection, cannot use \"Jump to the user program\".";
inline constexpr char Info_FAP_Conflict_Error[] =
    "\"Enable Access protection after Download\" and \"Apply user system data\" do not enable access "
    "protection at the same time.";
inline constexpr char Info_Operation_Upload_File[] = "Please select upload file!";
inline constexpr char Info_Operation_EPP_Sector[] = "Please select sectors to be erase and program protected!";
inline constexpr char Info_Operation_FWCRC_File[] = "Please select Firmware file!";
inline constexpr char Info_FWCRC_CheckFailed[] = "Firmware CRC check failed!";
inline constexpr char Info_FWCRC_CheckSucceed[] = "Firmware CRC check succeed!";
inline constexpr char Info_UserSystemData_Operation_Succeed[] = "Operation succeed!";
inline constexpr char Info_UserSystemData_Operation_Failed[] = "Operation check failed!";
inline constexpr char Info_UserSystemData_Save_Succeed[] = "Save succeed!";
inline constexpr char Info_UserSystemData_Save_Failed[] = "Save failed!";
inline constexpr char Info_Progress_Operation_Success[] = "Operation finished successfully!";
inline constexpr char Info_Download_Operation_Success[] = "Download successfully!";
inline constexpr char Info_FWCRC_Operation_Success[] = "Firmware CRC check successfully!";
inline constexpr char Info_Erase_Operation_Success[] = "Erase successfully!";
inline constexpr char Info_Erase_Operation_InsLib_Success[] = "Erase successfully! sLib area not erased.";
inline constexpr char Info_Upload_Operation_Success[] = "Upload successfully!";
inline constexpr char Info_EnableWP_Operation_Success[] = "Enable erase and program protection successfully!";
inline constexpr char Info_DisableWP_Operation_Success[] = "Disable erase and program protection successfully!";
inline constexpr char Info_EnableRP_Operation_Success[] = "Enable access protection successfully!";
inline constexpr char Info_DisableRP_Operation_Success[] = "Disable access protection successfully!";
inline constexpr char Info_Progress_Operation_Cancel[] = "Operation has been canceled!";
inline constexpr char Info_Progress_Verify_Failed[] = "Verify failed!";
inline constexpr char Info_Progress_Running[] = "Running...";
inline constexpr char Info_Operation_Erase[] = "Erase";
inline constexpr char Info_Operation_Download[] = "Download";
inline constexpr char Info_Operation_Verify[] = "Verify";
inline constexpr char Info_Operation_Upload[] = "Upload";
inline constexpr char Info_Operation_FAP_E[] = "Enable access protection";
inline constexpr char Info_Operation_FAP_D[] = "Disable access protection";
inline constexpr char Info_Operation_EPP_E[] = "Enable erase and program protection";
inline constexpr char Info_Operation_EPP_D[] = "Disable erase and program protection";
inline constexpr char Info_Operation_RP_D_Message[] =
    "The flash memory will be mass erased and all contents will be lost ,Are you sure to disable the "
    "access protection?";
inline constexpr char Info_Operation_WP_D_Message[] = "Are you sure to disable the erase and program protection?";
inline constexpr char Info_Operation_RP_E_Message[] = "Are you sure to enable the access protection?";
inline constexpr char Info_Operation_WP_E_Message[] = "Are you sure to enable the erase and program protection?";
inline constexpr char Info_Operation_FWCRC[] = "Firmware CRC Check";
inline constexpr char Info_Operation_FlashCRC[] = "Flash CRC calculate";
inline constexpr char Info_Operation_ENBANK3[] = "Enable Bank3";
inline constexpr char Info_Operation_WRITESN[] = "Write serial number";
inline constexpr char Info_Operation_WRITEUSERSYSTEMDATA[] = "Write user system data file";
inline constexpr char Info_Operation_EnableSlib[] = "Enable sLib";
inline constexpr char Info_Operation_DisableSlib[] = "Disable sLib";
// 0xA1 0xA3: full-width full stop; 0xA3 0xA1: full-width exclamation mark (GB2312).
inline constexpr char Disconnect_Error_Info[] = "Device has disconnected\xA1\xA3";
inline constexpr char No_Flash_Error_Info[] = "Can't get the info of flash\xA1\xA3";
inline constexpr char Connt_OpenMapTable_Error_Info[] =
    "Device is invalid or can't open the KVmap table of device\xA1\xA3";
inline constexpr char MultiPort_InitDevice_Info[] = "Initializing...";
inline constexpr char Download_Erase_Block_Option_Info[] = "Erase the blocks of file size";
inline constexpr char Download_Erase_No_Option_Info[] = "No Erase";
inline constexpr char Download_Erase_Global_Option_Info[] = "Global Erase";
inline constexpr char Info_Operation_SRP_E_Warning_Message[] =
    "Are you sure to enable the senior access protection? This MCU can only be set once and will never "
    "be disabled after setting.";
inline constexpr char Protection_Selection_Error_Info[] = "Selection error\xA3\xA1";

// ---- messages whose text is their own name ----------------------------------
// They are keys of a presentation layer this console does not have; where the
// console prints one, it prints the name.
#define TARNFLASH_NAMED_MESSAGE(name) inline constexpr char name[] = #name;
TARNFLASH_NAMED_MESSAGE(MultiPort_OpenCom_Failed_Info)
TARNFLASH_NAMED_MESSAGE(MultiPort_UnknownError_Info)
TARNFLASH_NAMED_MESSAGE(MultiPort_ConnectFailed_Info)
TARNFLASH_NAMED_MESSAGE(MultiPort_InitDeviceFailed_Info)
TARNFLASH_NAMED_MESSAGE(MultiPort_OperationCanceled_Info)
TARNFLASH_NAMED_MESSAGE(MultiPort_OperationSuccess_Info)
TARNFLASH_NAMED_MESSAGE(MultiPort_OperationSuccess_FreeDown_Info)
TARNFLASH_NAMED_MESSAGE(MultiPort_DownLoading_Info)
TARNFLASH_NAMED_MESSAGE(MultiPort_NeedReconnect_Info)
TARNFLASH_NAMED_MESSAGE(MultiPort_DownLoadOptionFailed_Info)
TARNFLASH_NAMED_MESSAGE(MultiPort_DownLoadOptionSuccess_Info)
TARNFLASH_NAMED_MESSAGE(MultiPort_DeviceListNull_Info)
TARNFLASH_NAMED_MESSAGE(MultiPort_DeviceListNotChoose_Info)
TARNFLASH_NAMED_MESSAGE(MultiPort_DeviceListNotIni_Info)
TARNFLASH_NAMED_MESSAGE(MultiPort_SectorDiffrent_Info)
TARNFLASH_NAMED_MESSAGE(MultiPort_DeviceNoSlib_Info)
TARNFLASH_NAMED_MESSAGE(MultiPort_SectorSizeDiffrent_Info)
TARNFLASH_NAMED_MESSAGE(MultiPort_DeviceDiffrent_Info)
TARNFLASH_NAMED_MESSAGE(Messagebox_Warning_Info)
TARNFLASH_NAMED_MESSAGE(Messagebox_Confirm_Info)
TARNFLASH_NAMED_MESSAGE(Messagebox_Error_Info)
TARNFLASH_NAMED_MESSAGE(Bank3_Size_Info)
TARNFLASH_NAMED_MESSAGE(Input_Null_Info)
TARNFLASH_NAMED_MESSAGE(SPIMName_Same_Info)
TARNFLASH_NAMED_MESSAGE(SPIMType_NoChoose_Info)
TARNFLASH_NAMED_MESSAGE(SPIM_Autodetect_Failed_Info)
TARNFLASH_NAMED_MESSAGE(SPIM_Cannot_Delete_Info)
TARNFLASH_NAMED_MESSAGE(SPIM_Autodetect_Info)
TARNFLASH_NAMED_MESSAGE(Bank3_FLASHDA_Error_Info)
TARNFLASH_NAMED_MESSAGE(SN_Addr_Invalid_Info)
TARNFLASH_NAMED_MESSAGE(File_Addr_Invalid_Info)
TARNFLASH_NAMED_MESSAGE(Not_UserBank3_Info)
TARNFLASH_NAMED_MESSAGE(NOSPIM_Type_Info)
TARNFLASH_NAMED_MESSAGE(Bank3_FlashDA_not4BytesError_Info)
TARNFLASH_NAMED_MESSAGE(Info_Operation_Upload_Sector)
TARNFLASH_NAMED_MESSAGE(Info_Disable)
TARNFLASH_NAMED_MESSAGE(Info_Enable)
TARNFLASH_NAMED_MESSAGE(Info_AccessProtect)
TARNFLASH_NAMED_MESSAGE(Info_EraseProgramProtect)
TARNFLASH_NAMED_MESSAGE(Info_NO_DFU_DEVICE)
TARNFLASH_NAMED_MESSAGE(Info_OPEN_DFU_DEVICE)
TARNFLASH_NAMED_MESSAGE(Info_OPEN_COM_DEVICE)
TARNFLASH_NAMED_MESSAGE(Info_No_DFUDevice)
TARNFLASH_NAMED_MESSAGE(Info_DFU_AlreadyOpen)
TARNFLASH_NAMED_MESSAGE(Info_DFU_CantOpen)
TARNFLASH_NAMED_MESSAGE(Info_DFU_SendFail)
TARNFLASH_NAMED_MESSAGE(Info_DFU_ReadFail)
TARNFLASH_NAMED_MESSAGE(Info_DFU_AccessProtect)
TARNFLASH_NAMED_MESSAGE(Info_DFU_CommunicationFail)
TARNFLASH_NAMED_MESSAGE(Info_DFU_NotDFUMode)
TARNFLASH_NAMED_MESSAGE(Info_DFU_TransferSizeError)
TARNFLASH_NAMED_MESSAGE(Info_DFU_StateError)
TARNFLASH_NAMED_MESSAGE(Info_DFU_StatusError_Target)
TARNFLASH_NAMED_MESSAGE(Info_DFU_StatusError_File)
TARNFLASH_NAMED_MESSAGE(Info_DFU_StatusError_Write)
TARNFLASH_NAMED_MESSAGE(Info_DFU_StatusError_Erase)
TARNFLASH_NAMED_MESSAGE(Info_DFU_StatusError_CheckErase)
TARNFLASH_NAMED_MESSAGE(Info_DFU_StatusError_Prog)
TARNFLASH_NAMED_MESSAGE(Info_DFU_StatusError_Verify)
TARNFLASH_NAMED_MESSAGE(Info_DFU_StatusError_Address)
TARNFLASH_NAMED_MESSAGE(Info_DFU_StatusError_Notdone)
TARNFLASH_NAMED_MESSAGE(Info_DFU_StatusError_Firmware)
TARNFLASH_NAMED_MESSAGE(Info_DFU_StatusError_Vendeor)
TARNFLASH_NAMED_MESSAGE(Info_DFU_StatusError_Usbr)
TARNFLASH_NAMED_MESSAGE(Info_DFU_StatusError_Por)
TARNFLASH_NAMED_MESSAGE(Info_DFU_StatusError_Unknown)
TARNFLASH_NAMED_MESSAGE(Info_DFU_StatusError_Stalledpkt)
TARNFLASH_NAMED_MESSAGE(Info_DFU_ColunmHeader2_Text)
TARNFLASH_NAMED_MESSAGE(Info_USART_ColunmHeader2_Text)
TARNFLASH_NAMED_MESSAGE(Info_DFU_Buttonfree_MulutiDevice)
TARNFLASH_NAMED_MESSAGE(Info_NoDeviceMap_SaveProject)
TARNFLASH_NAMED_MESSAGE(Info_Success_SaveProject)
TARNFLASH_NAMED_MESSAGE(Info_Success_OpenProject)
TARNFLASH_NAMED_MESSAGE(Info_Failed_OpenProject)
TARNFLASH_NAMED_MESSAGE(Info_Failed_OpenProject_DeviceMismatch)
TARNFLASH_NAMED_MESSAGE(Info_Failed_Project_DeviceMismatch)
TARNFLASH_NAMED_MESSAGE(Info_UserSystemData_Invalid)
TARNFLASH_NAMED_MESSAGE(Info_ProjectOperation_error)
TARNFLASH_NAMED_MESSAGE(Info_ProjectName_Null_error)
TARNFLASH_NAMED_MESSAGE(Info_Enter_ProjectMode_Info)
TARNFLASH_NAMED_MESSAGE(Info_Slib_Disable_Password_Null)
TARNFLASH_NAMED_MESSAGE(Info_Slib_Enable_Password_Null)
TARNFLASH_NAMED_MESSAGE(Info_Slib_Password_Null)
TARNFLASH_NAMED_MESSAGE(Info_Slib_Password_InputError)
TARNFLASH_NAMED_MESSAGE(Info_SLIB_HASBEEN_ENABLE_ERROR)
TARNFLASH_NAMED_MESSAGE(Info_SLIB_STARTSECTOR_ERROR)
TARNFLASH_NAMED_MESSAGE(Info_SLIB_STARTDATASECTOR_ERROR)
TARNFLASH_NAMED_MESSAGE(Info_SLIB_ENDSECTOR_ERROR)
TARNFLASH_NAMED_MESSAGE(Info_SLIB_SECTOR_ERROR)
TARNFLASH_NAMED_MESSAGE(Info_SLIB_BEGINSECTOR_MESSAGE1)
TARNFLASH_NAMED_MESSAGE(Info_SLIB_BEGINSECTOR_MESSAGE2)
TARNFLASH_NAMED_MESSAGE(Info_SLIB_BEGINSECTOR_MESSAGE3)
TARNFLASH_NAMED_MESSAGE(Info_SLIB_PASSWORD_ERROR)
TARNFLASH_NAMED_MESSAGE(Info_Slib_Status_Null)
TARNFLASH_NAMED_MESSAGE(Info_Slib_Hasbeen_Disable)
TARNFLASH_NAMED_MESSAGE(Info_Slib_Enable_Compare_Error1)
TARNFLASH_NAMED_MESSAGE(Info_Slib_Enable_Compare_Error2)
TARNFLASH_NAMED_MESSAGE(Info_Slib_No_Erase)
TARNFLASH_NAMED_MESSAGE(Info_Slib_OperateSector_InSlib)
TARNFLASH_NAMED_MESSAGE(Info_Slib_DownloadFile_Sector_InSlib)
TARNFLASH_NAMED_MESSAGE(Info_SN_Null_Error)
TARNFLASH_NAMED_MESSAGE(MultiFile_Max_Number_Info)
TARNFLASH_NAMED_MESSAGE(Isnot_Empty_Info)
TARNFLASH_NAMED_MESSAGE(Input_HEX_Error_Info)
TARNFLASH_NAMED_MESSAGE(MultiFile_Address_Same_Info)
TARNFLASH_NAMED_MESSAGE(MultiFile_AddressSector_Same_Info)
TARNFLASH_NAMED_MESSAGE(UserSystemData_WDOG_Open_Info)
TARNFLASH_NAMED_MESSAGE(Info_FAP_Enable)
TARNFLASH_NAMED_MESSAGE(Info_FAP_Disable)
TARNFLASH_NAMED_MESSAGE(Info_FAP_Enable_Level1)
TARNFLASH_NAMED_MESSAGE(Info_FAP_Enable_Level2)
TARNFLASH_NAMED_MESSAGE(File_Empty_Error_Info)
TARNFLASH_NAMED_MESSAGE(Download_FAPConflict_Error_Info)
TARNFLASH_NAMED_MESSAGE(Senior_Protection_Info)
TARNFLASH_NAMED_MESSAGE(KVS07_EOPB0_Notset_Info)
TARNFLASH_NAMED_MESSAGE(ISP_New_Version_Info)
TARNFLASH_NAMED_MESSAGE(ISP_Download_Success_Info)
TARNFLASH_NAMED_MESSAGE(ISP_Download_Failed_Info)
TARNFLASH_NAMED_MESSAGE(ISP_Multiport_New_Version_Info)
TARNFLASH_NAMED_MESSAGE(ISP_Multiport_Download_Success_Info)
TARNFLASH_NAMED_MESSAGE(ISP_Multiport_Download_Failed_Info)
TARNFLASH_NAMED_MESSAGE(Info_FlashCRC_SectorSelect_Error)
TARNFLASH_NAMED_MESSAGE(Info_FlashCRC_Flash_SPIM_Error)
TARNFLASH_NAMED_MESSAGE(Info_FlashCRC_Slib_Confirm)
TARNFLASH_NAMED_MESSAGE(CRC_inSlibOrOtherArea_MixedError_Info)
TARNFLASH_NAMED_MESSAGE(CRC_S04MainFlash_MaxLeng_Warning_Info)
TARNFLASH_NAMED_MESSAGE(OTP2_Key_SPIM_Name_Info)
TARNFLASH_NAMED_MESSAGE(OTP2_Key_QSPI_Name_Info)
TARNFLASH_NAMED_MESSAGE(Download_Erase_Sector_Option_Info)
#undef TARNFLASH_NAMED_MESSAGE

#endif
