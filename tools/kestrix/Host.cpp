#include "Host.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <vector>

#include "Suggest.h"
#include "automation/OptionsImpl.h"
#include "automation/TypeLibrary.h"

namespace kestrix::cli {

namespace {

const char* TypeName(const ParamDescription& param) {
    switch (param.kind) {
        case ParamKind::Double: return "a double";
        case ParamKind::Int: return "an integer";
        case ParamKind::Enum: break;
    }
    return "a number";
}

// Explains a call the object refused before running the method, naming the
// argument at fault.
std::string RefusalText(HRESULT hr, const MethodDescription& method, std::span<const NamedValue> args,
                        UINT argErr) {
    const NamedValue* arg = argErr < args.size() ? &args[argErr] : nullptr;
    const ParamDescription* param = nullptr;
    if (arg != nullptr) {
        const int position = FindParam(method, arg->name);
        if (position >= 0) param = &method.params[static_cast<std::size_t>(position)];
    }
    if ((hr == DISP_E_TYPEMISMATCH || hr == DISP_E_OVERFLOW) && param != nullptr) {
        std::string text = std::string(param->name) + ": '" + arg->value + "' ";
        if (hr == DISP_E_OVERFLOW) return text + "is out of range for " + TypeName(*param);
        if (param->kind == ParamKind::Enum) return text + NotAMember(*param->enumeration, arg->value);
        return text + "cannot be read as " + TypeName(*param);
    }
    if (hr == DISP_E_PARAMNOTFOUND && param != nullptr) return std::string(param->name) + " is given twice";
    if (hr == DISP_E_PARAMNOTOPTIONAL) {
        std::string missing;
        for (const auto& p : method.params) {
            if (p.optional) continue;
            bool given = false;
            for (const auto& a : args) given = given || FindParam(method, a.name) == &p - method.params.data();
            if (!given) missing += (missing.empty() ? "" : ", ") + std::string(p.name);
        }
        return std::string(method.name) + " needs " + missing;
    }
    return std::string("the call to ") + method.name + " was refused";
}

std::string Take(BSTR& text) {
    std::string copy = text == nullptr ? std::string() : std::string(text, SysStringLen(text));
    SysFreeString(text);
    text = nullptr;
    return copy;
}

// The length of the well-formed UTF-8 sequence at the start of `text`, 0 when
// it is not one (a stray byte, an overlong form, a surrogate, beyond U+10FFFF).
std::size_t Utf8Length(std::string_view text) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // the second byte's range
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (text.size() < length || byte(1) < low || byte(1) > high) return 0;
    for (std::size_t i = 2; i < length; ++i) {
        if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
    }
    return length;
}

// A JSON string: control characters escaped, and each byte that is not part
// of well-formed UTF-8 written as the code point of the same number, so that
// the line stays valid JSON whatever bytes an argument held.
std::string JsonString(std::string_view text) {
    std::string out = "\"";
    while (!text.empty()) {
        const char c = text.front();
        const std::size_t length = Utf8Length(text);
        if (length > 1) {
            out.append(text.substr(0, length));
            text.remove_prefix(length);
            continue;
        }
        text.remove_prefix(1);
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (static_cast<unsigned char>(c) < 0x20 || length == 0) {
                    char escaped[8];
                    std::snprintf(escaped, sizeof escaped, "\\u%04X", static_cast<unsigned>(static_cast<unsigned char>(c)));
                    out += escaped;
                } else {
                    out += c;
                }
        }
    }
    return out + "\"";
}

// Fills the outcome of an Invoke from its answer.
void Conclude(Outcome& outcome, EXCEPINFO& excepInfo, VARIANT& result, const MethodDescription& description,
              std::span<const NamedValue> args, UINT argErr) {
    if (outcome.hr == DISP_E_EXCEPTION) {
        outcome.fromMethod = true;
        outcome.hr = excepInfo.scode;
        outcome.description = Take(excepInfo.bstrDescription);
        outcome.helpFile = Take(excepInfo.bstrHelpFile);
        outcome.helpContext = excepInfo.dwHelpContext;
        if (excepInfo.bstrSource != nullptr) outcome.source = Take(excepInfo.bstrSource);
        ClearExcepInfo(&excepInfo);
    } else if (FAILED(outcome.hr)) {
        outcome.description = RefusalText(outcome.hr, description, args, argErr);
    } else if (result.vt == VT_R8) {
        outcome.result = result.dblVal;
    } else {
        VARIANT number;
        VariantInit(&number);
        if (SUCCEEDED(VariantChangeType(&number, &result, 0, VT_R8))) outcome.result = number.dblVal;
    }
    VariantClear(&result);
}

