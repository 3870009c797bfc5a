#pragma once
// A write-only ByteStream that replaces a file as a whole. The bytes go to a
// new file beside the target (same directory, so the final rename stays on
// one file system); commit() flushes the new file to the disk and renames it
// over the target. Until commit() succeeds the target is untouched, so a full
// disk or a failed write never leaves a cut-short file behind; a stream
// dropped without a successful commit removes its new file.
//
// The new file takes the permissions of the file it replaces; where there was
// none it is readable by the user alone (0600), as what the station keeps
// about its user is nobody else's. A target that is a symbolic link has the
// file it points to replaced, the link itself stays (a file kept in a synced
// folder stays there). An existing target that this process may not write is
// refused, as opening it for writing would be.
//
// A private file (the station's settings) is handled more strictly: it is
// always the user's alone (0600), and a symbolic link under its name is
// replaced by the new file, never followed.

#include <memory>
#include <string>

#include "framework/streams/ByteStream.h"

namespace chatterly {

class FileStream;

class ReplacingFileStream : public ByteStream {
  public:
    enum class Kind {
        KeepsItsPlace,  // keeps the old file's permissions, and a link's target is replaced
        Private,        // 0600, and a link under the name is replaced itself
    };

    // Creates the new file. Throws FileError(target, errno) when it cannot.
    explicit ReplacingFileStream(std::string target, Kind kind = Kind::KeepsItsPlace);
    ~ReplacingFileStream() override;

    ReplacingFileStream(const ReplacingFileStream&) = delete;
    ReplacingFileStream& operator=(const ReplacingFileStream&) = delete;

    // Throws FileError(target, errno) on failure.
    void write(const void* data, size_t n) override;
    // Not readable: throws FileError(target, EBADF).
    size_t read(void* data, size_t n) override;
    std::string name() const override { return target_; }

    // Flushes the new file to the disk, closes it and renames it over the
    // target, then flushes the directory entry. Throws FileError on failure,
    // the target then being as it was.
    void commit();

  private:
    void discard() noexcept;

    std::string target_;                // as given: the name errors show
    std::string replaced_;              // the file actually replaced (a link's target)
    std::string temporary_;             // the new file beside it
    std::unique_ptr<FileStream> file_;  // the new file while it is open
    bool committed_ = false;
};

}  // namespace chatterly
