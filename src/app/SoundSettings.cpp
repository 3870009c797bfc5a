#include "app/SoundSettings.h"

#include <QProcess>
#include <QStandardPaths>
#include <QStringList>

namespace chatterly {

std::vector<std::string> SoundSettings::Command() {
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

void SoundSettings::Start() {
    const auto command = Command();
    if (command.empty()) {
        return;
    }
    QStringList arguments;
    for (size_t i = 1; i < command.size(); ++i) {
        arguments << QString::fromStdString(command[i]);
    }
    QProcess::startDetached(QString::fromStdString(command[0]), arguments);
}

}  // namespace chatterly
