// Pricing a book: a CSV of requests, one per row, answered row by row.
#pragma once

#include <cstddef>
#include <ostream>
#include <string_view>

#include "platform/Unknwn.h"

namespace kestrix::cli {

struct BookSummary {
    bool readable = false;  // false: the header was unusable and nothing was priced
    std::size_t priced = 0;
    std::size_t failed = 0;     // requests the object answered with an error
    std::size_t malformed = 0;  // rows that did not make a request
};

// Prices every row of the CSV `text` (named `inputName` in messages) through
// `object` and writes the book to `out`: the input columns, then Result,
// HResult and Description. The header is `Method` and parameter names in any
// order and letter case; an empty cell omits its parameter. A row that does
// not make a request is reported to `errors` as "inputName:line: message" and
// written with its HResult and Description; the rows after it are priced.
BookSummary PriceBook(IDispatch* object, std::string_view text, std::string_view inputName, std::ostream& out,
                      std::ostream& errors);

}  // namespace kestrix::cli
