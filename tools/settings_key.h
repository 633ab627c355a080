#pragma once

#include <string_view>

namespace qorv {

/// The key with which the four connection settings of qorv.ini are encrypted and decrypted
/// (the updater's `sys_mm`); one key serves all four values.
inline constexpr std::string_view settings_key = "Rkaze418265tgwmoLRwm306142LRwmo4";

} // namespace qorv
