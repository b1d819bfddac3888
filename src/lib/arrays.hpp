#pragma once
// NumPy arrays for the key functions: the zero-copy, read-only view of a
// handle's decoded values, and owned float64 / float32 / int64 copies.
// NumPy's C interface is loaded on first use.
#include <cstdint>
#include <functional>
#include <span>

#include "lib/handles.hpp"

namespace vorlak::py {

// A read-only float64 array over `values` (which the handle's memo owns),
// with the handle object as its base so that it keeps the values alive.
PyObject* values_view(HandleObject* owner, std::span<const double> values);

PyObject* owned_float64(std::span<const double> values);
// A new float64 array of `size` elements written in place by `fill`, which
// raises and returns false on failure (the array is then dropped).
PyObject* filled_float64(std::uint64_t size, const std::function<bool(std::span<double>)>& fill);
// Rounded to the nearest float32.
PyObject* owned_float32(std::span<const double> values);
// Truncated toward zero, saturating, NaN as 0.
PyObject* owned_int64(std::span<const double> values);

}  // namespace vorlak::py
