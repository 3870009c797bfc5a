#include "control/TalkButton.h"

#include "control/ControlIds.h"

namespace chatterly {

void TalkButton::disableTalk() {
    view_->enableControl(IDC_TALK, false);
}

void TalkButton::uncheckTalk() {
    view_->setChecked(IDC_TALK, false);
    view_->setControlText(IDC_TALK, "&Talk");
}

}  // namespace chatterly
