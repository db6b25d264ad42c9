// LH5 block coder: bit writer, Huffman trees with a 16-bit length limit,
// canonical codes, the code-length tables and the block body.
#include "compress/lh5/lh5_block_coder.h"

#include <algorithm>

namespace vorn {

namespace {

using namespace lh5;

// Builds one Huffman tree over the nodes of TreeLeft/TreeRight, numbered
// from the alphabet size on. The heap's tie rules and the order in which
// leaves leave it fix the code lengths, and so the exact output.
class TTreeBuilder {
public:
    TTreeBuilder(TCodecState& s, int n, uint16_t* freq, uint8_t* len, uint16_t* code)
        : st_(s.Lh5), n_(n), freq_(freq), len_(len), code_(code) {}

    // Returns the root: a node (>= n) for a real tree, otherwise the only
    // symbol that occurs (0 when none does), whose code is 0 and length 0.
    int Make() {
        int nextNode = n_;
        heap_[1] = 0;
        for (int i = 0; i < n_; ++i) {
            len_[i] = 0;
            if (freq_[i] != 0) heap_[++heapSize_] = static_cast<uint16_t>(i);
        }
        if (heapSize_ < 2) {
            code_[heap_[1]] = 0;
            return heap_[1];
        }
        for (int i = heapSize_ / 2; i >= 1; --i) DownHeap(i);
        int k = 0;
        do {
            const int i = heap_[1];
            if (i < n_) leafOrder_[leafCount_++] = static_cast<uint16_t>(i);
            heap_[1] = heap_[heapSize_--];
            DownHeap(1);
            const int j = heap_[1];
            if (j < n_) leafOrder_[leafCount_++] = static_cast<uint16_t>(j);
            k = nextNode++;
            freq_[k] = static_cast<uint16_t>(freq_[i] + freq_[j]);
            heap_[1] = static_cast<uint16_t>(k);
            DownHeap(1);
            st_.TreeLeft[k] = static_cast<uint16_t>(i);
            st_.TreeRight[k] = static_cast<uint16_t>(j);
        } while (heapSize_ > 1);
        MakeLen(k);
        MakeCode();
        return k;
    }

private:
    // Ties keep the left child; an entry stops at the first child that is
    // not smaller.
    void DownHeap(int i) {
        const uint16_t k = heap_[i];
        while (2 * i <= heapSize_) {
            int j = 2 * i;
            if (j < heapSize_ && freq_[heap_[j]] > freq_[heap_[j + 1]]) ++j;
            if (freq_[k] <= freq_[heap_[j]]) break;
            heap_[i] = heap_[j];
            i = j;
        }
        heap_[i] = k;
    }

    // Leaves per depth; those deeper than 16 are counted at 16.
    void CountLen(int i) {
        if (i < n_) {
            ++lenCount_[std::min<int>(st_.TreeDepth, kMaxCodeLen)];
            return;
        }
        ++st_.TreeDepth;
        CountLen(st_.TreeLeft[i]);
        CountLen(st_.TreeRight[i]);
        --st_.TreeDepth;
    }

    // Limits the lengths to 16 so that they still form a complete code, then
    // gives the longest codes to the leaves that left the heap first.
    void MakeLen(int root) {
        st_.TreeDepth = 0;
        CountLen(root);
        uint16_t cum = 0;
        for (int len = 1; len <= kMaxCodeLen; ++len)
            cum = static_cast<uint16_t>(cum + (lenCount_[len] << (kMaxCodeLen - len)));
        if (cum != 0) {
            lenCount_[kMaxCodeLen] -= cum;
            for (; cum > 0; --cum) {
                for (int len = kMaxCodeLen - 1; len >= 1; --len) {
                    if (lenCount_[len] != 0) {
                        --lenCount_[len];
                        lenCount_[len + 1] += 2;
                        break;
                    }
                }
            }
        }
        int next = 0;
        for (int len = kMaxCodeLen; len >= 1; --len)
            for (int k = lenCount_[len]; k > 0; --k) len_[leafOrder_[next++]] = static_cast<uint8_t>(len);
    }

    // Canonical codes, left-aligned in 16 bits: by length, then by symbol.
    void MakeCode() {
        uint16_t start[kMaxCodeLen + 1];
        uint16_t total = 0;
        for (int len = 1; len <= kMaxCodeLen; ++len) {
            start[len] = total;
            total = static_cast<uint16_t>(total + (lenCount_[len] << (kMaxCodeLen - len)));
        }
        for (int c = 0; c < n_; ++c) {
            const int len = len_[c];
            if (len == 0) continue;
            code_[c] = start[len];
            start[len] = static_cast<uint16_t>(start[len] + (1 << (kMaxCodeLen - len)));
        }
    }

