// Physical values of reads are made without a division per value (by the
// refined quotient, or by tables of each scale's value for every 16-bit stored
// value): they must be bit for bit what the conversion itself gives
// ((v - baseline) / gain in double for WFDB signals, NaN for an invalid sample;
// the EDF definition, -32768 included, for EDF signals), in float64 and float32,
// with columns in one block or in several (files of one or several signals),
// with values beyond 16 bits, with more distinct scales than the tables are made
// for, and with gains whose quotients lie below the normal range, where the
// refined quotient is not the division's result.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include "signals/array_sink.h"
#include "wfdb/wfdb.h"

namespace {

using sigtrove::engine::ColumnBlock;
using sigtrove::engine::make_array_sink;
using sigtrove::engine::PhysicalKind;
using sigtrove::engine::PhysicalScale;
using sigtrove::engine::SampleRate;
using sigtrove::engine::SampleType;

PhysicalScale wfdb(double baseline, double gain) { return PhysicalScale{baseline, gain}; }

PhysicalScale edf(double digital_min, double physical_min, double physical_span, double digital_span) {
    PhysicalScale s;
    s.kind = PhysicalKind::edf;
    s.digital_min = digital_min;
    s.physical_min = physical_min;
    s.physical_span = physical_span;
    s.digital_span = digital_span;
    return s;
}

template <class Out>
Out expected_value(std::int32_t v, const PhysicalScale &s) {
    if (s.kind == PhysicalKind::edf)
        return static_cast<Out>(s.physical_min +
                                (static_cast<double>(v) - s.digital_min) * s.physical_span / s.digital_span);
    if (v == WFDB_INVALID_SAMPLE) return std::numeric_limits<Out>::quiet_NaN();
    return static_cast<Out>((static_cast<double>(v) - s.baseline) / s.gain);
}

// Same bits, or both NaN.
template <class Out>
bool same(Out a, Out b) {
    if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b);
    return std::memcmp(&a, &b, sizeof(Out)) == 0;
}

struct TableCase {
    std::string name;
    std::vector<PhysicalScale> scales;
    // Columns per block, as signals of one file share one (0: every column in one block).
    std::size_t file_columns;
};

void PrintTo(const TableCase &c, std::ostream *os) { *os << c.name; }

class PhysicalTables : public ::testing::TestWithParam<TableCase> {};

// Stored values of a column: every 16-bit value (the invalid marker included),
// in an order of its own, then a few chosen ones.
std::vector<std::int32_t> column_values(std::size_t column) {
    std::vector<std::int32_t> values;
    for (std::int64_t k = 0; k < 65536; ++k)
        values.push_back(static_cast<std::int32_t>((k * 40503 + static_cast<std::int64_t>(column) * 977) % 65536) -
                         32768);
    for (std::int32_t v : {-32768, -32767, -1, 0, 1, 2047, -2048, 32767}) values.push_back(v);
    return values;
}

