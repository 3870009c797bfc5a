#include "control/TalkButton.h"

#include "control/ControlIds.h"

namespace chatterly {

void TalkButton::disableTalk() {
    view_->EnableControl(IDC_TALK, false);
}

void TalkButton::uncheckTalk() {
    view_->SetChecked(IDC_TALK, false);
}

}  // namespace chatterly
