// kestrix._kestrix: the compiled half of the Python package. It hands the
// type library to Python (which derives the functions and enumerations from
// it) and prices whole arrays of requests through the function table of one
// object per pricing thread, with the interpreter lock released.

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <sched.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "BookBytes.h"
#include "automation/Kestrix.h"
#include "automation/OptionsImpl.h"
#include "kestrix/version.hpp"
#include "automation/TypeLibrary.h"

namespace py = pybind11;

namespace {

using kestrix::MethodDescription;
using kestrix::ParamDescription;
using kestrix::ParamKind;

const char* KindName(ParamKind kind) {
    switch (kind) {
        case ParamKind::Double: return "double";
        case ParamKind::Int: return "int";
        case ParamKind::Enum: return "enum";
    }
    return "";
}

py::dict TypeLibraryDict() {
    using namespace kestrix::typelib;
    py::list methods;
    for (const MethodDescription& method : kMethods) {
        py::list params;
        for (const ParamDescription& param : method.params) {
            params.append(py::make_tuple(param.name, KindName(param.kind),
                                         param.enumeration != nullptr ? py::object(py::str(param.enumeration->name))
                                                                      : py::object(py::none()),
                                         param.optional));
        }
        methods.append(py::make_tuple(method.name, method.dispid, method.helpString, method.helpContext, params));
    }
    py::list enumerations;
    for (const kestrix::EnumDescription* enumeration : kestrix::Enumerations()) {
        py::list members;
        for (const kestrix::EnumMember& member : enumeration->members) {
            members.append(py::make_tuple(member.name, member.value, member.helpString));
        }
        enumerations.append(py::make_tuple(enumeration->name, members));
    }
    py::dict library;
    library["name"] = kLibraryName;
    library["help_string"] = kLibraryHelpString;
    library["help_file"] = kHelpFile;
    library["class_name"] = kClassName;
    library["interface_name"] = kInterfaceName;
    library["prog_id"] = kProgId;
    library["methods"] = methods;
    library["enumerations"] = enumerations;
    return library;
}

// One argument of the vectorised call, read at the broadcast shape: the
// strides of the dimensions it lacks or has as 1 are 0. `tooLarge`, when
// set, marks the elements whose value a double cannot hold (a byte each: 1
// too large, 2 too close to 0, else 0), read at the same shape.
struct Operand {
    const char* data = nullptr;
    bool isDouble = true;
    std::size_t slot = 0;  // where Invoke reads it in the argument array
    std::size_t position = 0;  // the parameter's position in the interface
    std::vector<py::ssize_t> strides;
    const char* tooLarge = nullptr;
    std::vector<py::ssize_t> tooLargeStrides;
};

// The broadcast shape of all given arrays, numpy's rule: dimensions aligned
// from the right, each either equal or 1.
std::vector<py::ssize_t> BroadcastShape(const std::vector<py::array>& arrays) {
    std::size_t ndim = 0;
    for (const auto& array : arrays) ndim = std::max(ndim, static_cast<std::size_t>(array.ndim()));
    std::vector<py::ssize_t> shape(ndim, 1);
    for (const auto& array : arrays) {
        const std::size_t offset = ndim - static_cast<std::size_t>(array.ndim());
        for (py::ssize_t d = 0; d < array.ndim(); ++d) {
            py::ssize_t& target = shape[offset + static_cast<std::size_t>(d)];
            const py::ssize_t extent = array.shape(d);
            if (extent == target || extent == 1) continue;
            if (target != 1) throw py::value_error("the arguments' shapes do not broadcast together");
            target = extent;
        }
    }
    return shape;
}

std::vector<py::ssize_t> BroadcastStrides(const py::array& array, const std::vector<py::ssize_t>& shape) {
    std::vector<py::ssize_t> strides(shape.size(), 0);
    const std::size_t offset = shape.size() - static_cast<std::size_t>(array.ndim());
    for (py::ssize_t d = 0; d < array.ndim(); ++d) {
        if (array.shape(d) != 1) strides[offset + static_cast<std::size_t>(d)] = array.strides(d);
    }
    return strides;
}

// The first failing element of a call that stops there.
struct Failure {
    py::ssize_t index = 0;
    HRESULT hresult = S_OK;
    std::string description;
    std::optional<std::string> helpFile;
    DWORD helpContext = 0;
    std::optional<std::string> source;
    std::optional<std::string> argument;  // the parameter whose value no double holds
};

std::string Take(BSTR text) { return text == nullptr ? std::string() : std::string(text, SysStringLen(text)); }

// A method of IKestrix called through the object's function table with the
// arguments of one element, read from their VARIANTs (parameter i at
// args[count - 1 - i], the order Invoke takes them in): what Invoke does with
// typed arguments, without converting them again on every element.
using DirectCall = HRESULT (*)(kestrix::IKestrix*, const VARIANT*, std::size_t, double*);

template <typename P>
P Argument(const VARIANT& arg) {
    if constexpr (std::is_same_v<P, double>) {
        return arg.dblVal;
    } else {
        return static_cast<P>(arg.lVal);
    }
}

template <auto Fn>
HRESULT CallDirect(kestrix::IKestrix* object, const VARIANT* args, std::size_t count, double* result) {
    return [&]<typename... P>(HRESULT (kestrix::IKestrix::*fn)(P...)) {
        return [&]<std::size_t... I>(std::index_sequence<I...>) {
            return (object->*fn)(Argument<std::tuple_element_t<I, std::tuple<P...>>>(args[count - 1 - I])..., result);
        }(std::make_index_sequence<sizeof...(P) - 1>{});
    }(Fn);
}

DirectCall FindDirectCall(std::string_view name) {
    using kestrix::IKestrix;
    static constexpr std::pair<std::string_view, DirectCall> kCalls[] = {
        {"GenBS", &CallDirect<&IKestrix::GenBS>},
        {"FrenchBS", &CallDirect<&IKestrix::FrenchBS>},
        {"Binomial", &CallDirect<&IKestrix::Binomial>},
        {"Whaley", &CallDirect<&IKestrix::Whaley>},
        {"BSAmerican", &CallDirect<&IKestrix::BSAmerican>},
        {"JumpDiffusion", &CallDirect<&IKestrix::JumpDiffusion>},
        {"AmericanCall", &CallDirect<&IKestrix::AmericanCall>},
        {"Eurodollar", &CallDirect<&IKestrix::Eurodollar>},
    };
    for (const auto& [method, call] : kCalls) {
        if (method == name) return call;
    }
    return nullptr;
}

// Releases an object when its owner ends, however it ends.
struct ObjectHolder {
    kestrix::IKestrix* object = nullptr;
    ObjectHolder() = default;
    ObjectHolder(const ObjectHolder&) = delete;
    ObjectHolder& operator=(const ObjectHolder&) = delete;
    ~ObjectHolder() {
        if (object != nullptr) object->Release();
    }
};

// One vectorised call's work, shared by the threads that price it. The
// arrays it reads and writes are Python objects it holds a reference to, so
// that a call given up on Ctrl-C can leave its threads to finish the element
// they are on: nothing they touch is freed under them. The references are
// dropped only with the interpreter lock held (ReleaseAbandoned).
struct Job {
    const MethodDescription* method = nullptr;
    DirectCall call = nullptr;  // the method's entry in the function table
    std::size_t count = 0;  // the method's parameters
    std::vector<VARIANT> argumentTemplate;  // typed; the omitted ones 0, as the object reads them
    std::vector<Operand> given;
    std::vector<py::ssize_t> shape;
    py::ssize_t total = 0;
    double* out = nullptr;
    std::int32_t* codes = nullptr;  // per element when failures are NaN, else null
    std::vector<PyObject*> references;  // owned: arrays read or written

