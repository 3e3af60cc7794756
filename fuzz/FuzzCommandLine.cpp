// The command-line walk with random argument vectors. The input is split at
// newlines into arguments. Port names are replaced by one that does not
// exist and file names (the production log's too) are kept inside a scratch
// folder, so that a run never touches a real terminal or a file of the
// machine; everything else reaches the walk as it came. The walk must end with one of its exit codes
// and leave no connection behind.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "FuzzEntries.h"
#include "cli/Handlers.h"

namespace {

const int kExitCodes[] = {0, 1, 2, 3, 4, 6, 7, 8, 12, 32, 33, 34, 35, 36, 48, 49, 51, 64};

const std::string& ScratchFolder() {
  static const std::string folder = [] {
    std::string f = "/tmp/kvfuzz-cli-" + std::to_string(getpid());
    mkdir(f.c_str(), 0700);
    // A few files for the file options to find.
    const char hex[] = ":0400000001020304F2\n:00000001FF\n";
    const std::pair<const char*, std::string> files[] = {
        {"/a.hex", hex}, {"/a.bin", std::string(64, '\x5A')}, {"/a.KVTP", std::string(38, '\0')}};
    for (const auto& file : files) {
      FILE* out = std::fopen((f + file.first).c_str(), "wb");
      if (out) {
        std::fwrite(file.second.data(), 1, file.second.size(), out);
        std::fclose(out);
      }
    }
    return f;
  }();
  return folder;
}

void EnsureApplication() {
  static int argc = 1;
  static char name[] = "tarnflash";
  static char* argv[] = {name, nullptr};
  static QCoreApplication* app = QCoreApplication::instance() ? nullptr : new QCoreApplication(argc, argv);
  (void)app;
}

std::string Lower(std::string text) {
  for (char& c : text) c = char(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::vector<std::string> Arguments(const uint8_t* data, size_t size) {
  std::vector<std::string> args(1);
  for (size_t i = 0; i < size && args.size() <= 64; ++i) {
    if (data[i] == '\n')
      args.emplace_back();
    else
      args.back() += char(data[i]);
  }
  // The program sees each argument up to its first NUL: so must the
  // replacements below, or "--log\0x" would let a log name through.
  for (std::string& a : args) a.resize(std::strlen(a.c_str()));
  for (size_t i = 0; i + 1 < args.size(); ++i) {
    if (args[i] == "--pn") {
      args[i + 1] = "kvfuzz-no-such-port";
    } else if (args[i] == "--fn" || Lower(args[i]) == "--log") {
      std::string base = args[i + 1];
      for (char& c : base)
        if (c == '/') c = '_';
      args[i + 1] = ScratchFolder() + "/" + base.substr(0, 64);
    }
  }
  return args;
}

}  // namespace

int FuzzCommandLine(const uint8_t* data, size_t size) {
  EnsureApplication();
  std::vector<std::string> args = Arguments(data, size);
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(&a[0]);
  argv.push_back(nullptr);

  // The program's console output is not what is tested here.
  std::fflush(stdout);
  const int saved = dup(1);
  const int null = open("/dev/null", O_WRONLY);
  dup2(null, 1);
  const int code = RunCommandLine(int(args.size()), argv.data());
  std::fflush(stdout);
  dup2(saved, 1);
  close(saved);
  close(null);

  bool known = false;
  for (int c : kExitCodes) known = known || c == code;
  FuzzCheck(known, "an exit code of the walk");
  FuzzCheck(m_obCCom == nullptr, "the connection is gone after the walk");
  return 0;
}
