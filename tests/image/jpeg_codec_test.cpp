#include "common/error_codes.h"
#include "image/jpeg_codec.h"

#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <random>

#include <jpeglib.h>

namespace brindle {
namespace {

// A top-down BGR picture filled by fill(x, y) -> {b, g, r}.
struct Picture {
    int32_t nWidth;
    int32_t nHeight;
    size_t nStride;
    std::vector<uint8_t> pixels;
};

template <typename Fill> Picture MakePicture(int32_t nWidth, int32_t nHeight, Fill fill) {
    Picture picture{nWidth, nHeight, (size_t(nWidth) * 3 + 3) & ~size_t(3), {}};
    picture.pixels.assign(picture.nStride * nHeight, 0);
    for (int32_t y = 0; y < nHeight; ++y)
        for (int32_t x = 0; x < nWidth; ++x) {
            auto bgr = fill(x, y);
            std::copy(bgr.begin(), bgr.end(), &picture.pixels[y * picture.nStride + 3 * x]);
        }
    return picture;
}

std::vector<uint8_t> Encode(const Picture& picture, int nQuality) {
    JpegScratch scratch;
    std::vector<uint8_t> jpeg;
    EXPECT_EQ(EncodeJpeg(picture.pixels.data(), picture.nWidth, picture.nHeight, picture.nStride,
                         nQuality, scratch, jpeg),
              0u);
    return jpeg;
}

// The luminance quantisation table of a JPEG, as the library reads it.
std::vector<int> LuminanceTable(const std::vector<uint8_t>& jpeg) {
    jpeg_decompress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, jpeg.data(), jpeg.size());
    jpeg_read_header(&cinfo, TRUE);
    std::vector<int> table(cinfo.quant_tbl_ptrs[0]->quantval,
                           cinfo.quant_tbl_ptrs[0]->quantval + DCTSIZE2);
    jpeg_destroy_decompress(&cinfo);
    return table;
}

// Blue, green and red must land in their own channels both ways.
TEST(JpegCodec, RoundTripKeepsBlueGreenRedOrder) {
    Picture picture = MakePicture(48, 32, [](int32_t x, int32_t) {
        if (x < 16)
            return std::array<uint8_t, 3>{255, 0, 0}; // blue
        if (x < 32)
            return std::array<uint8_t, 3>{0, 255, 0}; // green
        return std::array<uint8_t, 3>{0, 0, 255};     // red
    });
    DecodedImage image;
    std::vector<uint8_t> jpeg = Encode(picture, 95);
    ASSERT_EQ(DecodeJpeg(jpeg.data(), jpeg.size(), image), 0u);
    ASSERT_EQ(image.nWidth, 48);
    ASSERT_EQ(image.nHeight, 32);
    EXPECT_EQ(image.nStride, 144u);
    const uint8_t* row = &image.pixels[16 * image.nStride];
    for (int nBand = 0; nBand < 3; ++nBand) {
        const uint8_t* pixel = row + 3 * (nBand * 16 + 8);
        for (int c = 0; c < 3; ++c)
            EXPECT_NEAR(pixel[c], c == nBand ? 255 : 0, 12) << "band " << nBand << " byte " << c;
    }
}

// A bottom-up frame encodes to the same bytes as its upright copy.
TEST(JpegCodec, BottomUpRowsEncodeLikeTheUprightPicture) {
    Picture upright = MakePicture(40, 30, [](int32_t x, int32_t y) {
        return std::array<uint8_t, 3>{uint8_t(x * 6), uint8_t(y * 8), uint8_t(x ^ y)};
    });
    std::vector<uint8_t> flipped(upright.pixels.size());
    for (int32_t y = 0; y < 30; ++y)
        std::copy_n(&upright.pixels[y * upright.nStride], upright.nStride,
                    &flipped[(29 - y) * upright.nStride]);
    JpegScratch scratch;
    std::vector<uint8_t> jpeg;
    ptrdiff_t nStride = ptrdiff_t(upright.nStride);
    ASSERT_EQ(EncodeJpeg(flipped.data() + 29 * nStride, 40, 30, -nStride, 70, scratch, jpeg), 0u);
    EXPECT_EQ(jpeg, Encode(upright, 70));
}

// Notes the bands the encoder announces.
struct BandLog : JpegRowObserver {
    void BeforeRows(int32_t nFirstRow, int32_t nRows) override {
        bands.emplace_back(nFirstRow, nRows);
    }
    std::vector<std::pair<int32_t, int32_t>> bands;
};

// One encoder kept over pictures of other sizes and qualities, and over a
// picture the library refuses, gives the bytes of a fresh encode each time;
// the observer hears of every row once, in bands from the top.
TEST(JpegCodec, EncoderKeptBetweenImagesGivesTheBytesOfAFreshOne) {
    struct Case {
        int32_t nWidth, nHeight;
        int nQuality;
    };
    const Case cases[] = {
        {40, 30, 70}, {96, 100, 25}, {70000, 1, 50}, {33, 65, 100}, {96, 100, 90}};
    JpegEncoder encoder;
    for (const Case& c : cases) {
        Picture picture = MakePicture(c.nWidth, c.nHeight, [](int32_t x, int32_t y) {
            return std::array<uint8_t, 3>{uint8_t(x * 5), uint8_t(y * 3), uint8_t(x * y)};
        });
        std::vector<const uint8_t*> rows;
        for (int32_t y = 0; y < c.nHeight; ++y)
            rows.push_back(picture.pixels.data() + picture.nStride * y);
        BandLog log;
        uint32_t nError = encoder.Encode(rows.data(), c.nWidth, c.nHeight, c.nQuality, &log);
        if (c.nWidth > 65500) {
            EXPECT_EQ(nError, ERROR_INVALID_DATA_CODE);
            EXPECT_EQ(encoder.Size(), 0u);
            continue;
        }
        ASSERT_EQ(nError, 0u) << c.nWidth;
        EXPECT_EQ(std::vector<uint8_t>(encoder.Data(), encoder.Data() + encoder.Size()),
                  Encode(picture, c.nQuality))
            << c.nWidth << "x" << c.nHeight;
        int32_t nNext = 0;
        for (auto [nFirst, nRows] : log.bands) {
            EXPECT_EQ(nFirst, nNext);
            EXPECT_GT(nRows, 0);
            nNext = nFirst + nRows;
        }
        EXPECT_EQ(nNext, c.nHeight);
    }
}

TEST(JpegCodec, QualityIsClampedAndHundredGivesUnitTables) {
    Picture picture = MakePicture(64, 64, [](int32_t x, int32_t y) {
        return std::array<uint8_t, 3>{uint8_t(x * 4), uint8_t(y * 4), uint8_t(x + y)};
    });
    EXPECT_EQ(Encode(picture, 0), Encode(picture, 1));
    EXPECT_EQ(Encode(picture, -5), Encode(picture, 1));
    EXPECT_EQ(Encode(picture, 150), Encode(picture, 100));
    for (int nValue : LuminanceTable(Encode(picture, 100)))
        EXPECT_EQ(nValue, 1);
    // Baseline tables: quality 1 is capped at 255 per entry.
    for (int nValue : LuminanceTable(Encode(picture, 1)))
        EXPECT_LE(nValue, 255);
}

// Noise does not compress; the output buffer must grow instead of cutting
// the image.
TEST(JpegCodec, OutputBufferGrowsForPicturesThatDoNotCompress) {
    std::mt19937 random(3);
    Picture picture = MakePicture(96, 96, [&](int32_t, int32_t) {
        return std::array<uint8_t, 3>{uint8_t(random()), uint8_t(random()), uint8_t(random())};
    });
    JpegScratch scratch;
    std::vector<uint8_t> jpeg;
    ASSERT_EQ(EncodeJpeg(picture.pixels.data(), 96, 96, picture.nStride, 100, scratch, jpeg), 0u);
    EXPECT_GT(jpeg.size(), picture.pixels.size() / 4 + 4096);
    DecodedImage image;
    ASSERT_EQ(DecodeJpeg(jpeg.data(), jpeg.size(), image), 0u);
    EXPECT_EQ(image.nWidth, 96);
}

TEST(JpegCodec, LibraryRefusalEndsOnlyThisImage) {
    std::vector<uint8_t> pixels(3 * 70000, 0);
    JpegScratch scratch;
    std::vector<uint8_t> jpeg{1, 2, 3};
    // Wider than JPEG allows: the library's fatal error comes back as a code.
    EXPECT_EQ(EncodeJpeg(pixels.data(), 70000, 1, pixels.size(), 50, scratch, jpeg),
              ERROR_INVALID_DATA_CODE);
    EXPECT_EQ(jpeg, (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(EncodeJpeg(pixels.data(), 0, 1, 3, 50, scratch, jpeg), ERROR_INVALID_PARAMETER_CODE);
    EXPECT_EQ(EncodeJpeg(pixels.data(), 10, 1, 20, 50, scratch, jpeg),
              ERROR_INVALID_PARAMETER_CODE);
}

// A one-component JPEG, written with the library directly.
std::vector<uint8_t> GreyJpeg(int32_t nWidth, int32_t nHeight, uint8_t nValue) {
    jpeg_compress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    unsigned char* pOut = nullptr;
    unsigned long nOut = 0;
    jpeg_mem_dest(&cinfo, &pOut, &nOut);
    cinfo.image_width = nWidth;
    cinfo.image_height = nHeight;
    cinfo.input_components = 1;
    cinfo.in_color_space = JCS_GRAYSCALE;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 95, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<uint8_t> row(nWidth, nValue);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW pRow = row.data();
        jpeg_write_scanlines(&cinfo, &pRow, 1);
    }
    jpeg_finish_compress(&cinfo);
    std::vector<uint8_t> jpeg(pOut, pOut + nOut);
    jpeg_destroy_compress(&cinfo);
    std::free(pOut);
    return jpeg;
}

TEST(JpegCodec, GreyscaleDecodesAsThreeEqualBytes) {
    std::vector<uint8_t> jpeg = GreyJpeg(21, 7, 90);
    DecodedImage image;
    ASSERT_EQ(DecodeJpeg(jpeg.data(), jpeg.size(), image), 0u);
    ASSERT_EQ(image.nWidth, 21);
    EXPECT_EQ(image.nStride, 64u);
    for (int32_t y = 0; y < 7; ++y)
        for (int32_t x = 0; x < 21; ++x)
            for (int c = 0; c < 3; ++c)
                EXPECT_NEAR(image.pixels[y * 64 + 3 * x + c], 90, 2);
}

// Damaged data: a code comes back and the previous picture stays.
TEST(JpegCodec, DamagedDataLeavesThePictureAsItWas) {
    Picture picture = MakePicture(32, 32, [](int32_t x, int32_t) {
        return std::array<uint8_t, 3>{uint8_t(x * 8), 50, 100};
    });
    std::vector<uint8_t> jpeg = Encode(picture, 80);
    DecodedImage image;
    image.nWidth = 5;
    image.pixels = {1, 2, 3};

    std::vector<uint8_t> notJpeg(500, 0x41);
    std::vector<uint8_t> truncated(jpeg.begin(), jpeg.begin() + jpeg.size() / 2);
    std::vector<uint8_t> headerOnly(jpeg.begin(), jpeg.begin() + 2);
    for (const auto* data : {&notJpeg, &truncated, &headerOnly}) {
        EXPECT_EQ(DecodeJpeg(data->data(), data->size(), image), ERROR_INVALID_DATA_CODE);
        EXPECT_EQ(image.nWidth, 5);
        EXPECT_EQ(image.pixels, (std::vector<uint8_t>{1, 2, 3}));
    }
    EXPECT_EQ(DecodeJpeg(nullptr, 0, image), ERROR_INVALID_DATA_CODE);
}

// The size comes from the file: a header claiming a huge picture is
// refused before any pixel memory is taken.
TEST(JpegCodec, HugeDeclaredSizeIsRefused) {
    std::vector<uint8_t> jpeg = GreyJpeg(16, 16, 10);
    // Patch the SOF0 frame header: height and width at +5 and +7.
    for (size_t i = 0; i + 9 < jpeg.size(); ++i) {
        if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xC0) {
            jpeg[i + 5] = 0xFF, jpeg[i + 6] = 0xF0; // 65520
            jpeg[i + 7] = 0xFF, jpeg[i + 8] = 0xF0;
            break;
        }
    }
    DecodedImage image;
    EXPECT_EQ(DecodeJpeg(jpeg.data(), jpeg.size(), image), ERROR_INVALID_DATA_CODE);
    EXPECT_TRUE(image.pixels.empty());
}

TEST(JpegCodec, DecodesFiles) {
    test::TempDir dir;
    std::string path = dir.File("grey.jpg");
    std::vector<uint8_t> jpeg = GreyJpeg(8, 8, 200);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(jpeg.data()), std::streamsize(jpeg.size()));
    DecodedImage image;
    EXPECT_EQ(DecodeJpegFile(path, image), 0u);
    EXPECT_EQ(image.nHeight, 8);
    EXPECT_EQ(DecodeJpegFile(dir.File("missing.jpg"), image), ERROR_FILE_NOT_FOUND_CODE);
    std::ofstream(dir.File("empty.jpg"));
    EXPECT_EQ(DecodeJpegFile(dir.File("empty.jpg"), image), ERROR_INVALID_DATA_CODE);
}

} // namespace
} // namespace brindle
