// LH5 compressor: the text buffer, the match trie and the one-step lazy
// choice between a literal and a match.
//
// The trie holds every position of the window. Internal nodes (1..8,191)
// stand for a common prefix of NodeLevel bytes, roots (8,192 + c) for the
// first byte, leaves (8,192..16,383) for one text position each; a node's
// children hang in hash chains keyed by (node, next byte). Insertion of the
// current position and the search for its longest match are one walk.
#include <algorithm>
#include <bit>
#include <cstring>

#include "compress/lh5/lh5.h"
#include "compress/lh5/lh5_block_coder.h"

namespace vorn {

namespace {

using namespace lh5;

class TCompressor {
public:
    explicit TCompressor(TCodecState& s)
        : s_(s),
          st_(s.Lh5),
          text_(st_.TextBuf.get()),
          level_(st_.NodeLevel.get()),
          childCount_(st_.NodeChildCount.get()),
          position_(st_.NodePosition.get()),
          parent_(st_.NodeParent.get()),
          prev_(st_.NodePrev.get()),
          next_(st_.NodeNext.get()) {}

    void Run() {
        InitTree();
        Lh5ResetBlock(s_);
        if (!FillText()) return;  // an empty source writes nothing
        st_.FoundPos = 0;
        st_.FoundLen = 0;
        InsertNode();
        while (st_.TextLeft > 0) {
            const int lastLen = st_.FoundLen;
            const int lastPos = st_.FoundPos;
            NextMatch();
            ClampMatch();
            if (st_.FoundLen > lastLen || lastLen < kMinMatch) {
                Lh5Output(s_, text_[st_.TextPos - 1], 0);
                continue;
            }
            // A match is taken only if the next position has no longer one.
            Lh5Output(s_, static_cast<uint32_t>(lastLen + kMatchSymbolBias),
                      static_cast<uint32_t>(st_.TextPos - lastPos - 2) & kWindowMask);
            for (int k = 1; k < lastLen; ++k) NextMatch();
            ClampMatch();
        }
        Lh5SendBlock(s_);
        Lh5PutBits(s_, 7, 0);  // completes the last byte, if one is open
    }

private:
    void InitTree() {
        for (int c = 0; c < 256; ++c) {
            level_[kRootBase + c] = 1;
            childCount_[kRootBase + c] = 0;
            position_[kRootBase + c] = 0;
        }
        std::fill(parent_ + kRootBase, parent_ + kLeafEnd, uint16_t{0});
        st_.FreeNode = 1;
        for (int i = 1; i < kInternalNodes - 1; ++i) next_[i] = static_cast<uint16_t>(i + 1);
        next_[kInternalNodes - 1] = 0;
        std::fill(next_ + kHashBase, next_ + kNodeNextSize, uint16_t{0});
    }

    // Reads the first window of text behind 8,448 bytes of history; bytes
    // past the end of the source are spaces and are not counted in TextLeft.
    bool FillText() {
        st_.TextPos = static_cast<int16_t>(kTextStart);
        int left = 0;
        for (int i = kTextStart; i < kTextEnd; ++i) {
            const uint8_t b = ReadSourceByte(s_);
            if (s_.SourceExhausted) {
                text_[i] = kInitialWindowByte;
            } else {
                text_[i] = b;
                ++left;
            }
        }
        st_.TextLeft = static_cast<int16_t>(left);
        return left > 0;
    }

    // The last match never reaches past the end of the source.
    void ClampMatch() {
        if (st_.FoundLen > st_.TextLeft) st_.FoundLen = st_.TextLeft;
    }

    static int HashHead(int q, int c) {
        const uint32_t key = static_cast<uint32_t>(q) << 8 | static_cast<uint32_t>(c);
        return kHashBase + static_cast<int>(key * 0x9E3779B1u >> (32 - kHashBits));
    }

    int Child(int q, int c) {
        int r = next_[HashHead(q, c)];
        parent_[0] = static_cast<uint16_t>(q);  // sentinel: ends the chain walk
        while (parent_[r] != q) r = next_[r];
        return r;
    }

