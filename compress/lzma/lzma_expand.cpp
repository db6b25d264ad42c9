// LZM expander: the range decoder, the LZMA symbol decoder over a circular
// dictionary, the LZMA2 chunks of a chain's links, and the hand-over of
// what it decodes, through the branch filter and the CRC-32, to the engine.
#include "compress/lzma/lzma_expand.h"

#include <algorithm>
#include <cstring>
#include <type_traits>
#include <utility>

#include "compress/expand_text.h"
#include "compress/lzma/crc32.h"
#include "compress/lzma/lzma_format.h"
#include "compress/lzma/x86_filter.h"

namespace vorn {

namespace {

using namespace lzma;

// The range decoder. Code is the offset of the coded point inside an
// interval Range wide. Between bits Range >= kRangeTop, so an 11-bit
// probability splits it with both parts non-empty, and for sound data
// Code < Range. Normalize is the one place where the interval widens and a
// byte comes in; it runs after every bit, so the decoder takes exactly the
// bytes the encoder wrote, no more.
constexpr uint32_t kRangeTop = 1u << 24;
constexpr int kCodeBytes = 4;  // behind a first byte that is always 0

// The next byte through the engine once the stretch in hand is used up.
uint32_t ByteFromEngine(TCodecState& s, const TOctet* used) {
    TakeInput(s, static_cast<size_t>(used - s.InPos));
    if (s.SourceExhausted) return 0;  // a cancelled run is not asked again
    return ReadSourceByte(s);
}

// The coder's working values, copied out of TRangeDecoder for a run of
// bits: as locals whose address no call sees, they stay in machine
// registers, where the decoder's own fields (whose address every call
// takes) are stored and loaded around each bit. The input position stays
// in the decoder: a byte comes in only every few bits.
struct TCoderRegisters {
    uint32_t Range;
    uint32_t Code;
};

struct TRangeDecoder {
    TCodecState* Engine = nullptr;
    uint32_t Range = 0xFFFFFFFFu;
    uint32_t Code = 0;
    // The readable stretch of the engine's input block, held here and
    // handed back (Detach) before anything else reads the engine's input.
    const TOctet* InPos = nullptr;
    const TOctet* InEnd = nullptr;
    bool Overran = false;  // a byte past the end of the data was made up as 0

    void Attach() {
        InPos = Engine->InPos;
        InEnd = InPos + InputStretch(*Engine);
    }
    void Detach() const { TakeInput(*Engine, static_cast<size_t>(InPos - Engine->InPos)); }

    // Inline even in the stub: a call for each byte in costs 2-4 % of its
    // decoding, the copies 240 bytes.
    [[gnu::always_inline]] uint32_t NextByte() {
        if (InPos != InEnd) [[likely]]
            return static_cast<uint8_t>(*InPos++);
        return ByteFromNextStretch();
    }
    // Out of line: every inline bit carries a call to it, not its body.
    [[gnu::noinline]] uint32_t ByteFromNextStretch() {
        const uint32_t b = ByteFromEngine(*Engine, InPos);
        Attach();
        Overran |= Engine->SourceExhausted;
        return b;
    }

    TCoderRegisters Load() const { return {Range, Code}; }
    void Store(const TCoderRegisters& r) {
        Range = r.Range;
        Code = r.Code;
    }

