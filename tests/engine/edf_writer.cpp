#include "edf_writer.h"

#include <stdexcept>

namespace sigtrove::testing {
namespace {

std::string padded(const std::string &text, std::size_t width) {
    std::string out = text.substr(0, width);
    out.resize(width, ' ');
    return out;
}

void put_sample(std::string &out, int value, bool bdf) {
    auto u = static_cast<unsigned>(value);
    out += static_cast<char>(u & 0xff);
    out += static_cast<char>((u >> 8) & 0xff);
    if (bdf) out += static_cast<char>((u >> 16) & 0xff);
}

}  // namespace

std::string edf_file_bytes(const EdfFileToWrite &file) {
    const std::size_t ns = file.signals.size();
    std::string out;
    if (!file.version.empty())
        out += padded(file.version, 8);
    else
        out += file.bdf ? std::string("\xff") + "BIOSEMI" : padded("0", 8);
    out += padded(file.patient, 80) + padded(file.recording, 80);
    out += padded(file.start_date, 8) + padded(file.start_time, 8);
    out += padded(file.header_bytes.empty() ? std::to_string(256 * (ns + 1)) : file.header_bytes, 8);
    out += padded(file.reserved, 44);
    out += padded(file.records.empty() ? std::to_string(file.data_records) : file.records, 8);
    out += padded(file.duration, 8);
    out += padded(file.signal_count.empty() ? std::to_string(ns) : file.signal_count, 4);
    auto each = [&](std::size_t width, auto field) {
        for (const EdfSignalToWrite &s : file.signals) out += padded(field(s), width);
    };
    each(16, [](const EdfSignalToWrite &s) { return s.label; });
    each(80, [](const EdfSignalToWrite &) { return std::string(); });
    each(8, [](const EdfSignalToWrite &s) { return s.dimension; });
    each(8, [](const EdfSignalToWrite &s) { return s.physical_min; });
    each(8, [](const EdfSignalToWrite &s) { return s.physical_max; });
    each(8, [](const EdfSignalToWrite &s) { return s.digital_min; });
    each(8, [](const EdfSignalToWrite &s) { return s.digital_max; });
    each(80, [](const EdfSignalToWrite &) { return std::string(); });
    each(8, [](const EdfSignalToWrite &s) {
        return s.samples_field.empty() ? std::to_string(s.samples_per_record) : s.samples_field;
    });
    each(32, [](const EdfSignalToWrite &) { return std::string(); });
    const std::size_t bytes_per_sample = file.bdf ? 3 : 2;
    for (int r = 0; r < file.data_records; ++r) {
        for (const EdfSignalToWrite &s : file.signals) {
            const std::size_t n = static_cast<std::size_t>(s.samples_per_record);
            if (s.annotation) {
                std::string bytes =
                    static_cast<std::size_t>(r) < file.annotation_bytes.size() ? file.annotation_bytes[r] : "";
                if (bytes.size() > n * bytes_per_sample) throw std::invalid_argument("annotation lists too long");
                bytes.resize(n * bytes_per_sample, '\0');
                out += bytes;
                continue;
            }
            for (std::size_t i = 0; i < n; ++i) {
                std::size_t at = static_cast<std::size_t>(r) * n + i;
                put_sample(out, at < s.samples.size() ? s.samples[at] : 0, file.bdf);
            }
        }
    }
    return out;
}

std::string annotation_list(const std::string &onset, const std::optional<std::string> &duration,
                            const std::vector<std::string> &texts) {
    std::string out = onset;
    if (duration) out += "\x15" + *duration;
    out += '\x14';
    for (const std::string &t : texts) out += t + '\x14';
    out += '\0';
    return out;
}

std::string time_stamp(const std::string &onset) { return annotation_list(onset, std::nullopt, {""}); }

}  // namespace sigtrove::testing
