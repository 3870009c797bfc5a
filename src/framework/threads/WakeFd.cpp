#include "framework/threads/WakeFd.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

namespace chatterly {

WakeFd::WakeFd() : fd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

WakeFd::~WakeFd() {
    if (fd_ >= 0) {
        close(fd_);
    }
}

void WakeFd::signal() {
    const uint64_t one = 1;
    [[maybe_unused]] auto n = write(fd_, &one, sizeof one);
}

void WakeFd::drain() {
    uint64_t value;
    [[maybe_unused]] auto n = read(fd_, &value, sizeof value);
}

}  // namespace chatterly
