// A progress bar on standard error, drawn only when that is a terminal.
#pragma once

#include <cstddef>
#include <string>

namespace tvtuner {

class ProgressBar {
public:
    ProgressBar();  // enabled when standard error is a terminal
    ~ProgressBar();
    void Update(size_t done, size_t total, const std::string& label);
    void Finish();

private:
    bool enabled_;
    bool drawn_ = false;
};

}  // namespace tvtuner
