#include "tools/tvtuner/Progress.h"

#include <cstdio>
#include <unistd.h>

namespace tvtuner {

constexpr size_t BarWidth = 30;

ProgressBar::ProgressBar() : enabled_(isatty(STDERR_FILENO) == 1) {}

ProgressBar::~ProgressBar() { Finish(); }

void ProgressBar::Update(size_t done, size_t total, const std::string& label)
{
    if (!enabled_ || total == 0) return;
    size_t filled = done * BarWidth / total;
    std::string bar(filled, '#');
    bar.resize(BarWidth, '.');
    std::fprintf(stderr, "\r[%s] %zu/%zu %-12s", bar.c_str(), done, total, label.c_str());
    std::fflush(stderr);
    drawn_ = true;
}

void ProgressBar::Finish()
{
    if (!drawn_) return;
    std::fprintf(stderr, "\r%*s\r", int(BarWidth + 30), "");
    std::fflush(stderr);
    drawn_ = false;
}

}  // namespace tvtuner
