#include "record/record_prefetch.h"

#include <map>
#include <memory>

#include "errors/error_state.h"
#include "formats/sample_formats.h"
#include "network/prefetched_files.h"
#include "paths/path_search.h"
#include "record/record_description.h"
#include "record_header/record_header.h"

namespace sigtrove::engine {
namespace {

// Requests in flight at once for a database's batches: the headers of 64 records (the batch the
// module asks for) with their signal files' heads take one round trip, not four.
constexpr std::size_t kRecordsAtOnce = 64;

// The name a remote record's files are named from ("https://host/db/100"), or ""
// for a record that is not remote or is an EDF file (whose header is its own).
std::string remote_record_name(const std::string &record) {
    std::string name = record_lookup_name(record);
    if (name.empty() || !is_url(name) || names_edf_file(name)) return "";
    return name;
}

bool not_there(long status) { return status == 404 || status == 410; }

// The files a batch asks for, each once, with the opens that will take its answer.
class Batch {
public:
    void add(const std::string &url, PrefetchPart part, int opens = 1) {
        auto [it, added] = index_.emplace(url, files_.size());
        if (added)
            files_.push_back(PrefetchedFile{url, part, opens});
        else if (part == PrefetchPart::first_block)
            files_[it->second].part = part;  // a file read at its open wants its bytes, not only its head
    }
    // Asks for those not kept already; those kept serve the opens counted for them.
    void fetch() {
        std::vector<PrefetchedFile> asked;
        for (const PrefetchedFile &f : files_) {
            if (prefetched_status(f.url) != 0)
                keep_prefetched_for(f.url, f.opens);
            else
                asked.push_back(f);
        }
        prefetch_remote_files(asked, kRecordsAtOnce);
    }

private:
    std::vector<PrefetchedFile> files_;
    std::map<std::string, std::size_t> index_;
};

}  // namespace

void prefetch_record_open(const std::string &record) {
    if (kept_answers_only()) return;
    const std::string name = remote_record_name(record);
    if (name.empty()) return;
    prefetch_remote_files(std::vector<std::string>{name + ".hea", name + ".dat"});
}

void prefetch_records(const std::vector<std::string> &records) {
    if (kept_answers_only()) return;
    std::vector<std::string> names;
    Batch first;
    for (const std::string &record : records) {
        std::string name = remote_record_name(record);
        if (name.empty()) continue;
        first.add(name + ".hea", PrefetchPart::first_block);
        first.add(name + ".dat", PrefetchPart::head);
        names.push_back(std::move(name));
    }
    if (names.empty()) return;
    first.fetch();
    // The headers that came, read from their kept answers (which stay for the opens to come): the
    // signal files they name, each with the records that open it. A header that can not be read so
    // is left to its own open, which says why.
    std::map<std::string, int> opens;  // signal file URL: the records naming it
    std::vector<std::string> named;    // in the order first named
    std::map<std::string, bool> read_at_open;
    {
        KeptAnswersOnly kept_only;
        ErrorCapture quiet;
        for (const std::string &name : names) {
            std::shared_ptr<const RecordDescription> description;
            SearchLocation where;
            if (describe_record(name, where, description) < 0 || !description) continue;
            const Header &header = description->header;
            if (header.multi_segment || header.edf) continue;
            std::map<std::string, bool> own;
            for (const SignalSpec &s : header.signals) {
                if (s.fmt == 0) continue;
                std::string url = description->location.remote_signal_file(s.fname);
                if (url.empty()) continue;
                // A FLAC file's open reads its stream header: its first block, not only its head.
                own[url] = own[url] || is_flac_format(s.fmt);
            }
            for (const auto &[url, flac] : own) {
                if (opens[url]++ == 0) named.push_back(url);
                read_at_open[url] = read_at_open[url] || flac;
            }
        }
    }
    // A signal file that is not there is looked for by its other name (NAME.), as its open would:
    // with the others when the first batch said so already, in a batch of their own otherwise.
    auto part_of = [&](const std::string &url) {
        return read_at_open[url] ? PrefetchPart::first_block : PrefetchPart::head;
    };
    Batch second;
    for (const std::string &url : named) {
        if (not_there(prefetched_status(url))) {
            keep_prefetched_for(url, opens[url]);
            second.add(url + ".", part_of(url), opens[url]);
        } else {
            second.add(url, part_of(url), opens[url]);
        }
    }
    second.fetch();
    Batch third;
    for (const std::string &url : named)
        if (not_there(prefetched_status(url)) && prefetched_status(url + ".") == 0)
            third.add(url + ".", part_of(url), opens[url]);
    third.fetch();
}

}  // namespace sigtrove::engine
