#include "framework/sockets/CSocketFile.h"

#include <algorithm>

#include "framework/sockets/CAsyncSocket.h"
#include "framework/streams/FileError.h"

namespace chatterly {
namespace {

constexpr size_t kLargestSend = size_t{1} << 30;

}  // namespace

void CSocketFile::write(const void* data, size_t n) {
    const auto* bytes = static_cast<const char*>(data);
    while (n > 0) {
        const size_t chunk = std::min(n, kLargestSend);
        const int sent = socket_.Send(bytes, chunk);
        if (sent == SOCKET_ERROR) {
            throw FileError({}, CAsyncSocket::GetLastError());
        }
        bytes += sent;
        n -= static_cast<size_t>(sent);
    }
}

size_t CSocketFile::read(void* data, size_t n) {
    const int got = socket_.Receive(data, std::min(n, kLargestSend));
    if (got == SOCKET_ERROR) {
        throw FileError({}, CAsyncSocket::GetLastError());
    }
    return static_cast<size_t>(got);
}

}  // namespace chatterly
