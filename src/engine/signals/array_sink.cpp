#include "signals/array_sink.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <numeric>
#include <type_traits>
#include <utility>

#include "signals/sample_kernels.h"
#include "wfdb/wfdb.h"

namespace sigtrove::engine {
namespace {

// floor((sum + floor(k / 2)) / k), getvec's mean of a frame's samples.
inline std::int64_t mean_half_up(std::int64_t sum, int k) {
    std::int64_t n = sum + k / 2;
    std::int64_t q = n / k;
    return (n % k != 0 && n < 0) ? q - 1 : q;
}

template <class Out>
Out physical_value(std::int32_t v, double baseline, double gain) {
    double value = (static_cast<double>(v) - baseline) / gain;
    return v == WFDB_INVALID_SAMPLE ? std::numeric_limits<Out>::quiet_NaN() : static_cast<Out>(value);
}

// Stored values as they are (invalid samples keep their marker).
template <class Out>
struct Raw {
    explicit Raw(std::size_t) {}
    Out operator()(std::int32_t v, std::size_t) const { return static_cast<Out>(v); }

    void convert_rows(const std::int32_t *in, std::size_t n, Out *out) const {
        if constexpr (std::is_same_v<Out, std::int32_t>) {
            std::memcpy(out, in, n * sizeof(Out));
        } else if constexpr (std::is_same_v<Out, std::int16_t>) {
            copy_rows(in, n, 1, n, out, n);
        } else {
            for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<Out>(in[i]);
        }
    }

    // Columns [first, first + width) of `rows` rows.
    void convert_block(const std::int32_t *in, std::size_t in_stride, std::size_t rows, std::size_t first,
                       std::size_t width, Out *out, std::size_t out_stride) const {
        (void)first;
        if constexpr (std::is_same_v<Out, std::int32_t> || std::is_same_v<Out, std::int16_t>) {
            copy_rows(in, in_stride, rows, width, out, out_stride);
        } else {
            for (std::size_t r = 0; r < rows; ++r)
                for (std::size_t j = 0; j < width; ++j)
                    out[r * out_stride + j] = static_cast<Out>(in[r * in_stride + j]);
        }
    }
};

// Physical units: the subtraction and the division in double, as the WFDB definition has them.
template <class Out>
struct Physical {
    // Rows are converted in runs of whole rows with each value's baseline and gain
    // laid out beside it, so the loop has no per-value column arithmetic and vectorises.
    static constexpr std::size_t kRunValues = 256;

    Physical(const std::vector<PhysicalScale> &scales, std::size_t columns) : scales_(scales) {
        std::size_t rows = std::max<std::size_t>(1, kRunValues / std::max<std::size_t>(columns, 1));
        for (std::size_t r = 0; r < rows; ++r)
            for (std::size_t c = 0; c < columns; ++c) {
                baseline_.push_back(scales[c].baseline);
                gain_.push_back(scales[c].gain);
            }
    }

    Out operator()(std::int32_t v, std::size_t column) const {
        return physical_value<Out>(v, scales_[column].baseline, scales_[column].gain);
    }

    void convert_rows(const std::int32_t *in, std::size_t n, Out *out) const {
        physical_runs(in, n, baseline_.data(), gain_.data(), baseline_.size(), out);
    }

    // n values of one column.
    void convert_column(const std::int32_t *in, std::size_t n, std::size_t column, Out *out) const {
        physical_runs(in, n, baseline_.data() + column, gain_.data() + column, 1, out);
    }

    // Columns [first, first + width) of `rows` rows.
    void convert_block(const std::int32_t *in, std::size_t in_stride, std::size_t rows, std::size_t first,
                       std::size_t width, Out *out, std::size_t out_stride) const {
        physical_rows(in, in_stride, rows, width, baseline_.data() + first, gain_.data() + first, out, out_stride);
    }

    std::vector<PhysicalScale> scales_;
    std::vector<double> baseline_, gain_;
};

// Physical units by the EDF definition: no value is reserved for invalid samples.
template <class Out>
struct EdfPhysical {
    static constexpr std::size_t kRunValues = 256;

