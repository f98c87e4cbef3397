#include "Sweep.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string_view>

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
        problem = "'" + std::string(name) + "' is not a parameter of " + method.name;
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
    const double t = static_cast<double>(i) / static_cast<double>(count - 1);
    if (integral) return std::round(std::lerp(start, stop, t));
    // Points between the ends as the decimals a person would write:
    // 0.2:0.4:3 gives 0.3 rather than 0.30000000000000004.
    char text[32];
    std::snprintf(text, sizeof text, "%.15g", std::lerp(start, stop, t));
    double point = 0;
    std::from_chars(text, text + std::strlen(text), point);
    return point;
}

bool ParseSweep(const std::vector<std::string>& args, SweepRequest& request, std::string& problem) {
    std::vector<std::string> varied;
    std::string functions;
    bool functionsGiven = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--vary" || arg == "--functions") {
            if (i + 1 == args.size()) {
                problem = arg + " needs a value";
                return false;
            }
            if (arg == "--vary") {
                varied.push_back(args[++i]);
            } else {
                functions = args[++i];
                functionsGiven = true;
            }
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
        problem = "unknown method '" + request.method + "'";
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
        for (const auto& value : request.fixed) {
            if (FindParam(*method, value.name) == FindParam(*method, axis.name)) {
                problem = axis.name + " is both given and varied";
                return false;
            }
        }
        if (points > kMaxPoints / axis.count) {
            problem = "the grid has more than " + std::to_string(kMaxPoints) + " points";
            return false;
        }
        points *= axis.count;
        request.axes.push_back(std::move(axis));
    }

    // The functions: --functions, else the OptionFunction given, else the value.
    const int functionParam = FindParam(*method, "OptionFunction");
    std::string fixedFunction;
    for (auto value = request.fixed.begin(); value != request.fixed.end(); ++value) {
        if (functionParam >= 0 && FindParam(*method, value->name) == functionParam) {
            if (functionsGiven) {
                problem = "give OptionFunction or --functions, not both";
                return false;
            }
            fixedFunction = value->value;
            request.fixed.erase(value);
            break;
        }
    }
    if (!functionsGiven) functions = fixedFunction.empty() ? "Theoretical" : fixedFunction;
    std::string_view list = functions;
    for (;;) {
        const auto comma = list.find(',');
        const std::string_view name = list.substr(0, comma);
        const EnumMember* member = OptionFunction(name);
        if (member == nullptr) {
            problem = "'" + std::string(name) + "' is not a member of enumOptionFunctions";
            return false;
        }
        request.functions.push_back(member->name);
        if (comma == std::string_view::npos) break;
        list.remove_prefix(comma + 1);
    }
    return true;
}

SweepSummary Sweep(IDispatch* object, const SweepRequest& request, std::ostream& out, std::ostream& errors) {
    SweepSummary summary;
    std::vector<NamedValue> args = request.fixed;
    const std::size_t firstAxis = args.size();
    for (const auto& axis : request.axes) args.push_back({axis.name, std::string()});
    args.push_back({"OptionFunction", std::string()});

    std::vector<std::size_t> index(request.axes.size(), 0);
    std::string row;
    bool headerWritten = false;
    for (;;) {
        row.clear();
        for (std::size_t a = 0; a < request.axes.size(); ++a) {
            args[firstAxis + a].value = FormatNumber(request.axes[a].At(index[a]));
            row += args[firstAxis + a].value;
            row += ',';
        }
        bool failed = false;
        for (std::size_t f = 0; f < request.functions.size(); ++f) {
            args.back().value = request.functions[f];
            const Outcome outcome = CallMethod(object, request.method, args);
            if (outcome.Succeeded()) {
                row += FormatNumber(outcome.result);
            } else if (!outcome.fromMethod) {
                // The call itself is wrong (a name or a value the object cannot
                // take), so no point can be priced.
                errors << "kestrix: " << request.method << ": " << Printable(outcome.description) << '\n';
                summary.refused = true;
                return summary;
            } else {
                errors << "kestrix: " << PointText(request.axes, index) << ", " << request.functions[f] << ": "
                       << Printable(DescribeFailure(outcome)) << '\n';
                failed = true;
            }
            row += f + 1 < request.functions.size() ? ',' : '\n';
        }
        summary.failures += failed ? 1 : 0;
        if (!headerWritten) {
            for (const auto& axis : request.axes) out << CsvField(axis.name) << ',';
            for (std::size_t f = 0; f < request.functions.size(); ++f) {
                out << request.functions[f] << (f + 1 < request.functions.size() ? ',' : '\n');
            }
            headerWritten = true;
        }
        out << row;
        if (!out) {
            summary.outputFailed = true;
            return summary;
        }

        // The next point: the last axis varies fastest.
        std::size_t a = request.axes.size();
        while (a > 0 && ++index[a - 1] == request.axes[a - 1].count) index[--a] = 0;
        if (a == 0) return summary;
    }
}

}  // namespace kestrix::cli
