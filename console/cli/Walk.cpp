// Start-up defaults, the word lists and the main walk over the arguments.
#include "cli/Handlers.h"

#include <cstdio>
#include <cstring>
#include <iostream>

#include "ShareParameter.h"
#include "cli/ConsoleTap.h"
#include "cli/Interrupt.h"
#include "cli/LineCheck.h"
#include "cli/ProductionLog.h"
#include "link/Com.h"
#include "link/LineFailure.h"

CCom* m_obCCom = nullptr;

namespace {

const char* const kCommandWords[] = {
    "-?", "-dfu", "-com", "-i2c", "-can", "-spi", "-e", "-p",
    "-d", "-u", "-o", "-usd", "-r", "-enspim", "-otp",
    // this program's own
    "-h", "--help", "--version",
};

const char* const kSubOptionWords[] = {
    "--pn", "--br", "--db", "--pr", "--to", "--auto", "--all", "--sec",
    "--erp", "--drp", "--ewp", "--dwp", "--efap", "--efap1", "--efap2", "--dfap",
    "--eepp", "--depp", "--a", "--addr", "--rate", "--dc", "--speed", "--fn",
    "--v", "--o", "--get", "--set", "--ft", "--fs", "--fda", "--remap",
};

// Sub-option words of this program's own: each belongs to one command (null:
// to every command), and after any other command it is a bad parameter.
const struct {
    const char* word;
    const char* command;
} kOwnSubOptionWords[] = {
    {"--crc", "-d"},
    {"--delta", "-d"},
    {"--sn", "-dfu"},
    {"--log", nullptr},
};

} // namespace

bool Is_Option(const char* token)
{
    if (token == nullptr)
        return false;
    for (const char* word : kCommandWords)
        if (std::strcmp(token, word) == 0)
            return true;
    return false;
}

bool Is_SubOption(const char* token)
{
    if (token == nullptr)
        return false;
    const std::string lower = ShareParameter::ToLower(token);
    for (const char* word : kSubOptionWords)
        if (lower == word)
            return true;
    return false;
}

bool Is_SubOptionOf(const char* token, const std::string& command)
{
    if (Is_SubOption(token))
        return true;
    if (token == nullptr)
        return false;
    const std::string lower = ShareParameter::ToLower(token);
    for (const auto& own : kOwnSubOptionWords)
        if (lower == own.word && (own.command == nullptr || command == own.command))
            return true;
    return false;
}

void WriteInforAndWaitInput(const std::string& text)
{
    std::cout << text << '\n';
    std::cout.flush();
}

void WriteBadParameterInfor(char** argv, int i)
{
    const char* token = (argv != nullptr && i >= 0 && argv[i] != nullptr) ? argv[i] : "";
    WriteInforAndWaitInput(std::string("bad parameter \"") + token + "\"");
}

void SetDefaults()
{
    ShareParameter& p = g_shareParameter;
    p.c_portNumber = 1;
    p.c_BaudRate = 115200;
    p.c_DataBits = 8;
    p.c_parity = ShareParameter::ParityToInt("EVEN");
    p.c_timeout = 5;
    p.c_autoConnectFlag = false;
    p.c_autoConnectOption = 0;
    p.c_address = 0x08000000;
    p.c_filename.clear();
    p.c_Verify = false;
    p.c_optimize = false;
    p.c_haveSPIM = false;
    p.c_SPIMSize = 0;
    p.c_OperationFlag = false;
    p.c_OperationSucceedFlag = false;
    p.c_obCCom = nullptr;
    p.c_operationPersent = 0;
}

void CloseConnection()
{
    if (m_obCCom != nullptr && m_obCCom->IsOpen())
        m_obCCom->Close();
}

