#pragma once
// What the call controller and the status displays may do to the station
// window. Every operation may be called from any thread: it is carried out on
// the GUI thread and returns when it has been (a synchronous window request).
// Once the window has gone, requests do nothing.

#include <string>

namespace chatterly {

class StationView {
  public:
    virtual ~StationView() = default;

    virtual void enableControl(int id, bool enabled) = 0;
    virtual void setControlText(int id, const std::string& text) = 0;
    virtual std::string controlText(int id) = 0;
    virtual void setWindowCaption(const std::string& text) = 0;
    virtual void setChecked(int id, bool checked) = 0;
    virtual bool isChecked(int id) = 0;
    // Shows one of the loaded bitmaps in a picture control.
    virtual void showBitmap(int controlId, int bitmapId) = 0;
    virtual void bringToFront() = 0;
    // A message from who starts to play: a window that is not the active one
    // asks for the user's attention and tells the desktop who is speaking.
    virtual void announceSpeaker(const std::string& who) { (void)who; }
};

}  // namespace chatterly
