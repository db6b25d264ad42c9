#include "tools/vorn/commands.h"

#include <cinttypes>
#include <cstdio>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <string>

#include "compress/exceptions.h"
#include "compress/lzma/lzma_compress.h"
#include "compress/lzma/lzma_format.h"
#include "compress/custom_methods.h"
#include "compress/vorn_codec.h"
#include "compress/vorn_header.h"
#include "tools/common/buffered_stream.h"
#include "tools/common/method_writer.h"
#include "tools/common/input_file.h"
#include "tools/common/output_file.h"
#include "tools/common/progress_bar.h"
#include "tools/common/terminal_text.h"

namespace vorn::tools {

namespace {

int Fail(const std::string& file, const std::exception& error) {
    return ReportFailure("vorn", file, error);
}

TCompressResult Compress(TVornCodec& codec, TStream& dest, TStream& source, const TCompressOptions& options) {
    const TMethodIdentity* method = MethodNamed(options.method);
    if (!method) throw std::invalid_argument("unknown method " + options.method);
    return method->Write(codec, dest, source, *method, options.level);
}

double Percent(int64_t part, int64_t whole) {
    return whole > 0 ? 100.0 * static_cast<double>(part) / static_cast<double>(whole) : 100.0;
}

// The summary line: on stderr when the data itself goes to stdout.
FILE* ReportTo(const TOutputFile& output) { return output.IsStandardOutput() ? stderr : stdout; }

std::string Verdict(const TVornHeader& header) {
    char sum[32];
    std::snprintf(sum, sizeof sum, "checksum 0x%08" PRIX32 " verified", header.Checksum);
    return header.SumIsCompared() ? sum : kNotChecked;
}

void PrintHeader(const std::string& input, const TVornHeader& header, const std::string& codecData) {
    std::printf("file:              %s\n", Printable(input).c_str());
    std::printf("method:            %s\n", Printable(header.Id()).c_str());
    std::printf("uncompressed size: %" PRId32 "\n", header.UncompressedSize);
    std::printf("codec data:        %s\n", codecData.c_str());
    std::printf("archive type:      %u%s\n", header.ArchiveType,
                header.ArchiveType == 0 ? " (single stream)" : " (multi-file, not supported)");
    std::printf("checksum:          0x%08" PRIX32 "%s\n", header.Checksum,
                header.SumIsCompared() ? "" : (" (" + std::string(kNotChecked) + ")").c_str());
    std::printf("lock level:        %" PRId32 "%s\n", header.LockLevel,
                header.LockLevel <= 0   ? " (not locked)"
                : header.LockLevel == 2 ? " (locked and scrambled)"
                                        : " (locked)");
}

// A link past the first of a chain expands only after the links before it,
// through the same codec.
void RefuseLaterLink(TStream& source, const std::optional<TVornHeader>& header) {
    if (!header || header->Id() != lzma::kMethodId) return;
    source.Seek(kHeaderSize);
    const std::optional<lzma::TLzmaHead> head = lzma::PeekLzmaHead(source);
    source.Seek(0);
    if (head && head->Chained && head->ChainOffset != 0)
        throw EVornError("the stream continues a chain of LZM streams at byte " + std::to_string(head->ChainOffset) +
                         ": it expands only with its package, after the streams before it (vornpack extract)");
}

// The LZM head behind the header, in the info command's layout.
void PrintLzmaHead(const lzma::TLzmaHead& head) {
    std::printf("lzma properties:   lc %d, lp %d, pb %d, dictionary %" PRIu32 " bytes\n", head.Lc, head.Lp,
                head.Pb, head.DictionarySize);
    static constexpr const char* kFilterNames[] = {"none", "x86", "x86-64", "x86", "x86-64"};  // by LzmaFilter
    static_assert(std::size(kFilterNames) == static_cast<size_t>(lzma::kLastFilter) + 1);
    std::printf("branch filter:     %s", kFilterNames[static_cast<int>(head.Filter)]);
    if (head.CodeOnly())
        std::printf(", in the code only (%" PRIu32 " bytes at %" PRIu32 ")", head.CodeSize, head.CodeStart);
    std::printf("\n");
    std::printf("crc-32:            0x%08" PRIX32 "\n", head.Crc32);
    if (head.Chained)
        std::printf("chain offset:      %" PRIu32 "%s\n", head.ChainOffset,
                    head.ChainOffset == 0 ? " (the first link of a chain)" : " (continues a chain)");
    if (head.Seeded())
        std::printf("seed:              %" PRIu32 " bytes of its installer at %" PRIu32
                    " (it expands with vornpack extract)\n",
                    head.SeedSize, head.SeedStart);
}

}  // namespace

int32_t ParseKey(const std::string& text) {
    size_t used = 0;
    long long value = 0;
    try {
        value = std::stoll(text, &used, 0);
    } catch (const std::exception&) {
        used = 0;
    }
    if (used == 0 || used != text.size() || value < INT32_MIN || value > UINT32_MAX)
        throw std::invalid_argument("\"" + text + "\" is not a 32-bit number");
    return static_cast<int32_t>(static_cast<uint32_t>(value));
}

int RunCompress(const TCompressOptions& options) {
    try {
        const std::unique_ptr<TStream> file = OpenInput(options.input);
        TBufferedStream source(*file);
        TOutputFile output(options.output, OutputAccess::Seekable);
        TVornCodec codec;
        codec.Key = options.key;
        TProgressBar bar("compressing", options.quiet);
        codec.OnShowProgress = bar.Handler();
        const TCompressResult done = Compress(codec, output.Stream(), source, options);
        output.Commit();
        std::fprintf(ReportTo(output),
                     "%s -> %s: %s, %" PRId64 " -> %" PRId64 " bytes (%.1f%%), checksum 0x%08" PRIX32 "\n",
                     options.input.c_str(), options.output.c_str(), WrittenId(done.Method), source.Size(),
                     done.BytesWritten, Percent(done.BytesWritten, source.Size()), done.Checksum);
        return kExitOk;
    } catch (const std::exception& error) {
        return Fail(options.input, error);
    }
}

int RunExpand(const TExpandOptions& options) {
    try {
        const std::unique_ptr<TStream> file = OpenInput(options.input);
        TBufferedStream source(*file);
        const std::optional<TVornHeader> header = PeekHeader(source);
        source.Seek(0);
        RefuseLaterLink(source, header);
        TOutputFile output(options.output);
        TVornCodec codec;
        UseCustomMethods(codec);
        codec.Key = options.key;
        TProgressBar bar("expanding", options.quiet);
        codec.OnShowProgress = bar.Handler();
        codec.ExpandStream(output.Stream(), source);
        // Counted from what was verified, not from the output's size: a
        // device such as /dev/null has none.
        const int64_t expanded = header ? header->UncompressedSize : source.Size();
        output.Commit();
        FILE* report = ReportTo(output);
        const std::string names = Printable(options.input) + " -> " + Printable(options.output);
        if (header)
            std::fprintf(report, "%s: %s, %" PRId64 " -> %" PRId64 " bytes, %s\n", names.c_str(),
                         Printable(header->Id()).c_str(), source.Size(), expanded, Verdict(*header).c_str());
        else
            std::fprintf(report, "%s: headerless, %" PRId64 " bytes copied\n", names.c_str(), expanded);
        return kExitOk;
    } catch (const std::exception& error) {
        return Fail(options.input, error);
    }
}

int RunInfo(const TInfoOptions& options) {
    try {
        // From a pipe or a device only the header (and an LZM head) is read:
        // its size stays unknown.
        const int64_t headOnly = kHeaderSize + lzma::kMaxHeadSize + 1;
        const bool streamed = IsStreamedInput(options.input);
        const std::unique_ptr<TStream> input = OpenInput(options.input, streamed ? headOnly : kWholeInput);
        TStream& source = *input;
        const bool sizeKnown = source.Size() < headOnly || !streamed;
        const std::optional<TVornHeader> peeked = PeekHeader(source);
        if (!peeked) {
            std::printf("%s: headerless, %s%" PRId64 " bytes\n", Printable(options.input).c_str(),
                        sizeKnown ? "" : "at least ", source.Size());
            return kExitOk;
        }
        const int64_t data = source.Size() - kHeaderSize;
        char codecData[64];
        std::snprintf(codecData, sizeof codecData, "%" PRId64 " bytes (%.1f%%)", data,
                      Percent(data, peeked->UncompressedSize));
        PrintHeader(options.input, *peeked, sizeKnown ? codecData : "not read (a pipe or a device)");
        if (peeked->Id() != lzma::kMethodId) return kExitOk;
        lzma::LzmaFault why = lzma::LzmaFault::None;
        const std::optional<lzma::TLzmaHead> head = lzma::PeekLzmaHead(source, &why);
        if (!head) {
            std::printf("lzma head:         damaged\n");
            return Fail(options.input, EDamagedStream(lzma::LzmaFaultWords(why)));
        }
        PrintLzmaHead(*head);
        return kExitOk;
    } catch (const std::exception& error) {
        return Fail(options.input, error);
    }
}

}  // namespace vorn::tools