    [[gnu::always_inline]] void Normalize(TCoderRegisters& r) {
        if (r.Range >= kRangeTop) return;
        r.Range <<= 8;
        r.Code = r.Code << 8 | NextByte();
    }
    [[gnu::always_inline]] uint32_t Bit(TCoderRegisters& r, uint16_t& prob) {
        const uint32_t p = prob;
        const uint32_t bound = (r.Range >> kProbBits) * p;
        uint32_t bit;
        if (r.Code < bound) {
            r.Range = bound;
            prob = static_cast<uint16_t>(p + ((kProbOne - p) >> kProbMoveBits));
            bit = 0;
        } else {
            r.Range -= bound;
            r.Code -= bound;
            prob = static_cast<uint16_t>(p - (p >> kProbMoveBits));
            bit = 1;
        }
        Normalize(r);
        return bit;
    }
    // Bit for bits a predictor guesses badly (a literal's, a length's, a
    // distance's): both outcomes are worked out and one is selected, with
    // no branch to mispredict.
    [[gnu::always_inline]] uint32_t UnpredictableBit(TCoderRegisters& r, uint16_t& prob) {
        const uint32_t p = prob;
        const uint32_t bound = (r.Range >> kProbBits) * p;
        const uint32_t bit = r.Code >= bound;
        const uint32_t ifOne = 0u - bit;  // selects by masks: a compiler turns ?: back into branches
        r.Code -= bound & ifOne;
        r.Range = bound + ((r.Range - bound - bound) & ifOne);
        // p + (kProbOne - p) / 32 after a 0 and p - p / 32 after a 1, both
        // rounded down, as one flooring shift: p - floor((p - target) / 32).
        const uint32_t target = (kProbOne - (1u << kProbMoveBits) + 1) & ~ifOne;
        prob = static_cast<uint16_t>(p - static_cast<uint32_t>(static_cast<int32_t>(p - target) >> kProbMoveBits));
        Normalize(r);
        return bit;
    }
    // The runs of bits below are each a function of their own with one copy
    // of the inline bit, which the installer stub (built for size, for
    // i686 with its seven registers) carries once: this keeps the stub's
    // decoding about a third faster for a few hundred bytes.
    [[gnu::noinline]] uint32_t Bit(uint16_t& prob) {
        TCoderRegisters r = Load();
        const uint32_t bit = Bit(r, prob);
        Store(r);
        return bit;
    }

    // A plain literal: eight bits of a bit tree, probs[1] the root.
    [[gnu::noinline]] uint32_t Literal(uint16_t* probs) {
        TCoderRegisters r = Load();
        uint32_t symbol = 1;
        do symbol = symbol << 1 | UnpredictableBit(r, probs[symbol]);
        while (symbol < 0x100);
        Store(r);
        return symbol & 0xFF;
    }
    // A literal after a match: two further trees serve the bits while they
    // agree with the byte at the last distance; offset drops to 0 at the
    // first bit that differs.
    [[gnu::noinline]] uint32_t MatchedLiteral(uint16_t* probs, uint32_t match) {
        TCoderRegisters r = Load();
        uint32_t symbol = 1;
        uint32_t offset = 0x100;
        do {
            match <<= 1;
            const uint32_t bit = Bit(r, probs[offset + (match & offset) + symbol]);
            symbol = symbol << 1 | bit;
            offset &= bit ? match : ~match;
        } while (symbol < 0x100 && offset != 0);
        // Past the first bit that differs (offset 0) the bits are a plain
        // literal's, as hard to predict.
        while (symbol < 0x100) symbol = symbol << 1 | UnpredictableBit(r, probs[symbol]);
        Store(r);
        return symbol & 0xFF;
    }
    // A bit tree of `bits` levels, the top bit first: probs[1] is the root.
    [[gnu::noinline]] uint32_t Tree(uint16_t* probs, int bits) {
        TCoderRegisters r = Load();
        const uint32_t top = 1u << bits;
        uint32_t m = 1;
        do m = m << 1 | UnpredictableBit(r, probs[m]);
        while (m < top);
        Store(r);
        return m - top;
    }
    // The same tree walked from the lowest bit.
    [[gnu::noinline]] uint32_t ReverseTree(uint16_t* probs, int bits) {
        TCoderRegisters r = Load();
        uint32_t m = 1;
        uint32_t value = 0;
        for (int i = 0; i < bits; ++i) {
            const uint32_t b = UnpredictableBit(r, probs[m]);
            m = m << 1 | b;
            value |= b << i;
        }
        Store(r);
        return value;
    }
    // Bits of even probability, the top bit first.
    uint32_t Direct(int bits) {
        TCoderRegisters r = Load();
        uint32_t value = 0;
        for (int i = 0; i < bits; ++i) {
            r.Range >>= 1;
            const uint32_t b = r.Code >= r.Range;
            r.Code -= r.Range & (0u - b);
            value = value << 1 | b;
            Normalize(r);
        }
        Store(r);
        return value;
    }

