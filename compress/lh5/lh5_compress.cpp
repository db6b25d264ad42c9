// LH5 compressor: the text buffer, the match trie and the one-step lazy
// choice between a literal and a match.
//
// The trie holds every position of the window. Internal nodes (1..8,191)
// stand for a common prefix of Level bytes, roots (8,192 + c) for the first
// byte, leaves (8,192..16,383) for one text position each; a node's
// children hang in hash chains keyed by (node, next byte). Insertion of the
// current position and the search for its longest match are one walk.
//
// The walks are short and their loops end where the data says, so the time
// goes to mispredicted branches and to loads that miss the first-level
// cache. Hence the wide hash table, the selects where a branch would be a
// coin toss, and the order of some independent steps: work whose loads the
// next steps need comes before loops that end at random.
#include <algorithm>
#include <cstddef>
#include <cstring>

#include "compress/lh5/lh5.h"
#include "compress/lh5/lh5_block_coder.h"
#include "compress/word_compare.h"

namespace vorn {

namespace {

using namespace lh5;

inline constexpr uint32_t kHashMultiplier = 0x9E3779B1u;

// The keys of two bytes under one node differ by d < 256; their products
// must lie a head's width apart, so that they never share a head.
constexpr bool BytesOfOneNodeShareNoHead() {
    for (uint32_t d = 1; d < 256; ++d) {
        const uint32_t gap = d * kHashMultiplier;
        if (std::min(gap, 0u - gap) < (1u << (32 - kHashBits))) return false;
    }
    return true;
}
static_assert(BytesOfOneNodeShareNoHead());

class TCompressor {
public:
    explicit TCompressor(TCodecState& s)
        : s_(s),
          st_(s.Lh5),
          text_(reinterpret_cast<uint8_t*>(st_.TextBuf.get())),  // compared byte by byte
          trie_(st_.Trie.get()),
          nodes_(reinterpret_cast<TLh5Node*>(trie_)),
          heads_(reinterpret_cast<uint16_t*>(trie_ + kHeadsOffset)) {}

    void Run() {
        InitTree();
        Lh5ResetBlock(s_);
        if (FillText()) Code();  // an empty source writes nothing
    }

private:
    void Code() {
        foundPos_ = 0;
        foundLen_ = 0;
        InsertNode();
        while (textLeft_ > 0) {
            const int lastLen = foundLen_;
            const int lastPos = foundPos_;
            NextMatch();
            ClampMatch();
            if (foundLen_ > lastLen || lastLen < kMinMatch) {
                Lh5Output(s_, text_[textPos_ - 1], 0);
                continue;
            }
            // A match is taken only if the next position has no longer one.
            Lh5Output(s_, static_cast<uint32_t>(lastLen + kMatchSymbolBias),
                      static_cast<uint32_t>(textPos_ - lastPos - 2) & kWindowMask);
            for (int k = 1; k < lastLen; ++k) NextMatch();
            ClampMatch();
        }
        Lh5SendBlock(s_);
        Lh5PutBits(s_, 7, 0);  // completes the last byte, if one is open
    }

    void InitTree() {
        for (int c = 0; c < 256; ++c) {
            TLh5Node& root = nodes_[kRootBase + c];
            root.Position = 0;
            root.Level = 1;
            root.ChildCount = 0;
            root.ChildXor = 0;
        }
        for (int leaf = kRootBase; leaf < kLeafEnd; ++leaf) nodes_[leaf].Parent = 0;
        freeNode_ = 1;
        for (int i = 1; i < kInternalNodes - 1; ++i) nodes_[i].Next = static_cast<uint16_t>(i + 1);
        nodes_[kInternalNodes - 1].Next = 0;
        std::fill(heads_, heads_ + kHashHeads, uint16_t{0});
    }

    // Reads the first window of text behind 8,448 bytes of history; bytes
    // past the end of the source are spaces and are not counted in TextLeft.
    // Whole stretches of the input block go while the source lasts; after
    // that (or a cancel) the bytes go one by one as before.
    bool FillText() {
        textPos_ = kTextStart;
        int left = 0;
        for (int i = kTextStart; i < kTextEnd; ++i) {
            if (!s_.SourceExhausted) {
                const int n = TakeStretch(i);
                i += n;
                left += n;
                if (i == kTextEnd) break;
            }
            const uint8_t b = ReadSourceByte(s_);
            if (s_.SourceExhausted) {
                text_[i] = kInitialWindowByte;
            } else {
                text_[i] = b;
                ++left;
            }
        }
        textLeft_ = left;
        return left > 0;
    }

