#include "Sweep.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string_view>
#include <thread>

#include "Csv.h"
#include "automation/TypeLibrary.h"

namespace kestrix::cli {

namespace {

constexpr std::size_t kMaxPoints = 100'000'000;

template <typename T>
bool ReadNumber(std::string_view text, T& value) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc{} && end == text.data() + text.size();
}

// The canonical name of an option function given by name or number.
const EnumMember* OptionFunction(std::string_view text) {
    const EnumDescription& functions = typelib::kOptionFunctions;
    if (const EnumMember* member = FindMember(functions, text)) return member;
    std::int32_t value = 0;
    if (!ReadNumber(text, value)) return nullptr;
    for (const auto& member : functions.members) {
        if (member.value == value) return &member;
    }
    return nullptr;
}

bool ReadAxis(const MethodDescription& method, std::string_view text, SweepAxis& axis, std::string& problem) {
    const auto equals = text.find('=');
    const auto firstColon = text.find(':', equals == std::string_view::npos ? 0 : equals);
    const auto secondColon = firstColon == std::string_view::npos ? firstColon : text.find(':', firstColon + 1);
    if (equals == std::string_view::npos || equals == 0 || secondColon == std::string_view::npos) {
        problem = "--vary takes Name=start:stop:count, got '" + std::string(text) + "'";
        return false;
    }
    const std::string_view name = text.substr(0, equals);
    const int position = FindParam(method, name);
    if (position < 0) {
        problem = NotAParameter(method, name);
        return false;
    }
    const ParamDescription& param = method.params[static_cast<std::size_t>(position)];
    if (param.kind == ParamKind::Enum) {
        problem = std::string("--vary needs a numeric parameter; ") + param.name + " is an enumeration";
        return false;
    }
    axis.name = param.name;
    axis.integral = param.kind == ParamKind::Int;
    const std::string_view start = text.substr(equals + 1, firstColon - equals - 1);
    const std::string_view stop = text.substr(firstColon + 1, secondColon - firstColon - 1);
    const std::string_view count = text.substr(secondColon + 1);
    if (!ReadNumber(start, axis.start) || !ReadNumber(stop, axis.stop) || !std::isfinite(axis.start) ||
        !std::isfinite(axis.stop)) {
        problem = axis.name + ": start and stop must be numbers, got '" + std::string(start) + "' and '" +
                  std::string(stop) + "'";
        return false;
    }
    if (!ReadNumber(count, axis.count) || axis.count < 1 || axis.count > kMaxPoints) {
        problem = axis.name + ": the count must be a whole number from 1 to " + std::to_string(kMaxPoints) +
                  ", got '" + std::string(count) + "'";
        return false;
    }
    if (axis.count == 1 && axis.start != axis.stop) {
        problem = axis.name + ": a grid of one point needs start equal to stop";
        return false;
    }
    if (axis.integral) {
        // Whole steps between whole numbers an int32 holds, so no point is rounded.
        constexpr double kLow = std::numeric_limits<std::int32_t>::min();
        constexpr double kHigh = std::numeric_limits<std::int32_t>::max();
        const double span = axis.stop - axis.start;
        const bool whole = std::trunc(axis.start) == axis.start && std::trunc(axis.stop) == axis.stop &&
                           (axis.count == 1 || std::fmod(span, static_cast<double>(axis.count - 1)) == 0);
        if (!whole || std::fmin(axis.start, axis.stop) < kLow || std::fmax(axis.start, axis.stop) > kHigh) {
            problem = axis.name + " is an integer: start, stop and the steps between them must be whole numbers";
            return false;
        }
    }
    return true;
}

// "AssetPrice=80, Volatility=0.2" for the point of `index`.
std::string PointText(const std::vector<SweepAxis>& axes, const std::vector<std::size_t>& index) {
    std::string text;
    for (std::size_t a = 0; a < axes.size(); ++a) {
        if (a > 0) text += ", ";
        text += axes[a].name + "=" + FormatNumber(axes[a].At(index[a]));
    }
    return text;
}

}  // namespace

double SweepAxis::At(std::size_t i) const {
    if (count == 1 || i == 0) return start;
    if (i + 1 == count) return stop;
    // Weighted from both ends, so a point meant to be 0 is 0 (the two
    // products are then exact opposites) and the ends are exact.
    const double steps = static_cast<double>(count - 1);
    const double point = (start * (steps - static_cast<double>(i)) + stop * static_cast<double>(i)) / steps;
    if (integral) return std::round(point);
    // Points between the ends as the decimals a person would write:
    // 0.2:0.4:3 gives 0.3 rather than 0.30000000000000004.
    char text[32];
    std::snprintf(text, sizeof text, "%.15g", point);
    double tidy = 0;
    std::from_chars(text, text + std::strlen(text), tidy);
    return tidy;
}

