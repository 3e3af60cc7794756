// The sub-option walk and the checks the commands make on their values.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/CommandChecks.h"
#include "cli/Handlers.h"
#include "cli/SubOptionWalk.h"

namespace {

// An argument vector with the terminating null the process one has.
class Args
{
public:
    Args(std::initializer_list<const char*> words) : m_words(words.begin(), words.end())
    {
        for (std::string& w : m_words)
            m_ptrs.push_back(&w[0]);
        m_ptrs.push_back(nullptr);
    }
    int argc() const { return static_cast<int>(m_words.size()); }
    char** argv() { return m_ptrs.data(); }

private:
    std::vector<std::string> m_words;
    std::vector<char*> m_ptrs;
};

// Walks from index 0 and records "name=value" per sub-option; valueless
// names step back.
struct WalkResult {
    std::vector<std::string> seen;
    int end;
    bool bad;
};

WalkResult RunWalk(Args& a, bool connect, const std::vector<std::string>& valueless = {})
{
    WalkResult r{{}, 0, false};
    int i = 0;
    CSubOptionWalk walk(a.argc(), a.argv(), i, connect);
    while (walk.Next()) {
        r.seen.push_back(walk.LowerName() + "=" + walk.Value());
        for (const std::string& v : valueless)
            if (walk.LowerName() == v)
                walk.StepBack();
    }
    r.end = i;
    r.bad = walk.Bad();
    return r;
}

TEST(ConsoleWalk, SubOptionWalk)
{
    struct Case {
        std::initializer_list<const char*> words;
        bool connect;
        std::vector<std::string> seen;
        int end;
        bool bad;
    };
    const std::vector<std::string> valueless = {"--v", "--o", "--all"};
    const Case cases[] = {
        // command word alone: the walk ends past it
        {{"-e"}, false, {}, 1, false},
        // values taken, next command word left for the main walk
        {{"-d", "--fn", "/a.hex", "--v", "-r"}, false, {"--fn=/a.hex", "--v=-r"}, 4, false},
        // a valueless option is looked at again, so --o is seen
        {{"-d", "--v", "--o"}, false, {"--v=--o", "--o="}, 3, false},
        // a sub-option at the end takes an empty value
        {{"-d", "--fn"}, false, {"--fn="}, 2, false},
        // capitals pass as sub-options
        {{"-com", "--PN", "ttyS0"}, true, {"--pn=ttyS0"}, 3, false},
        // unknown word: bad, index on it
        {{"-com", "--xyz", "1"}, true, {}, 1, true},
        {{"-e", "", "-d"}, false, {}, 1, true},
        // connect variant: a sub-option that is the last argument stays for the main walk
        {{"-com", "--pn", "ttyS0", "--br"}, true, {"--pn=ttyS0"}, 3, false},
        // the value of a sub-option may be a command word; it is consumed
        {{"-com", "--pn", "-e"}, true, {"--pn=-e"}, 3, false},
    };
    for (const Case& c : cases) {
        Args a(c.words);
        WalkResult r = RunWalk(a, c.connect, valueless);
        EXPECT_EQ(r.seen, c.seen) << *c.words.begin() << " / " << c.words.size();
        EXPECT_EQ(r.end, c.end) << *c.words.begin() << " / " << c.words.size();
        EXPECT_EQ(r.bad, c.bad) << *c.words.begin() << " / " << c.words.size();
    }
}

// The program's own sub-option words belong to one command each; after any
// other command they are bad parameters, as any unknown word.
TEST(ConsoleWalk, SubOptionWordsPerCommand)
{
    struct Case {
        const char* command;
        const char* word;
        bool accepted;
    };
    const Case cases[] = {
        {"-d", "--crc", true},      {"-d", "--CRC", true},     {"-e", "--crc", false},
        {"-u", "--crc", false},     {"-p", "--crc", false},    {"-r", "--crc", false},
        {"-usd", "--crc", false},   {"-otp", "--crc", false},  {"-enspim", "--crc", false},
        {"-com", "--crc", false},   {"-i2c", "--crc", false},  {"-e", "--fn", true},
        {"-u", "--addr", true},     {"-d", "--y", false},      {"-d", "--delta", true},
        {"-u", "--delta", false},   {"-e", "--delta", false},  {"-com", "--delta", false},
    };
    for (const Case& c : cases) {
        Args a({c.command, c.word, "1"});
        const bool connect = c.command[1] == 'c' || c.command[1] == 'i';
        WalkResult r = RunWalk(a, connect);
        EXPECT_EQ(!r.bad, c.accepted) << c.command << " " << c.word;
        EXPECT_EQ(r.end, c.accepted ? 3 : 1) << c.command << " " << c.word;
        EXPECT_EQ(Is_SubOptionOf(c.word, c.command), c.accepted) << c.command << " " << c.word;
    }
}

TEST(ConsoleWalk, NeverLeavesTheArguments)
{
    // Every prefix of a line of sub-options only: the index ends within 0..argc.
    Args a({"-p", "--efap", "--dfap", "--depp", "--v", "--o"});
    for (int n = 1; n <= a.argc(); ++n) {
        for (bool connect : {false, true}) {
            int i = 0;
            CSubOptionWalk walk(n, a.argv(), i, connect);
            int passes = 0;
            while (walk.Next() && passes < 100) {
                walk.StepBack();
                ++passes;
            }
            EXPECT_LT(passes, 100);
            EXPECT_GE(i, 0);
            EXPECT_LE(i, n);
        }
    }
}

TEST(ConsoleWalk, WordLists)
{
    for (const char* word : {"-?", "-dfu", "-com", "-i2c", "-can", "-spi", "-e", "-p", "-d", "-u", "-o",
                             "-usd", "-r", "-enspim", "-otp"})
        EXPECT_TRUE(Is_Option(word)) << word;
    for (const char* word : {"-E", "--e", "-x", "", "-", "-dfu ", "--pn"})
        EXPECT_FALSE(Is_Option(word)) << word;
    for (const char* word : {"--pn", "--FN", "--Efap2", "--remap", "--a", "--addr", "--speed", "--y"})
        EXPECT_EQ(Is_SubOption(word), std::string(word) != "--y") << word;
    EXPECT_FALSE(Is_Option(nullptr));
    EXPECT_FALSE(Is_SubOption(nullptr));
}

TEST(ConsoleChecks, SectorRanges)
{
    struct Case { const char* text; int begin; int end; };
    const Case cases[] = {
        {"0-20", 0, 20},
        {"3-1", 3, 1},
        {"12", 12, 1},  // without a dash the end is read from the text less its last character
        {"0", 0, 0},
        {"", 0, 0},
        {"1-2-3", 1, 3},  // the last dash splits; "1-2" reads as 1
        {"a-b", 0, 0},
    };
    for (const Case& c : cases) {
        int begin = -5;
        int end = -5;
        ReadSectorRange(c.text, begin, end);
        EXPECT_EQ(begin, c.begin) << c.text;
        EXPECT_EQ(end, c.end) << c.text;
    }
    // without a connection no range is valid
    EXPECT_FALSE(IsSectorsValid(0, 0, nullptr));
    EXPECT_TRUE(GetAllSectors(nullptr).isEmpty());
}

TEST(ConsoleChecks, FileNames)
{
    struct Case { const char* name; bool image; bool otp; };
    const Case cases[] = {
        {"/tmp/app.hex", true, false},
        {"/tmp/APP.HEX", true, false},
        {"/tmp/app.bin", true, false},
        {"/tmp/app.s19", true, false},
        {"/tmp/app.srec", true, false},
        {"/tmp/apphex", true, false},  // no dot needed
        {"app.hex", false, false},     // a full path is required
        {"", false, false},
        {"/tmp/", false, false},
        {"/tmp/hex/app.txt", false, false},
        {"/tmp/data.kvtp", false, true},
        {"/tmp/dataKVTP", false, true},
        {"dataKVTP", false, false},
        {"/tmp/x.kvtp.bak", false, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(IsValidFileName(c.name), c.image) << c.name;
        EXPECT_EQ(IsValidOTPFileName(c.name), c.otp) << c.name;
    }
}

} // namespace