    // Copies what the current input block holds, up to the end of the
    // text, to text_ from i on; returns the count.
    int TakeStretch(int i) {
        const int n = static_cast<int>(std::min<size_t>(InputStretch(s_), static_cast<size_t>(kTextEnd - i)));
        if (n > 0) {
            std::memcpy(text_ + i, s_.InPos, static_cast<size_t>(n));
            TakeInput(s_, static_cast<size_t>(n));
        }
        return n;
    }

    // The last match never reaches past the end of the source.
    void ClampMatch() { foundLen_ = std::min(foundLen_, textLeft_); }

    // 131,072 heads, eight per node, keep most chains to one node, which the
    // walks below then leave without a mispredicted branch (twice as many
    // chains again buy nothing more). A chain holds at most one child
    // of any node (see kHashMultiplier), so the parent alone identifies it.
    static int HashHead(int q, int c) {
        const uint32_t key = static_cast<uint32_t>(q) << 8 | static_cast<uint32_t>(c);
        return static_cast<int>(key * kHashMultiplier >> (32 - kHashBits));
    }

    // A Prev link is the byte offset of the 16-bit field that leads to a
    // node, a node's Next or a head alike, so that relinking needs no test
    // of which it is.
    static uint32_t LinkOfNext(int node) { return static_cast<uint32_t>(node * kNodeBytes + offsetof(TLh5Node, Next)); }
    static uint32_t LinkOfHead(int h) { return static_cast<uint32_t>(kHeadsOffset + h * 2); }
    uint16_t& Linked(uint32_t link) { return *reinterpret_cast<uint16_t*>(trie_ + link); }

    int Child(int q, int c) {
        TLh5Node* const nodes = nodes_;
        int r = heads_[HashHead(q, c)];
        nodes[0].Parent = static_cast<uint16_t>(q);  // sentinel: ends the chain walk
        while (nodes[r].Parent != q) r = nodes[r].Next;
        return r;
    }

    // New children go to the front of their chain.
    void MakeChild(int q, int c, int r) {
        const int h = HashHead(q, c);
        const int t = heads_[h];
        heads_[h] = static_cast<uint16_t>(r);
        TLh5Node& child = nodes_[r];
        child.Next = static_cast<uint16_t>(t);
        child.Prev = LinkOfHead(h);
        nodes_[t].Prev = LinkOfNext(r);
        TLh5Node& parent = nodes_[q];
        child.Parent = static_cast<uint16_t>(q);
        ++parent.ChildCount;
        parent.ChildXor ^= static_cast<uint16_t>(r);
    }

    // Takes r out of its sibling chain.
    void Unlink(int r) {
        const uint32_t before = nodes_[r].Prev;
        const int after = nodes_[r].Next;
        Linked(before) = static_cast<uint16_t>(after);
        nodes_[after].Prev = before;
    }

    // Puts `to` in the place of `from`: the same parent, the same place in
    // the sibling chain.
    void TakePlace(int from, int to) {
        TLh5Node* const nodes = nodes_;
        const int parent = nodes[from].Parent;
        const uint32_t before = nodes[from].Prev;
        const int after = nodes[from].Next;
        nodes[to].Parent = static_cast<uint16_t>(parent);
        nodes[parent].ChildXor ^= static_cast<uint16_t>(from ^ to);
        nodes[to].Prev = before;
        nodes[to].Next = static_cast<uint16_t>(after);
        Linked(before) = static_cast<uint16_t>(to);
        nodes[after].Prev = LinkOfNext(to);
    }

    // A new internal node above `old`, where the current text departs from it.
    void Split(int old) {
        const int textPos = textPos_;
        const int foundLen = foundLen_;
        const int node = freeNode_;
        freeNode_ = nodes_[node].Next;
        TakePlace(old, node);
        TLh5Node& inner = nodes_[node];
        inner.Position = static_cast<uint16_t>(textPos);
        inner.Level = static_cast<uint8_t>(foundLen);
        inner.ChildCount = 0;
        inner.ChildXor = 0;
        const uint8_t oldByte = text_[foundPos_ + foundLen];
        const uint8_t newByte = text_[textPos + foundLen];
        MakeChild(node, oldByte, old);
        MakeChild(node, newByte, textPos);
    }

