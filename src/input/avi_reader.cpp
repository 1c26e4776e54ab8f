#include "input/avi_reader.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

#include "core/error.h"
#include "core/file_io.h"

namespace planexor {
namespace {

const std::string kOpenFile = "Failed to open AVI file";
const std::string kOpenStream = "Failed to open AVI stream";
const std::string kStreamInfo = "Failed to get AVI stream info";
const std::string kFormatSize = "Failed to get AVI stream format size";
const std::string kFormat = "Failed to get AVI stream format";
const std::string kStartStream = "Failed to start AVI stream";
const std::string kStartDecompression = "Failed to start AVI decompression";
const std::string kDecompressFrame = "Failed to decompress AVI frame";

// Far beyond any camera, and small enough that a lying header cannot make us
// allocate gigabytes for one bitmap.
constexpr int kLargestSide = 16384;

// FFmpeg reports every damaged macroblock on stderr; our own errors already
// tell the user what failed, and the command line's output stays readable.
void quietFfmpegLog() {
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_level(AV_LOG_FATAL); });
}

std::uint32_t littleEndian32(const unsigned char* bytes) {
    return bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) | (static_cast<std::uint32_t>(bytes[3]) << 24);
}

// A recording cut short: a RIFF chunk (the AVI itself or an OpenDML
// extension) claims more bytes than the file holds. Its index, written last,
// is then missing or partial and cannot be trusted.
bool riffCutShort(const std::string& path, std::int64_t fileSize) {
    std::ifstream in(path, std::ios::binary);
    std::int64_t at = 0;
    while (in && at + 8 <= fileSize) {
        unsigned char header[8];
        in.seekg(at);
        if (!in.read(reinterpret_cast<char*>(header), sizeof header)) break;
        if (std::memcmp(header, "RIFF", 4) != 0) break;
        const std::int64_t size = littleEndian32(header + 4);
        if (at + 8 + size > fileSize) return true;
        at += 8 + size + (size & 1);
    }
    return false;
}

std::string fourccText(std::uint32_t tag) {
    std::string text;
    for (int i = 0; i < 4; ++i) {
        const char c = static_cast<char>((tag >> (8 * i)) & 0xff);
        text += (c >= 32 && c < 127) ? c : '?';
    }
    return text;
}

// The full-range YUV formats are deprecated as swscale input; the range is
// passed separately instead.
AVPixelFormat withoutJpegRange(AVPixelFormat format, bool& fullRange) {
    switch (format) {
    case AV_PIX_FMT_YUVJ420P: fullRange = true; return AV_PIX_FMT_YUV420P;
    case AV_PIX_FMT_YUVJ422P: fullRange = true; return AV_PIX_FMT_YUV422P;
    case AV_PIX_FMT_YUVJ444P: fullRange = true; return AV_PIX_FMT_YUV444P;
    case AV_PIX_FMT_YUVJ440P: fullRange = true; return AV_PIX_FMT_YUV440P;
    case AV_PIX_FMT_YUVJ411P: fullRange = true; return AV_PIX_FMT_YUV411P;
    default: return format;
    }
}

struct FrameEntry {
    std::int64_t timestamp;  // the demuxer's frame number of the chunk, for seeking
    std::int64_t position;   // where the chunk's data starts in the file
    bool key;
};

enum class RunResult { Reached, OvershotAtFirst, Overshot, Ended };

// A decoder out of memory is no damaged file: the user must hear which it
// is. (The demuxer says ENOMEM also for a chunk whose size field is garbage,
// which only a damaged file has; its reads stay read failures.)
void throwIfOutOfMemory(int result) {
    if (result == AVERROR(ENOMEM)) throw std::bad_alloc();
}

}  // namespace

struct AviReader::Impl {
    std::string path;
    std::string codecName;
    bool truncated = false;
    int width = 0;
    int height = 0;
    int seeks = 0;

    AVFormatContext* format = nullptr;
    AVCodecContext* codec = nullptr;
    AVPacket* packet = nullptr;
    AVFrame* frame = nullptr;
    int streamIndex = -1;
    std::int64_t fileSize = 0;

    // One entry per video chunk that holds data, in file order.
    std::vector<FrameEntry> frames;
    // (data position, table index), sorted by position: a packet is known by
    // where it came from. The demuxer's timestamps are not enough: right
    // after a seek past a dropped frame it numbers packets one too high.
    std::vector<std::pair<std::int64_t, int>> byPosition;

