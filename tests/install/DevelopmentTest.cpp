// The development files as a developer uses them, against the installed tree:
// the headers compile as C99 and C++17 and declare only what their library
// exports, every pkg-config file and every imported target of the CMake
// package builds a program that runs, and the example client, built through
// pkg-config and through find_package, reads the simulated chip.

#include "InstallTest.h"
#include "SimProcess.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <regex>
#include <set>
#include <string>
#include <vector>

namespace {

using namespace installtest;

const std::string kInclude = Installed(INSTALL_INCLUDEDIR);
const std::string kLibDir = Installed(INSTALL_LIBDIR);
const std::string kPkgConfig =
    "PKG_CONFIG_PATH=" + Quote(kLibDir + "/pkgconfig") + " PKG_CONFIG_LIBDIR= " PKG_CONFIG_COMMAND;
const std::string kWarnings = "-Wall -Wextra -Werror";

// Compiles (and links, without -c) source as C or C++ with the given flags.
std::string Compile(const ScratchDir& work, const std::string& name, const std::string& source, bool cxx,
                    const std::string& flags, int* status)
{
    const std::string file = work / (name + (cxx ? ".cpp" : ".c"));
    WriteText(file, source);
    const std::string compiler = cxx ? CXX_COMPILER " -std=c++17" : C_COMPILER " -std=c99";
    return Capture(compiler + " " + kWarnings + " " SANITIZER_FLAGS " " + Quote(file) + " " + flags, status);
}

TEST(Development, HeadersCompileAsCAndAsCxx)
{
    ScratchDir work;
    const std::string include = "-fsyntax-only -I" + Quote(kInclude);
    for (const char* header :
         {"KVBL.h", "KVBLAckValue.h", "KVBLLIB.h", "KVI2CBL.h", "KVSPIBL.h", "KVCANBL.h", "Files.h"}) {
        const std::string source = std::string("#include <kvbl/") + header + ">\n";
        int status = -1;
        std::string log = Compile(work, "cxx", source, true, include, &status);
        EXPECT_EQ(status, 0) << header << " as C++:\n" << log;
        log = Compile(work, "c", source, false, include, &status);
        if (std::string(header) == "Files.h") {
            // libFiles is C++; its header says so to a C compiler.
            EXPECT_NE(status, 0) << header;
            EXPECT_NE(log.find("include it from C++"), std::string::npos) << log;
        } else {
            EXPECT_EQ(status, 0) << header << " as C:\n" << log;
        }
    }
}

// Every function and data object a library's headers declare is exported by
// that library (a program using it links), and every C name the library
// exports is declared in them.
TEST(Development, HeadersDeclareWhatTheirLibraryExports)
{
    struct Case {
        std::string library;
        std::vector<std::string> headers;
        std::set<std::string> undeclared;  // exported for a transport another header declares
    };
    const Case cases[] = {
        {"KVBLLIB", {"KVBL.h", "KVBLAckValue.h", "KVBLLIB.h"}, {"DELAY_MUTIPLE", "g_bEnableSlib"}},
        {"KVI2CBLLIB", {"KVBL.h", "KVBLAckValue.h", "KVI2CBL.h"}, {}},
        {"KVSPIBLLIB", {"KVBL.h", "KVSPIBL.h"}, {}},
        {"KVCANBLLIB", {"KVBL.h", "KVBLAckValue.h", "KVCANBL.h"}, {}},
        {"Files", {"Files.h"}, {}},
    };
    // Declarations start a line with the export macro, their name on it:
    // "KVBL_API BYTE name(...", "KVBL_API extern const WORD name;".
    const std::regex name(R"((\w+)\s*[(;\[])");
    for (const Case& c : cases) {
        std::set<std::string> declared;
        for (const std::string& header : c.headers)
            for (const std::string& line : Lines(ReadText(kInclude + "/kvbl/" + header))) {
                std::smatch m;
                if ((line.rfind("KVBL_API ", 0) == 0 || line.rfind("FILES_API ", 0) == 0) &&
                    std::regex_search(line, m, name))
                    declared.insert(m[1]);
            }
        ASSERT_GT(declared.size(), 5u) << c.library;
        std::set<std::string> exported;  // C names whole, C++ names up to "("
        const std::string library = kLibDir + "/lib" + c.library + ".so." LIBRARY_SOVERSION;
        for (const std::string& line : Lines(Capture("nm -DC --defined-only " + Quote(library)))) {
            const size_t name = line.find(' ', line.find(' ') + 1) + 1;
            exported.insert(line.substr(name, line.find('(', name) - name));
        }
        for (const std::string& name : declared)
            EXPECT_EQ(exported.count(name), 1u) << "lib" << c.library << " does not export " << name;
        if (c.library == "Files")
            continue;  // its exports are C++ names and library internals
        for (const std::string& line : Lines(Capture("nm -D --defined-only " + Quote(library)))) {
            const std::string name = line.substr(line.rfind(' ') + 1);
            if (name.rfind("_Z", 0) != 0 && !c.undeclared.count(name)) {
                EXPECT_EQ(declared.count(name), 1u) << "lib" << c.library << " exports undeclared " << name;
            }
        }
    }
}

// One small program per library, using what only that library's header
// declares; run, each exits with 0.
struct Client {
    const char* target;   // the CMake target (KVBL::<target>)
    const char* module;   // the pkg-config file
    bool cxx;
    const char* source;
};

const Client kClients[] = {
    {"KVBLLIB", "kvbllib", false,
     "#include <kvbl/KVBLLIB.h>\n"
     "int main(void) {\n"
     "  BYTE sectors[1] = {0};\n"
     "  return KVBL_ERASEPROGRAM_PROTECT(NULL, 1, sectors, 0) == NO_CON_AVAILABLE && GetAckValue() == ST79 ? 0 : 1;\n"
     "}\n"},
    {"KVI2CBLLIB", "kvi2cbllib", false,
     "#include <kvbl/KVI2CBL.h>\n"
     "int main(void) {\n"
     "  BYTE sectors[1] = {0};\n"
     "  return KVBL_ERASEPROGRAM_PROTECT(NULL, 1, sectors) == NO_CON_AVAILABLE && I2C_FRAME_LENGTH == 60 ? 0 : 1;\n"
     "}\n"},
    {"KVSPIBLLIB", "kvspibllib", false,
     "#include <kvbl/KVSPIBL.h>\n"
     "int main(void) {\n"
     "  HANDLE h = NULL;\n"
     "  char name[] = \"ttyKV\";\n"
     "  return SetCOMSettings(&h, 3, name, 115200, 8, 2, 1.0f) == SUCCESS && DELAY_MUTIPLE == 60 &&\n"
     "         !g_bEnableSlib ? 0 : 1;\n"
     "}\n"},
    {"KVCANBLLIB", "kvcanbllib", true,
     "#include <kvbl/KVCANBL.h>\n"
     "int main() { return CAN_Analyse_Result(0xFD) == CAN_DEVICE_BUSY && CAN_FRAME_LENGTH == 8 ? 0 : 1; }\n"},
    {"Files", "libfiles", true,
     "#include <kvbl/Files.h>\n"
     "int main() { return FILES_GetFileKind(\"dir/app.HEX\") == FILES_KIND_HEX ? 0 : 1; }\n"},
};

TEST(Development, EveryPkgConfigFileBuildsItsLibrarysClient)
{
    ScratchDir work;
    for (const Client& client : kClients) {
        int status = -1;
        const std::string version = Capture(kPkgConfig + " --modversion " + client.module, &status);
        ASSERT_EQ(status, 0) << client.module << ": " << version;
        EXPECT_EQ(version, PROJECT_VERSION_TEXT "\n") << client.module;
        const std::string flags = Capture(kPkgConfig + " --cflags --libs " + client.module, &status);
        ASSERT_EQ(status, 0) << flags;
        const std::string program = work / client.module;
        const std::string log =
            Compile(work, client.module, client.source, client.cxx, "-o " + Quote(program) + " " + flags, &status);
        ASSERT_EQ(status, 0) << client.module << ":\n" << log;
        Capture("LD_LIBRARY_PATH=" + Quote(kLibDir) + " " + Quote(program), &status);
        EXPECT_EQ(status, 0) << client.module;
    }
}

TEST(Development, EveryImportedTargetBuildsItsLibrarysClient)
{
    ScratchDir work;
    std::string lists =
        "cmake_minimum_required(VERSION 3.16)\nproject(clients C CXX)\n"
        "find_package(KVBL " PROJECT_VERSION_TEXT " EXACT CONFIG REQUIRED)\n";
    for (const Client& client : kClients) {
        const std::string file = std::string(client.module) + (client.cxx ? ".cpp" : ".c");
        WriteText(work / file, client.source);
        lists += std::string("add_executable(") + client.module + " " + file + ")\n" +
                 "target_link_libraries(" + client.module + " PRIVATE KVBL::" + client.target + ")\n";
    }
    WriteText(work / "CMakeLists.txt", lists);
    int status = -1;
    std::string log = Capture(CMAKE_COMMAND " -S " + Quote(work.path()) + " -B " + Quote(work / "build") +
                                  " -DCMAKE_PREFIX_PATH=" + Quote(INSTALL_PREFIX) +
                                  " -DCMAKE_C_COMPILER=" C_COMPILER " -DCMAKE_CXX_COMPILER=" CXX_COMPILER
                                  " -DCMAKE_C_STANDARD=99 -DCMAKE_CXX_STANDARD=17"
                                  " '-DCMAKE_C_FLAGS=" + kWarnings + " " SANITIZER_FLAGS "'"
                                  " '-DCMAKE_CXX_FLAGS=" + kWarnings + " " SANITIZER_FLAGS "'",
                              &status);
    ASSERT_EQ(status, 0) << log;
    log = Capture(CMAKE_COMMAND " --build " + Quote(work / "build"), &status);
    ASSERT_EQ(status, 0) << log;
    for (const Client& client : kClients) {
        // The imported targets bring the prefix's library folder as the search path.
        Capture(Quote(work / ("build/" + std::string(client.module))), &status);
        EXPECT_EQ(status, 0) << client.module;
    }
}

// The example client of libkvbl-dev, built both ways from its installed
// copy, connects to the installed simulator, identifies the chip and prints
// 256 bytes of flash: the bytes the chip holds.
TEST(Development, ExampleBuildsBothWaysAndReadsTheChip)
{
    ScratchDir work;
    const std::string examples = Installed(std::string(INSTALL_DATADIR) + "/doc/libkvbl-dev/examples");
    int status = -1;
    std::string log = Capture(C_COMPILER " -std=c99 " + kWarnings + " " SANITIZER_FLAGS " " +
                                  Quote(examples + "/kvbl-read.c") + " -o " + Quote(work / "kvbl-read-pc") +
                                  " $(" + kPkgConfig + " --cflags --libs kvbllib)",
                              &status);
    ASSERT_EQ(status, 0) << log;
    log = Capture(CMAKE_COMMAND " -S " + Quote(examples) + " -B " + Quote(work / "build") +
                      " -DCMAKE_PREFIX_PATH=" + Quote(INSTALL_PREFIX) + " -DCMAKE_C_COMPILER=" C_COMPILER
                      " '-DCMAKE_C_FLAGS=" + kWarnings + " " SANITIZER_FLAGS "' && " CMAKE_COMMAND " --build " +
                      Quote(work / "build"),
                  &status);
    ASSERT_EQ(status, 0) << log;

    std::string flash(4096, '\0');
    for (size_t i = 0; i < flash.size(); ++i)
        flash[i] = static_cast<char>(i * 37 + 11);
    WriteText(work / "flash.bin", flash);
    std::string expected = "bootloader 3.1, identifier 02 41 70 04 04\n";
    const unsigned address = 0x08000100;
    for (unsigned row = 0; row < 256; row += 16) {
        char line[80];
        int n = std::snprintf(line, sizeof line, "%08X ", address + row);
        for (unsigned i = 0; i < 16; ++i)
            n += std::snprintf(line + n, sizeof line - n, " %02X",
                               static_cast<unsigned char>(flash[address - 0x08000000 + row + i]));
        expected += std::string(line) + "\n";
    }

    const std::string builds[] = {"LD_LIBRARY_PATH=" + Quote(kLibDir) + " " + Quote(work / "kvbl-read-pc"),
                                  Quote(work / "build/kvbl-read")};
    for (const std::string& program : builds) {
        kvtest::SimProcess sim;
        ASSERT_TRUE(sim.start({"--link", "usart", "--load-flash", work / "flash.bin"}));
        const std::string out = Capture(program + " " + sim.portName() + " 0x08000100", &status);
        sim.stop();
        EXPECT_EQ(status, 0) << program << "\n" << out;
        EXPECT_EQ(out, expected) << program;
    }
}

}  // namespace
