// The program on lines as users have them, with kv32sim behind: a network
// bridge's pseudo-terminal (socat, reached through a by-id style link), a
// port two programs want at once, and an adapter pulled out mid-transfer.
#include <gtest/gtest.h>

#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "RunProgram.h"
#include "SimProcess.h"

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<char>;

struct Link {
  const char* sim;      // kv32sim's --link
  const char* connect;  // the program's connect command
};

const Link kLinks[] = {{"usart", "-com"}, {"i2c", "-i2c"}, {"spi", "-spi"}, {"can", "-can"}};

void PrintTo(const Link& l, std::ostream* os) { *os << l.sim; }
std::string NameOf(const ::testing::TestParamInfo<Link>& i) { return i.param.sim; }

class Folder {
 public:
  // digitFree: the path holds no digit, so that the first number of a name
  // in it is the name's own.
  explicit Folder(bool digitFree = false) {
    for (int attempt = 0; attempt < 100 && m_path.empty(); ++attempt) {
      char templ[] = "/tmp/kvrealline-XXXXXX";
      const char* made = mkdtemp(templ);
      if (!made) break;
      m_path = made;
      if (digitFree && m_path.find_first_of("0123456789") != std::string::npos) {
        rmdir(made);
        m_path.clear();
      }
    }
  }
  ~Folder() {
    for (const std::string& name : Names()) std::remove(Path(name).c_str());
    rmdir(m_path.c_str());
  }
  std::string Path(const std::string& name) const { return m_path + "/" + name; }
  std::set<std::string> Names() const {
    std::set<std::string> names;
    if (DIR* d = opendir(m_path.c_str())) {
      while (dirent* e = readdir(d))
        if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") names.insert(e->d_name);
      closedir(d);
    }
    return names;
  }
  const std::string& path() const { return m_path; }

 private:
  std::string m_path;
};

Bytes Image(size_t n, unsigned seed) {
  Bytes b(n);
  unsigned x = seed * 2654435761u + 1;
  for (char& c : b) c = static_cast<char>((x = x * 1103515245u + 12345u) >> 16);
  return b;
}

void Write(const std::string& path, const Bytes& b) {
  std::ofstream(path, std::ios::binary).write(b.data(), static_cast<std::streamsize>(b.size()));
}