// A number as the object reads one from text (a finite decimal, wholly
// used), or false when reading it needs any of the object's further rules.
bool ReadDouble(std::string_view text, double& value) {
    if (text.empty() || text.front() == '+') return false;
    // Most cells are short decimals ("-12.375"): at most 15 digits make a
    // whole number a double holds exactly, and a power of ten up to 1e22 is
    // exact too, so their one correctly rounded quotient is the value the
    // full reading gives, found without it.
    constexpr double kPowers[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
    const bool negative = text.front() == '-';
    std::uint64_t digits = 0;
    int count = 0, decimals = -1;
    bool plain = true;
    for (std::size_t i = negative ? 1 : 0; i < text.size() && plain; ++i) {
        const char c = text[i];
        if (c >= '0' && c <= '9') {
            digits = digits * 10 + static_cast<std::uint64_t>(c - '0');
            ++count;
            if (decimals >= 0) ++decimals;
        } else {
            plain = c == '.' && decimals < 0 && count > 0;
            decimals = 0;
        }
    }
    if (plain && count > 0 && count <= 15 && decimals != 0) {
        const double whole = static_cast<double>(digits);
        value = decimals > 0 ? whole / kPowers[decimals] : whole;
        if (negative) value = -value;
        return true;
    }
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc{} && end == text.data() + text.size() && std::isfinite(value);
}

bool ReadWhole(std::string_view text, long& value) {
    double number = 0;
    if (!ReadDouble(text, number) || std::trunc(number) != number ||
        number < std::numeric_limits<std::int32_t>::min() || number > std::numeric_limits<std::int32_t>::max()) {
        return false;
    }
    value = static_cast<long>(number);
    return true;
}

// The most shapes one caller remembers; a book rarely has more than a few.
constexpr std::size_t kMaxShapes = 64;
constexpr std::size_t kMaxSpellings = 48;

}  // namespace

std::string NotAMember(const EnumDescription& enumeration, std::string_view value) {
    std::string members;
    for (const auto& member : enumeration.members) {
        members += (members.empty() ? "" : ", ") + std::string(member.name) + " (" + std::to_string(member.value) + ")";
    }
    return std::string("is neither a member of ") + enumeration.name + " nor a number" +
           DidYouMean(value, MemberNames(enumeration)) + " (members: " + members + ")";
}

std::string UnknownMethod(std::string_view method) {
    std::string text = "unknown method '" + std::string(method) + "'";
    const std::string suggestion = DidYouMean(method, MethodNames());
    if (!suggestion.empty()) return text + suggestion;
    std::string methods;
    for (const char* name : MethodNames()) methods += (methods.empty() ? "" : ", ") + std::string(name);
    return text + " (methods: " + methods + ")";
}

std::string NotAParameter(const MethodDescription& method, std::string_view name) {
    std::string text = "'" + std::string(name) + "' is not a parameter of " + method.name;
    const std::string suggestion = DidYouMean(name, ParameterNames(method));
    if (!suggestion.empty()) return text + suggestion;
    const std::string others = MethodsTaking(name);
    if (!others.empty()) return text + "; only " + others + " take it";
    return text + DidYouMean(name, ParameterNames());
}

Outcome CallMethod(IDispatch* object, std::string_view method, std::span<const NamedValue> args) {
    Outcome outcome;
    const MethodDescription* description = FindMethod(method);
    if (description == nullptr) {
        outcome.hr = DISP_E_UNKNOWNNAME;
        outcome.description = UnknownMethod(method);
        return outcome;
    }

    const std::string methodName(method);
    std::vector<LPOLESTR> names{const_cast<LPOLESTR>(methodName.c_str())};
    for (const auto& arg : args) names.push_back(const_cast<LPOLESTR>(arg.name.c_str()));
    std::vector<DISPID> ids(names.size(), DISPID_UNKNOWN);
    outcome.hr = object->GetIDsOfNames(IID_NULL, names.data(), static_cast<UINT>(names.size()), LOCALE_USER_DEFAULT,
                                       ids.data());
    if (FAILED(outcome.hr)) {
        for (std::size_t i = 1; i < ids.size(); ++i) {
            if (ids[i] == DISPID_UNKNOWN) {
                outcome.description = NotAParameter(*description, args[i - 1].name);
                return outcome;
            }
        }
        outcome.description = "the names of the call were not recognised";
        return outcome;
    }

    std::vector<VARIANT> values(args.size());
    for (std::size_t i = 0; i < args.size(); ++i) {
        VariantInit(&values[i]);
        values[i].vt = VT_BSTR;
        values[i].bstrVal = SysAllocStringLen(args[i].value.data(), static_cast<UINT>(args[i].value.size()));
    }
    DISPPARAMS params{values.data(), ids.data() + 1, static_cast<UINT>(values.size()),
                      static_cast<UINT>(values.size())};
    VARIANT result;
    VariantInit(&result);
    EXCEPINFO excepInfo{};
    UINT argErr = ~0u;
    outcome.hr = object->Invoke(ids[0], IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &result,
                                &excepInfo, &argErr);
    for (auto& value : values) VariantClear(&value);
    Conclude(outcome, excepInfo, result, *description, args, argErr);
    return outcome;
}

