#pragma once

#include <QByteArray>

namespace qorv::test {

/// `size` pseudo-random bytes, the same for the same `seed`: contents that differ at every
/// offset, so that a misplaced or repeated piece shows.
QByteArray random_bytes(qsizetype size, quint32 seed);

} // namespace qorv::test
