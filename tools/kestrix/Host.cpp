#include "Host.h"

#include <charconv>
#include <cstdio>
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

std::string JsonString(std::string_view text) {
    std::string out = "\"";
    for (const char c : text) {
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (static_cast<unsigned char>(c) < 0x20) {
                    char escaped[8];
                    std::snprintf(escaped, sizeof escaped, "\\u%04X", static_cast<unsigned>(c));
                    out += escaped;
                } else {
                    out += c;
                }
        }
    }
    return out + "\"";
}

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

    if (outcome.hr == DISP_E_EXCEPTION) {
        outcome.fromMethod = true;
        outcome.hr = excepInfo.scode;
        outcome.description = Take(excepInfo.bstrDescription);
        outcome.helpFile = Take(excepInfo.bstrHelpFile);
        outcome.helpContext = excepInfo.dwHelpContext;
        if (excepInfo.bstrSource != nullptr) outcome.source = Take(excepInfo.bstrSource);
        ClearExcepInfo(&excepInfo);
    } else if (FAILED(outcome.hr)) {
        outcome.description = RefusalText(outcome.hr, *description, args, argErr);
    } else {
        VARIANT number;
        VariantInit(&number);
        if (SUCCEEDED(VariantChangeType(&number, &result, 0, VT_R8))) outcome.result = number.dblVal;
    }
    VariantClear(&result);
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
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(hr));
    return text;
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
