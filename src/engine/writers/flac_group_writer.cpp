// The FLAC formats (508, 516, 524): one FLAC stream per signal file, one channel
// per signal, written by libFLAC's encoder with the settings of the field's
// writer (sample rate field 96000, compression level 5, the default block
// size), so that the same libFLAC gives the same bytes. The encoder goes back to
// fill in the stream's length and checksum when it finishes.
#include "writers/group_writer.h"

#ifdef SIGTROVE_HAVE_FLAC
#include <FLAC/stream_encoder.h>
#endif

#include <algorithm>

namespace sigtrove::engine {

#ifdef SIGTROVE_HAVE_FLAC
namespace {

struct EncoderDeleter {
    void operator()(FLAC__StreamEncoder *encoder) const { FLAC__stream_encoder_delete(encoder); }
};

class FlacGroupWriter final : public GroupWriter {
public:
    FlacGroupWriter(std::unique_ptr<OutputFile> file, std::size_t channels, std::size_t spf)
        : GroupWriter(std::move(file)), channels_(channels), spf_(spf) {}

    Status start(int bits) {
        encoder_.reset(FLAC__stream_encoder_new());
        if (!encoder_) return Status::failure(ErrorKind::out_of_memory, "sigtrove: can't make a FLAC encoder\n");
        FLAC__StreamEncoder *e = encoder_.get();
        bool ok = FLAC__stream_encoder_set_channels(e, static_cast<uint32_t>(channels_)) &&
                  FLAC__stream_encoder_set_bits_per_sample(e, static_cast<uint32_t>(bits)) &&
                  FLAC__stream_encoder_set_sample_rate(e, 96000) && FLAC__stream_encoder_set_compression_level(e, 5);
        if (!ok) return fail("the FLAC encoder refused its settings");
        if (FLAC__stream_encoder_init_stream(e, write_bytes, seek_to, tell_position, nullptr, this) !=
            FLAC__STREAM_ENCODER_INIT_STATUS_OK)
            return fail("the FLAC encoder could not start");
        return failure_;
    }

    Status write(const std::int32_t *stream, std::size_t frames) override {
        // FLAC interleaves channels sample by sample; a frame holds each signal's spf samples in turn.
        const std::size_t per_frame = channels_ * spf_;
        interleaved_.resize(frames * per_frame);
        for (std::size_t f = 0; f < frames; ++f) {
            const std::int32_t *in = stream + f * per_frame;
            FLAC__int32 *out = interleaved_.data() + f * per_frame;
            for (std::size_t c = 0; c < channels_; ++c)
                for (std::size_t j = 0; j < spf_; ++j) out[j * channels_ + c] = in[c * spf_ + j];
        }
        if (!FLAC__stream_encoder_process_interleaved(encoder_.get(), interleaved_.data(),
                                                      static_cast<uint32_t>(frames * spf_)))
            return failure_.ok() ? fail("the FLAC encoder failed") : failure_;
        return Status();
    }

    Status finish() override {
        if (!FLAC__stream_encoder_finish(encoder_.get()))
            return failure_.ok() ? fail("the FLAC encoder could not finish the stream") : failure_;
        return file_->finish();
    }

private:
    Status fail(const char *what) {
        return Status::failure(ErrorKind::unwritable, std::string("sigtrove: ") + what + " (" + file_->path() + ")\n");
    }

    static FLAC__StreamEncoderWriteStatus write_bytes(const FLAC__StreamEncoder *, const FLAC__byte buffer[],
                                                      size_t bytes, uint32_t, uint32_t, void *self) {
        auto *writer = static_cast<FlacGroupWriter *>(self);
        Status status = writer->file_->write(buffer, bytes);
        if (status.ok()) return FLAC__STREAM_ENCODER_WRITE_STATUS_OK;
        writer->failure_ = status;
        return FLAC__STREAM_ENCODER_WRITE_STATUS_FATAL_ERROR;
    }

    static FLAC__StreamEncoderSeekStatus seek_to(const FLAC__StreamEncoder *, FLAC__uint64 offset, void *self) {
        auto *writer = static_cast<FlacGroupWriter *>(self);
        Status status = writer->file_->seek(static_cast<long long>(offset));
        if (status.ok()) return FLAC__STREAM_ENCODER_SEEK_STATUS_OK;
        writer->failure_ = status;
        return FLAC__STREAM_ENCODER_SEEK_STATUS_ERROR;
    }

    static FLAC__StreamEncoderTellStatus tell_position(const FLAC__StreamEncoder *, FLAC__uint64 *offset, void *self) {
        *offset = static_cast<FLAC__uint64>(static_cast<FlacGroupWriter *>(self)->file_->position());
        return FLAC__STREAM_ENCODER_TELL_STATUS_OK;
    }

    std::size_t channels_, spf_;
    std::unique_ptr<FLAC__StreamEncoder, EncoderDeleter> encoder_;
    std::vector<FLAC__int32> interleaved_;
    Status failure_;
};

}  // namespace

Status open_flac_group_writer(std::unique_ptr<OutputFile> file, int bits, const std::vector<int> &samples_per_frame,
                              std::unique_ptr<GroupWriter> &out) {
    if (samples_per_frame.empty() || samples_per_frame.size() > 8)
        return Status::failure(ErrorKind::bad_request, "sigtrove: a FLAC signal file holds 1 to 8 signals, not " +
                                                           std::to_string(samples_per_frame.size()) + "\n");
    if (std::any_of(samples_per_frame.begin(), samples_per_frame.end(),
                    [&](int spf) { return spf != samples_per_frame.front(); }))
        return Status::failure(ErrorKind::bad_request,
                               "sigtrove: every signal of a FLAC signal file must have the same samples per frame\n");
    auto writer = std::make_unique<FlacGroupWriter>(std::move(file), samples_per_frame.size(),
                                                    static_cast<std::size_t>(samples_per_frame.front()));
    if (Status status = writer->start(bits); !status.ok()) return status;
    out = std::move(writer);
    return Status();
}

#else

Status open_flac_group_writer(std::unique_ptr<OutputFile>, int, const std::vector<int> &,
                              std::unique_ptr<GroupWriter> &) {
    return Status::failure(ErrorKind::bad_request,
                           "sigtrove: this engine was built without FLAC support: formats 508, 516 and 524 can not be "
                           "written\n");
}

#endif

}  // namespace sigtrove::engine
