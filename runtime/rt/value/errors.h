#pragma once

#include <stdexcept>

namespace rt {

/// A fault of the running code that a caller may catch: the two runtime errors of the platform.
class runtime_error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// Raised by integer division (or an operation defined through it) with a zero divisor.
class division_by_zero : public runtime_error {
public:
    division_by_zero() : runtime_error("division by zero") {}
};

/// Raised when the exact result of a decimal operation is too large to be held (beyond about
/// 10^6144): a number that has no exact decimal form here, never turned into an infinity.
class numeric_overflow : public runtime_error {
public:
    numeric_overflow() : runtime_error("numeric overflow") {}
};

/// Raised when a null or destroyed object is used.
class null_object_reference : public runtime_error {
public:
    null_object_reference() : runtime_error("null object reference") {}
};

} // namespace rt
