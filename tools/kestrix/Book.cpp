#include "Book.h"

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "Csv.h"
#include "Host.h"
#include "automation/TypeLibrary.h"

namespace kestrix::cli {

namespace {

bool SameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

std::string_view Trim(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return text;
}

// True when some method has a parameter of this name.
bool KnownParameter(std::string_view name) {
    for (const auto& method : typelib::kMethods) {
        if (FindParam(method, name) >= 0) return true;
    }
    return false;
}

void WriteRow(std::ostream& out, const std::vector<std::string>& cells, std::size_t width, const std::string& result,
              HRESULT hr, const std::string& description) {
    for (std::size_t i = 0; i < width; ++i) out << (i < cells.size() ? CsvField(cells[i]) : std::string()) << ',';
    out << result << ',' << FormatHResult(hr) << ',' << CsvField(description) << '\n';
}

}  // namespace

BookSummary PriceBook(IDispatch* object, std::string_view text, std::string_view inputName, std::ostream& out,
                      std::ostream& errors) {
    BookSummary summary;
    const std::vector<CsvRecord> records = ParseCsv(text);
    const auto report = [&](std::size_t line, const std::string& message) {
        errors << inputName << ':' << line << ": " << message << '\n';
    };
    if (records.empty()) {
        errors << inputName << ": the book is empty; its first line names the columns\n";
        return summary;
    }

    const CsvRecord& header = records.front();
    if (!header.error.empty()) {
        report(header.line, header.error);
        return summary;
    }
    std::vector<std::string> columns;
    std::size_t methodColumn = header.fields.size();
    for (const auto& cell : header.fields) {
        const std::string name(Trim(cell));
        for (const auto& seen : columns) {
            if (SameName(seen, name)) {
                report(header.line, "the column '" + name + "' appears twice");
                return summary;
            }
        }
        if (SameName(name, "Method")) {
            methodColumn = columns.size();
        } else if (!KnownParameter(name)) {
            report(header.line, "'" + name + "' is not a parameter of any method");
            return summary;
        }
        columns.push_back(name);
    }
    if (methodColumn == columns.size()) {
        report(header.line, "there is no Method column");
        return summary;
    }
    summary.readable = true;

    for (const auto& cell : header.fields) out << CsvField(cell) << ',';
    out << "Result,HResult,Description\n";

    for (std::size_t r = 1; r < records.size(); ++r) {
        const CsvRecord& row = records[r];
        std::string problem = row.error;
        if (problem.empty() && row.fields.size() != columns.size()) {
            problem = "the row has " + std::to_string(row.fields.size()) + " cells, the header " +
                      std::to_string(columns.size());
        }
        if (problem.empty() && Trim(row.fields[methodColumn]).empty()) problem = "the row names no method";
        if (!problem.empty()) {
            report(row.line, problem);
            WriteRow(out, row.fields, columns.size(), "", E_INVALIDARG, problem);
            ++summary.malformed;
            continue;
        }

        std::vector<NamedValue> args;
        for (std::size_t c = 0; c < columns.size(); ++c) {
            const std::string_view value = Trim(row.fields[c]);
            if (c != methodColumn && !value.empty()) args.push_back({columns[c], std::string(value)});
        }
        const Outcome outcome = CallMethod(object, Trim(row.fields[methodColumn]), args);
        if (outcome.Succeeded()) {
            WriteRow(out, row.fields, columns.size(), FormatNumber(outcome.result), outcome.hr, "");
            ++summary.priced;
        } else {
            WriteRow(out, row.fields, columns.size(), "", outcome.hr, outcome.description);
            if (outcome.fromMethod) {
                ++summary.failed;
            } else {
                report(row.line, outcome.description);
                ++summary.malformed;
            }
        }
    }
    return summary;
}

}  // namespace kestrix::cli
