#include "SimProcess.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace kvtest {

namespace {

// Value of "key": "value" in a one-line JSON object; empty when absent.
std::string jsonString(const std::string& line, const std::string& key) {
  const std::string tag = "\"" + key + "\"";
  size_t p = line.find(tag);
  if (p == std::string::npos) return {};
  p = line.find(':', p + tag.size());
  if (p == std::string::npos) return {};
  p = line.find('"', p);
  if (p == std::string::npos) return {};
  const size_t e = line.find('"', p + 1);
  if (e == std::string::npos) return {};
  return line.substr(p + 1, e - p - 1);
}

}  // namespace

std::string simBinary() { return KVTEST_SIM_BINARY; }
std::string mapDir() { return KVTEST_MAP_DIR; }

std::vector<std::string> refusedEveryTime(unsigned cmd, unsigned from) {
  std::vector<std::string> options;
  for (unsigned k = from; k < from + 4; ++k)
    options.insert(options.end(), {"--fault", "nack:" + std::to_string(cmd) + ":" + std::to_string(k)});
  return options;
}

SimProcess::~SimProcess() { stop(); }

bool SimProcess::start(const std::vector<std::string>& args) {
  stop();
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) return false;
  std::vector<std::string> all;
  all.push_back(simBinary());
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);

  const pid_t pid = fork();
  if (pid < 0) {
    close(out[0]);
    close(out[1]);
    return false;
  }
  if (pid == 0) {
    dup2(out[1], STDOUT_FILENO);
    // Nothing of the test's may stay open in the simulator: a terminal of
    // another simulator held here would never be seen closed by it.
    const long maxFd = sysconf(_SC_OPEN_MAX);
    for (int fd = 3; fd < (maxFd > 0 && maxFd < 65536 ? maxFd : 65536); ++fd) close(fd);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(out[1]);
  m_pid = pid;
  m_stdout = out[0];

  // The first line, within 5 s.
  std::string line;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (line.find('\n') == std::string::npos) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0) break;
    pollfd pfd{m_stdout, POLLIN, 0};
    const int r = poll(&pfd, 1, static_cast<int>(left));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    char buf[256];
    const ssize_t n = read(m_stdout, buf, sizeof buf);
    if (n <= 0) break;
    line.append(buf, static_cast<size_t>(n));
  }
  m_pty = jsonString(line, "pty");
  m_port = jsonString(line, "port");
  if (line.find('\n') == std::string::npos || m_pty.empty() || m_port.empty()) {
    stop();
    return false;
  }
  return true;
}

void SimProcess::stop() {
  if (m_pid > 0) {
    kill(m_pid, SIGTERM);
    int status = 0;
    bool done = false;
    for (int i = 0; i < 500 && !done; ++i) {
      const pid_t r = waitpid(m_pid, &status, WNOHANG);
      if (r == m_pid || (r < 0 && errno != EINTR)) done = true;
      else usleep(10000);
    }
    if (!done) {
      kill(m_pid, SIGKILL);
      waitpid(m_pid, &status, 0);
    }
    m_status = status;
    m_pid = -1;
  }
  if (m_stdout >= 0) {
    close(m_stdout);
    m_stdout = -1;
  }
  m_pty.clear();
  m_port.clear();
}

}  // namespace kvtest