    EdfPhysical(const std::vector<PhysicalScale> &scales, std::size_t columns) : scales_(scales) {
        std::size_t rows = std::max<std::size_t>(1, kRunValues / std::max<std::size_t>(columns, 1));
        for (std::size_t r = 0; r < rows; ++r)
            for (std::size_t c = 0; c < columns; ++c) {
                digital_min_.push_back(scales[c].digital_min);
                physical_min_.push_back(scales[c].physical_min);
                physical_span_.push_back(scales[c].physical_span);
                digital_span_.push_back(scales[c].digital_span);
            }
    }

    Out operator()(std::int32_t v, std::size_t column) const {
        const PhysicalScale &s = scales_[column];
        return static_cast<Out>(s.physical_min +
                                (static_cast<double>(v) - s.digital_min) * s.physical_span / s.digital_span);
    }

    void convert_rows(const std::int32_t *in, std::size_t n, Out *out) const {
        edf_physical_runs(in, n, coefficients(0), digital_min_.size(), out);
    }

    void convert_column(const std::int32_t *in, std::size_t n, std::size_t column, Out *out) const {
        edf_physical_runs(in, n, coefficients(column), 1, out);
    }

    void convert_block(const std::int32_t *in, std::size_t in_stride, std::size_t rows, std::size_t first,
                       std::size_t width, Out *out, std::size_t out_stride) const {
        edf_physical_rows(in, in_stride, rows, width, coefficients(first), out, out_stride);
    }

    EdfCoefficients coefficients(std::size_t first) const {
        return EdfCoefficients{digital_min_.data() + first, physical_min_.data() + first, physical_span_.data() + first,
                               digital_span_.data() + first};
    }

    std::vector<PhysicalScale> scales_;
    std::vector<double> digital_min_, physical_min_, physical_span_, digital_span_;
};

// Columns of both kinds in one array: each value by its own column's kind.
template <class Out>
struct MixedPhysical {
    MixedPhysical(const std::vector<PhysicalScale> &scales, std::size_t columns)
        : wfdb_(scales, columns), edf_(scales, columns), columns_(columns) {}

    Out operator()(std::int32_t v, std::size_t column) const {
        return wfdb_.scales_[column].kind == PhysicalKind::edf ? edf_(v, column) : wfdb_(v, column);
    }

    void convert_rows(const std::int32_t *in, std::size_t n, Out *out) const {
        for (std::size_t i = 0; i < n; ++i) out[i] = (*this)(in[i], i % columns_);
    }

    void convert_column(const std::int32_t *in, std::size_t n, std::size_t column, Out *out) const {
        if (wfdb_.scales_[column].kind == PhysicalKind::edf)
            edf_.convert_column(in, n, column, out);
        else
            wfdb_.convert_column(in, n, column, out);
    }

    void convert_block(const std::int32_t *in, std::size_t in_stride, std::size_t rows, std::size_t first,
                       std::size_t width, Out *out, std::size_t out_stride) const {
        for (std::size_t r = 0; r < rows; ++r)
            for (std::size_t j = 0; j < width; ++j) out[r * out_stride + j] = (*this)(in[r * in_stride + j], first + j);
    }

    Physical<Out> wfdb_;
    EdfPhysical<Out> edf_;
    std::size_t columns_;
};

bool same_scale(const PhysicalScale &a, const PhysicalScale &b) {
    return a.kind == b.kind && a.baseline == b.baseline && a.gain == b.gain && a.digital_min == b.digital_min &&
           a.physical_min == b.physical_min && a.physical_span == b.physical_span && a.digital_span == b.digital_span;
}

// Whole rows converted through a table that holds, for each distinct scale of
// the columns, the physical value of every 16-bit stored value. The entries are
// made by `Inner`'s own conversion, so the output is bit for bit what `Inner`
// writes (an invalid sample's entry is its NaN), but a value costs a gathered
// load instead of a division: a converting loop is bound by the division's
// throughput, a lookup by the memory it writes. The table is made once the read
// has converted as many values as it holds (a short read never pays for it),
// and only for a few distinct scales, so that it stays in the second-level
// cache. Blocks with values beyond 16 bits (formats 24 and 32, differences of
// format 8) are converted by `Inner`.
template <class Out, class Inner>
struct Tabled {
    static constexpr std::size_t kEntries = 1u << 16;
    static constexpr std::size_t kMaxScales = 4;

