// The LZMA symbols: literals, matches and repeated matches, decoded into
// the circular dictionary.
#include <algorithm>
#include <type_traits>

#include "compress/expand_text.h"
#include "compress/lzma/lzma_decoder.h"

namespace vorn::lzma {

namespace {

// State changes after each kind of symbol (states 0 to 6 follow a literal).
constexpr uint8_t kAfterLiteral[kStates] = {0, 0, 0, 0, 1, 2, 3, 4, 5, 6, 4, 5};
constexpr uint32_t AfterMatch(uint32_t state) { return state < kLiteralStates ? 7 : 10; }
constexpr uint32_t AfterRep(uint32_t state) { return state < kLiteralStates ? 8 : 11; }
constexpr uint32_t AfterShortRep(uint32_t state) { return state < kLiteralStates ? 9 : 11; }

// A match length less kMinMatch.
template <class TCoder>
VORN_LZMA_HOT inline uint32_t Length(TCoder& rc, TLengthModel& m, uint32_t posState) {
    if (!rc.Bit(m.Choice)) return rc.Tree(m.Low[posState], kLowBits);
    if (!rc.Bit(m.Choice2)) return kLowSymbols + rc.Tree(m.Mid[posState], kMidBits);
    return kLowSymbols + kMidSymbols + rc.Tree(m.High, kHighBits);
}

// A match distance less one, for a length less kMinMatch.
template <class TCoder>
VORN_LZMA_HOT inline uint32_t Distance(TCoder& rc, TLzmaModels& m, uint32_t length) {
    const uint32_t slot = rc.Tree(m.Slot[std::min<uint32_t>(length, kLengthStates - 1)], kSlotBits);
    if (slot < kFirstTreeSlot) return slot;
    const int lowBits = static_cast<int>(slot >> 1) - 1;
    const uint32_t base = (2 | (slot & 1)) << lowBits;
    if (slot < kFirstDirectSlot) return base + rc.ReverseTree(m.TreeDistance + base - slot, lowBits);
    const uint32_t middle = rc.Direct(lowBits - kAlignBits) << kAlignBits;
    return base + middle + rc.ReverseTree(m.Align, kAlignBits);
}

// Whether a run of symbols goes on with the input in hand: TCoder's run
// ends where the other coder's starts (TDecoder::DecodeBatch).
template <class TCoder>
bool GoesOn([[maybe_unused]] const TCoder& rc) {
#ifdef __OPTIMIZE_SIZE__
    return true;
#else
    return rc.HoldsLongestSymbol() == TCoder::kAmple;
#endif
}

}  // namespace

void TDecoder::ResetProbabilities() {
    static_assert(std::is_standard_layout_v<TLzmaModels> && sizeof(TLzmaModels) % sizeof(uint16_t) == 0);
    std::fill_n(reinterpret_cast<uint16_t*>(st_.Models.get()), sizeof(TLzmaModels) / sizeof(uint16_t), kProbInitial);
    std::fill_n(st_.Literals.get(), LiteralProbabilities(head_), kProbInitial);
}

// The one place that calls Decode, so that the installer carries it once.
// Where the build is for speed, the symbols come in runs: with the longest
// symbol's bytes in hand, the coder takes its bytes without a check; near
// the end of the stretch, one that checks each byte takes over until the
// next stretch comes in.
void TDecoder::DecodeBatch(uint32_t room) {
    TOctet* const start = st_.Dictionary.get() + regs_.At;
    TOctet* const limit = start + room;
#ifdef __OPTIMIZE_SIZE__
    TOctet* const out = Decode<TRangeDecoder>(start, limit);
#else
    TOctet* out = start;
    // A run that stopped (damage, the end, input overrun) leaves registers
    // no symbol may use: the next run starts only after a check.
    while (out < limit && !Stopped()) {
        out = Decode<TRangeCoder<true>>(out, limit);
        if (out < limit && !Stopped()) out = Decode<TRangeDecoder>(out, limit);
    }
#endif
    Advance(start, static_cast<uint32_t>(out - start));
}

// Where a distance (less one) stops being valid at `out`: behind the bytes
// decoded so far and inside the dictionary.
uint32_t TDecoder::Reach(const TOctet* out) const {
    if (regs_.Wrapped) return reach_;
    return std::min(static_cast<uint32_t>(out - st_.Dictionary.get()), reach_);
}

TOctet TDecoder::ByteAt(const TOctet* out, uint32_t distance) const {
    const TOctet* const dict = st_.Dictionary.get();
    const auto at = static_cast<uint32_t>(out - dict);
    return dict[at > distance ? at - distance - 1 : at + cycle_ - distance - 1];
}

// Copies `length` bytes from distance + 1 back, as far as `limit`; what does
// not fit is left in pending_.
inline TOctet* TDecoder::Copy(TOctet* out, TOctet* limit, uint32_t distance, uint32_t length) {
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

// The hot loop: symbols into the dictionary from out up to limit, or until
// the other coder's run starts (GoesOn). Its state sits in locals; the
// dictionary holds TOctet, whose stores cannot change them.
template <class TCoder>
TOctet* TDecoder::Decode(TOctet* out, TOctet* const limit) {
    if (pending_ > 0) out = Copy(out, limit, regs_.Rep0, pending_);
    TCoder rc(rc_);
    TLzmaModels& m = *st_.Models;
    uint16_t* const literals = st_.Literals.get();
    // The rarer registers stay where they are: machine registers go to the
    // ones every symbol uses.
    uint32_t state = regs_.State, rep0 = regs_.Rep0;
    // The position in the whole output of the byte at out, from its address.
    const uintptr_t posBase = reinterpret_cast<uintptr_t>(st_.Dictionary.get() + regs_.At) - regs_.Position;
    const auto start = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(out) - posBase);
    uint32_t prev = start == 0 ? 0 : static_cast<uint8_t>(ByteAt(out, 0));
    // After a byte made up past the end the loop runs on to the limit, at
    // most a batch: the caller stops there.
    while (out < limit && GoesOn(rc)) {
        const auto pos = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(out) - posBase);
        const uint32_t posState = pos & pbMask_;
        if (!rc.Bit(m.IsMatch[state][posState])) {
            uint16_t* const probs = literals + kLiteralCoderSize * (((pos & lpMask_) << lc_) + (prev >> (8 - lc_)));
            prev = state < kLiteralStates ? rc.Literal(probs)
                                          : rc.MatchedLiteral(probs, static_cast<uint8_t>(ByteAt(out, rep0)));
            *out++ = TOctet{static_cast<uint8_t>(prev)};
            state = kAfterLiteral[state];
            continue;
        }
        uint32_t length;
        if (!rc.Bit(m.IsRep[state])) {
            length = Length(rc, m.MatchLength, posState);
            const uint32_t distance = Distance(rc, m, length);
            if (distance == kEndMarkerDistance) {
                ended_ = true;
                break;
            }
            regs_.Rep3 = regs_.Rep2;
            regs_.Rep2 = regs_.Rep1;
            regs_.Rep1 = rep0;
            rep0 = distance;
            state = AfterMatch(state);
        } else {
            if (!rc.Bit(m.IsRepG0[state])) {
                if (!rc.Bit(m.IsRep0Long[state][posState])) {
                    if (rep0 >= Reach(out)) {
                        Refuse();
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
                    distance = regs_.Rep1;
                } else {
                    if (!rc.Bit(m.IsRepG2[state])) {
                        distance = regs_.Rep2;
                    } else {
                        distance = regs_.Rep3;
                        regs_.Rep3 = regs_.Rep2;
                    }
                    regs_.Rep2 = regs_.Rep1;
                }
                regs_.Rep1 = rep0;
                rep0 = distance;
            }
            length = Length(rc, m.RepLength, posState);
            state = AfterRep(state);
        }
        if (rep0 >= Reach(out)) {
            Refuse();
            break;
        }
        out = Copy(out, limit, rep0, length + kMinMatch);
        prev = static_cast<uint8_t>(out[-1]);
    }
    rc_ = TRangeDecoder(rc);
    regs_.State = state;
    regs_.Rep0 = rep0;
    return out;
}

// After the last byte of a lone stream: an end marker, the only symbol
// that may follow.
void TDecoder::ReadEndMarker() {
    TLzmaModels& m = *st_.Models;
    const uint32_t posState = regs_.Position & pbMask_;
    bool marker = rc_.Bit(m.IsMatch[regs_.State][posState]) && !rc_.Bit(m.IsRep[regs_.State]);
    if (marker) marker = Distance(rc_, m, Length(rc_, m.MatchLength, posState)) == kEndMarkerDistance;
    if (!marker || rc_.Code != 0) Refuse();
}

}  // namespace vorn::lzma