    // Elements are handed out in blocks, in order: every element below the
    // first failure found is priced, and none is priced twice.
    static constexpr py::ssize_t kBlock = 512;
    std::atomic<py::ssize_t> nextBlock{0};
    std::atomic<py::ssize_t> firstFailure{std::numeric_limits<py::ssize_t>::max()};
    std::atomic<bool> cancelled{false};

    std::mutex mutex;  // guards what follows
    std::condition_variable finished;
    int running = 0;  // threads still working
    int owners = 0;   // threads still holding the job, plus the caller while it waits
    std::optional<Failure> failure;  // the lowest-indexed one
    std::string startError;  // an object that could not be created

    Job() = default;
    Job(const Job&) = delete;
    Job& operator=(const Job&) = delete;
};

// Jobs whose caller gave up (Ctrl-C) and whose threads have finished since:
// their references are dropped by the next call, which holds the lock.
std::mutex abandonedMutex;
std::vector<Job*> abandonedJobs;

void DropJob(Job* job) {
    for (PyObject* reference : job->references) Py_XDECREF(reference);
    delete job;
}

void ReleaseAbandoned() {
    std::vector<Job*> jobs;
    {
        const std::lock_guard<std::mutex> lock(abandonedMutex);
        jobs.swap(abandonedJobs);
    }
    for (Job* job : jobs) DropJob(job);
}

// Drops a job the caller owns alone (with the interpreter lock held).
struct JobDropper {
    void operator()(Job* job) const { DropJob(job); }
};
using JobPtr = std::unique_ptr<Job, JobDropper>;

// Prices elements [begin, end) on `object`, stopping at the first failure
// (unless failures are NaN) or once an earlier element is known to fail.
// Returns false when it stopped at a failure of its own.
bool PriceBlock(Job& job, kestrix::IKestrix* object, std::vector<VARIANT>& args, py::ssize_t begin,
                py::ssize_t end) {
    const std::size_t ndim = job.shape.size();
    std::vector<py::ssize_t> position(ndim, 0);
    std::vector<py::ssize_t> offsets(job.given.size(), 0);
    std::vector<py::ssize_t> maskOffsets(job.given.size(), 0);
    // The block's first element's place in the broadcast shape.
    py::ssize_t rest = begin;
    for (std::size_t d = ndim; d-- > 0;) {
        position[d] = rest % job.shape[d];
        rest /= job.shape[d];
        for (std::size_t k = 0; k < job.given.size(); ++k) {
            offsets[k] += position[d] * job.given[k].strides[d];
            if (job.given[k].tooLarge != nullptr) maskOffsets[k] += position[d] * job.given[k].tooLargeStrides[d];
        }
    }
    for (py::ssize_t element = begin; element < end; ++element) {
        if (job.cancelled.load(std::memory_order_relaxed)) return true;
        if (job.codes == nullptr && element > job.firstFailure.load(std::memory_order_relaxed)) return true;
        const Operand* unheld = nullptr;
        char unheldMark = 0;
        for (std::size_t k = 0; k < job.given.size(); ++k) {
            const Operand& operand = job.given[k];
            // A view of a record array may be unaligned: copy, don't cast.
            const char* at = operand.data + offsets[k];
            if (operand.isDouble) {
                std::memcpy(&args[operand.slot].dblVal, at, sizeof(double));
            } else {
                std::memcpy(&args[operand.slot].lVal, at, sizeof(std::int32_t));
            }
            if (operand.tooLarge != nullptr && unheld == nullptr && operand.tooLarge[maskOffsets[k]] != 0) {
                unheld = &operand;
                unheldMark = operand.tooLarge[maskOffsets[k]];
            }
        }
        HRESULT hr = S_OK;
        double value = 0;
        if (unheld != nullptr) {
            // As the object answers an argument it cannot convert to a double.
            hr = DISP_E_OVERFLOW;
        } else {
            hr = job.call(object, args.data(), job.count, &value);
        }
        if (SUCCEEDED(hr)) {
            job.out[element] = value;
            if (job.codes != nullptr) job.codes[element] = S_OK;
        } else if (job.codes != nullptr) {
            job.out[element] = std::numeric_limits<double>::quiet_NaN();
            job.codes[element] = hr;
        } else {
            Failure failure;
            failure.index = element;
            failure.hresult = hr;
            if (unheld != nullptr) {
                const char* name = job.method->params[unheld->position].name;
                failure.argument = name;
                failure.description = std::string(name) + (unheldMark == 1 ? " is too large for a double"
                                                                           : " is too close to 0 for a double");
            } else {
                // The error information the method left for its caller.
                IErrorInfo* errorInfo = nullptr;
                if (GetErrorInfo(0, &errorInfo) == S_OK) {
                    BSTR text = nullptr;
                    errorInfo->GetDescription(&text);
                    failure.description = Take(text);
                    SysFreeString(text);
                    text = nullptr;
                    errorInfo->GetHelpFile(&text);
                    failure.helpFile = Take(text);
                    SysFreeString(text);
                    errorInfo->GetHelpContext(&failure.helpContext);
                    text = nullptr;
                    errorInfo->GetSource(&text);
                    if (text != nullptr) failure.source = Take(text);
                    SysFreeString(text);
                    errorInfo->Release();
                } else {
                    failure.description = std::string("the object refused the call to ") + job.method->name;
                }
            }
            py::ssize_t known = job.firstFailure.load();
            while (element < known && !job.firstFailure.compare_exchange_weak(known, element)) {
            }
            const std::lock_guard<std::mutex> lock(job.mutex);
            if (!job.failure || element < job.failure->index) job.failure = std::move(failure);
            return false;
        }
        if (FAILED(hr) && unheld == nullptr) {
            // Failures marked NaN leave their error information unread.
            IErrorInfo* errorInfo = nullptr;
            if (GetErrorInfo(0, &errorInfo) == S_OK) errorInfo->Release();
        }

        // Next element in C order.
        for (std::size_t d = ndim; d-- > 0;) {
            for (std::size_t k = 0; k < job.given.size(); ++k) {
                offsets[k] += job.given[k].strides[d];
                if (job.given[k].tooLarge != nullptr) maskOffsets[k] += job.given[k].tooLargeStrides[d];
            }
            if (++position[d] < job.shape[d]) break;
            for (std::size_t k = 0; k < job.given.size(); ++k) {
                offsets[k] -= job.given[k].strides[d] * job.shape[d];
                if (job.given[k].tooLarge != nullptr) maskOffsets[k] -= job.given[k].tooLargeStrides[d] * job.shape[d];
            }
            position[d] = 0;
        }
    }
    return true;
}

// A pricing thread: its own object, blocks of elements until none is left.
void PriceBlocks(Job& job) {
    std::vector<VARIANT> args = job.argumentTemplate;
    ObjectHolder holder;
    if (FAILED(kestrix::TOptionsImpl::CreateInstance(nullptr, kestrix::IID_IKestrix,
                                                     reinterpret_cast<void**>(&holder.object)))) {
        const std::lock_guard<std::mutex> lock(job.mutex);
        job.startError = "the Kestrix object could not be created";
        job.cancelled = true;
        return;
    }
    for (;;) {
        const py::ssize_t begin = job.nextBlock.fetch_add(Job::kBlock);
        if (begin >= job.total || job.cancelled.load(std::memory_order_relaxed)) return;
        if (job.codes == nullptr && begin > job.firstFailure.load()) return;
        if (!PriceBlock(job, holder.object, args, begin, std::min(job.total, begin + Job::kBlock))) return;
    }
}

// The number of cores this process may run on.
int UsableCores() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0) return std::max(1, CPU_COUNT(&set));
    return std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
}