    // A match length less kMinMatch.
    uint32_t Length(TLengthModel& m, uint32_t posState) {
        if (!Bit(m.Choice)) return Tree(m.Low[posState], kLowBits);
        if (!Bit(m.Choice2)) return kLowSymbols + Tree(m.Mid[posState], kMidBits);
        return kLowSymbols + kMidSymbols + Tree(m.High, kHighBits);
    }
    // A match distance less one, for a length less kMinMatch.
    uint32_t Distance(TLzmaModels& m, uint32_t length) {
        const uint32_t slot = Tree(m.Slot[std::min<uint32_t>(length, kLengthStates - 1)], kSlotBits);
        if (slot < kFirstTreeSlot) return slot;
        const int lowBits = static_cast<int>(slot >> 1) - 1;
        const uint32_t base = (2 | (slot & 1)) << lowBits;
        if (slot < kFirstDirectSlot) return base + ReverseTree(m.TreeDistance + base - slot, lowBits);
        const uint32_t middle = Direct(lowBits - kAlignBits) << kAlignBits;
        return base + middle + ReverseTree(m.Align, kAlignBits);
    }
};

// State changes after each kind of symbol (states 0 to 6 follow a literal).
constexpr uint8_t kAfterLiteral[kStates] = {0, 0, 0, 0, 1, 2, 3, 4, 5, 6, 4, 5};
constexpr uint32_t AfterMatch(uint32_t state) { return state < kLiteralStates ? 7 : 10; }
constexpr uint32_t AfterRep(uint32_t state) { return state < kLiteralStates ? 8 : 11; }
constexpr uint32_t AfterShortRep(uint32_t state) { return state < kLiteralStates ? 9 : 11; }

// Decoded bytes go to the engine a batch at a time; the branch filter's
// staging buffer holds one batch behind the bytes it keeps back.
constexpr uint32_t kBatchBytes = 1u << 16;

// A chain's LZMA2 chunks. The control byte: 0x00 ends the whole stream,
// which a link never does (its size is its header's); 0x01 and 0x02 open a
// chunk stored as it is, with and without a dictionary reset, followed by
// its size less one (16 bits); from 0x80 an LZMA chunk, bits 5 and 6 saying
// what it resets, bits 0 to 4 the top of its unpacked size less one (21
// bits), followed by the rest of that, its packed size less one (16 bits,
// all big-endian) and, when it sets them, the properties byte.
constexpr uint32_t kStoredWithReset = 0x01;
constexpr uint32_t kStored = 0x02;
constexpr uint32_t kLzmaChunk = 0x80;
constexpr int kResetShift = 5;
constexpr uint32_t kUnpackedTopMask = 0x1F;
enum ChunkReset : uint32_t { kResetNothing, kResetState, kResetProperties, kResetDictionary };
// The literal coders of a chunk's properties: lc + lp at most this.
constexpr int kMaxChunkLiteralBits = 4;
static_assert(kBatchBytes >= 0x10000, "a stored chunk is emitted in one batch at most");

uint32_t LiteralProbabilities(const TLzmaHead& head) { return uint32_t{kLiteralCoderSize} << (head.Lc + head.Lp); }

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

class TDecoder {
public:
    // The dictionary reaches as far as the data reach, or for a chain's
    // link as far as the head says, whatever the link's size.
    TDecoder(TCodecState& s, const TLzmaHead& head, uint32_t size, uint32_t reach)
        : s_(s), st_(s.Lzma), head_(head), size_(size), reach_(reach) {
        rc_.Engine = &s;
        lc_ = head.Lc;
        lpMask_ = (1u << head.Lp) - 1;
        pbMask_ = (1u << head.Pb) - 1;
        cycle_ = reach_ + kMatchCopySlack;
    }

