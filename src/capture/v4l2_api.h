// The calls a local camera is driven through. Cameras use libv4l2, which
// converts whatever the camera sends into BGR24; the camera list asks each
// node what it is with the plain system calls. Tests put a simulated camera
// behind the same calls.
#pragma once

#include <poll.h>
#include <sys/types.h>

#include <cstddef>
#include <string>

namespace qmr {

class V4l2Api {
 public:
  virtual ~V4l2Api() = default;
  // As open(2), close(2), ioctl(2), read(2) and poll(2): -1 and errno on
  // failure.
  virtual int Open(const std::string& path, int flags) = 0;
  virtual int Close(int fd) = 0;
  virtual int Ioctl(int fd, unsigned long request, void* argument) = 0;
  virtual ssize_t Read(int fd, void* buffer, std::size_t size) = 0;
  virtual int Poll(pollfd* fds, nfds_t count, int timeoutMs) = 0;
};

// libv4l2 (v4l2_open, v4l2_ioctl, ...): what the cameras use.
V4l2Api& LibV4l2Api();
// The kernel's own calls: enough to ask a node for its capabilities without
// libv4l2 setting up its format conversion.
V4l2Api& KernelV4l2Api();

}  // namespace qmr
