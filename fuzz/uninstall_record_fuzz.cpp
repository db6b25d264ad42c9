// The uninstall record's reader over arbitrary text: it must accept or
// refuse without fault, and a record it accepts must read back the same
// from the text written for it, whole or a line at a time.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "setup/remover/uninstall_record.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const auto record = vorn::setup::ParseRecord(text);
    if (!record) return 0;
    const std::string written = vorn::setup::RecordText(*record);
    if (vorn::setup::ParseRecord(written) != record) std::abort();
    vorn::setup::TRecordReader reader;
    size_t lines = 0;
    reader.onLink = [&](const vorn::setup::TRecordedLink&) { ++lines; };
    for (size_t at = 0, end; (end = written.find('\n', at)) != std::string::npos; at = end + 1)
        if (!reader.Take(std::string_view(written).substr(at, end - at))) std::abort();
    const auto streamed = reader.Finish();
    if (!streamed || streamed->files != record->files || lines != record->links.size()) std::abort();
    return 0;
}