    // The arrays of the run: all of them, or for a link that goes on in a
    // chain only its own (the filter's and the CRC's).
    void Obtain(bool models) {
        if (models) {
            st_.Models = std::make_unique_for_overwrite<TLzmaModels>();
            st_.Literals = std::make_unique_for_overwrite<uint16_t[]>(LiteralProbabilities(head_));
            // Room behind the cycle for what a match copy writes past its end.
            st_.Dictionary.reset();  // a chain's old one, before the new one comes
            st_.Dictionary = std::make_unique_for_overwrite<TOctet[]>(size_t{cycle_} + kMatchCopySlack);
        }
        if (head_.Filter == LzmaFilter::X86)
            st_.Staging = std::make_unique_for_overwrite<uint8_t[]>(kBatchBytes + kX86HeldBack);
        st_.CrcTable = std::make_unique_for_overwrite<uint32_t[]>(kCrcTableSize);
        BuildCrcTable(st_.CrcTable.get());
        carryless_ = HasCarrylessMultiply();
    }

    // A lone stream is one stretch of LZMA data up to the size. A link of
    // chain (whose arrays the run has borrowed) goes on where the last link
    // stopped, with chunks up to its size and nothing after them, and
    // leaves the chain intact only when it comes out whole.
    void Run(TChainState* chain) {
        chain_ = chain;
        if (chain) {
            done_ = chain->Position;
            pos_ = chain->At;
            full_ = chain->Wrapped;
            state_ = chain->State;
            rep0_ = chain->Rep0;
            rep1_ = chain->Rep1;
            rep2_ = chain->Rep2;
            rep3_ = chain->Rep3;
        }
        rc_.Attach();  // a chain's chunk headers and stored chunks come through it too
        // A lone stream's range coder starts even for no bytes at all.
        for (bool lone = !chain; (lone || linkDone_ < size_) && !Stopped(); lone = false) {
            uint32_t end = size_, reset = kResetState, packed = 0;
            if (chain && !NextChunk(end, reset, packed)) continue;
            if (reset >= kResetState) {
                ResetProbabilities();
                state_ = rep0_ = rep1_ = rep2_ = rep3_ = 0;
            }
            // Each chunk's range coder starts afresh, takes exactly its
            // packed size and ends on a symbol, with no end marker.
            rc_.Range = 0xFFFFFFFFu;
            rc_.Code = 0;
            const uint32_t before = Untaken();
            if (!StartRange()) break;
            while (linkDone_ < end && !Stopped()) DecodeBatch(std::min({cycle_ - pos_, end - linkDone_, kBatchBytes}));
            if (chain && (ended_ || (!Stopped() && (pending_ > 0 || rc_.Code != 0 || before - Untaken() != packed))))
                s_.Damaged = true;
        }
        if (chain && !Stopped() && Untaken() != 0) s_.Damaged = true;
        Finish();
        if (chain && !Stopped()) Suspend();
    }

private:
    bool Stopped() const { return rc_.Overran || ended_ || s_.Damaged; }

    void ResetProbabilities() {
        static_assert(std::is_standard_layout_v<TLzmaModels> && sizeof(TLzmaModels) % sizeof(uint16_t) == 0);
        std::fill_n(reinterpret_cast<uint16_t*>(st_.Models.get()), sizeof(TLzmaModels) / sizeof(uint16_t),
                    kProbInitial);
        std::fill_n(st_.Literals.get(), LiteralProbabilities(head_), kProbInitial);
    }

    // The registers go back to the chain, for its next link.
    void Suspend() {
        TChainState& chain = *chain_;
        chain.Position = done_;
        chain.At = pos_;
        chain.Wrapped = full_;
        chain.State = state_;
        chain.Rep0 = rep0_;
        chain.Rep1 = rep1_;
        chain.Rep2 = rep2_;
        chain.Rep3 = rep3_;
        chain.Expanded += size_;
        chain.Intact = true;
    }

    // n bytes of codec data as they are; false, the link stopped, when
    // they run out.
    bool Take(uint8_t* to, uint32_t n) {
        for (uint32_t i = 0; i < n; ++i) to[i] = static_cast<uint8_t>(rc_.NextByte());
        return !rc_.Overran;
    }
    // Codec data the range decoder has not taken, modulo 2^32, which keeps
    // differences exact.
    uint32_t Untaken() const {
        return static_cast<uint32_t>(s_.SourceRemaining) + static_cast<uint32_t>(s_.InEnd - rc_.InPos);
    }

