// TVornCodec: expands compressed streams (header, method recognition, codec
// run, checksum and key verification) and compresses whole streams.
// The streams it is handed are borrowed and used from their positions.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "compress/codec_fn.h"
#include "compress/component.h"
#include "compress/direction.h"
#include "compress/events.h"
#include "compress/stream.h"

namespace vorn {

struct TCodecRun;
struct TCodecResult;

// What CompressStream wrote, so that callers need not read it back.
struct TCompressResult {
    uint8_t Method = 0;        // index of the method in the header ("NON" when stored)
    int64_t BytesWritten = 0;  // header and codec data; 0 for an empty source
    uint32_t Checksum = 0;     // as stored in the header, key included
};

// Whether an expanding run's codec data are scrambled with the Key, as in a
// stream of lock level 2, and are unscrambled as they are read. A
// compressing run scrambles what it writes whenever a Key is set, so its
// stream must be recorded at lock level 2. Without a Key nothing is
// scrambled.
enum class Scrambling { Off, On };

// The bytes from source's position to its end, which a compressed stream
// holds; refuses more than a stream can (kMaxStreamSize).
int32_t SizeToCompress(TStream& source);

class TVornCodec : public TComponent {
public:
    explicit TVornCodec(TComponent* owner = nullptr);
    ~TVornCodec() override;

    // Events; a handler is called only when assigned.
    TCompressEvent OnCompress;  // declared for custom compressors; not called here
    TExpandEvent OnExpand;
    TRecognizeEvent OnRecognize;
    TFilenameCheckEvent OnCheckFile;  // declared for file-level operations
    TShowProgressEvent OnShowProgress;

    // Settings of file-level operations, which this component does not run.
    bool MakeDirectories = false;
    bool ExceptionOnFileError = false;
    bool CheckSpaceBeforeExpand = false;

    int32_t Key = 0;  // 0: no key
    // Subtracted from the source size to give a compressing run's output budget.
    int32_t HeaderAllowance = 0;

    const std::string& TargetPath() const { return targetPath_; }
    void SetTargetPath(const std::string& value);
    // Milliseconds the last expansion took.
    int32_t ElapsedTicks() const { return elapsedTicks_; }

    // Method index 0..4 of an ID; asks OnRecognize about unknown IDs.
    uint8_t GetCompressMethod(const std::string& CompressID);

    // Expands the stream at source's position to dest's position: a
    // headerless source is copied through unchanged.
    void ExpandStream(TStream& dest, TStream& source);

    // Runs the method (or OnExpand) and judges the result: the byte sum and
    // the key rules, and for the built-in methods exactly destSize bytes
    // written from the codec data alone. A custom method whose OnExpand ran
    // ExpandWithEngine is held to the same and more: all of its data taken,
    // nothing found damaged, and no lock (no such method writes one).
    // EBadChecksum when that fails, or EInvalidKey for a locked stream,
    // which cannot tell damage from a key.
    void ExpandAndVerify(TStream& dest, TStream& source, int32_t sourceSize, int32_t destSize,
                         uint32_t storedChecksum, uint8_t method, const std::string& CompressID,
                         int32_t lockLevel);

    // For a custom method's OnExpand: runs expander over the engine as a
    // built-in method's expander runs (8 KB blocks, progress, cancel, the
    // byte sum of what it writes, which it returns), and leaves its
    // judgement to ExpandAndVerify.
    uint32_t ExpandWithEngine(TStream& dest, TStream& source, int32_t sourceSize, int32_t destSize,
                              CodecFn expander);

    // What follows is defined with the compressors (vorn_codec_compress.cpp),
    // which a program that only expands does not link.

    // Runs one codec over the engine in either direction; returns the bytes
    // written and sets checksum to the sum of the plain bytes. Expanding
    // checks nothing: the engine then tells how many bytes were written and
    // whether the codec read past the end of its data.
    int32_t RunCodec(TStream& dest, TStream& source, int32_t sourceSize, int32_t uncompressedSize,
                     uint8_t method, uint32_t& checksum, Direction direction,
                     Scrambling scrambling);

    // Writes a whole stream, header and codec data, from source's position
    // to its end. When the method cannot shrink the data it stores it as
    // "NON" instead, leaving no trace of the attempt. An empty source gives
    // an empty (headerless) stream. dest must be able to seek back: the
    // header is completed when the data is done.
    TCompressResult CompressStream(TStream& dest, TStream& source, uint8_t method);

private:
    // One codec run over the engine, and what it gave (codec_internal.h).
    TCodecResult Run(const TCodecRun& run);
    // The stored copy that replaces a compressing run which could not shrink its data.
    TCodecResult StoreInstead(TStream& dest, TStream& source, int64_t sourceStart, int64_t destStart,
                              int32_t size);

    // What ExpandWithEngine found in the custom run under way.
    struct TEngineRun {
        uint32_t Checksum = 0;
        int64_t Written = 0;
        bool Truthful = false;  // all data taken, none past the end, nothing damaged
    };

    // The engine, for the library's own code and its tests (codec_internal.h).
    friend TCodecState& EngineOf(TVornCodec& codec);

    std::unique_ptr<TCodecState> engine_;
    std::optional<TEngineRun> customRun_;
    int32_t elapsedTicks_ = 0;
    std::string targetPath_;
};

}  // namespace vorn
