// The installed tree, as `cmake --install` lays it out (CTest installs it
// into INSTALL_PREFIX before these tests run): every piece in its place and
// nothing else, the libraries with their major version, no binary built or
// installed that searches the working folder for libraries, every binary
// hardened, the programs finding their libraries and catalogue there, the
// manual pages and the completion doing their job, and the installed program
// programming the installed simulator from a folder without Map/.

#include "InstallTest.h"
#include "RunProgram.h"
#include "SimProcess.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace installtest;
using Bytes = std::vector<unsigned char>;

const std::string kBin = INSTALL_BINDIR;
const std::string kLib = INSTALL_LIBDIR;
const std::string kProgram = Installed(kBin + "/tarnflash");

Bytes ReadFile(const std::string& path)
{
    const std::string text = ReadText(path);
    return Bytes(text.begin(), text.end());
}

// Runs of blanks and tabs become one blank; none at either end.
std::string Collapse(const std::string& text)
{
    std::string out;
    for (char c : text) {
        const bool blank = c == ' ' || c == '\t' || c == '\n';
        if (blank) {
            if (!out.empty() && out.back() != ' ')
                out += ' ';
        } else {
            out += c;
        }
    }
    if (!out.empty() && out.back() == ' ')
        out.pop_back();
    return out;
}

// A manual page line as a reader sees it: no font changes, plain dashes.
std::string Unroff(std::string line)
{
    const std::pair<std::string, std::string> escapes[] = {
        {"\\fB", ""}, {"\\fI", ""}, {"\\fR", ""}, {"\\-", "-"}, {"\\e", "\\"}, {"\\&", ""}};
    for (const auto& e : escapes) {
        for (size_t p = line.find(e.first); p != std::string::npos; p = line.find(e.first, p)) {
            line.replace(p, e.first.size(), e.second);
            p += e.second.size();
        }
    }
    return line;
}

// ---------------------------------------------------------------------------

TEST(InstalledTree, HoldsEveryPieceInItsPlaceAndNothingElse)
{
    std::set<std::string> expected;
    for (const auto& [component, files] : ExpectedLayout())
        expected.insert(files.begin(), files.end());
    EXPECT_EQ(FilesUnder(INSTALL_PREFIX), expected);

    for (const char* program : {"tarnflash", "kv32sim"}) {
        struct stat st {};
        ASSERT_EQ(stat(Installed(kBin + "/" + program).c_str(), &st), 0) << program;
        EXPECT_TRUE(S_ISREG(st.st_mode) && (st.st_mode & S_IXOTH)) << program;
    }
}

// libX.so.1.0.0 is the file and names itself libX.so.1 (the name programs
// record); libX.so.1 and the development link libX.so lead to it. The program
// records the versioned names.
TEST(InstalledTree, LibrariesCarryTheMajorVersionOfTheirInterface)
{
    for (const std::string& name : LibraryNames()) {
        const std::string so = Installed(kLib + "/lib" + name + ".so");
        const std::string major = "lib" + name + ".so." LIBRARY_SOVERSION;
        const std::string file = "lib" + name + ".so." LIBRARY_VERSION;
        struct stat st {};
        ASSERT_EQ(lstat((so + "." LIBRARY_VERSION).c_str(), &st), 0) << file;
        EXPECT_TRUE(S_ISREG(st.st_mode)) << file;
        char target[256] = {};
        EXPECT_GT(readlink((so + "." LIBRARY_SOVERSION).c_str(), target, sizeof target - 1), 0) << major;
        EXPECT_EQ(std::string(target), file);
        std::fill(std::begin(target), std::end(target), '\0');
        EXPECT_GT(readlink(so.c_str(), target, sizeof target - 1), 0) << name;
        EXPECT_EQ(std::string(target), major);
        EXPECT_NE(Capture("readelf -dW " + Quote(so + "." LIBRARY_VERSION))
                      .find("Library soname: [" + major + "]"),
                  std::string::npos)
            << file;
    }
    const std::string needed = Capture("readelf -dW " + Quote(kProgram));
    for (const char* library : {"libKVBLLIB.so." LIBRARY_SOVERSION, "libFiles.so." LIBRARY_SOVERSION})
        EXPECT_NE(needed.find(std::string("Shared library: [") + library + "]"), std::string::npos)
            << needed;
}

