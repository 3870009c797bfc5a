#pragma once
// Identifiers of the station window's controls and pictures.

namespace chatterly {

inline constexpr int IDC_LED = 1001;
inline constexpr int IDC_TALK = 1002;
inline constexpr int IDC_REMOTE = 1003;
inline constexpr int IDC_DISCONNECT = 1004;
inline constexpr int IDC_EXIT = 1005;
inline constexpr int IDC_CONNECT = 1006;
inline constexpr int IDC_STATUS_BOX = 1007;
inline constexpr int IDC_SPEAKER = 1008;
inline constexpr int IDC_REMOTE_STATION = 1009;
inline constexpr int IDC_PROPERTIES = 1010;
inline constexpr int IDC_ABOUT = 1011;
// The row under the template's controls.
inline constexpr int IDC_STATUS_LINE = 1101;
inline constexpr int IDC_HISTORY = 1102;
inline constexpr int IDC_NEARBY = 1103;
// The row under it: what shows while recording, and Settings.
inline constexpr int IDC_LEVEL_METER = 1104;
inline constexpr int IDC_RECORDING_CLOCK = 1105;
inline constexpr int IDC_SETTINGS = 1106;

inline constexpr int IDB_SPEAKER_REST = 132;
inline constexpr int IDB_LED_CONNECTED = 133;
inline constexpr int IDB_LED_IDLE = 134;
inline constexpr int IDB_SPEAKER_RING1 = 137;
inline constexpr int IDB_SPEAKER_RING2 = 138;

}  // namespace chatterly
