#include "app/StationWindowAccess.h"

#include <QComboBox>
#include <QLineEdit>
#include <QString>

#include "control/ControlIds.h"
#include "framework/widgets/CDialog.h"

namespace chatterly {
namespace {

struct ControlAccess {
    int id;
    const char* name;  // nullptr: the control's caption names it
    const char* description;
};

// In the window's tab order, then the controls that take no focus.
constexpr ControlAccess kStationControls[] = {
    {IDC_REMOTE, "Remote station",
     "The address, host name or remembered alias of the station to call."},
    {IDC_CONNECT, "Connect", "Calls the remote station."},
    {IDC_TALK, nullptr,
     "Starts recording a message; pressed again, sends it to the other station."},
    {IDC_DISCONNECT, "Disconnect", "Ends the call."},
    {IDC_PROPERTIES, "Properties", "Opens the desktop's sound settings."},
    {IDC_ABOUT, "About", "Tells the program's name and version."},
    {IDC_EXIT, "Exit", "Ends the call and closes Chatterly."},
    {IDC_REMOTE_STATION, "Remote Parlio",
     "Opens the remembered stations, to add, edit or remove them."},
    {IDC_HISTORY, "History",
     "Opens the kept messages, to hear them again; the count is of messages not yet heard."},
    {IDC_NEARBY, "Nearby",
     "Opens the stations found on the network, to call one or add it to the memory; the count "
     "is of stations found."},
    {IDC_SETTINGS, "Settings",
     "Opens the station's settings: its name, the history, the Talk key."},
    {IDC_SPEAKER, "Speaker", "Moves while a voice message plays."},
    {IDC_LED, "Connection light", "Lit while a call stands."},
    {IDC_STATUS_BOX, nullptr, "Shows how long the call has lasted."},
    {IDC_STATUS_LINE, nullptr, "The station's latest notice and when it came."},
    {IDC_LEVEL_METER, "Microphone level",
     "How loud the microphone hears you while Talk is down, in dB below full scale."},
    {IDC_RECORDING_CLOCK, nullptr, "How long the message being recorded has lasted."},
};

}  // namespace

void describeStationControls(CDialog& window) {
    for (const ControlAccess& c : kStationControls) {
        QWidget* control = window.Control(c.id);
        if (!control) {
            continue;
        }
        const QString description = QString::fromLatin1(c.description);
        if (c.name) {
            control->setAccessibleName(QString::fromLatin1(c.name));
        }
        control->setAccessibleDescription(description);
        // The remote box's text field is an object of its own to assistive
        // technology (the one that takes typing): it gets the box's words.
        if (auto* box = qobject_cast<QComboBox*>(control); box && box->lineEdit()) {
            box->lineEdit()->setAccessibleName(QString::fromLatin1(c.name));
            box->lineEdit()->setAccessibleDescription(description);
        }
    }
}

}  // namespace chatterly
