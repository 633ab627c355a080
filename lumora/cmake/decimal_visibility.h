// Forced in front of the runtime's decimal.cpp when it is compiled into liblumora.so: the class
// and its operators are declared with default visibility and so exported, while everything else
// that source instantiates stays hidden. Qt's headers come first so that the pragma covers only
// the declarations of rt/decimal.h.
#include <QString>
#include <QStringView>

#include <compare>
#include <cstdint>
#include <optional>

#pragma GCC visibility push(default)
#include <rt/decimal.h>
namespace rt {
// Friends take their visibility from a declaration at namespace scope.
decimal operator+(const decimal& a, const decimal& b);
decimal operator-(const decimal& a, const decimal& b);
decimal operator*(const decimal& a, const decimal& b);
decimal operator/(const decimal& a, const decimal& b);
bool operator==(const decimal& a, const decimal& b);
std::strong_ordering operator<=>(const decimal& a, const decimal& b);
} // namespace rt
#pragma GCC visibility pop
