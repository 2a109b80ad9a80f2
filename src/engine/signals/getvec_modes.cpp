#include "signals/getvec_modes.h"

#include <cstdlib>

#include <algorithm>
#include <cstring>

namespace sigtrove::engine {

void FrameLayout::add_signal(int samples_per_frame) {
    spf.push_back(samples_per_frame);
    offset.push_back(size);
    size += static_cast<std::size_t>(samples_per_frame);
    spf_max = std::max(spf_max, samples_per_frame);
    all_single = all_single && samples_per_frame == 1;
}

void pad_invalid_samples(const FrameLayout &layout, WFDB_Sample *frame, std::vector<WFDB_Sample> &last_valid) {
    for (std::size_t i = 0; i < layout.spf.size(); ++i) {
        WFDB_Sample *sample = frame + layout.offset[i];
        for (int k = 0; k < layout.spf[i]; ++k) {
            if (sample[k] == WFDB_INVALID_SAMPLE)
                sample[k] = last_valid[i];
            else
                last_valid[i] = sample[k];
        }
    }
}

long long mean_rounded_half_up(long long sum, int k) {
    long long n = sum + k / 2;
    long long q = n / k;
    return (n % k != 0 && n < 0) ? q - 1 : q;
}

void low_resolution_vector(const FrameLayout &layout, const WFDB_Sample *frame, WFDB_Sample *vector) {
    if (layout.all_single) {
        std::memcpy(vector, frame, layout.size * sizeof(WFDB_Sample));
        return;
    }
    for (std::size_t i = 0; i < layout.spf.size(); ++i) {
        const WFDB_Sample *sample = frame + layout.offset[i];
        int k = layout.spf[i];
        if (k == 1) {
            vector[i] = sample[0];
            continue;
        }
        long long sum = 0;
        bool invalid = false;
        for (int j = 0; j < k; ++j) {
            invalid = invalid || sample[j] == WFDB_INVALID_SAMPLE;
            sum += sample[j];
        }
        vector[i] = invalid ? WFDB_INVALID_SAMPLE : static_cast<WFDB_Sample>(mean_rounded_half_up(sum, k));
    }
}

void high_resolution_vector(const FrameLayout &layout, const WFDB_Sample *frame, int sub, WFDB_Sample *vector) {
    for (std::size_t i = 0; i < layout.spf.size(); ++i) {
        long long index = static_cast<long long>(sub) * layout.spf[i] / layout.spf_max;
        vector[i] = frame[layout.offset[i] + static_cast<std::size_t>(index)];
    }
}

int getvec_mode_from_environment() {
    const char *text = std::getenv("WFDBGVMODE");
    if (!text) return 0;
    long mode = std::strtol(text, nullptr, 10);
    return mode < 0 ? 0 : static_cast<int>(mode & (WFDB_HIGHRES | WFDB_GVPAD));
}

}  // namespace sigtrove::engine
