// What the tests of the installed tree and of the Debian packages share: the
// layout `cmake --install` must produce, component by component (each
// component is one package), and small helpers around files, shell commands
// and ELF files.
#ifndef TARNFLASH_TESTS_INSTALLTEST_H
#define TARNFLASH_TESTS_INSTALLTEST_H

#include <map>
#include <set>
#include <string>
#include <vector>

namespace installtest {

// INSTALL_PREFIX + "/" + relative
std::string Installed(const std::string& relative);

std::string ReadText(const std::string& path);
void WriteText(const std::string& path, const std::string& text);
// Names in a folder (not recursive) ending in suffix.
std::set<std::string> DirectoryEntries(const std::string& path, const std::string& suffix = "");
// Every file and symbolic link under root, as paths relative to it.
std::set<std::string> FilesUnder(const std::string& root);
std::vector<std::string> Lines(const std::string& text);
std::string RealPath(const std::string& path);
// Single-quoted for the shell.
std::string Quote(const std::string& text);

// Standard output and error of a shell command; its exit status goes to
// *status (-1 when it did not exit normally).
std::string Capture(const std::string& command, int* status = nullptr);

// A scratch folder per test, removed afterwards.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    std::string operator/(const std::string& name) const { return m_path + "/" + name; }
    const std::string& path() const { return m_path; }

private:
    std::string m_path;
};

// ---- ELF files ---------------------------------------------------------------
bool IsElf(const std::string& path);
// The entries of the RUNPATH or RPATH; none when there is neither.
std::vector<std::string> SearchPath(const std::string& path);
// Dynamic symbols the file takes from others.
std::set<std::string> UndefinedSymbols(const std::string& path);

// ---- the layout ----------------------------------------------------------------
// The protocol libraries and libFiles, by file name stem ("KVBLLIB", ...).
const std::vector<std::string>& LibraryNames();
// Component ("program", "libraries", "development", "simulator") -> its
// Debian package name.
const std::map<std::string, std::string>& PackageOf();
// The files (and links) each component installs, relative to the prefix.
std::map<std::string, std::set<std::string>> ExpectedLayout();

}  // namespace installtest

#endif