    TLh5State& st_;
    const int n_;
    uint16_t* freq_;
    uint8_t* len_;
    uint16_t* code_;
    uint16_t heap_[kCharAlphabet + 1];
    int heapSize_ = 0;
    uint16_t leafOrder_[kCharAlphabet];
    int leafCount_ = 0;
    int lenCount_[kMaxCodeLen + 1] = {};
};


// Character lengths in use: 510 lowered past trailing zeros.
int UsedCharLengths(const uint8_t* lengths) {
    int n = kCharAlphabet;
    while (n > 0 && lengths[n - 1] == 0) --n;
    return n;
}

int ZeroRun(const uint8_t* lengths, int i, int n) {
    int count = 1;
    while (i + count < n && lengths[i + count] == 0) ++count;
    return count;
}

// Code-length symbols the character table will send; mirrors
// WriteCharLengths.
void CountLenFreq(TLh5State& st) {
    std::fill_n(st.LenFreq, kLenAlphabet, uint16_t{0});
    const uint8_t* lengths = st.CharLen.get();
    const int n = UsedCharLengths(lengths);
    for (int i = 0; i < n;) {
        const int k = lengths[i];
        if (k != 0) {
            ++st.LenFreq[k + kLenSymbolBias];
            ++i;
            continue;
        }
        const int count = ZeroRun(lengths, i, n);
        i += count;
        if (count <= 2) {
            st.LenFreq[0] = static_cast<uint16_t>(st.LenFreq[0] + count);
        } else if (count <= 18) {
            ++st.LenFreq[1];
        } else if (count == 19) {
            ++st.LenFreq[0];
            ++st.LenFreq[1];
        } else {
            ++st.LenFreq[2];
        }
    }
}

// Collects bits in a 64-bit word and hands them out four bytes at a time:
// straight into the output buffer where it has room, otherwise through the
// byte path, which settles the counts and raises at the end of the budget
// exactly as single bytes do. Bytes leave in the order Lh5PutCode writes
// them; Finish writes every complete byte and leaves the open one in
// BitByte/BitCount.
class TBitWriter {
public:
    explicit TBitWriter(TCodecState& s)
        : s_(s), bits_(static_cast<uint64_t>(s.Lh5.BitByte >> s.Lh5.BitCount)), count_(8 - s.Lh5.BitCount) {}

    // The low n (0..16) bits of x, x < 2^n.
    void Put(int n, uint32_t x) {
        bits_ = bits_ << n | x;
        count_ += n;
        if (count_ >= 32) Flush32();
    }

    // The top n bits of a left-aligned 16-bit code.
    void PutCode(int n, uint16_t x) { Put(n, static_cast<uint32_t>(x) >> (16 - n)); }

    void Finish() {
        while (count_ >= 8) {
            count_ -= 8;
            WriteDestByte(s_, static_cast<uint8_t>(bits_ >> count_));
        }
        TLh5State& st = s_.Lh5;
        st.BitCount = static_cast<uint8_t>(8 - count_);
        st.BitByte = static_cast<uint8_t>(bits_ << (8 - count_));
    }

private:
    void Flush32() {
        count_ -= 32;
        const uint32_t word = static_cast<uint32_t>(bits_ >> count_);
        if (OutputStretch(s_) >= 4) {
            uint8_t* out = reinterpret_cast<uint8_t*>(s_.OutPos);
            out[0] = static_cast<uint8_t>(word >> 24);
            out[1] = static_cast<uint8_t>(word >> 16);
            out[2] = static_cast<uint8_t>(word >> 8);
            out[3] = static_cast<uint8_t>(word);
            CommitOutput(s_, 4);
            return;
        }
        for (int shift = 24; shift >= 0; shift -= 8) WriteDestByte(s_, static_cast<uint8_t>(word >> shift));
    }

