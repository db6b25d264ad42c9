// Allocation and release of the LH5 arrays.
#include "compress/lh5/lh5.h"

namespace vorn {

void Lh5AllocState(TCodecState& s, Direction direction) {
    const bool compressing = direction == Direction::Compress;
    using namespace lh5;
    TLh5State& st = s.Lh5;
    // If an allocation throws, the constructor of TLh5Arrays has not
    // finished and its destructor will not run: free what was obtained.
    try {
        Obtain(st.TextBuf, compressing ? kTextBufSize : kExpandBufSize);
        Obtain(st.TreeLeft, kTreeSize);
        Obtain(st.TreeRight, kTreeSize);
        Obtain(st.AuxTable, kAuxTableSize);
        Obtain(st.CharLen, kCharLenSize);
        if (compressing) {
            Obtain(st.Trie, kTrieBytes);
            Obtain(st.BlockBuf, kBlockBufSize + 1);
            Obtain(st.CharFreq, kTreeSize);
            Obtain(st.CharCode, kCharCodeSize);
            Obtain(st.AuxCode, kAuxCodeSize);
        } else {
            Obtain(st.CharTable, kCharTableSize);
        }
    } catch (...) {
        Lh5FreeState(s);
        throw;
    }
    st.BitCount = compressing ? 8 : 0;
    st.TreeDepth = 0;
    st.BitByte = 0;
    st.BitBuf = 0;
    st.BlockCount = 0;
}

void Lh5FreeState(TCodecState& s) {
    TLh5State& st = s.Lh5;
    st.TextBuf.reset();
    st.Trie.reset();
    st.BlockBuf.reset();
    st.TreeLeft.reset();
    st.TreeRight.reset();
    st.CharLen.reset();
    st.CharFreq.reset();
    st.CharTable.reset();
    st.CharCode.reset();
    st.AuxTable.reset();
    st.AuxCode.reset();
}

}  // namespace vorn
