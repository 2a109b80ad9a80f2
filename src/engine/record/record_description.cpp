#include "record/record_description.h"

#include <new>

#include "multi_segment/multi_segment_source.h"
#include "texts/error_state.h"

namespace sigtrove::engine {

int describe_record(const std::string &record, std::shared_ptr<const RecordDescription> &out) {
    auto description = std::make_shared<RecordDescription>();
    description->name = record;
    Header &header = description->header;
    int rc = read_header(record, header);
    if (rc < 0) return rc;
    // Everything after the header is looked up from where the header was found, anchored now.
    description->location = SearchLocation::capture(record);
    std::string found = description->location.absolute(header.path);
    std::size_t slash = found.find_last_of('/');
    description->directory = slash == std::string::npos ? description->location.base()
                             : slash == 0               ? std::string("/")
                                                        : found.substr(0, slash);
    // A multi-segment record presents the signals of its layout header or first segment.
    if (header.multi_segment) {
        rc = present_segment_signals(header, description->location);
        if (rc < 0) return rc;
    }
    out = std::move(description);
    return 0;
}

}  // namespace sigtrove::engine
