#include "framework/streams/FileStream.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "framework/streams/FileError.h"

namespace chatterly {

namespace {

int openRetrying(const char* name, int flags, mode_t mode = 0) {
    int fd;
    do {
        fd = ::open(name, flags | O_CLOEXEC | O_NOCTTY, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// A regular file for reading. O_NONBLOCK keeps the open of a FIFO from
// waiting for a writer; it changes nothing for a regular file's reads.
int openRegular(const std::string& name) {
    const int fd = openRetrying(name.c_str(), O_RDONLY | O_NONBLOCK);
    if (fd < 0) {
        throw FileError(name, errno);
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        const int error = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
        ::close(fd);
        throw FileError(name, error);
    }
    return fd;
}

// A new file in place of whatever had the name. Another process that makes
// the name again between the removal and the creation wins: the creation
// then fails rather than follow what it made.
int createScratch(const std::string& name) {
    for (int attempt = 0;; ++attempt) {
        if (::unlink(name.c_str()) != 0 && errno != ENOENT) {
            throw FileError(name, errno);
        }
        const int fd = openRetrying(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0600);
        if (fd >= 0) {
            return fd;
        }
        if (errno != EEXIST || attempt >= 3) {
            throw FileError(name, errno);
        }
    }
}

}  // namespace

FileStream::FileStream(std::string fileName, Mode mode)
    : name_(std::move(fileName)),
      fd_(mode == Mode::Read ? openRegular(name_) : createScratch(name_)) {}

FileStream::FileStream(int descriptor, bool owned, std::string name)
    : name_(std::move(name)), fd_(descriptor), owned_(owned) {
    struct stat info {};
    socket_ = ::fstat(fd_, &info) == 0 && S_ISSOCK(info.st_mode);
}

FileStream::~FileStream() {
    if (fd_ >= 0 && owned_) {
        ::close(fd_);
    }
}

void FileStream::close() {
    if (fd_ < 0) {
        return;
    }
    const int fd = fd_;
    fd_ = -1;
    if (owned_ && ::close(fd) != 0 && errno != EINTR) {
        throw FileError(name_, errno);
    }
}

void FileStream::write(const void* data, size_t n) {
    if (fd_ < 0) {
        throw FileError(name_, EBADF);
    }
    const auto* bytes = static_cast<const char*>(data);
    while (n > 0) {
        const ssize_t r = socket_ ? ::send(fd_, bytes, n, MSG_NOSIGNAL) : ::write(fd_, bytes, n);
        if (r < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw FileError(name_, errno);
        }
        bytes += r;
        n -= static_cast<size_t>(r);
    }
}

size_t FileStream::read(void* data, size_t n) {
    if (fd_ < 0) {
        throw FileError(name_, EBADF);
    }
    for (;;) {
        const ssize_t r = ::read(fd_, data, n);
        if (r >= 0) {
            return static_cast<size_t>(r);
        }
        if (errno != EINTR) {
            throw FileError(name_, errno);
        }
    }
}

std::vector<uint8_t> FileStream::readAll(uint64_t limit) {
    std::vector<uint8_t> bytes;
    struct stat info {};
    if (fd_ >= 0 && ::fstat(fd_, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0) {
        const auto size = static_cast<uint64_t>(info.st_size);
        if (size > limit) {
            throw FileError(name_, EFBIG);
        }
        bytes.resize(static_cast<size_t>(size));
    }
    size_t got = 0;
    for (;;) {
        if (got == bytes.size()) {
            if (got >= limit) {
                uint8_t more;
                if (read(&more, 1) > 0) {
                    throw FileError(name_, EFBIG);
                }
                break;
            }
            constexpr size_t kStep = 64 * 1024;
            bytes.resize(static_cast<size_t>(std::min<uint64_t>(limit, got + kStep)));
        }
        const size_t n = read(bytes.data() + got, bytes.size() - got);
        if (n == 0) {
            break;
        }
        got += n;
    }
    bytes.resize(got);
    return bytes;
}

void FileStream::sync() {
    if (fd_ < 0 || ::fsync(fd_) != 0) {
        throw FileError(name_, fd_ < 0 ? EBADF : errno);
    }
}

}  // namespace chatterly
