// A scratch working directory for catalogue and file tests: created empty,
// entered, and left and removed again when the object goes.
#ifndef KVTEST_TEMPMAPDIR_H
#define KVTEST_TEMPMAPDIR_H

#include <string>

class TempMapDir {
 public:
  TempMapDir();
  ~TempMapDir();
  const std::string& path() const { return m_dir; }
  // Writes a file below the scratch directory (folders are created).
  void write(const std::string& relPath, const std::string& content) const;
  std::string read(const std::string& relPath) const;
  std::string file(const std::string& relPath) const { return m_dir + "/" + relPath; }

 private:
  std::string m_dir;
  std::string m_oldCwd;
};

// Text of a map file with one sector run.
std::string MapText(const std::string& pid, const std::string& serial, const std::string& name, int perBit,
                    unsigned sectorSize, unsigned count, int packet = 252);

#endif
