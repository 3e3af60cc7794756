// The command line: the argument walk, its word lists and messages, and every
// command handler.
//
// Handler contract: the index stands on the command word on entry; the handler
// leaves it where the main walk goes on (the next command word, or argc).
// Connect handlers, Download, Upload, RunAtAddress and EnableBank3 return true
// to go on; Erase, Protection, UserSystemData and DownLoadOTPData return 0 to
// go on, otherwise the exit code of the run.
#ifndef TARNFLASH_CLI_HANDLERS_H
#define TARNFLASH_CLI_HANDLERS_H

#include <string>

class CCom;
class CBootLoader;
class CDevice;

// The run's connection; null until a connect command creates it.
extern CCom* m_obCCom;

// Exit codes of the run.
enum ExitCode {
    EXIT_OK = 0,
    EXIT_BAD_PARAMETER = 1,
    EXIT_NOT_CONNECTED = 2,
    EXIT_DOWNLOAD_FAILED = 3,
    EXIT_UPLOAD_FAILED = 4,
    EXIT_SET_USD_FAILED = 6,
    EXIT_GET_USD_FAILED = 7,
    EXIT_SPIM_FAILED = 8,
    EXIT_RUN_FAILED = 12,
    EXIT_FAP_FAILED = 32,
    EXIT_FAP2_FAILED = 33,
    EXIT_FAP_DISABLE_FAILED = 34,
    EXIT_EPP_DISABLE_FAILED = 35,
    EXIT_EPP_ENABLE_FAILED = 36,
    EXIT_MASS_ERASE_FAILED = 48,
    EXIT_MASS_ERASE_SPIM_FAILED = 49,
    EXIT_SECTOR_ERASE_FAILED = 51,
    EXIT_OTP_FAILED = 64,
};

// ---- the walk ---------------------------------------------------------------
// Runs the whole command line (arguments without the program name): banner,
// defaults, walk; returns the exit code. The caller has created the core
// application object.
int RunCommandLine(int argc, char** argv);
void PrintBanner();
// The banner's program line: name and version.
void PrintVersion();
void SetDefaults();
// Closes the run's connection when it exists and is open.
void CloseConnection();

void man();
bool Is_Option(const char* token);
bool Is_SubOption(const char* token);
// A sub-option word of the given command: the common words, and the words
// of this program's own that belong to that command (-d: "--crc").
bool Is_SubOptionOf(const char* token, const std::string& command);
// bad parameter "token"
void WriteBadParameterInfor(char** argv, int i);
// Prints the text as one line (and flushes); it does not wait for input.
void WriteInforAndWaitInput(const std::string& text);

// ---- connect commands -------------------------------------------------------
bool DFUConnect(int argc, char** argv, int& i, CCom*& com);
bool USARTConnect(int argc, char** argv, int& i, CCom*& com);
bool I2CConnect(int argc, char** argv, int& i, CCom*& com);
bool CANConnect(int argc, char** argv, int& i, CCom*& com);
bool SPIConnect(int argc, char** argv, int& i, CCom*& com);
// The link's device record after identification; null without a link.
CDevice* InitDevice(CBootLoader* link);

// ---- flash commands ---------------------------------------------------------
// bErased is set true only when a mass erase really ran (never cleared here).
int Erase(int argc, char** argv, int& i, CCom* com, bool& bErased);
bool Download(int argc, char** argv, int& i, bool bErased, CCom* com);
bool Upload(int argc, char** argv, int& i, CCom* com);
bool RunAtAddress(int argc, char** argv, int& i, CCom* com);

// ---- protection and configuration commands ----------------------------------
int Protection(int argc, char** argv, int& i, CCom* com);
int UserSystemData(int argc, char** argv, int& i, CCom* com);
bool EnableBank3(int argc, char** argv, int& i, CCom* com);
int DownLoadOTPData(int argc, char** argv, int& i, CCom* com);

#endif