    // How far a and b agree from `from` on, up to `limit`, eight bytes at a
    // time. One compare settles most calls, however far the match runs past
    // the limit, so the branches stay predictable. Reads up to 7 bytes past
    // the limit.
    static int CommonLengthByWords(const uint8_t* a, const uint8_t* b, int from, int limit) {
        while (from < limit) {
            const uint64_t x = LoadWord(a + from);
            const uint64_t y = LoadWord(b + from);
            if (x != y) return std::min(from + SharedLeadingBytes(x, y), limit);
            from += 8;
        }
        return limit;
    }

    // The same without reading past the limit, for the last positions
    // before a slide, where the words would run off the text.
    static int CommonLengthByBytes(const uint8_t* a, const uint8_t* b, int from, int limit) {
        while (from < limit && a[from] == b[from]) ++from;
        return from;
    }

    // A stored position at or above TextPos stands for the one 8,192 lower.
    static int Unwrap(int position, int textPos) { return position >= textPos ? position - kWindowSize : position; }

    // Where the previous position matched foundLen + 1 bytes, this one
    // matches at least foundLen at the position after that match: climbs
    // from that position's leaf to the node r whose parent q is shallower.
    // Returns r, q in `q`.
    int ClimbFromPreviousMatch(int foundLen, int& q) {
        TLh5Node* const nodes = nodes_;
        int r = (foundPos_ + 1) | kRootBase;
        while (nodes[r].Parent == 0) r = nodes[r].Next;  // a replaced leaf leads to its successor
        q = nodes[r].Parent;
        while (nodes[q].Level >= foundLen) {
            r = q;
            q = nodes[q].Parent;
        }
        return r;
    }

    // Passes the current position up from q, which the climb skipped.
    void PercolateCurrent(int q) {
        TLh5Node* const nodes = nodes_;
        const int textPos = textPos_;
        int t = q;
        while (nodes[t].Position & kPercolateFlag) {
            nodes[t].Position = static_cast<uint16_t>(textPos);
            t = nodes[t].Parent;
        }
        // Roots keep position 0; a select rather than a branch, which the
        // data would decide at random.
        nodes[t].Position = static_cast<uint16_t>(t < kRootBase ? textPos | kPercolateFlag : 0);
    }

    // Inserts TextPos and sets FoundPos/FoundLen to its longest match.
    void InsertNode() {
        // The ancestors above the climb take no part in the walk, so their
        // update, whose loop ends at random, comes after it.
        int percolateFrom = 0;
        WalkDown(percolateFrom);
        // The next position most likely climbs from the leaf after this
        // match; the climb waits on that leaf's parent, whose load starts
        // here, beside the percolation and the next deletion.
        __builtin_prefetch(&nodes_[nodes_[(foundPos_ + 1) | kRootBase].Parent]);
        if (percolateFrom != 0) PercolateCurrent(percolateFrom);
    }

    // The walk of InsertNode; sets percolateFrom to the node above the
    // climb, if it climbed.
    void WalkDown(int& percolateFrom) {
        TLh5Node* const nodes = nodes_;
        const uint8_t* const current = text_ + textPos_;
        const int textPos = textPos_;
        // A word compare reads at most kMaxMatch + 7 bytes from here on.
        const bool wordsFit = textPos + kMaxMatch + 7 <= kTextEnd;
        int q = 0;
        int r = 0;
        int foundLen = foundLen_;
        if (foundLen >= 4) {
            --foundLen;
            r = ClimbFromPreviousMatch(foundLen, q);
            percolateFrom = q;
        } else {
            q = current[0] + kRootBase;
            r = Child(q, current[1]);
            if (r == 0) {
                MakeChild(q, current[1], textPos);
                foundLen_ = 1;
                return;
            }
            foundLen = 2;
        }
        for (;;) {
            int limit = kMaxMatch;
            int foundPos = r;
            if (r < kRootBase) {
                limit = nodes[r].Level;
                foundPos = nodes[r].Position & kPositionMask;
            }
            foundPos = Unwrap(foundPos, textPos);
            foundPos_ = foundPos;
            foundLen = wordsFit ? CommonLengthByWords(current, text_ + foundPos, foundLen, limit)
                                : CommonLengthByBytes(current, text_ + foundPos, foundLen, limit);
            if (foundLen < limit) {
                foundLen_ = foundLen;
                Split(r);
                return;
            }
            if (foundLen == kMaxMatch) break;
            nodes[r].Position = static_cast<uint16_t>(textPos);
            q = r;
            const int c = current[foundLen];
            r = Child(q, c);
            if (r == 0) {
                MakeChild(q, c, textPos);
                foundLen_ = foundLen;
                return;
            }
            ++foundLen;
        }
        // Leaf r equals the current text over the longest match: the current
        // position takes its place, and r leads to it from now on.
        foundLen_ = foundLen;
        TakePlace(r, textPos);
        nodes[r].Parent = 0;
        nodes[r].Next = static_cast<uint16_t>(textPos);
    }

