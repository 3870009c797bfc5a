#pragma once
// The framework's own error types. Code that meets a failure of a file, an
// archive, a socket or of memory raises one of these; the dispatch loop of the
// thread that ran the handler catches it and shows its description in the
// generic error report (ErrorReport). Nothing else in the program catches
// them, except where a caller says so explicitly.

#include <exception>
#include <string>

namespace chatterly {

// Base of every error the framework raises. description() is the text the
// generic error report shows.
class FrameworkError : public std::exception {
  public:
    ~FrameworkError() override = default;
    virtual std::string description() const = 0;
    const char* what() const noexcept override;

  protected:
    mutable std::string what_;
};

// Fills %1 of a framework message with the file's name, or "an unnamed file".
std::string describeFile(const std::string& messageWithPlaceholder, const std::string& fileName);

}  // namespace chatterly
