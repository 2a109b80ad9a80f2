#include "annotation_engine.h"

#include "errors/error_state.h"
#include "wfdb/wfdb.h"

namespace sigtrove {

bool AnnotationEngine::open_reader(bool high_resolution) {
    reader_.reset();
    if (stat_ != WFDB_READ && stat_ != WFDB_AHA_READ) {
        engine::record_error("annopen: illegal stat %d for annotator %s, record %s\n", stat_, annotator_.c_str(),
                             record_.c_str());
        return false;
    }
    // Each open looks the file up afresh, from where the record was named.
    engine::SearchLocation location = location_;
    reader_ = engine::AnnotationReader::open(record_, annotator_, stat_, high_resolution, location);
    return reader_ != nullptr;
}

}  // namespace sigtrove
