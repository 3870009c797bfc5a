#include "framework/threads/ErrorReport.h"

#include <atomic>
#include <cstdio>

namespace chatterly {
namespace {

std::atomic<ErrorPresenter*> presenter{nullptr};

void describeOnStderr(std::exception_ptr error) noexcept {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "chatterly: %s\n", e.what());
    } catch (...) {
        std::fputs("chatterly: an unknown error occurred\n", stderr);
    }
}

}  // namespace

void ErrorReport::setPresenter(ErrorPresenter* p) {
    presenter = p;
}

bool ErrorReport::run(const std::function<void()>& handler, ErrorOrigin origin) noexcept {
    try {
        handler();
        return true;
    } catch (...) {
        report(std::current_exception(), origin);
        return false;
    }
}

void ErrorReport::report(std::exception_ptr error, ErrorOrigin origin) noexcept {
    if (discarding()) {
        return;
    }
    if (ErrorPresenter* p = presenter.load()) {
        p->present(error, origin);
    } else {
        describeOnStderr(error);
    }
}

}  // namespace chatterly