    Tabled(const std::vector<PhysicalScale> &scales, std::size_t columns) : inner_(scales, columns) {
        std::vector<std::size_t> segment;
        for (std::size_t c = 0; c < columns; ++c) {
            std::size_t s = 0;
            while (s < representative_.size() && !same_scale(scales[representative_[s]], scales[c])) ++s;
            if (s == representative_.size()) representative_.push_back(c);
            segment.push_back(s);
        }
        if (columns == 0 || columns > 256 || representative_.size() > kMaxScales) return;
        // A run of whole rows that is a whole number of vectors: lcm(columns, 16) values.
        const std::size_t run = columns * (16 / std::gcd<std::size_t>(columns, 16));
        for (std::size_t p = 0; p < run; ++p)
            base_.push_back(static_cast<std::uint32_t>(segment[p % columns] * kEntries));
    }

    Out operator()(std::int32_t v, std::size_t column) const { return inner_(v, column); }

    void convert_rows(const std::int32_t *in, std::size_t n, Out *out) {
        converted_ += n;
        if (table_.empty() && !base_.empty() && converted_ >= kEntries * representative_.size()) make_table();
        if (table_.empty() || !lookup16_runs(in, n, base_.data(), base_.size(), table_.data(), out))
            inner_.convert_rows(in, n, out);
    }

    void convert_block(const std::int32_t *in, std::size_t in_stride, std::size_t rows, std::size_t first,
                       std::size_t width, Out *out, std::size_t out_stride) const {
        inner_.convert_block(in, in_stride, rows, first, width, out, out_stride);
    }

private:
    void make_table() {
        std::vector<std::int32_t> values(kEntries);
        for (std::size_t k = 0; k < kEntries; ++k) values[k] = static_cast<std::int32_t>(k) - 0x8000;
        table_.resize(kEntries * representative_.size());
        for (std::size_t s = 0; s < representative_.size(); ++s)
            inner_.convert_column(values.data(), kEntries, representative_[s], table_.data() + s * kEntries);
    }

    Inner inner_;
    std::vector<std::size_t> representative_;  // a column of each distinct scale
    std::vector<std::uint32_t> base_;          // per place of a run: where its column's segment starts
    std::vector<Out> table_;                   // a segment of kEntries values per distinct scale
    std::size_t converted_ = 0;                // values converted by this sink so far
};

// WFDB physical units by the refined quotient (sample_kernels.h): a multiplication
// and two fused multiply-adds per value instead of a division, which bounds a
// converting loop by its throughput, and no gathered loads. The refined quotient
// is the division's own result away from overflow and underflow, and here it is
// only ever used where that has been seen: before a block is converted this way,
// the values it spans are converted both ways for every distinct scale of the
// columns and compared bit for bit. The compared span grows with the values the
// reads meet (a format 212 record meets a few thousand at most), and growing it
// never costs more than the values read so far, so a short window stays cheap; a
// block outside the compared span, or any scale where the two differ (gains near
// the ends of the double range), goes to `Inner`.
template <class Out, class Inner>
struct Refined {
    // Values compared before any has been read: a short window's whole span, usually.
    static constexpr std::int64_t kFirstCheck = 4096;

    Refined(const std::vector<PhysicalScale> &scales, std::size_t columns)
        : inner_(scales, columns), columns_(columns) {
        if (columns == 0 || columns > 256 || !refined_quotient_available()) return;
        for (std::size_t c = 0; c < columns; ++c) {
            bool seen = false;
            for (const PhysicalScale &s : distinct_) seen = seen || same_scale(s, scales[c]);
            if (!seen) distinct_.push_back(scales[c]);
        }
        // A run of whole rows that is a whole number of vectors: lcm(columns, 16)
        // values, or 16 when every column has the same scale.
        const std::size_t run = distinct_.size() == 1 ? 16 : columns * (16 / std::gcd<std::size_t>(columns, 16));
        for (std::size_t p = 0; p < run; ++p) {
            const PhysicalScale &s = distinct_.size() == 1 ? distinct_[0] : scales[p % columns];
            baseline_.push_back(s.baseline);
            gain_.push_back(s.gain);
            reciprocal_.push_back(1.0 / s.gain);
        }
    }