    // Colour table of the stream format (B, G, R); it overrides whatever
    // table the decoder hands out, as capture programs expect.
    std::array<std::array<std::uint8_t, 3>, 256> streamPalette{};
    int streamPaletteEntries = 0;
    bool paletted = false;  // 8 bits or fewer per pixel in the stream format

    // Where the demuxer and decoder stand.
    bool positioned = false;  // reading forward from a known chunk
    int nextChunk = 0;        // table index of the next packet to read
    int lastTrigger = -1;     // table index of the packet sent last (or drain step)
    int lastOutput = -1;      // display number of the picture in `frame`; -1 none since the seek
    bool draining = false;

    // Conversion state, kept between frames.
    SwsContext* scaler = nullptr;
    int scalerFormat = AV_PIX_FMT_NONE;
    int scalerWidth = 0;
    int scalerHeight = 0;
    bool scalerFullRange = false;
    int scalerColorspace = -1;
    std::vector<std::uint8_t> scaled;
    int scaledStride = 0;
    std::array<std::array<std::uint8_t, 3>, 256> frameColours{};

    ~Impl() {
        sws_freeContext(scaler);
        av_frame_free(&frame);
        av_packet_free(&packet);
        avcodec_free_context(&codec);
        avformat_close_input(&format);
    }

    void open(const std::string& filePath);
    void collectFrameTable();
    void scanPackets();
    void readStreamPalette(const AVCodecParameters& parameters);
    void openDecoder(const AVCodecParameters& parameters);

    int keyAtOrBefore(int frameNumber) const;
    int chunkOf(const AVPacket& read) const;
    bool seekTo(int chunk);
    bool readPacket(int& chunk);
    int nextOutput();
    RunResult runTo(int frameNumber);
    void decodeTo(int frameNumber);

    void convert(Bitmap24& into);
    void prepareScaler(const AVFrame& source);
};

void AviReader::Impl::open(const std::string& filePath) {
    path = filePath;
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) throw PlanexorError(kOpenFile);
    fileSize = static_cast<std::int64_t>(std::filesystem::file_size(path, error));
    if (error || fileSize == 0) throw PlanexorError(kOpenFile);
    truncated = riffCutShort(path, fileSize);

    // Only the AVI demuxer: a file of another kind named .avi is refused
    // rather than read by whatever FFmpeg guesses it to be.
    const AVInputFormat* avi = av_find_input_format("avi");
    if (!avi || avformat_open_input(&format, path.c_str(), avi, nullptr) < 0) {
        format = nullptr;
        throw PlanexorError(kOpenFile);
    }

    for (unsigned i = 0; i < format->nb_streams; ++i) {
        AVStream* stream = format->streams[i];
        if (streamIndex < 0 && stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO)
            streamIndex = static_cast<int>(i);
        else
            stream->discard = AVDISCARD_ALL;  // the demuxer then skips their data
    }
    // No stream at all means the header could not be read, not that the
    // video is missing.
    if (format->nb_streams == 0) throw PlanexorError(kOpenFile);
    if (streamIndex < 0) throw PlanexorError(kOpenStream);
    const AVCodecParameters& parameters = *format->streams[streamIndex]->codecpar;
    codecName = avcodec_get_name(parameters.codec_id);

    collectFrameTable();
    if (frames.empty()) throw PlanexorError(kStreamInfo + ": the file holds no complete video frame");
    for (int i = 0; i < static_cast<int>(frames.size()); ++i) byPosition.emplace_back(frames[i].position, i);
    std::sort(byPosition.begin(), byPosition.end());

    if (parameters.width <= 0 || parameters.height <= 0 || parameters.width > kLargestSide ||
        parameters.height > kLargestSide)
        throw PlanexorError(kFormatSize + ": " + std::to_string(parameters.width) + " x " +
                            std::to_string(parameters.height) + " pixels");
    width = parameters.width;
    height = parameters.height;

    readStreamPalette(parameters);
    openDecoder(parameters);

    if (!seekTo(0)) throw PlanexorError(kStartStream);
    if (runTo(0) != RunResult::Reached) throw PlanexorError(kDecompressFrame + " 0");
    // Some codecs know their true picture size only once a frame is decoded.
    if (frame->width > 0 && frame->height > 0 && frame->width <= kLargestSide &&
        frame->height <= kLargestSide) {
        width = frame->width;
        height = frame->height;
    }
    Bitmap24 probe;
    convert(probe);  // fails here, not mid-run, on a pixel format we cannot convert
}

