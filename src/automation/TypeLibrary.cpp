#include "automation/TypeLibrary.h"

#include <cctype>
#include <vector>

#include "core/ErrorCodes.h"

namespace kestrix {

namespace {

bool SameName(std::string_view a, std::string_view b) noexcept {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

}  // namespace

const MethodDescription* FindMethod(std::string_view name) noexcept {
    for (const auto& method : typelib::kMethods) {
        if (SameName(name, method.name)) return &method;
    }
    return nullptr;
}

const MethodDescription* FindMethod(DISPID dispid) noexcept {
    for (const auto& method : typelib::kMethods) {
        if (method.dispid == dispid) return &method;
    }
    return nullptr;
}

int FindParam(const MethodDescription& method, std::string_view name) noexcept {
    for (std::size_t i = 0; i < method.params.size(); ++i) {
        if (SameName(name, method.params[i].name)) return static_cast<int>(i);
    }
    return -1;
}

const EnumMember* FindMember(const EnumDescription& enumeration, std::string_view name) noexcept {
    for (const auto& member : enumeration.members) {
        if (SameName(name, member.name)) return &member;
    }
    return nullptr;
}

const EnumDescription& ErrorCodesEnumeration() noexcept {
    // Built once from the error table, so codes and texts live in one place.
    static const std::vector<EnumMember> members = [] {
        std::vector<EnumMember> rows;
        for (const auto& row : ErrorTable()) {
            rows.push_back({row.name, static_cast<std::int32_t>(row.code), row.text});
        }
        return rows;
    }();
    static const EnumDescription enumeration{"enumOErrCodes", typelib::kErrorCodesGuid, members};
    return enumeration;
}

std::span<const EnumDescription* const> Enumerations() noexcept {
    using namespace typelib;
    static const EnumDescription* const all[] = {
        &kOptionType,     &kOptionFunctions,  &kCompoundRate, &kTimeFormat,      &kDividendStyle, &kDividendStyleBin,
        &kExerciseType,   &kAvailableModels,  &kEurodollarModel, &kModel,        &ErrorCodesEnumeration()};
    return all;
}

}  // namespace kestrix
