#include "framework/streams/FrameworkError.h"

namespace chatterly {

const char* FrameworkError::what() const noexcept {
    try {
        what_ = description();
    } catch (...) {
        return "framework error";
    }
    return what_.c_str();
}

std::string describeFile(const std::string& message, const std::string& fileName) {
    const std::string name = fileName.empty() ? std::string("an unnamed file") : fileName;
    std::string out = message;
    const auto at = out.find("%1");
    if (at != std::string::npos) {
        out.replace(at, 2, name);
    }
    return out;
}

}  // namespace chatterly
