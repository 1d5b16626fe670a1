// A mistake in what the user gave (an argument, a board file, a script
// line): reported with where it was and exit status 2.
#pragma once

#include <stdexcept>
#include <string>

namespace tvtuner {

class UsageError : public std::runtime_error {
public:
    explicit UsageError(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace tvtuner
