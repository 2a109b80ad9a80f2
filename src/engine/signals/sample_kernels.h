// The loops every bulk read runs over each value: marker replacement, checksum
// sums and conversion to physical units (by division, by the refined quotient
// or by table). Each is compiled for the wider vector units of the running
// processor as well as for the baseline, and the best one the processor has is
// chosen when the library loads.
#ifndef SIGTROVE_ENGINE_SAMPLE_KERNELS_H
#define SIGTROVE_ENGINE_SAMPLE_KERNELS_H

#include <cstddef>
#include <cstdint>

namespace sigtrove::engine {

// values[i] == marker becomes WFDB_INVALID_SAMPLE.
void replace_marker(std::int32_t *values, std::size_t n, std::int32_t marker);

// lanes[j] += values[i + j] & mask[j] for each whole run of `run` values, then
// for the rest (fewer than `run` values).
void add_masked_runs(const std::int32_t *values, std::size_t n, const std::uint32_t *mask, std::size_t run,
                     std::uint32_t *lanes);

// The same, and each value equal to `marker` becomes WFDB_INVALID_SAMPLE once
// summed (one pass over a block that is both summed and has its markers replaced).
void add_masked_runs_replacing(std::int32_t *values, std::size_t n, const std::uint32_t *mask, std::size_t run,
                               std::uint32_t *lanes, std::int32_t marker);

// out[i] = (values[i] - baseline[j]) / gain[j] with j = i mod run (NaN for an
// invalid sample), the subtraction and division in double.
void physical_runs(const std::int32_t *values, std::size_t n, const double *baseline, const double *gain,
                   std::size_t run, double *out);
void physical_runs(const std::int32_t *values, std::size_t n, const double *baseline, const double *gain,
                   std::size_t run, float *out);

// For each of `rows` rows: out[r * out_stride + j] = (values[r * in_stride + j] -
// baseline[j]) / gain[j] for j < width (NaN for an invalid sample).
void physical_rows(const std::int32_t *values, std::size_t in_stride, std::size_t rows, std::size_t width,
                   const double *baseline, const double *gain, double *out, std::size_t out_stride);
void physical_rows(const std::int32_t *values, std::size_t in_stride, std::size_t rows, std::size_t width,
                   const double *baseline, const double *gain, float *out, std::size_t out_stride);

// Conversion by table, for values of 16 bits: out[i] = table[base[i mod run] +
// values[i] + 32768]. False, with `out` left to be written again, when some
// value lies outside [-32768, 32767] (the table then has no entry for it).
// `run` is a multiple of 16; each index reached must lie in the table.
bool lookup16_runs(const std::int32_t *values, std::size_t n, const std::uint32_t *base, std::size_t run,
                   const double *table, double *out);
bool lookup16_runs(const std::int32_t *values, std::size_t n, const std::uint32_t *base, std::size_t run,
                   const float *table, float *out);

// The lowest and the highest of some values.
struct ValueRange {
    std::int32_t low, high;
};

// Conversion to physical units without a division, where the processor has
// fused multiply-add in its vector units (refined_quotient_available()): with
// x = values[i] - baseline[j] and r = reciprocal[j] (j = i mod run, r the
// double nearest 1 / gain[j]), q0 = x * r, e = x - q0 * gain[j] (exact in one
// fused multiply-add) and out[i] = q0 + e * r rounded once (NaN for an invalid
// sample). Away from overflow and underflow this is the correctly rounded
// quotient, the division's own result; callers use it only for values where
// they have compared the two (see Refined in array_sink.cpp), and so get the
// range of the values converted (n > 0) back. `run` is a multiple of 16.
bool refined_quotient_available();
ValueRange refined_quotient_runs(const std::int32_t *values, std::size_t n, const double *baseline, const double *gain,
                                 const double *reciprocal, std::size_t run, double *out);
ValueRange refined_quotient_runs(const std::int32_t *values, std::size_t n, const double *baseline, const double *gain,
                                 const double *reciprocal, std::size_t run, float *out);

// The same for `rows` rows (n = rows * width > 0) of columns that all have
// one scale: out[r * out_stride + j] from values[r * in_stride + j], j < width.
ValueRange refined_quotient_rows(const std::int32_t *values, std::size_t in_stride, std::size_t rows, std::size_t width,
                                 double baseline, double gain, double reciprocal, double *out, std::size_t out_stride);
ValueRange refined_quotient_rows(const std::int32_t *values, std::size_t in_stride, std::size_t rows, std::size_t width,
                                 double baseline, double gain, double reciprocal, float *out, std::size_t out_stride);

// Where some of a row's columns lie: columns [column, column + width) of row r
// are first[r * stride + j], j < width.
struct ColumnRun {
    const std::int32_t *first;
    std::size_t stride, column, width;
};

// The same for `rows` (> 0) rows of at most 16 columns taken from the blocks
// they lie in (`runs` cover every column once, in order): each output row is
// assembled in one vector and written at once, as a contiguous read writes it.
// Only where refined_quotient_gathers() (the vector units have lane masks);
// the scales are those of the first `columns` places of a run.
bool refined_quotient_gathers();
ValueRange refined_quotient_gathered(const ColumnRun *runs, std::size_t run_count, std::size_t rows,
                                     std::size_t columns, const double *baseline, const double *gain,
                                     const double *reciprocal, double *out);
ValueRange refined_quotient_gathered(const ColumnRun *runs, std::size_t run_count, std::size_t rows,
                                     std::size_t columns, const double *baseline, const double *gain,
                                     const double *reciprocal, float *out);

// The EDF definition of physical values, one set of coefficients per column:
// out = physical_min + (v - digital_min) * physical_span / digital_span in
// double, with no value reserved for invalid samples.
struct EdfCoefficients {
    const double *digital_min, *physical_min, *physical_span, *digital_span;
};
void edf_physical_runs(const std::int32_t *values, std::size_t n, EdfCoefficients c, std::size_t run, double *out);
void edf_physical_runs(const std::int32_t *values, std::size_t n, EdfCoefficients c, std::size_t run, float *out);
void edf_physical_rows(const std::int32_t *values, std::size_t in_stride, std::size_t rows, std::size_t width,
                       EdfCoefficients c, double *out, std::size_t out_stride);
void edf_physical_rows(const std::int32_t *values, std::size_t in_stride, std::size_t rows, std::size_t width,
                       EdfCoefficients c, float *out, std::size_t out_stride);

// The same without conversion: the stored values, narrowed to 16 bits or not.
void copy_rows(const std::int32_t *values, std::size_t in_stride, std::size_t rows, std::size_t width,
               std::int32_t *out, std::size_t out_stride);
void copy_rows(const std::int32_t *values, std::size_t in_stride, std::size_t rows, std::size_t width,
               std::int16_t *out, std::size_t out_stride);

}  // namespace sigtrove::engine

#endif
