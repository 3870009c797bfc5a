#pragma once
// A failure of an archive stream: reading past the end of the data (a file or
// a connection that ends early), a length read from the data that no sender
// can mean (a voice message frame beyond the bound), an archive used against
// its direction or made without a buffer, a count or length too large for
// the field it is written in, and more entries than a collection keeps.

#include <string>

#include "framework/streams/FrameworkError.h"

namespace chatterly {

class ArchiveError : public FrameworkError {
  public:
    enum class Cause {
        EndOfFile,
        BadLength,
        ReadOnly,        // a write on a loading archive
        WriteOnly,       // a read on a storing archive
        NoBuffer,        // an archive made with a buffer of no bytes
        TooLarge,        // a count or length beyond what its field holds
        TooManyEntries,  // more entries than a collection can number
    };

    explicit ArchiveError(Cause cause = Cause::EndOfFile, std::string fileName = {})
        : cause_(cause), fileName_(std::move(fileName)) {}

    std::string description() const override {
        switch (cause_) {
            case Cause::BadLength:
                return describeFile("An invalid length was read from %1.", fileName_);
            case Cause::ReadOnly:
                return describeFile(
                    "An attempt was made to write to %1, which is open for reading.", fileName_);
            case Cause::WriteOnly:
                return describeFile(
                    "An attempt was made to read from %1, which is open for writing.", fileName_);
            case Cause::NoBuffer:
                return describeFile("An attempt was made to access %1 without a buffer.",
                                    fileName_);
            case Cause::TooLarge:
                return describeFile(
                    "An attempt was made to write a count or length too large for %1.", fileName_);
            case Cause::TooManyEntries:
                return "A list was given more entries than it can hold.";
            case Cause::EndOfFile:
                break;
        }
        return describeFile("An attempt was made to access %1 past its end.", fileName_);
    }
    Cause cause() const { return cause_; }

  private:
    Cause cause_;
    std::string fileName_;
};

}  // namespace chatterly
