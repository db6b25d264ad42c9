// The LZM expander's outer layer: the head, the arrays of a run (or of a
// chain, lent to it), and the hand-over of what the decoder writes, through
// the branch filter and the CRC-32, to the engine.
#include "compress/lzma/lzma_expand.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "compress/expand_text.h"
#include "compress/lzma/crc32.h"
#include "compress/lzma/lzma_decoder.h"

namespace vorn {

namespace lzma {

TDecoder::TDecoder(TCodecState& s, const TLzmaHead& head, uint32_t size, uint32_t reach)
    : s_(s), st_(s.Lzma), head_(head), size_(size), reach_(reach), filter_(head.X86Scope()) {
    rc_.Engine = &s;
    lc_ = head.Lc;
    lpMask_ = (1u << head.Lp) - 1;
    pbMask_ = (1u << head.Pb) - 1;
    cycle_ = reach_ + kMatchCopySlack;
}

void TDecoder::Obtain(bool models) {
    if (models) {
        st_.Models = std::make_unique_for_overwrite<TLzmaModels>();
        st_.Literals = std::make_unique_for_overwrite<uint16_t[]>(LiteralProbabilities(head_));
        // Room behind the cycle for what a match copy writes past its end.
        st_.Dictionary.reset();  // a chain's old one, before the new one comes
        st_.Dictionary = std::make_unique_for_overwrite<TOctet[]>(size_t{cycle_} + kMatchCopySlack);
    }
    if (head_.Filter != LzmaFilter::None)
        st_.Staging = std::make_unique_for_overwrite<uint8_t[]>(kBatchBytes + kX86HeldBack);
    st_.CrcTable = std::make_unique_for_overwrite<uint32_t[]>(kCrcTableSize);
    BuildCrcTable(st_.CrcTable.get());
    carryless_ = HasCarrylessMultiply();
}

// The seed's bytes in the dictionary, as if they had just been expanded
// (the constructor's reach holds them all); false when the installer does
// not hold them.
bool TDecoder::Seed(TStream& installer) {
    const int64_t back = installer.Position();
    installer.Seek(head_.SeedStart);
    const size_t got = installer.Read(st_.Dictionary.get(), head_.SeedSize);
    installer.Seek(back);
    regs_.Position = regs_.At = head_.SeedSize;
    return got == head_.SeedSize;
}

// n decoded bytes at start, in the dictionary, go on.
void TDecoder::Advance(TOctet* start, uint32_t n) {
    Emit(reinterpret_cast<uint8_t*>(start), n);
    regs_.Position += n;
    linkDone_ += n;
    regs_.At += n;
    if (regs_.At == cycle_) {
        regs_.At = 0;
        regs_.Wrapped = true;
    }
}

// Passes decoded bytes on, through the filter when there is one.
void TDecoder::Emit(uint8_t* bytes, uint32_t n) {
    uint8_t* const staging = st_.Staging.get();
    if (!staging) {
        Hand(bytes, n);
        return;
    }
    std::memcpy(staging + kept_, bytes, n);
    const uint32_t inFlight = kept_ + n;
    const auto ready = static_cast<uint32_t>(filter_.Convert(staging, inFlight));
    Hand(staging, ready);
    kept_ = inFlight - ready;
    std::memmove(staging, staging + ready, kept_);
}

void TDecoder::Hand(const uint8_t* bytes, uint32_t n) {
    crc_ = UpdateCrc32(st_.CrcTable.get(), crc_, bytes, n, carryless_);
    const auto* from = reinterpret_cast<const TOctet*>(bytes);
    Deliver(s_, from, from + n);
}

namespace {

// The literal coders of a chain's properties: lc + lp at most this.
constexpr int kMaxChunkLiteralBits = 4;

// The arrays of one run, released on every way out of it.
class TLzmaArrays {
public:
    explicit TLzmaArrays(TLzmaState& st) : st_(st) {}
    ~TLzmaArrays() {
        st_.Models.reset();
        st_.Literals.reset();
        st_.Dictionary.reset();
        st_.Staging.reset();
        st_.CrcTable.reset();
    }
    TLzmaArrays(const TLzmaArrays&) = delete;
    TLzmaArrays& operator=(const TLzmaArrays&) = delete;

private:
    TLzmaState& st_;
};

// Lends a chain's arrays to the run of one link and takes them back when
// the link came out whole; otherwise they go with the run's (TLzmaArrays).
class TChainLoan {
public:
    TChainLoan(TLzmaState& st, bool lent) : st_(st), lent_(lent) {
        if (lent_) Swap();
    }
    ~TChainLoan() {
        if (lent_ && st_.Chain.Intact) Swap();
    }
    TChainLoan(const TChainLoan&) = delete;
    TChainLoan& operator=(const TChainLoan&) = delete;

private:
    void Swap() {
        std::swap(st_.Models, st_.Chain.Models);
        std::swap(st_.Literals, st_.Chain.Literals);
        std::swap(st_.Dictionary, st_.Chain.Dictionary);
    }
    TLzmaState& st_;
    const bool lent_;
};

// Whether a link may run: one at offset 0 starts the chain afresh (and
// obtains new arrays); any other must go on from where the chain stands,
// in the same dictionary. The chain stays broken unless the link comes out
// whole.
bool JoinChain(TChainState& chain, const TLzmaHead& head) {
    const bool follows = chain.Intact && chain.Expanded == head.ChainOffset &&
                         chain.DictionarySize == head.DictionarySize && chain.Properties == head.Properties();
    chain.Intact = false;
    if (head.ChainOffset != 0) return follows;
    if (head.Lc + head.Lp > kMaxChunkLiteralBits) return false;
    chain.Expanded = 0;
    chain.HasDictionary = false;
    chain.Properties = head.Properties();
    chain.DictionarySize = head.DictionarySize;
    return true;
}

// Where a chain stood before a link tried to join it (JoinChain breaks it).
struct TChainStand {
    bool Intact;
    uint8_t Properties;
    uint32_t DictionarySize, Expanded;
};

// Why a head that cannot start a run was refused, told against its chain;
// a seeded one that passes the checks came with no installer.
LzmaFault HeadFault(const TChainStand& before, const uint8_t* bytes, size_t n, const std::optional<TLzmaHead>& head,
                    int32_t uncompressedSize) {
    if (!head) return TLzmaHead::Problem(bytes, n);
    if (head->Chained && head->ChainOffset == 0) return LzmaFault::ChainLiteralBits;
    if (head->Chained) {
        if (!before.Intact) return LzmaFault::NoChain;
        if (head->ChainOffset > before.Expanded) return LzmaFault::OffsetPastChain;
        if (head->ChainOffset < before.Expanded) return LzmaFault::OffsetInsideChain;
        if (before.DictionarySize != head->DictionarySize || before.Properties != head->Properties())
            return LzmaFault::ChainMismatch;
    }
    if (uncompressedSize >= 0 && head->Seeded()) return LzmaFault::NoSeed;
    return uncompressedSize < 0 ? LzmaFault::NegativeSize : LzmaFault::None;
}

}  // namespace

}  // namespace lzma

using namespace lzma;

void LzmaExpand(TCodecState& s, int32_t uncompressedSize) {
    uint8_t bytes[kMaxHeadSize];
    size_t n = 0;
    // A chained head is longer by its chain offset, a seeded one by its
    // seed's place, and either by the code range of a filter confined to code.
    for (size_t want = kHeadSize; n < want; ++n) {
        bytes[n] = ReadSourceByte(s);
        if (s.SourceExhausted) {
            s.ReadPastEnd = true;
            if (LzmaFaultsNamed()) s.Lzma.Fault = LzmaFault::HeadCutShort;
            return;
        }
        if (n == 0 && bytes[0] == kChainedHeadVersion) want = kChainedHeadSize;
        if (n == 0 && bytes[0] == kSeededHeadVersion) want = kSeededHeadSize;
        if (n == 6 && ConfinedToCode(static_cast<LzmaFilter>(bytes[6]))) want += kCodeRangeSize;
    }
    const std::optional<TLzmaHead> head = TLzmaHead::Decode(bytes, n);
    TChainState& chain = s.Lzma.Chain;
    const TChainStand before{chain.Intact, chain.Properties, chain.DictionarySize, chain.Expanded};
    const bool chained = head && head->Chained;
    TStream* const installer = s.Lzma.SeedSource;
    if (!head || (chained && !JoinChain(chain, *head)) || (head->Seeded() && !installer) || uncompressedSize < 0) {
        // Only a build that names faults tells them apart; the installer's folds this away.
        Refuse(s, LzmaFaultsNamed() ? HeadFault(before, bytes, n, head, uncompressedSize) : LzmaFault::None);
        return;
    }
    const auto size = static_cast<uint32_t>(uncompressedSize);
    const uint32_t reach = std::max(head->DictionarySize, kMinDictionary);
    TLzmaArrays arrays(s.Lzma);
    TChainLoan loan(s.Lzma, chained);
    // The seed and the data: at most 64 MiB and 2 GiB, no overflow.
    TDecoder decoder(s, *head, size, chained ? reach : std::min(reach, head->SeedSize + size));
    decoder.Obtain(!chained || head->ChainOffset == 0);
    if (head->Seeded() && !decoder.Seed(*installer)) {
        Refuse(s, LzmaFault::NoSeed);
        return;
    }
    decoder.Run(chained ? &chain : nullptr);
}

}  // namespace vorn
