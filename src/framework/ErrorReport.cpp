#include "framework/ErrorReport.h"

#include <cstdio>
#include <new>

#include "framework/FrameworkError.h"
#include "framework/MessageBox.h"

namespace chatterly {
namespace {

thread_local int discardDepth = 0;

}  // namespace

ErrorReport::DiscardScope::DiscardScope() {
    ++discardDepth;
}
ErrorReport::DiscardScope::~DiscardScope() {
    --discardDepth;
}
bool ErrorReport::discarding() {
    return discardDepth > 0;
}

bool ErrorReport::run(const std::function<void()>& handler) noexcept {
    try {
        handler();
        return true;
    } catch (...) {
        report(std::current_exception());
        return false;
    }
}

void ErrorReport::report(std::exception_ptr error) noexcept {
    if (discarding()) {
        return;
    }
    try {
        try {
            std::rethrow_exception(error);
        } catch (const FrameworkError& e) {
            MessageBox::show(e.description(), MessageIcon::Stop);
        } catch (const std::bad_alloc&) {
            MessageBox::show("Out of memory.", MessageIcon::Warning);
        } catch (const std::exception& e) {
            MessageBox::show(e.what(), MessageIcon::Stop);
        } catch (...) {
            MessageBox::show("An unknown error occurred.", MessageIcon::Stop);
        }
    } catch (...) {
        std::fputs("chatterly: an error could not be reported\n", stderr);
    }
}

}  // namespace chatterly
