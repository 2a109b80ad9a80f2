// A scratch folder for the fuzz harnesses: the engine reads records from files,
// so each input is written as a file there before the engine opens it.
#ifndef SIGTROVE_FUZZ_SCRATCH_H
#define SIGTROVE_FUZZ_SCRATCH_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace sigtrove::fuzz {

// Creates the folder (once per process), makes it the engine's database path and
// caps a record's memory low enough that the fuzzer's RSS limit catches any
// allocation the cap does not bound. Returns the folder.
const std::string &scratch_folder();

// Writes `size` bytes to NAME in the scratch folder, replacing what was there.
void write_scratch_file(const std::string &name, const std::uint8_t *data, std::size_t size);
void write_scratch_file(const std::string &name, const std::string &text);

// Removes NAME from the scratch folder, if it is there.
void remove_scratch_file(const std::string &name);

// Resets what the engine keeps process-wide (open signals and annotators, error
// text, sticky header values), so every input starts from a fresh process state.
void reset_engine();

}  // namespace sigtrove::fuzz

#endif
