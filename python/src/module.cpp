// tamo._tamo: the tamo tool's commands run on NumPy arrays.
//
// A command runs exactly as on the command line (same argument checks,
// conversions, defaults and library calls), with a cli::Host that stands in
// for its files: inputs are records over the arrays' own memory, results are
// taken over by arrays without a copy. The Python layer (tamo/__init__.py)
// builds one function per command from the table this module exposes.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <unordered_map>
#include <vector>

#include "cli.h"
#include "npyio.h"
#include "statistics.h"

namespace py = pybind11;

namespace {

#ifndef TAMO_VERSION
#error "TAMO_VERSION comes from the build (the project's version)"
#endif

// ---- Arrays the library may see but never free ------------------------------

// Pixel buffers lent by NumPy, with the number of records over each. The
// library releases pixels through Tamo_freeptr; a lent buffer is skipped.
std::mutex lentMutex;
std::unordered_map<const void *, int> lent;
std::atomic<int> lentCount{0};

void freeUnlessLent(void *p) {
    if (lentCount.load(std::memory_order_acquire) > 0) {
        std::lock_guard<std::mutex> lock(lentMutex);
        if (lent.count(p)) return;
    }
    std::free(p);
}

bool isLent(const void *p) {
    std::lock_guard<std::mutex> lock(lentMutex);
    return lent.count(p) != 0;
}

void lend(const void *p) {
    std::lock_guard<std::mutex> lock(lentMutex);
    ++lent[p];
    lentCount.fetch_add(1, std::memory_order_release);
}

void giveBack(const void *p) {
    std::lock_guard<std::mutex> lock(lentMutex);
    auto it = lent.find(p);
    if (it == lent.end()) return;
    if (--it->second == 0) lent.erase(it);
    lentCount.fetch_sub(1, std::memory_order_release);
}

// ---- Data types -------------------------------------------------------------

// The data types that have a NumPy dtype, one to one. The dtypes are made
// once (at import): a call only compares kinds and sizes.
struct TypePair {
    uint32_t code;
    const char *name;   // the library's name
    const char *dtype;  // NumPy's
    char kind = 0;
    py::ssize_t itemsize = 0;
    PyObject *descr = nullptr;  // a reference held for the module's life
};
TypePair kTypes[] = {
    {TAMO_U8BIT, "u8bit", "uint8"},      {TAMO_8BIT, "8bit", "int8"},
    {TAMO_U16BIT, "u16bit", "uint16"},   {TAMO_16BIT, "16bit", "int16"},
    {TAMO_32BIT, "32bit", "int32"},      {TAMO_32FLT, "float", "float32"},
    {TAMO_64FLT, "64flt", "float64"},    {TAMO_32CMP, "32cmp", "complex64"},
    {TAMO_64CMP, "64cmp", "complex128"},
};

void makeDtypes() {
    for (TypePair &t : kTypes) {
        py::dtype d(t.dtype);
        t.kind = d.kind();
        t.itemsize = d.itemsize();
        t.descr = d.release().ptr();
    }
}

// ---- Errors -----------------------------------------------------------------

// A refusal for tamo.Error: the reason in words and the code.
struct CommandError {
    std::string message;
    int code;
};

PyObject *errorType = nullptr;

// A process-ending path of the library unwinds to the command's caller.
struct Stopped {
    int status;
};

[[noreturn]] void stopOperation(int status) {
    throw Stopped{status};
}

// ---- Ctrl-C -----------------------------------------------------------------

// Per calling thread: when the interpreter was last asked about signals, and
// the exception its handler raised (KeyboardInterrupt), kept until the
// command has unwound.
struct Interrupt {
    std::chrono::steady_clock::time_point lastCheck;
    PyObject *type = nullptr, *value = nullptr, *trace = nullptr;
    bool pending() const { return type != nullptr; }
};
thread_local Interrupt interrupt;

// The library's progress hook: at most every 50 ms, asks the interpreter
// whether a signal came (only the main thread ever gets one) and stops the
// operator when its handler raised.
int checkSignals(int64_t, int64_t) {
    if (interrupt.pending()) return 1;
    const auto now = std::chrono::steady_clock::now();
    if (now - interrupt.lastCheck < std::chrono::milliseconds(50)) return 0;
    interrupt.lastCheck = now;
    PyGILState_STATE gil = PyGILState_Ensure();
    if (PyErr_CheckSignals() != 0) PyErr_Fetch(&interrupt.type, &interrupt.value, &interrupt.trace);
    PyGILState_Release(gil);
    return interrupt.pending() ? 1 : 0;
}

// ---- The host ---------------------------------------------------------------

// Memory names cannot be mistaken for files or options.
const char kMemoryPrefix[] =
    "\x1f"
    "tamo:";

std::string memoryName(const std::string &what) {
    return kMemoryPrefix + what;
}

// An input array as the library will see it, gathered while the GIL is held.
struct Input {
    std::string name;
    py::array array;  // keeps the memory alive
    const void *data;
    int dims[4];
    const char *type;
    std::size_t bytes;
    bool copy;        // the command writes into it: give it a copy
    std::string npy;  // other dtypes: the array as a .npy file
};

tamo::RecordPtr fromNpy(std::string &npy) {
    std::string reason;
    std::unique_ptr<FILE, int (*)(FILE *)> fp(fmemopen(npy.data(), npy.size(), "rb"), fclose);
    tamo::RecordPtr img = fp ? frontend::readNpy(fp.get(), reason) : nullptr;
    if (!img) throw cli::Failure("cannot use the array: " + (fp ? reason : "no memory"));
    return img;
}

class ArrayHost : public cli::Host {
public:
    std::vector<Input> inputs;
    std::vector<std::string> outputNames;
    std::map<std::string, tamo::RecordPtr> results;
    std::map<std::string, double> values;

