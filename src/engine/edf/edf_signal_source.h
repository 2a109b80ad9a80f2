// Reading the signals of an EDF or BDF file: whole data records decoded at a
// time into frames (each signal's block of a data record spread over the
// frames it spans), positioned by arithmetic. In EDF+D each data record sits at
// the onset its time stamp gives: the frames between two data records are a
// gap, delivered as invalid samples, and a read finds the data record of a
// frame by the time stamps of a few data records, never by reading the file
// from its start.
#ifndef SIGTROVE_ENGINE_EDF_SIGNAL_SOURCE_H
#define SIGTROVE_ENGINE_EDF_SIGNAL_SOURCE_H

#include <string>

#include "header/header.h"
#include "signals/single_segment_source.h"

namespace sigtrove::engine {

// Opens the signals of an EDF record (header.edf set), as one group: all of
// them, or none when they do not fit in `room`. `first_signal` and
// `first_group` number them in texts; `record` names the record.
SourceOpening open_edf_source(const Header &header, int room, int first_signal, int first_group,
                              const std::string &record);

}  // namespace sigtrove::engine

#endif
