// The decoded frames of one signal group, held in a window that slides
// forward as reading advances. Skewed signals take their samples from later
// rows of the same window. Samples are checksummed as they are decoded (while
// reading runs from frame 0 without a seek) and stored invalid markers become
// WFDB_INVALID_SAMPLE.
#ifndef SIGTROVE_ENGINE_GROUP_WINDOW_H
#define SIGTROVE_ENGINE_GROUP_WINDOW_H

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "formats/group_reader.h"

namespace sigtrove::engine {

// A signal of the group whose stored values the window sums for its checksum.
struct ChecksumTally {
    std::size_t column = 0;  // first column of the signal in a stored frame
    int spf = 1;
    long long nsamp = 0;  // frames to sum: the signal's length
};

class GroupWindow {
public:
    // `span` is the largest skew of the group: reading frame n needs rows n .. n + span.
    GroupWindow(std::unique_ptr<GroupReader> reader, const GroupLayout &layout, long long span,
                std::vector<ChecksumTally> tallies);

    // True when rows n .. n + span are present, reading more as needed; false
    // when the data end (or fail) first. n never goes back except through restart().
    bool cover(long long n) {
        // Measured from first_, so that frames near the largest time do not overflow.
        if (n >= first_ && n - first_ < static_cast<long long>(count_) - span_) return true;
        return load(n);
    }
    // After cover(n): how many consecutive frames from n are ready, skew included.
    std::size_t ready_from(long long n) const {
        return count_ - static_cast<std::size_t>(span_) - static_cast<std::size_t>(n - first_);
    }
    // Valid until the next cover() or seek() of this window.
    const std::int32_t *row(long long frame) const {
        return rows_.data() + static_cast<std::size_t>(frame - first_) * frame_size_;
    }

    // The next covers will ask for about `frames` frames from `from`: rows and
    // file reads stop where those end (skew included) instead of filling a whole
    // refill, so a short window reads only its own bytes. Later covers read on as usual.
    void expect(long long from, long long frames);

    // Repositions at `frame` (which must exist when `inside_frame`); checksums
    // are no longer summed after a seek.
    SeekOutcome seek(long long frame, bool inside_frame);

    bool failed() const { return failed_; }
    // After the data ended: how many stored frames the group has.
    long long end_frame() const { return end_frame_; }
    std::size_t frame_size() const { return frame_size_; }
    long long span() const { return span_; }
    // How many stored frames the group's data hold, -1 when that is not known.
    long long stored_frames() { return reader_->frame_count(); }
    // The sum, modulo 2^32, of the stored values of tally i summed so far.
    std::uint32_t checksum_sum(std::size_t i) const;

private:
    bool load(long long n);
    std::size_t make_room();
    void take_new_rows(std::size_t from, std::size_t to);
    // Sums the rows' stored values into the checksums; returns how many values
    // from `block` on it has also had their markers replaced.
    std::size_t sum_rows(std::int32_t *block, long long frame, std::size_t frames);

    std::unique_ptr<GroupReader> reader_;
    std::size_t frame_size_;
    long long span_;
    std::vector<std::int32_t> rows_;  // allocated as reading needs rows, never for more than the data hold
    std::size_t capacity_;            // rows the buffer may hold: the largest skew and one refill
    long long first_ = 0;             // stored frame number of row 0
    std::size_t count_ = 0;           // rows filled
    bool ended_ = false, failed_ = false;
    long long end_frame_ = 0;
    long long expected_end_ = -1;  // the row the expected covers end before, -1 for none
    bool replace_markers_;
    std::int32_t marker_;
    bool summing_ = true;
    std::vector<ChecksumTally> tallies_;
    std::vector<long long> column_limit_;      // frames each column is summed over (0: not summed)
    long long sum_limit_ = 0;                  // the largest of them
    long long shortest_limit_ = 0;             // the smallest limit of a summed column
    std::vector<std::uint32_t> column_taken_;  // all ones for a summed column, else 0
    std::vector<std::uint32_t> run_mask_;      // column_taken_ repeated over a run of whole rows
    std::vector<std::uint32_t> run_sums_;      // partial sums of each place in a run
    std::vector<std::uint32_t> column_sums_;   // wrapping sums, as only their low 16 bits matter
};

// Frames per window refill: about 16 KiB of decoded samples, never less than
// one frame, so that a refill is decoded, summed, its markers replaced and
// delivered while it is still in the first-level cache; less when very many
// groups are read side by side (`groups`), so that a record's windows together
// stay within a few megabytes.
std::size_t window_block_frames(std::size_t frame_size, std::size_t groups = 1);

}  // namespace sigtrove::engine

#endif
