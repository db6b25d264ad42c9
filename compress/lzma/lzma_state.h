// Working fields of the LZM expander inside TCodecState: the LZMA
// probability models, the dictionary, the branch filter's staging buffer
// and the CRC-32 table. The arrays are obtained for one run and are empty
// between runs, apart from a chain's, which wait for its next link.
#pragma once

#include <cstdint>
#include <memory>

#include "compress/lzma/lzma_format.h"
#include "compress/octet.h"
#include "compress/stream.h"

namespace vorn {

namespace lzma {

// Probabilities are 11-bit fractions of a bit being 0, moved a 32nd of the
// way towards what was seen.
inline constexpr int kProbBits = 11;
inline constexpr uint32_t kProbOne = 1u << kProbBits;
inline constexpr uint16_t kProbInitial = kProbOne / 2;
inline constexpr int kProbMoveBits = 5;

inline constexpr int kStates = 12;
inline constexpr int kLiteralStates = 7;  // states below this follow a literal
inline constexpr int kMaxPosBits = 4;
inline constexpr int kMaxPosStates = 1 << kMaxPosBits;

// A literal's coder: 256 probabilities for a plain literal's bit tree and
// two times 256 for the bits that still agree with the match byte.
inline constexpr int kLiteralCoderSize = 0x300;

// Lengths from 2: 8 low (3 bits per position state), 8 mid (3 bits per
// position state), 256 high (8 bits).
inline constexpr uint32_t kMinMatch = 2;
inline constexpr int kLowBits = 3;
inline constexpr int kMidBits = 3;
inline constexpr int kHighBits = 8;
inline constexpr uint32_t kLowSymbols = 1u << kLowBits;
inline constexpr uint32_t kMidSymbols = 1u << kMidBits;
inline constexpr uint32_t kMaxMatch = kMinMatch + kLowSymbols + kMidSymbols + (1u << kHighBits) - 1;  // 273

// Distances: a 6-bit slot per length state (lengths 2, 3, 4, 5 and more);
// slots 4 to 13 carry their low bits in reverse bit trees, slots from 14 on
// direct bits and then four align bits.
inline constexpr int kLengthStates = 4;
inline constexpr int kSlotBits = 6;
inline constexpr uint32_t kFirstTreeSlot = 4;
inline constexpr uint32_t kFirstDirectSlot = 14;
inline constexpr int kAlignBits = 4;
inline constexpr uint32_t kFullDistances = 1u << (kFirstDirectSlot / 2);  // 128
// The reverse trees of slots 4 to 13 sit side by side from index 1 on.
inline constexpr int kTreeDistanceSize = 1 + kFullDistances - kFirstDirectSlot;  // 115
inline constexpr uint32_t kEndMarkerDistance = 0xFFFFFFFFu;

// The dictionary the decoder works with is never smaller than this.
inline constexpr uint32_t kMinDictionary = 4096;

struct TLengthModel {
    uint16_t Choice;   // 0: a low length
    uint16_t Choice2;  // 0: a mid length, 1: a high one
    uint16_t Low[kMaxPosStates][kLowSymbols];
    uint16_t Mid[kMaxPosStates][kMidSymbols];
    uint16_t High[1 << kHighBits];
};

// Every probability apart from the literals', in one block of uint16_t so
// that a run resets it with one fill.
struct TLzmaModels {
    uint16_t IsMatch[kStates][kMaxPosStates];
    uint16_t IsRep[kStates];
    uint16_t IsRepG0[kStates];
    uint16_t IsRepG1[kStates];
    uint16_t IsRepG2[kStates];
    uint16_t IsRep0Long[kStates][kMaxPosStates];
    uint16_t Slot[kLengthStates][1 << kSlotBits];
    uint16_t TreeDistance[kTreeDistanceSize];
    uint16_t Align[1 << kAlignBits];
    TLengthModel MatchLength;
    TLengthModel RepLength;
};

inline constexpr int kCrcTables = 16;  // slicing by sixteen: one table per byte of a step

// The decoder's registers, which a chain (lzma_format.h) carries from one
// link to the next.
struct TLzmaRegisters {
    uint32_t State = 0, Rep0 = 0, Rep1 = 0, Rep2 = 0, Rep3 = 0;
    uint32_t Position = 0;  // bytes since the start, or for a chain since the last dictionary reset
    uint32_t At = 0;        // where the next byte goes in the dictionary
    bool Wrapped = false;   // the dictionary has been written round
};

// What a chain carries from one link to the next: the arrays and registers
// of the decoder as the last link left them. Between runs the arrays live
// here; a link borrows them into TLzmaState.
struct TChainState {
    std::unique_ptr<TLzmaModels> Models;
    std::unique_ptr<uint16_t[]> Literals;
    std::unique_ptr<TOctet[]> Dictionary;
    bool Intact = false;          // every link so far expanded in full, in order
    uint8_t Properties = 0;       // as the head stores them, the same in every link
    uint32_t DictionarySize = 0;  // as the head states it
    uint32_t Expanded = 0;        // by the links so far, before their filters, mod 2^32
    TLzmaRegisters Registers;
    bool HasDictionary = false;   // a chunk has reset the dictionary
    bool HasProperties = false;   // an LZMA chunk has set them since
};

}  // namespace lzma

struct TLzmaState {
    std::unique_ptr<lzma::TLzmaModels> Models;
    std::unique_ptr<uint16_t[]> Literals;  // kLiteralCoderSize << (lc + lp)
    std::unique_ptr<TOctet[]> Dictionary;
    std::unique_ptr<uint8_t[]> Staging;  // the branch filter's bytes in flight
    std::unique_ptr<uint32_t[]> CrcTable;  // kCrcTables * 256
    lzma::TChainState Chain;               // kept from run to run
    TStream* SeedSource = nullptr;         // the installer seeded streams lie in (SetSeed)
    // Why the last run stopped, when it can tell more than "damaged";
    // CrcDiffers when only the check failed.
    lzma::LzmaFault Fault = lzma::LzmaFault::None;
};

}  // namespace vorn
