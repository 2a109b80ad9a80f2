#include "writers/output_names.h"

namespace sigtrove::engine {
namespace {

Status refuse(const char *what, const std::string &name, const char *why) {
    return Status::failure(ErrorKind::bad_request,
                           std::string("sigtrove: ") + what + " name '" + name + "' " + why + "\n");
}

Status check_name(const char *what, const std::string &name, bool dots) {
    if (name.empty())
        return Status::failure(ErrorKind::bad_request, std::string("sigtrove: the ") + what + " name is empty\n");
    for (unsigned char c : name) {
        if (c == '/' || c == '\\') return refuse(what, name, "holds a folder separator");
        if (c <= ' ' || c == 0x7F) return refuse(what, name, "holds a blank or a control character");
        if (c == '.' && !dots) return refuse(what, name, "holds a '.' (a dotted record name is read as an EDF file)");
    }
    if (name.find("..") != std::string::npos) return refuse(what, name, "holds \"..\"");
    return Status();
}

}  // namespace

Status check_record_name(const std::string &name) {
    if (Status status = check_name("record", name, false); !status.ok()) return status;
    if (name[0] == '+') return refuse("record", name, "begins with '+'");
    if (name == "-") return refuse("record", name, "stands for standard input");
    return Status();
}

Status check_annotator_name(const std::string &name) { return check_name("annotator", name, true); }

Status check_signal_file_name(const std::string &name) { return check_name("signal file", name, true); }

}  // namespace sigtrove::engine
