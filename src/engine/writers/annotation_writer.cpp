#include "writers/annotation_writer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <new>
#include <set>

#include "annotations/annotation_codes.h"
#include "annotations/annotation_mit_format.h"
#include "errors/error_state.h"
#include "header/header.h"
#include "paths/search_location.h"
#include "record_header/record_header.h"
#include "wfdb/ecgcodes.h"
#include "writers/header_text.h"
#include "writers/output_names.h"

namespace sigtrove::engine {
namespace {

constexpr int kMaxDelta = 1023;  // the largest time step an annotation word holds
constexpr long long kMaxSkip = 2147483647;

Status bad(const std::string &text) { return Status::failure(ErrorKind::bad_request, "sigtrove: " + text + "\n"); }

class WordWriter {
public:
    explicit WordWriter(std::vector<std::uint8_t> &out) : out_(out) {}

    void word(int code, int data) {
        const unsigned w = static_cast<unsigned>(code) << 10 | (static_cast<unsigned>(data) & 0x3FF);
        out_.push_back(static_cast<std::uint8_t>(w));
        out_.push_back(static_cast<std::uint8_t>(w >> 8));
    }

    void skip(long long interval) {
        word(mit_skip, 0);
        const auto v = static_cast<std::uint32_t>(static_cast<std::int32_t>(interval));
        // PDP-11 order: the high half first, each half least significant byte first.
        for (std::uint32_t half : {v >> 16, v & 0xFFFF}) {
            out_.push_back(static_cast<std::uint8_t>(half));
            out_.push_back(static_cast<std::uint8_t>(half >> 8));
        }
    }

