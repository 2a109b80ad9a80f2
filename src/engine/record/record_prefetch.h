// What the opens of remote records ask for together, before their headers are
// read, so that an open costs the round trips it must and no more: a record's
// header and its conventionally named signal file side by side, and for a
// database's records a batch of headers, then a batch of the signal files those
// headers name. The opens that follow take the answers kept for them
// (network/prefetched_files.h); a record that is not remote asks for nothing.
#ifndef SIGTROVE_ENGINE_RECORD_PREFETCH_H
#define SIGTROVE_ENGINE_RECORD_PREFETCH_H

#include <string>
#include <vector>

namespace sigtrove::engine {

// Before a remote record is opened for its signals: its header and the first
// block of RECORD.dat (what most headers name; a record whose header names
// other files pays a request for nothing, in the same round trip).
void prefetch_record_open(const std::string &record);

// Before many remote records are opened one by one for what their headers say
// (a database's): their headers, with a HEAD of each RECORD.dat, all together;
// then, from the headers that came, a HEAD of every other signal file they name
// (and of the alternative name of one that is not there), together. A HEAD says
// that a file is there and how long it is, and costs none of its bytes.
void prefetch_records(const std::vector<std::string> &records);

}  // namespace sigtrove::engine

#endif
