#include "fuzz_scratch.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "wfdb/wfdb.h"
#include "wfdb_interface/process_state.h"

namespace sigtrove::fuzz {

const std::string &scratch_folder() {
    // Never destroyed: the exit handler that removes the folder still needs its name.
    static const std::string &folder = *new std::string([] {
        // Files live in memory where the system offers it: a fuzzer writes one per input.
        const char *base = std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : "/tmp";
        std::string pattern = std::string(base) + "/sigtrove-fuzz-XXXXXX";
        if (!mkdtemp(pattern.data())) std::abort();
        setenv("WFDB", pattern.c_str(), 1);
        // Small enough that an allocation the ceiling does not bound shows as an RSS overrun.
        setenv("SIGTROVE_MAX_RECORD_MEMORY", "67108864", 0);
        std::atexit([] { std::filesystem::remove_all(scratch_folder()); });
        return pattern;
    }());
    return folder;
}

void write_scratch_file(const std::string &name, const std::uint8_t *data, std::size_t size) {
    std::string path = scratch_folder() + "/" + name;
    std::FILE *file = std::fopen(path.c_str(), "wb");
    if (!file) std::abort();
    if (size > 0 && std::fwrite(data, 1, size, file) != size) std::abort();
    std::fclose(file);
}

void write_scratch_file(const std::string &name, const std::string &text) {
    write_scratch_file(name, reinterpret_cast<const std::uint8_t *>(text.data()), text.size());
}

void remove_scratch_file(const std::string &name) { std::remove((scratch_folder() + "/" + name).c_str()); }

void reset_engine() {
    engine::reset_process_state();
    // Texts are still recorded; printing each one would only slow the fuzzer down.
    wfdbquiet();
}

}  // namespace sigtrove::fuzz
