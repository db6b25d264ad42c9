#include "tests/lzh/lzh_test_support.h"

#include "compress/lzh/lzh_constants.h"

namespace vorn::test {

LzhModel::LzhModel() {
    LzhAllocateState(z, false);
    LzhStartModel(z);
}

LzhModel::~LzhModel() { LzhFreeState(z); }

std::string SymbolCode(const TLzhState& z, int symbol) {
    std::string code;
    for (int k = z.HuffParent[LzhLeafBase + symbol]; k != LzhRoot; k = z.HuffParent[k])
        code.insert(code.begin(), (k & 1) ? '1' : '0');
    return code;
}

std::string PositionCode(int d) {
    const int u = d >> 6;
    std::string bits;
    for (int k = 0; k < LzhPosLen[u]; ++k) bits += (LzhPosCode[u] >> (7 - k)) & 1 ? '1' : '0';
    for (int k = 5; k >= 0; --k) bits += (d >> k) & 1 ? '1' : '0';
    return bits;
}

LzhToken Lit(uint8_t b) { return {1, b}; }
LzhToken Match(int length, int distance) { return {length, distance}; }

void LzhTokenWriter::Put(const LzhToken& token) {
    PutSymbol(static_cast<uint16_t>(token.length == 1 ? token.value : token.length + LzhMatchSymbolBase));
    if (token.length > 1) bits_ += PositionCode(token.value);
}

void LzhTokenWriter::PutSymbol(uint16_t symbol) {
    bits_ += SymbolCode(model_.z, symbol);
    LzhUpdateModel(model_.z, symbol);
}

std::vector<LzhToken> ReadTokens(const Bytes& codecData, int size) {
    const std::string bits = UnpackBits(codecData);
    size_t at = 0;
    auto next = [&] { return at < bits.size() && bits[at++] == '1' ? 1 : 0; };
    LzhModel model;
    std::vector<LzhToken> tokens;
    for (int done = 0; done < size;) {
        int c = model.z.HuffChild[LzhRoot];
        while (c < LzhLeafBase) c = model.z.HuffChild[c + next()];
        const int symbol = c - LzhLeafBase;
        LzhUpdateModel(model.z, static_cast<uint16_t>(symbol));
        if (symbol < 256) {
            tokens.push_back(Lit(static_cast<uint8_t>(symbol)));
            ++done;
            continue;
        }
        // Eight bits name u and the length of its code; six low bits follow it.
        int head = 0;
        for (int k = 0; k < 8; ++k) head = head << 1 | next();
        const int u = LzhBytePos[head];
        int low = head & ((1 << (8 - LzhByteLen[head])) - 1);
        for (int k = 0; k < LzhByteLen[head] - 2; ++k) low = low << 1 | next();
        tokens.push_back(Match(symbol - LzhMatchSymbolBase, u << 6 | low));
        done += symbol - LzhMatchSymbolBase;
    }
    return tokens;
}

}  // namespace vorn::test
