#include "TempMapDir.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

TempMapDir::TempMapDir() {
  char cwd[4096];
  if (getcwd(cwd, sizeof cwd)) m_oldCwd = cwd;
  char templ[] = "/tmp/kvcatXXXXXX";
  const char* d = mkdtemp(templ);
  EXPECT_NE(d, nullptr);
  m_dir = d ? d : "/tmp";
  EXPECT_EQ(chdir(m_dir.c_str()), 0);
}

TempMapDir::~TempMapDir() {
  if (!m_oldCwd.empty() && chdir(m_oldCwd.c_str()) != 0) std::perror("chdir");
  std::string cmd = "rm -rf '" + m_dir + "'";
  if (m_dir.rfind("/tmp/kvcat", 0) == 0 && std::system(cmd.c_str()) != 0) std::perror("rm");
}

void TempMapDir::write(const std::string& relPath, const std::string& content) const {
  std::string full = file(relPath);
  std::string dir = full.substr(0, full.find_last_of('/'));
  std::string cmd = "mkdir -p '" + dir + "'";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  std::ofstream out(full, std::ios::binary);
  out << content;
  ASSERT_TRUE(out.good());
}

std::string TempMapDir::read(const std::string& relPath) const {
  std::ifstream in(file(relPath), std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string MapText(const std::string& pid, const std::string& serial, const std::string& name, int perBit,
                    unsigned sectorSize, unsigned count, int packet) {
  char run[128];
  std::snprintf(run, sizeof run, "[Sector0]\nAddress=0x08000000\nSize=0x%X\nCount=%u\n", sectorSize, count);
  return "[Product]\nPID=" + pid + "\nSerial=" + serial + "\nName=" + name +
         "\nSectorsPerSector=" + std::to_string(perBit) + "\nPacketSize=" + std::to_string(packet) + "\n\n" + run;
}
