#include "record_writer.h"

#include <algorithm>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "wfdb/wfdb.h"

namespace sigtrove::testing {
namespace {

void check_range(int fmt, long long v, long long low, long long high) {
    if (v < low || v > high)
        throw std::invalid_argument("value " + std::to_string(v) + " does not fit format " + std::to_string(fmt));
}

void put_le(std::vector<std::uint8_t> &out, std::uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

void encode_212(const std::vector<int> &s, std::vector<std::uint8_t> &out) {
    for (std::size_t i = 0; i < s.size(); i += 2) {
        auto a = static_cast<std::uint32_t>(s[i]) & 0xFFF;
        out.push_back(static_cast<std::uint8_t>(a));
        if (i + 1 == s.size()) {
            out.push_back(static_cast<std::uint8_t>(a >> 8));
            break;
        }
        auto b = static_cast<std::uint32_t>(s[i + 1]) & 0xFFF;
        out.push_back(static_cast<std::uint8_t>((a >> 8) | ((b >> 4) & 0xF0)));
        out.push_back(static_cast<std::uint8_t>(b));
    }
}

// A final unit with two samples is written whole (its third sample reads as 0).
void encode_310(const std::vector<int> &s, std::vector<std::uint8_t> &out) {
    for (std::size_t i = 0; i < s.size(); i += 3) {
        auto a = static_cast<std::uint32_t>(s[i]) & 0x3FF;
        auto b = i + 1 < s.size() ? static_cast<std::uint32_t>(s[i + 1]) & 0x3FF : 0;
        auto c = i + 2 < s.size() ? static_cast<std::uint32_t>(s[i + 2]) & 0x3FF : 0;
        put_le(out, a << 1 | (c & 0x1F) << 11, 2);
        if (i + 1 < s.size()) put_le(out, b << 1 | (c >> 5) << 11, 2);
    }
}

void encode_311(const std::vector<int> &s, std::vector<std::uint8_t> &out) {
    for (std::size_t i = 0; i < s.size(); i += 3) {
        std::uint32_t w = static_cast<std::uint32_t>(s[i]) & 0x3FF;
        std::size_t n = std::min<std::size_t>(3, s.size() - i);
        if (n > 1) w |= (static_cast<std::uint32_t>(s[i + 1]) & 0x3FF) << 10;
        if (n > 2) w |= (static_cast<std::uint32_t>(s[i + 2]) & 0x3FF) << 20;
        put_le(out, w, n == 3 ? 4 : static_cast<int>(n) + 1);
    }
}

}  // namespace

int invalid_marker(int fmt) {
    switch (fmt) {
        case 80: return -128;
        case 212: return -2048;
        case 310:
        case 311: return -512;
        case 24: return -8388608;
        case 32: return INT32_MIN;
        default: return WFDB_INVALID_SAMPLE;
    }
}

std::vector<std::uint8_t> encode_samples(int fmt, const std::vector<int> &stream, const std::vector<int> &initval,
                                         const std::vector<int> &spf) {
    std::vector<std::uint8_t> out;
    switch (fmt) {
        case 8: {
            // Each signal's samples continue its own running value, frame after frame.
            std::vector<std::size_t> signal_of_column;
            for (std::size_t s = 0; s < std::max<std::size_t>(spf.size(), 1); ++s)
                signal_of_column.insert(signal_of_column.end(), spf.empty() ? 1 : static_cast<std::size_t>(spf[s]), s);
            std::vector<long long> previous(signal_of_column.size(), 0);
            for (std::size_t s = 0; s < initval.size(); ++s) previous[s] = initval[s];
            for (std::size_t i = 0; i < stream.size(); ++i) {
                long long &p = previous[signal_of_column[i % signal_of_column.size()]];
                check_range(fmt, stream[i] - p, -128, 127);
                out.push_back(static_cast<std::uint8_t>(stream[i] - p));
                p = stream[i];
            }
            break;
        }
        case 16:
        case 61:
            for (int v : stream) {
                check_range(fmt, v, -32768, 32767);
                auto u = static_cast<std::uint16_t>(v);
                if (fmt == 16)
                    put_le(out, u, 2);
                else
                    out.insert(out.end(), {static_cast<std::uint8_t>(u >> 8), static_cast<std::uint8_t>(u)});
            }
            break;
        case 80:
            for (int v : stream) check_range(fmt, v, -128, 127), out.push_back(static_cast<std::uint8_t>(v + 128));
            break;
        case 160:
            for (int v : stream)
                check_range(fmt, v, -32768, 32767), put_le(out, static_cast<std::uint32_t>(v + 32768), 2);
            break;
        case 212:
            for (int v : stream) check_range(fmt, v, -2048, 2047);
            encode_212(stream, out);
            break;
        case 310:
        case 311:
            for (int v : stream) check_range(fmt, v, -512, 511);
            fmt == 310 ? encode_310(stream, out) : encode_311(stream, out);
            break;
        case 24:
            for (int v : stream) check_range(fmt, v, -8388608, 8388607), put_le(out, static_cast<std::uint32_t>(v), 3);
            break;
        case 32:
            for (int v : stream) put_le(out, static_cast<std::uint32_t>(v), 4);
            break;
        default: throw std::invalid_argument("the writer has no format " + std::to_string(fmt));
    }
    return out;
}

std::string write_record(const std::string &dir, const RecordToWrite &record) {
    const auto &signals = record.signals;
    std::ostringstream header;
    long frames = signals.empty() ? 0 : static_cast<long>(signals[0].samples.size()) / std::max(signals[0].spf, 1);
    header << record.name << ' ' << signals.size() << ' ' << record.frequency;
    long nsamp = record.nsamp.value_or(frames);
    if (nsamp >= 0) header << ' ' << nsamp;
    header << '\n';
    for (std::size_t begin = 0; begin < signals.size();) {
        std::size_t end = begin + 1;
        while (end < signals.size() && signals[end].file == signals[begin].file) ++end;
        const int fmt = signals[begin].fmt;
        // The group's stream: per frame, each signal's spf samples in turn; stored markers for invalid samples.
        std::vector<int> stream, initvals, spfs;
        std::vector<std::vector<int>> stored(end - begin);
        for (std::size_t s = begin; s < end; ++s) {
            for (int v : signals[s].samples)
                stored[s - begin].push_back(v == WFDB_INVALID_SAMPLE ? invalid_marker(fmt) : v);
            initvals.push_back(signals[s].initval.value_or(signals[s].samples.empty() ? 0 : signals[s].samples[0]));
            spfs.push_back(signals[s].spf);
        }
        long group_frames = static_cast<long>(signals[begin].samples.size()) / signals[begin].spf;
        for (long f = 0; f < group_frames; ++f)
            for (std::size_t s = begin; s < end; ++s)
                for (int k = 0; k < signals[s].spf; ++k)
                    stream.push_back(stored[s - begin][static_cast<std::size_t>(f * signals[s].spf + k)]);
        if (fmt != 0) {
            std::vector<std::uint8_t> bytes(static_cast<std::size_t>(signals[begin].offset), 0xA5);
            std::vector<std::uint8_t> data = encode_samples(fmt, stream, initvals, spfs);
            bytes.insert(bytes.end(), data.begin(), data.end());
            std::ofstream(dir + "/" + signals[begin].file, std::ios::binary)
                .write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        }
        for (std::size_t s = begin; s < end; ++s) {
            const SignalToWrite &sig = signals[s];
            int initval = sig.initval.value_or(sig.samples.empty() ? 0 : sig.samples[0]);
            long sum = 0;
            for (int v : stored[s - begin]) sum += v;
            int checksum = sig.checksum.value_or(static_cast<std::int16_t>(static_cast<std::uint16_t>(sum & 0xFFFF)));
            header << sig.file << ' ' << fmt;
            if (sig.spf != 1) header << 'x' << sig.spf;
            if (sig.skew != 0) header << ':' << sig.skew * sig.spf;
            if (signals[begin].offset != 0) header << '+' << signals[begin].offset;
            header << ' ' << sig.gain << " 12 0 " << initval;
            if (sig.with_checksum)
                header << ' ' << checksum << " 0 " << (sig.desc.empty() ? "sig " + std::to_string(s) : sig.desc);
            header << '\n';
        }
        begin = end;
    }
    std::ofstream(dir + "/" + record.name + ".hea") << header.str();
    return header.str();
}

}  // namespace sigtrove::testing
