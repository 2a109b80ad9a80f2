#include "wfdb_interface/input_annotators.h"

#include <limits>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "annotations/annotation_codes.h"
#include "annotations/annotation_reader.h"
#include "errors/error_state.h"
#include "paths/path_search.h"
#include "wfdb/wfdb.h"
#include "wfdb_interface/c_boundary.h"
#include "wfdb_interface/record_state.h"

namespace sigtrove::engine {
namespace {

std::vector<std::unique_ptr<AnnotationReader>> &open_files() {
    static std::vector<std::unique_ptr<AnnotationReader>> files;
    return files;
}

bool is_read_stat(int stat) { return stat == WFDB_READ || stat == WFDB_AHA_READ; }

int open_annotators(const char *record_argument, const WFDB_Anninfo *aiarray, unsigned int nann) {
    // The engine's own copy of the name: the caller's buffer is never written to.
    bool keep_open = false;
    std::string record = record_name_for_open(record_argument, &keep_open);
    if (!keep_open) close_annotation_files();
    if (nann == 0) return 0;
    if (!aiarray) {
        record_error("annopen: no annotators given for record %s\n", record.c_str());
        return -5;
    }
    for (unsigned int i = 0; i < nann; ++i) {
        if (!is_read_stat(aiarray[i].stat)) {
            record_error("annopen: illegal stat %d for annotator %s, record %s\n", aiarray[i].stat,
                         aiarray[i].name ? aiarray[i].name : "", record.c_str());
            return -5;
        }
    }
    auto &files = open_files();
    for (unsigned int i = 0; i < nann; ++i) {
        std::string annotator = aiarray[i].name ? aiarray[i].name : "";
        // Files opened before a failure stay open, with their numbers.
        files.reserve(files.size() + 1);
        std::unique_ptr<AnnotationReader> reader =
            AnnotationReader::open(record, annotator, aiarray[i].stat, record_state().high_resolution);
        if (!reader) return -3;
        // The file's code definitions hold for the whole process from now on, as in the library.
        for (const AnnotationReader::CodeDefinition &d : reader->definitions())
            define_annotation_code(d.code, d.mnemonic, d.description);
        files.push_back(std::move(reader));
    }
    return 0;
}

int read_next(WFDB_Annotator an, WFDB_Annotation *annot) {
    auto &files = open_files();
    if (an >= files.size()) {
        record_error("getann: can't read annotator %u\n", an);
        return -2;
    }
    if (!annot) {
        record_error("getann: no annotation structure given for annotator %u\n", an);
        return -2;
    }
    return files[an]->next(*annot);
}

int seek_all(WFDB_Time t) {
    auto &files = open_files();
    if (files.empty()) {
        record_error("iannsettime: no annotator is open\n");
        return -1;
    }
    // |t|, and the most negative time for "the very first annotation".
    bool to_start = t == std::numeric_limits<WFDB_Time>::min();
    std::optional<WFDB_Time> threshold;
    if (!to_start) threshold = t < 0 ? -t : t;
    bool positioned = false;
    bool failed = false;
    for (auto &file : files) {
        switch (file->seek(threshold)) {
            case SeekOutcome::positioned: positioned = true; break;
            case SeekOutcome::at_end: break;
            case SeekOutcome::failed:
                failed = true;  // the reader recorded why
                break;
            case SeekOutcome::improper_seek: record_error("iannsettime: improper seek\n"); return -1;
        }
    }
    if (positioned) return 0;
    if (failed) return -1;
    // The start of a list with nothing in it is still a position.
    if (to_start || *threshold == 0) return 0;
    record_error("iannsettime: no annotation at or after time %ld\n", *threshold);
    return -1;
}

}  // namespace

void close_annotation_files() { open_files().clear(); }

unsigned int open_annotation_file_count() { return static_cast<unsigned int>(open_files().size()); }

}  // namespace sigtrove::engine

using namespace sigtrove::engine;

extern "C" {

int annopen(char *record, WFDB_Anninfo *aiarray, unsigned int nann) {
    return guarded_call(cannot_allocate("annopen"), -3, [&] { return open_annotators(record, aiarray, nann); });
}

int getann(WFDB_Annotator an, WFDB_Annotation *annot) {
    return guarded_call(cannot_allocate("getann"), -3, [&] { return read_next(an, annot); });
}

int iannsettime(WFDB_Time t) {
    return guarded_call(cannot_allocate("iannsettime"), -1, [&] { return seek_all(t); });
}
}
