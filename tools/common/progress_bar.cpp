#include "tools/common/progress_bar.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>

namespace vorn::tools {

TProgressBar::TProgressBar(std::string label, bool quiet)
    : label_(std::move(label)), enabled_(!quiet && ::isatty(STDERR_FILENO)) {}

TProgressBar::~TProgressBar() {
    if (enabled_ && shown_ >= 0) std::fputs("\r\033[K", stderr);
}

TShowProgressEvent TProgressBar::Handler() {
    if (!enabled_) return {};
    return [this](int32_t& percent) { Draw(percent); };
}

void TProgressBar::Draw(int32_t percent) {
    percent = std::clamp(percent, 0, 100);
    if (percent == shown_) return;
    shown_ = percent;
    constexpr int kWidth = 30;
    const int filled = percent * kWidth / 100;
    std::fprintf(stderr, "\r%s [%.*s%*s] %3d%%", label_.c_str(), filled,
                 "##############################", kWidth - filled, "", percent);
    std::fflush(stderr);
}

}  // namespace vorn::tools