// Prices every element of the broadcast arguments with the method `dispid`.
// `operands` holds one entry per parameter in the interface's order: None for
// an omitted optional parameter, else a float64 array (double parameters) or
// an int32 array (integer and enumeration parameters). `too_large` holds, for
// a double parameter whose values came from a wider type, a uint8 array of the
// operand's shape marking the values no double holds (1 too large, 2 too close
// to 0; else None): those elements fail as the object fails such an argument,
// with DISP_E_OVERFLOW.
// `threads` (0: one per usable core) threads share the elements, each with
// its own object; the results do not depend on their number.
// Returns the values, the HRESULT of each element (only when `nanOnFailure`;
// else None) and the first failure (None when every element succeeded or
// `nanOnFailure`).
py::tuple Call(DISPID dispid, const py::list& operands, bool nanOnFailure, const py::object& tooLarge, int threads) {
    ReleaseAbandoned();
    const MethodDescription* method = kestrix::FindMethod(dispid);
    if (method == nullptr) throw py::value_error("no method has dispatch identifier " + std::to_string(dispid));
    const std::size_t count = method->params.size();
    if (operands.size() != count) {
        throw py::value_error(std::string(method->name) + " takes " + std::to_string(count) + " arguments");
    }
    py::list masks;
    if (!tooLarge.is_none()) {
        masks = py::list(tooLarge);
        if (masks.size() != count) throw py::value_error("too_large must have one entry per parameter");
    }
    if (threads < 0) throw py::value_error("threads must be at least 1 (or 0 for one per core)");

    JobPtr job(new Job);
    job->method = method;
    job->call = FindDirectCall(method->name);
    if (job->call == nullptr) throw py::value_error(std::string("no function-table entry for ") + method->name);
    job->count = count;
    const auto hold = [&](py::handle object) {
        job->references.push_back(object.inc_ref().ptr());
    };

    // Positional arguments travel last to first; an omitted optional one is
    // marked missing, which the object reads as 0.
    job->argumentTemplate.resize(count);
    std::vector<py::array> arrays;
    std::vector<py::array> maskArrays;
    for (std::size_t i = 0; i < count; ++i) {
        const ParamDescription& param = method->params[i];
        VARIANT& slot = job->argumentTemplate[count - 1 - i];
        VariantInit(&slot);
        const py::handle operand = operands[i];
        const bool isDouble = param.kind == ParamKind::Double;
        if (operand.is_none()) {
            if (!param.optional) throw py::type_error(std::string(param.name) + " is required");
            // Omitted: the object reads 0.
            slot.vt = isDouble ? VT_R8 : VT_I4;
            if (isDouble) {
                slot.dblVal = 0;
            } else {
                slot.lVal = 0;
            }
            continue;
        }
        const bool rightType = isDouble ? py::isinstance<py::array_t<double>>(operand)
                                        : py::isinstance<py::array_t<std::int32_t>>(operand);
        if (!rightType) {
            throw py::type_error(std::string(param.name) + " must be given as a " +
                                 (isDouble ? "float64" : "int32") + " array");
        }
        slot.vt = isDouble ? VT_R8 : VT_I4;
        arrays.push_back(py::reinterpret_borrow<py::array>(operand));
        hold(operand);
        Operand given;
        given.data = static_cast<const char*>(arrays.back().data());
        given.isDouble = isDouble;
        given.slot = count - 1 - i;
        given.position = i;
        const py::object mask = masks.empty() ? py::object(py::none()) : py::object(masks[i]);
        if (!mask.is_none()) {
            if (!isDouble || !py::isinstance<py::array_t<std::uint8_t>>(mask)) {
                throw py::type_error(std::string(param.name) + ": too_large must be a uint8 array");
            }
            auto maskArray = py::reinterpret_borrow<py::array>(mask);
            if (maskArray.ndim() != arrays.back().ndim() ||
                !std::equal(maskArray.shape(), maskArray.shape() + maskArray.ndim(), arrays.back().shape())) {
                throw py::value_error(std::string(param.name) + ": too_large must have the argument's shape");
            }
            hold(mask);
            given.tooLarge = static_cast<const char*>(maskArray.data());
            maskArrays.push_back(maskArray);
        }
        job->given.push_back(std::move(given));
    }

    job->shape = BroadcastShape(arrays);
    job->total = 1;
    for (const py::ssize_t extent : job->shape) job->total *= extent;
    std::size_t maskIndex = 0;
    for (std::size_t k = 0; k < job->given.size(); ++k) {
        job->given[k].strides = BroadcastStrides(arrays[k], job->shape);
        if (job->given[k].tooLarge != nullptr) {
            job->given[k].tooLargeStrides = BroadcastStrides(maskArrays[maskIndex++], job->shape);
        }
    }

    py::array_t<double> values(job->shape);
    job->out = values.mutable_data();
    hold(values);
    py::object hresults = py::none();
    if (nanOnFailure) {
        py::array_t<std::int32_t> codeArray(job->shape);
        job->codes = codeArray.mutable_data();
        hresults = codeArray;
        hold(codeArray);
    }

    // Threads only where each gets a few blocks' worth of elements.
    if (threads == 0) threads = UsableCores();
    const py::ssize_t blocks = (job->total + Job::kBlock - 1) / Job::kBlock;
    threads = static_cast<int>(std::min<py::ssize_t>(threads, std::max<py::ssize_t>(1, blocks / 2)));

    if (job->total <= 1) {
        // One element (an all-scalar call, the common one) on the caller's
        // thread: no thread is worth starting for it.
        {
            const py::gil_scoped_release unlocked;
            job->owners = 1;
            PriceBlocks(*job);
        }
        if (!job->startError.empty()) throw std::runtime_error(job->startError);
    } else {
        // The caller only waits: it takes the interpreter lock now and then to
        // let Python run its signal handlers, so Ctrl-C ends the call at once
        // however long an element takes. The threads of a call given up
        // finish the element they are on and stop.
        Job* shared = job.get();
        shared->running = threads;
        shared->owners = threads + 1;
        int started = 0;
        try {
            for (; started < threads; ++started) {
                std::thread([shared] {
                    PriceBlocks(*shared);
                    bool last = false;
                    {
                        // Nothing of the job is touched after this: the
                        // caller may drop it as soon as the lock is free.
                        const std::lock_guard<std::mutex> lock(shared->mutex);
                        --shared->running;
                        last = --shared->owners == 0;
                        shared->finished.notify_all();
                    }
                    if (last) {
                        // The caller gave up: the next call drops the job.
                        const std::lock_guard<std::mutex> lock(abandonedMutex);
                        abandonedJobs.push_back(shared);
                    }
                }).detach();
            }
        } catch (const std::system_error&) {
            // The threads that did start share the elements between them.
            const std::lock_guard<std::mutex> lock(shared->mutex);
            shared->running -= threads - started;
            shared->owners -= threads - started;
        }
        if (started == 0) {
            const py::gil_scoped_release unlocked;
            PriceBlocks(*shared);
        } else {
            using namespace std::chrono_literals;
            bool interrupted = false;
            {
                const py::gil_scoped_release unlocked;
                std::unique_lock<std::mutex> lock(shared->mutex);
                while (!shared->finished.wait_for(lock, 50ms, [&] { return shared->running == 0; })) {
                    lock.unlock();
                    {
                        const py::gil_scoped_acquire locked;
                        interrupted = PyErr_CheckSignals() != 0;
                    }
                    lock.lock();
                    if (interrupted) break;
                }
            }
            if (interrupted) {
                bool last = false;
                {
                    const std::lock_guard<std::mutex> lock(shared->mutex);
                    shared->cancelled = true;
                    last = --shared->owners == 0;
                }
                if (!last) job.release();  // the last thread to finish leaves it to be dropped
                throw py::error_already_set();
            }
        }
        if (!job->startError.empty()) throw std::runtime_error(job->startError);
    }

    py::object failed = py::none();
    if (job->failure) {
        const Failure& failure = *job->failure;
        failed = py::make_tuple(failure.index, failure.hresult, failure.description,
                                failure.helpFile ? py::object(py::str(*failure.helpFile)) : py::object(py::none()),
                                failure.helpContext,
                                failure.source ? py::object(py::str(*failure.source)) : py::object(py::none()),
                                failure.argument ? py::object(py::str(*failure.argument)) : py::object(py::none()));
    }
    return py::make_tuple(values, hresults, failed);
}