std::size_t SweepRequest::Points() const {
    std::size_t points = 1;
    for (const auto& axis : axes) points *= axis.count;
    return points;
}

bool ReadThreads(const std::string& text, unsigned& threads) {
    constexpr unsigned kMaxThreads = 256;
    unsigned value = 0;
    if (!ReadNumber(std::string_view(text), value) || value < 1 || value > kMaxThreads) return false;
    threads = value;
    return true;
}

bool ReadFunctions(std::string_view list, std::vector<std::string>& names, std::string& problem) {
    names.clear();
    if (list == "all" || list == "ALL" || list == "All") {
        for (const auto& member : typelib::kOptionFunctions.members) {
            if (member.value != ImpliedVol && member.value != ImpliedStrike) names.push_back(member.name);
        }
        return true;
    }
    for (;;) {
        const auto comma = list.find(',');
        const std::string_view name = list.substr(0, comma);
        const EnumMember* member = OptionFunction(name);
        if (member == nullptr) {
            problem = "OptionFunction: '" + std::string(name) + "' " + NotAMember(typelib::kOptionFunctions, name) +
                      "; `all` is every function that needs no market price";
            return false;
        }
        names.push_back(member->name);
        if (comma == std::string_view::npos) return true;
        list.remove_prefix(comma + 1);
    }
}

bool ParseSweep(const std::vector<std::string>& args, SweepRequest& request, std::string& problem) {
    std::vector<std::string> varied;
    std::string functions;
    bool functionsGiven = false;
    request.threads = std::max(1u, std::thread::hardware_concurrency());
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--vary" || arg == "--functions" || arg == "-o" || arg == "--threads") {
            if (i + 1 == args.size()) {
                problem = arg + " needs a value";
                return false;
            }
            const std::string& value = args[++i];
            if (arg == "--vary") {
                varied.push_back(value);
            } else if (arg == "--functions") {
                functions = value;
                functionsGiven = true;
            } else if (arg == "-o") {
                request.output = value;
            } else if (!ReadThreads(value, request.threads)) {
                problem = "--threads takes a number from 1 to 256, got '" + value + "'";
                return false;
            }
        } else if (arg.starts_with("-")) {
            problem = "unknown option '" + arg + "'";
            return false;
        } else if (request.method.empty()) {
            request.method = arg;
        } else {
            const auto equals = arg.find('=');
            if (equals == std::string::npos || equals == 0) {
                problem = "expected Name=Value, --vary or --functions, got '" + arg + "'";
                return false;
            }
            request.fixed.push_back({arg.substr(0, equals), arg.substr(equals + 1)});
        }
    }
    if (request.method.empty()) {
        problem = "sweep needs a method";
        return false;
    }
    const MethodDescription* method = FindMethod(request.method);
    if (method == nullptr) {
        problem = UnknownMethod(request.method);
        return false;
    }
    if (varied.empty()) {
        problem = "sweep needs at least one --vary Name=start:stop:count";
        return false;
    }

    std::size_t points = 1;
    for (const auto& text : varied) {
        SweepAxis axis;
        if (!ReadAxis(*method, text, axis, problem)) return false;
        for (const auto& other : request.axes) {
            if (other.name == axis.name) {
                problem = axis.name + " is varied twice";
                return false;
            }
        }
        // The varied values replace a fixed one given on the same line.
        std::erase_if(request.fixed, [&](const NamedValue& value) {
            return FindParam(*method, value.name) == FindParam(*method, axis.name);
        });
        if (points > kMaxPoints / axis.count) {
            problem = "the grid has more than " + std::to_string(kMaxPoints) + " points";
            return false;
        }
        points *= axis.count;
        request.axes.push_back(std::move(axis));
    }

    // The functions: --functions (which replaces OptionFunction), else the
    // OptionFunction given, else the value.
    const int functionParam = FindParam(*method, "OptionFunction");
    std::string fixedFunction;
    for (auto value = request.fixed.begin(); value != request.fixed.end(); ++value) {
        if (functionParam >= 0 && FindParam(*method, value->name) == functionParam) {
            fixedFunction = value->value;
            request.fixed.erase(value);
            break;
        }
    }
    if (!functionsGiven) functions = fixedFunction.empty() ? "Theoretical" : fixedFunction;
    return ReadFunctions(functions, request.functions, problem);
}

