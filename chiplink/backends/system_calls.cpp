#include "chiplink/backends/system_calls.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <new>

#if defined(__i386__) || defined(__x86_64__)
#include <sys/io.h>
#define MORVANE_HAVE_PORT_INSTRUCTIONS 1
#else
#define MORVANE_HAVE_PORT_INSTRUCTIONS 0
#endif

namespace morvane {
namespace {

class Real final : public SystemCalls {
 public:
  int Ioperm(unsigned long from, unsigned long count, int on) override {
#if MORVANE_HAVE_PORT_INSTRUCTIONS
    return ::ioperm(from, count, on);
#else
    (void)from;
    (void)count;
    (void)on;
    errno = ENOSYS;  // no port instructions on this processor
    return -1;
#endif
  }

  uint8_t In(uint16_t port) override {
#if MORVANE_HAVE_PORT_INSTRUCTIONS
    uint8_t value;
    __asm__ __volatile__("inb %w1, %b0" : "=a"(value) : "Nd"(port));
    return value;
#else
    (void)port;
    return 0xFF;
#endif
  }

  void Out(uint16_t port, uint8_t value) override {
#if MORVANE_HAVE_PORT_INSTRUCTIONS
    __asm__ __volatile__("outb %b0, %w1" : : "a"(value), "Nd"(port));
#else
    (void)port;
    (void)value;
#endif
  }

  int Open(const char* path, int flags) override { return ::open(path, flags); }
  ssize_t Read(int fd, void* buffer, size_t size) override { return ::read(fd, buffer, size); }
  int Ioctl(int fd, unsigned long request, void* argument) override {
    return ::ioctl(fd, request, argument);
  }
  int Close(int fd) override { return ::close(fd); }
  const char* Getenv(const char* name) override { return std::getenv(name); }
  pid_t Getpid() override { return ::getpid(); }
  uid_t Geteuid() override { return ::geteuid(); }
};

}  // namespace

SystemCalls& RealSystemCalls() {
  // Built in place and never destroyed: usable from any static destructor.
  alignas(Real) static unsigned char storage[sizeof(Real)];
  static Real* real = new (storage) Real;
  return *real;
}

}  // namespace morvane
