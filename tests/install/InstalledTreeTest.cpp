// The installed tree, as `cmake --install` lays it out (CTest installs it
// into INSTALL_PREFIX before these tests run): every piece in its place and
// nothing else, the programs finding their libraries and catalogue there, the
// manual page and the completion doing their job, and the installed program
// programming the installed simulator from a folder without Map/.

#include "RunProgram.h"
#include "SimProcess.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <dlfcn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

std::string Installed(const std::string& relative)
{
    return std::string(INSTALL_PREFIX) + "/" + relative;
}

const std::string kBin = INSTALL_BINDIR;
const std::string kLib = INSTALL_LIBDIR;
const std::string kProgram = Installed(kBin + "/tarnflash");

Bytes ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary);
    out << text;
}

std::set<std::string> DirectoryEntries(const std::string& path, const std::string& suffix = "")
{
    std::set<std::string> names;
    if (DIR* dir = opendir(path.c_str())) {
        while (dirent* entry = readdir(dir)) {
            const std::string name = entry->d_name;
            if (name == "." || name == "..")
                continue;
            if (name.size() >= suffix.size() &&
                name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
                names.insert(name);
        }
        closedir(dir);
    }
    return names;
}

// Standard output of a shell command; the exit status goes to *status.
std::string Capture(const std::string& command, int* status = nullptr)
{
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return out;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        out.append(buffer, n);
    const int rc = pclose(pipe);
    if (status)
        *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    return out;
}

std::string RealPath(const std::string& path)
{
    char buffer[PATH_MAX];
    return realpath(path.c_str(), buffer) ? std::string(buffer) : path;
}

// A scratch folder per test: a working folder with no Map/ in it.
class ScratchDir {
public:
    ScratchDir()
    {
        char templ[] = "/tmp/tarnflash-install-XXXXXX";
        const char* made = mkdtemp(templ);
        m_path = made ? made : "";
    }
    ~ScratchDir()
    {
        if (!m_path.empty())
            std::system(("rm -rf '" + m_path + "'").c_str());
    }
    std::string operator/(const std::string& name) const { return m_path + "/" + name; }
    const std::string& path() const { return m_path; }

private:
    std::string m_path;
};

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line))
        lines.push_back(line);
    return lines;
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
    struct Folder {
        std::string path;
        std::set<std::string> expected;
    };
    const Folder folders[] = {
        {kBin, {"tarnflash", "kv32sim"}},
        {kLib, {"libKVBLLIB.so", "libKVI2CBLLIB.so", "libKVSPIBLLIB.so", "libKVCANBLLIB.so",
                "libFiles.so"}},
        {std::string(INSTALL_MANDIR) + "/man1", {"tarnflash.1.gz"}},
        {std::string(INSTALL_DATADIR) + "/bash-completion/completions", {"tarnflash"}},
    };
    for (const Folder& folder : folders)
        EXPECT_EQ(DirectoryEntries(Installed(folder.path)), folder.expected) << folder.path;

    for (const char* program : {"tarnflash", "kv32sim"}) {
        struct stat st {};
        ASSERT_EQ(stat(Installed(kBin + "/" + program).c_str(), &st), 0) << program;
        EXPECT_TRUE(S_ISREG(st.st_mode) && (st.st_mode & S_IXOTH)) << program;
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
    for (const std::string& lib : DirectoryEntries(Installed(kLib), ".so"))
        binaries.push_back(Installed(kLib + "/" + lib));

    for (const std::string& binary : binaries) {
        int status = -1;
        const std::string ldd = Capture("ldd '" + binary + "' 2>&1", &status);
        EXPECT_EQ(status, 0) << binary << "\n" << ldd;
        EXPECT_EQ(ldd.find("not found"), std::string::npos) << binary << "\n" << ldd;
        EXPECT_EQ(ldd.find(std::string(BUILD_DIR) + "/lib/"), std::string::npos) << binary << "\n" << ldd;
    }

    const std::string ldd = Capture("ldd '" + kProgram + "' 2>&1");
    for (const char* own : {"libKVBLLIB.so", "libFiles.so"}) {
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
    const char* const libraries[] = {"libKVBLLIB.so", "libKVI2CBLLIB.so", "libKVSPIBLLIB.so",
                                     "libKVCANBLLIB.so"};
    const char* const functions[] = {"SetCOMSettings", "Interface_Open", "KVBL_Init_BL",
                                     "KVBL_DNLOAD", "KVBL_VERIFY", "TARGET_GetFlashSize"};
    for (const char* library : libraries) {
        void* handle = dlopen(Installed(kLib + "/" + library).c_str(), RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(handle, nullptr) << library << ": " << dlerror();
        for (const char* function : functions)
            EXPECT_NE(dlsym(handle, function), nullptr) << library << " lacks " << function;
        dlclose(handle);
    }
    void* files = dlopen(Installed(kLib + "/libFiles.so").c_str(), RTLD_NOW | RTLD_LOCAL);
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
        "gzip -dc '" + Installed(std::string(INSTALL_MANDIR) + "/man1/tarnflash.1.gz") + "'", &status);
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

// What the installed completion offers, run by bash as the shell would.
TEST(InstalledTree, CompletionOffersCommandsSubOptionsAndValues)
{
    ScratchDir work;
    for (const char* name : {"app.hex", "app.txt", "data.KVTP", "-x"})
        WriteFile(work / name, "");
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
        {{"tarnflash", "-i2c", "--"}, {"--pn", "--addr", "--rate", "--dc"}},
        {{"tarnflash", "-spi", "--pn", "pts/3", "-d", "--"}, {"--fn", "--addr", "--a", "--v", "--o"}},
        {{"tarnflash", "-d", "--fn", ""}, {"app.hex", "sub/"}},
        {{"tarnflash", "-otp", "--fn", ""}, {"data.KVTP", "sub/"}},
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

// The Debian package made from the same tree: it holds the installed layout
// under /usr, declares the libraries it needs, and its program runs from
// wherever the package's files are unpacked.
TEST(InstalledPackage, HoldsTheTreeUnderUsrAndDeclaresItsLibraries)
{
    ScratchDir work;
    int status = -1;
    const std::string log = Capture("'" CPACK_COMMAND "' -G DEB --config '" BUILD_DIR
                                    "/CPackConfig.cmake' -B '" + work.path() + "' 2>&1", &status);
    ASSERT_EQ(status, 0) << log;
    const std::set<std::string> debs = DirectoryEntries(work.path(), ".deb");
    ASSERT_EQ(debs.size(), 1u) << log;
    const std::string deb = work / *debs.begin();
    EXPECT_EQ(debs.begin()->rfind(std::string("tarnflash_") + PROJECT_VERSION_TEXT + "_", 0), 0u)
        << *debs.begin();

    const std::string depends = Capture("dpkg-deb -f '" + deb + "' Depends");
    for (const char* package : {"libqt5core5a", "libusb-1.0-0", "libstdc++6"})
        EXPECT_NE(depends.find(package), std::string::npos) << "Depends: " << depends;

    ASSERT_EQ(Capture("dpkg-deb -x '" + deb + "' '" + (work / "root") + "'", &status), "");
    ASSERT_EQ(status, 0);
    const std::string usr = work / "root/usr";
    for (const char* path :
         {"/bin/tarnflash", "/bin/kv32sim", "/lib/libKVBLLIB.so", "/lib/libKVI2CBLLIB.so",
          "/lib/libKVSPIBLLIB.so", "/lib/libKVCANBLLIB.so", "/lib/libFiles.so",
          "/share/tarnflash/Map/KV32S04_256K.KVmap", "/share/man/man1/tarnflash.1.gz",
          "/share/bash-completion/completions/tarnflash"}) {
        struct stat st {};
        EXPECT_EQ(stat((usr + path).c_str(), &st), 0) << path;
    }
    const ProgramRun help = RunProgram(usr + "/bin/tarnflash", {"-?"}, work.path());
    EXPECT_EQ(help.exitCode, 0) << help.out;
    EXPECT_NE(help.out.find(" Usage : "), std::string::npos) << help.out;
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
    WriteFile(work / "app.hex", IntelHex(image));

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
