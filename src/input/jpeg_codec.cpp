#include "input/jpeg_codec.h"

#include <csetjmp>
#include <cstdio>
#include <cstring>

// jpeglib.h needs size_t and FILE declared first.
#include <jerror.h>
#include <jpeglib.h>

#include "core/error.h"
#include "core/file_io.h"

namespace planexor {
namespace {

constexpr std::size_t MaxJpegFileBytes = std::size_t{256} << 20;
constexpr long MaxJpegPixels = 8192L * 8192L;

// libjpeg's default error handler exits the process; ours jumps back to the
// caller, which turns the message into a PlanexorError.
struct ErrorManager {
    jpeg_error_mgr base;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
    bool truncated;
};

void onError(j_common_ptr info) {
    auto* manager = reinterpret_cast<ErrorManager*>(info->err);
    (*info->err->format_message)(info, manager->message);
    std::longjmp(manager->jump, 1);
}

// Corrupt-data warnings keep the pixels we got; a file that simply ends
// early is refused, since libjpeg would pad it with grey.
void onWarning(j_common_ptr info, int level) {
    if (level == -1 && info->err->msg_code == JWRN_JPEG_EOF)
        reinterpret_cast<ErrorManager*>(info->err)->truncated = true;
}

// Decodes into a buffer the caller owns. Kept free of C++ objects with
// destructors, since longjmp skips them.
bool decodeInto(const std::uint8_t* data, std::size_t size, Bitmap24& into, char* message) {
    jpeg_decompress_struct info;
    ErrorManager errors;
    info.err = jpeg_std_error(&errors.base);
    errors.base.error_exit = onError;
    errors.base.emit_message = onWarning;
    errors.message[0] = 0;
    errors.truncated = false;
    if (setjmp(errors.jump)) {
        jpeg_destroy_decompress(&info);
        std::snprintf(message, JMSG_LENGTH_MAX, "%s", errors.message);
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, data, static_cast<unsigned long>(size));
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_EXT_BGR;  // libjpeg-turbo writes our byte order directly
    if (info.jpeg_color_space == JCS_GRAYSCALE) info.out_color_space = JCS_GRAYSCALE;
    if (static_cast<long>(info.image_width) * static_cast<long>(info.image_height) > MaxJpegPixels) {
        std::strcpy(message, "JPG too large to open");
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_start_decompress(&info);
    try {
        into.resize(static_cast<int>(info.output_width), static_cast<int>(info.output_height));
    } catch (...) {  // out of memory: the decompressor still goes
        jpeg_destroy_decompress(&info);
        throw;
    }
    const bool grey = info.out_color_space == JCS_GRAYSCALE;
    while (info.output_scanline < info.output_height) {
        const int y = static_cast<int>(info.output_scanline);
        JSAMPROW row = into.row(y);
        jpeg_read_scanlines(&info, &row, 1);
        if (grey) {  // expand in place, from the right so nothing is overwritten early
            std::uint8_t* pixels = into.row(y);
            for (int x = into.width() - 1; x >= 0; --x)
                pixels[3 * x] = pixels[3 * x + 1] = pixels[3 * x + 2] = pixels[x];
        }
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    if (errors.truncated) {
        std::strcpy(message, "the file is truncated");
        return false;
    }
    return true;
}

bool encodeInto(const Bitmap24& image, int quality, unsigned char** buffer, unsigned long* size,
                char* message) {
    jpeg_compress_struct info;
    ErrorManager errors;
    info.err = jpeg_std_error(&errors.base);
    errors.base.error_exit = onError;
    if (setjmp(errors.jump)) {
        jpeg_destroy_compress(&info);
        std::snprintf(message, JMSG_LENGTH_MAX, "%s", errors.message);
        return false;
    }
    jpeg_create_compress(&info);
    jpeg_mem_dest(&info, buffer, size);
    info.image_width = static_cast<JDIMENSION>(image.width());
    info.image_height = static_cast<JDIMENSION>(image.height());
    info.input_components = 3;
    info.in_color_space = JCS_EXT_BGR;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, quality, TRUE);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(image.row(static_cast<int>(info.next_scanline)));
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    return true;
}

}  // namespace

void decodeJpegMemory(const std::uint8_t* data, std::size_t size, Bitmap24& into) {
    if (size < 4 || data[0] != 0xFF || data[1] != 0xD8) throw PlanexorError("Not a JPG file");
    char message[JMSG_LENGTH_MAX] = {0};
    if (!decodeInto(data, size, into, message))
        throw PlanexorError(std::string("Cannot decode JPG (") + message + ")");
}

void decodeJpegFile(const std::string& path, Bitmap24& into) {
    const auto bytes = readWholeFile(path, MaxJpegFileBytes);
    try {
        decodeJpegMemory(bytes.data(), bytes.size(), into);
    } catch (const PlanexorError& error) {
        throw PlanexorError(std::string(error.what()) + ": " + path);
    }
}

std::vector<std::uint8_t> encodeJpeg(const Bitmap24& image, int quality) {
    if (image.empty()) throw PlanexorError("Nothing to save");
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    char message[JMSG_LENGTH_MAX] = {0};
    const bool ok = encodeInto(image, quality, &buffer, &size, message);
    std::vector<std::uint8_t> out;
    if (ok) out.assign(buffer, buffer + size);
    std::free(buffer);
    if (!ok) throw PlanexorError(std::string("Cannot write JPG (") + message + ")");
    return out;
}

void writeJpegFile(const std::string& path, const Bitmap24& image, int quality) {
    const auto bytes = encodeJpeg(image, quality);
    writeFileAtomically(path, bytes.data(), bytes.size());
}

}  // namespace planexor