namespace {

// What a command word does, for the line on standard error that says why a
// command failed on the line.
std::string OperationOf(const std::string& word)
{
    static const struct {
        const char* word;
        const char* operation;
    } kOperations[] = {
        {"-e", "Erase"},
        {"-d", "Download"},
        {"-u", "Upload"},
        {"-p", "Protection"},
        {"-usd", "User system data"},
        {"-o", "User system data"},
        {"-r", "Run"},
        {"-enspim", "External flash"},
        {"-otp", "OTP"},
    };
    for (const auto& o : kOperations)
        if (word == o.word)
            return o.operation;
    return "Connect";
}

// Forgets what an earlier command left, or tells why this one failed.
std::string LineFailureOf(const std::string& word)
{
    return m_obCCom != nullptr ? TakeLineFailure(m_obCCom->GetHandle(), OperationOf(word)) : std::string();
}

bool IsConnectWord(const std::string& word)
{
    return word == "-dfu" || word == "-com" || word == "-i2c" || word == "-can" || word == "-spi";
}

// "-?" and this program's own spellings of it.
bool IsHelpWord(const std::string& word)
{
    return word == "-?" || word == "-h" || word == "--help";
}

// A token that is no command word ends the run; it is named unless it is
// the last argument.
int BadToken(int argc, int i, const char* token)
{
    CloseConnection();
    if (i < argc - 1)
        WriteInforAndWaitInput(std::string("bad parameter ") + token);
    return EXIT_BAD_PARAMETER;
}

// Runs the command at i (in checking mode: checks it); returns its exit
// code and leaves i where the walk goes on.
int RunCommand(const std::string& word, int argc, char** argv, int& i, bool& bErased)
{
    const int before = i;
    int code = EXIT_OK;
    if (word == "-dfu") {
        code = DFUConnect(argc, argv, i, m_obCCom) ? EXIT_OK : EXIT_NOT_CONNECTED;
    } else if (word == "-com") {
        code = USARTConnect(argc, argv, i, m_obCCom) ? EXIT_OK : EXIT_NOT_CONNECTED;
    } else if (word == "-i2c") {
        code = I2CConnect(argc, argv, i, m_obCCom) ? EXIT_OK : EXIT_NOT_CONNECTED;
    } else if (word == "-can") {
        code = CANConnect(argc, argv, i, m_obCCom) ? EXIT_OK : EXIT_NOT_CONNECTED;
    } else if (word == "-spi") {
        code = SPIConnect(argc, argv, i, m_obCCom) ? EXIT_OK : EXIT_NOT_CONNECTED;
    } else if (word == "-e") {
        code = Erase(argc, argv, i, m_obCCom, bErased);
    } else if (word == "-p") {
        code = Protection(argc, argv, i, m_obCCom);
    } else if (word == "-d") {
        code = Download(argc, argv, i, bErased, m_obCCom) ? EXIT_OK : EXIT_DOWNLOAD_FAILED;
        // A mass erase serves the one download after it: that download
        // has written flash, so a later one must erase its own sectors.
        bErased = false;
    } else if (word == "-u") {
        code = Upload(argc, argv, i, m_obCCom) ? EXIT_OK : EXIT_UPLOAD_FAILED;
    } else if (word == "-usd" || word == "-o") {
        code = UserSystemData(argc, argv, i, m_obCCom);
    } else if (word == "-r") {
        code = RunAtAddress(argc, argv, i, m_obCCom) ? EXIT_OK : EXIT_RUN_FAILED;
    } else if (word == "-enspim") {
        code = EnableBank3(argc, argv, i, m_obCCom) ? EXIT_OK : EXIT_SPIM_FAILED;
    } else if (word == "-otp") {
        code = DownLoadOTPData(argc, argv, i, m_obCCom);
    }
    // A handler always moves past its command word; never loop on one.
    if (i <= before)
        i = before + 1;
    return code;
}

// The commands of the connection just made, from i up to the next connect
// command (or a help word, or the end), walked in checking mode before any
// of them runs. A good line prints nothing; a bad one prints what its
// failing command prints and gives that command's exit code. The production
// log has begun the record of the command checked last.
int CheckConnection(int argc, char** argv, int i)
{
    CConsoleTap& tap = CConsoleTap::Instance();
    CProductionLog& log = CProductionLog::Instance();
    LineCheck::Begin(m_obCCom);
    bool bErased = false;
    int code = EXIT_OK;
    while (i < argc && code == EXIT_OK) {
        const char* token = argv[i] != nullptr ? argv[i] : "";
        const std::string word = token;
        if (Is_Option(token) && (IsHelpWord(word) || word == "--version" || IsConnectWord(word)))
            break;
        tap.ForgetLastLine();
        log.Begin(word);
        if (!Is_Option(token)) {
            code = BadToken(argc, i, token);
            break;
        }
        tap.Hold();
        code = RunCommand(word, argc, argv, i, bErased);
        tap.Release(code != EXIT_OK);
    }
    LineCheck::End(m_obCCom);
    return code;
}

// Ends the run after a signal: the progress line is closed and the reason
// said.
int Interrupted()
{
    CConsoleTap::Instance().EndOpenLine();
    WriteInforAndWaitInput(Interrupt::Text());
    return Interrupt::ExitCode();
}

// The walk itself; returns the exit code. Every path but the help closes
// the connection before it ends. Each command gets its record in the
// production log.
int Walk(int argc, char** argv)
{
    CProductionLog& log = CProductionLog::Instance();
    CConsoleTap& tap = CConsoleTap::Instance();
    bool bErased = false;
    int i = 0;
    while (i < argc) {
        const char* token = argv[i] != nullptr ? argv[i] : "";
        const std::string word = token;
        tap.ForgetLastLine();
        log.Begin(word);
        if (!Is_Option(token)) {
            const int code = BadToken(argc, i, token);
            log.End(code, tap.LastLine());
            return code;
        }
        if (IsHelpWord(word) || word == "--version") {
            if (word == "--version")
                PrintVersion();
            else
                man();
            log.End(EXIT_OK, tap.LastLine());
            return EXIT_OK;
        }
        // After a signal nothing new is begun.
        int code = EXIT_OK;
        if (Interrupt::Signal() == 0) {
            (void)LineFailureOf(word);
            code = RunCommand(word, argc, argv, i, bErased);
            if (code == EXIT_OK && IsConnectWord(word))
                log.NoteChip(m_obCCom);
            // The specified message is on standard output; the line's part
            // in the failure goes to standard error.
            const std::string why = code != EXIT_OK ? LineFailureOf(word) : std::string();
            if (!why.empty())
                std::cerr << why << std::endl;
        }
        if (Interrupt::Signal() != 0)
            code = Interrupted();
        log.End(code, tap.LastLine());
        if (code == EXIT_OK && IsConnectWord(word)) {
            // Nothing of this connection runs before all of it is known good.
            code = CheckConnection(argc, argv, i);
            if (code != EXIT_OK)
                log.End(code, tap.LastLine());
        }
        if (code != EXIT_OK) {
            CloseConnection();
            return code;
        }
    }
    CloseConnection();
    return EXIT_OK;
}

} // namespace

int RunCommandLine(int argc, char** argv)
{
    Interrupt::Install();
    CConsoleTap::Instance();
    // The version alone, for scripts.
    if (argc > 0 && argv[0] != nullptr && std::string(argv[0]) == "--version") {
        PrintVersion();
        return EXIT_OK;
    }
    PrintBanner();
    SetDefaults();
    if (argc <= 0) {
        man();
        return EXIT_OK;
    }
    std::string logFile;
    if (CProductionLog::FindLogFile(argc, argv, logFile)) {
        std::string reason;
        if (!CProductionLog::Instance().Open(logFile, reason)) {
            WriteInforAndWaitInput("Cannot open the log file " + logFile + ": " + reason);
            return EXIT_BAD_PARAMETER;
        }
    }
    const int code = Walk(argc, argv);
    delete m_obCCom;
    m_obCCom = nullptr;
    CProductionLog::Instance().Close();
    return code;
}
