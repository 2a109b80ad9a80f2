// Annotation files of both formats: the input is the file "r.atr", read whole
// and in windows through the annotation file object, and annotation by
// annotation (with seeks) through annopen/getann/iannsettime. The first byte
// chooses the format asked for and whether the record has a header (which sets
// the time basis and the frequency annotation times are rescaled to).
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "annotations/annotation_file.h"
#include "fuzz_scratch.h"
#include "wfdb/wfdb.h"

using namespace sigtrove;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size < 1) return 0;
    fuzz::scratch_folder();
    fuzz::reset_engine();
    const std::uint8_t choice = data[0];
    const int stat = (choice & 1) ? WFDB_AHA_READ : WFDB_READ;
    if (choice & 2)
        fuzz::write_scratch_file(
            "r.hea", (choice & 4) ? "r 1 250/1000 5000 12:00:00 1/2/2003\nr.dat 16\n" : "r 1 360\nr.dat 16\n");
    else
        fuzz::remove_scratch_file("r.hea");
    fuzz::write_scratch_file("r.atr", data + 1, size - 1);

    std::unique_ptr<engine::AnnotationFile> file;
    if (engine::AnnotationFile::open("r", "atr", stat, file).ok()) {
        std::vector<engine::AnnotationRow> rows;
        (void)file->read(0, std::nullopt, rows);
        WFDB_Time middle = rows.empty() ? 0 : rows[rows.size() / 2].time;
        rows.clear();
        (void)file->read(middle, middle + 1000, rows);
        (void)file->codes();
    }

    WFDB_Anninfo info{const_cast<char *>("atr"), stat};
    if (annopen(const_cast<char *>("r"), &info, 1) == 0) {
        WFDB_Annotation annotation;
        WFDB_Time last = 0;
        for (int i = 0; i < 100000 && getann(0, &annotation) == 0; ++i) last = annotation.time;
        if (iannsettime(last / 2) == 0)
            for (int i = 0; i < 100 && getann(0, &annotation) == 0; ++i) (void)annstr(annotation.anntyp);
        (void)iannsettime(0);
        (void)getann(0, &annotation);
    }
    return 0;
}
