#pragma once

#include <QString>
#include <QStringList>
#include <QTest>

#include <utility>

namespace qorv::test {

/// Adds to the current test's data one row per backend, named "<backend>: <name>", with the
/// backend's name as its first value; `fill` appends the rest:
/// \code
/// add_backend_rows(backends, "empty file", [](QTestData& row) { row << 0; });
/// \endcode
template <typename F> void add_backend_rows(const QStringList& backends, const char* name, F&& fill)
{
    for (const QString& b : backends)
        std::forward<F>(fill)(
            QTest::newRow(qPrintable(QStringLiteral("%1: %2").arg(b, QString::fromUtf8(name))))
            << b);
}

} // namespace qorv::test
