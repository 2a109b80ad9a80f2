#include "writers/group_writer.h"

#include <numeric>

#include "writers/sample_encoder.h"
#include "writers/writable_formats.h"

namespace sigtrove::engine {
namespace {

class UncompressedGroupWriter final : public GroupWriter {
public:
    UncompressedGroupWriter(std::unique_ptr<OutputFile> file, int format, std::size_t samples_per_frame)
        : GroupWriter(std::move(file)), encoder_(format), samples_per_frame_(samples_per_frame) {}

    Status write(const std::int32_t *stream, std::size_t frames) override {
        bytes_.clear();
        encoder_.encode(stream, frames * samples_per_frame_, bytes_);
        return file_->write(bytes_);
    }

    Status finish() override {
        bytes_.clear();
        encoder_.finish(bytes_);
        if (Status status = file_->write(bytes_); !status.ok()) return status;
        return file_->finish();
    }

private:
    SampleEncoder encoder_;
    std::size_t samples_per_frame_;
    std::vector<std::uint8_t> bytes_;
};

}  // namespace

Status open_group_writer(std::unique_ptr<OutputFile> file, int format, const std::vector<int> &samples_per_frame,
                         std::unique_ptr<GroupWriter> &out) {
    const WritableFormat *f = writable_format(format);
    if (f == nullptr)
        return Status::failure(ErrorKind::bad_request,
                               "sigtrove: records are not written in format " + std::to_string(format) + "\n");
    if (f->flac_bits > 0) return open_flac_group_writer(std::move(file), f->flac_bits, samples_per_frame, out);
    const std::size_t per_frame =
        static_cast<std::size_t>(std::accumulate(samples_per_frame.begin(), samples_per_frame.end(), 0LL));
    out = std::make_unique<UncompressedGroupWriter>(std::move(file), format, per_frame);
    return Status();
}

}  // namespace sigtrove::engine
