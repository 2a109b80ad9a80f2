// The group reader of FLAC-compressed signal files (formats 508, 516, 524): one
// FLAC channel per signal, decoded block by block with libFLAC's stream decoder.
#include <algorithm>
#include <functional>
#include <limits>
#include <memory>
#include <new>

#include "errors/error_state.h"
#include "formats/group_reader.h"

#if SIGTROVE_HAVE_FLAC
#include <FLAC/stream_decoder.h>

#include "formats/flac_channel_stage.h"
#endif

namespace sigtrove::engine {
namespace {

// libFLAC's limit on channels in one stream.
constexpr std::size_t kMaxFlacChannels = 8;

// Whether a FLAC stream can hold the group at all; records the reason when not.
bool layout_is_storable(const GroupLayout &layout) {
    if (layout.spf.size() > kMaxFlacChannels) {
        record_error("isigopen: cannot store %u signals in a single FLAC file\n",
                     static_cast<unsigned>(layout.spf.size()));
        return false;
    }
    if (layout.spf.empty() ||
        std::adjacent_find(layout.spf.begin(), layout.spf.end(), std::not_equal_to<>()) != layout.spf.end()) {
        record_error("isigopen: every signal in a FLAC file must have\n  the same sampling frequency\n");
        return false;
    }
    return true;
}

}  // namespace

#if SIGTROVE_HAVE_FLAC

namespace {

constexpr const char *kUnexpected = "getvec: unexpected FLAC decoding error\n";
constexpr const char *kUnknownState = "getvec: unknown FLAC decoding state\n";
constexpr const char *kTruncated = "getvec: FLAC signal file ends before the length its stream header states\n";
constexpr const char *kNoMemory = "getvec: not enough memory to decode FLAC\n";

const char *text_of(FLAC__StreamDecoderErrorStatus status) {
    switch (status) {
        case FLAC__STREAM_DECODER_ERROR_STATUS_LOST_SYNC: return "getvec: unable to decode FLAC (lost sync)\n";
        case FLAC__STREAM_DECODER_ERROR_STATUS_BAD_HEADER: return "getvec: unable to decode FLAC (invalid header)\n";
        case FLAC__STREAM_DECODER_ERROR_STATUS_FRAME_CRC_MISMATCH:
            return "getvec: unable to decode FLAC (CRC mismatch)\n";
        case FLAC__STREAM_DECODER_ERROR_STATUS_UNPARSEABLE_STREAM:
            return "getvec: unable to decode FLAC (unsupported format)\n";
        default: return "getvec: unable to decode FLAC\n";
    }
}

unsigned max_bits_of(int fmt) { return fmt == 508 ? 8 : fmt == 516 ? 16 : 24; }

struct DecoderDeleter {
    void operator()(FLAC__StreamDecoder *decoder) const { FLAC__stream_decoder_delete(decoder); }
};

class FlacGroupReader final : public GroupReader {
public:
    FlacGroupReader(std::shared_ptr<SignalFileHandle> file, const GroupLayout &layout)
        : file_(std::move(file)),
          channels_(static_cast<unsigned>(layout.spf.size())),
          spf_(static_cast<unsigned>(layout.spf.front())),
          frame_size_(layout.frame_size),
          offset_(static_cast<FLAC__uint64>(std::max(0L, layout.offset))),
          max_bits_(max_bits_of(layout.fmt)),
          fname_(layout.fname) {}

    // Sets up the decoder and reads the stream's metadata; false after recording a text.
    bool start();

    long long read_frames(std::int32_t *dest, std::size_t max_frames) override;
    SeekOutcome seek_frame(long long frame) override;
    long long frame_count() override;
    // The count comes from the stream's own header, which a damaged file may misstate.
    bool frame_count_is_exact() const override { return false; }

private:
    void decode_next_block();
    bool position_at(FLAC__uint64 sample);
    bool stage_block(const FLAC__Frame *frame, const FLAC__int32 *const buffer[]);
    void note_stream_info(const FLAC__StreamMetadata_StreamInfo &info);

