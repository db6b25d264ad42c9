// A one-line progress bar on stderr, drawn only when stderr is a terminal
// and the caller has not asked for quiet.
#pragma once

#include <cstdint>
#include <string>

#include "compress/events.h"

namespace vorn::tools {

class TProgressBar {
public:
    TProgressBar(std::string label, bool quiet);
    ~TProgressBar();

    // A handler for TVornCodec::OnShowProgress, or an empty one when no bar
    // is shown (so the engine keeps no progress counts at all).
    TShowProgressEvent Handler();

private:
    void Draw(int32_t percent);

    std::string label_;
    bool enabled_;
    int32_t shown_ = -1;
};

}  // namespace vorn::tools
