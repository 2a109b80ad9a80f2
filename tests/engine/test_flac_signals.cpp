// FLAC-compressed signal groups (formats 508, 516, 524): the group reader on
// streams the tests write themselves, and records read through the C interface.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include "expected_records.h"
#include "fixture_files.h"
#include "flac_writer.h"
#include "formats/group_reader.h"
#include "io/local_file.h"
#include "paths/database_path.h"
#include "record_dir_fixture.h"
#include "wfdb/wfdb.h"
#include "wfdb_interface/signal_input.h"

namespace {

namespace fs = std::filesystem;
using sigtrove::engine::GroupLayout;
using sigtrove::engine::GroupReader;
using sigtrove::engine::open_flac_group_reader;
using sigtrove::engine::SeekOutcome;
using sigtrove::testing::FlacLayout;
using sigtrove::testing::write_flac_file;

#if SIGTROVE_HAVE_FLAC
// Channel c's sample i: hashed noise over the whole sample size, so that streams
// do not compress to almost nothing and every FLAC frame has a body to damage.
std::int32_t noise_value(unsigned channel, std::size_t i, unsigned bits) {
    std::uint64_t x = (static_cast<std::uint64_t>(i) << 8 | channel) * 0x9E3779B97F4A7C15ull;
    x ^= x >> 29;
    const std::int64_t range = std::int64_t{1} << bits;
    return static_cast<std::int32_t>(static_cast<std::int64_t>(x % static_cast<std::uint64_t>(range)) - range / 2);
}

// Interleaved as FLAC takes them: sample i of channel c at [i * channels + c].
std::vector<std::int32_t> noise_samples(unsigned channels, std::size_t per_channel, unsigned bits) {
    std::vector<std::int32_t> out(per_channel * channels);
    for (std::size_t i = 0; i < per_channel; ++i)
        for (unsigned c = 0; c < channels; ++c) out[i * channels + c] = noise_value(c, i, bits);
    return out;
}

// The same samples in WFDB frame order: per frame, channel 0's spf samples, then channel 1's...
std::vector<std::int32_t> as_frames(const std::vector<std::int32_t> &interleaved, unsigned channels, unsigned spf) {
    const std::size_t frames = interleaved.size() / channels / spf;
    std::vector<std::int32_t> out;
    out.reserve(frames * channels * spf);
    for (std::size_t f = 0; f < frames; ++f)
        for (unsigned c = 0; c < channels; ++c)
            for (unsigned k = 0; k < spf; ++k) out.push_back(interleaved[(f * spf + k) * channels + c]);
    return out;
}

#endif  // SIGTROVE_HAVE_FLAC

// The layout of a FLAC group of `nsig` signals with `spf` samples per frame each.
GroupLayout flac_layout(int fmt, unsigned nsig, unsigned spf, long offset = 0) {
    GroupLayout layout;
    layout.fmt = fmt;
    layout.offset = offset;
    layout.spf.assign(nsig, static_cast<int>(spf));
    layout.initval.assign(nsig, 0);
    layout.frame_size = nsig * spf;
    layout.fname = "g.flac";
    return layout;
}

std::unique_ptr<GroupReader> open_reader(const std::string &path, const GroupLayout &layout) {
    return open_flac_group_reader(layout, std::make_shared<sigtrove::engine::SignalFileHandle>(path));
}

#if SIGTROVE_HAVE_FLAC

// Reads in chunks until the reader says the data ended (0) or failed (-1), which
// becomes `status`. A short read is not the end yet: a fault may follow it.
std::vector<std::int32_t> read_all(GroupReader &reader, std::size_t frame_size, std::size_t chunk, int &status) {
    std::vector<std::int32_t> out, block(chunk * frame_size);
    long long n;
    while ((n = reader.read_frames(block.data(), chunk)) > 0)
        out.insert(out.end(), block.begin(), block.begin() + n * static_cast<long long>(frame_size));
    status = static_cast<int>(n);
    return out;
}

struct DecodeCase {
    const char *name;
    int fmt;
    unsigned channels, bits, spf;
    unsigned block_size;  // 0: the encoder's choice
    bool states_length;
    std::size_t per_channel;
    std::size_t chunk;  // frames asked for per read
};

TEST(FlacGroupReader, DeliversEveryFrameInFrameOrder) {
    const DecodeCase cases[] = {
        {"one channel, default blocks", 516, 1, 16, 1, 0, true, 10000, 4096},
        {"three channels, odd blocks, one frame per read", 524, 3, 24, 1, 37, true, 1001, 1},
        {"two channels, 3 samples per frame across block edges", 516, 2, 16, 3, 101, true, 999, 7},
        {"eight channels of 8 bits", 508, 8, 8, 1, 64, true, 500, 33},
        {"narrower samples than the format allows", 524, 2, 16, 2, 0, true, 600, 1000},
        {"length not stated in the stream header", 516, 2, 16, 1, 77, false, 800, 50},
    };
    for (const DecodeCase &c : cases) {
        SCOPED_TRACE(c.name);
        sigtrove::testing::TempDir dir;
        const auto samples = noise_samples(c.channels, c.per_channel, c.bits);
        ASSERT_EQ(write_flac_file(dir / "g.flac", samples, {c.channels, c.bits, c.block_size, c.states_length, false}),
                  "");
        auto reader = open_reader(dir / "g.flac", flac_layout(c.fmt, c.channels, c.spf));
        ASSERT_TRUE(reader) << wfdberror();
        EXPECT_EQ(reader->frame_count(), c.states_length ? static_cast<long long>(c.per_channel / c.spf) : -1);
        int status = 1;
        EXPECT_EQ(read_all(*reader, c.channels * c.spf, c.chunk, status), as_frames(samples, c.channels, c.spf));
        EXPECT_EQ(status, 0);
        std::int32_t spare[64];
        EXPECT_EQ(reader->read_frames(spare, 1), 0) << "the end of the data stays the end";
    }
}

TEST(FlacGroupReader, OffsetCountsSamplesPerChannel) {
    sigtrove::testing::TempDir dir;
    const auto samples = noise_samples(2, 300, 16);
    ASSERT_EQ(write_flac_file(dir / "g.flac", samples, {2, 16, 64, true, false}), "");
    auto reader = open_reader(dir / "g.flac", flac_layout(516, 2, 1, 70));
    ASSERT_TRUE(reader) << wfdberror();
    EXPECT_EQ(reader->frame_count(), 230);
    int status = 1;
    const std::vector<std::int32_t> rest(samples.begin() + 140, samples.end());
    EXPECT_EQ(read_all(*reader, 2, 16, status), as_frames(rest, 2, 1));
    ASSERT_EQ(reader->seek_frame(10), SeekOutcome::ok);
    std::int32_t frame[2];
    ASSERT_EQ(reader->read_frames(frame, 1), 1);
    EXPECT_EQ(frame[0], noise_value(0, 80, 16));
    EXPECT_EQ(frame[1], noise_value(1, 80, 16));

    auto beyond = open_reader(dir / "g.flac", flac_layout(516, 2, 1, 400));
    ASSERT_TRUE(beyond) << "an offset past the end leaves no frames, as in a short uncompressed file";
    EXPECT_EQ(beyond->read_frames(frame, 1), 0);
}

struct SeekCase {
    const char *name;
    bool states_length;
    bool seek_table;
};

TEST(FlacGroupReader, SeeksToAnyFrameWithoutDecodingFromTheStart) {
    const SeekCase cases[] = {
        {"binary search", true, false},
        {"seek table", true, true},
        {"length not stated", false, false},
    };
    const unsigned channels = 3, spf = 2;
    const std::size_t frames = 2000, frame_size = channels * spf;
    for (const SeekCase &c : cases) {
        SCOPED_TRACE(c.name);
        sigtrove::testing::TempDir dir;
        const auto samples = noise_samples(channels, frames * spf, 16);
        const auto expected = as_frames(samples, channels, spf);
        ASSERT_EQ(write_flac_file(dir / "g.flac", samples, {channels, 16, 333, c.states_length, c.seek_table}), "");
        auto reader = open_reader(dir / "g.flac", flac_layout(516, channels, spf));
        ASSERT_TRUE(reader) << wfdberror();
        std::vector<std::int32_t> got(5 * frame_size);
        // Forward and backward, inside a FLAC block, on a block edge (166.5 frames per block) and at the last frame.
        for (long long target : {1500LL, 3LL, 0LL, 1999LL, 166LL, 167LL, 1000LL}) {
            SCOPED_TRACE(target);
            ASSERT_EQ(reader->seek_frame(target), SeekOutcome::ok) << wfdberror();
            const auto want = std::min<long long>(5, static_cast<long long>(frames) - target);
            ASSERT_EQ(reader->read_frames(got.data(), 5), want);
            EXPECT_TRUE(
                std::equal(got.begin(), got.begin() + want * frame_size, expected.begin() + target * frame_size));
        }
        if (!c.states_length) continue;  // only a stated length tells the end apart from damage
        ASSERT_EQ(reader->seek_frame(frames), SeekOutcome::ok) << "the end is a valid position";
        EXPECT_EQ(reader->read_frames(got.data(), 1), 0);
        EXPECT_EQ(reader->seek_frame(frames + 10), SeekOutcome::past_end);
        EXPECT_EQ(reader->read_frames(got.data(), 1), 0) << "a reader past the end is left at its end";
        ASSERT_EQ(reader->seek_frame(7), SeekOutcome::ok);
        ASSERT_EQ(reader->read_frames(got.data(), 1), 1);
        EXPECT_TRUE(std::equal(got.begin(), got.begin() + frame_size, expected.begin() + 7 * frame_size));
    }
}

TEST(FlacGroupReader, RefusesASeekWhoseSamplePositionOverflows) {
    sigtrove::testing::TempDir dir;
    ASSERT_EQ(write_flac_file(dir / "g.flac", noise_samples(1, 100, 16), {}), "");
    auto reader = open_reader(dir / "g.flac", flac_layout(516, 1, 4, 3));
    ASSERT_TRUE(reader);
    EXPECT_EQ(reader->seek_frame(std::numeric_limits<long long>::max() / 2), SeekOutcome::failed);
    EXPECT_EQ(std::string(wfdberror()).rfind("isigsettime: ", 0), 0u) << wfdberror();
}

TEST(FlacGroupReader, PartialLastFrameIsDroppedWithAWarning) {
    sigtrove::testing::TempDir dir;
    const auto samples = noise_samples(2, 101, 16);  // 50 frames of 2 samples, and one sample more
    ASSERT_EQ(write_flac_file(dir / "g.flac", samples, {2, 16, 0, true, false}), "");
    auto reader = open_reader(dir / "g.flac", flac_layout(516, 2, 2));
    ASSERT_TRUE(reader);
    int status = 1;
    const std::vector<std::int32_t> whole(samples.begin(), samples.begin() + 200);
    EXPECT_EQ(read_all(*reader, 4, 64, status), as_frames(whole, 2, 2));
    EXPECT_EQ(status, 0);
    EXPECT_STREQ(wfdberror(), "getvec: warning: 2 samples left over at end of file\n");
}

// The size of the first `frames` frames of the stream `samples` encodes to with
// the same layout: FLAC frames do not depend on what follows them, so that many
// bytes of the longer stream end exactly on a FLAC frame boundary.
std::uintmax_t stream_prefix_size(const std::string &scratch, const std::vector<std::int32_t> &samples,
                                  const FlacLayout &layout, std::size_t frames) {
    const std::vector<std::int32_t> head(samples.begin(), samples.begin() + frames * layout.channels);
    EXPECT_EQ(write_flac_file(scratch, head, layout), "");
    return fs::file_size(scratch);
}

void invert_byte(const std::string &path, std::streamoff at) {
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    f.seekg(at);
    const char byte = static_cast<char>(f.get());
    f.seekp(at);
    f.put(static_cast<char>(~byte));
}

enum class Damage { cut_on_frame_edge, cut_inside_frame, inverted_byte, none };

// Damage a decoder must report instead of handing out wrong or missing samples.
struct DamageCase {
    const char *name;
    int fmt;
    unsigned nsig;
    Damage damage;
    const char *text;  // the text expected; null: any "getvec: unable to decode FLAC" text
};

TEST(FlacGroupReader, DamagedOrMismatchedStreamsFailWithAText) {
    const DamageCase cases[] = {
        {"cut on a FLAC frame edge", 516, 2, Damage::cut_on_frame_edge,
         "getvec: FLAC signal file ends before the length its stream header states\n"},
        {"cut inside a FLAC frame", 516, 2, Damage::cut_inside_frame, nullptr},
        {"an inverted byte inside a FLAC frame", 516, 2, Damage::inverted_byte, nullptr},
        {"more channels than signals", 516, 1, Damage::none, "getvec: wrong number of signals in FLAC signal file\n"},
        {"wider samples than the format holds", 508, 2, Damage::none,
         "getvec: wrong sample resolution in FLAC signal file\n"},
    };
    const FlacLayout layout{2, 16, 512, true, false};
    for (const DamageCase &c : cases) {
        SCOPED_TRACE(c.name);
        sigtrove::testing::TempDir dir;
        const std::string path = dir / "g.flac";
        const auto samples = noise_samples(2, 4000, 16);
        ASSERT_EQ(write_flac_file(path, samples, layout), "");
        const std::uintmax_t edge = stream_prefix_size(dir / "head.flac", samples, layout, 2048);
        if (c.damage == Damage::cut_on_frame_edge) fs::resize_file(path, edge);
        if (c.damage == Damage::cut_inside_frame) fs::resize_file(path, edge + 700);
        if (c.damage == Damage::inverted_byte) invert_byte(path, static_cast<std::streamoff>(edge + 700));
        auto reader = open_reader(path, flac_layout(c.fmt, c.nsig, 1));
        ASSERT_TRUE(reader) << wfdberror();
        int status = 1;
        const auto got = read_all(*reader, c.nsig, 100, status);
        EXPECT_EQ(status, -1);
        if (c.text)
            EXPECT_STREQ(wfdberror(), c.text);
        else
            EXPECT_EQ(std::string(wfdberror()).rfind("getvec: unable to decode FLAC", 0), 0u) << wfdberror();
        std::int32_t frame[2];
        EXPECT_EQ(reader->read_frames(frame, 1), -1) << "the fault stays until a seek";
        if (c.damage == Damage::none) continue;  // every FLAC frame of these streams is refused
        const auto expected = as_frames(samples, 2, 1);
        EXPECT_EQ(got.size(), 2u * 2048) << "every frame before the damage is delivered";
        EXPECT_TRUE(std::equal(got.begin(), got.end(), expected.begin())) << "what came before the fault is true";
        ASSERT_EQ(reader->seek_frame(1), SeekOutcome::ok) << wfdberror();
        ASSERT_EQ(reader->read_frames(frame, 1), 1);
        EXPECT_EQ(frame[0], noise_value(0, 1, 16));
    }
}

TEST(FlacGroupReader, StoredValuesPassThroughIncludingTheInvalidMarker) {
    sigtrove::testing::TempDir dir;
    const std::vector<std::int32_t> samples = {-128, 127, 0, -128, -1, 5};
    ASSERT_EQ(write_flac_file(dir / "g.flac", samples, {2, 8, 0, true, false}), "");
    auto reader = open_reader(dir / "g.flac", flac_layout(508, 2, 1));
    ASSERT_TRUE(reader);
    int status = 1;
    EXPECT_EQ(read_all(*reader, 2, 10, status), samples);
}

#endif  // SIGTROVE_HAVE_FLAC

struct RefusedCase {
    const char *name;
    std::string contents;  // of the signal file
    GroupLayout layout;
    const char *text;
};

TEST(FlacGroupReader, GroupsThatCanNotBeReadAreRefusedAtOpenWithAText) {
    GroupLayout unequal = flac_layout(516, 2, 1);
    unequal.spf = {1, 2};
    unequal.frame_size = 3;
#if SIGTROVE_HAVE_FLAC
    const char *no_decoder = "isigopen: cannot open stream decoder\n";
#else
    const char *no_decoder = "isigopen: sigtrove engine was compiled without FLAC support\n";
#endif
    const RefusedCase cases[] = {
        {"not a FLAC stream", "this is not a FLAC stream\n", flac_layout(516, 1, 1), no_decoder},
        {"empty file", "", flac_layout(524, 2, 1), no_decoder},
        {"more signals than FLAC has channels", "", flac_layout(516, 9, 1),
         "isigopen: cannot store 9 signals in a single FLAC file\n"},
        {"signals of different sampling frequencies", "", unequal,
         "isigopen: every signal in a FLAC file must have\n  the same sampling frequency\n"},
    };
    for (const RefusedCase &c : cases) {
        SCOPED_TRACE(c.name);
        sigtrove::testing::TempDir dir;
        sigtrove::testing::write_file(dir / "g.flac", c.contents);
        EXPECT_FALSE(open_reader(dir / "g.flac", c.layout));
        EXPECT_STREQ(wfdberror(), c.text);
    }
}

// Records read through the C interface.
class FlacRecord : public sigtrove::testing::RecordDirTest {
protected:
    FlacRecord() { sigtrove::engine::reset_signal_input(); }
    ~FlacRecord() override { sigtrove::engine::reset_signal_input(); }

