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
    if (edf_) {
        edf_rows_.clear();
        edf_cursor_ = 0;
        std::unique_ptr<engine::AnnotationFile> lists;
        engine::Status status = engine::AnnotationFile::open(record_, annotator_, stat_, location_, lists);
        if (!status.ok()) {
            engine::record_error_text(status.text());
            return false;
        }
        edf_ending_ = lists->read(0, std::nullopt, edf_rows_);
        return true;
    }
    engine::SearchLocation location = location_;
    reader_ = engine::AnnotationReader::open(record_, annotator_, stat_, high_resolution, location);
    return reader_ != nullptr;
}

}  // namespace sigtrove
