#pragma once
// A ByteStream over a POSIX descriptor: a disk file it opens, or any open
// blocking descriptor it is given (a pipe or a socket; writes to a socket
// never raise SIGPIPE). Errors raise FileError(file name, errno).

#include <cstdint>
#include <string>
#include <vector>

#include "framework/streams/ByteStream.h"

namespace chatterly {

class FileStream : public ByteStream {
  public:
    enum class Mode { Read, Write };  // Write creates or truncates

    FileStream(std::string fileName, Mode mode);
    // Reads and writes descriptor, which stays open unless owned.
    explicit FileStream(int descriptor, bool owned = false, std::string name = {});
    ~FileStream() override;

    FileStream(const FileStream&) = delete;
    FileStream& operator=(const FileStream&) = delete;

    void write(const void* data, size_t n) override;
    size_t read(void* data, size_t n) override;
    std::string name() const override { return name_; }

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