    void aux(const std::string &text) {
        word(mit_aux, static_cast<int>(text.size()));
        out_.insert(out_.end(), text.begin(), text.end());
        if (text.size() % 2 != 0) out_.push_back(0);
    }

private:
    std::vector<std::uint8_t> &out_;
};

// What the reader carries from one annotation to the next.
struct WriterState {
    long long time = 0;
    int chan = 0;
    int num = 0;
};

void put_annotation(WordWriter &words, WriterState &state, long long time, int code, int subtype, int chan, int num,
                    const std::optional<std::string> &aux) {
    long long delta = time - state.time;
    while (delta > kMaxDelta || delta < 0) {
        const long long interval = std::clamp(delta, -kMaxSkip - 1, kMaxSkip);
        words.skip(interval);
        delta -= interval;
    }
    // A word of code 0 and no time step is the file's end: an empty annotation
    // at the same time steps back one tick and forward again.
    if (code == 0 && delta == 0) {
        words.skip(-1);
        delta = 1;
    }
    words.word(code, static_cast<int>(delta));
    state.time = time;
    if (subtype != 0) words.word(mit_sub, subtype);
    if (chan != state.chan) words.word(mit_chn, chan);
    if (num != state.num) words.word(mit_num, num);
    state.chan = chan;
    state.num = num;
    if (aux && !aux->empty()) words.aux(*aux);
}

std::string number_text(double v) { return header_number(v); }

std::string joined(const std::string &directory, const std::string &name) {
    if (directory.empty()) return name;
    return directory.back() == '/' ? directory + name : directory + "/" + name;
}

}  // namespace

void sort_annotations(std::vector<AnnotationRow> &rows) {
    std::stable_sort(rows.begin(), rows.end(), [](const AnnotationRow &a, const AnnotationRow &b) {
        if (a.time != b.time) return a.time < b.time;
        const auto num_a = static_cast<signed char>(a.number), num_b = static_cast<signed char>(b.number);
        if (num_a != num_b) return num_a < num_b;
        return static_cast<unsigned char>(a.channel) < static_cast<unsigned char>(b.channel);
    });
}

Status annotation_file_bytes(const AnnotationList &list, std::vector<std::uint8_t> &out) {
    out.clear();
    for (std::size_t i = 0; i < list.rows.size(); ++i) {
        const AnnotationRow &row = list.rows[i];
        const std::string which = "annotation " + std::to_string(i) + " (time " + std::to_string(row.time) + ")";
        if (row.time < 0) return bad(which + ": a time can not be negative");
        if (i > 0 && row.time < list.rows[i - 1].time) return bad(which + ": the annotations are not sorted");
        if (row.code < 0 || row.code >= mit_skip)
            return bad(which + ": code " + std::to_string(row.code) + " is no annotation code (0 to 58)");
        if (row.subtype < -128 || row.subtype > 127)
            return bad(which + ": subtype " + std::to_string(row.subtype) + " is not within -128 to 127");
        if (row.channel < -128 || row.channel > 255)
            return bad(which + ": channel " + std::to_string(row.channel) + " is not within -128 to 255");
        if (row.number < -128 || row.number > 127)
            return bad(which + ": number " + std::to_string(row.number) + " is not within -128 to 127");
        if (row.aux && row.aux->size() > 255)
            return bad(which + ": an aux text holds at most 255 bytes, not " + std::to_string(row.aux->size()));
    }
    std::map<int, const CodeDefinition *> table;
    for (const CodeDefinition &definition : list.definitions) {
        if (definition.code < 0 || definition.code > ACMAX)
            return bad("code " + std::to_string(definition.code) + " can not be defined (codes are 0 to 49)");
        if (definition.mnemonic.empty() || definition.mnemonic.find_first_of(" \t\r\n") != std::string::npos)
            return bad("the mnemonic '" + definition.mnemonic + "' of code " + std::to_string(definition.code) +
                       " is empty or holds a blank");
        table[definition.code] = &definition;  // a later definition of a code replaces an earlier one
    }

    WordWriter words(out);
    WriterState state;
    bool labels = false;
    auto note = [&](const std::string &text) {
        put_annotation(words, state, 0, NOTE, 0, state.chan, state.num, text);
        labels = true;
    };
    if (list.time_resolution > 0) note("## time resolution: " + number_text(list.time_resolution));
    if (!table.empty()) {
        note("## annotation type definitions");
        for (const auto &[code, definition] : table) {
            std::string text = std::to_string(code) + " " + definition->mnemonic + " " + definition->description;
            if (text.size() > 255) text.resize(255);
            note(text);
        }
        note("## end of definitions");
    }
    // Readers take NOTEs at time 0 that open a file for labels of this kind: the
    // empty annotation ends them, and keeps a list's own first NOTE a NOTE.
    const bool list_opens_like_a_label =
        !list.rows.empty() && list.rows[0].time == 0 && list.rows[0].code == NOTE && list.rows[0].subtype == 0;
    if (labels || list_opens_like_a_label) put_annotation(words, state, 0, NOTQRS, 0, state.chan, state.num, {});

    for (const AnnotationRow &row : list.rows)
        put_annotation(words, state, row.time, row.code, row.subtype, row.channel & 0xFF, row.number, row.aux);
    words.word(0, 0);
    return Status();
}

Status resolve_mnemonics(std::vector<AnnotationRow> &rows, const std::vector<std::optional<std::string>> &symbols,
                         std::vector<CodeDefinition> &definitions) {
    const AnnotationCodeTable standard;
    std::map<int, std::string> mnemonic_of;  // every code named so far -> its mnemonic in this list
    std::map<std::string, int> own_code;     // a mnemonic of the list's own -> the code it was given
    std::set<int> used;
    for (const AnnotationRow &row : rows)
        if (row.code >= 0) used.insert(row.code);
    auto name = [&](int code, const std::string &mnemonic, std::size_t i) -> Status {
        auto [at, inserted] = mnemonic_of.emplace(code, mnemonic);
        if (!inserted && at->second != mnemonic)
            return bad("annotation " + std::to_string(i) + ": code " + std::to_string(code) + " has two mnemonics, '" +
                       at->second + "' and '" + mnemonic + "'");
        if (inserted && code <= ACMAX && mnemonic != standard.mnemonic(code)) {
            // A list gives no descriptions: the mnemonic stands for one (readers such as the wfdb
            // package need a description in every definition).
            definitions.push_back({code, mnemonic, mnemonic});
            own_code.emplace(mnemonic, code);
        }
        return Status();
    };
    auto symbol_of = [&](std::size_t i) -> std::optional<std::string> {
        return i < symbols.size() && symbols[i] && !symbols[i]->empty() ? symbols[i] : std::nullopt;
    };
    // The table's mnemonics first, so that a code a mnemonic of the table names is never given away.
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const std::optional<std::string> symbol = symbol_of(i);
        if (rows[i].code >= 0 || !symbol) continue;
        if (const int code = standard.code_of(*symbol); code != 0 || *symbol == standard.mnemonic(0)) {
            rows[i].code = code;
            used.insert(code);
        }
    }
    for (std::size_t i = 0; i < rows.size(); ++i) {
        AnnotationRow &row = rows[i];
        const std::optional<std::string> symbol = symbol_of(i);
        if (symbol && *symbol != standard.mnemonic(0) && symbol->find_first_of(" \t\r\n") != std::string::npos)
            return bad("annotation " + std::to_string(i) + ": the mnemonic '" + *symbol + "' holds a blank");
        if (row.code < 0) {
            if (!symbol) return bad("annotation " + std::to_string(i) + " has neither a code nor a mnemonic");
            if (auto own = own_code.find(*symbol); own != own_code.end()) {
                row.code = own->second;
            } else {
                int free = 42;
                while (free <= ACMAX && used.count(free) > 0) ++free;
                if (free > ACMAX)
                    return bad("annotation " + std::to_string(i) + ": no code is left for the mnemonic '" + *symbol +
                               "' (codes 42 to 49 are taken)");
                row.code = free;
                used.insert(free);
            }
        }
        if (symbol)
            if (Status status = name(row.code, *symbol, i); !status.ok()) return status;
    }
    return Status();
}