    // A chunk's header, behind a dictionary reset and inside the link; a
    // stored chunk goes on at once. For an LZMA chunk: true, with where its
    // bytes end, what it resets and its packed size.
    bool NextChunk(uint32_t& end, uint32_t& reset, uint32_t& packed) {
        uint8_t header[6];  // control, sizes less one, properties
        if (!Take(header, 1)) return false;
        const uint32_t control = header[0];
        const bool lzma = control >= kLzmaChunk;
        if (!lzma && control != kStoredWithReset && control != kStored) {
            s_.Damaged = true;  // the end of the stream, or no chunk at all
            return false;
        }
        reset = lzma ? control >> kResetShift & 3 : control == kStoredWithReset ? kResetDictionary : kResetNothing;
        if (!Take(header + 1, lzma ? 4 + (reset >= kResetProperties) : 2)) return false;
        const uint32_t unpacked = (lzma ? (control & kUnpackedTopMask) << 16 : 0) + (header[1] << 8 | header[2]) + 1;
        TChainState& chain = *chain_;
        if (reset == kResetDictionary) {
            pos_ = 0;
            full_ = false;
            done_ = 0;
            chain.HasDictionary = true;
            chain.HasProperties = false;
        }
        if (lzma && reset >= kResetProperties) chain.HasProperties = header[5] == head_.Properties();
        if (!chain.HasDictionary || (lzma && !chain.HasProperties) || unpacked > size_ - linkDone_) {
            s_.Damaged = true;
            return false;
        }
        end = linkDone_ + unpacked;
        packed = (header[3] << 8 | header[4]) + 1;
        if (lzma) return true;
        while (linkDone_ < end) {  // stored chunks are rare: byte by byte
            const uint32_t room = std::min(cycle_ - pos_, end - linkDone_);
            TOctet* const start = st_.Dictionary.get() + pos_;
            if (!Take(reinterpret_cast<uint8_t*>(start), room)) break;
            Advance(start, room);
        }
        return false;
    }

    // n decoded bytes at start, in the dictionary, go on.
    void Advance(TOctet* start, uint32_t n) {
        Emit(reinterpret_cast<uint8_t*>(start), n);
        done_ += n;
        linkDone_ += n;
        pos_ += n;
        if (pos_ == cycle_) {
            pos_ = 0;
            full_ = true;
        }
    }

    // Up to room bytes decoded into the dictionary and passed on; the one
    // place that calls Decode, so that the installer carries it once.
    void DecodeBatch(uint32_t room) {
        TOctet* const start = st_.Dictionary.get() + pos_;
        Advance(start, static_cast<uint32_t>(Decode(start, start + room) - start));
    }

    bool StartRange() {
        const uint32_t first = rc_.NextByte();
        for (int i = 0; i < kCodeBytes; ++i) rc_.Code = rc_.Code << 8 | rc_.NextByte();
        if (first != 0 || rc_.Code == rc_.Range) s_.Damaged = true;
        return !Stopped();
    }

    // Where a distance (less one) stops being valid at `out`: behind the
    // bytes decoded so far and inside the dictionary.
    uint32_t Reach(const TOctet* out) const {
        if (full_) return reach_;
        return std::min(static_cast<uint32_t>(out - st_.Dictionary.get()), reach_);
    }

    TOctet ByteAt(const TOctet* out, uint32_t distance) const {
        const TOctet* const dict = st_.Dictionary.get();
        const auto at = static_cast<uint32_t>(out - dict);
        return dict[at > distance ? at - distance - 1 : at + cycle_ - distance - 1];
    }

    // Copies `length` bytes from distance + 1 back, as far as `limit`; what
    // does not fit is left in pending_.
    TOctet* Copy(TOctet* out, TOctet* limit, uint32_t distance, uint32_t length) {
        const uint32_t n = std::min(length, static_cast<uint32_t>(limit - out));
        pending_ = length - n;
        TOctet* const dict = st_.Dictionary.get();
        const auto at = static_cast<uint32_t>(out - dict);
        if (at > distance) [[likely]] {
            CopyMatch(out, distance, n);
            return out + n;
        }
        const TOctet* from = dict + at + cycle_ - distance - 1;
        const TOctet* const end = dict + cycle_;
        for (uint32_t i = 0; i < n; ++i) {
            *out++ = *from++;
            if (from == end) from = dict;
        }
        return out;
    }

