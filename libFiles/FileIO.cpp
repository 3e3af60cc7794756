#include "FileIO.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "Files.h"
#include "LastError.h"

namespace libfiles {

unsigned int FileIO::readAll(const std::string& path, std::string& out, unsigned long maxBytes) {
  out.clear();
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    setError(std::strerror(errno));
    return FILES_UNABLETOOPENFILE;
  }
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    setError("not a regular file");
    ::close(fd);
    return FILES_UNABLETOOPENFILE;
  }
  if (st.st_size < 0 || static_cast<unsigned long>(st.st_size) > maxBytes) {
    setError("larger than " + std::to_string(maxBytes) + " bytes");
    ::close(fd);
    return FILES_BADFORMAT;
  }
  out.resize(size_t(st.st_size));
  size_t got = 0;
  while (got < out.size()) {
    ssize_t n = ::read(fd, &out[got], out.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += size_t(n);
  }
  // A file that shrank while being read is taken as it was read; one that
  // could not be read at all is an error.
  char extra;
  bool grew = got == out.size() && ::read(fd, &extra, 1) > 0;
  ::close(fd);
  if (grew) {
    setError("the file grew while it was read");
    return FILES_BADFORMAT;
  }
  out.resize(got);
  return FILES_NOERROR;
}

namespace {

// The process's file-creation mask, read without changing it (umask() would
// change it for a moment under the feet of other threads).
mode_t currentUmask() {
  if (FILE* f = std::fopen("/proc/self/status", "re")) {
    char line[128];
    unsigned mask = 0;
    bool found = false;
    while (!found && std::fgets(line, sizeof line, f)) found = std::sscanf(line, "Umask: %o", &mask) == 1;
    std::fclose(f);
    if (found) return static_cast<mode_t>(mask & 0777);
  }
  const mode_t mask = ::umask(022);
  ::umask(mask);
  return mask;
}

bool writeEverything(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += size_t(n);
  }
  return true;
}

}  // namespace

unsigned int FileIO::writeAll(const std::string& path, const std::string& bytes) {
  if (path.empty() || path.back() == '/') return FILES_BADPARAMETER;
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string(".") : path.substr(0, slash == 0 ? 1 : slash);
  // One file of an unpredictable name in the target's own folder (so that
  // the rename stays within one file system), made by mkstemp: nobody can
  // have it ready, block it or swap it.
  std::string tmp = folder + "/.tarnflash-XXXXXX";
  int fd = mkstemp(&tmp[0]);
  if (fd < 0) {
    setError(std::string("cannot make a file in its folder: ") + std::strerror(errno));
    return FILES_UNABLETOOPENTEMPFILE;
  }
  // A file that is replaced keeps its permissions (and, for root, its
  // owner); a new one gets what the umask allows. Neither is ever widened.
  struct stat old;
  const bool replaces = ::lstat(path.c_str(), &old) == 0 && S_ISREG(old.st_mode);
  const mode_t mode = replaces ? (old.st_mode & 0777) : (0666 & ~currentUmask());
  bool ok = writeEverything(fd, bytes) && ::fchmod(fd, mode) == 0;
  if (ok && replaces && geteuid() == 0 && (old.st_uid != 0 || old.st_gid != 0))
    ok = ::fchown(fd, old.st_uid, old.st_gid) == 0;
  ok = ok && ::fsync(fd) == 0;
  int saved = ok ? 0 : errno;
  if (::close(fd) != 0 && ok) {
    ok = false;
    saved = errno;
  }
  if (ok && std::rename(tmp.c_str(), path.c_str()) != 0) {
    ok = false;
    saved = errno;
  }
  if (!ok) {
    setError(std::strerror(saved));
    ::unlink(tmp.c_str());
    return FILES_FILEGENERALERROR;
  }
  // The new name reaches the disk with the folder.
  const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return FILES_NOERROR;
}

}  // namespace libfiles
