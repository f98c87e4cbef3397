// Comma-separated values as spreadsheets write them: fields separated by
// commas, a field in double quotes may hold commas, line breaks and doubled
// quotes, records end with LF or CRLF.
#pragma once

#include <cstddef>
#include <cstdint>
#include <istream>
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

// Reads records from a stream as ParseCsv reads them from a text, holding
// only a window of the input: memory stays flat however long the input is.
// A record longer than kMaxRecordBytes (a quoted field never closed, most
// likely) is reported as malformed and reading resumes on the line after the
// one it started on.
class TCsvStream {
public:
    static constexpr std::size_t kMaxRecordBytes = std::size_t{1} << 20;

    explicit TCsvStream(std::istream& in) : in_(in) {}

    // The next record that is not a blank line; false at the end of the input.
    bool Next(CsvRecord& record);
    // Bytes of the input taken up by the records read so far.
    std::uint64_t Consumed() const { return consumed_; }
    // False when reading the stream failed before its end.
    bool Healthy() const { return !in_.bad(); }

private:
    void Fill();
    void SkipRestOfLine();

    std::istream& in_;
    std::string window_;
    std::size_t pos_ = 0;  // start of the next record in window_
    std::size_t line_ = 1;
    std::uint64_t consumed_ = 0;
    bool end_ = false;  // window_ holds the rest of the input
};

// `field` as a CSV field: quoted when it holds a comma, a quote or a line
// break.
std::string CsvField(std::string_view field);

}  // namespace kestrix::cli
