#pragma once
// File access of the image layer: files opened for loading leave other
// programs free to read and write them, and every failure becomes an
// exception whose text names the file and the system's reason.
#include <cstddef>
#include <string>

namespace morvane::detail {

// A file open for reading; closed when the object goes.
class InputFile {
 public:
  // Throws FileOpenError.
  explicit InputFile(const std::string& path);
  ~InputFile();
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  // Up to size bytes into buffer; 0 at the end of the file. Throws
  // FileOpenError when the read fails (a directory, an I/O error).
  size_t Read(void* buffer, size_t size);

  // The size of a regular file, or -1 for anything else (a pipe, a device).
  long long RegularSize() const;

 private:
  std::string path_;
  int fd_ = -1;
};

// "cannot open 'path': <system reason for errno>"
std::string SystemErrorText(const char* what, const std::string& path, int error);

}  // namespace morvane::detail
