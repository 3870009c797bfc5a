#include "control/StationViewProxy.h"

#include "framework/threads/WindowRequests.h"

namespace chatterly {

std::shared_ptr<StationViewProxy> StationViewProxy::make(StationView* window) {
    return std::shared_ptr<StationViewProxy>(new StationViewProxy(window));
}

void StationViewProxy::Detach() {
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

void StationViewProxy::EnableControl(int id, bool enabled) {
    onWindow([&](StationView& w) { w.EnableControl(id, enabled); });
}

void StationViewProxy::SetControlText(int id, const std::string& text) {
    onWindow([&](StationView& w) { w.SetControlText(id, text); });
}

std::string StationViewProxy::ControlText(int id) {
    std::string text;
    onWindow([&](StationView& w) { text = w.ControlText(id); });
    return text;
}

void StationViewProxy::SetWindowCaption(const std::string& text) {
    onWindow([&](StationView& w) { w.SetWindowCaption(text); });
}

void StationViewProxy::SetChecked(int id, bool checked) {
    onWindow([&](StationView& w) { w.SetChecked(id, checked); });
}

bool StationViewProxy::IsChecked(int id) {
    bool checked = false;
    onWindow([&](StationView& w) { checked = w.IsChecked(id); });
    return checked;
}

void StationViewProxy::ShowBitmap(int controlId, int bitmapId) {
    onWindow([&](StationView& w) { w.ShowBitmap(controlId, bitmapId); });
}

void StationViewProxy::BringToFront() {
    onWindow([](StationView& w) { w.BringToFront(); });
}

}  // namespace chatterly
