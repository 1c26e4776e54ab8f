#include "input/fits_reader.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <string_view>
#include <sys/stat.h>

#include "core/error.h"

namespace planexor {
namespace {

constexpr std::size_t CardBytes = 80;
constexpr std::size_t BlockBytes = 2880;
constexpr std::int64_t MaxAxis = 1000000;  // far beyond any camera; keeps lying headers from asking for memory
constexpr int BandRows = 16;               // rows converted at once, so the plane is written column piece by piece

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    return text;
}

// The value of a card as the standard writes it, fixed or free format, with
// any "/" comment removed. String values are not needed here.
std::string_view cardValue(std::string_view card) {
    std::string_view value = card.substr(9);
    const std::size_t slash = value.find('/');
    if (slash != std::string_view::npos) value = value.substr(0, slash);
    return trimmed(value);
}

std::optional<std::int64_t> integerValue(std::string_view text) {
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

std::optional<double> realValue(std::string_view text) {
    std::string copy(text);
    if (!copy.empty() && copy.front() == '+') copy.erase(0, 1);
    std::replace_if(copy.begin(), copy.end(), [](char c) { return c == 'D' || c == 'd'; }, 'E');
    double value = 0;
    const auto [end, error] = std::from_chars(copy.data(), copy.data() + copy.size(), value);
    if (copy.empty() || error != std::errc() || end != copy.data() + copy.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

int bytesPerValue(int bitpix) { return std::abs(bitpix) / 8; }

float planeValue(double value) {
    if (!std::isfinite(value)) return 0.0f;
    constexpr double Largest = std::numeric_limits<float>::max();
    return static_cast<float>(std::clamp(value, -Largest, Largest));
}

template <typename Raw>
Raw bigEndian(const std::uint8_t* bytes) {
    using Bits = std::conditional_t<sizeof(Raw) == 1, std::uint8_t,
                 std::conditional_t<sizeof(Raw) == 2, std::uint16_t,
                 std::conditional_t<sizeof(Raw) == 4, std::uint32_t, std::uint64_t>>>;
    Bits bits = 0;
    for (std::size_t i = 0; i < sizeof(Raw); ++i) bits = static_cast<Bits>((bits << 8) | bytes[i]);
    Raw value;
    std::memcpy(&value, &bits, sizeof(Raw));
    return value;
}

template <typename Raw>
void decodeAs(const std::uint8_t* bytes, int count, double scale, double offset, float* out) {
    for (int i = 0; i < count; ++i)
        out[i] = planeValue(static_cast<double>(bigEndian<Raw>(bytes + i * sizeof(Raw))) * scale + offset);
}

// count stored values into floats: value x BSCALE + BZERO, then x factor.
void decodeValues(const std::uint8_t* bytes, int count, const FitsHeader& header, double factor, float* out) {
    const double scale = header.BSCALE * factor;
    const double offset = header.BZERO * factor;
    switch (header.BITPIX) {
        case 8: decodeAs<std::uint8_t>(bytes, count, scale, offset, out); break;
        case 16: decodeAs<std::int16_t>(bytes, count, scale, offset, out); break;
        case 32: decodeAs<std::int32_t>(bytes, count, scale, offset, out); break;
        case -32: decodeAs<float>(bytes, count, scale, offset, out); break;
        case -64: decodeAs<double>(bytes, count, scale, offset, out); break;
        default: throw PlanexorError("unsupported fits format");
    }
}

struct Cards {
    std::optional<std::int64_t> BITPIX, NAXIS;
    std::vector<std::optional<std::int64_t>> axes;  // NAXIS1, NAXIS2, ...
    std::optional<double> BZERO, BSCALE;
};

}  // namespace

FitsFile::FitsFile(const std::string& path) : path_(path) {
    file_ = std::fopen(path.c_str(), "rb");
    if (!file_) throw PlanexorError("Cannot open " + path + ": " + std::strerror(errno));
    struct stat status {};
    if (::fstat(::fileno(file_), &status) != 0 || !S_ISREG(status.st_mode)) {
        std::fclose(file_);
        throw PlanexorError("Cannot read " + path);
    }
    size_ = static_cast<std::uint64_t>(status.st_size);
}

FitsFile::~FitsFile() { std::fclose(file_); }

void FitsFile::read(void* into, std::size_t count) {
    if (std::fread(into, 1, count, file_) != count) throw PlanexorError("Cannot read " + path_);
}

FitsHeader ReadFitsHeader(FitsFile& file) {
    const std::string& path = file.path();
    const auto damaged = [&](const std::string& why) {
        return PlanexorError("Damaged FITS header in " + path + ": " + why);
    };
    if (file.size() < BlockBytes) {
        // Not even one block: empty, or some other small file named .fit.
        std::uint8_t start[6] = {};
        if (file.size() < 6) throw PlanexorError("Not a FITS file: " + path);
        file.read(start, 6);
        if (std::memcmp(start, "SIMPLE", 6) != 0) throw PlanexorError("Not a FITS file: " + path);
        throw damaged("no END card");
    }

    Cards cards;
    std::vector<char> block(BlockBytes);
    std::uint64_t offset = 0;
    bool ended = false;
    while (!ended) {
        if (offset + BlockBytes > file.size()) throw damaged("no END card");
        file.read(block.data(), BlockBytes);
        offset += BlockBytes;
        for (std::size_t at = 0; at < BlockBytes && !ended; at += CardBytes) {
            const std::string_view card(block.data() + at, CardBytes);
            if (offset == BlockBytes && at == 0 && card.substr(0, 8) != "SIMPLE  ")
                throw PlanexorError("Not a FITS file: " + path);
            const std::string_view keyword = trimmed(card.substr(0, 8));
            if (keyword == "END") {
                ended = true;
                break;
            }
            if (card[8] != '=') continue;
            const std::string_view value = cardValue(card);
            const auto integer = [&](std::optional<std::int64_t>& into) {
                if (into) return;  // the first of repeated keywords counts
                into = integerValue(value);
                if (!into) throw damaged(std::string(keyword) + " is not a number");
            };
            const auto real = [&](std::optional<double>& into) {
                if (into) return;
                into = realValue(value);
                if (!into) throw damaged(std::string(keyword) + " is not a number");
            };
            if (keyword == "BITPIX") integer(cards.BITPIX);
            else if (keyword == "NAXIS") integer(cards.NAXIS);
            else if (keyword == "BZERO") real(cards.BZERO);
            else if (keyword == "BSCALE") real(cards.BSCALE);
            else if (keyword.size() > 5 && keyword.substr(0, 5) == "NAXIS") {
                const auto axis = integerValue(keyword.substr(5));
                if (!axis || *axis < 1 || *axis > 999) continue;
                if (cards.axes.size() < static_cast<std::size_t>(*axis)) cards.axes.resize(*axis);
                integer(cards.axes[*axis - 1]);
            }
        }
    }

    if (!cards.BITPIX) throw damaged("BITPIX missing");
    const int axisCount = static_cast<int>(cards.NAXIS.value_or(2));  // old writers may leave NAXIS out
    if (axisCount < 2 || axisCount > 999) throw PlanexorError("unsupported fits format");
    const int bitpix = static_cast<int>(std::clamp<std::int64_t>(*cards.BITPIX, -1000, 1000));
    if (bitpix != 8 && bitpix != 16 && bitpix != 32 && bitpix != -32 && bitpix != -64)
        throw PlanexorError("unsupported fits format");
    cards.axes.resize(axisCount);
    unsigned __int128 dataBytes = static_cast<unsigned>(bytesPerValue(bitpix));
    for (int axis = 0; axis < axisCount; ++axis) {
        const std::string name = "NAXIS" + std::to_string(axis + 1);
        if (!cards.axes[axis]) throw damaged(name + " missing");
        const std::int64_t length = *cards.axes[axis];
        if (length < 1 || (axis < 2 && length > MaxAxis))
            throw PlanexorError("FITS image size out of range in " + path + ": " + name + " = " +
                                std::to_string(length));
        dataBytes *= static_cast<std::uint64_t>(std::min<std::int64_t>(length, std::int64_t{1} << 40));
        if (dataBytes > file.size()) break;  // refused below; no overflow either way
    }
    if (cards.BSCALE && *cards.BSCALE == 0.0) throw damaged("BSCALE is 0");
    if (dataBytes > file.size() - offset)
        throw PlanexorError("FITS file " + path + " is truncated: its header promises more data than it holds");

    FitsHeader header;
    header.NAXIS1 = static_cast<int>(*cards.axes[0]);
    header.NAXIS2 = static_cast<int>(*cards.axes[1]);
    header.BITPIX = bitpix;
    header.BZERO = cards.BZERO.value_or(0.0);
    header.BSCALE = cards.BSCALE.value_or(1.0);
    header.dataOffset = offset;
    header.dataBytes = static_cast<std::uint64_t>(dataBytes);
    return header;
}

void ReadFitsRow(FitsFile& file, const FitsHeader& header, std::vector<float>& values) {
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(header.NAXIS1) * bytesPerValue(header.BITPIX));
    file.read(bytes.data(), bytes.size());
    values.resize(header.NAXIS1);
    decodeValues(bytes.data(), header.NAXIS1, header, 1.0, values.data());
}

FitsPlaneRead readFitsPlane(FitsFile& file, const FitsHeader& header, TFloatPlane& plane, float factor) {
    FitsPlaneRead result;
    result.fileWidth = header.NAXIS1;
    result.fileHeight = header.NAXIS2;
    result.width = std::min(header.NAXIS1, MaxImageSide);
    result.height = std::min(header.NAXIS2, MaxImageSide);
    const int width = result.width;
    const int height = result.height;

    const std::size_t rowBytes = static_cast<std::size_t>(header.NAXIS1) * bytesPerValue(header.BITPIX);
    // Several rows per read, fewer for very wide files so the buffer stays small.
    const int band = static_cast<int>(std::clamp<std::size_t>((std::size_t{1} << 20) / rowBytes, 1, BandRows));
    std::vector<std::uint8_t> bytes(rowBytes * band);
    std::vector<float> values(static_cast<std::size_t>(width) * band);
    float minimum = std::numeric_limits<float>::max();
    float maximum = std::numeric_limits<float>::lowest();
    for (int first = 0; first < height; first += band) {
        const int rows = std::min(band, height - first);
        file.read(bytes.data(), rowBytes * rows);
        for (int r = 0; r < rows; ++r)
            decodeValues(bytes.data() + rowBytes * r, width, header, factor, values.data() + std::size_t(width) * r);
        // Stored rows first .. first+rows-1 are plane rows that run
        // downwards in memory, so each column is written in one piece.
        const int lowestRow = height - first - rows;
        for (int x = 0; x < width; ++x) {
            float* column = plane[x] + lowestRow;
            for (int r = 0; r < rows; ++r) {
                const float value = values[std::size_t(width) * r + x];
                column[rows - 1 - r] = value;
                minimum = std::min(minimum, value);
                maximum = std::max(maximum, value);
            }
        }
    }
    result.minimum = minimum;
    result.maximum = maximum;
    return result;
}

FitsPlaneRead openFitsFrame(Workspace& workspace, const std::string& path) {
    FitsFile file(path);
    const FitsHeader header = ReadFitsHeader(file);
    auto scratch = std::make_unique<TFloatPlane>();
    const FitsPlaneRead read = readFitsPlane(file, header, *scratch);

    workspace.StackG.swap(*scratch);
    workspace.OrigWidth = read.fileWidth;
    workspace.OrigHeight = read.fileHeight;
    workspace.ImageWidth = workspace.FrameWidth = workspace.StackWidth = read.width;
    workspace.ImageHeight = workspace.FrameHeight = workspace.StackHeight = read.height;
    workspace.StackMin = read.minimum;
    workspace.StackMax = read.maximum;
    workspace.InputType = static_cast<std::uint8_t>(InputKind::Fits);
    workspace.StillFrames = true;
    workspace.JpegFrames = false;
    workspace.SingleImage = true;
    return read;
}

}  // namespace planexor
