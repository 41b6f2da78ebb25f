// Image packet pieces and the image set they join to, as a server sends
// them, over any bytes.
//
// Input: a sequence of pieces, each a two-byte little-endian payload size
// and that many payload bytes. Every complete set is parsed into records;
// each record's JPEG must lie inside the set.
#include "client/connections/reception.h"

#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

using namespace brindle;

namespace {

void CheckSet(const std::vector<uint8_t>& set) {
    std::vector<ImageRecord> records;
    ParseImageSet(set, records);
    for (const ImageRecord& record : records) {
        const uint8_t* begin = set.data();
        const uint8_t* end = begin + set.size();
        if (record.jpeg.size() > 0 &&
            (record.jpeg.data() < begin || record.jpeg.data() + record.jpeg.size() > end))
            std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::span<const uint8_t> rest(data, size);
    CheckSet(std::vector<uint8_t>(data, data + size)); // the whole input as one set

    ImageAssembly assembly;
    assembly.SetGate(0);
    while (rest.size() >= 2) {
        size_t n = rest[0] | (size_t{rest[1]} << 8);
        rest = rest.subspan(2);
        if (n > rest.size())
            n = rest.size();
        ImagePiece piece;
        std::vector<uint8_t> set;
        if (ParseImagePiece(rest.first(n), piece) == 0) {
            if (piece.bytes.data() < rest.data() ||
                piece.bytes.data() + piece.bytes.size() > rest.data() + n)
                std::abort();
            PieceResult result = assembly.Add(piece, set);
            if (result == PieceResult::Complete)
                CheckSet(set);
            else if (result == PieceResult::SequenceError || result == PieceResult::NoMemory)
                break; // the link is torn down here
        }
        rest = rest.subspan(n);
    }
    return 0;
}