void AviReader::Impl::collectFrameTable() {
    AVStream* stream = format->streams[streamIndex];
    const int indexed = avformat_index_get_entries_count(stream);
    if (!truncated && indexed > 0) {
        for (int i = 0; i < indexed; ++i) {
            const AVIndexEntry* entry = avformat_index_get_entry(stream, i);
            if (!entry || entry->size <= 0) continue;
            if (entry->pos < 0 || entry->pos + 8 + entry->size > fileSize) {
                truncated = true;  // the index promises data the file does not hold
                break;
            }
            // Index positions name the chunk header; packets, the data after it.
            frames.push_back({entry->timestamp, entry->pos + 8, (entry->flags & AVINDEX_KEYFRAME) != 0});
        }
        if (!truncated) {
            if (frames.empty()) return;
            frames.front().key = true;
            // An index can end before the data does (a recording stopped
            // before the index of its last RIFF parts was written, an idx1
            // short of entries): the chunks after its last frame are read on.
            if (av_seek_frame(format, streamIndex, frames.back().timestamp, AVSEEK_FLAG_BACKWARD | AVSEEK_FLAG_ANY) >= 0)
                scanPackets();
            return;
        }
        frames.clear();
    }
    scanPackets();
}

// Without a usable index the chunks are found by reading the file once, and
// after an index's last frame they are found by reading on. Only complete
// chunks count: the last one of a cut recording is short. Each one found is
// entered into the demuxer's index, so that seeking finds it even where a
// damaged index pointed elsewhere.
void AviReader::Impl::scanPackets() {
    AVStream* stream = format->streams[streamIndex];
    // Chunks found by reading carry no trustworthy key flag; a partial index
    // still knows its key frames, and intra-only codecs have nothing else.
    std::vector<std::int64_t> indexedKeys;
    for (int i = 0, n = avformat_index_get_entries_count(stream); i < n; ++i) {
        const AVIndexEntry* entry = avformat_index_get_entry(stream, i);
        if (entry && (entry->flags & AVINDEX_KEYFRAME)) indexedKeys.push_back(entry->timestamp);
    }
    std::sort(indexedKeys.begin(), indexedKeys.end());
    const AVCodecDescriptor* descriptor = avcodec_descriptor_get(stream->codecpar->codec_id);
    const bool intraOnly = descriptor && (descriptor->props & AV_CODEC_PROP_INTRA_ONLY);

    AVPacket* scanned = av_packet_alloc();
    if (!scanned) throw PlanexorError(kStreamInfo);
    while (av_read_frame(format, scanned) >= 0) {
        const bool ours = scanned->stream_index == streamIndex;
        if (ours && (scanned->flags & AV_PKT_FLAG_CORRUPT)) {
            truncated = true;
            av_packet_unref(scanned);
            break;
        }
        if (ours && scanned->size > 0 && scanned->dts != AV_NOPTS_VALUE &&
            (frames.empty() || scanned->dts > frames.back().timestamp)) {
            const bool key = intraOnly ||
                             std::binary_search(indexedKeys.begin(), indexedKeys.end(), scanned->dts);
            frames.push_back({scanned->dts, scanned->pos, key});
            av_add_index_entry(stream, scanned->pos - 8, scanned->dts, scanned->size, 0, key ? AVINDEX_KEYFRAME : 0);
        }
        av_packet_unref(scanned);
    }
    av_packet_free(&scanned);
    if (!frames.empty()) frames.front().key = true;
}

