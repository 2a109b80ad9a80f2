#include "signals/array_sink.h"

#include <cmath>
#include <limits>
#include <memory>

#include "wfdb/wfdb.h"

namespace sigtrove::engine {
namespace {

// floor((sum + floor(k / 2)) / k), getvec's mean of a frame's samples.
inline std::int64_t mean_half_up(std::int64_t sum, int k) {
    std::int64_t n = sum + k / 2;
    std::int64_t q = n / k;
    return (n % k != 0 && n < 0) ? q - 1 : q;
}

// Stored values as they are (invalid samples keep their marker).
template <class Out>
struct Raw {
    Out operator()(std::int32_t v, std::size_t) const { return static_cast<Out>(v); }
};

// Physical units: the subtraction and the division in double, as the WFDB definition has them.
template <class Out>
struct Physical {
    const PhysicalScale *scales;
    Out operator()(std::int32_t v, std::size_t column) const {
        const PhysicalScale &s = scales[column];
        double value = (static_cast<double>(v) - s.baseline) / s.gain;
        return v == WFDB_INVALID_SAMPLE ? std::numeric_limits<Out>::quiet_NaN() : static_cast<Out>(value);
    }
};

template <class Out>
struct Invalid {
    Out operator()() const {
        if constexpr (std::numeric_limits<Out>::is_integer)
            return static_cast<Out>(WFDB_INVALID_SAMPLE);
        else
            return std::numeric_limits<Out>::quiet_NaN();
    }
};

template <class Out, class Convert>
class ArraySink final : public FrameSink {
public:
    ArraySink(Out *data, std::size_t columns, SampleRate rate, Convert convert)
        : data_(data), columns_(columns), rate_(rate), convert_(convert) {}

    void put(std::size_t row, std::size_t frames, const ColumnBlock *blocks) override {
        if (rate_ == SampleRate::own) {
            put_own_rate(row, frames, blocks[0]);
            return;
        }
        if (is_contiguous(blocks)) {
            put_contiguous(row, frames, blocks[0].first);
            return;
        }
        for (std::size_t c = 0; c < columns_; ++c) put_column(row, frames, c, blocks[c]);
    }

private:
    // Every column has one sample per frame and the block's frames are laid out
    // exactly as the output's rows: the whole block converts in one pass.
    bool is_contiguous(const ColumnBlock *blocks) const {
        const std::int32_t *first = blocks[0].first;
        if (!first) return false;
        for (std::size_t c = 0; c < columns_; ++c) {
            if (blocks[c].spf != 1 || blocks[c].stride != columns_ || blocks[c].first != first + c) return false;
        }
        return true;
    }

    void put_contiguous(std::size_t row, std::size_t frames, const std::int32_t *in) {
        Out *out = data_ + row * columns_;
        if (columns_ == 1) {
            for (std::size_t k = 0; k < frames; ++k) out[k] = convert_(in[k], 0);
            return;
        }
        for (std::size_t k = 0; k < frames; ++k, in += columns_, out += columns_)
            for (std::size_t c = 0; c < columns_; ++c) out[c] = convert_(in[c], c);
    }

    void put_column(std::size_t row, std::size_t frames, std::size_t c, const ColumnBlock &block) {
        Out *out = data_ + row * columns_ + c;
        if (!block.first) {
            const Out invalid = Invalid<Out>()();
            for (std::size_t k = 0; k < frames; ++k) out[k * columns_] = invalid;
            return;
        }
        const std::int32_t *in = block.first;
        const std::size_t stride = block.stride;
        if (block.spf == 1) {
            for (std::size_t k = 0; k < frames; ++k) out[k * columns_] = convert_(in[k * stride], c);
            return;
        }
        const int spf = block.spf;
        for (std::size_t k = 0; k < frames; ++k) {
            const std::int32_t *sample = in + k * stride;
            std::int64_t sum = 0;
            bool invalid = false;
            for (int j = 0; j < spf; ++j) {
                invalid = invalid || sample[j] == WFDB_INVALID_SAMPLE;
                sum += sample[j];
            }
            auto mean = static_cast<std::int32_t>(mean_half_up(sum, spf));
            out[k * columns_] = convert_(invalid ? WFDB_INVALID_SAMPLE : mean, c);
        }
    }

    void put_own_rate(std::size_t row, std::size_t frames, const ColumnBlock &block) {
        const auto spf = static_cast<std::size_t>(block.spf);
        Out *out = data_ + row * spf;
        if (!block.first) {
            const Out invalid = Invalid<Out>()();
            for (std::size_t i = 0; i < frames * spf; ++i) out[i] = invalid;
            return;
        }
        for (std::size_t k = 0; k < frames; ++k, out += spf) {
            const std::int32_t *sample = block.first + k * block.stride;
            for (std::size_t j = 0; j < spf; ++j) out[j] = convert_(sample[j], 0);
        }
    }

    Out *data_;
    std::size_t columns_;
    SampleRate rate_;
    Convert convert_;
};

template <class Out, class Convert>
std::unique_ptr<FrameSink> sink_of(void *data, std::size_t columns, SampleRate rate, Convert convert) {
    return std::make_unique<ArraySink<Out, Convert>>(static_cast<Out *>(data), columns, rate, convert);
}

}  // namespace

std::size_t sample_size(SampleType type) {
    switch (type) {
        case SampleType::int16: return 2;
        case SampleType::int32: return 4;
        case SampleType::float32: return 4;
        case SampleType::float64: return 8;
    }
    return 0;
}

std::unique_ptr<FrameSink> make_array_sink(SampleType type, void *data, std::size_t columns, SampleRate rate,
                                           const std::vector<PhysicalScale> &scales) {
    switch (type) {
        case SampleType::int16: return sink_of<std::int16_t>(data, columns, rate, Raw<std::int16_t>{});
        case SampleType::int32: return sink_of<std::int32_t>(data, columns, rate, Raw<std::int32_t>{});
        case SampleType::float32: return sink_of<float>(data, columns, rate, Physical<float>{scales.data()});
        case SampleType::float64: return sink_of<double>(data, columns, rate, Physical<double>{scales.data()});
    }
    return nullptr;
}

}  // namespace sigtrove::engine
