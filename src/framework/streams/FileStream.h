#pragma once
// A ByteStream over a POSIX descriptor: a disk file it opens, or any open
// blocking descriptor it is given (a pipe or a socket; writes to a socket
// never raise SIGPIPE). Errors raise FileError(file name, errno).
//
// The station opens files by name in two ways only. A file it reads (a sound
// file, the station memory) must be a regular file: it is opened without
// waiting (a FIFO by that name cannot block the open) and checked on the
// open descriptor, so nothing swapped in between is read. A file it makes
// for itself (the scratch recording) is made anew: whatever stands under the
// name, a stale file or a planted symbolic link, is removed, and the new
// file is created exclusively, never through a link, readable by the user
// alone.

#include <cstdint>
#include <string>
#include <vector>

#include "framework/streams/ByteStream.h"

namespace chatterly {

class FileStream : public ByteStream {
  public:
    enum class Mode {
        Read,     // a regular file, read; anything else fails with EINVAL (EISDIR)
        Scratch,  // a new file of the user's alone (0600) in place of what was there
    };

    FileStream(std::string fileName, Mode mode);
    // Reads and writes descriptor, which stays open unless owned.
    explicit FileStream(int descriptor, bool owned = false, std::string name = {});
    ~FileStream() override;

    FileStream(const FileStream&) = delete;
    FileStream& operator=(const FileStream&) = delete;

    void write(const void* data, size_t n) override;
    size_t read(void* data, size_t n) override;
    std::string name() const override { return name_; }
    // The open descriptor (-1 once closed); it stays the stream's.
    int descriptor() const { return fd_; }

    // Reads from the current position to the end into one buffer, sized to
    // the file when its size is known. Throws FileError(name, EFBIG) when
    // more than limit bytes would come, FileError(name, errno) when a read
    // fails. A file that shrinks meanwhile gives what it still holds.
    [[nodiscard]] std::vector<uint8_t> readAll(uint64_t limit);

    // Flushes what was written to the disk (fsync); throws FileError.
    void sync();
    // Closes the descriptor, reporting a failure (a late write error).
    void close();

  private:
    std::string name_;
    int fd_ = -1;
    bool owned_ = true;
    bool socket_ = false;
};

}  // namespace chatterly