// An empty or relative entry in a library search path means the working
// folder: a library planted there would be loaded. Every ELF file the build
// makes and the install lays out has only absolute or $ORIGIN entries; the
// installed program exactly its ../lib, everything else installed none.
TEST(InstalledTree, NoBinaryBuiltOrInstalledSearchesTheWorkingFolder)
{
    std::vector<std::string> binaries;
    for (const std::string& root : {std::string(BUILD_DIR), std::string(INSTALL_PREFIX)})
        for (const char* folder : {"/bin", "/lib"})
            for (const std::string& file : FilesUnder(root + folder))
                if (IsElf(root + folder + "/" + file))
                    binaries.push_back(root + folder + "/" + file);
    ASSERT_GT(binaries.size(), 10u);
    for (const std::string& binary : binaries)
        for (const std::string& entry : SearchPath(binary))
            EXPECT_TRUE(entry.rfind('/', 0) == 0 || entry.rfind("$ORIGIN/", 0) == 0)
                << binary << " searches \"" << entry << "\"";

    EXPECT_EQ(SearchPath(kProgram), std::vector<std::string>{"$ORIGIN/../" + kLib});
    EXPECT_TRUE(SearchPath(Installed(kBin + "/kv32sim")).empty());
    for (const std::string& name : LibraryNames())
        EXPECT_TRUE(SearchPath(Installed(kLib + "/lib" + name + ".so." LIBRARY_VERSION)).empty()) << name;
}

// Built as Debian builds its packages: read-only relocations resolved at
// start, position-independent programs, the stack protector and (outside the
// sanitizer builds) fortified libc calls.
TEST(InstalledTree, EveryBinaryIsHardened)
{
    std::vector<std::string> binaries = {kProgram, Installed(kBin + "/kv32sim")};
    for (const std::string& name : LibraryNames())
        binaries.push_back(Installed(kLib + "/lib" + name + ".so." LIBRARY_VERSION));
    for (const std::string& binary : binaries) {
        const std::string headers = Capture("readelf -hlW " + Quote(binary));
        const std::string dynamic = Capture("readelf -dW " + Quote(binary));
        EXPECT_NE(headers.find("GNU_RELRO"), std::string::npos) << binary;
        EXPECT_NE(dynamic.find("BIND_NOW"), std::string::npos) << binary;
        if (binary.find("/" + kBin + "/") != std::string::npos) {
            EXPECT_NE(headers.find("DYN (Position-Independent Executable file)"), std::string::npos)
                << binary;
        }
        const std::set<std::string> imports = UndefinedSymbols(binary);
        EXPECT_EQ(imports.count("__stack_chk_fail"), 1u) << binary;
        const bool fortified = std::any_of(imports.begin(), imports.end(), [](const std::string& s) {
            return s != "__stack_chk_fail" && s.size() > 6 && s.rfind("__", 0) == 0 &&
                   s.compare(s.size() - 4, 4, "_chk") == 0;
        });
        EXPECT_EQ(fortified, bool(FORTIFIED)) << binary;
    }
}

TEST(InstalledTree, CatalogueIsTheWholeSourceCatalogue)
{
    const std::string installed = Installed(std::string(INSTALL_DATADIR) + "/tarnflash/Map");
    const std::set<std::string> names = DirectoryEntries(SOURCE_MAP_DIR, ".KVmap");
    ASSERT_FALSE(names.empty());
    EXPECT_EQ(DirectoryEntries(installed), names);
    for (const std::string& name : names)
        EXPECT_EQ(ReadFile(installed + "/" + name), ReadFile(std::string(SOURCE_MAP_DIR) + "/" + name))
            << name;
}

// The installed programs and libraries resolve every library, and the
// project's own ones from the prefix (through the RPATH), never from the
// build tree.
TEST(InstalledTree, EveryBinaryFindsItsLibrariesInThePrefix)
{
    const std::string prefix = RealPath(INSTALL_PREFIX) + "/";
    std::vector<std::string> binaries = {Installed(kBin + "/tarnflash"), Installed(kBin + "/kv32sim")};
    for (const std::string& name : LibraryNames())
        binaries.push_back(Installed(kLib + "/lib" + name + ".so." LIBRARY_SOVERSION));

    for (const std::string& binary : binaries) {
        int status = -1;
        const std::string ldd = Capture("ldd " + Quote(binary), &status);
        EXPECT_EQ(status, 0) << binary << "\n" << ldd;
        EXPECT_EQ(ldd.find("not found"), std::string::npos) << binary << "\n" << ldd;
        EXPECT_EQ(ldd.find(std::string(BUILD_DIR) + "/lib/"), std::string::npos) << binary << "\n" << ldd;
    }

    const std::string ldd = Capture("ldd " + Quote(kProgram));
    for (const char* own : {"libKVBLLIB.so." LIBRARY_SOVERSION, "libFiles.so." LIBRARY_SOVERSION}) {
        const size_t at = ldd.find(std::string(own) + " => ");
        ASSERT_NE(at, std::string::npos) << own << "\n" << ldd;
        const size_t from = at + std::string(own).size() + 4;
        const std::string path = ldd.substr(from, ldd.find(' ', from) - from);
        EXPECT_EQ(RealPath(path).rfind(prefix, 0), 0u) << own << " => " << path;
    }
}

