#include "writers/header_text.h"

#include <charconv>
#include <cstdio>
#include <cstdlib>

#include "time/julian_date.h"

namespace sigtrove::engine {

std::string header_number(double value) {
    char text[64];
    auto [end, error] = std::to_chars(text, text + sizeof text, value, std::chars_format::general, 12);
    if (error != std::errc()) return "0";
    return std::string(text, end);
}

double as_written(double value) {
    std::string text = header_number(value);
    return std::strtod(text.c_str(), nullptr);
}

std::string base_time_text(bool has_base, long base_ms, long base_date) {
    if (!has_base || (base_ms == 0 && base_date == 0)) return {};
    char text[96];
    std::string out;
    if (base_ms == 0) {
        out = " 0:00";
    } else {
        // The elapsed-time text of base_ms milliseconds at 1000 Hz, as the writer prints it.
        const long seconds = base_ms / 1000, ms = base_ms % 1000;
        const long h = seconds / 3600, m = seconds / 60 % 60, s = seconds % 60;
        if (h > 0)
            std::snprintf(text, sizeof text, " %2ld:%02ld:%02ld", h, m, s);
        else
            std::snprintf(text, sizeof text, "    %2ld:%02ld", m, s);
        out = text;
        if (ms != 0) {
            std::snprintf(text, sizeof text, ".%03ld", ms);
            out += text;
        }
    }
    if (base_date != 0) {
        CalendarDate date = calendar_date(base_date);
        std::snprintf(text, sizeof text, " %02d/%02d/%ld", date.day, date.month, date.year);
        out += text;
    }
    return out;
}

std::string comment_text(const std::string &comment) { return comment.empty() ? std::string() : " " + comment; }

std::string header_text(const Header &header) {
    std::string text = header.record + " " + std::to_string(header.signals.size()) + " ";
    const double freq = header.frame_frequency();
    text += header_number(freq);
    if (header.counter_frequency() != freq || header.basecount != 0) {
        text += "/" + header_number(header.counter_frequency());
        if (header.basecount != 0) text += "(" + header_number(header.basecount) + ")";
    }
    text += " " + std::to_string(header.signals.empty() ? 0L : header.nsamp);
    text += base_time_text(header.has_base, header.base_ms, header.base_date);
    text += "\r\n";
    for (const SignalSpec &s : header.signals) {
        text += s.fname + " " + std::to_string(s.fmt);
        if (s.spf > 1) text += "x" + std::to_string(s.spf);
        if (s.skew > 0) text += ":" + std::to_string(s.skew * s.spf);
        if (s.offset > 0) text += "+" + std::to_string(s.offset);
        text += " " + header_number(s.gain);
        if (s.baseline != s.adczero) text += "(" + std::to_string(s.baseline) + ")";
        if (s.units && !s.units->empty()) text += "/" + *s.units;
        text += " " + std::to_string(s.adcres) + " " + std::to_string(s.adczero) + " " + std::to_string(s.initval) +
                " " + std::to_string(static_cast<short>(s.cksum & 0xFFFF)) + " " + std::to_string(s.bsize);
        if (!s.desc.empty()) text += " " + s.desc;
        text += "\r\n";
    }
    for (const std::string &comment : header.comments) text += "#" + comment + "\r\n";
    return text;
}

}  // namespace sigtrove::engine
