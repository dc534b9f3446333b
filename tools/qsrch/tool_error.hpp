// Every failure of the tool ends as one line on stderr and exit status 2;
// this is the exception that carries that line (without the "qsrch: ").
#pragma once

#include <stdexcept>
#include <string>

namespace qtool {

class ToolError : public std::runtime_error {
public:
    explicit ToolError(const std::string& line) : std::runtime_error(line) {}
};

}  // namespace qtool