    // Percolates the newest position of removed node r up its ancestors.
    void PercolateUp(int r, int newest) {
        TLh5Node* const nodes = nodes_;
        const int textPos = textPos_;
        int q = nodes[r].Parent;
        while (nodes[q].Position & kPercolateFlag) {
            newest = std::max(newest, Unwrap(nodes[q].Position & kPositionMask, textPos));
            nodes[q].Position = static_cast<uint16_t>(newest | kWindowSize);
            q = nodes[q].Parent;
        }
        newest = std::max(newest, Unwrap(nodes[q].Position, textPos));
        nodes[q].Position = static_cast<uint16_t>(q < kRootBase ? newest | kWindowSize | kPercolateFlag : 0);
    }

    // Removes the leaf of the position 8,192 back (numbered TextPos), and
    // its parent when that is left with one child.
    void DeleteNode() {
        TLh5Node* const nodes = nodes_;
        const int textPos = textPos_;
        if (nodes[textPos].Parent == 0) return;
        Unlink(textPos);
        const int r = nodes[textPos].Parent;
        nodes[textPos].Parent = 0;
        if (r >= kRootBase) return;  // roots stay, whatever their children
        nodes[r].ChildXor ^= static_cast<uint16_t>(textPos);
        if (--nodes[r].ChildCount > 1) return;

        // Its only child takes its place. The relinking goes first, so its
        // loads overlap the percolation loop; PercolateUp still finds r's
        // parent, which is cleared after it.
        const int child = nodes[r].ChildXor;
        Unlink(child);
        TakePlace(r, child);
        PercolateUp(r, Unwrap(nodes[r].Position & kPositionMask, textPos));
        nodes[r].Parent = 0;
        nodes[r].Next = static_cast<uint16_t>(freeNode_);
        freeNode_ = r;
    }

    // Moves the text back by a window and reads the next one behind it; at
    // the end of the source the 0 read stays and older bytes follow it.
    void Slide() {
        std::memmove(text_, text_ + kWindowSize, kTextEnd - kWindowSize);
        int i = kTextStart;
        for (;;) {
            if (!s_.SourceExhausted) i += TakeStretch(i);
            if (i == kTextEnd) break;
            text_[i] = ReadSourceByte(s_);
            if (s_.SourceExhausted) break;
            ++i;
        }
        textLeft_ += i - kTextStart;
        textPos_ = kWindowSize;
    }

    // The next deletion's parent and sibling links lie anywhere in the
    // trie: their loads start here, beside this position's walk. (Kept in
    // this body: a function of its own holding only prefetches is pure to
    // the compiler, and its calls vanish.)
    void NextMatch() {
        --textLeft_;
        if (++textPos_ == kTextSlideAt) Slide();
        DeleteNode();
        const TLh5Node& leaving = nodes_[kWindowSize + ((textPos_ + 1) & kWindowMask)];
        __builtin_prefetch(&nodes_[leaving.Parent]);
        __builtin_prefetch(&Linked(leaving.Prev));
        __builtin_prefetch(&nodes_[leaving.Next]);
        InsertNode();
    }

    TCodecState& s_;
    TLh5State& st_;
    uint8_t* const text_;
    std::byte* const trie_;
    TLh5Node* const nodes_;
    uint16_t* const heads_;
    // Search state, kept as plain ints while the run goes on.
    int textPos_ = 0;
    int textLeft_ = 0;
    int foundPos_ = 0;
    int foundLen_ = 0;
    int freeNode_ = 0;
};

}  // namespace

void Lh5Compress(TCodecState& s) {
    TLh5Arrays arrays(s, Direction::Compress);
    TCompressor(s).Run();
}

}  // namespace vorn