    uint32_t PreviousByte(const TOctet* out) const {
        if (done_ == 0) return 0;
        return static_cast<uint8_t>(ByteAt(out, 0));
    }

    // The hot loop: symbols into the dictionary from out up to limit. Its
    // state sits in locals; the dictionary holds TOctet, whose stores
    // cannot change them.
    TOctet* Decode(TOctet* out, TOctet* const limit) {
        if (pending_ > 0) out = Copy(out, limit, rep0_, pending_);
        TRangeDecoder rc = rc_;
        TLzmaModels& m = *st_.Models;
        uint16_t* const literals = st_.Literals.get();
        // The rarer fields stay where they are: registers go to the ones
        // every symbol uses.
        uint32_t state = state_, rep0 = rep0_;
        // The position in the whole output of the byte at out, from its address.
        const uintptr_t posBase = reinterpret_cast<uintptr_t>(st_.Dictionary.get() + pos_) - done_;
        uint32_t prev = PreviousByte(out);
        // After a byte made up past the end the loop runs on to the limit,
        // at most a batch: the caller stops there.
        while (out < limit) {
            const auto pos = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(out) - posBase);
            const uint32_t posState = pos & pbMask_;
            if (!rc.Bit(m.IsMatch[state][posState])) {
                uint16_t* const probs =
                    literals + kLiteralCoderSize * (((pos & lpMask_) << lc_) + (prev >> (8 - lc_)));
                prev = state < kLiteralStates ? rc.Literal(probs)
                                              : rc.MatchedLiteral(probs, static_cast<uint8_t>(ByteAt(out, rep0)));
                *out++ = TOctet{static_cast<uint8_t>(prev)};
                state = kAfterLiteral[state];
                continue;
            }
            uint32_t length;
            if (!rc.Bit(m.IsRep[state])) {
                length = rc.Length(m.MatchLength, posState);
                const uint32_t distance = rc.Distance(m, length);
                if (distance == kEndMarkerDistance) {
                    ended_ = true;
                    break;
                }
                rep3_ = rep2_;
                rep2_ = rep1_;
                rep1_ = rep0;
                rep0 = distance;
                state = AfterMatch(state);
            } else {
                if (!rc.Bit(m.IsRepG0[state])) {
                    if (!rc.Bit(m.IsRep0Long[state][posState])) {
                        if (rep0 >= Reach(out)) {
                            s_.Damaged = true;
                            break;
                        }
                        state = AfterShortRep(state);
                        const TOctet b = ByteAt(out, rep0);
                        prev = static_cast<uint8_t>(b);
                        *out++ = b;
                        continue;
                    }
                } else {
                    uint32_t distance;
                    if (!rc.Bit(m.IsRepG1[state])) {
                        distance = rep1_;
                    } else {
                        if (!rc.Bit(m.IsRepG2[state])) {
                            distance = rep2_;
                        } else {
                            distance = rep3_;
                            rep3_ = rep2_;
                        }
                        rep2_ = rep1_;
                    }
                    rep1_ = rep0;
                    rep0 = distance;
                }
                length = rc.Length(m.RepLength, posState);
                state = AfterRep(state);
            }
            if (rep0 >= Reach(out)) {
                s_.Damaged = true;
                break;
            }
            out = Copy(out, limit, rep0, length + kMinMatch);
            prev = static_cast<uint8_t>(out[-1]);
        }
        rc_ = rc;
        state_ = state;
        rep0_ = rep0;
        return out;
    }

    // After the last byte: nothing, or an end marker.
    void Finish() {
        if (!Stopped()) {
            if (pending_ > 0)
                s_.Damaged = true;  // a match runs past the size
            else if (rc_.Code != 0)
                ReadEndMarker();
        }
        if (rc_.Overran) s_.ReadPastEnd = true;
        rc_.Detach();
        if (st_.Staging) Hand(st_.Staging.get(), kept_);  // the filter leaves the last bytes alone
        if (!Stopped() && linkDone_ == size_ && crc_ != head_.Crc32) {
            s_.Damaged = true;
            if (LzmaFaultsNamed()) s_.Lzma.Fault = LzmaFault::CrcDiffers;
        }
    }

