// The program's start-up, help text and argument walk, run as a child process.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <stdlib.h>

#include "RunProgram.h"

namespace {

std::string ReadGolden(const std::string& name)
{
    std::ifstream in(std::string(GOLDEN_DIR) + "/" + name, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

ProgramRun RunTarnflash(const std::vector<std::string>& args)
{
    return RunProgram(TARNFLASH_BINARY, args);
}

TEST(ConsoleCli, NoArgumentsPrintsBannerAndHelp)
{
    const std::string banner = ReadGolden("banner.txt");
    const std::string help = ReadGolden("help.txt");
    ASSERT_FALSE(banner.empty());
    ASSERT_NE(help.find("--rate  rate\t\t I2C rate"), std::string::npos);
    ProgramRun run = RunTarnflash({});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, banner + help);
}

TEST(ConsoleCli, HelpEndsTheRun)
{
    const std::string expected = ReadGolden("banner.txt") + ReadGolden("help.txt");
    // nothing after "-?" (or "-h", "--help") is looked at
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"-?"}, {"-?", "-x", "-e"}, {"-?", "--pn"}, {"-h"}, {"--help", "-x", "-e"}}) {
        ProgramRun run = RunTarnflash(args);
        EXPECT_EQ(run.exitCode, 0) << args[0];
        EXPECT_EQ(run.out, expected) << args[0];
    }
}

TEST(ConsoleCli, VersionPrintsTheProgramLineAlone)
{
    for (const std::vector<std::string>& args : {std::vector<std::string>{"--version"}, {"--version", "-x"}}) {
        ProgramRun run = RunTarnflash(args);
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_EQ(run.out, "Corvane ISP Programmer V3.0.14\n");
    }
}

// Whatever the line holds, each record of the log is one line of JSON;
// an unusable log ends the run before anything is done.
TEST(ConsoleCli, ProductionLogRecordsAreJson)
{
    char pattern[] = "/tmp/tarnflash-cli-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string dir = pattern;
    const std::string token = "q\"b\\s\x01\xC3\xA9\xFF";
    ProgramRun run = RunProgram(TARNFLASH_BINARY, {token, "-e", "--log", "./log.jsonl"}, dir);
    EXPECT_EQ(run.exitCode, 1);
    run = RunProgram(TARNFLASH_BINARY, {"-r", "--log", "./log.jsonl"}, dir);
    EXPECT_EQ(run.exitCode, 12);
    FILE* jq = popen(("jq -c -s '[.[] | [.command, .exit_code, .interface, .message]]' '" + dir +
                      "/log.jsonl'").c_str(),
                     "r");
    ASSERT_NE(jq, nullptr);
    char buffer[512] = {};
    const size_t n = std::fread(buffer, 1, sizeof buffer - 1, jq);
    pclose(jq);
    EXPECT_EQ(std::string(buffer, n), "[[\"q\\\"b\\\\s\\u0001\xC3\xA9\xEF\xBF\xBD\",1,null,\"bad parameter q\\\"b\\\\s\\u0001\xC3\xA9\xEF\xBF\xBD\"],"
                                        "[\"-r\",12,null,\"\"]]\n");
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"-e", "--log", "./no/such/folder/log"}, {"-e", "--LOG"}}) {
        run = RunProgram(TARNFLASH_BINARY, args, dir);
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_EQ(run.out, ReadGolden("banner.txt") + "Cannot open the log file " +
                               (args.size() > 2 ? args[2] + ": No such file or directory" : ": no file name") +
                               "\n");
    }
    std::filesystem::remove_all(dir);
}

TEST(ConsoleCli, WalkExitCodes)
{
    const std::string banner = ReadGolden("banner.txt");
    struct Case {
        std::vector<std::string> args;
        int code;
        std::string printed;  // after the banner
    };
    const std::string longWord(100000, 'w');
    const Case cases[] = {
        // an unknown last argument is not printed
        {{"-x"}, 1, ""},
        {{"-x", "-dfu"}, 1, "bad parameter -x\n"},
        {{"", "-e"}, 1, "bad parameter \n"},
        {{"--pn", "x"}, 1, "bad parameter --pn\n"},
        {{"-E", "-e"}, 1, "bad parameter -E\n"},
        {{"\xC3\xA9\xFF", "-d"}, 1, "bad parameter \xC3\xA9\xFF\n"},
        {{longWord, "-e"}, 1, "bad parameter " + longWord + "\n"},
        // commands that need a connection and find none
        {{"-e"}, 2, ""},
        {{"-e", "--all"}, 2, ""},
        {{"-p", "--efap"}, 2, ""},
        {{"-d", "--fn", "/tmp/a.hex"}, 3, ""},
        {{"-u"}, 4, ""},
        {{"-usd", "--get", "--fn", "/tmp/a.bin"}, 2, ""},
        {{"-o"}, 2, ""},
        {{"-r"}, 12, ""},
        {{"-enspim"}, 8, ""},
        {{"-otp"}, 2, ""},
        // the first failing command ends the run
        {{"-r", "-e"}, 12, ""},
    };
    for (const Case& c : cases) {
        ProgramRun run = RunTarnflash(c.args);
        EXPECT_EQ(run.exitCode, c.code) << c.args[0].substr(0, 20);
        EXPECT_EQ(run.out, banner + c.printed) << c.args[0].substr(0, 20);
    }
}

} // namespace
