// SaveToFile: the image as a raw binary file of exactly Length bytes.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string>

#include "image/buffer.h"
#include "image/file_io.h"

namespace morvane {
namespace {

// Writes size bytes to fd; returns 0 or the errno of the failure.
int WriteAll(int fd, const uint8_t* bytes, size_t size) {
  while (size > 0) {
    const ssize_t put = ::write(fd, bytes, size);
    if (put < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    bytes += put;
    size -= static_cast<size_t>(put);
  }
  return 0;
}

int CloseChecked(int fd) { return ::close(fd) == 0 ? 0 : errno; }

// Writes straight into the named file, creating or truncating it: for
// devices and pipes, and where no file can be made beside the target.
void WriteInPlace(const std::string& fileName, const uint8_t* bytes, size_t size) {
  int fd;
  do {
    fd = ::open(fileName.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) throw FileCreateError(detail::SystemErrorText("cannot create", fileName, errno));
  int error = WriteAll(fd, bytes, size);
  const int closeError = CloseChecked(fd);
  if (error == 0) error = closeError;
  if (error != 0) throw FileCreateError(detail::SystemErrorText("cannot write", fileName, error));
}

}  // namespace

void TBuffer::SaveToFile(const std::string& fileName) const {
  const size_t size = std::min<size_t>(Length > 0 ? static_cast<size_t>(Length) : 0, Data.size());
  const uint8_t* bytes = Data.data();

  // A regular file (or a new one) is written complete under a temporary name
  // beside it and then renamed over it, so that a failed save leaves no
  // half-written file under the name and an existing one as it was.
  std::string target = fileName;
  struct stat st;
  bool exists = ::stat(fileName.c_str(), &st) == 0;
  if (exists && !S_ISREG(st.st_mode)) {
    WriteInPlace(fileName, bytes, size);
    return;
  }
  struct stat link;
  if (exists && ::lstat(fileName.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
    // Replace the file the link names, not the link.
    if (char* real = ::realpath(fileName.c_str(), nullptr)) {
      target = real;
      std::free(real);
    }
  }

  static std::atomic<unsigned> serial{0};
  std::string temporary;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temporary = target + ".part-" + std::to_string(::getpid()) + "-" + std::to_string(serial++);
    fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST && errno != EINTR) break;
  }
  if (fd < 0) {
    const int error = errno;
    if (exists && (error == EACCES || error == EPERM)) {
      // The folder takes no new file, but the file itself may be writable.
      WriteInPlace(fileName, bytes, size);
      return;
    }
    throw FileCreateError(detail::SystemErrorText("cannot create", fileName, error));
  }
  if (exists) ::fchmod(fd, st.st_mode & 07777);  // keep the replaced file's permissions

  int error = WriteAll(fd, bytes, size);
  const int closeError = CloseChecked(fd);
  if (error == 0) error = closeError;
  if (error == 0 && ::rename(temporary.c_str(), target.c_str()) != 0) error = errno;
  if (error != 0) {
    ::unlink(temporary.c_str());
    throw FileCreateError(detail::SystemErrorText("cannot write", fileName, error));
  }
}

}  // namespace morvane