// A book's cell as text with the blanks around it removed, as the host
// trims a cell before passing it.
std::string_view TrimBlanks(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return text;
}

// Converts one cell to the parameter's declared type the way Invoke converts
// an argument: text by the runtime's rules (for an enumeration a member's name
// first), a number as an 8-byte float. Returns S_OK, DISP_E_PARAMNOTFOUND for
// a blank cell (the argument is left out), DISP_E_TYPEMISMATCH or
// DISP_E_OVERFLOW.
HRESULT ConvertCell(const ParamDescription* param, std::string_view* text, double number, double& value,
                    std::int32_t& integer) {
    VARIANT source;
    VariantInit(&source);
    if (text != nullptr) {
        if (text->empty()) return DISP_E_PARAMNOTFOUND;
        if (param == nullptr) return S_OK;
        if (param->kind == ParamKind::Enum) {
            if (const kestrix::EnumMember* member = kestrix::FindMember(*param->enumeration, *text)) {
                integer = member->value;
                return S_OK;
            }
        }
        source.vt = VT_BSTR;
        source.bstrVal = SysAllocStringLen(text->data(), static_cast<UINT>(text->size()));
        if (source.bstrVal == nullptr) throw std::bad_alloc();
    } else {
        if (std::isnan(number)) return DISP_E_PARAMNOTFOUND;
        if (param == nullptr) return S_OK;
        if (param->kind == ParamKind::Double) {
            value = number;
            return S_OK;
        }
        source.vt = VT_R8;
        source.dblVal = number;
    }
    VARIANT converted;
    VariantInit(&converted);
    HRESULT hr = VariantChangeType(&converted, &source, 0, param->kind == ParamKind::Double ? VT_R8 : VT_I4);
    VariantClear(&source);
    if (FAILED(hr)) return hr == DISP_E_OVERFLOW ? hr : DISP_E_TYPEMISMATCH;
    if (param->kind == ParamKind::Double) {
        value = converted.dblVal;
    } else {
        integer = converted.lVal;
    }
    return S_OK;
}

