#include "InstallTest.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <filesystem>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

namespace installtest {

std::string Installed(const std::string& relative)
{
    return std::string(INSTALL_PREFIX) + "/" + relative;
}

std::string ReadText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteText(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary);
    out << text;
}

std::set<std::string> DirectoryEntries(const std::string& path, const std::string& suffix)
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

namespace {

void Walk(const std::string& root, const std::string& relative, std::set<std::string>* out)
{
    for (const std::string& name : DirectoryEntries(root + "/" + relative)) {
        const std::string path = relative.empty() ? name : relative + "/" + name;
        struct stat st {};
        if (lstat((root + "/" + path).c_str(), &st) != 0)
            continue;
        if (S_ISDIR(st.st_mode))
            Walk(root, path, out);
        else
            out->insert(path);
    }
}

}  // namespace

std::set<std::string> FilesUnder(const std::string& root)
{
    std::set<std::string> files;
    Walk(root, "", &files);
    return files;
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line))
        lines.push_back(line);
    return lines;
}

std::string RealPath(const std::string& path)
{
    char buffer[PATH_MAX];
    return realpath(path.c_str(), buffer) ? std::string(buffer) : path;
}

std::string Quote(const std::string& text)
{
    std::string out = "'";
    for (char c : text)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

std::string Capture(const std::string& command, int* status)
{
    std::string out;
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
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

ScratchDir::ScratchDir()
{
    char templ[] = "/tmp/tarnflash-install-XXXXXX";
    const char* made = mkdtemp(templ);
    m_path = made ? made : "";
}

ScratchDir::~ScratchDir()
{
    std::error_code ignored;
    if (!m_path.empty())
        std::filesystem::remove_all(m_path, ignored);
}

bool IsElf(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    char magic[4] = {};
    in.read(magic, 4);
    return in && magic[0] == 0x7F && magic[1] == 'E' && magic[2] == 'L' && magic[3] == 'F';
}

std::vector<std::string> SearchPath(const std::string& path)
{
    std::vector<std::string> entries;
    for (const std::string& line : Lines(Capture("readelf -dW " + Quote(path)))) {
        const bool runpath = line.find("(RUNPATH)") != std::string::npos;
        if (!runpath && line.find("(RPATH)") == std::string::npos)
            continue;
        const size_t open = line.find('[');
        const size_t close = line.rfind(']');
        if (open == std::string::npos || close == std::string::npos)
            continue;
        // Split at ':' keeping empty entries: they are what must not be.
        std::string list = line.substr(open + 1, close - open - 1);
        size_t from = 0;
        for (;;) {
            const size_t colon = list.find(':', from);
            entries.push_back(list.substr(from, colon - from));
            if (colon == std::string::npos)
                break;
            from = colon + 1;
        }
    }
    return entries;
}

std::set<std::string> UndefinedSymbols(const std::string& path)
{
    std::set<std::string> symbols;
    for (const std::string& line : Lines(Capture("nm -D --undefined-only " + Quote(path)))) {
        std::istringstream fields(line);
        std::string type, name;
        fields >> type >> name;
        symbols.insert(name.substr(0, name.find('@')));
    }
    return symbols;
}

const std::vector<std::string>& LibraryNames()
{
    static const std::vector<std::string> names = {"KVBLLIB", "KVI2CBLLIB", "KVSPIBLLIB", "KVCANBLLIB",
                                                   "Files"};
    return names;
}

const std::map<std::string, std::string>& PackageOf()
{
    static const std::map<std::string, std::string> packages = {{"program", "tarnflash"},
                                                                {"libraries", "libkvbl1"},
                                                                {"development", "libkvbl-dev"},
                                                                {"simulator", "kv32sim"}};
    return packages;
}

std::map<std::string, std::set<std::string>> ExpectedLayout()
{
    const std::string bin = INSTALL_BINDIR, lib = INSTALL_LIBDIR, share = INSTALL_DATADIR;
    const std::string man = std::string(INSTALL_MANDIR) + "/man1/";
    std::map<std::string, std::set<std::string>> layout;
    for (const auto& [component, package] : PackageOf()) {
        layout[component].insert(share + "/doc/" + package + "/copyright");
        layout[component].insert(share + "/doc/" + package + "/changelog.gz");
    }

    auto& program = layout["program"];
    program.insert({bin + "/tarnflash", man + "tarnflash.1.gz",
                    share + "/bash-completion/completions/tarnflash",
                    share + "/doc/tarnflash/README.md", "lib/udev/rules.d/70-tarnflash-kv32-dfu.rules"});
    for (const std::string& map : DirectoryEntries(SOURCE_DIR "/Map", ".KVmap"))
        program.insert(share + "/tarnflash/Map/" + map);
    for (const std::string& doc : DirectoryEntries(SOURCE_DIR "/docs", ".md"))
        if (doc != "simulator.md")
            program.insert(share + "/doc/tarnflash/" + doc);

    auto& simulator = layout["simulator"];
    simulator.insert({bin + "/kv32sim", man + "kv32sim.1.gz", share + "/doc/kv32sim/simulator.md"});

    auto& development = layout["development"];
    for (const char* header :
         {"KVBL.h", "KVBLAckValue.h", "KVBLLIB.h", "KVI2CBL.h", "KVSPIBL.h", "KVCANBL.h", "Files.h"})
        development.insert(std::string(INSTALL_INCLUDEDIR) + "/kvbl/" + header);
    for (const char* pc : {"kvbllib", "kvi2cbllib", "kvspibllib", "kvcanbllib", "libfiles"})
        development.insert(lib + "/pkgconfig/" + pc + ".pc");
    for (const std::string& file : {std::string("KVBLConfig.cmake"), std::string("KVBLConfigVersion.cmake"),
                                    std::string("KVBLTargets.cmake"),
                                    "KVBLTargets-" + std::string(BUILD_CONFIG) + ".cmake"})
        development.insert(lib + "/cmake/KVBL/" + file);
    development.insert({share + "/doc/libkvbl-dev/examples/kvbl-read.c",
                        share + "/doc/libkvbl-dev/examples/CMakeLists.txt"});

    for (const std::string& name : LibraryNames()) {
        const std::string so = lib + "/lib" + name + ".so";
        development.insert(so);
        layout["libraries"].insert({so + "." LIBRARY_SOVERSION, so + "." LIBRARY_VERSION});
    }
    return layout;
}

}  // namespace installtest
