// The annotations of an EDF+ or BDF+ file: the texts of the time-stamped
// annotation lists of its annotation signals, in every data record, each text
// its own annotation. The time stamps that give the data records their onsets
// are not annotations.
#ifndef SIGTROVE_ENGINE_EDF_ANNOTATIONS_H
#define SIGTROVE_ENGINE_EDF_ANNOTATIONS_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "errors/status.h"
#include "header/header.h"

namespace sigtrove::engine {

struct EdfAnnotation {
    std::int64_t time = 0;           // the frame that holds the onset, counted from frame 0 (the first data record)
    double onset = 0;                // seconds after the header's start time, as written
    std::optional<double> duration;  // seconds, as written; none where the list gives none
    std::string text;                // as written (EDF+ texts are UTF-8)
};

// Reads the annotations of the EDF record whose header is `header` (header.edf
// set), ordered by onset (lists of one onset in file order). Annotations read
// before a malformed list or a failed read stay in `out`; the failure is the
// status, with its text. `record` names the record in texts.
Status read_edf_annotations(const Header &header, const std::string &record, std::vector<EdfAnnotation> &out);

}  // namespace sigtrove::engine

#endif