// Converts a column of a book (a 1-D float64 array, or an object array of
// text, numbers, None and NaN) to the argument array of the method's parameter
// at `position` (float64 or int32; 0 where the cell is blank) and the HRESULT
// of each cell's conversion. With position -1, a column the method has no
// parameter for, only blank or not is told (S_OK for a cell that is not).
py::tuple ConvertCells(DISPID dispid, int position, const py::array& cells) {
    const MethodDescription* method = kestrix::FindMethod(dispid);
    if (method == nullptr) throw py::value_error("no method has dispatch identifier " + std::to_string(dispid));
    if (position < -1 || position >= static_cast<int>(method->params.size())) {
        throw py::value_error(std::string(method->name) + " has no parameter " + std::to_string(position));
    }
    if (cells.ndim() != 1) throw py::value_error("the cells must be a one-dimensional array");
    const ParamDescription* param = position >= 0 ? &method->params[static_cast<std::size_t>(position)] : nullptr;
    const py::ssize_t count = cells.shape(0);
    const bool isDouble = param == nullptr || param->kind == ParamKind::Double;
    py::array values = isDouble ? py::array(py::array_t<double>(count)) : py::array(py::array_t<std::int32_t>(count));
    py::array_t<std::int32_t> codes(count);
    std::int32_t* code = codes.mutable_data();
    const auto store = [&](py::ssize_t i, double value, std::int32_t integer) {
        if (isDouble) {
            static_cast<double*>(values.mutable_data())[i] = value;
        } else {
            static_cast<std::int32_t*>(values.mutable_data())[i] = integer;
        }
    };

    if (py::isinstance<py::array_t<double>>(cells)) {
        const auto numbers = cells.cast<py::array_t<double>>().unchecked<1>();
        for (py::ssize_t i = 0; i < count; ++i) {
            double value = 0;
            std::int32_t integer = 0;
            code[i] = ConvertCell(param, nullptr, numbers(i), value, integer);
            store(i, code[i] == S_OK ? value : 0, code[i] == S_OK ? integer : 0);
        }
        return py::make_tuple(values, codes);
    }
    if (cells.dtype().kind() != 'O') throw py::type_error("the cells must be a float64 or an object array");
    const auto objects = cells.unchecked<PyObject*, 1>();
    for (py::ssize_t i = 0; i < count; ++i) {
        PyObject* cell = objects(i);
        double value = 0;
        std::int32_t integer = 0;
        if (PyUnicode_Check(cell)) {
            Py_ssize_t size = 0;
            const char* utf8 = PyUnicode_AsUTF8AndSize(cell, &size);
            if (utf8 == nullptr) throw py::error_already_set();
            std::string_view text = TrimBlanks(std::string_view(utf8, static_cast<std::size_t>(size)));
            code[i] = ConvertCell(param, &text, 0, value, integer);
        } else if (cell == Py_None) {
            code[i] = DISP_E_PARAMNOTFOUND;
        } else if (PyFloat_Check(cell) || PyLong_Check(cell) || PyNumber_Check(cell)) {
            const double number = PyFloat_Check(cell) ? PyFloat_AS_DOUBLE(cell) : PyFloat_AsDouble(cell);
            if (number == -1.0 && PyErr_Occurred()) {
                // An integer too large for a double overflows; a number that
                // has no real value (complex) is not one the parameter takes.
                const bool overflow = PyErr_ExceptionMatches(PyExc_OverflowError) != 0;
                PyErr_Clear();
                code[i] = param == nullptr ? S_OK : overflow ? DISP_E_OVERFLOW : DISP_E_TYPEMISMATCH;
            } else {
                code[i] = ConvertCell(param, nullptr, number, value, integer);
            }
        } else {
            code[i] = param == nullptr ? S_OK : DISP_E_TYPEMISMATCH;
        }
        store(i, code[i] == S_OK ? value : 0, code[i] == S_OK ? integer : 0);
    }
    return py::make_tuple(values, codes);
}

