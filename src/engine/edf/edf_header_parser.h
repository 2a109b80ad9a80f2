// EDF, EDF+, BDF and BDF+ files as records: a record name ending in ".edf" or
// ".bdf" (any case) names the file itself, found along the database path like a
// header, and its header becomes the record's Header. Every fixed-width field
// is checked on its own against the bytes the file has and the record memory
// ceiling before anything is sized by it; a failure names the field.
//
// What the record is: its ordinary signals (annotation signals are not signals)
// at the highest rate they all are whole multiples of, a signal at k times that
// rate having k samples per frame; frame 0 is the first data record, whose onset
// (EDF+) moves the base time; the patient and recording fields are comments.
#ifndef SIGTROVE_ENGINE_EDF_HEADER_PARSER_H
#define SIGTROVE_ENGINE_EDF_HEADER_PARSER_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "header/header.h"
#include "io/byte_source.h"

namespace sigtrove::engine {

class SearchLocation;

enum class EdfFileKind { none, edf, bdf };

// What a record name says the file is: ".edf" or ".bdf" at its end, any case.
EdfFileKind edf_file_kind(std::string_view record);

// Finds RECORD (an EDF or BDF file) along the database path, or along
// `location`, and reads its header into `out`, as read_header does for a
// WFDB header: 0, or -1 (not found), -2 (not a usable EDF file), -3 (it asks
// for more than a record may hold), after recording the text.
int read_edf_header(const std::string &record, Header &out);
int read_edf_header(const std::string &record, SearchLocation &location, Header &out);

// Parses the file of record RECORD from `source` (positioned at its start);
// `file` is where it was found (an absolute path or a URL). As read_edf_header.
int parse_edf_file(const std::string &record, EdfFileKind kind, ByteSource &source, const std::string &file,
                   Header &out);

// Reads exactly `size` bytes at `offset` unless the file ends first: how many
// were read, or -1 when reading failed.
long long read_edf_bytes(ByteSource &source, std::int64_t offset, std::uint8_t *dest, std::size_t size);

}  // namespace sigtrove::engine

#endif
