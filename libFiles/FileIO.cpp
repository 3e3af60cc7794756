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

unsigned int FileIO::writeAll(const std::string& path, const std::string& bytes) {
  if (path.empty()) return FILES_BADPARAMETER;
  std::string tmp = path + ".tmpXXXXXX";
  int fd = mkstemp(&tmp[0]);
  if (fd < 0) {
    setError(std::string("cannot make a file in its folder: ") + std::strerror(errno));
    return FILES_UNABLETOOPENTEMPFILE;
  }
  size_t done = 0;
  bool ok = true;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = false;
      break;
    }
    done += size_t(n);
  }
  fchmod(fd, 0644);
  if (::close(fd) != 0) ok = false;
  if (!ok || std::rename(tmp.c_str(), path.c_str()) != 0) {
    setError(std::strerror(errno));
    ::unlink(tmp.c_str());
    return FILES_FILEGENERALERROR;
  }
  return FILES_NOERROR;
}

}  // namespace libfiles
