// A test fixture for engine tests that read headers: a temporary directory as the
// working directory, WFDB=".", quiet error printing, and the engine's process-wide
// path and record state forgotten before and after each test.
#ifndef SIGTROVE_TESTS_RECORD_DIR_FIXTURE_H
#define SIGTROVE_TESTS_RECORD_DIR_FIXTURE_H

#include <gtest/gtest.h>

#include <string>

#include "expected_records.h"
#include "fixture_files.h"
#include "header/header.h"
#include "paths/database_path.h"
#include "record_header/record_header.h"
#include "wfdb/wfdb.h"
#include "wfdb_interface/record_state.h"

namespace sigtrove::testing {

class RecordDirTest : public ::testing::Test {
protected:
    RecordDirTest() {
        engine::reset_database_path();
        engine::reset_record_state();
        wfdbquiet();
    }
    ~RecordDirTest() override {
        engine::reset_database_path();
        engine::reset_record_state();
    }

    // Writes NAME.hea with the given text into the directory.
    void write_header(const std::string &name, const std::string &text) { dir.write(name + ".hea", text); }

    // Writes NAME.hea and reads it back into `header`.
    int read(const std::string &name, const std::string &text) {
        write_header(name, text);
        return engine::read_header(name, header);
    }

    TempDir dir;
    EnvironmentVariable wfdb{"WFDB", "."};
    WorkingDirectory cwd{dir.path()};
    engine::Header header;
};

// A test over the shared records, each read in the fresh state the reference ran it
// in: no path learnt, no header read, WFDB=".", quiet error printing.
class SharedRecordTest : public ::testing::TestWithParam<ExpectedRecord> {
protected:
    void SetUp() override {
        engine::reset_database_path();
        engine::reset_record_state();
        wfdbquiet();
    }
    EnvironmentVariable wfdb{"WFDB", "."};
};

}  // namespace sigtrove::testing

#endif