// The values of a priced book as `kestrix price` writes them: the shortest
// text that reads back as the same double (std::to_chars), empty for NaN, the
// mark of a row without a value.
py::array FormatValues(const py::array_t<double>& values) {
    if (values.ndim() != 1) throw py::value_error("the values must be a one-dimensional array");
    const auto in = values.unchecked<1>();
    py::array out(py::dtype("object"), std::vector<py::ssize_t>{in.shape(0)});
    auto* texts = static_cast<PyObject**>(out.mutable_data());
    for (py::ssize_t i = 0; i < in.shape(0); ++i) {
        char text[32];
        std::size_t length = 0;
        if (!std::isnan(in(i))) {
            const auto [end, error] = std::to_chars(text, text + sizeof text, in(i));
            if (error == std::errc{}) length = static_cast<std::size_t>(end - text);
        }
        PyObject* previous = texts[i];
        texts[i] = py::str(text, length).release().ptr();
        Py_XDECREF(previous);
    }
    return out;
}

// Appends a CSV field as the command writes one: quoted only when it holds a
// comma, a quote or a line break, a quote inside doubled.
void AppendField(std::string& out, std::string_view field) {
    bool plain = true;
    for (const char c : field) plain = plain && c != ',' && c != '"' && c != '\r' && c != '\n';
    if (plain) {
        out.append(field);
        return;
    }
    out += '"';
    for (const char c : field) {
        if (c == '"') out += '"';
        out += c;
    }
    out += '"';
}

