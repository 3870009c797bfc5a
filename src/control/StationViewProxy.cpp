#include "control/StationViewProxy.h"

#include "framework/threads/WindowRequests.h"

namespace chatterly {

std::shared_ptr<StationViewProxy> StationViewProxy::make(StationView* window) {
    return std::shared_ptr<StationViewProxy>(new StationViewProxy(window));
}

void StationViewProxy::detach() {
    window_ = nullptr;
}

template <typename F>
void StationViewProxy::onWindow(F&& f) {
    WindowRequests::run([&] {
        if (window_) {
            f(*window_);
        }
    });
}

void StationViewProxy::enableControl(int id, bool enabled) {
    onWindow([&](StationView& w) { w.enableControl(id, enabled); });
}

void StationViewProxy::setControlText(int id, const std::string& text) {
    onWindow([&](StationView& w) { w.setControlText(id, text); });
}

std::string StationViewProxy::controlText(int id) {
    std::string text;
    onWindow([&](StationView& w) { text = w.controlText(id); });
    return text;
}

void StationViewProxy::setWindowCaption(const std::string& text) {
    onWindow([&](StationView& w) { w.setWindowCaption(text); });
}

void StationViewProxy::setChecked(int id, bool checked) {
    onWindow([&](StationView& w) { w.setChecked(id, checked); });
}

bool StationViewProxy::isChecked(int id) {
    bool checked = false;
    onWindow([&](StationView& w) { checked = w.isChecked(id); });
    return checked;
}

void StationViewProxy::showBitmap(int controlId, int bitmapId) {
    onWindow([&](StationView& w) { w.showBitmap(controlId, bitmapId); });
}

void StationViewProxy::bringToFront() {
    onWindow([](StationView& w) { w.bringToFront(); });
}

void StationViewProxy::announceSpeaker(const std::string& who) {
    onWindow([&who](StationView& w) { w.announceSpeaker(who); });
}

}  // namespace chatterly
