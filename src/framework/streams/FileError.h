#pragma once
// A failure while reading or writing a file or a socket file. The cause is
// kept (an errno value or a socket error code) for tests and diagnostics; the
// user sees only the framework's generic text.

#include <string>

#include "framework/streams/FrameworkError.h"

namespace chatterly {

class FileError : public FrameworkError {
  public:
    // fileName may be empty (a socket file has no name); cause is an errno
    // value or a socket error code, 0 when unknown.
    explicit FileError(std::string fileName = {}, int cause = 0)
        : fileName_(std::move(fileName)), cause_(cause) {}

    std::string description() const override {
        return describeFile("An unknown error occurred while accessing %1.", fileName_);
    }
    const std::string& fileName() const { return fileName_; }
    int cause() const { return cause_; }

  private:
    std::string fileName_;
    int cause_;
};

}  // namespace chatterly
