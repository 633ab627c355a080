#pragma once

// Formulas of the in-process spreadsheet server: R1C1 references rewritten in A1 form, and the
// results the server computes itself so that viewers which do not recalculate show them.

#include <rt/grid/xlsx.h>

#include <QString>
#include <QStringView>

#include <optional>

namespace rt::detail {

/// An R1C1 formula ("=SUM(R[-3]C:R[-1]C)") in A1 form relative to the cell (row, column)
/// ("=SUM(B2:B4)" at B5). Throws rt::runtime_error for a reference outside the sheet.
QString r1c1_to_a1(const QString& formula, int row, int column);
/// The result of an A1 formula (without "=") over a sheet: SUM and + - * / of numbers and cells.
/// std::nullopt when it cannot be computed here.
std::optional<double> compute_formula(const xlsx::sheet& sheet, QStringView formula);

} // namespace rt::detail
