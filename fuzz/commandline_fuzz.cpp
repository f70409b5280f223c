// The command line: arguments are NUL-separated pieces of the input. Whatever they are, the
// parser either accepts them with every value inside its range or names what is wrong.
#include "common/CommandLine.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> args;
    std::string piece;
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            args.push_back(piece);
            piece.clear();
        } else {
            piece.push_back(static_cast<char>(data[i]));
        }
    }
    if (size > 0) {
        args.push_back(piece);
    }
    quellon::CommandLine line;
    std::string error;
    const bool ok = quellon::ParseCommandLine(args, line, error);
    if (ok == !error.empty()) {
        std::abort(); // a success with a message, or a refusal without one
    }
    if (ok) {
        for (const auto& [number, path] : line.ports) {
            if (number < 1 || number > 99 || path.empty()) {
                std::abort();
            }
        }
        // A picture without a name, or a time range that ends before it starts.
        if (!line.plotLog.empty() &&
            (line.plotOut.size() < 5 || (line.hasFrom && line.hasTo && !(line.from < line.to)))) {
            std::abort();
        }
    }
    return 0;
}
