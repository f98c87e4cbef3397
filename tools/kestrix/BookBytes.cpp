#include "BookBytes.h"

#include <sstream>

#include "Host.h"

namespace kestrix::cli {

PricedBook PriceBookBytes(std::string_view csv, std::string_view inputName, unsigned threads) {
    PricedBook priced;
    IDispatch* object = CreateKestrix();
    if (object == nullptr) {
        priced.messages = "the Kestrix object could not be created\n";
        return priced;
    }
    std::istringstream in{std::string(csv)};
    std::ostringstream out;
    std::ostringstream errors;
    priced.summary = PriceBook(object, in, inputName, out, errors, BookRun{threads < 1 ? 1 : threads, nullptr});
    object->Release();
    priced.book = std::move(out).str();
    priced.messages = std::move(errors).str();
    return priced;
}

}  // namespace kestrix::cli