// The colour table follows the 40-byte bitmap header in the stream format.
// FFmpeg may append its own "BottomUp" marker after it.
void AviReader::Impl::readStreamPalette(const AVCodecParameters& parameters) {
    const int bits = parameters.bits_per_coded_sample;
    paletted = bits > 0 && bits <= 8;
    if (!paletted || parameters.extradata_size <= 0 || !parameters.extradata) return;
    const std::uint8_t* end = parameters.extradata + parameters.extradata_size;
    int bytes = parameters.extradata_size;
    static const char marker[] = "BottomUp";
    if (bytes >= 9 && std::memcmp(end - 9, marker, 9) == 0) {
        end -= 9;
        bytes -= 9;
    }
    streamPaletteEntries = std::min(1 << bits, bytes / 4);
    const std::uint8_t* table = end - 4 * streamPaletteEntries;
    for (int i = 0; i < streamPaletteEntries; ++i)
        streamPalette[i] = {table[4 * i], table[4 * i + 1], table[4 * i + 2]};
}

void AviReader::Impl::openDecoder(const AVCodecParameters& parameters) {
    const AVCodec* decoder = avcodec_find_decoder(parameters.codec_id);
    if (!decoder)
        throw PlanexorError(kStartDecompression + ": no decoder for '" + fourccText(parameters.codec_tag) + "'");
    codec = avcodec_alloc_context3(decoder);
    packet = av_packet_alloc();
    frame = av_frame_alloc();
    if (!codec || !packet || !frame || avcodec_parameters_to_context(codec, &parameters) < 0)
        throw PlanexorError(kStartDecompression);
    // Frame threads would hold pictures back and hide which packet a picture
    // came from; a frame loop decodes one picture at a time anyway.
    codec->thread_count = 1;
    codec->pkt_timebase = format->streams[streamIndex]->time_base;
    if (avcodec_open2(codec, decoder, nullptr) < 0) throw PlanexorError(kStartDecompression);
}

int AviReader::Impl::keyAtOrBefore(int frameNumber) const {
    for (int i = frameNumber; i > 0; --i)
        if (frames[i].key) return i;
    return 0;
}

// -1: past the complete frames (the end, for a cut file); -2: a chunk the
// table does not know, to be skipped.
int AviReader::Impl::chunkOf(const AVPacket& read) const {
    if (read.pos >= 0) {
        const auto found = std::lower_bound(byPosition.begin(), byPosition.end(),
                                            std::make_pair(read.pos, std::numeric_limits<int>::min()));
        if (found != byPosition.end() && found->first == read.pos) return found->second;
        if (read.pos > byPosition.back().first) return -1;
    }
    const std::int64_t timestamp = read.dts;
    if (timestamp == AV_NOPTS_VALUE) return nextChunk < static_cast<int>(frames.size()) ? nextChunk : -1;
    if (timestamp > frames.back().timestamp) return -1;
    const auto found = std::lower_bound(frames.begin(), frames.end(), timestamp,
                                        [](const FrameEntry& entry, std::int64_t value) {
                                            return entry.timestamp < value;
                                        });
    if (found == frames.end() || found->timestamp != timestamp) return -2;
    return static_cast<int>(found - frames.begin());
}

bool AviReader::Impl::seekTo(int chunk) {
    ++seeks;
    positioned = false;
    lastOutput = -1;
    if (av_seek_frame(format, streamIndex, frames[chunk].timestamp, AVSEEK_FLAG_BACKWARD | AVSEEK_FLAG_ANY) < 0)
        return false;
    avcodec_flush_buffers(codec);
    positioned = true;
    nextChunk = chunk;
    lastTrigger = chunk - 1;
    draining = false;
    return true;
}

bool AviReader::Impl::readPacket(int& chunk) {
    while (av_read_frame(format, packet) >= 0) {
        if (packet->stream_index == streamIndex && packet->size > 0) {
            chunk = chunkOf(*packet);
            if (chunk == -1) break;
            if (chunk >= 0) {
                nextChunk = chunk + 1;
                return true;
            }
        }
        av_packet_unref(packet);
    }
    av_packet_unref(packet);
    return false;
}

