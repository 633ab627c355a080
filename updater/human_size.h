#pragma once

#include <QString>

#include <cstdint>

namespace qorv {

/// Bytes for people, in binary units with one decimal: "512 B", "3.0 MiB", "1.5 GiB".
QString human_size(std::int64_t bytes);

} // namespace qorv
