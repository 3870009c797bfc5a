#include "discovery/AnnouncedName.h"

#include <avahi-common/alternative.h>
#include <avahi-common/malloc.h>

namespace chatterly {

AnnouncedName::AnnouncedName(std::string wanted) : wanted_(std::move(wanted)), current_(wanted_) {}

void AnnouncedName::collided() {
    if (char* next = avahi_alternative_service_name(current_.c_str())) {
        current_ = next;
        avahi_free(next);
    }
}

std::optional<QString> AnnouncedName::established() {
    if (current_ == wanted_ || current_ == said_) {
        return std::nullopt;
    }
    said_ = current_;
    return QStringLiteral("This station is announced as \"%1\": \"%2\" is taken on the network.")
        .arg(QString::fromStdString(current_), QString::fromStdString(wanted_));
}

}  // namespace chatterly
