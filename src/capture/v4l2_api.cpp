#include "capture/v4l2_api.h"

#include <fcntl.h>
#include <libv4l2.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace qmr {

namespace {

class LibV4l2 final : public V4l2Api {
 public:
  int Open(const std::string& path, int flags) override { return v4l2_open(path.c_str(), flags); }
  int Close(int fd) override { return v4l2_close(fd); }
  int Ioctl(int fd, unsigned long request, void* argument) override {
    return v4l2_ioctl(fd, request, argument);
  }
  ssize_t Read(int fd, void* buffer, std::size_t size) override {
    return v4l2_read(fd, buffer, size);
  }
  int Poll(pollfd* fds, nfds_t count, int timeoutMs) override {
    return poll(fds, count, timeoutMs);
  }
};

class Kernel final : public V4l2Api {
 public:
  int Open(const std::string& path, int flags) override { return open(path.c_str(), flags); }
  int Close(int fd) override { return close(fd); }
  int Ioctl(int fd, unsigned long request, void* argument) override {
    return ioctl(fd, request, argument);
  }
  ssize_t Read(int fd, void* buffer, std::size_t size) override { return read(fd, buffer, size); }
  int Poll(pollfd* fds, nfds_t count, int timeoutMs) override {
    return poll(fds, count, timeoutMs);
  }
};

}  // namespace

V4l2Api& LibV4l2Api() {
  static LibV4l2 api;
  return api;
}

V4l2Api& KernelV4l2Api() {
  static Kernel api;
  return api;
}

}  // namespace qmr
