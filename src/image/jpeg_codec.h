// JPEG encoding of composed frames and decoding of stored images, with
// libjpeg-turbo. Library errors end only the image at hand: both directions
// return a code instead of letting the library end the process.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace brindle {

// Working memory of the encoder, kept from image to image so that a cycle
// does not allocate a frame-sized buffer each time. It grows when an image
// does not fit.
class JpegScratch {
  public:
    JpegScratch() = default;
    JpegScratch(const JpegScratch&) = delete;
    JpegScratch& operator=(const JpegScratch&) = delete;
    JpegScratch(JpegScratch&& other) noexcept;
    JpegScratch& operator=(JpegScratch&& other) noexcept;
    ~JpegScratch();

    // Makes room for at least nBytes; false when memory is short.
    bool Reserve(size_t nBytes);
    // Doubles the room (at least nMinimum more); false when memory is short.
    bool Grow(size_t nMinimum);
    uint8_t* Data() { return pData_; }
    size_t Capacity() const { return nCapacity_; }

  private:
    uint8_t* pData_ = nullptr;
    size_t nCapacity_ = 0;
};

// Encodes a picture of 24-bit BGR rows: `pTopRow` is the top row and each
// next row down lies nStep bytes further (negative for a bottom-up frame;
// |nStep| is at least 3 x width). Quality is clamped to 1..100, with baseline-compatible tables;
// the rest are the library's defaults (JFIF, YCbCr, standard Huffman tables). On success `jpeg`
// holds exactly the encoded bytes. Returns 0, ERROR_NOT_ENOUGH_MEMORY_CODE, or
// ERROR_INVALID_DATA_CODE for a picture the library refuses (for instance a size beyond 65,500
// pixels).
uint32_t EncodeJpeg(const uint8_t* pTopRow, int32_t nWidth, int32_t nHeight, ptrdiff_t nStep,
                    int nQuality, JpegScratch& scratch, std::vector<uint8_t>& jpeg);

// Rows are handed to the library in bands of this many (a multiple of the
// 16-row group that 2x2 chroma subsampling encodes at once): a band of a
// 1920-pixel frame fits the processor's second-level cache.
inline constexpr int32_t JPEG_BAND_ROWS = 32;

// Told before each band of rows is handed to the library, top band first.
// An observer that reads the same rows brings them into the cache for the
// library; this matters for bottom-up frames, whose rows the library walks
// down through memory, which the processor's prefetcher does not follow.
// Must not throw.
class JpegRowObserver {
  public:
    virtual void BeforeRows(int32_t nFirstRow, int32_t nRows) = 0;

  protected:
    ~JpegRowObserver() = default;
};

// An encoder kept from image to image: the compressor, the row table and
// the output buffer are made once and reused, so that a frame cycle does
// not set them up and allocate them again for every picture.
class JpegEncoder {
  public:
    JpegEncoder();
    ~JpegEncoder();
    JpegEncoder(const JpegEncoder&) = delete;
    JpegEncoder& operator=(const JpegEncoder&) = delete;
    JpegEncoder(JpegEncoder&&) noexcept;
    JpegEncoder& operator=(JpegEncoder&&) noexcept;

    // Encodes a picture of 24-bit BGR rows; rows[r] is row r from the top and
    // holds at least 3 x width bytes. The settings and codes are those of
    // EncodeJpeg. On success Data() and Size() give the image, valid until
    // the next Encode; on failure Size() is 0. The observer (may be null)
    // hears of each band; after a failure some bands may not have come.
    uint32_t Encode(const uint8_t* const* rows, int32_t nWidth, int32_t nHeight, int nQuality,
                    JpegRowObserver* observer = nullptr);

    const uint8_t* Data() const;
    size_t Size() const;

    struct State;

  private:
    std::unique_ptr<State> state_;
};

// A decoded picture: 24-bit BGR rows, top row first, nStride = 3 x width
// rounded up to a multiple of 4.
struct DecodedImage {
    std::vector<uint8_t> pixels;
    int32_t nWidth = 0;
    int32_t nHeight = 0;
    size_t nStride = 0;
};

// Pictures with more pixels than this are refused before any pixel memory
// is allocated: the size comes from the file.
inline constexpr uint64_t JPEG_DECODE_MAX_PIXELS = 64ull * 1024 * 1024;

// Decodes a JPEG held in memory; never reads outside [data, data + nSize).
// Greyscale images come out as three equal bytes per pixel. On failure
// `image` is left as it was. Returns 0, ERROR_INVALID_DATA_CODE for data
// that is not a JPEG the library can decode (truncated data included) or a
// picture that is too large, or ERROR_NOT_ENOUGH_MEMORY_CODE.
uint32_t DecodeJpeg(const uint8_t* data, size_t nSize, DecodedImage& image);

// Reads a whole file and decodes it. Returns the system code of a failed
// open or read, or a code of DecodeJpeg.
uint32_t DecodeJpegFile(const std::string& path, DecodedImage& image);

} // namespace brindle
