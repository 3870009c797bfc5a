#pragma once
// The station window as worker threads hold it. Workers may outlive the
// window (the program ends while a call or a playback still runs), so they
// never hold the window itself: they hold this proxy by shared pointer. Each
// operation is a window request; on the GUI thread it goes to the window
// while one is attached and does nothing once the window has detached.

#include <memory>

#include "control/StationView.h"

namespace chatterly {

class StationViewProxy : public StationView {
  public:
    static std::shared_ptr<StationViewProxy> make(StationView* window);

    // GUI thread: the window is going; later requests do nothing.
    void detach();

    void enableControl(int id, bool enabled) override;
    void setControlText(int id, const std::string& text) override;
    std::string controlText(int id) override;
    void setWindowCaption(const std::string& text) override;
    void setChecked(int id, bool checked) override;
    bool isChecked(int id) override;
    void showBitmap(int controlId, int bitmapId) override;
    void bringToFront() override;
    void announceSpeaker(const std::string& who) override;

  private:
    explicit StationViewProxy(StationView* window) : window_(window) {}
    template <typename F>
    void onWindow(F&& f);

    StationView* window_;  // read and written on the GUI thread only
};

}  // namespace chatterly
