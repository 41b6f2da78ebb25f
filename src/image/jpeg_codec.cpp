#include "image/jpeg_codec.h"

#include "common/error_codes.h"
#include "common/os_error.h"

#include <algorithm>
#include <climits>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <utility>

#include <sys/stat.h>

#include <jpeglib.h>
// jerror.h needs jpeglib.h first.
#include <jerror.h>

namespace brindle {

namespace {

// Every library error leaves through longjmp back into the function that
// set the jump point; nothing with a destructor lives in the library frames
// that the jump crosses.
struct JpegErrorManager {
    jpeg_error_mgr pub;
    jmp_buf jump;
};

[[noreturn]] void ErrorExit(j_common_ptr cinfo) {
    longjmp(reinterpret_cast<JpegErrorManager*>(cinfo->err)->jump, 1);
}

void SilentOutput(j_common_ptr) {}

// The memory source pads a file that ends too early with an end-of-image
// marker and warns; such a file is damaged and must not be shown as if whole.
void EmitMessage(j_common_ptr cinfo, int nLevel) {
    if (nLevel < 0 && cinfo->err->msg_code == JWRN_JPEG_EOF)
        ErrorExit(cinfo);
}

void InitErrorManager(JpegErrorManager& err) {
    jpeg_std_error(&err.pub);
    err.pub.error_exit = ErrorExit;
    err.pub.output_message = SilentOutput;
    err.pub.emit_message = EmitMessage;
}

// Destination writing into the scratch buffer, which grows when full.
struct ScratchDestination {
    jpeg_destination_mgr pub;
    JpegScratch* scratch;
    bool fNoMemory;
};

void InitDestination(j_compress_ptr cinfo) {
    auto* dest = reinterpret_cast<ScratchDestination*>(cinfo->dest);
    dest->pub.next_output_byte = dest->scratch->Data();
    dest->pub.free_in_buffer = dest->scratch->Capacity();
}

// Called when the whole buffer is full.
boolean EmptyOutputBuffer(j_compress_ptr cinfo) {
    auto* dest = reinterpret_cast<ScratchDestination*>(cinfo->dest);
    size_t nUsed = dest->scratch->Capacity();
    if (!dest->scratch->Grow(65536)) {
        dest->fNoMemory = true;
        ErrorExit(reinterpret_cast<j_common_ptr>(cinfo));
    }
    dest->pub.next_output_byte = dest->scratch->Data() + nUsed;
    dest->pub.free_in_buffer = dest->scratch->Capacity() - nUsed;
    return TRUE;
}

void TermDestination(j_compress_ptr) {}

// A compressor object, made on first use and kept for the next image. A
// library error destroys it, so that no image starts from a half-finished
// state; the next image makes a new one.
struct Compressor {
    jpeg_compress_struct cinfo;
    JpegErrorManager err;
    bool fCreated = false;

    Compressor() {
        InitErrorManager(err);
        cinfo.err = &err.pub;
    }
    ~Compressor() {
        if (fCreated)
            jpeg_destroy_compress(&cinfo);
    }
    Compressor(const Compressor&) = delete;
    Compressor& operator=(const Compressor&) = delete;
};

// The library calls; returns the encoded size, or 0 after a library error.
// rows[r] is row r from the top.
size_t RunCompressor(Compressor& compressor, const uint8_t* const* rows, int32_t nWidth,
                     int32_t nHeight, int nQuality, ScratchDestination& dest,
                     JpegRowObserver* observer) {
    jpeg_compress_struct& cinfo = compressor.cinfo;
    if (setjmp(compressor.err.jump)) {
        jpeg_destroy_compress(&cinfo);
        compressor.fCreated = false;
        return 0;
    }
    if (!compressor.fCreated) {
        // Marked first: a failure inside creation still needs the destroy
        // above, which copes with a half-made object.
        compressor.fCreated = true;
        jpeg_create_compress(&cinfo);
    }
    dest.pub.init_destination = InitDestination;
    dest.pub.empty_output_buffer = EmptyOutputBuffer;
    dest.pub.term_destination = TermDestination;
    cinfo.dest = &dest.pub;

    cinfo.image_width = static_cast<JDIMENSION>(nWidth);
    cinfo.image_height = static_cast<JDIMENSION>(nHeight);
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_EXT_BGR;
    cinfo.data_precision = 8;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, nQuality, TRUE);

