#include "edf/edf_annotations.h"

#include <algorithm>
#include <memory>

#include "edf/annotation_lists.h"
#include "edf/edf_layout.h"
#include "header/record_memory.h"
#include "io/signal_file_handle.h"
#include "network/remote_file.h"
#include "paths/path_search.h"
#include "wfdb/wfdb.h"

namespace sigtrove::engine {
namespace {

// What one annotation costs to hold, besides its text.
constexpr long long kBytesPerAnnotation = 96;

// The annotation signals' bytes of each data record, in order: small data
// records are read many at a time (one read per data record would cost a
// system call, or a request, per few bytes), large ones by their spans alone.
class AnnotationSpans {
public:
    AnnotationSpans(SignalFileHandle &file, const EdfLayout &layout, std::int64_t first, std::int64_t size)
        : file_(file), layout_(layout), first_(first), size_(size) {
        if (layout.record_bytes <= kWholeRecordsBelow)
            chunk_ = std::max<std::int64_t>(1, kChunkBytes / layout.record_bytes);
    }

    // Points `span` at data record r's bytes: 1, or 0 when the file ends before them, or -1 when reading fails.
    long long at(std::int64_t r, const std::uint8_t *&span) {
        if (chunk_ == 0) {
            buffer_.resize(static_cast<std::size_t>(size_));
            long long got = file_.read_fully(buffer_.data(), buffer_.size(), layout_.record_offset(r) + first_);
            if (got < 0) return -1;
            span = buffer_.data();
            return got == size_ ? 1 : 0;
        }
        if (r < start_ || r >= start_ + held_) {
            buffer_.resize(static_cast<std::size_t>(chunk_ * layout_.record_bytes));
            long long got = file_.read_fully(buffer_.data(), buffer_.size(), layout_.record_offset(r));
            if (got < 0) return -1;
            start_ = r;
            held_ = got / layout_.record_bytes;
        }
        if (r >= start_ + held_) return 0;
        span = buffer_.data() + (r - start_) * layout_.record_bytes + first_;
        return 1;
    }

private:
    static constexpr std::int64_t kWholeRecordsBelow = 64 << 10, kChunkBytes = 256 << 10;
    SignalFileHandle &file_;
    const EdfLayout &layout_;
    std::int64_t first_, size_;
    std::int64_t chunk_ = 0;  // data records per read, 0: spans alone
    std::vector<std::uint8_t> buffer_;
    std::int64_t start_ = 0, held_ = 0;
};

}  // namespace

Status read_edf_annotations(const Header &header, const std::string &record, std::vector<EdfAnnotation> &out) {
    out.clear();
    const EdfLayout &layout = *header.edf;
    if (layout.annotations.empty())
        return Status::failure(ErrorKind::not_found, "annopen: can't read annotator edf for record " + record +
                                                         ": it has no annotation signal\n");
    std::shared_ptr<SignalFileHandle> file;
    if (is_url(layout.file)) {
        RemoteOpening opening = open_remote_file(layout.file, RemoteAccess::anywhere);
        if (!opening.source)
            return Status::failure(opening.failure.empty() ? ErrorKind::not_found : ErrorKind::remote,
                                   "annopen: can't open " + layout.file +
                                       (opening.failure.empty() ? "" : " (" + opening.failure + ")") + "\n");
        file = std::make_shared<SignalFileHandle>(std::move(opening.source));
    } else {
        file = std::make_shared<SignalFileHandle>(layout.file);
        if (!file->open()) return Status::failure(ErrorKind::not_found, "annopen: can't open " + layout.file + "\n");
    }
    // Annotation times count frames at the record's frame rate (WFDB's default without signals).
    const ExactRate rate =
        layout.frames_per_record > 0 ? layout.frame_rate : ExactRate{static_cast<std::int64_t>(WFDB_DEFFREQ), 1};
    // The annotation signals' bytes of a data record, read as one span.
    std::int64_t first = layout.annotations.front().offset, end = first;
    for (const EdfSignalBlock &a : layout.annotations) {
        first = std::min(first, a.offset);
        end = std::max(end, a.offset + a.samples * layout.sample_bytes);
    }
    AnnotationSpans spans(*file, layout, first, end - first);
    std::vector<EdfAnnotationList> lists;
    std::vector<std::int64_t> order;  // onsets in ns, to sort by
    long long held = 0;
    Status status;
    const std::int64_t records = layout.stored_records >= 0 ? layout.stored_records : layout.records;
    for (std::int64_t r = 0; records < 0 || r < records; ++r) {
        const std::uint8_t *span = nullptr;
        long long got = spans.at(r, span);
        if (got < 0) {
            std::string reason = file->failure();
            status = Status::failure(reason.empty() ? ErrorKind::unreadable : ErrorKind::remote,
                                     "getann: can't read data record " + std::to_string(r) + " of " + record +
                                         (reason.empty() ? "" : " (" + reason + ")") + "\n");
            break;
        }
        if (got == 0) break;  // the file ends here
        std::string error;
        bool malformed = false;
        for (const EdfSignalBlock &a : layout.annotations) {
            lists.clear();
            const auto size = static_cast<std::size_t>(a.samples * layout.sample_bytes);
            if (!parse_annotation_lists(span + (a.offset - first), size, lists, error)) malformed = true;
            for (const EdfAnnotationList &list : lists) {
                std::int64_t time = frame_holding(list.onset, layout.first_onset, rate);
                for (std::string_view text : list.texts) {
                    // Empty texts annotate nothing: the first is a data record's time stamp.
                    if (text.empty()) continue;
                    held += kBytesPerAnnotation + static_cast<long long>(text.size());
                    if (held > max_record_memory())
                        return Status::failure(ErrorKind::limit,
                                               "getann: the annotations of record " + record + " need more than the " +
                                                   megabytes(max_record_memory()) +
                                                   " a record may use (SIGTROVE_MAX_RECORD_MEMORY)\n");
                    EdfAnnotation &entry = out.emplace_back();
                    entry.time = time;
                    entry.onset = list.onset.seconds;
                    if (list.duration) entry.duration = list.duration->seconds;
                    entry.text.assign(text);
                    order.push_back(list.onset.nanoseconds);
                }
            }
            if (malformed) break;
        }
        if (malformed) {
            status = Status::failure(ErrorKind::unreadable, "getann: in data record " + std::to_string(r) + " of " +
                                                                record + ", " + error + "\n");
            break;
        }
    }
    // By onset; lists of one onset keep the order of the file.
    std::vector<std::size_t> index(out.size());
    for (std::size_t i = 0; i < index.size(); ++i) index[i] = i;
    std::stable_sort(index.begin(), index.end(), [&](std::size_t a, std::size_t b) { return order[a] < order[b]; });
    std::vector<EdfAnnotation> sorted;
    sorted.reserve(out.size());
    for (std::size_t i : index) sorted.push_back(std::move(out[i]));
    out = std::move(sorted);
    return status;
}

}  // namespace sigtrove::engine
