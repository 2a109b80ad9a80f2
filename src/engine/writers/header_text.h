// The text of a header file, laid out as the field's C library writes one: the
// record line (frequency and counter frequency to 12 significant digits, the
// length, the base time as its writer lays it out), a line per signal with the
// baseline only where it differs from the ADC zero and the units only where there
// are any, then the comment lines; every line ends in "\r\n".
#ifndef SIGTROVE_ENGINE_HEADER_TEXT_H
#define SIGTROVE_ENGINE_HEADER_TEXT_H

#include <string>

#include "header/header.h"

namespace sigtrove::engine {

// The header text of a single-segment record. HEADER.record is the record's name;
// each signal's initval, cksum and bsize are written as they are (the writer fills
// them in as the samples go out); a comment is the text that follows its '#'.
std::string header_text(const Header &header);

// A number as the header writes it: printf's "%.12g", whatever the locale.
std::string header_number(double value);

// The number a header's reader gets back from header_number(value).
double as_written(double value);

// The base time and date as a record line writes them (with the space before
// them): " 10:20:30.250 05/06/2021", "     5:09", "  8:05:09"; empty for a record
// without either.
std::string base_time_text(bool has_base, long base_ms, long base_date);

// How a comment as the reader keeps it (the text after '#', without the blanks
// around it) is written again: "# TEXT", or "#" alone for an empty one.
std::string comment_text(const std::string &comment);

}  // namespace sigtrove::engine

#endif
