#include "wfdb_interface/process_state.h"

#include "annotations/annotation_codes.h"
#include "errors/error_state.h"
#include "header/record_memory.h"
#include "network/remote_file.h"
#include "network/remote_settings.h"
#include "paths/database_path.h"
#include "wfdb_interface/input_annotators.h"
#include "wfdb_interface/record_state.h"
#include "wfdb_interface/signal_input.h"

namespace sigtrove::engine {

void reset_process_state() {
    reset_signal_input();
    close_annotation_files();
    reset_record_state();
    reset_database_path();
    reset_annotation_codes();
    reset_error_state();
    reset_remote_settings();
    reset_remote_state();
    set_max_record_memory(0);
}

}  // namespace sigtrove::engine
