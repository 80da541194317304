#pragma once
// The operating-system calls that the hardware port backends and the port
// launcher make, behind one small interface so that tests can replace them
// and never reach this machine's ports or parallel-port devices. Every call
// keeps the system's own convention: a failure returns -1 and leaves the
// reason in errno.
#include <sys/types.h>

#include <cstddef>
#include <cstdint>

namespace morvane {

class SystemCalls {
 public:
  virtual ~SystemCalls() = default;

  // Grants (on = 1) or withdraws (on = 0) access to count ports from `from`.
  virtual int Ioperm(unsigned long from, unsigned long count, int on) = 0;
  // A single byte-wide port read or write; only for ports that are open.
  virtual uint8_t In(uint16_t port) = 0;
  virtual void Out(uint16_t port, uint8_t value) = 0;

  virtual int Open(const char* path, int flags) = 0;
  virtual ssize_t Read(int fd, void* buffer, size_t size) = 0;
  virtual int Ioctl(int fd, unsigned long request, void* argument) = 0;
  virtual int Close(int fd) = 0;

  virtual const char* Getenv(const char* name) = 0;
  virtual pid_t Getpid() = 0;
  virtual uid_t Geteuid() = 0;
};

// The real calls. The object is never destroyed, so backends that are torn
// down while the process exits (static destructors) can still use it.
SystemCalls& RealSystemCalls();

}  // namespace morvane