    Out operator()(std::int32_t v, std::size_t column) const { return inner_(v, column); }

    // The block is converted first and its values' range checked after, which
    // spares a pass over it; a block outside what has been compared is written again.
    void convert_rows(const std::int32_t *in, std::size_t n, Out *out) {
        converted_ += static_cast<std::int64_t>(n);
        if (!baseline_.empty() && n > 0 &&
            compared(refined_quotient_runs(in, n, baseline_.data(), gain_.data(), reciprocal_.data(), baseline_.size(),
                                           out)))
            return;
        inner_.convert_rows(in, n, out);
    }

    // Rows of at most 16 columns are assembled from the blocks they lie in (one
    // per signal file) and converted in one vector each; columns of one scale
    // convert block by block. Either way with no staging of the rows first.
    bool gathers() const { return !baseline_.empty() && columns_ <= 16 && refined_quotient_gathers(); }
    bool one_scale() const { return !baseline_.empty() && distinct_.size() == 1; }
    bool converts_blocks() const { return gathers() || one_scale(); }

    void convert_gathered(const ColumnRun *runs, std::size_t run_count, std::size_t rows, Out *out) {
        converted_ += static_cast<std::int64_t>(rows * columns_);
        if (rows > 0 && compared(refined_quotient_gathered(runs, run_count, rows, columns_, baseline_.data(),
                                                           gain_.data(), reciprocal_.data(), out)))
            return;
        for (std::size_t k = 0; k < run_count; ++k)
            inner_.convert_block(runs[k].first, runs[k].stride, rows, runs[k].column, runs[k].width,
                                 out + runs[k].column, columns_);
    }

    void convert_block(const std::int32_t *in, std::size_t in_stride, std::size_t rows, std::size_t first,
                       std::size_t width, Out *out, std::size_t out_stride) {
        converted_ += static_cast<std::int64_t>(rows * width);
        if (one_scale() && rows * width > 0 &&
            compared(refined_quotient_rows(in, in_stride, rows, width, baseline_[0], gain_[0], reciprocal_[0], out,
                                           out_stride)))
            return;
        inner_.convert_block(in, in_stride, rows, first, width, out, out_stride);
    }

private:
    // True when every value of `range` has been compared (comparing what is
    // missing now if that is cheap enough) and both ways agreed.
    bool compared(ValueRange range) {
        std::int64_t low = range.low, high = range.high;
        if (low_ > high_) {
            if (!affordable(high - low + 1) || !agree(low, high)) return false;
        } else if (low < low_ || high > high_) {
            low = std::min(low, low_);
            high = std::max(high, high_);
            if (!affordable((low_ - low) + (high - high_))) return false;
            if (low < low_ && !agree(low, low_ - 1)) return false;
            if (high > high_ && !agree(high_ + 1, high)) return false;
        } else {
            return true;
        }
        low_ = low;
        high_ = high;
        return true;
    }

    bool affordable(std::int64_t values) const {
        return values * static_cast<std::int64_t>(distinct_.size()) <= kFirstCheck + converted_;
    }

    // Converts every value of [low, high] by each distinct scale both ways; false
    // (and the refined quotient never used again) when some value differs.
    bool agree(std::int64_t low, std::int64_t high) {
        constexpr std::size_t kChunk = 1024;
        std::vector<std::int32_t> values(kChunk);
        std::vector<double> divided(kChunk), refined(kChunk);
        for (const PhysicalScale &s : distinct_) {
            const std::vector<double> baseline(16, s.baseline), gain(16, s.gain), reciprocal(16, 1.0 / s.gain);
            for (std::int64_t first = low; first <= high; first += static_cast<std::int64_t>(kChunk)) {
                const auto n = static_cast<std::size_t>(std::min<std::int64_t>(kChunk, high - first + 1));
                for (std::size_t k = 0; k < n; ++k)
                    values[k] = static_cast<std::int32_t>(first + static_cast<std::int64_t>(k));
                physical_runs(values.data(), n, baseline.data(), gain.data(), 16, divided.data());
                (void)refined_quotient_runs(values.data(), n, baseline.data(), gain.data(), reciprocal.data(), 16,
                                            refined.data());
                if (std::memcmp(divided.data(), refined.data(), n * sizeof(double)) != 0) {
                    baseline_.clear();
                    return false;
                }
            }
        }
        return true;
    }

