// kestrix._kestrix: the compiled half of the Python package. It hands the
// type library to Python (which derives the functions and enumerations from
// it) and prices whole arrays of requests through IDispatch::Invoke on one
// object per call, with the interpreter lock released during the loop.

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <charconv>
#include <chrono>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

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
// strides of the dimensions it lacks or has as 1 are 0.
struct Operand {
    const char* data = nullptr;
    bool isDouble = true;
    std::vector<py::ssize_t> strides;
    VARIANT* slot = nullptr;  // where Invoke reads it
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
};

std::string Take(BSTR text) { return text == nullptr ? std::string() : std::string(text, SysStringLen(text)); }

// Releases the object when the call ends, however it ends.
struct ObjectHolder {
    IDispatch* object = nullptr;
    ~ObjectHolder() {
        if (object != nullptr) object->Release();
    }
};

// Prices every element of the broadcast arguments with the method `dispid`.
// `operands` holds one entry per parameter in the interface's order: None for
// an omitted optional parameter, else a float64 array (double parameters) or
// an int32 array (integer and enumeration parameters). Returns the values,
// the HRESULT of each element (only when `nanOnFailure`; else None) and the
// first failure (None when every element succeeded or `nanOnFailure`).
py::tuple Call(DISPID dispid, const py::list& operands, bool nanOnFailure) {
    const MethodDescription* method = kestrix::FindMethod(dispid);
    if (method == nullptr) throw py::value_error("no method has dispatch identifier " + std::to_string(dispid));
    const std::size_t count = method->params.size();
    if (operands.size() != count) {
        throw py::value_error(std::string(method->name) + " takes " + std::to_string(count) + " arguments");
    }

    // Positional arguments travel last to first; an omitted optional one is
    // marked missing, which the object reads as 0.
    std::vector<VARIANT> args(count);
    std::vector<py::array> arrays;
    std::vector<Operand> given;
    for (std::size_t i = 0; i < count; ++i) {
        const ParamDescription& param = method->params[i];
        VARIANT& slot = args[count - 1 - i];
        VariantInit(&slot);
        const py::handle operand = operands[i];
        if (operand.is_none()) {
            if (!param.optional) throw py::type_error(std::string(param.name) + " is required");
            slot.vt = VT_ERROR;
            slot.scode = DISP_E_PARAMNOTFOUND;
            continue;
        }
        const bool isDouble = param.kind == ParamKind::Double;
        const bool rightType = isDouble ? py::isinstance<py::array_t<double>>(operand)
                                        : py::isinstance<py::array_t<std::int32_t>>(operand);
        if (!rightType) {
            throw py::type_error(std::string(param.name) + " must be given as a " +
                                 (isDouble ? "float64" : "int32") + " array");
        }
        slot.vt = isDouble ? VT_R8 : VT_I4;
        arrays.push_back(py::reinterpret_borrow<py::array>(operand));
        given.push_back({static_cast<const char*>(arrays.back().data()), isDouble, {}, &slot});
    }

    const std::vector<py::ssize_t> shape = BroadcastShape(arrays);
    py::ssize_t total = 1;
    for (const py::ssize_t extent : shape) total *= extent;
    for (std::size_t k = 0; k < given.size(); ++k) given[k].strides = BroadcastStrides(arrays[k], shape);

    py::array_t<double> values(shape);
    double* out = values.mutable_data();
    py::object hresults = py::none();
    std::int32_t* codes = nullptr;
    if (nanOnFailure) {
        py::array_t<std::int32_t> codeArray(shape);
        codes = codeArray.mutable_data();
        hresults = codeArray;
    }

    ObjectHolder holder;
    if (FAILED(kestrix::TOptionsImpl::CreateInstance(nullptr, IID_IDispatch,
                                                     reinterpret_cast<void**>(&holder.object)))) {
        throw std::runtime_error("the Kestrix object could not be created");
    }

    std::optional<Failure> failure;
    {
        const py::gil_scoped_release unlocked;
        DISPPARAMS params{args.data(), nullptr, static_cast<UINT>(count), 0};
        const std::size_t ndim = shape.size();
        std::vector<py::ssize_t> position(ndim, 0);
        std::vector<py::ssize_t> offsets(given.size(), 0);
        // A long call still answers Ctrl-C: now and then it takes the lock
        // back to let Python run its signal handlers.
        using Clock = std::chrono::steady_clock;
        constexpr auto kSignalInterval = std::chrono::milliseconds(100);
        auto nextSignalCheck = Clock::now() + kSignalInterval;
        for (py::ssize_t element = 0; element < total; ++element) {
            if (element % 64 == 63 && Clock::now() >= nextSignalCheck) {
                const py::gil_scoped_acquire locked;
                if (PyErr_CheckSignals() != 0) throw py::error_already_set();
                nextSignalCheck = Clock::now() + kSignalInterval;
            }
            for (std::size_t k = 0; k < given.size(); ++k) {
                // A view of a record array may be unaligned: copy, don't cast.
                const char* at = given[k].data + offsets[k];
                if (given[k].isDouble) {
                    std::memcpy(&given[k].slot->dblVal, at, sizeof(double));
                } else {
                    std::memcpy(&given[k].slot->lVal, at, sizeof(std::int32_t));
                }
            }
            VARIANT result;
            VariantInit(&result);
            EXCEPINFO excepInfo{};
            UINT argErr = 0;
            HRESULT hr = holder.object->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params,
                                               &result, &excepInfo, &argErr);
            const bool fromMethod = hr == DISP_E_EXCEPTION;
            if (fromMethod) hr = excepInfo.scode;
            if (SUCCEEDED(hr)) {
                out[element] = result.vt == VT_R8 ? result.dblVal : 0.0;
                if (codes != nullptr) codes[element] = S_OK;
            } else if (codes != nullptr) {
                out[element] = std::numeric_limits<double>::quiet_NaN();
                codes[element] = hr;
            } else {
                failure.emplace();
                failure->index = element;
                failure->hresult = hr;
                if (fromMethod) {
                    failure->description = Take(excepInfo.bstrDescription);
                    failure->helpFile = Take(excepInfo.bstrHelpFile);
                    failure->helpContext = excepInfo.dwHelpContext;
                    if (excepInfo.bstrSource != nullptr) failure->source = Take(excepInfo.bstrSource);
                } else {
                    // Arguments are converted before the call, so this means
                    // the object itself turned the call away.
                    failure->description = std::string("the object refused the call to ") + method->name;
                }
            }
            ClearExcepInfo(&excepInfo);
            VariantClear(&result);
            if (failure) break;

            // Next element in C order.
            for (std::size_t d = ndim; d-- > 0;) {
                for (std::size_t k = 0; k < given.size(); ++k) offsets[k] += given[k].strides[d];
                if (++position[d] < shape[d]) break;
                for (std::size_t k = 0; k < given.size(); ++k) offsets[k] -= given[k].strides[d] * shape[d];
                position[d] = 0;
            }
        }
    }

    py::object failed = py::none();
    if (failure) {
        failed = py::make_tuple(failure->index, failure->hresult, failure->description,
                                failure->helpFile ? py::object(py::str(*failure->helpFile)) : py::object(py::none()),
                                failure->helpContext,
                                failure->source ? py::object(py::str(*failure->source)) : py::object(py::none()));
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

}  // namespace

PYBIND11_MODULE(_kestrix, module) {
    module.doc() = "The compiled core of the kestrix package; use the kestrix package itself.";
    module.attr("__version__") = KESTRIX_VERSION_STRING;
    module.def("type_library", &TypeLibraryDict,
               "The type library as data: methods with their parameters, and the enumerations.");
    module.def("call", &Call, py::arg("dispid"), py::arg("operands"), py::arg("nan_on_failure"),
               "Prices the broadcast arguments element by element; returns (values, hresults, failure).");
    module.def("convert_cells", &ConvertCells, py::arg("dispid"), py::arg("position"), py::arg("cells"),
               "Converts a book's column to a parameter's argument array; returns (values, hresults).");
    module.def("format_values", &FormatValues, py::arg("values"),
               "The values as text, shortest round-trip form (empty for NaN), as an object array.");
    module.def("csv_lines", &CsvLines, py::arg("columns"),
               "The rows of equally long object arrays of text as CSV lines (UTF-8 bytes).");
}
