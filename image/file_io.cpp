#include "image/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "image/buffer.h"

namespace morvane::detail {

std::string SystemErrorText(const char* what, const std::string& path, int error) {
  return std::string(what) + " '" + path + "': " + std::strerror(error);
}

InputFile::InputFile(const std::string& path) : path_(path) {
  do {
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  } while (fd_ < 0 && errno == EINTR);
  if (fd_ < 0) throw FileOpenError(SystemErrorText("cannot open", path, errno));
  struct stat st;
  if (::fstat(fd_, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fd_);
    fd_ = -1;
    throw FileOpenError(SystemErrorText("cannot open", path, EISDIR));
  }
}

InputFile::~InputFile() {
  if (fd_ >= 0) ::close(fd_);
}

size_t InputFile::Read(void* buffer, size_t size) {
  for (;;) {
    ssize_t got = ::read(fd_, buffer, size);
    if (got >= 0) return static_cast<size_t>(got);
    if (errno != EINTR) throw FileOpenError(SystemErrorText("cannot read", path_, errno));
  }
}

long long InputFile::RegularSize() const {
  struct stat st;
  if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) return -1;
  return static_cast<long long>(st.st_size);
}

}  // namespace morvane::detail
