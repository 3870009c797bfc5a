#pragma once
// Identifiers of the memory dialog's template and controls.

namespace chatterly {

inline constexpr int IDC_MEMORY_LIST = 1012;
inline constexpr int IDC_MEMORY_REMOVE = 1013;
inline constexpr int IDC_MEMORY_ADDRESS = 1014;
inline constexpr int IDC_MEMORY_ALIAS = 1015;
inline constexpr int IDC_MEMORY_ADD = 1016;
inline constexpr int IDC_MEMORY_EDIT = 1017;

// The dialog's OK and Cancel buttons carry the usual command identifiers.
inline constexpr int IDC_MEMORY_OK = 1;
inline constexpr int IDC_MEMORY_CANCEL = 2;

}  // namespace chatterly
