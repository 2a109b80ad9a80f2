// Multi-segment records: the signals a master header presents, and a signal
// source that reads the segments one after another, opening each only when
// reading (or a seek) reaches it.
#ifndef SIGTROVE_ENGINE_MULTI_SEGMENT_SOURCE_H
#define SIGTROVE_ENGINE_MULTI_SEGMENT_SOURCE_H

#include <string>

#include "header/header.h"
#include "signals/single_segment_source.h"

namespace sigtrove::engine {

// True when segment 0 of a master header is a layout header (length 0): the
// record has a variable layout, its signals defined by that header.
bool has_layout_segment(const Header &master);

// Fills master.signals with the signals the record presents: the layout
// header's (variable layout) or those of the first segment that is not a null
// segment (fixed layout), looked up along `location`. Each reports the record's total length as its nsamp,
// so a reader bounded by nsamp reaches every segment. Returns 0, or the
// negative code of that segment header's read (its text recorded).
int present_segment_signals(Header &master, SearchLocation &location);

// Opens the first `room` presented signals of a master header completed by
// present_segment_signals. No segment is opened yet: the first read (or seek)
// opens the segment it needs, so opening a record of many segments is cheap.
// A segment that can not be opened (or whose file ends before its length) fails
// each read of its frames with -3 and a text, and reading passes over it; it is
// not tried again until a seek or an open. Segment headers and files are looked
// up along (a copy of) `location`, never through the working directory.
// Status -3 with a text when the record's frame is too large to hold.
SourceOpening open_multi_segment_source(const Header &master, int room, int first_signal, int first_group,
                                        const std::string &record, const SearchLocation &location);

}  // namespace sigtrove::engine

#endif