// Each protocol library is a standalone deliverable: it loads with every
// symbol bound and exports the programming interface.
TEST(InstalledTree, ProtocolLibrariesLoadAndExportTheInterface)
{
    const char* const libraries[] = {"libKVBLLIB.so." LIBRARY_SOVERSION, "libKVI2CBLLIB.so." LIBRARY_SOVERSION,
                                     "libKVSPIBLLIB.so." LIBRARY_SOVERSION, "libKVCANBLLIB.so." LIBRARY_SOVERSION};
    const char* const functions[] = {"SetCOMSettings", "Interface_Open", "KVBL_Init_BL",
                                     "KVBL_DNLOAD", "KVBL_VERIFY", "TARGET_GetFlashSize"};
    for (const char* library : libraries) {
        void* handle = dlopen(Installed(kLib + "/" + library).c_str(), RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(handle, nullptr) << library << ": " << dlerror();
        for (const char* function : functions)
            EXPECT_NE(dlsym(handle, function), nullptr) << library << " lacks " << function;
        dlclose(handle);
    }
    void* files = dlopen(Installed(kLib + "/libFiles.so." LIBRARY_SOVERSION).c_str(), RTLD_NOW | RTLD_LOCAL);
    EXPECT_NE(files, nullptr) << dlerror();
    if (files)
        dlclose(files);
}

// The manual page holds every line of the help text, in the help's order, and
// the commands the help does not list.
TEST(InstalledTree, ManualPageCarriesTheHelpTextAndTheUnlistedCommands)
{
    ScratchDir work;
    const ProgramRun help = RunProgram(kProgram, {"-?"}, work.path());
    ASSERT_EQ(help.exitCode, 0) << help.out;

    int status = -1;
    const std::string page = Capture(
        "gzip -dc " + Quote(Installed(std::string(INSTALL_MANDIR) + "/man1/tarnflash.1.gz")), &status);
    ASSERT_EQ(status, 0);
    const std::vector<std::string> pageLines = Lines(page);
    ASSERT_FALSE(pageLines.empty());

    // The text a reader gets: requests dropped, the rest joined.
    std::string text;
    std::set<std::string> items;  // first word of each tagged paragraph
    for (size_t i = 0; i < pageLines.size(); ++i) {
        const std::string& line = pageLines[i];
        if (line.rfind(".TH ", 0) == 0) {
            EXPECT_NE(line.find(PROJECT_VERSION_TEXT), std::string::npos) << line;
        }
        if (!line.empty() && (line[0] == '.' || line[0] == '\''))
            continue;
        const std::string plain = Unroff(line);
        text += plain + "\n";
        if (i > 0 && pageLines[i - 1] == ".TP")
            items.insert(plain.substr(0, plain.find_first_of(" ,")));
    }
    text = Collapse(text);

    // Help lines from the first command on (before it: title and usage).
    const std::vector<std::string> helpLines = Lines(help.out);
    auto first = std::find_if(helpLines.begin(), helpLines.end(), [](const std::string& l) {
        return Collapse(l).rfind("-? ", 0) == 0;
    });
    ASSERT_NE(first, helpLines.end()) << help.out;
    ASSERT_GT(helpLines.end() - first, 50) << "the help text is shorter than it should be";
    size_t at = 0;
    for (auto it = first; it != helpLines.end(); ++it) {
        const std::string wanted = Collapse(*it);
        if (wanted.empty())
            continue;
        const size_t found = text.find(wanted, at);
        ASSERT_NE(found, std::string::npos) << "not in the manual page (in help order): " << wanted;
        at = found + wanted.size();
    }

    for (const char* word : {"-can", "-spi", "-otp", "-o", "--addr", "-?", "-com", "-enspim"})
        EXPECT_EQ(items.count(word), 1u) << word << " has no entry of its own in the manual page";
}

// kv32sim's manual page has an entry for every option its usage names.
TEST(InstalledTree, SimulatorManualPageDescribesEveryOption)
{
    ScratchDir work;
    const ProgramRun usage = RunProgram(Installed(kBin + "/kv32sim"), {"--help"}, work.path());
    int status = -1;
    const std::string page = Capture(
        "gzip -dc " + Quote(Installed(std::string(INSTALL_MANDIR) + "/man1/kv32sim.1.gz")), &status);
    ASSERT_EQ(status, 0) << page;
    EXPECT_NE(page.find(".TH KV32SIM 1"), std::string::npos);
    EXPECT_NE(page.find(PROJECT_VERSION_TEXT), std::string::npos);

    std::set<std::string> entries;  // first word of each tagged paragraph
    const std::vector<std::string> lines = Lines(page);
    for (size_t i = 1; i < lines.size(); ++i)
        if (lines[i - 1] == ".TP") {
            const std::string plain = Unroff(lines[i]);
            entries.insert(plain.substr(0, plain.find_first_of(" ,")));
        }
    size_t options = 0;
    std::istringstream words(usage.out);
    for (std::string word; words >> word;) {
        const size_t at = word.find("--");
        if (at == std::string::npos)
            continue;
        const std::string option = word.substr(at, word.find_first_of("]| ", at) - at);
        ++options;
        EXPECT_EQ(entries.count(option), 1u) << option << " has no entry in the manual page";
    }
    EXPECT_GT(options, 15u) << usage.out;
}

// What the installed completion offers, run by bash as the shell would.
TEST(InstalledTree, CompletionOffersCommandsSubOptionsAndValues)
{
    ScratchDir work;
    for (const char* name : {"app.hex", "app.txt", "data.KVTP", "-x"})
        WriteText(work / name, "");
    ASSERT_EQ(mkdir((work / "sub").c_str(), 0755), 0);

    const std::string script =
        "source '" + Installed(std::string(INSTALL_DATADIR) + "/bash-completion/completions/tarnflash") +
        "' || exit 3; complete -p tarnflash | grep -q -- '-F _tarnflash' || exit 4;"
        " COMP_WORDS=(\"$@\"); COMP_CWORD=$(($# - 1)); _tarnflash;"
        " printf '%s\\n' \"${COMPREPLY[@]}\"";

    struct Case {
        std::vector<std::string> words;  // the line up to the cursor, the last one being typed
        std::set<std::string> offered;
    };
    const Case cases[] = {
        {{"tarnflash", "-c"}, {"-com", "-can"}},
        // "-?" is a word, not a pattern matching the file "-x".
        {{"tarnflash", "-?"}, {"-?"}},
        {{"tarnflash", "-com", "--pn", "pts/3", "--p"}, {"--pn", "--pr"}},
        {{"tarnflash", "-com", "--PR", "o"}, {"ODD"}},
        {{"tarnflash", "-com", "--auto", "1"}, {"1", "10", "11", "12"}},
        {{"tarnflash", "-i2c", "--"}, {"--pn", "--addr", "--rate", "--dc", "--log"}},
        {{"tarnflash", "-spi", "--pn", "pts/3", "-d", "--"},
         {"--fn", "--addr", "--a", "--v", "--o", "--crc", "--delta", "--log"}},
        {{"tarnflash", "-dfu", "--"}, {"--sn", "--log"}},
        {{"tarnflash", "--"}, {"--help", "--version"}},
        // File names with their folder, as the program needs them.
        {{"tarnflash", "-d", "--fn", ""}, {"./app.hex", "./sub/"}},
        {{"tarnflash", "-d", "--fn", "./a"}, {"./app.hex"}},
        {{"tarnflash", "-otp", "--fn", ""}, {"./data.KVTP", "./sub/"}},
        {{"tarnflash", "-usd", "--get", ""}, {"--fn"}},
        {{"tarnflash", "-p", "--efap2", "--y"}, {"--y"}},
        {{"tarnflash", "-e", "--sec", ""}, {}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"--norc", "--noprofile", "-c", script, "bash"};
        args.insert(args.end(), c.words.begin(), c.words.end());
        const ProgramRun run = RunProgram("/bin/bash", args, work.path(), 30);
        std::string line;
        for (const std::string& w : c.words)
            line += w + " ";
        ASSERT_EQ(run.exitCode, 0) << line;
        std::set<std::string> offered;
        for (const std::string& w : Lines(run.out))
            if (!w.empty())
                offered.insert(w);
        EXPECT_EQ(offered, c.offered) << line;
    }
}

// ---------------------------------------------------------------------------

struct LinkCase {
    const char* link;     // kv32sim --link
    const char* connect;  // the program's connect command
};

void PrintTo(const LinkCase& c, std::ostream* os)
{
    *os << c.connect;
}

// One Intel HEX record.
std::string HexRecord(unsigned type, unsigned address, const unsigned char* data, size_t n)
{
    char head[16];
    std::snprintf(head, sizeof head, ":%02X%04X%02X", unsigned(n), address & 0xFFFF, type);
    std::string record = head;
    unsigned sum = unsigned(n) + ((address >> 8) & 0xFF) + (address & 0xFF) + type;
    for (size_t i = 0; i < n; ++i) {
        char byte[3];
        std::snprintf(byte, sizeof byte, "%02X", data[i]);
        record += byte;
        sum += data[i];
    }
    char check[4];
    std::snprintf(check, sizeof check, "%02X\n", (0x100 - (sum & 0xFF)) & 0xFF);
    return record + check;
}

struct Block {
    unsigned address;
    Bytes data;
};

std::string IntelHex(const std::vector<Block>& blocks)
{
    std::string out;
    long upper = -1;
    for (const Block& b : blocks) {
        for (size_t off = 0; off < b.data.size(); off += 16) {
            const unsigned address = b.address + unsigned(off);
            if (long(address >> 16) != upper) {
                upper = address >> 16;
                const unsigned char ext[2] = {static_cast<unsigned char>(upper >> 8),
                                              static_cast<unsigned char>(upper)};
                out += HexRecord(4, 0, ext, 2);
            }
            out += HexRecord(0, address, b.data.data() + off, std::min<size_t>(16, b.data.size() - off));
        }
    }
    return out + ":00000001FF\n";
}

class InstalledOnSimulator : public ::testing::TestWithParam<LinkCase> {};

// Connect and a download with verify, the installed program against the
// installed simulator (which finds its own installed catalogue), from a
// working folder that has no Map/: the chip must then hold the image.
TEST_P(InstalledOnSimulator, DownloadWithVerifyFromAnyFolder)
{
    ScratchDir work;
    ASSERT_FALSE(work.path().empty());
    Bytes first(3000), second(100);
    for (size_t i = 0; i < first.size(); ++i)
        first[i] = static_cast<unsigned char>(i * 7 + 1);
    for (size_t i = 0; i < second.size(); ++i)
        second[i] = static_cast<unsigned char>(0xA5 ^ i);
    // Unaligned, across a sector boundary, and a second element further up.
    const std::vector<Block> image = {{0x08000100, first}, {0x08003000, second}};
    WriteText(work / "app.hex", IntelHex(image));

    kvtest::SimProcess sim;
    ASSERT_TRUE(sim.start({"--link", GetParam().link, "--dump", work / "flash.dump"}))
        << "the installed kv32sim did not start";
    const ProgramRun run = RunProgram(
        kProgram, {GetParam().connect, "--pn", sim.portName(), "-d", "--fn", work / "app.hex", "--v"},
        work.path(), 120);
    sim.stop();

    EXPECT_EQ(run.exitCode, 0) << run.out;
    EXPECT_NE(run.out.find("Device:  KV32S04    Flash:  256 KB"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("Device connected Successfully"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("Download successfully!"), std::string::npos) << run.out;

    Bytes expected(256 * 1024, 0xFF);
    for (const Block& b : image)
        std::copy(b.data.begin(), b.data.end(), expected.begin() + (b.address - 0x08000000));
    const Bytes flash = ReadFile(work / "flash.dump");
    ASSERT_EQ(flash.size(), expected.size());
    EXPECT_TRUE(flash == expected) << "the chip does not hold the image";
}

INSTANTIATE_TEST_SUITE_P(Links, InstalledOnSimulator,
                         ::testing::Values(LinkCase{"usart", "-com"}, LinkCase{"i2c", "-i2c"},
                                           LinkCase{"spi", "-spi"}, LinkCase{"can", "-can"}),
                         [](const ::testing::TestParamInfo<LinkCase>& info) {
                             return std::string(info.param.link);
                         });

}  // namespace
