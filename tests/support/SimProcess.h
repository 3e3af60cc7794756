// Runs one kv32sim process for a test and tells where its terminal is.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace kvtest {

// One running kv32sim. start() launches it with the given arguments and waits
// (at most 5 s) for the JSON line that names its pseudo-terminal.
class SimProcess {
 public:
  SimProcess() = default;
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;
  ~SimProcess();  // stops it

  // Runs kv32sim ARGS; false when it does not start or prints no terminal.
  bool start(const std::vector<std::string>& args);
  // SIGTERM, then waits for the exit (SIGKILL after 5 s).
  void stop();

  const std::string& ptyPath() const { return m_pty; }    // "/dev/pts/7"
  const std::string& portName() const { return m_port; }  // "pts/7"
  pid_t pid() const { return m_pid; }
  // Exit status of the last stopped process (waitpid form), -1 if none.
  int exitStatus() const { return m_status; }

 private:
  pid_t m_pid = -1;
  int m_stdout = -1;
  int m_status = -1;
  std::string m_pty;
  std::string m_port;
};

std::string simBinary();  // path of the built kv32sim
std::string mapDir();     // the source tree's Map/ folder

// kv32sim options refusing occurrence `from` of command `cmd` at its first
// acknowledge, and every time the command layer sends it again (3 repeats):
// a refusal that lasts.
std::vector<std::string> refusedEveryTime(unsigned cmd, unsigned from = 1);

}  // namespace kvtest
