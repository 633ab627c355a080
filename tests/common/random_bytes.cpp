#include "random_bytes.h"

#include <QRandomGenerator>

namespace qorv::test {

QByteArray random_bytes(qsizetype size, quint32 seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator generator(seed);
    for (char& c : bytes)
        c = static_cast<char>(generator.generate() & 0xff);
    return bytes;
}

} // namespace qorv::test
