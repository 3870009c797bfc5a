#include "framework/widgets/ErrorBoxes.h"

#include <cstdio>
#include <new>

#include "framework/streams/FrameworkError.h"
#include "framework/widgets/MessageBox.h"

namespace chatterly {

void ErrorBoxes::present(std::exception_ptr error) noexcept {
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

void ErrorBoxes::install() {
    static ErrorBoxes* boxes = new ErrorBoxes;  // never destroyed: workers may outlive main()
    ErrorReport::setPresenter(boxes);
}

}  // namespace chatterly
