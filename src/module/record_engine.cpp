#include "record_engine.h"

namespace sigtrove {

int RecordEngine::open_signals() {
    if (input_.record_count() > 0) return input_.record(0).signal_count();
    std::unique_ptr<engine::Record> record;
    int n = engine::Record::open_signals(description_, engine::Record::Options{}, record);
    if (n > 0) input_.add(std::move(record));
    return n;
}

engine::Status RecordEngine::open_with_status() {
    std::unique_ptr<engine::Record> record;
    engine::Status status = engine::Record::open(description_, record);
    if (status.ok()) input_.add(std::move(record));
    return status;
}

}  // namespace sigtrove
