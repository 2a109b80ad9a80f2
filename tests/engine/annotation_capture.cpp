#include "annotation_capture.h"

#include <cstdio>

namespace sigtrove::testing {

std::ostream &operator<<(std::ostream &out, const Delivered &annotation) {
    out << "{time " << annotation.time << ", type " << annotation.anntyp << ", sub " << annotation.subtyp << ", chan "
        << annotation.chan << ", num " << annotation.num << ", aux ";
    if (!annotation.aux) return out << "none}";
    out << '"';
    for (unsigned char c : *annotation.aux) {
        if (c >= 0x20 && c < 0x7F) {
            out << c;
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
            out << escaped;
        }
    }
    return out << "\"}";
}

Delivered capture(const WFDB_Annotation &annotation) {
    Delivered copy{annotation.time, annotation.anntyp, annotation.subtyp, annotation.chan, annotation.num, {}};
    if (annotation.aux) {
        copy.aux = std::string(reinterpret_cast<const char *>(annotation.aux) + 1, annotation.aux[0]);
    }
    return copy;
}

ReadOutcome read_all(WFDB_Annotator an, size_t limit) {
    ReadOutcome outcome;
    WFDB_Annotation annotation{};
    while (outcome.annotations.size() < limit && (outcome.stop = getann(an, &annotation)) == 0) {
        outcome.annotations.push_back(capture(annotation));
    }
    return outcome;
}

}  // namespace sigtrove::testing