    ~ArrayHost() override {
        for (const void *p : lentHere) giveBack(p);
    }

    tamo::RecordPtr read(const std::string &name) override {
        for (Input &in : inputs) {
            if (in.name != name) continue;
            if (!in.npy.empty()) return fromNpy(in.npy);
            tamo::RecordPtr img(Tamocreate(in.type, in.dims, in.copy ? TAMO_CREATE_ZEROED : 0, 0));
            if (!img) throw cli::Failure("cannot make an image record of the array");
            if (in.copy) {
                std::memcpy(img->orvptr, in.data, in.bytes);
            } else {
                // Never written: the commands that write their inputs get copies.
                img->orvptr = static_cast<char *>(const_cast<void *>(in.data));
                lend(in.data);
                lentHere.push_back(in.data);
            }
            return img;
        }
        return nullptr;
    }

    bool write(const std::string &name, TAMOHDR *img) override {
        bool ours = false;
        for (const std::string &n : outputNames) ours = ours || n == name;
        if (!ours) return false;
        const bool lentPixels = isLent(img->orvptr);
        tamo::RecordPtr kept;
        if (lentPixels) {
            int dims[4] = {img->orvndim, 1, 1, 1};
            for (int d = 0; d < img->orvndim && d < 3; ++d) dims[d + 1] = img->orvdim[d].dlen;
            kept.reset(Tamocreate(img->orvdt, dims, TAMO_CREATE_ZEROED, img->orvbpd));
            if (!kept) throw cli::Failure("cannot make the result's record");
            std::memcpy(kept->orvptr, img->orvptr,
                        static_cast<std::size_t>(tamo::elementCount(img)) * img->orvbpd);
        } else {
            // The header is copied and the pixels change owner: the command
            // then releases a record without pixels.
            kept.reset(static_cast<TAMOHDR *>(Tamoalc(TAMO_BLOCK)));
            if (!kept) throw cli::Failure("cannot make the result's record");
            std::memcpy(kept.get(), img, sizeof(TAMOHDR));
            kept->orvptr = nullptr;
            kept->orvtail = nullptr;
            kept->orvtlen = 0;
            kept->orvdln = Tamo_ao(kept.get());
            if (!kept->orvdln) throw std::bad_alloc();
            kept->orvptr = img->orvptr;
            img->orvptr = nullptr;
        }
        results[name] = std::move(kept);
        return true;
    }