    TCodecState& s_;
    uint64_t bits_;
    int count_;  // bits held in the low end of bits_, below 32 between calls
};

void PutAuxSymbol(TBitWriter& w, const TLh5State& st, int symbol) {
    w.PutCode(st.AuxLen[symbol], st.AuxCode[symbol]);
}

void WriteCharLengths(TBitWriter& w, const TLh5State& st) {
    const uint8_t* lengths = st.CharLen.get();
    const int n = UsedCharLengths(lengths);
    w.Put(kCharCountBits, static_cast<uint32_t>(n));
    for (int i = 0; i < n;) {
        const int k = lengths[i];
        if (k != 0) {
            PutAuxSymbol(w, st, k + kLenSymbolBias);
            ++i;
            continue;
        }
        const int count = ZeroRun(lengths, i, n);
        i += count;
        if (count <= 2) {
            for (int j = 0; j < count; ++j) PutAuxSymbol(w, st, 0);
        } else if (count <= 18) {
            PutAuxSymbol(w, st, 1);
            w.Put(kShortZeroRunBits, static_cast<uint32_t>(count - kShortZeroRunBase));
        } else if (count == 19) {
            PutAuxSymbol(w, st, 0);
            PutAuxSymbol(w, st, 1);
            w.Put(kShortZeroRunBits, 15);
        } else {
            PutAuxSymbol(w, st, 2);
            w.Put(kLongZeroRunBits, static_cast<uint32_t>(count - kLongZeroRunBase));
        }
    }
}

// Lengths up to 6 in three bits; longer ones as k - 4 one bits and a zero.
void WriteAuxLengths(TBitWriter& w, const TLh5State& st, int count, int width, int special) {
    const uint8_t* lengths = st.AuxLen;
    int n = count;
    while (n > 0 && lengths[n - 1] == 0) --n;
    w.Put(width, static_cast<uint32_t>(n));
    for (int i = 0; i < n;) {
        const int k = lengths[i++];
        if (k < kLenFieldEscape) {
            w.Put(kLenFieldBits, static_cast<uint32_t>(k));
        } else {
            w.Put(k - 3, static_cast<uint32_t>((1 << (k - 3)) - 2));
        }
        if (i == special) {
            while (i < 6 && lengths[i] == 0) ++i;
            w.Put(kLenSpecialBits, static_cast<uint32_t>(i - special));
        }
    }
}

// A table of one symbol: count 0, then the symbol itself.
void WriteSingle(TBitWriter& w, int width, int symbol) {
    w.Put(width, 0);
    w.Put(width, static_cast<uint32_t>(symbol));
}

void WriteSymbols(TBitWriter& w, const TLh5State& st, int size) {
    const uint8_t* buf = st.BlockBuf.get();
    const uint8_t* len = st.CharLen.get();
    const uint16_t* code = st.CharCode.get();
    const uint8_t* auxLen = st.AuxLen;
    const uint16_t* auxCode = st.AuxCode.get();
    uint32_t flags = 0;
    for (int i = 0; i < size; ++i) {
        if (i % 8 == 0) {
            flags = *buf++;
        } else {
            flags <<= 1;
        }
        if (flags & 0x80) {
            const uint32_t c = *buf++ + kFirstMatchSymbol;
            w.PutCode(len[c], code[c]);
            const uint32_t p = static_cast<uint32_t>(buf[0] << 8 | buf[1]);
            buf += 2;
            const int k = Lh5DistanceClass(p);
            w.PutCode(auxLen[k], auxCode[k]);
            if (k > 1) w.Put(k - 1, p & ((1u << (k - 1)) - 1));
        } else {
            const uint32_t c = *buf++;
            w.PutCode(len[c], code[c]);
        }
    }
}

}  // namespace

void Lh5PutCode(TCodecState& s, int n, uint16_t x) {
    TLh5State& st = s.Lh5;
    int free = st.BitCount;
    uint32_t byte = st.BitByte;
    while (n >= free) {
        n -= free;
        WriteDestByte(s, static_cast<uint8_t>(byte + (x >> (16 - free))));
        x = static_cast<uint16_t>(x << free);
        byte = 0;
        free = 8;
    }
    st.BitByte = static_cast<uint8_t>(byte + (x >> (16 - free)));
    st.BitCount = static_cast<uint8_t>(free - n);
}

void Lh5PutBits(TCodecState& s, int n, uint16_t x) {
    Lh5PutCode(s, n, static_cast<uint16_t>(x << (16 - n)));
}

void Lh5ResetBlock(TCodecState& s) {
    TLh5State& st = s.Lh5;
    std::fill_n(st.CharFreq.get(), kCharAlphabet, uint16_t{0});
    std::fill_n(st.DistFreq, kDistAlphabet, uint16_t{0});
    st.BlockBuf[0] = 0;
    st.BlockBufPos = 0;
    st.FlagMask = 0;
    st.FlagPos = 0;
}

void Lh5SendBlock(TCodecState& s) {
    TLh5State& st = s.Lh5;
    const int root = Lh5MakeTree(s, kCharAlphabet, st.CharFreq.get(), st.CharLen.get(), st.CharCode.get());
    const int size = st.CharFreq[root];
    TBitWriter w(s);
    w.Put(kBlockCountBits, static_cast<uint32_t>(size));
    if (root >= kCharAlphabet) {
        CountLenFreq(st);
        const int lenRoot = Lh5MakeTree(s, kLenAlphabet, st.LenFreq, st.AuxLen, st.AuxCode.get());
        if (lenRoot >= kLenAlphabet) {
            WriteAuxLengths(w, st, kLenAlphabet, kLenCountBits, kLenSpecial);
        } else {
            WriteSingle(w, kLenCountBits, lenRoot);
        }
        WriteCharLengths(w, st);
    } else {
        // Every symbol of the block is the same one: it costs no bits.
        WriteSingle(w, kLenCountBits, 0);
        WriteSingle(w, kCharCountBits, root);
    }
    // Built only now: the distance code shares AuxLen and AuxCode with the
    // code-length code written above.
    const int distRoot = Lh5MakeTree(s, kDistAlphabet, st.DistFreq, st.AuxLen, st.AuxCode.get());
    if (distRoot >= kDistAlphabet) {
        WriteAuxLengths(w, st, kDistAlphabet, kDistCountBits, kNoSpecial);
    } else {
        WriteSingle(w, kDistCountBits, distRoot);
    }
    WriteSymbols(w, st, size);
    w.Finish();
    std::fill_n(st.CharFreq.get(), kCharAlphabet, uint16_t{0});
    std::fill_n(st.DistFreq, kDistAlphabet, uint16_t{0});
}

int Lh5MakeTree(TCodecState& s, int n, uint16_t* freq, uint8_t* len, uint16_t* code) {
    return TTreeBuilder(s, n, freq, len, code).Make();
}

}  // namespace vorn
