// Physical values of long reads are looked up in tables of each scale's value
// for every 16-bit stored value: they must be bit for bit what the conversion
// itself gives ((v - baseline) / gain in double for WFDB signals, NaN for an
// invalid sample; the EDF definition, -32768 included, for EDF signals), in
// float64 and float32, with columns in one block or in several, with values
// beyond 16 bits, and with more distinct scales than the tables are made for.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <ostream>
#include <string>
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
    bool separate_blocks;  // each column in a block of its own (as signals of different files are)
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
    // Row-major blocks as a group's window holds them, or one block per column.
    std::vector<std::int32_t> interleaved(total * columns);
    for (std::size_t r = 0; r < total; ++r)
        for (std::size_t col = 0; col < columns; ++col) interleaved[r * columns + col] = stored[col][r];
    std::size_t row = 0;
    for (std::size_t frames : {std::size_t{100}, rows, wide_rows}) {
        std::vector<ColumnBlock> blocks(columns);
        for (std::size_t col = 0; col < columns; ++col)
            blocks[col] = c.separate_blocks ? ColumnBlock{stored[col].data() + row, 1, 1}
                                            : ColumnBlock{interleaved.data() + row * columns + col, columns, 1};
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

std::vector<PhysicalScale> repeated(PhysicalScale s, std::size_t n) { return std::vector<PhysicalScale>(n, s); }

INSTANTIATE_TEST_SUITE_P(
    Scales, PhysicalTables,
    ::testing::Values(
        TableCase{"one_signal", {wfdb(1024, 200)}, false},
        TableCase{"two_signals_one_scale", repeated(wfdb(1024, 200), 2), false},
        TableCase{"fifteen_signals_in_two_files", repeated(wfdb(0, 2000), 15), true},
        TableCase{"fifteen_signals_in_one_block", repeated(wfdb(0, 2000), 15), false},
        TableCase{"gains_without_exact_reciprocals", {wfdb(-3, 7.3), wfdb(12, 1e-3), wfdb(0, 3), wfdb(5, 0.1)}, false},
        TableCase{"more_scales_than_tables", {wfdb(1, 2), wfdb(2, 3), wfdb(3, 5), wfdb(4, 7), wfdb(5, 11)}, false},
        TableCase{"edf_signals", {edf(-32768, -3200, 6400.5, 65535), edf(-2048, 0.5, -10, 4095)}, false},
        TableCase{"edf_and_wfdb_signals", {edf(-32768, -3200, 6400.5, 65535), wfdb(1024, 200)}, true}),
    [](const ::testing::TestParamInfo<TableCase> &info) { return info.param.name; });

}  // namespace
