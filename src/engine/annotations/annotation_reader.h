// One annotation file opened for reading: its format, the modification labels
// read at the open, the position of reading, and the conversion of its times.
#ifndef SIGTROVE_ENGINE_ANNOTATION_READER_H
#define SIGTROVE_ENGINE_ANNOTATION_READER_H

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "annotations/annotation_codes.h"
#include "annotations/annotation_record.h"
#include "annotations/annotation_stream.h"
#include "annotations/annotation_time_scale.h"
#include "paths/found_file.h"
#include "wfdb/wfdb.h"

namespace sigtrove::engine {

class SearchLocation;

enum class AnnotationFormat { mit, aha };

enum class SeekOutcome { positioned, at_end, failed, improper_seek };

class AnnotationReader {
public:
    // Finds RECORD.ANNOTATOR along the database path and opens it; STAT is
    // WFDB_READ or WFDB_AHA_READ, but the format the file shows wins. Reads the
    // modification labels that open the file (keeping its code definitions in
    // its own code table, see definitions()) so that they are never delivered.
    // HIGH_RESOLUTION: times count high-resolution samples (getvec's mode).
    // Null, after recording the text, when the file can not be read. Throws std::bad_alloc.
    static std::unique_ptr<AnnotationReader> open(const std::string &record, const std::string &annotator, int stat,
                                                  bool high_resolution);
    // The same, looking the file (and the record's header) up along `location`
    // rather than the database path: nothing process-wide is read or changed.
    static std::unique_ptr<AnnotationReader> open(const std::string &record, const std::string &annotator, int stat,
                                                  bool high_resolution, SearchLocation &location);

    // A code the file defines for itself.
    struct CodeDefinition {
        int code;
        std::string mnemonic;
        std::string description;
    };
    // The file's definitions, in file order.
    const std::vector<CodeDefinition> &definitions() const { return definitions_; }
    // The initial code table with the file's definitions applied.
    const AnnotationCodeTable &codes() const { return codes_; }

    // 0 with OUT filled; -1 at the end mark; -3 (with its text) when the file
    // is cut short or malformed. OUT->aux stays valid until the next call.
    int next(WFDB_Annotation &out);

    // Makes the next annotation the first whose time is at or after THRESHOLD
    // (no threshold: the first of the file). The modification labels stay hidden.
    SeekOutcome seek(std::optional<WFDB_Time> threshold);

private:
    struct Position {
        long offset = 0;
        DecoderRegisters registers;
    };

    AnnotationReader(std::string record, std::string annotator, ByteSourcePtr source);

    void detect_format(int stat);
    void read_modification_labels();
    void choose_time_scale(bool high_resolution, SearchLocation *location);
    static std::unique_ptr<AnnotationReader> open_found(const std::string &record, const std::string &annotator,
                                                        int stat, bool high_resolution, FoundFile found,
                                                        SearchLocation *location);

    DecodeStatus decode(StoredAnnotation &out);
    // Makes the next annotation available in pending_, unless reading has ended.
    DecodeStatus peek_next();
    bool rewind();
    void report(DecodeStatus status) const;
    Position position() const { return {stream_.offset(), registers_}; }

    std::string record_;
    std::string annotator_;
    AnnotationStream stream_;
    AnnotationFormat format_ = AnnotationFormat::mit;
    DecoderRegisters registers_;
    Position first_annotation_;   // where reading restarts: just after the labels
    double time_resolution_ = 0;  // ticks per second stated by the file, 0 if none
    AnnotationTimeScale time_scale_;
    bool has_pending_ = false;
    StoredAnnotation pending_;
    std::optional<DecodeStatus> ending_;  // set once reading has stopped
    std::vector<CodeDefinition> definitions_;
    AnnotationCodeTable codes_;
    std::array<uint8_t, 1 + 255 + 1> delivered_aux_{};  // length byte, text, NUL
};

// Positions READER as iannsettime(t) positions the one file it reads: the next
// annotation is the first at or after |t| (t the most negative time: the first of
// the file). 0, or -1 after recording the text of why not (no annotation there,
// a file that can not be read).
int set_annotation_time(AnnotationReader &reader, WFDB_Time t);

}  // namespace sigtrove::engine

#endif
