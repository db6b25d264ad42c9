#include "compress/lzh/lzh_match.h"

#include <algorithm>
#include "compress/lzh/lzh_constants.h"
#include "compress/word_compare.h"

namespace vorn {

using namespace lzh;

namespace {

// The tree of a string: its first byte and a 4-bit hash of the next two.
int TreeRoot(const uint8_t* key) {
    const int h = key[1] ^ key[2];
    return kTreeRootBase + key[0] + 256 * ((h ^ (h >> 4)) & 15);
}

// The first index from i on at which the 60-byte strings a and b differ, or
// kMaxMatch when they agree to the end; the bytes before i must be equal.
// Eight bytes at a time; the last word is taken so that it ends at byte 59,
// overlapping bytes already known equal, so nothing past the string is read.
int FirstDifference(const uint8_t* a, const uint8_t* b, int i) {
    for (; i < kMaxMatch; i += 8) {
        const int at = std::min(i, kMaxMatch - 8);
        const uint64_t x = LoadWord(a + at);
        const uint64_t y = LoadWord(b + at);
        if (x != y) return at + SharedLeadingBytes(x, y);
    }
    return kMaxMatch;
}

// The link in p's parent that names p. A tree root has only its right link.
int16_t& LinkToNode(TLzhState& z, int p) {
    const int up = z.MatchParent[p];
    if (z.MatchRight[up] == p) return z.MatchRight[up];
    return z.MatchLeft[up];
}

// r takes the place of p, whose 60-byte string equals r's; p leaves. The
// children's SharedLen stay right because the strings are equal. Links
// that hold kNil write into the spare entry MatchParent[kNil].
void ReplaceNode(TLzhState& z, int p, int r) {
    int16_t* left = z.MatchLeft.get();
    int16_t* right = z.MatchRight.get();
    int16_t* parent = z.MatchParent.get();
    z.SharedLen[r] = z.SharedLen[p];
    parent[r] = parent[p];
    left[r] = left[p];
    right[r] = right[p];
    parent[left[p]] = static_cast<int16_t>(r);
    parent[right[p]] = static_cast<int16_t>(r);
    LinkToNode(z, p) = static_cast<int16_t>(r);
    parent[p] = kNil;
}

}  // namespace

void LzhInitTree(TLzhState& z) {
    std::fill(z.MatchRight.get() + kTreeRootBase, z.MatchRight.get() + kTreeRootBase + kTreeCount,
              static_cast<int16_t>(kNil));
    std::fill(z.MatchParent.get(), z.MatchParent.get() + kRingSize, static_cast<int16_t>(kNil));
}

void LzhInsertNode(TLzhState& z, int r) {
    const uint8_t* ring = z.RingBuf.get();
    int16_t* const links[2] = {z.MatchLeft.get(), z.MatchRight.get()};
    uint8_t* shared = z.SharedLen.get();
    const uint8_t* key = ring + r;
    links[0][r] = links[1][r] = kNil;
    int matchLen = 0;  // stays 0 below 3 bytes
    int matchPos = 0;
    int p = TreeRoot(key);
    int i = 1;      // leading bytes the key is known to share with the node
    int right = 1;  // which link to follow
    for (;;) {
        int16_t& link = links[right][p];
        if (link == kNil) {
            link = static_cast<int16_t>(r);
            z.MatchParent[r] = static_cast<int16_t>(p);
            shared[r] = static_cast<uint8_t>(i);
            break;
        }
        p = link;
        const uint8_t* node = ring + p;
        const int d = ((r - p) & kRingMask) - 1;
        // With h = SharedLen[p] below i, the node left the parent's string
        // at h, where the key did not: they differ exactly there. With h
        // equal to i, the bytes from i on decide. With h above i, the node
        // differs from the key where its parent did: nothing changes.
        const int h = shared[p];
        if (h < i) {
            i = h;
            right = key[i] > node[i];
        } else if (h == i) {
            if (key[i] == node[i]) i = FirstDifference(key, node, i + 1);
            if (i == kMaxMatch) {
                matchLen = i;
                matchPos = d;
                ReplaceNode(z, p, r);
                break;
            }
            right = key[i] > node[i];
        }
        if (i <= kThreshold) continue;
        // At equal length the nearer match wins.
        if (i > matchLen) {
            matchLen = i;
            matchPos = d;
        } else if (i == matchLen && d < matchPos) {
            matchPos = d;
        }
    }
    z.LzhMatchLen = static_cast<uint16_t>(matchLen);
    z.LzhMatchPos = static_cast<uint16_t>(matchPos);
}

void LzhMeasureShared(TLzhState& z, int start, int parent, int node) {
    if (parent >= kRingSize) {
        z.SharedLen[node] = 1;
        return;
    }
    const uint8_t* ring = z.RingBuf.get();
    z.SharedLen[node] = static_cast<uint8_t>(FirstDifference(ring + node, ring + parent, start));
}

void LzhReparentShared(TLzhState& z, int newParent, int oldParent, int node) {
    const int a = z.SharedLen[oldParent];
    const int b = z.SharedLen[node];
    if (a == b) {
        LzhMeasureShared(z, a, newParent, node);
    } else if (a < b) {
        z.SharedLen[node] = static_cast<uint8_t>(a);
    }
}

void LzhDeleteNode(TLzhState& z, int p) {
    int16_t* left = z.MatchLeft.get();
    int16_t* right = z.MatchRight.get();
    int16_t* parent = z.MatchParent.get();
    if (parent[p] == kNil) return;
    int q;
    if (right[p] == kNil) {
        q = left[p];
        if (q != kNil) LzhReparentShared(z, parent[p], p, q);
    } else if (left[p] == kNil) {
        q = right[p];
        LzhReparentShared(z, parent[p], p, q);
    } else {
        // Two children: the greatest node of the left subtree takes p's place.
        q = left[p];
        if (right[q] != kNil) {
            do q = right[q];
            while (right[q] != kNil);
            if (left[q] != kNil) LzhReparentShared(z, parent[q], q, left[q]);
            LzhMeasureShared(z, 1, q, left[p]);
            right[parent[q]] = left[q];
            parent[left[q]] = parent[q];
            left[q] = left[p];
            parent[left[p]] = static_cast<int16_t>(q);
        }
        LzhMeasureShared(z, 1, parent[p], q);
        LzhMeasureShared(z, 1, q, right[p]);
        right[q] = right[p];
        parent[right[p]] = static_cast<int16_t>(q);
    }
    parent[q] = parent[p];
    LinkToNode(z, p) = static_cast<int16_t>(q);
    parent[p] = kNil;
}

}  // namespace vorn
