#include "record/record_description.h"

#include <filesystem>
#include <new>

#include "errors/error_state.h"
#include "multi_segment/multi_segment_source.h"
#include "network/url_text.h"
#include "paths/path_search.h"
#include "record/record_prefetch.h"
#include "record_header/record_header.h"

namespace sigtrove::engine {

namespace {

// Completes a description whose header was read; `local` is where the rest of a
// local record is looked up.
int complete_description(const std::string &record, std::shared_ptr<RecordDescription> description,
                         const SearchLocation *local, std::shared_ptr<const RecordDescription> &out) {
    Header &header = description->header;
    int rc = 0;
    if (is_url(header.path)) {
        // A remote record's files are all on its server, beside its header.
        description->directory = url_directory(header.path);
        description->location = SearchLocation::remote(description->directory, record);
    } else {
        // Everything after the header is looked up from where the header was found, anchored now.
        description->location = local ? *local : SearchLocation::capture(record);
        std::filesystem::path found(description->location.absolute(header.path));
        description->directory = found.parent_path().lexically_normal().string();
        // lexically_normal keeps a trailing separator ("/db/./x.hea" gives "/db/"), except for the root.
        if (description->directory.size() > 1 && description->directory.back() == '/')
            description->directory.pop_back();
    }
    // A multi-segment record presents the signals of its layout header or first segment.
    if (header.multi_segment) {
        rc = present_segment_signals(header, description->location);
        if (rc < 0) return rc;
    }
    out = std::move(description);
    return 0;
}

}  // namespace

int describe_record(const std::string &record, std::shared_ptr<const RecordDescription> &out) {
    prefetch_record_open(record);
    auto description = std::make_shared<RecordDescription>();
    description->name = record;
    int rc = read_header(record, description->header);
    if (rc < 0) return rc;
    return complete_description(record, std::move(description), nullptr, out);
}

int describe_record(const std::string &record, SearchLocation &location,
                    std::shared_ptr<const RecordDescription> &out) {
    prefetch_record_open(record);
    auto description = std::make_shared<RecordDescription>();
    description->name = record;
    int rc = read_header(record, location, description->header);
    if (rc < 0) return rc;
    return complete_description(record, std::move(description), &location, out);
}

}  // namespace sigtrove::engine
