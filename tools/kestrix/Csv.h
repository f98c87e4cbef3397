// Comma-separated values as spreadsheets write them: fields separated by
// commas, a field in double quotes may hold commas, line breaks and doubled
// quotes, records end with LF or CRLF.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace kestrix::cli {

struct CsvRecord {
    std::size_t line = 0;  // where the record starts, from 1
    std::vector<std::string> fields;
    std::string error;  // non-empty for a malformed record; fields then hold what could be read
};

// Splits `text` into records, skipping blank lines. A malformed record is
// kept with its error and reading resumes on the next line.
std::vector<CsvRecord> ParseCsv(std::string_view text);

// `field` as a CSV field: quoted when it holds a comma, a quote or a line
// break.
std::string CsvField(std::string_view field);

}  // namespace kestrix::cli
