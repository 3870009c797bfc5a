#include "framework/widgets/ControlDescriptions.h"

namespace chatterly {

void describeControls(std::initializer_list<ControlDescription> controls) {
    for (const ControlDescription& c : controls) {
        if (c.control) {
            c.control->setAccessibleName(QString::fromUtf8(c.name));
            c.control->setAccessibleDescription(QString::fromUtf8(c.description));
        }
    }
}

}  // namespace chatterly
