// Writes small EDF, EDF+ and BDF files byte by byte, for what the shared files
// lack: EDF+D placements, data-record counts of -1, files cut short, hostile
// header fields. Every header field is a text written as given (padded with
// spaces to its width), so a test can put anything in any field.
#ifndef SIGTROVE_TESTS_EDF_WRITER_H
#define SIGTROVE_TESTS_EDF_WRITER_H

#include <optional>
#include <string>
#include <vector>

namespace sigtrove::testing {

struct EdfSignalToWrite {
    std::string label = "sig";
    std::string dimension = "uV";
    std::string physical_min = "-100", physical_max = "100";
    std::string digital_min = "-32768", digital_max = "32767";
    std::string samples_field{};  // default: samples_per_record
    int samples_per_record = 1;
    std::vector<int> samples{};  // every data record's samples, one after the other
    bool annotation = false;     // an annotation signal: its bytes are the file's annotation_bytes
};

struct EdfFileToWrite {
    bool bdf = false;
    std::string version{};  // default: "0" (EDF) or byte 255 and "BIOSEMI" (BDF)
    std::string patient = "X X X X";
    std::string recording = "Startdate X X X X";
    std::string start_date = "01.02.03", start_time = "04.05.06";
    std::string header_bytes{};  // default: as the signal count needs
    std::string reserved{};      // "EDF+C", "EDF+D", ...
    std::string records{};       // default: data_records
    std::string duration = "1";
    std::string signal_count{};  // default: the signals' count
    int data_records = 1;
    std::vector<EdfSignalToWrite> signals{};
    std::vector<std::string> annotation_bytes{};  // per data record: the annotation signal's bytes (NUL padded)
};

std::string edf_file_bytes(const EdfFileToWrite &file);

// A time-stamped annotation list: "+1.5\x15" "2\x14" "text\x14" ... "\0".
std::string annotation_list(const std::string &onset, const std::optional<std::string> &duration,
                            const std::vector<std::string> &texts);
// A data record's time stamp: "+ONSET\x14\x14\0".
std::string time_stamp(const std::string &onset);

}  // namespace sigtrove::testing

#endif