// The rows of a book as CSV lines (UTF-8), one field per column: `columns`
// holds equally long one-dimensional object arrays of text.
py::bytes CsvLines(const py::list& columns) {
    std::vector<py::array> arrays;
    for (const py::handle column : columns) {
        auto array = py::reinterpret_borrow<py::array>(column);
        if (!py::isinstance<py::array>(column) || array.dtype().kind() != 'O' || array.ndim() != 1) {
            throw py::type_error("each column must be a one-dimensional object array");
        }
        if (!arrays.empty() && array.shape(0) != arrays.front().shape(0)) {
            throw py::value_error("the columns differ in length");
        }
        arrays.push_back(array);
    }
    std::string out;
    if (arrays.empty()) return py::bytes(out);
    const py::ssize_t rows = arrays.front().shape(0);
    std::vector<const char*> data;
    std::vector<py::ssize_t> strides;
    for (const auto& array : arrays) {
        data.push_back(static_cast<const char*>(array.data()));
        strides.push_back(array.strides(0));
    }
    out.reserve(static_cast<std::size_t>(rows) * arrays.size() * 8);
    for (py::ssize_t row = 0; row < rows; ++row) {
        for (std::size_t k = 0; k < arrays.size(); ++k) {
            if (k != 0) out += ',';
            PyObject* cell = nullptr;
            std::memcpy(&cell, data[k] + row * strides[k], sizeof cell);
            if (!PyUnicode_Check(cell)) throw py::type_error("a cell is not text");
            Py_ssize_t size = 0;
            const char* utf8 = PyUnicode_AsUTF8AndSize(cell, &size);
            if (utf8 == nullptr) throw py::error_already_set();
            AppendField(out, std::string_view(utf8, static_cast<std::size_t>(size)));
        }
        out += '\n';
    }
    return py::bytes(out);
}

