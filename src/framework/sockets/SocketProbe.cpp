#include "framework/sockets/SocketProbe.h"

#include <sys/ioctl.h>
#include <sys/socket.h>

#include <cerrno>

#include "framework/sockets/SocketErrors.h"

namespace chatterly {

bool SocketProbe::hasBytes(int fd) {
    int waiting = 0;
    return ioctl(fd, FIONREAD, &waiting) == 0 && waiting > 0;
}

SocketProbe::Holds SocketProbe::look(int fd, int& resetError) {
    if (hasBytes(fd)) {
        return Holds::Bytes;
    }
    char byte;
    const ssize_t n = ::recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    if (n > 0) {
        return Holds::Bytes;
    }
    if (n < 0 && errno == EAGAIN) {
        return Holds::Nothing;
    }
    resetError = n < 0 ? socketErrorFromErrno(errno) : 0;
    return Holds::Closed;
}

}  // namespace chatterly