    // New children go to the front of their chain.
    void MakeChild(int q, int c, int r) {
        const int h = HashHead(q, c);
        const int t = next_[h];
        next_[h] = static_cast<uint16_t>(r);
        next_[r] = static_cast<uint16_t>(t);
        prev_[t] = static_cast<uint16_t>(r);
        prev_[r] = static_cast<uint16_t>(h);
        parent_[r] = static_cast<uint16_t>(q);
        ++childCount_[q];
    }

    // Puts `to` in the place of `from` in from's sibling chain.
    void TakePlace(int from, int to) {
        int t = prev_[from];
        prev_[to] = static_cast<uint16_t>(t);
        next_[t] = static_cast<uint16_t>(to);
        t = next_[from];
        next_[to] = static_cast<uint16_t>(t);
        prev_[t] = static_cast<uint16_t>(to);
    }

    // A new internal node above `old`, where the current text departs from it.
    void Split(int old) {
        const int node = st_.FreeNode;
        st_.FreeNode = static_cast<int16_t>(next_[node]);
        childCount_[node] = 0;
        TakePlace(old, node);
        parent_[node] = parent_[old];
        level_[node] = static_cast<uint8_t>(st_.FoundLen);
        position_[node] = static_cast<uint16_t>(st_.TextPos);
        MakeChild(node, text_[st_.FoundPos + st_.FoundLen], old);
        MakeChild(node, text_[st_.TextPos + st_.FoundLen], st_.TextPos);
    }

    // How far a and b agree from `from` on, up to `limit` (at most 256 bytes
    // past positions that leave room for them in the text). Eight bytes at
    // a time, for the long common prefixes of repetitive text.
    static int CommonLength(const uint8_t* a, const uint8_t* b, int from, int limit) {
        if constexpr (std::endian::native == std::endian::little) {
            for (; from + 8 <= limit; from += 8) {
                uint64_t x, y;
                std::memcpy(&x, a + from, 8);
                std::memcpy(&y, b + from, 8);
                if (x != y) return from + std::countr_zero(x ^ y) / 8;
            }
        }
        while (from < limit && a[from] == b[from]) ++from;
        return from;
    }

    // A stored position at or above TextPos stands for the one 8,192 lower.
    int Unwrap(int position) const { return position >= st_.TextPos ? position - kWindowSize : position; }

    // Inserts TextPos and sets FoundPos/FoundLen to its longest match.
    void InsertNode() {
        const int textPos = st_.TextPos;
        int q = 0;
        int r = 0;
        int foundLen = st_.FoundLen;
        if (foundLen >= 4) {
            // The previous position matched foundLen bytes, so this one
            // matches at least foundLen - 1 at the position after that match:
            // start from the node reached through it instead of the root.
            --foundLen;
            r = (st_.FoundPos + 1) | kRootBase;
            while (parent_[r] == 0) r = next_[r];  // a replaced leaf leads to its successor
            q = parent_[r];
            while (level_[q] >= foundLen) {
                r = q;
                q = parent_[q];
            }
            int t = q;
            while (position_[t] & kPercolateFlag) {
                position_[t] = static_cast<uint16_t>(textPos);
                t = parent_[t];
            }
            if (t < kRootBase) position_[t] = static_cast<uint16_t>(textPos | kPercolateFlag);
        } else {
            q = text_[textPos] + kRootBase;
            const int c = text_[textPos + 1];
            r = Child(q, c);
            if (r == 0) {
                MakeChild(q, c, textPos);
                st_.FoundLen = 1;
                return;
            }
            foundLen = 2;
        }
        const uint8_t* current = text_ + textPos;
        for (;;) {
            int limit = kMaxMatch;
            int foundPos = r;
            if (r < kRootBase) {
                limit = level_[r];
                foundPos = position_[r] & kPositionMask;
            }
            foundPos = Unwrap(foundPos);
            st_.FoundPos = static_cast<int16_t>(foundPos);
            foundLen = CommonLength(current, text_ + foundPos, foundLen, limit);
            if (foundLen < limit) {
                st_.FoundLen = static_cast<int16_t>(foundLen);
                Split(r);
                return;
            }
            if (foundLen == kMaxMatch) break;
            position_[r] = static_cast<uint16_t>(textPos);
            q = r;
            const int c = current[foundLen];
            r = Child(q, c);
            if (r == 0) {
                MakeChild(q, c, textPos);
                st_.FoundLen = static_cast<int16_t>(foundLen);
                return;
            }
            ++foundLen;
        }
        // Leaf r equals the current text over the longest match: the current
        // position takes its place, and r leads to it from now on.
        st_.FoundLen = static_cast<int16_t>(foundLen);
        TakePlace(r, textPos);
        parent_[textPos] = static_cast<uint16_t>(q);
        parent_[r] = 0;
        next_[r] = static_cast<uint16_t>(textPos);
    }

