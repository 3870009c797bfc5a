#include "framework/widgets/ErrorBoxes.h"

#include <cstdio>
#include <new>

#include "framework/streams/FrameworkError.h"
#include "framework/widgets/CallBoxes.h"
#include "framework/widgets/MessageBox.h"

namespace chatterly {

void ErrorBoxes::present(std::exception_ptr error, ErrorOrigin origin) noexcept {
    const auto show = [origin](const std::string& text, MessageIcon icon) {
        if (origin == ErrorOrigin::Call) {
            CallBoxes::show(text, icon);
        } else {
            MessageBox::show(text, icon);
        }
    };
    try {
        try {
            std::rethrow_exception(error);
        } catch (const FrameworkError& e) {
            show(e.description(), MessageIcon::Stop);
        } catch (const std::bad_alloc&) {
            show("Out of memory.", MessageIcon::Warning);
        } catch (const std::exception& e) {
            show(e.what(), MessageIcon::Stop);
        } catch (...) {
            show("An unknown error occurred.", MessageIcon::Stop);
        }
    } catch (...) {
        std::fputs("chatterly: an error could not be reported\n", stderr);
    }
}

void ErrorBoxes::install() {
    static ErrorBoxes* boxes = new ErrorBoxes;  // never destroyed: workers may outlive main()
    ErrorReport::setPresenter(boxes);
}

}  // namespace chatterly
