// Numbers as an EDF header holds them: decimal texts of at most 8 characters,
// read back by every reader as the nearest double. A signal's physical range is
// chosen so that the EDF formula gives back the values the caller meant.
#ifndef SIGTROVE_ENGINE_EDF_NUMBERS_H
#define SIGTROVE_ENGINE_EDF_NUMBERS_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace sigtrove::engine {

// The shortest decimal text of VALUE in at most WIDTH characters (no exponent)
// that reads back as the same double; where none does, the closest that fits.
// None when even the whole part does not fit, or VALUE is no finite number.
std::optional<std::string> edf_number_text(double value, std::size_t width = 8);

struct EdfPhysicalRange {
    std::string minimum, maximum;  // the header's texts
};

// The physical minimum and maximum such that the EDF formula
//   pmin + (d - dmin) * (pmax - pmin) / (dmax - dmin)
// gives (d - baseline) / gain for every stored value d of [dmin, dmax] (a gain
// of 0 counts as 200, as in WFDB headers). None when the header can not hold
// them (a range beyond 8 characters, or one that collapses to a point).
std::optional<EdfPhysicalRange> edf_physical_range(double gain, long long baseline, std::int32_t dmin,
                                                   std::int32_t dmax);

}  // namespace sigtrove::engine

#endif
