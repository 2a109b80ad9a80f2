// MIT-format annotation files, byte for byte as the field's C library writes
// them (its wrann, and sortann for tables of code definitions): the list sorted
// as that library sorts it, an opening note with the file's time resolution
// where one is given, a table of the codes the list defines for itself, SKIP
// words for gaps beyond 1023 ticks, and SUB, CHN, NUM and AUX words only where a
// value is not the one the reader already holds.
#ifndef SIGTROVE_ENGINE_ANNOTATION_WRITER_H
#define SIGTROVE_ENGINE_ANNOTATION_WRITER_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "annotations/annotation_file.h"
#include "annotations/annotation_reader.h"
#include "errors/status.h"
#include "io/output_file.h"

namespace sigtrove::engine {

using CodeDefinition = AnnotationReader::CodeDefinition;

struct AnnotationList {
    // Times in ticks (samples of the record, or of `time_resolution`); channels
    // -128..255 (a negative one is its byte, -1 is 255); subtypes and numbers
    // -128..127; codes 0..58; aux texts of up to 255 bytes (an empty one is none).
    std::vector<AnnotationRow> rows;
    // Codes with mnemonics (and descriptions) of the list's own.
    std::vector<CodeDefinition> definitions;
    // Ticks per second said by the file's opening note; 0 for no note (the times
    // are then the record's sample numbers).
    double time_resolution = 0;
};

// Orders annotations as the C library's sortann does: by time, then number,
// then channel (as the file stores it); annotations equal in all three keep their order.
void sort_annotations(std::vector<AnnotationRow> &rows);

// The bytes of the file of LIST, whose rows are sorted. bad_request (naming the
// annotation) for a value the format can not hold.
Status annotation_file_bytes(const AnnotationList &list, std::vector<std::uint8_t> &out);

// Gives every row without a code (code -1) the code of its mnemonic in SYMBOLS
// (one per row, none where the row has no mnemonic), and collects the
// definitions the list needs: a row whose mnemonic is not its code's in the
// table every process starts with defines that mnemonic for its code, and a
// mnemonic the table does not know at all gets the first code from 42 to 49 that
// the list does not use. A definition's description is its mnemonic (a list
// has no descriptions).
Status resolve_mnemonics(std::vector<AnnotationRow> &rows, const std::vector<std::optional<std::string>> &symbols,
                         std::vector<CodeDefinition> &definitions);

// Writes DIRECTORY/RECORD.ANNOTATOR (sorting LIST's rows first), under a
// temporary name until it is complete. Without `overwrite` an existing file
// fails the call (ErrorKind::exists); a file in `protected_files` is never
// written over.
Status write_annotation_file(const std::string &directory, const std::string &record, const std::string &annotator,
                             AnnotationList list, bool overwrite,
                             const std::vector<FileIdentity> &protected_files = {});

// The frame frequency of the record whose header is DIRECTORY/RECORD.hea, 0 when
// there is none (a header that is there but can not be read fails the call).
Status header_frequency(const std::string &directory, const std::string &record, double &frequency);

// Copies the annotations of SOURCE in frames [start, stop) (no stop: to the end)
// into DIRECTORY/RECORD.ANNOTATOR, their times moved back by START, with the
// file's own code definitions, and the note of FREQUENCY (the new record's).
Status copy_annotations(AnnotationFile &source, long long start, std::optional<long long> stop,
                        const std::string &directory, const std::string &record, const std::string &annotator,
                        double frequency, bool overwrite, const std::vector<FileIdentity> &protected_files = {});

}  // namespace sigtrove::engine

#endif