template <class Out>
void check_reads(const TableCase &c, SampleType type) {
    const std::size_t columns = c.scales.size();
    std::vector<std::vector<std::int32_t>> values;
    for (std::size_t col = 0; col < columns; ++col) values.push_back(column_values(col));
    const std::size_t rows = values[0].size();
    // Three reads into one sink: a short one (converted before any table is
    // made), every 16-bit value, and a block holding values beyond 16 bits.
    std::vector<std::int32_t> wide = {40000, -40000, 65536, 1 << 23, -(1 << 23), 12, -12, INT32_MAX};
    const std::size_t wide_rows = wide.size();
    const std::size_t total = 100 + rows + wide_rows;
    std::vector<std::vector<std::int32_t>> stored(columns);
    for (std::size_t col = 0; col < columns; ++col) {
        stored[col].assign(values[col].begin(), values[col].begin() + 100);
        stored[col].insert(stored[col].end(), values[col].begin(), values[col].end());
        for (std::size_t k = 0; k < wide_rows; ++k) stored[col].push_back(wide[(k + col) % wide_rows]);
    }
    std::vector<Out> out(total * columns, Out(-7));
    auto sink = make_array_sink(type, out.data(), columns, SampleRate::frame, c.scales);
    ASSERT_TRUE(sink);
    // Row-major blocks as the groups' windows hold them, one per file.
    const std::size_t per_file = c.file_columns == 0 ? columns : c.file_columns;
    std::vector<std::vector<std::int32_t>> files;
    for (std::size_t first = 0; first < columns; first += per_file) {
        const std::size_t width = std::min(per_file, columns - first);
        files.emplace_back(total * width);
        for (std::size_t r = 0; r < total; ++r)
            for (std::size_t j = 0; j < width; ++j) files.back()[r * width + j] = stored[first + j][r];
    }
    std::size_t row = 0;
    for (std::size_t frames : {std::size_t{100}, rows, wide_rows}) {
        std::vector<ColumnBlock> blocks(columns);
        for (std::size_t col = 0; col < columns; ++col) {
            const std::size_t width = std::min(per_file, columns - col / per_file * per_file);
            blocks[col] = ColumnBlock{files[col / per_file].data() + row * width + col % per_file, width, 1};
        }
        sink->put(row, frames, blocks.data());
        row += frames;
    }
    std::size_t wrong = 0;
    for (std::size_t r = 0; r < total; ++r)
        for (std::size_t col = 0; col < columns; ++col) {
            Out want = expected_value<Out>(stored[col][r], c.scales[col]);
            Out got = out[r * columns + col];
            if (!same(got, want) && ++wrong <= 5)
                ADD_FAILURE() << "row " << r << " column " << col << " value " << stored[col][r] << ": got " << got
                              << ", want " << want;
        }
    EXPECT_EQ(wrong, 0u);
}

TEST_P(PhysicalTables, EqualTheConversionBitForBitInFloat64) { check_reads<double>(GetParam(), SampleType::float64); }

TEST_P(PhysicalTables, EqualTheConversionBitForBitInFloat32) { check_reads<float>(GetParam(), SampleType::float32); }

// Reads whose values move block by block (blocks of 64 rows), as a record's
// values do: every block is the division's result, also where some value of a
// later block is not.
enum class Drift {
    spreading,  // 0, 1, -1, 2, -2, ..., then back inside
    falling,    // from 20000 down to 0: the first blocks lie far from 0
};

std::int32_t drifting_value(Drift drift, std::size_t k) {
    if (drift == Drift::falling) return 20000 - static_cast<std::int32_t>(k % 20001);
    auto v = static_cast<std::int32_t>(k);
    return v % 2 ? (v + 1) / 2 : -v / 2;
}

template <class Out>
void check_drifting_reads(const std::vector<PhysicalScale> &scales, Drift drift, SampleType type) {
    const std::size_t columns = scales.size(), rows = 64 * 400;
    std::vector<std::int32_t> stored(rows * columns);
    for (std::size_t r = 0; r < rows; ++r)
        for (std::size_t col = 0; col < columns; ++col)
            stored[r * columns + col] = drifting_value(drift, (r % (rows / 2)) * 3 + col);
    std::vector<Out> out(rows * columns, Out(-7));
    auto sink = make_array_sink(type, out.data(), columns, SampleRate::frame, scales);
    ASSERT_TRUE(sink);
    for (std::size_t row = 0; row < rows; row += 64) {
        std::vector<ColumnBlock> blocks(columns);
        for (std::size_t col = 0; col < columns; ++col)
            blocks[col] = ColumnBlock{stored.data() + row * columns + col, columns, 1};
        sink->put(row, 64, blocks.data());
    }
    std::size_t wrong = 0;
    for (std::size_t i = 0; i < stored.size(); ++i) {
        Out want = expected_value<Out>(stored[i], scales[i % columns]);
        if (!same(out[i], want) && ++wrong <= 5)
            ADD_FAILURE() << "row " << i / columns << " value " << stored[i] << ": got " << out[i] << ", want " << want;
    }
    EXPECT_EQ(wrong, 0u);
}

class DriftingReads : public ::testing::TestWithParam<std::tuple<TableCase, Drift>> {};

