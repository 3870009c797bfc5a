#pragma once
// What assistive technology reads of a window's controls: each one's
// accessible name (as the user sees it: a caption without its '&', a field's
// label) and one sentence on what it does, given as one table a window.

#include <QWidget>
#include <initializer_list>

namespace chatterly {

struct ControlDescription {
    QWidget* control;  // skipped when null
    const char* name;  // UTF-8
    const char* description;
};

void describeControls(std::initializer_list<ControlDescription> controls);

}  // namespace chatterly
