#include "record_header/header_files.h"

#include <algorithm>

#include "errors/error_state.h"
#include "header/header.h"
#include "paths/search_location.h"
#include "record_header/record_header.h"

namespace sigtrove::engine {

Status read_header_files(const std::string &directory, const std::string &record, HeaderFiles &out) {
    out = HeaderFiles{};
    Header header;
    ErrorCapture capture;
    SearchLocation location = SearchLocation::folder(directory, record);
    const int rc = read_header(record, location, header);
    if (rc < 0) {
        std::string text = capture.last();
        if (text.empty()) text = "init: can't read header for record " + record;
        while (!text.empty() && text.back() == '\n') text.pop_back();
        return Status::failure(rc == -1 ? ErrorKind::not_found : ErrorKind::malformed, text);
    }
    out.multi_segment = header.multi_segment;
    for (const SegmentSpec &segment : header.segments)
        if (segment.name != "~") out.segments.push_back(segment.name);
    for (const SignalSpec &signal : header.signals) {
        if (signal.fmt == 0) continue;
        if (std::find(out.signal_files.begin(), out.signal_files.end(), signal.fname) == out.signal_files.end())
            out.signal_files.push_back(signal.fname);
    }
    return Status();
}

}  // namespace sigtrove::engine