// Decodes until the next picture comes out; returns its display number, or
// -1 when the stream is exhausted. A picture comes out when the packet sent
// last is the decoder's reorder delay past it, so its number is that packet's
// chunk minus the delay; pictures are never numbered backwards, which keeps
// the count right when one packet yields two pictures.
int AviReader::Impl::nextOutput() {
    int failures = 0;
    for (;;) {
        const int received = avcodec_receive_frame(codec, frame);
        if (received == 0) {
            const int trigger = draining ? ++lastTrigger : lastTrigger;
            int number = trigger - codec->has_b_frames;
            if (lastOutput >= 0) number = std::max(number, lastOutput + 1);
            lastOutput = number;
            return number;
        }
        throwIfOutOfMemory(received);
        if (received == AVERROR_EOF || draining) return -1;
        if (received != AVERROR(EAGAIN)) {
            // A damaged packet gives no picture; the next one still may.
            if (++failures > 64) return -1;
            continue;
        }
        int chunk = 0;
        if (!readPacket(chunk)) {
            avcodec_send_packet(codec, nullptr);
            draining = true;
            continue;
        }
        lastTrigger = chunk;
        const int sent = avcodec_send_packet(codec, packet);  // other errors show up as a missing picture
        av_packet_unref(packet);
        throwIfOutOfMemory(sent);
    }
}

RunResult AviReader::Impl::runTo(int frameNumber) {
    for (bool first = true;; first = false) {
        const int number = nextOutput();
        if (number < 0) {
            positioned = false;
            return RunResult::Ended;
        }
        if (number == frameNumber) return RunResult::Reached;
        if (number > frameNumber) return first ? RunResult::OvershotAtFirst : RunResult::Overshot;
    }
}

void AviReader::Impl::decodeTo(int frameNumber) {
    if (positioned && lastOutput == frameNumber) return;
    const std::string failure = kDecompressFrame + " " + std::to_string(frameNumber);
    const int key = keyAtOrBefore(frameNumber);
    // Reading on beats seeking while the wanted frame's key frame is not
    // ahead of us: the sequential case, and short hops inside one group.
    if (positioned && lastOutput >= 0 && lastOutput < frameNumber && key <= nextChunk) {
        if (runTo(frameNumber) == RunResult::Reached) return;
        throw PlanexorError(failure);
    }
    int start = key;
    for (int attempt = 0;; ++attempt) {
        if (!seekTo(start)) throw PlanexorError(failure);
        const RunResult result = runTo(frameNumber);
        if (result == RunResult::Reached) return;
        // B-frames stored after a key frame but shown before it need the
        // previous group; begin one key frame earlier.
        if (result == RunResult::OvershotAtFirst && codec->has_b_frames > 0 && start > 0 && attempt < 3) {
            start = keyAtOrBefore(start - 1);
            continue;
        }
        throw PlanexorError(failure);
    }
}

void AviReader::Impl::prepareScaler(const AVFrame& source) {
    // Grey pictures carry no video range: their samples span the whole
    // scale, as convert() copies 8-bit grey. Only YUV is limited
    // unless the frame says otherwise.
    const AVPixFmtDescriptor* descriptor = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(source.format));
    const bool grey = descriptor && descriptor->nb_components <= 2 &&
                      !(descriptor->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL));
    bool fullRange = source.color_range == AVCOL_RANGE_JPEG || (grey && source.color_range != AVCOL_RANGE_MPEG);
    const AVPixelFormat sourceFormat = withoutJpegRange(static_cast<AVPixelFormat>(source.format), fullRange);
    const int colorspace = source.colorspace;
    if (scaler && scalerFormat == sourceFormat && scalerWidth == source.width && scalerHeight == source.height &&
        scalerFullRange == fullRange && scalerColorspace == colorspace)
        return;
    sws_freeContext(scaler);
    scaler = sws_getContext(source.width, source.height, sourceFormat, width, height, AV_PIX_FMT_BGR24,
                            SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (!scaler) {
        const char* name = av_get_pix_fmt_name(sourceFormat);
        throw PlanexorError(kFormat + ": pixel format " + (name ? name : "unknown") + " is not supported");
    }
    const int* coefficients = sws_getCoefficients(
        colorspace == AVCOL_SPC_BT709 || colorspace == AVCOL_SPC_FCC || colorspace == AVCOL_SPC_SMPTE240M ||
                colorspace == AVCOL_SPC_BT2020_NCL
            ? colorspace
            : SWS_CS_DEFAULT);
    sws_setColorspaceDetails(scaler, coefficients, fullRange ? 1 : 0, sws_getCoefficients(SWS_CS_DEFAULT), 1, 0,
                             1 << 16, 1 << 16);
    scalerFormat = sourceFormat;
    scalerWidth = source.width;
    scalerHeight = source.height;
    scalerFullRange = fullRange;
    scalerColorspace = colorspace;
    // swscale's SIMD writes whole blocks of pixels past the row's end, so it
    // gets a padded scratch image, never the bitmap itself.
    scaledStride = (width * 3 + 63) / 64 * 64 + 64;
    scaled.resize(static_cast<std::size_t>(scaledStride) * (height + 1));
}

