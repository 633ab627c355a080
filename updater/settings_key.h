#pragma once

#include <string_view>

namespace qorv {

/// The key with which the four connection settings of qorv.ini are encrypted and decrypted; one
/// key serves all four values. Never changed.
inline constexpr std::string_view sys_mm = "Rkaze418265tgwmoLRwm306142LRwmo4";

} // namespace qorv
