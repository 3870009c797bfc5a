#pragma once
// A failure of an archive stream: reading past the end of the data (a file or
// a connection that ends early), or a length read from the data that no
// sender can mean (a voice message frame beyond the bound).

#include <string>

#include "framework/streams/FrameworkError.h"

namespace chatterly {

class ArchiveError : public FrameworkError {
  public:
    enum class Cause { EndOfFile, BadLength };

    explicit ArchiveError(Cause cause = Cause::EndOfFile, std::string fileName = {})
        : cause_(cause), fileName_(std::move(fileName)) {}

    std::string description() const override {
        if (cause_ == Cause::BadLength) {
            return describeFile("An invalid length was read from %1.", fileName_);
        }
        return describeFile("An attempt was made to access %1 past its end.", fileName_);
    }
    Cause cause() const { return cause_; }

  private:
    Cause cause_;
    std::string fileName_;
};

}  // namespace chatterly
