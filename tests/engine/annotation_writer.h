// Writers of small annotation files for tests, in the MIT and AHA formats, with
// raw words and cuts for files that are malformed on purpose.
#ifndef SIGTROVE_TESTS_ANNOTATION_WRITER_H
#define SIGTROVE_TESTS_ANNOTATION_WRITER_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sigtrove::testing {

struct MitEntry {
    long time = 0;
    int type = 1;
    int subtyp = 0;
    int chan = 0;
    int num = 0;
    std::optional<std::string> aux = std::nullopt;
};

// Encodes annotations the way the WFDB writer does: a SKIP before an annotation
// whose interval does not fit in 10 bits, SUB when the subtype is not 0, CHN and
// NUM when they change, AUX when there is a text (padded to a whole word).
class MitAnnotationWriter {
public:
    MitAnnotationWriter &add(const MitEntry &entry);
    // A NOTE at time 0 carrying TEXT, as code definitions and time-resolution notes are.
    MitAnnotationWriter &label(const std::string &text);
    MitAnnotationWriter &word(int code, int data);
    MitAnnotationWriter &skip(int32_t interval);
    MitAnnotationWriter &aux(const std::string &text);
    // The bytes so far followed by the end mark.
    std::string finish() const;
    // The bytes so far, without an end mark.
    const std::string &bytes() const { return bytes_; }
    // For each annotation added, the offset just past its annotation word.
    const std::vector<size_t> &annotation_word_ends() const { return word_ends_; }

private:
    void put16(unsigned value);
    std::vector<size_t> word_ends_;
    long time_ = 0;
    int chan_ = 0;
    int num_ = 0;
    std::string bytes_;
};

struct AhaEntry {
    long time = 0;
    char letter = 'N';
    int mit_code = 1;
    int subtyp = 0;
    std::string text = "";                     // up to 6 bytes
    std::optional<int> serial = std::nullopt;  // default: 1, 2, 3, ... in order of addition
};

class AhaAnnotationWriter {
public:
    AhaAnnotationWriter &add(const AhaEntry &entry);
    // The records followed by 0xFF bytes up to a multiple of 1024 (at least one).
    std::string finish() const;
    // The records alone, without an end mark.
    const std::string &bytes() const { return bytes_; }

private:
    int count_ = 0;
    std::string bytes_;
};

// A 32-bit integer in the byte order of annotation files (high half first, halves LE).
std::string pdp11_bytes(int32_t value);

}  // namespace sigtrove::testing

#endif
