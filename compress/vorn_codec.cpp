// TVornCodec's expand side and the engine around every codec run; the
// compress side is in vorn_codec_compress.cpp, with the compressors.
#include "compress/vorn_codec.h"

#include <algorithm>
#include <limits>

#include "compress/clock.h"
#include "compress/codec_internal.h"
#include "compress/exceptions.h"
#include "compress/vorn_header.h"

namespace vorn {

namespace {

int32_t ClampToInt32(int64_t n) {
    return static_cast<int32_t>(std::clamp<int64_t>(n, 0, kMaxStreamSize));
}

// Frees the run's buffers on every path out of it.
struct RunBuffers {
    explicit RunBuffers(TCodecState& state) : s(state) {
        s.InBuffer = std::make_unique_for_overwrite<TOctet[]>(kEngineBlockSize);
        s.OutBuffer = std::make_unique_for_overwrite<TOctet[]>(kEngineBlockSize);
        s.InPos = s.InEnd = s.InLimit = s.InSettled = s.InBuffer.get();
        s.OutPos = s.OutSettled = s.OutLimit = s.OutBuffer.get();
        s.OutEnd = s.OutPos + kEngineBlockSize;
    }
    ~RunBuffers() {
        s.InBuffer.reset();
        s.OutBuffer.reset();
        s.InPos = s.InEnd = s.InLimit = s.InSettled = nullptr;
        s.OutPos = s.OutEnd = s.OutSettled = s.OutLimit = nullptr;
    }
    TCodecState& s;
};

// The engine's state at the start of a run.
void PrepareEngine(TCodecState& s, const TCodecRun& run, int32_t key) {
    s.SourceStream = &run.Source;
    s.DestStream = &run.Dest;
    s.SourceExhausted = false;
    s.FirstByte = true;
    s.RunByte = 0;
    s.InRun = false;
    s.RunCount = 0;
    s.SourceRemaining = run.SourceSize;
    s.ReadChunk = kEngineBlockSize;
    s.ReadChecksum = 0;
    s.WriteChecksum = 0;
    s.BytesRead = 0;
    s.OutputBudget = run.OutputBudget;
    s.ScrambleOutput = key != 0 && run.Direction == Direction::Compress;
    s.UnscrambleInput = key != 0 && run.Direction == Direction::Expand && run.Scrambling == Scrambling::On;
    for (int i = 0; i < 4; ++i) s.KeyBytes[i] = static_cast<uint8_t>(static_cast<uint32_t>(key) >> (8 * i));
    s.KeyIndex = 0;
}

}  // namespace

TVornCodec::TVornCodec(TComponent* owner)
    : TComponent(owner), engine_(std::make_unique<TCodecState>()) {}

TVornCodec::~TVornCodec() = default;

void TVornCodec::SetTargetPath(const std::string& value) {
    targetPath_ = value;
    if (!value.empty() && value.back() != '\\') targetPath_ += '\\';
}

uint8_t TVornCodec::GetCompressMethod(const std::string& CompressID) {
    for (uint8_t i = 0; i < CompressionIDs.size(); ++i)
        if (CompressID == CompressionIDs[i]) return i;
    if (OnRecognize) {
        bool recognized = false;
        OnRecognize(CompressID, recognized);
        if (recognized) return kMethodCustom;
    }
    throw EUnrecognizedCompressionMethod(CompressID);
}

void TVornCodec::ExpandStream(TStream& dest, TStream& source) {
    const int64_t start = source.Position();
    int64_t remaining = source.Size() - start;
    if (remaining <= kHeaderSize) {  // headerless: all of it is data, taken as it comes
        ExpandAndVerify(dest, source, ClampToInt32(remaining), ClampToInt32(remaining), 0, kMethodStored, "", 0);
        return;
    }
    uint8_t bytes[kHeaderSize];
    const size_t got = source.Read(bytes, kHeaderSize);
    const TVornHeader header = TVornHeader::Decode(bytes);
    if (got < kHeaderSize || !header.HasMagic()) {
        source.Seek(start);
        dest.CopyFrom(source, remaining);
        return;
    }
    if (header.ArchiveType != 0) throw EInvalidHeaderArchiveType();
    const std::string id = header.Id();
    const uint8_t method = GetCompressMethod(id);
    remaining -= kHeaderSize;
    // A negative size from a damaged header promises nothing.
    if (header.UncompressedSize > 0) dest.Expect(header.UncompressedSize);
    ExpandAndVerify(dest, source, ClampToInt32(remaining), header.UncompressedSize,
                    header.Checksum, method, id, header.LockLevel);
}

void TVornCodec::ExpandAndVerify(TStream& dest, TStream& source, int32_t sourceSize,
                                 int32_t destSize, uint32_t storedChecksum, uint8_t method,
                                 const std::string& CompressID, int32_t lockLevel) {
    if (lockLevel > 0 && Key == 0) throw EInvalidKey();
    uint32_t computed = 0;
    bool truthful = true;  // what a custom handler wrote is its own affair
    const uint32_t started = TickCount();
    elapsedTicks_ = static_cast<int32_t>(started);
    if (method == kMethodCustom) {
        customRun_.reset();
        if (OnExpand) {
            int32_t checksum = 0;
            OnExpand(dest, source, sourceSize, destSize, CompressID, checksum);
            computed = static_cast<uint32_t>(checksum);
        }
        if (customRun_) {
            computed = customRun_->Checksum;
            truthful = customRun_->Truthful && customRun_->Written == destSize && lockLevel == 0;
        }
    } else {
        try {
            // Expanding has no budget: the count is judged against the
            // header afterwards, and a budget would report a compressing failure.
            computed = Run({dest, source, sourceSize, destSize, ExpanderFor(method), Direction::Expand,
                            lockLevel == 2 ? Scrambling::On : Scrambling::Off})
                           .Checksum;
        } catch (const ELZHBadDecodeTable&) {
            // On a locked stream a bad table most likely means a wrong key.
            if (lockLevel > 0) throw EInvalidKey();
            throw;
        }
        // A byte sum misses zeros that are missing or invented: the run must
        // also have written exactly the header's size from its own data.
        truthful = engine_->OutCount == destSize && !engine_->ReadPastEnd;
    }
    elapsedTicks_ = static_cast<int32_t>(TickCount() - started);

    if (truthful && computed == storedChecksum) return;
    if (truthful && !SumIsCompared(method, storedChecksum)) return;
    if (lockLevel <= 0) throw EBadChecksum();
    if (truthful && static_cast<uint32_t>(Key) + computed == storedChecksum) return;
    throw EInvalidKey();
}

uint32_t TVornCodec::ExpandWithEngine(TStream& dest, TStream& source, int32_t sourceSize,
                                      int32_t destSize, CodecFn expander) {
    const TCodecResult result = Run({dest, source, sourceSize, destSize, expander});
    const TCodecState& s = *engine_;
    customRun_ = TEngineRun{result.Checksum, s.OutCount, !s.ReadPastEnd && !s.Damaged && !s.DataLeft};
    return result.Checksum;
}

TCodecResult TVornCodec::Run(const TCodecRun& run) {
    TCodecState& s = *engine_;
    s.OutCount = 0;  // a run cancelled at the start wrote nothing
    s.ReadPastEnd = false;
    s.Damaged = false;
    s.DataLeft = run.SourceSize > 0;  // until the codec has run
    s.ProgressHandler = OnShowProgress;
    if (OnShowProgress) {
        int32_t percent = 0;
        OnShowProgress(percent);
        if (percent == -1) return {.CancelledAtStart = true};
    }
    TCodecResult result;
    {
        RunBuffers buffers(s);
        PrepareEngine(s, run, Key);
        if (run.Codec) run.Codec(s, run.UncompressedSize);
        s.DataLeft = s.InPos != s.InEnd || s.SourceRemaining > 0;
        SettleCounts(s);
        result.Checksum = run.Direction == Direction::Expand ? s.WriteChecksum : s.ReadChecksum;
        if (s.OutPos != s.OutBuffer.get())
            run.Dest.Write(s.OutBuffer.get(), static_cast<size_t>(s.OutPos - s.OutBuffer.get()));
    }
    if (OnShowProgress) {
        int32_t percent = 100;
        OnShowProgress(percent);
    }
    result.Written = ClampToInt32(s.OutCount);
    return result;
}

}  // namespace vorn
