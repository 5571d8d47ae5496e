#pragma once

// Pseudo-random numbers and GUIDs.

#include <cstdint>
#include <string>

namespace orb {

// A uniformly drawn integer in [0, range); 0 when range is not positive.
// Each thread draws from its own std::mt19937, seeded from the system's
// entropy source on first use and again after a fork.
int32_t RandomInt(int32_t range);

// A new GUID from 128 bits of the system's entropy source, in the braced
// upper-case text form "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" (38 chars).
std::string NewGuidText();

}  // namespace orb
