// Only built where libFLAC is available; FLAC tests skip themselves elsewhere.
#include "flac_writer.h"

#if SIGTROVE_HAVE_FLAC
#include <FLAC/metadata.h>
#include <FLAC/stream_encoder.h>

#include <cstdio>
#include <memory>

namespace sigtrove::testing {
namespace {

struct EncoderDeleter {
    void operator()(FLAC__StreamEncoder *encoder) const { FLAC__stream_encoder_delete(encoder); }
};
struct MetadataDeleter {
    void operator()(FLAC__StreamMetadata *block) const { FLAC__metadata_object_delete(block); }
};
struct FileCloser {
    void operator()(std::FILE *file) const { std::fclose(file); }
};

FLAC__StreamEncoderWriteStatus write_bytes(const FLAC__StreamEncoder *, const FLAC__byte buffer[], size_t bytes,
                                           uint32_t, uint32_t, void *file) {
    return std::fwrite(buffer, 1, bytes, static_cast<std::FILE *>(file)) == bytes
               ? FLAC__STREAM_ENCODER_WRITE_STATUS_OK
               : FLAC__STREAM_ENCODER_WRITE_STATUS_FATAL_ERROR;
}

FLAC__StreamEncoderSeekStatus seek_to(const FLAC__StreamEncoder *, FLAC__uint64 offset, void *file) {
    return fseeko(static_cast<std::FILE *>(file), static_cast<off_t>(offset), SEEK_SET) == 0
               ? FLAC__STREAM_ENCODER_SEEK_STATUS_OK
               : FLAC__STREAM_ENCODER_SEEK_STATUS_ERROR;
}

FLAC__StreamEncoderTellStatus tell_position(const FLAC__StreamEncoder *, FLAC__uint64 *offset, void *file) {
    off_t position = ftello(static_cast<std::FILE *>(file));
    if (position < 0) return FLAC__STREAM_ENCODER_TELL_STATUS_ERROR;
    *offset = static_cast<FLAC__uint64>(position);
    return FLAC__STREAM_ENCODER_TELL_STATUS_OK;
}

std::string configure(FLAC__StreamEncoder *encoder, const FlacLayout &layout, FLAC__uint64 frames) {
    bool ok = FLAC__stream_encoder_set_channels(encoder, layout.channels) &&
              FLAC__stream_encoder_set_bits_per_sample(encoder, layout.bits_per_sample) &&
              FLAC__stream_encoder_set_sample_rate(encoder, 96000) &&
              FLAC__stream_encoder_set_compression_level(encoder, 5) &&
              FLAC__stream_encoder_set_streamable_subset(encoder, false);
    if (ok && layout.block_size > 0) ok = FLAC__stream_encoder_set_blocksize(encoder, layout.block_size);
    if (ok && layout.states_length) ok = FLAC__stream_encoder_set_total_samples_estimate(encoder, frames);
    return ok ? "" : "the encoder refused the layout";
}

}  // namespace

std::string write_flac_file(const std::string &path, const std::vector<std::int32_t> &interleaved,
                            const FlacLayout &layout) {
    if (layout.channels == 0 || interleaved.size() % layout.channels != 0) return "ragged sample list";
    const FLAC__uint64 frames = interleaved.size() / layout.channels;
    std::unique_ptr<FLAC__StreamEncoder, EncoderDeleter> encoder(FLAC__stream_encoder_new());
    if (!encoder) return "no encoder";
    if (std::string problem = configure(encoder.get(), layout, frames); !problem.empty()) return problem;

    std::unique_ptr<FLAC__StreamMetadata, MetadataDeleter> seek_table;
    if (layout.seek_table) {
        seek_table.reset(FLAC__metadata_object_new(FLAC__METADATA_TYPE_SEEKTABLE));
        FLAC__StreamMetadata *blocks[] = {seek_table.get()};
        if (!seek_table ||
            !FLAC__metadata_object_seektable_template_append_spaced_points_by_samples(seek_table.get(), 64, frames) ||
            !FLAC__metadata_object_seektable_template_sort(seek_table.get(), true) ||
            !FLAC__stream_encoder_set_metadata(encoder.get(), blocks, 1))
            return "no seek table";
    }

    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "w+b"));
    if (!file) return "cannot create " + path;
    // Without seek and tell callbacks the encoder can not go back to fill in
    // STREAMINFO, which leaves the total sample count unknown as a streaming writer does.
    auto status = FLAC__stream_encoder_init_stream(encoder.get(), write_bytes, layout.states_length ? seek_to : nullptr,
                                                   layout.states_length ? tell_position : nullptr, nullptr, file.get());
    if (status != FLAC__STREAM_ENCODER_INIT_STATUS_OK)
        return std::string("encoder init: ") + FLAC__StreamEncoderInitStatusString[status];
    if (frames > 0 &&
        !FLAC__stream_encoder_process_interleaved(encoder.get(), interleaved.data(), static_cast<uint32_t>(frames)))
        return "encoding failed";
    if (!FLAC__stream_encoder_finish(encoder.get())) return "finishing failed";
    return std::fflush(file.get()) == 0 ? "" : "cannot write " + path;
}

}  // namespace sigtrove::testing

#endif  // SIGTROVE_HAVE_FLAC