    bool value(const char *name, double v) override {
        values[name] = v;
        return true;
    }

private:
    std::vector<const void *> lentHere;
};

// The record's type as a NumPy dtype; refused by name when it has none.
py::dtype dtypeOf(const TAMOHDR *img) {
    for (const TypePair &t : kTypes)
        if (t.code == static_cast<uint32_t>(img->dtype))
            return py::reinterpret_borrow<py::dtype>(t.descr);
    throw CommandError{std::string("data type \"") + img->orvdt + "\" has no NumPy dtype", 1};
}

// An array that owns the record: (frames, rows, columns) for three
// dimensions, (rows, columns) otherwise, as the .npy writer lays it out.
py::array arrayOf(tamo::RecordPtr img) {
    const py::dtype dtype = dtypeOf(img.get());
    const int cols = img->orvdim[0].dlen;
    const int rows = img->orvndim >= 2 ? img->orvdim[1].dlen : 1;
    std::vector<py::ssize_t> shape;
    if (img->orvndim == 3) shape.push_back(img->orvdim[2].dlen);
    shape.push_back(rows);
    shape.push_back(cols);
    void *pixels = img->orvptr;
    py::capsule owner(img.release(), [](void *p) { Tamofree(static_cast<TAMOHDR *>(p), 7); });
    return py::array(dtype, shape, pixels, owner);
}

// The data type of an array of one of our dtypes in this machine's byte
// order, or null.
const char *ownTypeOf(const py::dtype &dtype) {
    // '>' only for the other byte order: NumPy writes '=' for this machine's.
    if (dtype.byteorder() == '>') return nullptr;
    for (const TypePair &t : kTypes)
        if (t.kind == dtype.kind() && t.itemsize == dtype.itemsize()) return t.name;
    return nullptr;
}

Input inputOf(const std::string &name, const py::handle &object, const std::string &copyType) {
    py::array array = py::array::ensure(object);
    if (!array) throw CommandError{"an image must be an array", 2};
    if (array.ndim() != 2 && array.ndim() != 3)
        throw CommandError{
            "an image must have 2 or 3 dimensions, not " + std::to_string(array.ndim()), 2};
    for (py::ssize_t d = 0; d < array.ndim(); ++d)
        if (array.shape(d) == 0) throw CommandError{"an image must not be empty", 2};
    const char *type = ownTypeOf(array.dtype());
    Input in{name, array, nullptr, {}, type, 0, type && copyType == type, {}};
    if (!in.type) {
        // Other dtypes and byte orders become what tamo reads from a .npy
        // file of the array (bool as "u8bit", int64 as "32bit" when every
        // value fits, ...), by the same reader.
        py::object buffer = py::module_::import("io").attr("BytesIO")();
        py::module_::import("numpy").attr("save")(buffer, array);
        in.npy = buffer.attr("getvalue")().cast<std::string>();
        return in;
    }
    for (py::ssize_t d = 0; d < array.ndim(); ++d)
        if (array.shape(d) > INT32_MAX) throw CommandError{"the array is too large", 2};
    // Strided views: one contiguous copy in the same type.
    if (!(array.flags() & py::array::c_style))
        in.array = array = py::array::ensure(array, py::array::c_style);
    const int nd = static_cast<int>(array.ndim());
    in.data = array.data();
    in.dims[0] = nd;
    in.dims[1] = static_cast<int>(array.shape(nd - 1));
    in.dims[2] = static_cast<int>(array.shape(nd - 2));
    in.dims[3] = nd == 3 ? static_cast<int>(array.shape(0)) : 1;
    in.bytes = static_cast<std::size_t>(array.nbytes());
    return in;
}

// Runs a command of the tool's table. `positional`: per argument an array
// (an input image), a str (a file name, as is) or None (a result, returned in
// order); `options`: option name -> str value, or None for a result that the
// command writes to the file named by that option; `switches`: names given.
// `copyType`: the command writes into its inputs of this data type (those it
// works on as they are), which it then gets copies of. Returns (results,
// values).
py::tuple run(const std::string &commandName, const py::sequence &positional,
              const py::dict &options, const std::vector<std::string> &switches,
              const std::string &copyType) {
    const cli::Command *command = cli::findCommand(commandName);
    if (!command) throw CommandError{"no command \"" + commandName + "\"", 2};
    ArrayHost host;
    cli::Options opts;
    for (std::size_t i = 0; i < positional.size(); ++i) {
        py::handle item = positional[i];
        if (item.is_none()) {
            host.outputNames.push_back(memoryName("out" + std::to_string(i)));
            opts.positional.push_back(host.outputNames.back());
        } else if (py::isinstance<py::str>(item)) {
            opts.positional.push_back(item.cast<std::string>());
        } else {
            host.inputs.push_back(inputOf(memoryName("in" + std::to_string(i)), item, copyType));
            opts.positional.push_back(host.inputs.back().name);
        }
    }
    for (auto [key, value] : options) {
        const std::string name = key.cast<std::string>();
        if (value.is_none()) {
            host.outputNames.push_back(memoryName("option:" + name));
            opts.values[name] = host.outputNames.back();
        } else {
            opts.values[name] = value.cast<std::string>();
        }
    }
    for (const std::string &s : switches) opts.flags.insert(s);

    std::string failure;
    int code = 0;
    bool outOfMemory = false;
    {
        py::gil_scoped_release free;
        cli::HostScope scope(&host);
        try {
            command->run(opts);
        } catch (const Stopped &s) {
            failure = "stopped by a fatal library error (status " + std::to_string(s.status) + ")";
            code = s.status;
        } catch (const cli::UsageError &e) {
            failure = e.what();
            code = 2;
        } catch (const cli::LibraryFailure &e) {
            failure = e.what();
            code = e.status;
        } catch (const cli::Failure &e) {
            failure = e.what();
            code = 1;
        } catch (const std::bad_alloc &) {
            outOfMemory = true;
        } catch (const std::exception &e) {
            failure = e.what();
            code = 1;
        }
    }
    if (interrupt.pending()) {
        PyErr_Restore(interrupt.type, interrupt.value, interrupt.trace);
        interrupt = Interrupt{};
        throw py::error_already_set();
    }
    if (outOfMemory) throw std::bad_alloc();
    if (!failure.empty()) {
        throw CommandError{commandName + ": " + failure, code};
    }
    py::list results;
    for (const std::string &name : host.outputNames) {
        auto it = host.results.find(name);
        if (it == host.results.end()) {
            results.append(py::none());
        } else {
            results.append(arrayOf(std::move(it->second)));
        }
    }
    py::dict values;
    for (const auto &[name, v] : host.values) values[py::str(name)] = v;
    return py::make_tuple(results, values);
}

// Header facts and per-frame statistics of an image file, as tamo info
// prints them.
py::dict info(const std::string &path) {
    tamo::RecordPtr img;
    std::string failure;
    {
        py::gil_scoped_release free;
        try {
            img = cli::readImage(path);
        } catch (const cli::Failure &e) {
            failure = e.what();
        }
    }
    if (!img) throw CommandError{"info: " + failure, 1};
    py::dict result;
    result["type"] = std::string(img->orvdt);
    py::list dims;
    for (int d = 0; d < img->orvndim; ++d) dims.append(img->orvdim[d].dlen);
    result["dimensions"] = py::tuple(dims);
    result["compressed"] = img->orvcomp != 0;
    py::list frames;
    for (const frontend::FrameStats &s : frontend::frameStatistics(img.get())) {
        py::dict f;
        f["min"] = s.min;
        f["max"] = s.max;
        f["mean"] = s.mean;
        f["stddev"] = s.sd;
        frames.append(f);
    }
    result["frames"] = frames;
    return result;
}

}  // namespace

