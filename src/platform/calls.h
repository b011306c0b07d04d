// The seam style of every subsystem: a table of the Windows calls it makes,
// one member per call, named after it and defaulting to the real function.
// Production code reads like the plain API (`calls.CreateServiceW(...)`);
// a test replaces a member with a lambda that captures its own state.
#pragma once

#include <functional>

namespace tarnwick {

template <typename Signature>
using Call = std::function<Signature>;

}  // namespace tarnwick