    Inner inner_;
    std::size_t columns_;
    std::vector<PhysicalScale> distinct_;
    std::vector<double> baseline_, gain_, reciprocal_;  // per place of a run of whole rows; empty: not used
    std::int64_t low_ = 1, high_ = 0;                   // the values compared so far (none while low_ > high_)
    std::int64_t converted_ = 0;                        // values converted by this sink so far
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
        : data_(data), columns_(columns), rate_(rate), convert_(std::move(convert)) {}

    void put(std::size_t row, std::size_t frames, const ColumnBlock *blocks) override {
        if (rate_ == SampleRate::own) {
            put_own_rate(row, frames, blocks[0]);
            return;
        }
        if (is_contiguous(blocks)) {
            put_contiguous(row, frames, blocks[0].first);
            return;
        }
        if constexpr (!std::is_integral_v<Out>) {
            if constexpr (requires { convert_.converts_blocks(); }) {
                if (convert_.converts_blocks() && put_blocks(row, frames, blocks)) return;
            }
            // Converting is the costly part: gather the rows first, then convert them in one flat pass.
            if (gather_rows(frames, blocks)) {
                put_contiguous(row, frames, staging_.data());
                return;
            }
        }
        // Runs of columns that lie side by side in one decoded block are converted
        // row by row together; the rest column by column.
        for (std::size_t c = 0; c < columns_;) {
            std::size_t width = adjacent_columns(blocks, c);
            if (width > 1) {
                convert_.convert_block(blocks[c].first, blocks[c].stride, frames, c, width, data_ + row * columns_ + c,
                                       columns_);
            } else {
                put_column(row, frames, c, blocks[c]);
            }
            c += std::max<std::size_t>(width, 1);
        }
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

    // Converts each block's run of columns into the output's rows; false (nothing
    // written) when a column needs averaging or has no valid samples.
    bool put_blocks(std::size_t row, std::size_t frames, const ColumnBlock *blocks) {
        for (std::size_t c = 0; c < columns_; ++c)
            if (!blocks[c].first || blocks[c].spf != 1) return false;
        runs_.clear();
        for (std::size_t c = 0; c < columns_;) {
            std::size_t width = adjacent_columns(blocks, c);
            runs_.push_back({blocks[c].first, blocks[c].stride, c, width});
            c += width;
        }
        if (convert_.gathers()) {
            convert_.convert_gathered(runs_.data(), runs_.size(), frames, data_ + row * columns_);
            return true;
        }
        for (const ColumnRun &run : runs_)
            convert_.convert_block(run.first, run.stride, frames, run.column, run.width,
                                   data_ + row * columns_ + run.column, columns_);
        return true;
    }

    // Copies the block's rows into staging_ as rows of the output's layout; false
    // (nothing copied) when a column needs averaging or has no valid samples.
    bool gather_rows(std::size_t frames, const ColumnBlock *blocks) {
        for (std::size_t c = 0; c < columns_; ++c)
            if (!blocks[c].first || blocks[c].spf != 1) return false;
        staging_.resize(frames * columns_);
        for (std::size_t c = 0; c < columns_;) {
            std::size_t width = adjacent_columns(blocks, c);
            copy_rows(blocks[c].first, blocks[c].stride, frames, width, staging_.data() + c, columns_);
            c += width;
        }
        return true;
    }

    // How many columns from c on have one sample per frame and follow each other in the same block.
    std::size_t adjacent_columns(const ColumnBlock *blocks, std::size_t c) const {
        const ColumnBlock &start = blocks[c];
        if (!start.first || start.spf != 1) return 0;
        std::size_t width = 1;
        while (c + width < columns_) {
            const ColumnBlock &next = blocks[c + width];
            if (next.spf != 1 || next.stride != start.stride || next.first != start.first + width) break;
            ++width;
        }
        return width;
    }

    void put_contiguous(std::size_t row, std::size_t frames, const std::int32_t *in) {
        convert_.convert_rows(in, frames * columns_, data_ + row * columns_);
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
                invalid = invalid || (block.invalid_marker && sample[j] == WFDB_INVALID_SAMPLE);
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
    std::vector<std::int32_t> staging_;  // a block's rows gathered, at most one decoded block
    std::vector<ColumnRun> runs_;        // where each run of adjacent columns lies in a block
};

template <class Out, class Convert>
std::unique_ptr<FrameSink> sink_of(void *data, std::size_t columns, SampleRate rate, Convert convert) {
    return std::make_unique<ArraySink<Out, Convert>>(static_cast<Out *>(data), columns, rate, std::move(convert));
}

template <class Out>
std::unique_ptr<FrameSink> physical_sink(void *data, std::size_t columns, SampleRate rate,
                                         const std::vector<PhysicalScale> &scales, std::size_t edf_columns) {
    if (edf_columns == 0)
        return sink_of<Out>(data, columns, rate, Refined<Out, Tabled<Out, Physical<Out>>>(scales, columns));
    if (edf_columns == columns)
        return sink_of<Out>(data, columns, rate, Tabled<Out, EdfPhysical<Out>>(scales, columns));
    return sink_of<Out>(data, columns, rate, Tabled<Out, MixedPhysical<Out>>(scales, columns));
}

}  // namespace

std::size_t sample_size(SampleType type) {
    switch (type) {
        case SampleType::int16: return 2;
        case SampleType::int32: return 4;
        case SampleType::int64: return 8;
        case SampleType::float32: return 4;
        case SampleType::float64: return 8;
    }
    return 0;
}

PhysicalScale physical_scale(const SignalSpec &signal) {
    PhysicalScale scale{static_cast<double>(signal.baseline), signal.gain == 0 ? WFDB_DEFGAIN : signal.gain};
    if (signal.edf) {
        const EdfCalibration &c = *signal.edf;
        scale.kind = PhysicalKind::edf;
        scale.digital_min = c.digital_min;
        scale.physical_min = c.physical_min;
        scale.physical_span = c.physical_max - c.physical_min;
        scale.digital_span = c.digital_max - c.digital_min;
    }
    return scale;
}

std::unique_ptr<FrameSink> make_array_sink(SampleType type, SampleValues values, void *data, std::size_t columns,
                                           SampleRate rate, const std::vector<PhysicalScale> &scales) {
    if (values == SampleValues::physical) {
        std::size_t edf = 0;
        for (std::size_t c = 0; c < columns && c < scales.size(); ++c) edf += scales[c].kind == PhysicalKind::edf;
        if (type == SampleType::float32) return physical_sink<float>(data, columns, rate, scales, edf);
        if (type == SampleType::float64) return physical_sink<double>(data, columns, rate, scales, edf);
        return nullptr;
    }
    switch (type) {
        case SampleType::int16: return sink_of<std::int16_t>(data, columns, rate, Raw<std::int16_t>(columns));
        case SampleType::int32: return sink_of<std::int32_t>(data, columns, rate, Raw<std::int32_t>(columns));
        case SampleType::int64: return sink_of<std::int64_t>(data, columns, rate, Raw<std::int64_t>(columns));
        case SampleType::float32: return sink_of<float>(data, columns, rate, Raw<float>(columns));
        case SampleType::float64: return sink_of<double>(data, columns, rate, Raw<double>(columns));
    }
    return nullptr;
}

std::unique_ptr<FrameSink> make_array_sink(SampleType type, void *data, std::size_t columns, SampleRate rate,
                                           const std::vector<PhysicalScale> &scales) {
    bool physical = type == SampleType::float32 || type == SampleType::float64;
    return make_array_sink(type, physical ? SampleValues::physical : SampleValues::stored, data, columns, rate, scales);
}

}  // namespace sigtrove::engine
