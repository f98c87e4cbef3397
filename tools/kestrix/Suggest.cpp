#include "Suggest.h"

#include <algorithm>
#include <cctype>

namespace kestrix::cli {

namespace {

char Lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

// Edits that turn one name into the other, in any letter case: insertions,
// deletions, substitutions and swaps of neighbours ("Dleta" is one from Delta).
std::size_t EditDistance(std::string_view a, std::string_view b) {
    std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
    for (std::size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
    for (std::size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t cost = Lower(a[i - 1]) == Lower(b[j - 1]) ? 0 : 1;
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
            if (i > 1 && j > 1 && Lower(a[i - 1]) == Lower(b[j - 2]) && Lower(a[i - 2]) == Lower(b[j - 1])) {
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
            }
        }
    }
    return d[a.size()][b.size()];
}

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), text.begin(), [](char x, char y) { return Lower(x) == Lower(y); });
}

}  // namespace

const char* ClosestName(std::string_view name, const std::vector<const char*>& candidates) {
    const std::size_t limit = std::clamp<std::size_t>(name.size() / 3, 1, 3);
    const char* best = nullptr;
    std::size_t bestDistance = limit + 1;
    for (const char* candidate : candidates) {
        const std::size_t distance = EditDistance(name, candidate);
        if (distance < bestDistance) {
            best = candidate;
            bestDistance = distance;
        }
    }
    if (best != nullptr || name.size() < 3) return best;
    for (const char* candidate : candidates) {
        if (StartsWith(candidate, name) && (best == nullptr || std::string_view(candidate).size() < std::string_view(best).size())) {
            best = candidate;
        }
    }
    return best;
}

std::vector<const char*> MethodNames() {
    std::vector<const char*> names;
    for (const auto& method : typelib::kMethods) names.push_back(method.name);
    return names;
}

std::vector<const char*> ParameterNames() {
    std::vector<const char*> names;
    for (const auto& method : typelib::kMethods) {
        for (const auto& param : method.params) {
            if (std::none_of(names.begin(), names.end(), [&](const char* n) { return std::string_view(n) == param.name; })) {
                names.push_back(param.name);
            }
        }
    }
    return names;
}

std::vector<const char*> ParameterNames(const MethodDescription& method) {
    std::vector<const char*> names;
    for (const auto& param : method.params) names.push_back(param.name);
    return names;
}

std::vector<const char*> MemberNames(const EnumDescription& enumeration) {
    std::vector<const char*> names;
    for (const auto& member : enumeration.members) names.push_back(member.name);
    return names;
}

std::string DidYouMean(std::string_view name, const std::vector<const char*>& candidates) {
    const char* closest = ClosestName(name, candidates);
    return closest == nullptr ? std::string() : std::string("; did you mean ") + closest + "?";
}

std::string MethodsTaking(std::string_view parameter) {
    std::string methods;
    for (const auto& method : typelib::kMethods) {
        if (FindParam(method, parameter) < 0) continue;
        if (!methods.empty()) methods += ", ";
        methods += method.name;
    }
    return methods;
}

}  // namespace kestrix::cli
