// Pricing a book: a CSV of requests, one per row, answered row by row.
#pragma once

#include <cstddef>
#include <istream>
#include <ostream>
#include <string_view>

#include "Progress.h"
#include "platform/Unknwn.h"

namespace kestrix::cli {

struct BookSummary {
    bool readable = false;  // false: the header was unusable and nothing was priced
    bool inputFailed = false;  // reading the book failed before its end
    bool outputFailed = false;  // a write failed: the run stopped there
    bool outOfMemory = false;   // the run stopped for want of memory
    std::size_t priced = 0;
    std::size_t failed = 0;     // requests the object answered with an error
    std::size_t malformed = 0;  // rows that did not make a request
};

struct BookRun {
    unsigned threads = 1;  // pricing threads, each with its own object
    TProgressBar* progress = nullptr;
    bool strict = false;  // refuse every column that is not a parameter
};

// Prices every row of the CSV read from `in` (named `inputName` in messages)
// and writes the book to `out`: the input columns, then Result, HResult and
// Description. The header is `Method` and parameter names in any order and
// letter case; an empty cell omits its parameter. Other columns are carried
// through untouched, unless `run.strict` or a name close to a parameter's
// (a likely misspelling) makes the header unusable. A row that does not make a
// request is reported to `errors` as "inputName:line: message" and written
// with its HResult and Description; the rows after it are priced.
//
// The book is read as a stream and priced in batches on `run.threads`
// threads: the calling thread with `object`, each further thread with an
// object of its own (fewer, said once on `errors`, when the system will not
// start them all). Rows and messages come out in input order, the same bytes
// for any number of threads. Memory stays within a fixed budget whatever the
// shape of the book; the first write to `out` that fails ends the run.
BookSummary PriceBook(IDispatch* object, std::istream& in, std::string_view inputName, std::ostream& out,
                      std::ostream& errors, const BookRun& run);

// The same for a book held in memory, on the calling thread alone.
BookSummary PriceBook(IDispatch* object, std::string_view text, std::string_view inputName, std::ostream& out,
                      std::ostream& errors);

}  // namespace kestrix::cli
