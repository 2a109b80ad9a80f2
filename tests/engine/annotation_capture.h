// What getann delivers, copied into values that tests can compare and print.
#ifndef SIGTROVE_TESTS_ANNOTATION_CAPTURE_H
#define SIGTROVE_TESTS_ANNOTATION_CAPTURE_H

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "wfdb/wfdb.h"

namespace sigtrove::testing {

struct Delivered {
    WFDB_Time time = 0;
    int anntyp = 0;
    int subtyp = 0;
    int chan = 0;
    int num = 0;
    std::optional<std::string> aux;  // the bytes after the length byte

    bool operator==(const Delivered &) const = default;
};

std::ostream &operator<<(std::ostream &out, const Delivered &annotation);

// Copies an annotation, aux bytes included (their count from the length byte).
Delivered capture(const WFDB_Annotation &annotation);

struct ReadOutcome {
    std::vector<Delivered> annotations;
    int stop = 0;  // the getann result that ended reading
};

// Calls getann until it returns non-zero (or LIMIT annotations have come).
ReadOutcome read_all(WFDB_Annotator an, size_t limit = 10'000'000);

}  // namespace sigtrove::testing

#endif
