#include "app/SoundSettings.h"

#include <QProcess>
#include <QStandardPaths>
#include <QStringList>

namespace chatterly {

std::vector<std::string> SoundSettings::command() {
    const std::vector<std::vector<std::string>> candidates = {
        {"pavucontrol"},
        {"gnome-control-center", "sound"},
        {"systemsettings", "kcm_pulseaudio"},
    };
    for (const auto& command : candidates) {
        if (!QStandardPaths::findExecutable(QString::fromStdString(command[0])).isEmpty()) {
            return command;
        }
    }
    return {};
}

void SoundSettings::start() {
    const auto line = command();
    if (line.empty()) {
        return;
    }
    QStringList arguments;
    for (size_t i = 1; i < line.size(); ++i) {
        arguments << QString::fromStdString(line[i]);
    }
    QProcess::startDetached(QString::fromStdString(line[0]), arguments);
}

}  // namespace chatterly
