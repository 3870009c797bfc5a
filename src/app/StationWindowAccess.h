#pragma once
// What assistive technology (a screen reader, through Qt's accessibility
// bridge) tells of the station window's controls: each one's name, as the user
// sees it, and one sentence on what it does.

namespace chatterly {

class CDialog;

// Gives every control of the station window (placed by CStationDlg) its
// accessible name and description. Talk and the status box are named by
// their captions, which change during a call: they get a description only, so
// that Qt goes on naming them by what they show.
void describeStationControls(CDialog& window);

}  // namespace chatterly
