#include "audio/SilenceCheck.h"

namespace chatterly {

void SilenceCheck::begin() {
    heard_ = 0;
    decided_ = false;
}

bool SilenceCheck::update(const InputLevel::Reading& reading) {
    if (decided_) {
        return false;
    }
    if (reading.peakDb >= kQuietDb) {
        decided_ = true;  // sound within the first two seconds: nothing to say
        return false;
    }
    heard_ += reading.samples;
    decided_ = heard_ >= span_;
    return decided_;
}

}  // namespace chatterly
