#include "signals/group_window.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <numeric>

#include "formats/sample_formats.h"
#include "signals/sample_kernels.h"
#include "wfdb/wfdb.h"

namespace sigtrove::engine {

namespace {

// Decoded samples one group's refill takes, and what all the groups of a record take together.
// The file is read in larger blocks below this (io/signal_file), so a small refill costs no
// more system calls: it keeps the decoded values in the first-level cache from the decoder
// to the sink (a refill of 128 KiB went through the second-level cache three or four times).
constexpr std::size_t kGroupBlockSamples = 4096;
constexpr std::size_t kRecordBlockSamples = 1u << 20;

}  // namespace

std::size_t window_block_frames(std::size_t frame_size, std::size_t groups) {
    std::size_t samples = std::min(kGroupBlockSamples, kRecordBlockSamples / std::max<std::size_t>(groups, 1));
    return std::max<std::size_t>(1, samples / std::max<std::size_t>(frame_size, 1));
}

GroupWindow::GroupWindow(std::unique_ptr<GroupReader> reader, const GroupLayout &layout, long long span,
                         std::vector<ChecksumTally> tallies)
    : reader_(std::move(reader)),
      frame_size_(layout.frame_size),
      span_(span),
      capacity_(static_cast<std::size_t>(span) + window_block_frames(layout.frame_size, layout.group_count)),
      tallies_(std::move(tallies)) {
    // FLAC formats mark invalid samples as the uncompressed formats of their sample size do.
    int code = layout.fmt == 508 ? 80 : layout.fmt == 516 ? 16 : layout.fmt == 524 ? 24 : layout.fmt;
    const SampleFormat *format = uncompressed_format(code);
    replace_markers_ = format && format->has_invalid_marker && format->invalid_marker != WFDB_INVALID_SAMPLE;
    marker_ = format ? format->invalid_marker : 0;
    column_limit_.assign(frame_size_, 0);
    column_sums_.assign(frame_size_, 0);
    column_taken_.assign(frame_size_, 0);
    for (const ChecksumTally &t : tallies_) {
        for (int k = 0; k < t.spf; ++k) {
            column_limit_[t.column + static_cast<std::size_t>(k)] = t.nsamp;
            column_taken_[t.column + static_cast<std::size_t>(k)] = 0xFFFFFFFFu;
        }
        sum_limit_ = std::max(sum_limit_, t.nsamp);
    }
    shortest_limit_ = sum_limit_;
    if (tallies_.empty()) return;
    // Several rows at a time, a whole number of 16-value vectors when rows are
    // short, so that the summing loop runs in whole vectors with no remainder.
    std::size_t rows_per_run = 1;
    if (frame_size_ <= 256) {
        const std::size_t whole = 16 / std::gcd<std::size_t>(frame_size_, 16);
        rows_per_run = whole * std::max<std::size_t>(1, 64 / (whole * frame_size_));
    }
    for (std::size_t r = 0; r < rows_per_run; ++r)
        run_mask_.insert(run_mask_.end(), column_taken_.begin(), column_taken_.end());
    run_sums_.assign(run_mask_.size(), 0);
    for (std::size_t c = 0; c < frame_size_; ++c)
        if (column_taken_[c]) shortest_limit_ = std::min(shortest_limit_, column_limit_[c]);
}

std::uint32_t GroupWindow::checksum_sum(std::size_t i) const {
    const ChecksumTally &t = tallies_[i];
    std::uint32_t sum = 0;
    for (int k = 0; k < t.spf; ++k) sum += column_sums_[t.column + static_cast<std::size_t>(k)];
    return sum;
}

bool GroupWindow::load(long long n) {
    if (failed_ || n < first_ || n - first_ > static_cast<long long>(count_)) return false;
    // Rows before n are never needed again: keep the rest at the front.
    auto drop = static_cast<std::size_t>(n - first_);
    if (drop > 0) {
        std::memmove(rows_.data(), rows_.data() + drop * frame_size_,
                     (count_ - drop) * frame_size_ * sizeof(std::int32_t));
        count_ -= drop;
        first_ = n;
    }
    // Readers may deliver fewer frames than asked before the end: only an empty read ends the data.
    while (!ended_ && n - first_ >= static_cast<long long>(count_) - span_) {
        std::size_t wanted = make_room();
        if (wanted == 0) break;
        long long got = reader_->read_frames(rows_.data() + count_ * frame_size_, wanted);
        if (got < 0) {
            failed_ = true;
            return false;
        }
        take_new_rows(count_, count_ + static_cast<std::size_t>(got));
        count_ += static_cast<std::size_t>(got);
        if (got == 0) {
            ended_ = true;
            end_frame_ = first_ + static_cast<long long>(count_);
        }
    }
    return n - first_ < static_cast<long long>(count_) - span_;
}

std::size_t GroupWindow::make_room() {
    std::size_t rows = capacity_;
    // Data whose length is known exactly never need more rows than they hold from first_ on.
    // Asked only while the buffer may still grow: once it holds a whole refill, reads
    // simply stop where the data end, and the file's size is not looked up at each refill.
    const bool may_grow = rows_.size() < capacity_ * frame_size_;
    const long long stored = may_grow && reader_->frame_count_is_exact() ? reader_->frame_count() : -1;
    if (stored >= 0) {
        auto left = static_cast<std::size_t>(std::max(0LL, stored - first_));
        if (left <= count_) {
            ended_ = true;
            end_frame_ = first_ + static_cast<long long>(count_);
            return 0;
        }
        rows = std::min(rows, left);
    }
    // Expected covers end early: read no rows (and no bytes) beyond them.
    if (expected_end_ >= 0) {
        if (expected_end_ <= first_ + static_cast<long long>(count_)) {
            expected_end_ = -1;
        } else if (expected_end_ - first_ < static_cast<long long>(rows)) {
            rows = static_cast<std::size_t>(expected_end_ - first_);
            expected_end_ = -1;
        }
    }
    if (rows_.size() < rows * frame_size_) rows_.resize(rows * frame_size_);
    return rows - count_;
}

void GroupWindow::expect(long long from, long long frames) {
    expected_end_ = -1;
    if (from < 0 || frames <= 0 || frames > LLONG_MAX - from - span_) return;
    expected_end_ = from + frames + span_;
    // The reader is told at once, so that a file on a web server can ask for all of it in one request.
    long long end = first_ + static_cast<long long>(count_);
    if (expected_end_ > end) reader_->expect_frames(expected_end_ - end);
}

void GroupWindow::take_new_rows(std::size_t from, std::size_t to) {
    std::int32_t *block = rows_.data() + from * frame_size_;
    const std::size_t replaced = summing_ ? sum_rows(block, first_ + static_cast<long long>(from), to - from) : 0;
    if (!replace_markers_) return;
    replace_marker(block + replaced, (to - from) * frame_size_ - replaced, marker_);
}

std::size_t GroupWindow::sum_rows(std::int32_t *block, long long frame, std::size_t frames) {
    if (frame >= sum_limit_) return 0;
    auto counted = static_cast<std::size_t>(std::min<long long>(static_cast<long long>(frames), sum_limit_ - frame));
    // Frames that every summed column still counts are summed row by row, in order
    // through memory; the tail of a shorter column is finished column by column.
    auto all_counted = static_cast<std::size_t>(std::clamp<long long>(shortest_limit_ - frame, 0, counted));
    // Several rows at a time when rows are short, so the inner loop is long enough to vectorise.
    const std::size_t run = run_mask_.size();
    const std::size_t values = all_counted * frame_size_;
    // Markers are replaced in the same pass (after they are summed, as stored).
    std::fill(run_sums_.begin(), run_sums_.end(), 0u);
    if (replace_markers_)
        add_masked_runs_replacing(block, values, run_mask_.data(), run, run_sums_.data(), marker_);
    else
        add_masked_runs(block, values, run_mask_.data(), run, run_sums_.data());
    for (std::size_t j = 0; j < run; ++j) column_sums_[j % frame_size_] += run_sums_[j];
    block += values;
    for (std::size_t c = 0; c < frame_size_; ++c) {
        if (column_limit_[c] <= frame + static_cast<long long>(all_counted)) continue;
        auto rest = std::min<std::size_t>(counted - all_counted,
                                          static_cast<std::size_t>(column_limit_[c] - frame) - all_counted);
        std::uint32_t sum = 0;
        const std::int32_t *sample = block + c;
        for (std::size_t f = 0; f < rest; ++f, sample += frame_size_) sum += static_cast<std::uint32_t>(*sample);
        column_sums_[c] += sum;
    }
    return replace_markers_ ? values : 0;
}

SeekOutcome GroupWindow::seek(long long frame, bool inside_frame) {
    summing_ = false;
    count_ = 0;
    first_ = frame;
    expected_end_ = -1;
    ended_ = failed_ = false;
    SeekOutcome outcome = reader_->seek_frame(frame);
    long long frames = inside_frame && outcome == SeekOutcome::ok ? reader_->frame_count() : -1;
    if (frames >= 0 && frame >= frames) outcome = SeekOutcome::past_end;
    if (outcome == SeekOutcome::past_end) {
        ended_ = true;
        frames = reader_->frame_count();
        end_frame_ = frames >= 0 ? frames : frame;
    } else if (outcome == SeekOutcome::failed) {
        failed_ = true;
    }
    return outcome;
}

}  // namespace sigtrove::engine