    // Percolates the newest position of removed node r up its ancestors.
    void PercolateUp(int r, int newest) {
        int q = parent_[r];
        while (position_[q] & kPercolateFlag) {
            newest = std::max(newest, Unwrap(position_[q] & kPositionMask));
            position_[q] = static_cast<uint16_t>(newest | kWindowSize);
            q = parent_[q];
        }
        if (q < kRootBase) {
            newest = std::max(newest, Unwrap(position_[q]));
            position_[q] = static_cast<uint16_t>(newest | kWindowSize | kPercolateFlag);
        }
    }

    // Removes the leaf of the position 8,192 back (numbered TextPos), and
    // its parent when that is left with one child.
    void DeleteNode() {
        const int textPos = st_.TextPos;
        if (parent_[textPos] == 0) return;
        int r = prev_[textPos];
        int t = next_[textPos];
        next_[r] = static_cast<uint16_t>(t);
        prev_[t] = static_cast<uint16_t>(r);
        r = parent_[textPos];
        parent_[textPos] = 0;
        --childCount_[r];
        if (r >= kRootBase || childCount_[r] > 1) return;

        t = Unwrap(position_[r] & kPositionMask);
        PercolateUp(r, t);
        const int child = Child(r, text_[t + level_[r]]);
        const int before = prev_[child];
        const int after = next_[child];
        next_[before] = static_cast<uint16_t>(after);
        prev_[after] = static_cast<uint16_t>(before);
        TakePlace(r, child);
        parent_[child] = parent_[r];
        parent_[r] = 0;
        next_[r] = static_cast<uint16_t>(st_.FreeNode);
        st_.FreeNode = static_cast<int16_t>(r);
    }

    // Moves the text back by a window and reads the next one behind it; at
    // the end of the source the 0 read stays and older bytes follow it.
    void Slide() {
        std::memmove(text_, text_ + kWindowSize, kTextEnd - kWindowSize);
        int read = 0;
        for (int i = kTextStart; i < kTextEnd; ++i) {
            text_[i] = ReadSourceByte(s_);
            if (s_.SourceExhausted) break;
            ++read;
        }
        st_.TextLeft = static_cast<int16_t>(st_.TextLeft + read);
        st_.TextPos = static_cast<int16_t>(kWindowSize);
    }

    void NextMatch() {
        --st_.TextLeft;
        if (++st_.TextPos == kTextSlideAt) Slide();
        DeleteNode();
        InsertNode();
    }

    TCodecState& s_;
    TLh5State& st_;
    uint8_t* const text_;
    uint8_t* const level_;
    uint8_t* const childCount_;
    uint16_t* const position_;
    uint16_t* const parent_;
    uint16_t* const prev_;
    uint16_t* const next_;
};

}  // namespace

void Lh5Compress(TCodecState& s) {
    TLh5Arrays arrays(s, true);
    TCompressor(s).Run();
}

}  // namespace vorn