Status write_annotation_file(const std::string &directory, const std::string &record, const std::string &annotator,
                             AnnotationList list, bool overwrite, const std::vector<FileIdentity> &protected_files) {
    try {
        if (Status status = check_record_name(record); !status.ok()) return status;
        if (Status status = check_annotator_name(annotator); !status.ok()) return status;
        if (!(list.time_resolution >= 0) || !std::isfinite(list.time_resolution))
            return bad("the time resolution must be a number above 0");
        sort_annotations(list.rows);
        std::vector<std::uint8_t> bytes;
        if (Status status = annotation_file_bytes(list, bytes); !status.ok()) return status;
        const std::string name = record + "." + annotator;
        const std::string path = joined(directory, name);
        FileIdentity identity;
        if (file_identity(path, identity)) {
            for (const FileIdentity &kept : protected_files)
                if (kept == identity) return bad(path + " is a file being read: it is never written over");
            if (!overwrite)
                return Status::failure(ErrorKind::exists,
                                       "sigtrove: " + path + " exists; pass overwrite=True to replace it\n");
        }
        std::unique_ptr<OutputFile> file;
        if (Status status = OutputFile::create(directory, name, file); !status.ok()) return status;
        if (Status status = file->write(bytes); !status.ok()) return status;
        if (Status status = file->put_in_place(overwrite); !status.ok()) return status;
        return Status();
    } catch (const std::bad_alloc &) {
        return Status::failure(ErrorKind::out_of_memory,
                               "sigtrove: not enough memory to write annotator " + annotator + "\n");
    }
}

Status header_frequency(const std::string &directory, const std::string &record, double &frequency) {
    frequency = 0;
    ErrorCapture capture;
    SearchLocation location = SearchLocation::folder(directory, record);
    Header header;
    const int rc = read_header(record, location, header);
    if (rc == -1) return Status();
    if (rc < 0) return Status::failure(ErrorKind::malformed, capture.last());
    frequency = header.frame_frequency();
    return Status();
}

Status copy_annotations(AnnotationFile &source, long long start, std::optional<long long> stop,
                        const std::string &directory, const std::string &record, const std::string &annotator,
                        double frequency, bool overwrite, const std::vector<FileIdentity> &protected_files) {
    AnnotationList list;
    try {
        if (Status status = source.read(static_cast<WFDB_Time>(start), stop, list.rows); !status.ok()) return status;
        for (AnnotationRow &row : list.rows) row.time -= start;
        list.definitions = source.definitions();
    } catch (const std::bad_alloc &) {
        return Status::failure(ErrorKind::out_of_memory,
                               "sigtrove: not enough memory to copy annotator " + annotator + "\n");
    }
    list.time_resolution = frequency;
    return write_annotation_file(directory, record, annotator, std::move(list), overwrite, protected_files);
}

}  // namespace sigtrove::engine