PYBIND11_MODULE(_tamo, m) {
    m.doc() = "The tamo tool's commands on NumPy arrays (see the tamo package).";
    m.attr("__version__") = TAMO_VERSION;

    // tamo.Error: a ValueError with the code of the refusal.
    errorType = PyErr_NewExceptionWithDoc(
        "tamo.Error",
        "A refusal of tamo: the reason in words; .code is the library's status for a "
        "failed operation, 2 for arguments tamo refuses, 1 otherwise.",
        PyExc_ValueError, nullptr);
    m.attr("Error") = py::handle(errorType);
    py::register_exception_translator([](std::exception_ptr p) {
        try {
            if (p) std::rethrow_exception(p);
        } catch (const CommandError &e) {
            py::object error = py::handle(errorType)(e.message);
            error.attr("code") = e.code;
            PyErr_SetObject(errorType, error.ptr());
        }
    });

    // No library path ends the interpreter; lent buffers are never freed;
    // Ctrl-C reaches long operators through the progress hook.
    makeDtypes();
    Tamo_exitptr = stopOperation;
    Tamo_freeptr = freeUnlessLent;
    Tamo_progressptr = checkSignals;

    m.def("commands", [] {
        py::list table;
        for (const cli::Command &c : cli::commands()) {
            py::dict entry;
            entry["name"] = c.name;
            entry["summary"] = c.summary;
            entry["help"] = c.help;
            entry["valued"] = c.valued;
            entry["switches"] = c.switches;
            table.append(entry);
        }
        return table;
    });
    m.def("run", &run, py::arg("command"), py::arg("positional"), py::arg("options"),
          py::arg("switches"), py::arg("copy_type"));
    m.def("info", &info, py::arg("path"));
}