    jpeg_start_compress(&cinfo, TRUE);
    // The library only reads the rows (it converts them into buffers of its
    // own), so the row table can be handed over as it is.
    JSAMPARRAY table = const_cast<JSAMPARRAY>(rows);
    for (int32_t y = 0; y < nHeight;) {
        int32_t nBand = std::min(JPEG_BAND_ROWS, nHeight - y);
        if (observer != nullptr)
            observer->BeforeRows(y, nBand);
        auto nDone = static_cast<int32_t>(
            jpeg_write_scanlines(&cinfo, table + y, static_cast<JDIMENSION>(nBand)));
        if (nDone != nBand) // only a suspending destination takes fewer rows
            ErrorExit(reinterpret_cast<j_common_ptr>(&cinfo));
        y += nBand;
    }
    jpeg_finish_compress(&cinfo);
    return dest.scratch->Capacity() - dest.pub.free_in_buffer;
}

// Clamps the quality, makes room for the image and runs the library.
uint32_t CompressInto(Compressor& compressor, JpegScratch& scratch, const uint8_t* const* rows,
                      int32_t nWidth, int32_t nHeight, int nQuality, JpegRowObserver* observer,
                      size_t& nSize) {
    nSize = 0;
    nQuality = std::clamp(nQuality, 1, 100);
    // A quarter of the raw frame holds camera pictures even at high quality;
    // a picture that does not fit (noise, for instance) makes it grow.
    size_t nStride = (static_cast<size_t>(nWidth) * 3 + 3) & ~size_t(3);
    if (!scratch.Reserve(nStride * static_cast<size_t>(nHeight) / 4 + 4096))
        return ERROR_NOT_ENOUGH_MEMORY_CODE;
    ScratchDestination dest{};
    dest.scratch = &scratch;
    nSize = RunCompressor(compressor, rows, nWidth, nHeight, nQuality, dest, observer);
    if (nSize == 0)
        return dest.fNoMemory ? ERROR_NOT_ENOUGH_MEMORY_CODE : ERROR_INVALID_DATA_CODE;
    return 0;
}

} // namespace

JpegScratch::~JpegScratch() {
    std::free(pData_);
}

JpegScratch::JpegScratch(JpegScratch&& other) noexcept
    : pData_(std::exchange(other.pData_, nullptr)), nCapacity_(std::exchange(other.nCapacity_, 0)) {
}

JpegScratch& JpegScratch::operator=(JpegScratch&& other) noexcept {
    if (this != &other) {
        std::free(pData_);
        pData_ = std::exchange(other.pData_, nullptr);
        nCapacity_ = std::exchange(other.nCapacity_, 0);
    }
    return *this;
}

bool JpegScratch::Reserve(size_t nBytes) {
    if (nBytes <= nCapacity_)
        return true;
    void* pNew = std::realloc(pData_, nBytes);
    if (pNew == nullptr)
        return false;
    pData_ = static_cast<uint8_t*>(pNew);
    nCapacity_ = nBytes;
    return true;
}

bool JpegScratch::Grow(size_t nMinimum) {
    size_t nMore = nCapacity_ > nMinimum ? nCapacity_ : nMinimum;
    if (nCapacity_ > SIZE_MAX - nMore)
        return false;
    return Reserve(nCapacity_ + nMore);
}

uint32_t EncodeJpeg(const uint8_t* pTopRow, int32_t nWidth, int32_t nHeight, ptrdiff_t nStep,
                    int nQuality, JpegScratch& scratch, std::vector<uint8_t>& jpeg) {
    size_t nStride = static_cast<size_t>(nStep < 0 ? -nStep : nStep);
    if (pTopRow == nullptr || nWidth <= 0 || nHeight <= 0 ||
        nStride < static_cast<size_t>(nWidth) * 3)
        return ERROR_INVALID_PARAMETER_CODE;
    auto* rows = static_cast<const uint8_t**>(std::malloc(sizeof(uint8_t*) * size_t(nHeight)));
    if (rows == nullptr)
        return ERROR_NOT_ENOUGH_MEMORY_CODE;
    for (int32_t y = 0; y < nHeight; ++y)
        rows[y] = pTopRow + static_cast<ptrdiff_t>(y) * nStep;
    Compressor compressor;
    size_t nSize = 0;
    uint32_t nError =
        CompressInto(compressor, scratch, rows, nWidth, nHeight, nQuality, nullptr, nSize);
    std::free(rows);
    if (nError != 0)
        return nError;
    try {
        jpeg.assign(scratch.Data(), scratch.Data() + nSize);
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY_CODE;
    }
    return 0;
}

struct JpegEncoder::State {
    Compressor compressor;
    JpegScratch scratch;
    size_t nSize = 0;
};

JpegEncoder::JpegEncoder() = default;
JpegEncoder::~JpegEncoder() = default;
JpegEncoder::JpegEncoder(JpegEncoder&&) noexcept = default;
JpegEncoder& JpegEncoder::operator=(JpegEncoder&&) noexcept = default;