Bytes Read(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

std::string Found(const char* program) {
  for (const char* dir : {"/usr/bin/", "/bin/", "/usr/local/bin/"}) {
    const std::string p = std::string(dir) + program;
    if (access(p.c_str(), X_OK) == 0) return p;
  }
  return std::string();
}

// socat between the simulator's terminal and a pseudo-terminal of its own,
// as a network serial client makes one; the program is given a symbolic link
// to it named like a USB adapter's stable name.
class Bridge {
 public:
  ~Bridge() {
    if (m_pid > 0) {
      kill(m_pid, SIGTERM);
      waitpid(m_pid, nullptr, 0);
    }
  }
  ::testing::AssertionResult Start(const std::string& simTerminal, const std::string& link) {
    const std::string socat = Found("socat");
    if (socat.empty()) return ::testing::AssertionFailure() << "socat is missing (scripts/setup installs it)";
    const std::string near = "PTY,link=" + link + ",raw,echo=0";
    const std::string far = simTerminal + ",raw,echo=0";
    m_pid = fork();
    if (m_pid < 0) return ::testing::AssertionFailure() << "fork";
    if (m_pid == 0) {
      const long maxFd = sysconf(_SC_OPEN_MAX);
      for (int fd = 3; fd < (maxFd > 0 && maxFd < 65536 ? maxFd : 65536); ++fd) close(fd);
      execl(socat.c_str(), socat.c_str(), near.c_str(), far.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    for (int i = 0; i < 500; ++i) {
      struct stat st;
      if (stat(link.c_str(), &st) == 0) return ::testing::AssertionSuccess();
      usleep(10000);
    }
    return ::testing::AssertionFailure() << "socat made no terminal";
  }

 private:
  pid_t m_pid = -1;
};

// What a network serial client or ser2net users meet: every run reopens the
// bridge's terminal, which keeps what the previous run set, and a full path
// through a symbolic link names the port (its name holds 2102 before its end,
// which is no port number).
class BridgedLine : public ::testing::TestWithParam<Link> {
 protected:
  void SetUp() override {
    ASSERT_FALSE(m_folder.path().empty());
    ASSERT_TRUE(m_sim.start({"--link", GetParam().sim, "--map", kvtest::mapDir(), "--dump", m_folder.Path("dump.bin")}));
    m_port = m_folder.Path("usb-Silicon_Labs_CP2102_USB_to_UART_Bridge_Controller_0001-if00-port0");
    ASSERT_TRUE(m_bridge.Start(m_sim.ptyPath(), m_port));
  }
  ProgramRun Run(std::vector<std::string> commands) {
    commands.insert(commands.begin(), {GetParam().connect, "--pn", m_port});
    return RunProgram(TARNFLASH_BINARY, commands, m_folder.path(), 60);
  }

  Folder m_folder{true};
  kvtest::SimProcess m_sim;
  Bridge m_bridge;
  std::string m_port;
};

TEST_P(BridgedLine, ThreeRunsInARow) {
  const Bytes first = Image(3000, 1), second = Image(5000, 2);
  Write(m_folder.Path("first.bin"), first);
  Write(m_folder.Path("second.bin"), second);
  ProgramRun run = Run({"-d", "--fn", "./first.bin", "--v"});
  ASSERT_EQ(0, run.exitCode) << run.out << run.err;
  run = Run({"-d", "--fn", "./second.bin", "--v"});
  ASSERT_EQ(0, run.exitCode) << run.out << run.err;
  run = Run({"-u", "--sec", "0-2", "--fn", "./back.bin"});
  ASSERT_EQ(0, run.exitCode) << run.out << run.err;
  const Bytes back = Read(m_folder.Path("back.bin"));
  ASSERT_GE(back.size(), second.size());
  EXPECT_TRUE(std::equal(second.begin(), second.end(), back.begin()));
}

INSTANTIATE_TEST_SUITE_P(Bridged, BridgedLine, ::testing::ValuesIn(kLinks), NameOf);

// Switching read protection on and off reopens the bridge's terminal in the
// middle of a run: both reconnects must work, and the unprotect really erased
// the chip.
TEST(BridgedReconnect, ProtectionOnAndOffThroughTheBridge) {
  Folder folder;
  kvtest::SimProcess sim;
  ASSERT_TRUE(sim.start({"--link", "can", "--map", kvtest::mapDir()}));
  const std::string port = folder.Path("ttyV0");
  Bridge bridge;
  ASSERT_TRUE(bridge.Start(sim.ptyPath(), port));
  Write(folder.Path("app.bin"), Image(2048, 3));
  for (const std::vector<std::string>& commands :
       {std::vector<std::string>{"-d", "--fn", "./app.bin", "-p", "--efap"}, {"-p", "--dfap"},
        {"-u", "--sec", "0-0", "--fn", "./back.bin"}}) {
    std::vector<std::string> args = {"-can", "--pn", port};
    args.insert(args.end(), commands.begin(), commands.end());
    const ProgramRun run = RunProgram(TARNFLASH_BINARY, args, folder.path(), 60);
    ASSERT_EQ(0, run.exitCode) << commands[0] << " " << commands[1] << "\n" << run.out << run.err;
  }
  EXPECT_EQ(Bytes(2048, '\xFF'), Read(folder.Path("back.bin")));
}

// A second program started during a download is refused before it sends a
// byte; the first finishes with the chip equal to its image.
TEST(SharedPort, TheSecondProgramIsRefused) {
  Folder folder;
  const Bytes image = Image(32 * 1024, 4);  // about 7 s at 115200: time for the second program
  Write(folder.Path("app.bin"), image);
  kvtest::SimProcess sim;
  ASSERT_TRUE(sim.start({"--link", "usart", "--map", kvtest::mapDir(), "--baud", "115200", "--log",
                         folder.Path("sim.log"), "--dump", folder.Path("dump.bin")}));
  ProgramRun first;
  std::thread download([&] {
    first = RunProgram(TARNFLASH_BINARY, {"-com", "--pn", sim.portName(), "-d", "--fn", "./app.bin", "--v"},
                       folder.path(), 60);
  });
  // Until the first program has started the bootloader.
  bool started = false;
  for (int i = 0; i < 1000 && !started; ++i) {
    std::ifstream log(folder.Path("sim.log"));
    started = std::string(std::istreambuf_iterator<char>(log), std::istreambuf_iterator<char>())
                  .find("bootloader started") != std::string::npos;
    if (!started) usleep(10000);
  }
  const ProgramRun second =
      RunProgram(TARNFLASH_BINARY, {"-com", "--pn", sim.portName(), "-e", "--all"}, folder.path(), 60);
  download.join();
  ASSERT_TRUE(started);
  EXPECT_EQ(2, second.exitCode) << second.out;
  EXPECT_NE(std::string::npos, second.out.find(
      "Cannot open the com port, the port not exist or may be used by another application\n"));
  EXPECT_EQ("Open serial port failed(" + sim.ptyPath() + "): the port is in use by another program\n", second.err);
  EXPECT_EQ(0, first.exitCode) << first.out << first.err;
  sim.stop();
  const Bytes dump = Read(folder.Path("dump.bin"));
  ASSERT_GE(dump.size(), image.size());
  EXPECT_TRUE(std::equal(image.begin(), image.end(), dump.begin()));
}

struct Unplug {
  Link link;
  bool upload;
  unsigned atByte;  // of the bytes from the host: past the connect, within the transfer
};

void PrintTo(const Unplug& u, std::ostream* os) { *os << u.link.sim << (u.upload ? " upload" : " download"); }

class UnpluggedAdapter : public ::testing::TestWithParam<Unplug> {};

// The adapter goes away in the middle of the transfer: the command fails
// with its exit code soon after (a wait for the time-out, once per retry,
// would take 5 s each), claims no success, and an upload leaves the file of
// that name as it was, with nothing beside it.
TEST_P(UnpluggedAdapter, TheCommandFailsAtOnce) {
  const Unplug& u = GetParam();
  Folder folder;
  Write(folder.Path("app.bin"), Image(32 * 1024, 5));
  Write(folder.Path("up.bin"), Bytes{'k', 'e', 'p', 't'});
  kvtest::SimProcess sim;
  ASSERT_TRUE(sim.start({"--link", u.link.sim, "--map", kvtest::mapDir(), "--fault",
                         "unplug:" + std::to_string(u.atByte)}));
  const std::vector<std::string> command =
      u.upload ? std::vector<std::string>{"-u", "--sec", "0-15", "--fn", "./up.bin"}
               : std::vector<std::string>{"-d", "--fn", "./app.bin", "--v"};
  std::vector<std::string> args = {u.link.connect, "--pn", sim.portName()};
  args.insert(args.end(), command.begin(), command.end());

  ProgramRun run;
  Clock::time_point programEnd;
  std::thread program([&] {
    run = RunProgram(TARNFLASH_BINARY, args, folder.path(), 60);
    programEnd = Clock::now();
  });
  // The simulator stops as soon as its line has gone away.
  Clock::time_point unplugged;
  bool simEnded = false;
  for (int i = 0; i < 12000 && !simEnded; ++i) {
    simEnded = waitpid(sim.pid(), nullptr, WNOHANG) == sim.pid();
    unplugged = Clock::now();
    if (!simEnded) usleep(5000);
  }
  program.join();
  ASSERT_TRUE(simEnded) << "the line never went away\n" << run.out;
  EXPECT_LT(programEnd - unplugged, std::chrono::seconds(3)) << "the command sat out a time-out";
  EXPECT_EQ(u.upload ? 4 : 3, run.exitCode) << run.out << run.err;
  EXPECT_NE(std::string::npos, run.out.find("Running...")) << "the line went before the transfer";
  EXPECT_EQ(std::string::npos, run.out.find("successfully!")) << run.out;
  EXPECT_EQ((Bytes{'k', 'e', 'p', 't'}), Read(folder.Path("up.bin")));
  EXPECT_EQ((std::set<std::string>{"app.bin", "up.bin"}), folder.Names());
}

INSTANTIATE_TEST_SUITE_P(
    Lines, UnpluggedAdapter,
    ::testing::Values(Unplug{kLinks[0], false, 6000}, Unplug{kLinks[0], true, 600}, Unplug{kLinks[1], false, 6000},
                      Unplug{kLinks[1], true, 1500}, Unplug{kLinks[2], false, 6000}, Unplug{kLinks[2], true, 3000},
                      Unplug{kLinks[3], false, 6000}, Unplug{kLinks[3], true, 3000}),
    [](const ::testing::TestParamInfo<Unplug>& i) {
      return std::string(i.param.link.sim) + (i.param.upload ? "_upload" : "_download");
    });

}  // namespace
