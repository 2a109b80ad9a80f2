#include "annotations/annotation_prefetch.h"

#include <vector>

#include "network/prefetched_files.h"

namespace sigtrove::engine {

void prefetch_annotation_with_header(const std::string &record, const std::string &annotator,
                                     const SearchLocation &location) {
    if (annotator.empty()) return;
    std::string annotations = location.remote_record_file(record, annotator);
    std::string header = location.remote_record_file(record, "hea");
    if (annotations.empty() || header.empty()) return;
    prefetch_remote_files({std::move(annotations), std::move(header)});
}

}  // namespace sigtrove::engine
