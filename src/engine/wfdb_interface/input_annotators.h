// The annotation files open for reading, numbered as annopen opened them; the
// C calls annopen, getann and iannsettime work on this list.
#ifndef SIGTROVE_ENGINE_INPUT_ANNOTATORS_H
#define SIGTROVE_ENGINE_INPUT_ANNOTATORS_H

namespace sigtrove::engine {

// Closes every open annotation file, as annopen without a leading "+" does.
void close_annotation_files();

// How many annotation files are open (the next annotator number). For tests.
unsigned int open_annotation_file_count();

}  // namespace sigtrove::engine

#endif