    void ReadEndMarker() {
        TLzmaModels& m = *st_.Models;
        const uint32_t posState = done_ & pbMask_;
        bool marker = rc_.Bit(m.IsMatch[state_][posState]) && !rc_.Bit(m.IsRep[state_]);
        if (marker) marker = rc_.Distance(m, rc_.Length(m.MatchLength, posState)) == kEndMarkerDistance;
        if (!marker || rc_.Code != 0) s_.Damaged = true;
    }

    // Passes decoded bytes on, through the filter when there is one.
    void Emit(uint8_t* bytes, uint32_t n) {
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

    void Hand(const uint8_t* bytes, uint32_t n) {
        crc_ = UpdateCrc32(st_.CrcTable.get(), crc_, bytes, n, carryless_);
        const auto* from = reinterpret_cast<const TOctet*>(bytes);
        Deliver(s_, from, from + n);
    }

    TCodecState& s_;
    TLzmaState& st_;
    const TLzmaHead head_;
    const uint32_t size_;
    TRangeDecoder rc_;
    uint32_t lc_ = 0, lpMask_ = 0, pbMask_ = 0;
    uint32_t state_ = 0, rep0_ = 0, rep1_ = 0, rep2_ = 0, rep3_ = 0;
    uint32_t pending_ = 0;  // bytes of the last match still to copy
    uint32_t reach_ = 0;    // the dictionary: distances less one stay below it
    uint32_t cycle_ = 0;    // where the dictionary's writing wraps round
    uint32_t pos_ = 0;      // where the next byte goes in the dictionary
    bool full_ = false;     // the dictionary has wrapped round
    bool ended_ = false;    // an end marker came
    uint32_t done_ = 0;     // since the start, or for a chain since the last dictionary reset
    TChainState* chain_ = nullptr;  // a link's chain
    uint32_t linkDone_ = 0;         // a link's bytes so far
    TX86Decoder filter_;
    uint32_t kept_ = 0;  // bytes at the front of the staging buffer the filter holds back
    uint32_t crc_ = 0;
    bool carryless_ = false;  // the CRC may use carry-less multiplication
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

// Why a head that cannot start a run was refused, told against its chain.
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
    return uncompressedSize < 0 ? LzmaFault::NegativeSize : LzmaFault::None;
}

}  // namespace

void LzmaExpand(TCodecState& s, int32_t uncompressedSize) {
    uint8_t bytes[kChainedHeadSize];
    size_t n = 0;
    // A chained head is longer by its chain offset.
    for (size_t want = kHeadSize; n < want; ++n) {
        bytes[n] = ReadSourceByte(s);
        if (s.SourceExhausted) {
            s.ReadPastEnd = true;
            if (LzmaFaultsNamed()) s.Lzma.Fault = LzmaFault::HeadCutShort;
            return;
        }
        if (bytes[0] == kChainedHeadVersion) want = kChainedHeadSize;
    }
    const std::optional<TLzmaHead> head = TLzmaHead::Decode(bytes, n);
    TChainState& chain = s.Lzma.Chain;
    const TChainStand before{chain.Intact, chain.Properties, chain.DictionarySize, chain.Expanded};
    const bool chained = head && head->Chained;
    if (!head || (chained && !JoinChain(chain, *head)) || uncompressedSize < 0) {
        s.Damaged = true;
        // Only a build that names faults tells them apart; the installer's folds this away.
        if (LzmaFaultsNamed()) s.Lzma.Fault = HeadFault(before, bytes, n, head, uncompressedSize);
        return;
    }
    const auto size = static_cast<uint32_t>(uncompressedSize);
    const uint32_t reach = std::max(head->DictionarySize, kMinDictionary);
    TLzmaArrays arrays(s.Lzma);
    TChainLoan loan(s.Lzma, chained);
    TDecoder decoder(s, *head, size, chained ? reach : std::min(reach, size));
    decoder.Obtain(!chained || head->ChainOffset == 0);
    decoder.Run(chained ? &chain : nullptr);
}

}  // namespace vorn
