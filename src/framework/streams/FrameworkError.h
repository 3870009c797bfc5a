#pragma once
// The framework's own error types. The streams raise one of these for a
// failure of a file, a socket file or an archive; what escapes a handler is
// caught by the dispatch loop of the thread that ran it and shown with its
// description by the generic error report (ErrorReport). A caller that
// handles a failure itself (a connection ending its call, the memory file's
// load) catches them where it says so.

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
