// Turning a frame (every open signal's samples) into getvec's vector (one
// value per signal) in each getvec mode: pad, low and high resolution.
#ifndef SIGTROVE_ENGINE_GETVEC_MODES_H
#define SIGTROVE_ENGINE_GETVEC_MODES_H

#include <cstddef>
#include <vector>

#include "wfdb/wfdb.h"

namespace sigtrove::engine {

// The layout of a frame: signal i's spf[i] samples start at offset[i].
struct FrameLayout {
    std::vector<int> spf;
    std::vector<std::size_t> offset;
    std::size_t size = 0;  // samples in a frame
    int spf_max = 1;
    bool all_single = true;  // every spf is 1: the frame is already a vector

    void add_signal(int samples_per_frame);
    void clear() { *this = FrameLayout(); }
};

// Pad mode: replaces each invalid sample by the signal's last valid sample
// (last_valid[i], which starts at INITVAL) and remembers the valid ones.
void pad_invalid_samples(const FrameLayout &layout, WFDB_Sample *frame, std::vector<WFDB_Sample> &last_valid);

// Low resolution: one value per signal, the mean of its samples rounded half
// up (exactly), or WFDB_INVALID_SAMPLE when any of them is invalid.
void low_resolution_vector(const FrameLayout &layout, const WFDB_Sample *frame, WFDB_Sample *vector);

// High resolution, call `sub` (0 <= sub < spf_max) within the frame: signal i
// gives its sample floor(sub * spf / spf_max).
void high_resolution_vector(const FrameLayout &layout, const WFDB_Sample *frame, int sub, WFDB_Sample *vector);

// The getvec mode that WFDBGVMODE asks for (bit 0 high resolution, bit 1 pad),
// 0 when unset or not a number. Reading it before or after the first lookup along
// the database path gives the same answer: that lookup sets WFDBGVMODE=0 only when
// it is unset (see database_path.cpp). Reads the environment only.
int getvec_mode_from_environment();

// floor((sum + floor(k / 2)) / k) for k > 0, whatever the sign of sum.
long long mean_rounded_half_up(long long sum, int k);

}  // namespace sigtrove::engine

#endif
