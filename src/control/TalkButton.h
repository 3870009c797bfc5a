#pragma once
// The Talk button as the recorder and the controller change it: disabled
// when the recording device cannot be opened, released when a recording
// cannot start or a call ends. Released, it reads "&Talk".

#include <memory>

#include "audio/RecorderControls.h"
#include "control/StationView.h"

namespace chatterly {

class TalkButton : public RecorderControls {
  public:
    explicit TalkButton(std::shared_ptr<StationView> view) : view_(std::move(view)) {}

    void disableTalk() override;
    void uncheckTalk() override;

  private:
    std::shared_ptr<StationView> view_;
};

}  // namespace chatterly