TCaller::Shape* TCaller::Find(std::string_view method, std::span<const std::string_view> names,
                              std::uint64_t namesKey) {
    const auto matches = [&](const Shape& shape) {
        if (shape.method != method || shape.names.size() != names.size()) return false;
        if (namesKey != 0) return shape.namesKey == namesKey;
        for (std::size_t i = 0; i < names.size(); ++i) {
            // Names where they were last time are the same names (see Call).
            const bool same = shape.nameTexts[i] == names[i].data() && shape.names[i].size() == names[i].size();
            if (!same && shape.names[i] != names[i]) return false;
        }
        return true;
    };
    if (last_ < shapes_.size() && matches(shapes_[last_])) return &shapes_[last_];
    for (std::size_t i = 0; i < shapes_.size(); ++i) {
        if (matches(shapes_[i])) {
            last_ = i;
            return &shapes_[i];
        }
    }
    if (names.size() > typelib::kMaxParams) return nullptr;

    // Resolved as CallMethod resolves the names of each call.
    Shape shape;
    shape.method = method;
    shape.namesKey = namesKey;
    shape.names.assign(names.begin(), names.end());
    for (const auto& name : names) shape.nameTexts.push_back(name.data());
    const MethodDescription* description = FindMethod(method);
    if (description == nullptr) {
        shape.refusal.hr = DISP_E_UNKNOWNNAME;
        shape.refusal.description = UnknownMethod(shape.method);
    } else {
        std::vector<LPOLESTR> texts{const_cast<LPOLESTR>(shape.method.c_str())};
        for (const auto& name : shape.names) texts.push_back(const_cast<LPOLESTR>(name.c_str()));
        shape.ids.assign(texts.size(), DISPID_UNKNOWN);
        shape.refusal.hr = object_->GetIDsOfNames(IID_NULL, texts.data(), static_cast<UINT>(texts.size()),
                                                  LOCALE_USER_DEFAULT, shape.ids.data());
        if (FAILED(shape.refusal.hr)) {
            shape.refusal.description = "the names of the call were not recognised";
            for (std::size_t i = 1; i < shape.ids.size(); ++i) {
                if (shape.ids[i] == DISPID_UNKNOWN) {
                    shape.refusal.description = NotAParameter(*description, shape.names[i - 1]);
                    break;
                }
            }
        } else {
            shape.resolved = true;
            for (std::size_t i = 1; i < shape.ids.size(); ++i) {
                Argument argument;
                // A parameter's DISPID is its position: anything else travels as text.
                if (shape.ids[i] >= 0 && static_cast<std::size_t>(shape.ids[i]) < description->params.size()) {
                    argument.param = &description->params[static_cast<std::size_t>(shape.ids[i])];
                }
                shape.arguments.push_back(std::move(argument));
            }
        }
    }
    // Past the most remembered, a new shape takes the place of the oldest.
    if (shapes_.size() < kMaxShapes) {
        shapes_.push_back(std::move(shape));
        last_ = shapes_.size() - 1;
    } else {
        last_ = replaced_++ % kMaxShapes;
        shapes_[last_] = std::move(shape);
    }
    return &shapes_[last_];
}

bool TCaller::Convert(Argument& argument, std::string_view text, VARIANT& value) {
    const auto* param = static_cast<const ParamDescription*>(argument.param);
    if (param == nullptr) return false;
    if (param->kind == ParamKind::Double) {
        value.vt = VT_R8;
        return ReadDouble(text, value.dblVal);
    }
    value.vt = VT_I4;
    if (param->kind == ParamKind::Enum) {
        for (const auto& spelling : argument.members) {
            if (spelling.text == text) {
                value.lVal = static_cast<LONG>(spelling.value);
                return true;
            }
        }
        if (const EnumMember* member = FindMember(*param->enumeration, text)) {
            // A book spells a member a few ways at most; a few dozen are remembered.
            if (argument.members.size() < kMaxSpellings) argument.members.push_back({std::string(text), member->value});
            value.lVal = member->value;
            return true;
        }
    }
    long whole = 0;
    if (!ReadWhole(text, whole)) return false;
    value.lVal = static_cast<LONG>(whole);
    return true;
}

