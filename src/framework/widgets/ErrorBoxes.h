#pragma once
// The generic error report's presenter: an error of the framework's types
// that escaped a handler is shown in a message box with its own description
// and the stop icon; running out of memory as "Out of memory." with the
// exclamation icon. An error a call caused goes to CallBoxes, one box at a
// time.

#include "framework/threads/ErrorReport.h"

namespace chatterly {

class ErrorBoxes : public ErrorPresenter {
  public:
    void present(std::exception_ptr error, ErrorOrigin origin) noexcept override;

    // Makes the process's one ErrorBoxes the generic error report's presenter.
    static void install();
};

}  // namespace chatterly
