// A book priced from bytes to bytes: the narrow door through which other
// hosts (the Python package, its Dask partitions) use the command's own book
// pricer, whatever becomes of its streams and threads.
#pragma once

#include <string>
#include <string_view>

#include "Book.h"

namespace kestrix::cli {

struct PricedBook {
    std::string book;      // what `kestrix price` writes to its output
    std::string messages;  // what it writes to stderr about the rows
    BookSummary summary;
};

// Prices the CSV book `csv` (header line first) on `threads` threads, each
// with an object of its own; `inputName` names the book in messages. An
// object that cannot be created makes an empty result with summary.readable
// false and a message.
PricedBook PriceBookBytes(std::string_view csv, std::string_view inputName, unsigned threads);

}  // namespace kestrix::cli
