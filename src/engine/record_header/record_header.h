// The header of a record by its name, whichever file holds it: a WFDB header
// file (.hea, header/) or, for a name ending in ".edf" or ".bdf", the EDF or
// BDF file's own header (edf/). Everything that opens a record by name reads its
// header here.
#ifndef SIGTROVE_ENGINE_RECORD_HEADER_H
#define SIGTROVE_ENGINE_RECORD_HEADER_H

#include <string>
#include <string_view>

#include "header/header.h"

namespace sigtrove::engine {

class SearchLocation;

// True for a record name that is an EDF or BDF file of its own ("chb01_01.edf",
// any case): such a record keeps its extension, and its header is the file's.
bool names_edf_file(std::string_view record);

// Finds RECORD's header along the database path and parses it: RECORD.hea, or
// the EDF or BDF file RECORD itself. Returns 0, or the library's negative code
// (-1 not found, -2 malformed, -3 for an EDF file that asks for more than a record
// may hold) after recording its text.
// RECORD is the engine's own name (see record_name_for_open in path_search.h): the
// name "-" is refused as a missing header, a dotted name is looked up as NAME.hea.
// Touches no process-wide value except the path learning of path_search.h: see
// record_state.h for what a header read changes. A multi-segment header is parsed
// as the master only (segments and their start frames); reading the segments'
// headers is up to the caller.
int read_header(const std::string &record, Header &out);

// Reads the header of a segment of a multi-segment record: as read_header, but a
// segment that is itself multi-segment, or an EDF file, is refused (-2, "init:
// record SEG cannot be nested in another multi-segment record").
int read_segment_header(const std::string &segment, Header &out);

// The same, looked up along a record's own location (see search_location.h):
// nothing process-wide is read or changed.
int read_header(const std::string &record, SearchLocation &location, Header &out);
int read_segment_header(const std::string &segment, SearchLocation &location, Header &out);

}  // namespace sigtrove::engine

#endif
