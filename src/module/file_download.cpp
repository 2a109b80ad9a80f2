// _FileDownload(): start(url, first=0, head_only=False) sends the request and
// waits for the head (status, reason, content_length, content_range), read(limit)
// gives the next bytes of the body (b"" at its end), close() ends the transfer.
// Every wait on the server releases the interpreter lock; an object is used by
// one thread at a time (another gets RuntimeError rather than waiting).
#include "file_download.h"

#include <mutex>
#include <new>
#include <string>

#include "engine_errors.h"
#include "network/file_download.h"
#include "pyref.h"
#include "sigtrove.h"

namespace sigtrove {
namespace {

struct FileDownloadObject {
    PyObject_HEAD
    engine::FileDownload *download;
    std::mutex *busy;
};

// Holds the object's lock for one call, or says it is in use.
class Use {
public:
    explicit Use(FileDownloadObject *self) : lock_(*self->busy, std::try_to_lock) {
        if (!lock_.owns_lock()) PyErr_SetString(PyExc_RuntimeError, "the download is in use by another thread");
    }
    explicit operator bool() const { return lock_.owns_lock(); }

private:
    std::unique_lock<std::mutex> lock_;
};

PyObject *download_new(PyTypeObject *type, PyObject *args, PyObject *kwargs) {
    if (!PyArg_ParseTuple(args, ":_FileDownload") || (kwargs && PyDict_Size(kwargs) > 0)) {
        if (!PyErr_Occurred()) PyErr_SetString(PyExc_TypeError, "_FileDownload() takes no arguments");
        return nullptr;
    }
    PyRef self = PyRef::steal(type->tp_alloc(type, 0));
    if (!self) return nullptr;
    auto *object = reinterpret_cast<FileDownloadObject *>(self.get());
    object->download = new (std::nothrow) engine::FileDownload;
    object->busy = new (std::nothrow) std::mutex;
    if (!object->download || !object->busy) return PyErr_NoMemory();
    return self.release();
}

void download_dealloc(PyObject *self) {
    auto *object = reinterpret_cast<FileDownloadObject *>(self);
    if (object->download) {
        // Closing may read a short rest of a body: not with the interpreter lock held.
        engine::FileDownload *download = object->download;
        Py_BEGIN_ALLOW_THREADS
        delete download;
        Py_END_ALLOW_THREADS
    }
    delete object->busy;
    Py_TYPE(self)->tp_free(self);
}

PyObject *download_start(PyObject *self, PyObject *args, PyObject *kwargs) {
    static const char *keywords[] = {"url", "first", "head_only", nullptr};
    const char *url = nullptr;
    long long first = 0;
    int head_only = 0;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "s|Lp:start", const_cast<char **>(keywords), &url, &first,
                                     &head_only))
        return nullptr;
    auto *object = reinterpret_cast<FileDownloadObject *>(self);
    Use use(object);
    if (!use) return nullptr;
    const std::string target(url);
    engine::Status status;
    Py_BEGIN_ALLOW_THREADS
    status = object->download->start(target, first, head_only != 0);
    Py_END_ALLOW_THREADS
    if (!status) return raise_failure(status);
    Py_RETURN_NONE;
}

PyObject *download_read(PyObject *self, PyObject *args) {
    Py_ssize_t limit = 0;
    if (!PyArg_ParseTuple(args, "n:read", &limit)) return nullptr;
    if (limit < 0) {
        PyErr_SetString(PyExc_ValueError, "read takes a number of bytes of 0 or more");
        return nullptr;
    }
    auto *object = reinterpret_cast<FileDownloadObject *>(self);
    Use use(object);
    if (!use) return nullptr;
    PyRef bytes = PyRef::steal(PyBytes_FromStringAndSize(nullptr, limit));
    if (!bytes) return nullptr;
    auto *out = reinterpret_cast<std::uint8_t *>(PyBytes_AS_STRING(bytes.get()));
    std::size_t got = 0;
    engine::Status status;
    Py_BEGIN_ALLOW_THREADS
    status = object->download->read(out, static_cast<std::size_t>(limit), got);
    Py_END_ALLOW_THREADS
    if (!status) return raise_failure(status);
    if (static_cast<Py_ssize_t>(got) == limit) return bytes.release();
    return PyBytes_FromStringAndSize(PyBytes_AS_STRING(bytes.get()), static_cast<Py_ssize_t>(got));
}

PyObject *download_close(PyObject *self, PyObject *) {
    auto *object = reinterpret_cast<FileDownloadObject *>(self);
    Use use(object);
    if (!use) return nullptr;
    Py_BEGIN_ALLOW_THREADS
    object->download->finish();
    Py_END_ALLOW_THREADS
    Py_RETURN_NONE;
}

PyObject *length_or_none(long long value) {
    if (value >= 0) return PyLong_FromLongLong(value);
    Py_RETURN_NONE;
}

PyObject *head_field(PyObject *self, void *field) {
    auto *object = reinterpret_cast<FileDownloadObject *>(self);
    Use use(object);
    if (!use) return nullptr;
    const engine::DownloadHead &head = object->download->head();
    const std::string name(static_cast<const char *>(field));
    if (name == "status") return PyLong_FromLong(head.status);
    if (name == "reason")
        return PyUnicode_DecodeLatin1(head.reason.data(), static_cast<Py_ssize_t>(head.reason.size()), nullptr);
    if (name == "content_length") return length_or_none(head.content_length);
    if (!head.has_content_range) Py_RETURN_NONE;
    PyRef first = PyRef::steal(length_or_none(head.range_first));
    PyRef total = PyRef::steal(length_or_none(head.range_total));
    if (!first || !total) return nullptr;
    return PyTuple_Pack(2, first.get(), total.get());
}

PyMethodDef download_methods[] = {
    {"start", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)(void)>(download_start)),
     METH_VARARGS | METH_KEYWORDS, "Sends the request and waits for the answer's head."},
    {"read", download_read, METH_VARARGS, "The next bytes of the body, at most LIMIT; b'' at its end."},
    {"close", download_close, METH_NOARGS, "Ends the transfer."},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef download_fields[] = {
    {"status", head_field, nullptr, "the answer's HTTP status", const_cast<char *>("status")},
    {"reason", head_field, nullptr, "the status line's text", const_cast<char *>("reason")},
    {"content_length", head_field, nullptr, "the body's length; None when not given",
     const_cast<char *>("content_length")},
    {"content_range", head_field, nullptr, "(first byte or None, total or None) of a Content-Range; None without one",
     const_cast<char *>("content_range")},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyTypeObject FileDownloadType = [] {
    PyTypeObject t = blank_type();
    t.tp_name = "_sigtrove._FileDownload";
    t.tp_basicsize = sizeof(FileDownloadObject);
    t.tp_flags = Py_TPFLAGS_DEFAULT;
    t.tp_doc = "One file of a web server, fetched through the engine's HTTP client.";
    t.tp_new = download_new;
    t.tp_dealloc = download_dealloc;
    t.tp_methods = download_methods;
    t.tp_getset = download_fields;
    return t;
}();

}  // namespace

bool add_file_download_type(PyObject *module) {
    if (PyType_Ready(&FileDownloadType) < 0) return false;
    Py_INCREF(&FileDownloadType);
    if (PyModule_AddObject(module, "_FileDownload", reinterpret_cast<PyObject *>(&FileDownloadType)) < 0) {
        Py_DECREF(&FileDownloadType);
        return false;
    }
    return true;
}

}  // namespace sigtrove