Outcome TCaller::Call(std::string_view method, std::span<const std::string_view> names,
                      std::span<const std::string_view> values, std::uint64_t namesKey) {
    const auto asNamedValues = [&] {
        std::vector<NamedValue> args;
        for (std::size_t i = 0; i < names.size(); ++i) args.push_back({std::string(names[i]), std::string(values[i])});
        return args;
    };
    Shape* shape = Find(method, names, namesKey);
    if (shape == nullptr) return CallMethod(object_, method, asNamedValues());
    if (!shape->resolved) return shape->refusal;

    VARIANT arguments[typelib::kMaxParams];
    for (std::size_t i = 0; i < values.size(); ++i) {
        VariantInit(&arguments[i]);
        if (!Convert(shape->arguments[i], values[i], arguments[i])) {
            arguments[i].vt = VT_BSTR;
            arguments[i].bstrVal = SysAllocStringLen(values[i].data(), static_cast<UINT>(values[i].size()));
        }
    }
    const auto count = static_cast<UINT>(values.size());
    DISPPARAMS params{arguments, shape->ids.data() + 1, count, count};
    VARIANT result;
    VariantInit(&result);
    EXCEPINFO excepInfo{};
    UINT argErr = ~0u;
    Outcome outcome;
    outcome.hr = object_->Invoke(shape->ids[0], IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &result,
                                 &excepInfo, &argErr);
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (arguments[i].vt == VT_BSTR) VariantClear(&arguments[i]);
    }
    if (outcome.hr == S_OK && result.vt == VT_R8) {
        outcome.result = result.dblVal;
        return outcome;
    }
    const MethodDescription& description = *FindMethod(method);
    if (FAILED(outcome.hr) && outcome.hr != DISP_E_EXCEPTION) {
        Conclude(outcome, excepInfo, result, description, asNamedValues(), argErr);
    } else {
        Conclude(outcome, excepInfo, result, description, {}, argErr);
    }
    return outcome;
}

IDispatch* CreateKestrix() {
    IDispatch* object = nullptr;
    if (FAILED(TOptionsImpl::CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(&object)))) {
        return nullptr;
    }
    return object;
}

std::string FormatNumber(double value) {
    char text[32];
    const auto [end, error] = std::to_chars(text, text + sizeof text, value);
    return error == std::errc{} ? std::string(text, end) : std::string();
}

std::string FormatHResult(HRESULT hr) {
    std::string text;
    AppendHResult(text, hr);
    return text;
}

void AppendNumber(std::string& out, double value) {
    char text[32];
    const auto [end, error] = std::to_chars(text, text + sizeof text, value);
    if (error == std::errc{}) out.append(text, end);
}

void AppendHResult(std::string& out, HRESULT hr) {
    if (hr == S_OK) {
        out += "0x00000000";
        return;
    }
    constexpr char kDigits[] = "0123456789ABCDEF";
    char text[10] = {'0', 'x'};
    auto bits = static_cast<std::uint32_t>(hr);
    for (int i = 9; i >= 2; --i, bits >>= 4) text[i] = kDigits[bits & 0xF];
    out.append(text, sizeof text);
}

std::string Printable(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        if (c == '\0') {
            out += "\\0";
        } else {
            out += c;
        }
    }
    return out;
}

std::string JsonOutcome(const Outcome& outcome) {
    std::string json = "{\"hresult\":\"" + FormatHResult(outcome.hr) + "\"";
    if (outcome.Succeeded()) return json + ",\"result\":" + FormatNumber(outcome.result) + "}";
    json += ",\"description\":" + JsonString(outcome.description);
    json += ",\"helpFile\":" + (outcome.fromMethod ? JsonString(outcome.helpFile) : std::string("null"));
    json += ",\"helpContext\":" + std::to_string(outcome.helpContext);
    json += ",\"source\":" + (outcome.source ? JsonString(*outcome.source) : std::string("null"));
    return json + "}";
}

std::string DescribeFailure(const Outcome& outcome) {
    std::string text = FormatHResult(outcome.hr) + " " + outcome.description;
    if (outcome.fromMethod) {
        text += " (help: " + outcome.helpFile + ", context " + std::to_string(outcome.helpContext);
        if (outcome.source) text += "; source: " + *outcome.source;
        text += ")";
    }
    return text;
}

}  // namespace kestrix::cli
