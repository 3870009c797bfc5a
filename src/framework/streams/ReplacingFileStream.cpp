#include "framework/streams/ReplacingFileStream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <filesystem>

#include "framework/streams/FileError.h"
#include "framework/streams/FileStream.h"

namespace chatterly {
namespace {

std::atomic<unsigned> nextSequence{0};

std::string directoryOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

}  // namespace

ReplacingFileStream::ReplacingFileStream(std::string target, Kind kind)
    : target_(std::move(target)), replaced_(target_) {
    struct stat st {};
    const bool isLink = ::lstat(replaced_.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
    if (isLink && kind == Kind::KeepsItsPlace) {
        std::error_code ec;
        const auto resolved = std::filesystem::canonical(replaced_, ec);
        if (!ec) {
            replaced_ = resolved.string();
        }
    }
    const bool exists = kind == Kind::KeepsItsPlace
                            ? ::stat(replaced_.c_str(), &st) == 0
                            : ::lstat(replaced_.c_str(), &st) == 0 && !isLink;
    if (exists) {
        if (S_ISDIR(st.st_mode)) {
            throw FileError(target_, EISDIR);
        }
        if (::access(replaced_.c_str(), W_OK) != 0) {
            throw FileError(target_, errno);
        }
    }
    int fd = -1;
    for (int attempt = 0;; ++attempt) {
        temporary_ =
            replaced_ + ".new-" + std::to_string(::getpid()) + "-" + std::to_string(nextSequence++);
        fd = ::open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0) {
            break;
        }
        const int error = errno;
        if (error != EEXIST && error != EINTR) {
            temporary_.clear();
            throw FileError(target_, error);
        }
        if (attempt >= 100) {
            temporary_.clear();
            throw FileError(target_, error);
        }
    }
    if (exists && kind == Kind::KeepsItsPlace) {
        // Best effort: a file we cannot give the old permissions stays the
        // user's alone.
        (void)::fchmod(fd, st.st_mode & 07777);
    }
    file_ = std::make_unique<FileStream>(fd, true, target_);
}

ReplacingFileStream::~ReplacingFileStream() {
    discard();
}

void ReplacingFileStream::discard() noexcept {
    file_.reset();
    if (!temporary_.empty()) {
        ::unlink(temporary_.c_str());
        temporary_.clear();
    }
}

void ReplacingFileStream::write(const void* data, size_t n) {
    if (!file_) {
        throw FileError(target_, EBADF);
    }
    file_->write(data, n);
}

size_t ReplacingFileStream::read(void*, size_t) {
    throw FileError(target_, EBADF);
}

void ReplacingFileStream::commit() {
    if (!file_ || committed_) {
        throw FileError(target_, EBADF);
    }
    try {
        file_->sync();
        file_->close();
    } catch (const FileError&) {
        discard();
        throw;
    }
    file_.reset();
    if (::rename(temporary_.c_str(), replaced_.c_str()) != 0) {
        const int error = errno;
        discard();
        throw FileError(target_, error);
    }
    temporary_.clear();
    committed_ = true;
    // The rename is done; flushing the directory entry makes it survive a
    // crash. File systems that cannot do it lose nothing we could keep.
    const int dir = ::open(directoryOf(replaced_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        (void)::fsync(dir);
        ::close(dir);
    }
}

}  // namespace chatterly