    // Opens every signal of `record`, returning isigopen's result.
    int open(const std::string &record, int nsig) {
        std::string name = record;
        info.assign(static_cast<std::size_t>(nsig), WFDB_Siginfo{});
        int n = isigopen(name.data(), info.data(), nsig);
        for (int i = 0; i < std::max(n, 0); ++i) {
            std::free(info[static_cast<std::size_t>(i)].fname);
            std::free(info[static_cast<std::size_t>(i)].desc);
            std::free(info[static_cast<std::size_t>(i)].units);
        }
        return n;
    }

    std::vector<WFDB_Siginfo> info;
};

#if SIGTROVE_HAVE_FLAC

// A signal line: FILE FMTxSPF:SKEW+OFFSET ... with the checksum of the signal's
// stored values. The header gives skews in samples; `skew_frames` is in frames.
std::string signal_line(const std::string &file, int fmt, unsigned spf, int skew_frames, long offset,
                        const std::vector<int> &stored) {
    unsigned sum = 0;
    for (int v : stored) sum += static_cast<unsigned>(v);
    const auto cksum = static_cast<std::int16_t>(static_cast<std::uint16_t>(sum & 0xFFFF));
    return file + " " + std::to_string(fmt) + "x" + std::to_string(spf) + ":" +
           std::to_string(skew_frames * static_cast<int>(spf)) + "+" + std::to_string(offset) + " 200 16 0 " +
           std::to_string(stored.empty() ? 0 : stored[0]) + " " + std::to_string(cksum) + " 0 s\n";
}

// Channel c's samples, from sample `first` on.
std::vector<int> column(const std::vector<std::int32_t> &interleaved, unsigned channels, unsigned c,
                        std::size_t first = 0) {
    std::vector<int> out;
    for (std::size_t i = first * channels + c; i < interleaved.size(); i += channels) out.push_back(interleaved[i]);
    return out;
}

struct RecordCase {
    const char *name;
    int fmt;
    unsigned channels, bits, spf, block_size;
    std::vector<int> skew;  // per channel, in frames
    long offset;            // samples per channel before the record's first frame
};

// Reads every high-resolution sample with getvec and checks it against the samples written.
TEST_F(FlacRecord, GetvecDeliversEachSignalOfAFlacGroupWithSkewAndSeeks) {
    const RecordCase cases[] = {
        {"one signal", 516, 1, 16, 1, 0, {0}, 0},
        {"three signals, odd blocks, one skewed", 524, 3, 24, 1, 37, {0, 3, 0}, 0},
        {"two signals of 2 samples per frame, both skewed", 508, 2, 8, 2, 50, {1, 4}, 0},
        {"an offset of 45 samples, and a skew", 516, 2, 16, 1, 40, {0, 2}, 45},
    };
    const std::size_t frames = 700;
    for (const RecordCase &c : cases) {
        SCOPED_TRACE(c.name);
        sigtrove::engine::reset_signal_input();
        const auto offset = static_cast<std::size_t>(c.offset);
        const auto samples = noise_samples(c.channels, frames * c.spf + offset, c.bits);
        ASSERT_EQ(write_flac_file(dir / "r.flac", samples, {c.channels, c.bits, c.block_size, true, false}), "");
        std::string header = "r " + std::to_string(c.channels) + " 100 " + std::to_string(frames) + "\n";
        for (unsigned s = 0; s < c.channels; ++s)
            header += signal_line("r.flac", c.fmt, c.spf, c.skew[s], c.offset, column(samples, c.channels, s, offset));
        write_header("r", header);
        ASSERT_EQ(open("r", static_cast<int>(c.channels)), static_cast<int>(c.channels)) << wfdberror();
        ASSERT_EQ(setgvmode(WFDB_HIGHRES), 0);

        const int max_skew = *std::max_element(c.skew.begin(), c.skew.end());
        const std::size_t readable = frames - static_cast<std::size_t>(max_skew);
        // Sample j (high resolution) of signal s is its stored sample offset + j + skew * spf;
        // stored invalid markers become WFDB_INVALID_SAMPLE.
        auto expect_from = [&](std::size_t first, std::size_t count) {
            std::vector<WFDB_Sample> v(c.channels);
            for (std::size_t j = first; j < first + count; ++j) {
                ASSERT_EQ(getvec(v.data()), static_cast<int>(c.channels)) << "sample " << j;
                for (unsigned s = 0; s < c.channels; ++s) {
                    const std::size_t stored = offset + j + static_cast<std::size_t>(c.skew[s]) * c.spf;
                    const int want = samples[stored * c.channels + s];
                    EXPECT_EQ(v[s], want == -(1 << (c.bits - 1)) ? WFDB_INVALID_SAMPLE : want)
                        << "signal " << s << " sample " << j;
                }
            }
        };
        expect_from(0, readable * c.spf);
        std::vector<WFDB_Sample> v(c.channels);
        EXPECT_EQ(getvec(v.data()), -1) << "the header's checksums match, and the data end";
        for (std::size_t t : {readable / 2 * c.spf, std::size_t{1}, (readable - 2) * c.spf}) {
            SCOPED_TRACE(t);
            ASSERT_EQ(isigsettime(static_cast<WFDB_Time>(t)), 0) << wfdberror();
            expect_from(t, 2 * c.spf);
        }
        setgvmode(WFDB_LOWRES);
    }
}

TEST_F(FlacRecord, InvalidMarkersBecomeInvalidSamplesWhileTheChecksumCountsThemStored) {
    const std::vector<std::int32_t> stored = {5, -128, -128, 7, 127, -128};
    ASSERT_EQ(write_flac_file(dir / "r.flac", stored, {1, 8, 0, true, false}), "");
    write_header("r", "r 1 100 6\n" + signal_line("r.flac", 508, 1, 0, 0, {5, -128, -128, 7, 127, -128}));
    ASSERT_EQ(open("r", 1), 1) << wfdberror();
    std::vector<int> got;
    WFDB_Sample v = 0;
    int rc;
    while ((rc = getvec(&v)) > 0) got.push_back(v);
    EXPECT_EQ(rc, -1) << "no checksum error: " << wfdberror();
    EXPECT_EQ(got, (std::vector<int>{5, WFDB_INVALID_SAMPLE, WFDB_INVALID_SAMPLE, 7, 127, WFDB_INVALID_SAMPLE}));
}

TEST_F(FlacRecord, TruncatedFileEndsReadingWithAnErrorAndAnInvalidVector) {
    const std::size_t frames = 6000, kept = 3072;
    const auto samples = noise_samples(2, frames, 16);
    const FlacLayout layout{2, 16, 256, true, false};
    ASSERT_EQ(write_flac_file(dir / "r.flac", samples, layout), "");
    fs::resize_file(dir / "r.flac", stream_prefix_size(dir / "head.flac", samples, layout, kept));
    write_header("r", "r 2 100 " + std::to_string(frames) + "\n" +
                          signal_line("r.flac", 516, 1, 0, 0, column(samples, 2, 0)) +
                          signal_line("r.flac", 516, 1, 0, 0, column(samples, 2, 1)));
    ASSERT_EQ(open("r", 2), 2) << wfdberror();
    WFDB_Sample v[2];
    std::size_t n = 0;
    int rc;
    while ((rc = getvec(v)) > 0) {
        ASSERT_EQ(v[0], samples[2 * n]) << n;
        ASSERT_EQ(v[1], samples[2 * n + 1]) << n;
        ++n;
    }
    EXPECT_EQ(rc, -3);
    EXPECT_EQ(n, kept) << "every frame before the cut is delivered";
    EXPECT_STREQ(wfdberror(), "getvec: FLAC signal file ends before the length its stream header states\n");
    EXPECT_EQ(v[0], WFDB_INVALID_SAMPLE);
    EXPECT_EQ(v[1], WFDB_INVALID_SAMPLE);
}

TEST_F(FlacRecord, SeekingPastTheEndFailsWhileTheEndItselfIsAPosition) {
    const auto samples = noise_samples(1, 100, 16);
    ASSERT_EQ(write_flac_file(dir / "r.flac", samples, {1, 16, 0, true, false}), "");
    write_header("r", "r 1 100 100\n" + signal_line("r.flac", 516, 1, 0, 0, column(samples, 1, 0)));
    ASSERT_EQ(open("r", 1), 1) << wfdberror();
    WFDB_Sample v = 0;
    EXPECT_EQ(isigsettime(100), 0);
    EXPECT_EQ(getvec(&v), -1);
    EXPECT_EQ(isigsettime(105), -1);
    EXPECT_STREQ(wfdberror(), "isigsettime: improper seek on signal group 0\n");
    EXPECT_EQ(isigsettime(-99), 0);
    EXPECT_EQ(getvec(&v), 1);
    EXPECT_EQ(v, samples[99]);
}

#endif  // SIGTROVE_HAVE_FLAC

// A FLAC group that can not be read is skipped at open, as a missing file is;
// the other groups still open, and the skipped group's text stays.
TEST_F(FlacRecord, AnUnreadableFlacGroupIsSkippedAtOpen) {
    dir.write("r.dat", std::string("\x01\x00\x02\x00\x03\x00", 6));
    dir.write("r.flac", "not FLAC at all");
    write_header("r", "r 2 100 3\nr.dat 16 200 16 0 1 6 0 a\nr.flac 516 200 16 0 0 0 0 b\n");
    EXPECT_EQ(open("r", 2), 1);
#if SIGTROVE_HAVE_FLAC
    EXPECT_STREQ(wfdberror(), "isigopen: cannot open stream decoder\n");
#else
    EXPECT_STREQ(wfdberror(), "isigopen: sigtrove engine was compiled without FLAC support\n");
#endif
    WFDB_Sample v = 0;
    EXPECT_EQ(getvec(&v), 1);
    EXPECT_EQ(v, 1);
}

// The shared record of one signal in each FLAC format, against the reference's outputs.
class FlacFormatsRecord : public FlacRecord {
protected:
    FlacFormatsRecord() {
        sigtrove::engine::reset_database_path();
        expected = sigtrove::testing::load_expected({"flacformats.json", SIGTROVE_FIXTURES "/records", "flacformats"});
    }
    ~FlacFormatsRecord() override { sigtrove::engine::reset_database_path(); }

