#pragma once
// The program's string table.

namespace chatterly {

inline constexpr int IDS_OLE_INIT_FAILED = 100;
inline constexpr int IDS_SOCKETS_INIT_FAILED = 103;

// The text of a string table entry ("" for an id that has none).
const char* loadResourceString(int id);

// Registers the compiled-in pictures and icon (safe to call more than once).
void initResources();

}  // namespace chatterly