void AviReader::Impl::convert(Bitmap24& into) {
    into.resize(width, height);
    const AVFrame& source = *frame;
    const bool sameSize = source.width == width && source.height == height;
    const std::size_t rowBytes = into.rowBytes();

    if (sameSize && source.format == AV_PIX_FMT_BGR24) {
        for (int y = 0; y < height; ++y)
            std::memcpy(into.row(y), source.data[0] + static_cast<std::ptrdiff_t>(y) * source.linesize[0], rowBytes);
        return;
    }
    if (sameSize && source.format == AV_PIX_FMT_GRAY8) {
        for (int y = 0; y < height; ++y) {
            const std::uint8_t* in = source.data[0] + static_cast<std::ptrdiff_t>(y) * source.linesize[0];
            std::uint8_t* out = into.row(y);
            for (int x = 0; x < width; ++x, out += 3) out[0] = out[1] = out[2] = in[x];
        }
        return;
    }
    if (sameSize && source.format == AV_PIX_FMT_PAL8) {
        // The decoder's table, overlaid by the stream format's entries. A
        // paletted stream without any table is read as grey, as mono cameras
        // that omit it mean.
        const auto* table = reinterpret_cast<const std::uint32_t*>(source.data[1]);
        for (int i = 0; i < 256; ++i) {
            if (i < streamPaletteEntries)
                frameColours[i] = streamPalette[i];
            else if (paletted && streamPaletteEntries == 0)
                frameColours[i] = {std::uint8_t(i), std::uint8_t(i), std::uint8_t(i)};
            else
                frameColours[i] = {std::uint8_t(table[i] & 0xff), std::uint8_t((table[i] >> 8) & 0xff),
                                   std::uint8_t((table[i] >> 16) & 0xff)};
        }
        for (int y = 0; y < height; ++y) {
            const std::uint8_t* in = source.data[0] + static_cast<std::ptrdiff_t>(y) * source.linesize[0];
            std::uint8_t* out = into.row(y);
            for (int x = 0; x < width; ++x, out += 3) std::memcpy(out, frameColours[in[x]].data(), 3);
        }
        return;
    }
    prepareScaler(source);
    std::uint8_t* planes[4] = {scaled.data(), nullptr, nullptr, nullptr};
    int strides[4] = {scaledStride, 0, 0, 0};
    if (sws_scale(scaler, source.data, source.linesize, 0, source.height, planes, strides) != height)
        throw PlanexorError(kFormat);
    for (int y = 0; y < height; ++y)
        std::memcpy(into.row(y), scaled.data() + static_cast<std::size_t>(y) * scaledStride, rowBytes);
}

AviReader::AviReader(const std::string& path) : impl_(std::make_unique<Impl>()) {
    quietFfmpegLog();
    try {
        impl_->open(path);
    } catch (const PlanexorError& error) {
        // The user must hear which file it was, as a SER file's errors say.
        throw PlanexorError(std::string(error.what()) + " (" + fileNameOf(path) + ")");
    }
}

AviReader::~AviReader() = default;

int AviReader::frameCount() const { return static_cast<int>(impl_->frames.size()); }

void AviReader::decode(int frame, Bitmap24& into) {
    if (frame < 0 || frame >= frameCount())
        throw PlanexorError(kDecompressFrame + " " + std::to_string(frame) + ": no such frame");
    impl_->decodeTo(frame);
    impl_->convert(into);
}

std::string AviReader::describe() const { return "AVI " + impl_->codecName; }
const std::string& AviReader::path() const { return impl_->path; }
int AviReader::startFrame() const { return static_cast<int>(impl_->frames.front().timestamp); }
const std::string& AviReader::codecName() const { return impl_->codecName; }
int AviReader::width() const { return impl_->width; }
int AviReader::height() const { return impl_->height; }
bool AviReader::truncated() const { return impl_->truncated; }
int AviReader::seekCount() const { return impl_->seeks; }

}  // namespace planexor