uint32_t JpegEncoder::Encode(const uint8_t* const* rows, int32_t nWidth, int32_t nHeight,
                             int nQuality, JpegRowObserver* observer) {
    if (state_)
        state_->nSize = 0;
    if (rows == nullptr || nWidth <= 0 || nHeight <= 0)
        return ERROR_INVALID_PARAMETER_CODE;
    if (!state_) {
        state_.reset(new (std::nothrow) State);
        if (!state_)
            return ERROR_NOT_ENOUGH_MEMORY_CODE;
    }
    return CompressInto(state_->compressor, state_->scratch, rows, nWidth, nHeight, nQuality,
                        observer, state_->nSize);
}

const uint8_t* JpegEncoder::Data() const {
    return state_ ? state_->scratch.Data() : nullptr;
}

size_t JpegEncoder::Size() const {
    return state_ ? state_->nSize : 0;
}

namespace {

// A greyscale row of w bytes at the start of `row` becomes w BGR pixels;
// walking backwards never overwrites a byte before it is read.
void WidenGreyRow(uint8_t* row, JDIMENSION nWidth) {
    for (JDIMENSION x = nWidth; x-- > 0;) {
        uint8_t v = row[x];
        row[3 * x] = v;
        row[3 * x + 1] = v;
        row[3 * x + 2] = v;
    }
}

struct DecodeState {
    DecodedImage result;
    uint32_t nError = 0;
};

// Library calls only; the pixel buffer is sized between header and scan
// lines, outside any library frame.
void RunDecompressor(const uint8_t* data, size_t nSize, DecodeState& state) {
    jpeg_decompress_struct cinfo;
    JpegErrorManager err;
    InitErrorManager(err);
    cinfo.err = &err.pub;
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&cinfo);
        if (state.nError == 0)
            state.nError = ERROR_INVALID_DATA_CODE;
        return;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(nSize));
    jpeg_read_header(&cinfo, TRUE);
    bool fGrey = cinfo.num_components == 1;
    cinfo.out_color_space = fGrey ? JCS_GRAYSCALE : JCS_EXT_BGR;
    uint64_t nPixels = uint64_t(cinfo.image_width) * cinfo.image_height;
    if (nPixels == 0 || nPixels > JPEG_DECODE_MAX_PIXELS)
        ErrorExit(reinterpret_cast<j_common_ptr>(&cinfo));
    jpeg_start_decompress(&cinfo);

    DecodedImage& image = state.result;
    image.nWidth = static_cast<int32_t>(cinfo.output_width);
    image.nHeight = static_cast<int32_t>(cinfo.output_height);
    image.nStride = (size_t(cinfo.output_width) * 3 + 3) & ~size_t(3);
    bool fAllocated = true;
    try {
        image.pixels.assign(image.nStride * cinfo.output_height, 0);
    } catch (const std::bad_alloc&) {
        fAllocated = false;
    }
    if (!fAllocated) {
        state.nError = ERROR_NOT_ENOUGH_MEMORY_CODE;
        ErrorExit(reinterpret_cast<j_common_ptr>(&cinfo));
    }
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = image.pixels.data() + image.nStride * cinfo.output_scanline;
        jpeg_read_scanlines(&cinfo, &row, 1);
        if (fGrey)
            WidenGreyRow(row, cinfo.output_width);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
}

} // namespace

uint32_t DecodeJpeg(const uint8_t* data, size_t nSize, DecodedImage& image) {
    if (data == nullptr || nSize == 0 || nSize > ULONG_MAX)
        return ERROR_INVALID_DATA_CODE;
    DecodeState state;
    RunDecompressor(data, nSize, state);
    if (state.nError != 0)
        return state.nError;
    image = std::move(state.result);
    return 0;
}

namespace {

// Stored images are camera pictures; anything this large is not one.
constexpr off_t JPEG_FILE_MAX_BYTES = 256l * 1024 * 1024;

struct FileCloser {
    void operator()(FILE* file) const { std::fclose(file); }
};

} // namespace

uint32_t DecodeJpegFile(const std::string& path, DecodedImage& image) {
    std::unique_ptr<FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    if (!file)
        return LastOsError();
    struct stat info {};
    if (fstat(fileno(file.get()), &info) != 0)
        return LastOsError();
    if (info.st_size <= 0 || info.st_size > JPEG_FILE_MAX_BYTES)
        return ERROR_INVALID_DATA_CODE;
    std::vector<uint8_t> data;
    try {
        data.resize(static_cast<size_t>(info.st_size));
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY_CODE;
    }
    if (std::fread(data.data(), 1, data.size(), file.get()) != data.size())
        return ERROR_HANDLE_EOF_CODE;
    return DecodeJpeg(data.data(), data.size(), image);
}

} // namespace brindle
