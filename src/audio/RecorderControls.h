#pragma once
// How the recorder reaches the Talk button, the only control it touches: it
// disables it when the device cannot be opened and releases it when a
// recording cannot start. Called on the thread that ran the operation.

namespace chatterly {

class RecorderControls {
  public:
    virtual ~RecorderControls() = default;
    virtual void disableTalk() = 0;
    virtual void uncheckTalk() = 0;
};

}  // namespace chatterly
