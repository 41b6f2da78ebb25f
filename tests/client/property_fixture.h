// Property descriptions and updates written byte by byte, as a server
// sends them, for the replica's tests.
#pragma once

#include "common/little_endian.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace brindle::test {

// A description written record by record.
struct Desc {
    std::vector<uint8_t> body;
    uint16_t nCount = 0;

    void Put32(uint32_t v) {
        uint8_t b[4];
        StoreLe32(b, v);
        body.insert(body.end(), b, b + 4);
    }
    void Text(const std::string& s) {
        body.insert(body.end(), s.begin(), s.end());
        body.push_back(0);
    }
    Desc& Window(const std::string& cls, uint32_t hParent, uint32_t h, uint8_t nKind,
                 std::vector<uint8_t> data = {}, const std::string& text = "t",
                 int32_t nWidth = 100, int32_t nHeight = 20, int32_t nLeft = 0, int32_t nTop = 0,
                 uint32_t nStyle = 0x50000000u) {
        Text(text);
        Text(cls);
        for (int32_t v : {nLeft, nTop, nWidth, nHeight, 0, 0, nWidth, nHeight})
            Put32(uint32_t(v));
        for (uint32_t v : {nStyle, 0u, hParent, h, 1000u})
            Put32(v);
        body.push_back(nKind);
        body.insert(body.end(), data.begin(), data.end());
        ++nCount;
        return *this;
    }
    std::vector<uint8_t> Payload(int32_t nCamera = 1, int nLengthExtra = 0) const {
        std::vector<uint8_t> p(12, 0);
        StoreLe32(p.data(), uint32_t(nCamera));
        std::vector<uint8_t> d(2, 0);
        StoreLe16(d.data(), nCount);
        const std::string font = "-12,0,0,0,400,0,0,0,1,0,0,0,0,Sans";
        d.insert(d.end(), font.begin(), font.end());
        d.push_back(0); // the font text ends with its NUL
        d.insert(d.end(), body.begin(), body.end());
        StoreLe32(p.data() + 8, uint32_t(int(d.size()) + nLengthExtra));
        p.insert(p.end(), d.begin(), d.end());
        p.resize(p.size() + 291 - 12, 0);
        return p;
    }
};

inline std::vector<uint8_t> List(std::vector<std::string> items, uint8_t nSelected) {
    std::vector<uint8_t> d;
    for (const std::string& s : items) {
        d.insert(d.end(), s.begin(), s.end());
        d.push_back(0);
    }
    d.push_back(0);
    d.push_back(nSelected);
    return d;
}

inline std::vector<uint8_t> Slider(int32_t lo, int32_t hi, int32_t pos) {
    std::vector<uint8_t> d(24, 0);
    for (int i = 0; i < 6; ++i)
        StoreLe32(d.data() + 4 * i,
                  uint32_t(std::vector<int32_t>{lo, hi, 10, 0, 0, pos}[size_t(i)]));
    return d;
}

inline std::vector<uint8_t> UpdateOf(int32_t nCamera, uint32_t nKind,
                                     std::vector<std::array<uint32_t, 5>> items,
                                     int nLengthExtra = 0) {
    std::vector<uint8_t> p(12 + 20 * items.size(), 0);
    StoreLe32(p.data(), uint32_t(nCamera));
    StoreLe32(p.data() + 4, nKind);
    StoreLe32(p.data() + 8, uint32_t(int(20 * items.size()) + nLengthExtra));
    for (size_t i = 0; i < items.size(); ++i) {
        uint8_t* q = p.data() + 12 + 20 * i;
        StoreLe16(q, uint16_t(items[i][0] & 0xFFFF));
        StoreLe16(q + 2, uint16_t(items[i][0] >> 16)); // decimals in the high half
        StoreLe32(q + 4, items[i][1]);
        StoreLe32(q + 8, items[i][2]);
        StoreLe32(q + 12, items[i][3]);
        StoreLe32(q + 16, items[i][4]);
    }
    return p;
}

} // namespace brindle::test
