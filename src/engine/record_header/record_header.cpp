#include "record_header/record_header.h"

#include "edf/edf_header_parser.h"
#include "errors/error_state.h"
#include "header/header_parser.h"

namespace sigtrove::engine {

namespace {

int refuse_nested(const std::string &segment, int rc, const Header &out) {
    if (rc == 0 && out.edf) {
        record_error("init: record %s is an EDF file, which can not be a segment of a multi-segment record\n",
                     segment.c_str());
        return -2;
    }
    if (rc == 0 && out.multi_segment) {
        record_error("init: record %s cannot be nested in another multi-segment record\n", segment.c_str());
        return -2;
    }
    return rc;
}

}  // namespace

bool names_edf_file(std::string_view record) { return edf_file_kind(record) != EdfFileKind::none; }

int read_header(const std::string &record, Header &out) {
    // A record named like an EDF or BDF file is that file, whose header is its own.
    if (edf_file_kind(record) != EdfFileKind::none) return read_edf_header(record, out);
    return read_wfdb_header(record, out);
}

int read_header(const std::string &record, SearchLocation &location, Header &out) {
    if (edf_file_kind(record) != EdfFileKind::none) return read_edf_header(record, location, out);
    return read_wfdb_header(record, location, out);
}

int read_segment_header(const std::string &segment, Header &out) {
    return refuse_nested(segment, read_header(segment, out), out);
}

int read_segment_header(const std::string &segment, SearchLocation &location, Header &out) {
    return refuse_nested(segment, read_header(segment, location, out), out);
}

}  // namespace sigtrove::engine