namespace {

// The rows and messages of one run of consecutive points.
struct SweepChunk {
    std::size_t first = 0;
    std::size_t count = 0;
    std::string rows;
    std::string messages;
    std::size_t failures = 0;
    std::string refusal;  // the call itself could not be made
};

void PriceChunk(IDispatch* object, const SweepRequest& request, SweepChunk& chunk) {
    std::vector<NamedValue> args = request.fixed;
    const std::size_t firstAxis = args.size();
    for (const auto& axis : request.axes) args.push_back({axis.name, std::string()});
    args.push_back({"OptionFunction", std::string()});

    // The grid index of the chunk's first point; the last axis varies fastest.
    std::vector<std::size_t> index(request.axes.size(), 0);
    for (std::size_t a = request.axes.size(), rest = chunk.first; a-- > 0;) {
        index[a] = rest % request.axes[a].count;
        rest /= request.axes[a].count;
    }
    for (std::size_t p = 0; p < chunk.count; ++p) {
        for (std::size_t a = 0; a < request.axes.size(); ++a) {
            args[firstAxis + a].value = FormatNumber(request.axes[a].At(index[a]));
            chunk.rows += args[firstAxis + a].value;
            chunk.rows += ',';
        }
        bool failed = false;
        for (std::size_t f = 0; f < request.functions.size(); ++f) {
            args.back().value = request.functions[f];
            const Outcome outcome = CallMethod(object, request.method, args);
            if (outcome.Succeeded()) {
                chunk.rows += FormatNumber(outcome.result);
            } else if (!outcome.fromMethod) {
                // The call itself is wrong (a name or a value the object cannot
                // take), so no point can be priced.
                chunk.refusal = Printable(outcome.description);
                return;
            } else {
                chunk.messages += "kestrix: " + PointText(request.axes, index) + ", " + request.functions[f] + ": " +
                                  Printable(DescribeFailure(outcome)) + '\n';
                failed = true;
            }
            chunk.rows += f + 1 < request.functions.size() ? ',' : '\n';
        }
        chunk.failures += failed ? 1 : 0;
        std::size_t a = request.axes.size();
        while (a > 0 && ++index[a - 1] == request.axes[a - 1].count) index[--a] = 0;
    }
}

}  // namespace

SweepSummary Sweep(IDispatch* object, const SweepRequest& request, std::ostream& out, std::ostream& errors,
                   TProgressBar* progress) {
    // Points a thread prices at a time: enough to make starting it cheap.
    constexpr std::size_t kChunkPoints = 2048;
    SweepSummary summary;
    const std::size_t total = request.Points();
    const unsigned threads = std::max(1u, std::min<unsigned>(request.threads, static_cast<unsigned>(
                                                                                  (total + kChunkPoints - 1) / kChunkPoints)));
    std::vector<IDispatch*> objects{object};
    for (unsigned t = 1; t < threads; ++t) {
        IDispatch* own = CreateKestrix();
        if (own == nullptr) break;
        objects.push_back(own);
    }

    // The first point alone: a call the object refuses stops the sweep before
    // anything is written.
    std::size_t done = 0;
    bool headerWritten = false;
    std::vector<SweepChunk> chunks(objects.size());
    while (done < total) {
        std::size_t next = done;
        for (std::size_t c = 0; c < chunks.size(); ++c) {
            chunks[c] = SweepChunk{};
            chunks[c].first = next;
            chunks[c].count = done == 0 && c == 0 ? 1 : std::min(kChunkPoints, total - next);
            next += chunks[c].count;
            if (done == 0) break;
        }
        const std::size_t used = done == 0 ? 1 : chunks.size();
        std::vector<std::thread> workers;
        for (std::size_t c = 1; c < used; ++c) {
            if (chunks[c].count == 0) continue;
            workers.emplace_back([&, c] { PriceChunk(objects[c], request, chunks[c]); });
        }
        PriceChunk(objects[0], request, chunks[0]);
        for (auto& worker : workers) worker.join();

        if (progress != nullptr) progress->Clear();
        for (std::size_t c = 0; c < used; ++c) {
            if (!chunks[c].refusal.empty()) {
                errors << "kestrix: " << request.method << ": " << chunks[c].refusal << '\n';
                summary.refused = true;
                break;
            }
            if (!headerWritten) {
                for (const auto& axis : request.axes) out << CsvField(axis.name) << ',';
                for (std::size_t f = 0; f < request.functions.size(); ++f) {
                    out << request.functions[f] << (f + 1 < request.functions.size() ? ',' : '\n');
                }
                headerWritten = true;
            }
            out << chunks[c].rows;
            if (!out) {
                summary.outputFailed = true;
                break;
            }
            errors << chunks[c].messages;
            summary.failures += chunks[c].failures;
            done += chunks[c].count;
        }
        if (summary.refused || summary.outputFailed) break;
        if (progress != nullptr) progress->Update(done, done);
    }
    if (progress != nullptr && !summary.refused && !summary.outputFailed) progress->Finish(done, done);
    for (std::size_t o = 1; o < objects.size(); ++o) objects[o]->Release();
    return summary;
}

}  // namespace kestrix::cli