    static FLAC__StreamDecoderReadStatus on_read(const FLAC__StreamDecoder *, FLAC__byte buffer[], size_t *bytes,
                                                 void *self);
    static FLAC__StreamDecoderSeekStatus on_seek(const FLAC__StreamDecoder *, FLAC__uint64 offset, void *self);
    static FLAC__StreamDecoderTellStatus on_tell(const FLAC__StreamDecoder *, FLAC__uint64 *offset, void *self);
    static FLAC__StreamDecoderLengthStatus on_length(const FLAC__StreamDecoder *, FLAC__uint64 *length, void *self);
    static FLAC__bool on_eof(const FLAC__StreamDecoder *, void *self);
    static FLAC__StreamDecoderWriteStatus on_write(const FLAC__StreamDecoder *, const FLAC__Frame *frame,
                                                   const FLAC__int32 *const buffer[], void *self);
    static void on_metadata(const FLAC__StreamDecoder *, const FLAC__StreamMetadata *metadata, void *self);
    static void on_error(const FLAC__StreamDecoder *, FLAC__StreamDecoderErrorStatus status, void *self);
    static FlacGroupReader &of(void *self) { return *static_cast<FlacGroupReader *>(self); }

    // Declared before the decoder, so the decoder is deleted while its file is still open.
    std::shared_ptr<SignalFileHandle> file_;
    FLAC__uint64 file_position_ = 0;  // where the decoder reads next: the file may be shared with other groups
    bool file_ended_ = false;         // the last read found the end of the file
    std::unique_ptr<FLAC__StreamDecoder, DecoderDeleter> decoder_;
    const unsigned channels_, spf_;
    const std::size_t frame_size_;
    const FLAC__uint64 offset_;  // samples per channel before frame 0
    const unsigned max_bits_;
    const std::string fname_;
    FlacChannelStage stage_;
    bool have_stream_info_ = false;
    FLAC__uint64 total_samples_ = 0;  // per channel, from STREAMINFO; 0 when the stream does not say
    FLAC__uint64 next_sample_ = 0;    // per channel: the number of the next sample to be staged
    const char *fault_ = nullptr;     // why decoding can not go on, until the next seek
    std::string read_failure_;        // what the file said when a read failed, for the fault's text
    bool at_end_ = false;
    bool leftover_reported_ = false;
};

bool FlacGroupReader::start() {
    decoder_.reset(FLAC__stream_decoder_new());
    if (!decoder_) {
        record_error("isigopen: cannot initialize stream decoder\n");
        return false;
    }
    // A file with no FLAC stream header (STREAMINFO) is not a FLAC signal file at all.
    if (FLAC__stream_decoder_init_stream(decoder_.get(), on_read, on_seek, on_tell, on_length, on_eof, on_write,
                                         on_metadata, on_error, this) != FLAC__STREAM_DECODER_INIT_STATUS_OK ||
        !FLAC__stream_decoder_process_until_end_of_metadata(decoder_.get()) || !have_stream_info_) {
        if (read_failure_.empty())
            record_error("isigopen: cannot open stream decoder\n");
        else {
            note_remote_failure();
            record_error("isigopen: can't read FLAC signal file %s (%s)\n", fname_.c_str(), read_failure_.c_str());
        }
        return false;
    }
    // A stream shorter than the offset holds no frames, as a short uncompressed file does.
    if (offset_ > 0 && !position_at(offset_)) at_end_ = true;
    return true;
}

long long FlacGroupReader::read_frames(std::int32_t *dest, std::size_t max_frames) {
    std::size_t done = 0;
    while (done < max_frames) {
        if (const std::size_t whole = stage_.unread() / spf_; whole > 0) {
            const std::size_t n = std::min(whole, max_frames - done);
            stage_.take_frames(dest + done * frame_size_, n, spf_);
            done += n;
        } else if (fault_ || at_end_) {
            break;
        } else {
            decode_next_block();
        }
    }
    // Frames that decoded well come first; the fault is reported by the next call.
    if (fault_ && done == 0) {
        if (read_failure_.empty()) {
            record_error("%s", fault_);
        } else {
            note_remote_failure();
            // The source's reason goes inside the line: "getvec: ... (URL: reason)\n".
            std::string text(fault_);
            if (!text.empty() && text.back() == '\n') text.pop_back();
            record_error("%s (%s)\n", text.c_str(), read_failure_.c_str());
        }
        return -1;
    }
    if (at_end_ && !fault_ && done < max_frames && stage_.unread() > 0 && !leftover_reported_) {
        leftover_reported_ = true;
        record_error("getvec: warning: %d samples left over at end of file\n",
                     static_cast<int>(stage_.unread() * channels_));
    }
    return static_cast<long long>(done);
}

void FlacGroupReader::decode_next_block() {
    const bool ok = FLAC__stream_decoder_process_single(decoder_.get());
    if (fault_) return;  // a callback has said why
    switch (FLAC__stream_decoder_get_state(decoder_.get())) {
        case FLAC__STREAM_DECODER_END_OF_STREAM:
            at_end_ = true;
            // Stopping short of the length STREAMINFO states means the file lost its tail.
            if (total_samples_ > 0 && next_sample_ < total_samples_) fault_ = kTruncated;
            return;
        case FLAC__STREAM_DECODER_SEARCH_FOR_METADATA:
        case FLAC__STREAM_DECODER_READ_METADATA:
        case FLAC__STREAM_DECODER_SEARCH_FOR_FRAME_SYNC:
        case FLAC__STREAM_DECODER_READ_FRAME:
            if (!ok) fault_ = kUnexpected;
            return;
        case FLAC__STREAM_DECODER_MEMORY_ALLOCATION_ERROR: fault_ = kNoMemory; return;
        default: fault_ = ok ? kUnknownState : kUnexpected; return;
    }
}

SeekOutcome FlacGroupReader::seek_frame(long long frame) {
    const auto limit = static_cast<FLAC__uint64>(std::numeric_limits<long long>::max());
    if (frame < 0 || static_cast<FLAC__uint64>(frame) > (limit - offset_) / spf_) {
        record_error("isigsettime: position of frame %lld overflows in FLAC signal file %s\n", frame, fname_.c_str());
        return SeekOutcome::failed;
    }
    const FLAC__uint64 sample = static_cast<FLAC__uint64>(frame) * spf_ + offset_;
    if (total_samples_ > 0 && sample > total_samples_) {
        position_at(total_samples_);
        return SeekOutcome::past_end;
    }
    if (position_at(sample)) return SeekOutcome::ok;
    record_error("isigsettime: can't seek to frame %lld in FLAC signal file %s\n", frame, fname_.c_str());
    return SeekOutcome::failed;
}

long long FlacGroupReader::frame_count() {
    if (total_samples_ == 0) return -1;
    return total_samples_ > offset_ ? static_cast<long long>((total_samples_ - offset_) / spf_) : 0;
}

bool FlacGroupReader::position_at(FLAC__uint64 sample) {
    stage_.clear();
    fault_ = nullptr;
    read_failure_.clear();
    at_end_ = leftover_reported_ = false;
    next_sample_ = sample;
    if (total_samples_ > 0 && sample >= total_samples_) {
        // libFLAC refuses to seek to the end itself, yet the end is where a full read stops.
        at_end_ = true;
        return sample == total_samples_;
    }
    FLAC__StreamDecoder *decoder = decoder_.get();
    const FLAC__StreamDecoderState state = FLAC__stream_decoder_get_state(decoder);
    if (state == FLAC__STREAM_DECODER_SEEK_ERROR || state == FLAC__STREAM_DECODER_ABORTED)
        FLAC__stream_decoder_flush(decoder);
    if (FLAC__stream_decoder_seek_absolute(decoder, sample) && !fault_) return true;
    if (FLAC__stream_decoder_get_state(decoder) == FLAC__STREAM_DECODER_SEEK_ERROR) FLAC__stream_decoder_flush(decoder);
    // Nothing can be trusted until the next seek succeeds.
    stage_.clear();
    fault_ = nullptr;
    read_failure_.clear();
    at_end_ = true;
    return false;
}

bool FlacGroupReader::stage_block(const FLAC__Frame *frame, const FLAC__int32 *const buffer[]) {
    // libFLAC hands out a frame that failed its CRC check as silence, after reporting the error.
    if (fault_) return false;
    if (frame->header.channels != channels_) {
        fault_ = "getvec: wrong number of signals in FLAC signal file\n";
        return false;
    }
    if (frame->header.bits_per_sample > max_bits_) {
        fault_ = "getvec: wrong sample resolution in FLAC signal file\n";
        return false;
    }
    try {
        stage_.append(buffer, frame->header.blocksize);
    } catch (const std::bad_alloc &) {
        fault_ = kNoMemory;
        return false;
    }
    next_sample_ += frame->header.blocksize;
    return true;
}

void FlacGroupReader::note_stream_info(const FLAC__StreamMetadata_StreamInfo &info) {
    total_samples_ = info.total_samples;
    have_stream_info_ = true;
    // Room for a usual block (4096 samples) and a partial frame: the largest block
    // the stream declares is only a claim, and the stage grows when a larger block arrives.
    try {
        stage_.reset(channels_, std::min<std::size_t>(info.max_blocksize, 4096) + spf_);
    } catch (const std::bad_alloc &) {
        fault_ = kNoMemory;
    }
}

FLAC__StreamDecoderReadStatus FlacGroupReader::on_read(const FLAC__StreamDecoder *, FLAC__byte buffer[], size_t *bytes,
                                                       void *self) {
    FlacGroupReader &reader = of(self);
    const FLAC__uint64 limit = static_cast<FLAC__uint64>(std::numeric_limits<long long>::max());
    long long got = reader.file_position_ > limit
                        ? -1
                        : reader.file_->read_at(buffer, *bytes, static_cast<long long>(reader.file_position_));
    reader.file_ended_ = got == 0;
    *bytes = got > 0 ? static_cast<size_t>(got) : 0;
    if (got > 0) {
        reader.file_position_ += static_cast<FLAC__uint64>(got);
        return FLAC__STREAM_DECODER_READ_STATUS_CONTINUE;
    }
    if (got == 0) return FLAC__STREAM_DECODER_READ_STATUS_END_OF_STREAM;
    // A file that can not be read ends decoding with its own reason, not as damaged data.
    if (!reader.fault_) {
        reader.fault_ = "getvec: can't read FLAC signal file\n";
        reader.read_failure_ = reader.file_->failure();
    }
    return FLAC__STREAM_DECODER_READ_STATUS_ABORT;
}

FLAC__StreamDecoderSeekStatus FlacGroupReader::on_seek(const FLAC__StreamDecoder *, FLAC__uint64 offset, void *self) {
    FlacGroupReader &reader = of(self);
    if (offset > static_cast<FLAC__uint64>(std::numeric_limits<off_t>::max()) || !reader.file_->open())
        return FLAC__STREAM_DECODER_SEEK_STATUS_ERROR;
    reader.file_position_ = offset;
    reader.file_ended_ = false;
    return FLAC__STREAM_DECODER_SEEK_STATUS_OK;
}

FLAC__StreamDecoderTellStatus FlacGroupReader::on_tell(const FLAC__StreamDecoder *, FLAC__uint64 *offset, void *self) {
    *offset = of(self).file_position_;
    return FLAC__STREAM_DECODER_TELL_STATUS_OK;
}

FLAC__StreamDecoderLengthStatus FlacGroupReader::on_length(const FLAC__StreamDecoder *, FLAC__uint64 *length,
                                                           void *self) {
    long long size = of(self).file_->size();
    if (size < 0) return FLAC__STREAM_DECODER_LENGTH_STATUS_ERROR;
    *length = static_cast<FLAC__uint64>(size);
    return FLAC__STREAM_DECODER_LENGTH_STATUS_OK;
}

FLAC__bool FlacGroupReader::on_eof(const FLAC__StreamDecoder *, void *self) { return of(self).file_ended_; }

FLAC__StreamDecoderWriteStatus FlacGroupReader::on_write(const FLAC__StreamDecoder *, const FLAC__Frame *frame,
                                                         const FLAC__int32 *const buffer[], void *self) {
    return of(self).stage_block(frame, buffer) ? FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE
                                               : FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;
}

void FlacGroupReader::on_metadata(const FLAC__StreamDecoder *, const FLAC__StreamMetadata *metadata, void *self) {
    if (metadata->type == FLAC__METADATA_TYPE_STREAMINFO) of(self).note_stream_info(metadata->data.stream_info);
}

// libFLAC would go on after an error (searching for the next frame, or handing
// out silence for a damaged one); the first error stops the group instead.
void FlacGroupReader::on_error(const FLAC__StreamDecoder *, FLAC__StreamDecoderErrorStatus status, void *self) {
    FlacGroupReader &reader = of(self);
    if (!reader.fault_) reader.fault_ = text_of(status);
}

}  // namespace

std::unique_ptr<GroupReader> open_flac_group_reader(const GroupLayout &layout, std::shared_ptr<SignalFileHandle> file) {
    if (!layout_is_storable(layout)) return nullptr;
    // The stream header is read now, so the file is opened now.
    if (!file || !file->open()) {
        record_error("isigopen: cannot open stream decoder\n");
        return nullptr;
    }
    auto reader = std::make_unique<FlacGroupReader>(std::move(file), layout);
    if (!reader->start()) return nullptr;
    return reader;
}

bool flac_supported() { return true; }

#else  // built without libFLAC

bool flac_supported() { return false; }

std::unique_ptr<GroupReader> open_flac_group_reader(const GroupLayout &layout, std::shared_ptr<SignalFileHandle>) {
    if (layout_is_storable(layout)) record_error("isigopen: sigtrove engine was compiled without FLAC support\n");
    return nullptr;
}

#endif

}  // namespace sigtrove::engine