TEST_P(DriftingReads, EqualTheConversionBitForBitInFloat64) {
    check_drifting_reads<double>(std::get<0>(GetParam()).scales, std::get<1>(GetParam()), SampleType::float64);
}

TEST_P(DriftingReads, EqualTheConversionBitForBitInFloat32) {
    check_drifting_reads<float>(std::get<0>(GetParam()).scales, std::get<1>(GetParam()), SampleType::float32);
}

INSTANTIATE_TEST_SUITE_P(
    Scales, DriftingReads,
    ::testing::Combine(::testing::Values(TableCase{"one_signal", {wfdb(1024, 200)}, 0},
                                         TableCase{"three_scales", {wfdb(-3, 7.3), wfdb(12, 1e-3), wfdb(0, 2000)}, 0},
                                         TableCase{"gain_of_subnormal_quotients", {wfdb(0, 1.7976931348623157e308)}, 0},
                                         TableCase{
                                             "one_gain_of_subnormal_quotients", {wfdb(5, 0.1), wfdb(0, 1.5e-310)}, 0}),
                       ::testing::Values(Drift::spreading, Drift::falling)),
    [](const ::testing::TestParamInfo<std::tuple<TableCase, Drift>> &info) {
        return std::get<0>(info.param).name + (std::get<1>(info.param) == Drift::falling ? "_falling" : "_spreading");
    });

std::vector<PhysicalScale> repeated(PhysicalScale s, std::size_t n) { return std::vector<PhysicalScale>(n, s); }

std::vector<PhysicalScale> alternating(PhysicalScale a, PhysicalScale b, std::size_t n) {
    std::vector<PhysicalScale> scales;
    for (std::size_t c = 0; c < n; ++c) scales.push_back(c % 2 ? b : a);
    return scales;
}

INSTANTIATE_TEST_SUITE_P(
    Scales, PhysicalTables,
    ::testing::Values(
        TableCase{"one_signal", {wfdb(1024, 200)}, 0},
        TableCase{"two_signals_one_scale", repeated(wfdb(1024, 200), 2), 0},
        TableCase{"fifteen_signals_in_two_files", repeated(wfdb(0, 2000), 15), 1},
        TableCase{"fifteen_signals_in_one_block", repeated(wfdb(0, 2000), 15), 0},
        TableCase{"fifteen_signals_in_files_of_twelve_and_three", repeated(wfdb(0, 2000), 15), 12},
        TableCase{"four_scales_in_files_of_three", {wfdb(-3, 7.3), wfdb(12, 1e-3), wfdb(0, 3), wfdb(5, 0.1)}, 3},
        TableCase{"twenty_signals_in_files_of_twelve_and_eight", repeated(wfdb(7, 13.335), 20), 12},
        TableCase{"twenty_signals_of_two_scales_in_two_files", alternating(wfdb(7, 13.335), wfdb(-1600, 200), 20), 12},
        TableCase{"gains_without_exact_reciprocals", {wfdb(-3, 7.3), wfdb(12, 1e-3), wfdb(0, 3), wfdb(5, 0.1)}, 0},
        TableCase{"more_scales_than_tables", {wfdb(1, 2), wfdb(2, 3), wfdb(3, 5), wfdb(4, 7), wfdb(5, 11)}, 0},
        TableCase{"edf_signals", {edf(-32768, -3200, 6400.5, 65535), edf(-2048, 0.5, -10, 4095)}, 0},
        TableCase{"edf_and_wfdb_signals", {edf(-32768, -3200, 6400.5, 65535), wfdb(1024, 200)}, 1},
        TableCase{"negative_gains", {wfdb(-5, -0.37), wfdb(100, -1e5)}, 0},
        // Quotients below the normal range, where a refined product is not the division.
        TableCase{"gains_of_subnormal_quotients", {wfdb(0, 1.7976931348623157e308), wfdb(7, 1.5e-310)}, 0},
        TableCase{"one_gain_of_subnormal_quotients", {wfdb(1024, 200), wfdb(0, 4.9406564584124654e-324)}, 0}),
    [](const ::testing::TestParamInfo<TableCase> &info) { return info.param.name; });

}  // namespace
