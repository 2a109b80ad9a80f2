// What a record's header says, with where its files are: read once, then shared
// (read-only) by every reader of the record.
#ifndef SIGTROVE_ENGINE_RECORD_DESCRIPTION_H
#define SIGTROVE_ENGINE_RECORD_DESCRIPTION_H

#include <memory>
#include <string>

#include "header/header.h"
#include "paths/search_location.h"
#include "time/time_text.h"

namespace sigtrove::engine {

struct RecordDescription {
    std::string name;         // the record as looked up (the engine's own name of it)
    Header header;            // a multi-segment master carries the signals it presents
    SearchLocation location;  // where its signal files and segment headers are looked up
    std::string directory;    // the absolute directory its header was found in (a URL for a remote record)

    // Time texts of this record: its frame frequency (not the high-resolution
    // rate), its base time and date.
    TimeBasis time_basis() const { return TimeBasis{header.frame_frequency(), header.base_ms, header.base_date}; }
};

// Finds RECORD's header along the database path (learning its directory there,
// as every lookup does), parses it and, for a multi-segment record, the header
// that presents its signals. Every caller opens the record's signals next: a
// remote record's header comes with the first block of its RECORD.dat
// (record_prefetch.h). Returns 0, or the WFDB code of the failure (-1 no
// header, -2 a header that can not be used) after recording its text.
int describe_record(const std::string &record, std::shared_ptr<const RecordDescription> &out);
// The same along a location of the caller's (see search_location.h), which
// learns where the header was found: nothing process-wide is read or changed.
int describe_record(const std::string &record, SearchLocation &location, std::shared_ptr<const RecordDescription> &out);

}  // namespace sigtrove::engine

#endif