// A CSV book priced by the kestrix command's own book pricer, bytes in and
// bytes out: (the priced book, the messages about its rows, readable, priced,
// failed, malformed). readable is false when the header could not be used;
// the messages then say why.
py::tuple PriceCsv(const py::bytes& data, const std::string& name, int threads) {
    if (threads < 1) throw py::value_error("threads must be at least 1");
    char* bytes = nullptr;
    Py_ssize_t size = 0;
    if (PyBytes_AsStringAndSize(data.ptr(), &bytes, &size) != 0) throw py::error_already_set();
    kestrix::cli::PricedBook priced;
    {
        const py::gil_scoped_release unlocked;
        priced = kestrix::cli::PriceBookBytes(std::string_view(bytes, static_cast<std::size_t>(size)), name,
                                              static_cast<unsigned>(threads));
    }
    const kestrix::cli::BookSummary& summary = priced.summary;
    return py::make_tuple(py::bytes(priced.book), py::bytes(priced.messages), summary.readable, summary.priced,
                          summary.failed, summary.malformed);
}

}  // namespace

PYBIND11_MODULE(_kestrix, module) {
    module.doc() = "The compiled core of the kestrix package; use the kestrix package itself.";
    module.attr("__version__") = KESTRIX_VERSION_STRING;
    module.def("type_library", &TypeLibraryDict,
               "The type library as data: methods with their parameters, and the enumerations.");
    module.def("call", &Call, py::arg("dispid"), py::arg("operands"), py::arg("nan_on_failure"),
               py::arg("too_large") = py::none(), py::arg("threads") = 1,
               "Prices the broadcast arguments element by element on `threads` threads (0: one per core); "
               "returns (values, hresults, failure).");
    module.def("convert_cells", &ConvertCells, py::arg("dispid"), py::arg("position"), py::arg("cells"),
               "Converts a book's column to a parameter's argument array; returns (values, hresults).");
    module.def("format_values", &FormatValues, py::arg("values"),
               "The values as text, shortest round-trip form (empty for NaN), as an object array.");
    module.def("csv_lines", &CsvLines, py::arg("columns"),
               "The rows of equally long object arrays of text as CSV lines (UTF-8 bytes).");
    module.def("price_csv", &PriceCsv, py::arg("data"), py::arg("name"), py::arg("threads") = 1,
               "Prices CSV book bytes as `kestrix price` does; returns (book, messages, readable, priced, failed, "
               "malformed).");
}