    // The reference leaves stale bytes in the vector of a frame it can not deliver;
    // the engine fills such a frame with the invalid value instead.
    static std::vector<int> sound_vector(const nlohmann::json &frame) {
        std::vector<int> v = frame["vector"].get<std::vector<int>>();
        if (frame["ret"].get<int>() < 0) std::fill(v.begin(), v.end(), WFDB_INVALID_SAMPLE);
        return v;
    }

    void check_seeks(const nlohmann::json &calls) {
        for (const auto &call : calls) {
            SCOPED_TRACE(call["label"].get<std::string>());
            const int ret = isigsettime(call["t"].get<long>());
            EXPECT_EQ(ret, call["ret"].get<int>());
            if (ret < 0) {
                EXPECT_EQ(std::string(wfdberror()), call["wfdberror"].get<std::string>());
            }
            for (const auto &frame : call["frames"]) {
                std::vector<int> v(3, 12345);
                EXPECT_EQ(getvec(v.data()), frame["ret"].get<int>());
                EXPECT_EQ(v, sound_vector(frame));
            }
        }
    }

    nlohmann::json expected;
    sigtrove::testing::EnvironmentVariable records{"WFDB", std::string(SIGTROVE_FIXTURES "/records")};
};

#if SIGTROVE_HAVE_FLAC

TEST_F(FlacFormatsRecord, ReadsAsTheReferenceDoes) {
    ASSERT_EQ(open("flacformats", 3), 3) << wfdberror();
    const auto &samples = expected["samples"];
    std::vector<std::vector<int>> all;
    std::vector<int> v(3);
    int rc;
    while ((rc = getvec(v.data())) > 0) all.push_back(v);
    EXPECT_EQ(rc, samples["stop_ret"].get<int>());
    ASSERT_EQ(static_cast<long>(all.size()), samples["frames_delivered"].get<long>());
    EXPECT_EQ(v, std::vector<int>(3, WFDB_INVALID_SAMPLE));
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        long long sum = 0, sumsq = 0;
        int lo = std::numeric_limits<int>::max(), hi = std::numeric_limits<int>::min();
        for (const auto &frame : all) {
            const int x = frame[static_cast<std::size_t>(i)];
            sum += x;
            sumsq += static_cast<long long>(x) * x;
            lo = std::min(lo, x);
            hi = std::max(hi, x);
        }
        EXPECT_EQ(sum, samples["sum"][i].get<long long>());
        EXPECT_EQ(sumsq, samples["sumsq"][i].get<long long>());
        EXPECT_EQ(lo, samples["min"][i].get<int>());
        EXPECT_EQ(hi, samples["max"][i].get<int>());
    }
    const auto first = samples["first"].get<std::vector<std::vector<int>>>();
    const auto last = samples["last"].get<std::vector<std::vector<int>>>();
    EXPECT_TRUE(std::equal(first.begin(), first.end(), all.begin()));
    EXPECT_TRUE(std::equal(last.begin(), last.end(), all.begin() + samples["last_start_index"].get<long>()));
    for (const auto &after : samples["after_stop"]) {
        std::vector<int> w(3, 12345);
        EXPECT_EQ(getvec(w.data()), after["ret"].get<int>());
        EXPECT_EQ(w, sound_vector(after));
    }
    check_seeks(expected["seek"]["calls"]);
}

TEST_F(FlacFormatsRecord, SeeksAfterAReopenAsTheReferenceDoes) {
    ASSERT_EQ(open("flacformats", 3), 3) << wfdberror();
    std::vector<int> v(3);
    while (getvec(v.data()) > 0) {
    }
    ASSERT_EQ(open("flacformats", 3), expected["seek_after_reopen"]["reopen_ret"].get<int>());
    check_seeks(expected["seek_after_reopen"]["calls"]);
}

#else

TEST_F(FlacFormatsRecord, OpensNothingWithoutFlacSupport) {
    EXPECT_EQ(open("flacformats", 3), 0);
    EXPECT_STREQ(wfdberror(),
                 "isigopen: none of the signals for record flacformats is readable"
                 " (this engine was built without FLAC support)\n");
}

#endif

}  // namespace
