#include "demo/synthetic_planet.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <numbers>
#include <system_error>
#include <utility>

#include <unistd.h>

#include "core/error.h"
#include "core/pixel.h"
#include "demo/avi_writer.h"
#include "demo/ser_writer.h"
#include "input/bmp_codec.h"
#include "core/file_io.h"
#include "input/jpeg_codec.h"

namespace planexor {
namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kPolarRatio = 0.935;      // polar over equatorial radius, as Jupiter's
constexpr double kPeakLevel = 200.0;       // brightest zone at the disc centre
constexpr double kElectronsPerLevel = 4.0; // photon noise sigma 7 levels at the peak
constexpr double kReadNoise = 2.0;
constexpr int SeeingStep = 32;              // seeing.csv's grid, in pixels
constexpr int kPadding = 4;                // zero border around the original: interpolation reads past the disc
constexpr int kFramesPerSecond = 30;
constexpr int kLanczosSteps = 64;          // table samples per pixel
constexpr double kFlatLevel = 170.0;       // the even light of a flat, at the centre
// Float images inside the renderer keep four values per pixel (B, G, R and
// a spare) so that the inner loops work on whole pixels at once.
constexpr int kLanes = 4;

// Streams of one seed: they never share numbers, so changing how one effect
// draws its numbers leaves the others as they were.
enum Stream : std::uint64_t {
    TruthStream = 1, DistortionStream = 2, NoiseStream = 3, PlanetStream = 4, SensorStream = 5, DarkStream = 6,
    FlatStream = 7, SeeingStream = 8, PatchStream = 9
};

// Waves per axis of a frame's displacement field: the slight ones every
// frame has, then those of the seeing asked for.
constexpr std::size_t SlightWaves = 3, SeeingWaves = 3, FieldWaves = SlightWaves + SeeingWaves;

std::uint64_t mixBits(std::uint64_t z) {
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

std::uint64_t streamSeed(unsigned seed, Stream stream, std::uint64_t index) {
    return mixBits(mixBits(mixBits(seed) + stream) + index);
}

// splitmix64: tiny, fast and the same on every platform, unlike the
// standard library's distributions.
class Random {
public:
    explicit Random(std::uint64_t seed) : state_(seed) {}
    std::uint64_t next() { return mixBits(state_ += 0x9E3779B97F4A7C15ull); }
    double uniform() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }
    double uniform(double low, double high) { return low + (high - low) * uniform(); }
    double normal() {
        const double radius = std::sqrt(-2.0 * std::log(1.0 - uniform()));
        return radius * std::cos(2.0 * kPi * uniform());
    }

private:
    std::uint64_t state_;
};

// The sky carries read noise only: rounded and clipped at black it takes
// a handful of levels, drawn from a table by 16 random bits.
void fillSky(Random& random, const std::vector<std::uint8_t>& levels, std::uint8_t* begin, std::uint8_t* end) {
    while (begin < end) {
        std::uint64_t bits = random.next();
        for (int i = 0; i < 4 && begin < end; ++i, bits >>= 16) *begin++ = levels[bits & 0xFFFF];
    }
}

// Sum of four random bytes: near enough to a normal for sensor noise
// (its tails end at 3.5 sigma), two samples per generator call.
inline float byteSum(std::uint64_t bits) {
    const std::uint32_t sum = static_cast<std::uint32_t>((bits & 0xFF) + ((bits >> 8) & 0xFF) +
                                                         ((bits >> 16) & 0xFF) + ((bits >> 24) & 0xFF));
    return (static_cast<float>(sum) - 510.0f) * (1.0f / 147.8f);
}

inline std::uint8_t quantise(float value) { return static_cast<std::uint8_t>(std::clamp(value + 0.5f, 0.0f, 255.0f)); }

struct PlanetSize {
    double equatorialRadius;
    double polarRadius;
};

PlanetSize planetSize(int width, int height) {
    const double polar = 0.2 * std::min(static_cast<double>(height), kPolarRatio * width);
    return {polar / kPolarRatio, polar};
}

// How far the air may push the planet without it leaving the frame.
double shiftLimit(int width, int height) {
    const PlanetSize size = planetSize(width, height);
    const double margin = std::min(width / 2.0 - size.equatorialRadius, height / 2.0 - size.polarRadius);
    return std::clamp(margin - 8.0, 0.0, 20.0);
}

// Adding 0.0 turns -0 into 0, which would otherwise print as "-0.0000".
double roundTo4(double value) { return std::round(value * 1e4) / 1e4 + 0.0; }

// ---------------------------------------------------------------- the planet

struct Colour {
    double r, g, b;
};

Colour blend(const Colour& from, const Colour& to, double t) {
    return {from.r + (to.r - from.r) * t, from.g + (to.g - from.g) * t, from.b + (to.b - from.b) * t};
}

double smoothStep(double edge0, double edge1, double x) {
    const double t = std::clamp((x - edge0) / (edge1 - edge0), 0.0, 1.0);
    return t * t * (3.0 - 2.0 * t);
}

double latticeValue(std::int64_t ix, std::int64_t iy, std::uint64_t seed) {
    const std::uint64_t h = mixBits(seed ^ (static_cast<std::uint64_t>(ix) * 0x9E3779B97F4A7C15ull) ^
                                    (static_cast<std::uint64_t>(iy) * 0xC2B2AE3D27D4EB4Full));
    return static_cast<double>(h >> 11) * 0x1.0p-52 - 1.0;
}

double valueNoise(double x, double y, std::uint64_t seed) {
    const double fx = std::floor(x), fy = std::floor(y);
    const auto ix = static_cast<std::int64_t>(fx), iy = static_cast<std::int64_t>(fy);
    const double tx = x - fx, ty = y - fy;
    const double sx = tx * tx * tx * (tx * (tx * 6.0 - 15.0) + 10.0);
    const double sy = ty * ty * ty * (ty * (ty * 6.0 - 15.0) + 10.0);
    const double top = latticeValue(ix, iy, seed) + sx * (latticeValue(ix + 1, iy, seed) - latticeValue(ix, iy, seed));
    const double bottom =
        latticeValue(ix, iy + 1, seed) + sx * (latticeValue(ix + 1, iy + 1, seed) - latticeValue(ix, iy + 1, seed));
    return top + sy * (bottom - top);
}

// Fractal noise whose finest octave stops at a few pixels: finer detail
// would only alias.
class Turbulence {
public:
    Turbulence(double lonFrequency, double latFrequency, const PlanetSize& size, std::uint64_t seed)
        : lonFrequency_(lonFrequency), latFrequency_(latFrequency), seed_(seed) {
        // Lattice spacing of the first octave in pixels, at the disc centre.
        const double spacing = std::min(size.equatorialRadius / lonFrequency, size.polarRadius / latFrequency);
        octaves_ = std::clamp(1 + static_cast<int>(std::floor(std::log2(spacing / 2.5))), 1, 6);
    }
    double operator()(double lon, double lat) const {
        double sum = 0, amplitude = 1, total = 0, scale = 1;
        for (int octave = 0; octave < octaves_; ++octave) {
            sum += amplitude * valueNoise(lon * lonFrequency_ * scale, lat * latFrequency_ * scale, seed_ + octave);
            total += amplitude;
            amplitude *= 0.5;
            scale *= 2.0;
        }
        return sum / total;
    }

private:
    double lonFrequency_, latFrequency_;
    std::uint64_t seed_;
    int octaves_ = 1;
};

struct BandStop {
    double latitude;  // degrees, north positive
    Colour colour;
};

// Jupiter's belts and zones from north to south; neighbouring stops close
// together make the sharp belt edges.
constexpr Colour kPolar{0.50, 0.47, 0.45}, kPolarEdge{0.62, 0.57, 0.52}, kTemperate{0.80, 0.74, 0.64},
    kFaintBelt{0.66, 0.56, 0.46}, kTemperateZone{0.90, 0.84, 0.73}, kTemperateBelt{0.64, 0.49, 0.37},
    kTropicalZone{0.97, 0.91, 0.80}, kBeltEdge{0.56, 0.39, 0.29}, kEquatorialBelt{0.66, 0.47, 0.34},
    kEquatorialZone{1.00, 0.94, 0.82}, kEquatorialBand{0.95, 0.87, 0.73}, kBeltInterior{0.80, 0.66, 0.52};

const std::array<BandStop, 36> kBands{{
    {90, kPolar},           {52, kPolarEdge},      {46, kTemperate},       {41, kFaintBelt},
    {37, kFaintBelt},       {34.5, kTemperateZone}, {31.5, kTemperateZone}, {30, kTemperateBelt},
    {26, kTemperateBelt},   {24.5, kTropicalZone}, {19.5, kTropicalZone},  {18, kBeltEdge},
    {16, kEquatorialBelt},  {9, kEquatorialBelt},  {7.5, kBeltEdge},       {6.5, kEquatorialZone},
    {1.5, kEquatorialBand}, {-1.5, kEquatorialBand}, {-6.5, kEquatorialZone}, {-7.5, kBeltEdge},
    {-10, kEquatorialBelt}, {-11.5, kBeltInterior}, {-15, kBeltInterior},  {-16.5, kEquatorialBelt},
    {-19, kBeltEdge},       {-20.5, kTropicalZone}, {-26, kTropicalZone},  {-27.5, kTemperateBelt},
    {-31.5, kTemperateBelt}, {-33, kTemperateZone}, {-37, kTemperateZone}, {-39, kFaintBelt},
    {-42, kFaintBelt},      {-46, kTemperate},     {-53, kPolarEdge},      {-90, kPolar},
}};

Colour bandColour(double latitudeDegrees) {
    const double lat = std::clamp(latitudeDegrees, -90.0, 90.0);
    for (std::size_t i = 1; i < kBands.size(); ++i) {
        if (lat >= kBands[i].latitude) {
            const BandStop& north = kBands[i - 1];
            const BandStop& south = kBands[i];
            return blend(south.colour, north.colour, (lat - south.latitude) / (north.latitude - south.latitude));
        }
    }
    return kPolar;
}

double luminance(const Colour& c) { return greyWeightedSum(c.r, c.g, c.b); }

struct Oval {
    double lon, lat, lonRadius, latRadius;
    double distance(double atLon, double atLat) const {
        const double u = (atLon - lon) / lonRadius, v = (atLat - lat) / latRadius;
        return std::sqrt(u * u + v * v);
    }
};

struct Festoon {
    double lon;  // where it leaves the belt edge
    double length, slope;
};

class PlanetModel {
public:
    PlanetModel(int width, int height, unsigned seed)
        : size_(planetSize(width, height)),
          centreX_((width - 1) / 2.0),
          centreY_((height - 1) / 2.0),
          edgeWaves_(2.5, 7.0, size_, streamSeed(seed, PlanetStream, 1) << 3),
          eddies_(9.0, 26.0, size_, streamSeed(seed, PlanetStream, 2) << 3),
          streaks_(3.0, 22.0, size_, streamSeed(seed, PlanetStream, 3) << 3),
          tint_(2.0, 5.0, size_, streamSeed(seed, PlanetStream, 4) << 3),
          swirl_(12.0, 20.0, size_, streamSeed(seed, PlanetStream, 5) << 3) {
        Random random(streamSeed(seed, PlanetStream, 0));
        const double degree = kPi / 180.0;
        redSpot_ = {random.uniform(-0.6, 0.6), -22.5 * degree, 0.15, 0.085};
        for (int i = 0; i < 3; ++i)
            whiteOvals_[i] = {-1.25 + 0.85 * i + random.uniform(-0.2, 0.2), -33.5 * degree, 0.07, 0.04};
        for (int i = 0; i < 2; ++i)
            barges_[i] = {-0.9 + 1.3 * i + random.uniform(-0.25, 0.25), 15.5 * degree, 0.07, 0.028};
        for (int i = 0; i < 5; ++i)
            festoons_[i] = {-1.1 + 0.5 * i + random.uniform(-0.12, 0.12), random.uniform(0.14, 0.22),
                            random.uniform(0.35, 0.6)};
    }

    const PlanetSize& size() const { return size_; }
    double centreX() const { return centreX_; }
    double centreY() const { return centreY_; }

    // Brightness 0..1 (about) per channel at a point of the frame.
    Colour shade(double x, double y) const {
        const double u = (x - centreX_) / size_.equatorialRadius;
        const double v = (y - centreY_) / size_.polarRadius;
        const double r2 = u * u + v * v;
        if (r2 >= 1.0) return {0, 0, 0};
        const double mu = std::sqrt(1.0 - r2);
        const double lat = -std::asin(v);  // north up
        const double lon = std::atan2(u, mu);

        const double warp = 0.030 * edgeWaves_(lon, lat) + 0.014 * eddies_(lon, lat);
        const double warpedLat = lat + warp;
        Colour colour = bandColour(warpedLat * 180.0 / kPi);

        const double beltness = std::clamp(1.0 - luminance(colour) / luminance(kEquatorialZone), 0.0, 1.0);
        const double streak = 1.0 + (0.06 + 0.5 * beltness) * streaks_(lon, warpedLat);
        const double tint = 0.06 * tint_(lon, lat);
        colour = {colour.r * streak * (1 + tint), colour.g * streak, colour.b * streak * (1 - tint)};

        colour = addFestoons(colour, lon, warpedLat);
        const double spotLat = lat + 0.3 * warp;
        for (const Oval& barge : barges_)
            colour = blend(colour, {0.42, 0.26, 0.20}, 0.9 * smoothStep(1.0, 0.55, barge.distance(lon, spotLat)));
        for (const Oval& oval : whiteOvals_)
            colour = blend(colour, {0.99, 0.97, 0.93}, smoothStep(1.0, 0.6, oval.distance(lon, spotLat)));
        colour = addRedSpot(colour, lon, spotLat);

        // Limb darkening, with a floor so the edge stays a visible edge.
        const double limb = 0.12 + 0.88 * std::pow(mu, 0.65);
        return {colour.r * limb, colour.g * limb, colour.b * limb};
    }

private:
    Colour addRedSpot(Colour colour, double lon, double lat) const {
        const double e = redSpot_.distance(lon, lat);
        if (e >= 1.6) return colour;
        colour = blend(colour, {0.99, 0.93, 0.83}, 0.85 * smoothStep(1.6, 1.05, e));  // the pale hollow around it
        if (e >= 1.05) return colour;
        Colour spot = blend(Colour{0.74, 0.39, 0.29}, Colour{0.87, 0.50, 0.37}, smoothStep(0.95, 0.6, e));
        spot = blend(spot, Colour{0.92, 0.64, 0.50}, smoothStep(0.4, 0.1, e));
        const double texture = 1.0 + 0.07 * swirl_(lon, lat);
        spot = {spot.r * texture, spot.g * texture, spot.b * texture};
        return blend(colour, spot, smoothStep(1.05, 0.85, e));
    }

    // Blue-grey plumes trailing from the south edge of the north belt into the equatorial zone.
    Colour addFestoons(Colour colour, double lon, double lat) const {
        const double startLat = 7.0 * kPi / 180.0;
        for (const Festoon& festoon : festoons_) {
            const double along = (startLat - lat) / (festoon.length * festoon.slope);
            if (along < 0.0 || along > 1.0) continue;
            const double centreLon = festoon.lon - along * festoon.length;
            const double width = 0.04 * (1.0 - 0.6 * along);
            const double strength = 0.7 * (1.0 - along) * smoothStep(width, 0.3 * width, std::abs(lon - centreLon));
            colour = blend(colour, {0.50, 0.52, 0.60}, strength);
        }
        return colour;
    }

    PlanetSize size_;
    double centreX_, centreY_;
    Turbulence edgeWaves_, eddies_, streaks_, tint_, swirl_;
    Oval redSpot_{};
    std::array<Oval, 3> whiteOvals_{};
    std::array<Oval, 2> barges_{};
    std::array<Festoon, 5> festoons_{};
};

double lanczos3(double t) {
    if (t == 0.0) return 1.0;
    if (std::abs(t) >= 3.0) return 0.0;
    const double pt = kPi * t;
    return 3.0 * std::sin(pt) * std::sin(pt / 3.0) / (pt * pt);
}

inline void catmullRom(float t, float weights[4]) {
    const float t2 = t * t, t3 = t2 * t;
    weights[0] = 0.5f * (-t3 + 2 * t2 - t);
    weights[1] = 0.5f * (3 * t3 - 5 * t2 + 2);
    weights[2] = 0.5f * (-3 * t3 + 4 * t2 + t);
    weights[3] = 0.5f * (t3 - t2);
}

// out += weight * in over whole four-lane pixels; the promise that the rows
// do not overlap lets the compiler use vector instructions.
inline void addScaledPixels(float* __restrict out, const float* __restrict in, float weight, std::size_t count) {
    for (std::size_t i = 0; i < count; i += 4) {
        out[i] += weight * in[i];
        out[i + 1] += weight * in[i + 1];
        out[i + 2] += weight * in[i + 2];
        out[i + 3] += weight * in[i + 3];
    }
}

void appendFixed(std::string& out, double value) {
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 4);
    out.append(buffer, result.ptr);
}

std::string truthText(const std::vector<FrameTruth>& truth) {
    std::string text = "frame,shift_x,shift_y,blur\n";
    for (std::size_t i = 0; i < truth.size(); ++i) {
        text += std::to_string(i);
        text += ',';
        appendFixed(text, truth[i].shiftX);
        text += ',';
        appendFixed(text, truth[i].shiftY);
        text += ',';
        appendFixed(text, truth[i].blur);
        text += '\n';
    }
    return text;
}

// Removes what a run wrote unless the run completed. A file of an earlier
// demo that the run writes over is set aside first and put back when the run
// does not complete, so a stopped or failed run leaves that demo whole.
struct WrittenFiles {
    std::vector<std::string> paths;
    std::vector<std::pair<std::string, std::string>> setAside;  // where, and whose place
    bool keep = false;
    // Before the run writes `path`.
    void add(const std::string& path) {
        paths.push_back(path);
        std::error_code error;
        if (!std::filesystem::exists(path, error)) return;
        const std::string aside = path + ".earlier" + std::to_string(::getpid());
        std::filesystem::rename(path, aside, error);
        if (error) throw PlanexorError("Cannot set aside " + path + ": " + error.message());
        setAside.emplace_back(aside, path);
    }
    ~WrittenFiles() {
        std::error_code ignored;
        if (!keep)
            for (const std::string& path : paths) std::filesystem::remove(path, ignored);
        for (const auto& [aside, path] : setAside) {
            if (keep) std::filesystem::remove(aside, ignored);
            else std::filesystem::rename(aside, path, ignored);
        }
    }
};

}  // namespace

// ------------------------------------------------------------------ truth

void validateDemoOptions(const DemoOptions& options) {
    if (options.frames < 1 || options.frames > 100000)
        throw PlanexorError("The demo needs between 1 and 100000 frames");
    if (options.width < 16 || options.height < 16 || options.width > 2048 || options.height > 2048)
        throw PlanexorError("Demo frames must be between 16 and 2048 pixels wide and high");
    if (!std::isfinite(options.drift)) throw PlanexorError("Invalid demo drift");
    if (options.format != DemoOptions::Avi && options.format != DemoOptions::Bmp &&
        options.format != DemoOptions::Jpg && options.format != DemoOptions::Ser)
        throw PlanexorError("Unknown demo format");
    if (options.serDepth != 8 && options.serDepth != 12 && options.serDepth != 16)
        throw PlanexorError("The demo SER depth is 8, 12 or 16 bits");
    if (options.codec != DemoOptions::Raw && options.codec != DemoOptions::Mjpeg)
        throw PlanexorError("Unknown demo codec");
    if (options.hotPixels < 0 || options.hotPixels > options.width * options.height)
        throw PlanexorError("The demo's hot pixels must number between 0 and the pixels of a frame");
    if (!(options.vignetting >= 0.0 && options.vignetting < 0.95))
        throw PlanexorError("The demo's vignetting must lie between 0 and 0.95");
    if (!(options.seeingDistortion >= 0.0 && options.seeingDistortion <= 2.0))
        throw PlanexorError("The demo's seeing distortion must lie between 0 and 2");
    if (!(options.patchySeeing >= 0.0 && options.patchySeeing <= 2.0))
        throw PlanexorError("The demo's patchy seeing must lie between 0 and 2");
}

std::vector<FrameTruth> demoTruth(const DemoOptions& options) {
    validateDemoOptions(options);
    Random random(streamSeed(options.seed, TruthStream, 0));
    const double limit = shiftLimit(options.width, options.height);
    // A slow mean-reverting walk (about 100 frames to forget) plus fast jitter.
    const double walkSpread = 0.35 * limit;
    const double jitterSpread = 0.075 * limit;
    const double walkMemory = 0.99;
    const double walkStep = walkSpread * std::sqrt(1.0 - walkMemory * walkMemory);
    // Seeing: log-normal around 1.9 pixels, correlated over a few frames.
    const double blurMemory = 0.5;
    const double medianBlur = 1.9, blurSpread = 0.33;
    const double driftJitter = 0.4;

    double walkX = walkSpread * random.normal();
    double walkY = walkSpread * random.normal();
    double seeing = random.normal();
    std::vector<FrameTruth> truth(static_cast<std::size_t>(options.frames));
    for (int i = 0; i < options.frames; ++i) {
        if (i > 0) {
            walkX = walkMemory * walkX + walkStep * random.normal();
            walkY = walkMemory * walkY + walkStep * random.normal();
            seeing = blurMemory * seeing + std::sqrt(1.0 - blurMemory * blurMemory) * random.normal();
        }
        const double jitterX = random.normal(), jitterY = random.normal();
        FrameTruth& frame = truth[static_cast<std::size_t>(i)];
        if (options.drift != 0.0) {
            const double progress = options.frames > 1 ? static_cast<double>(i) / (options.frames - 1) - 0.5 : 0.0;
            frame.shiftX = options.drift * progress + driftJitter * jitterX;
            frame.shiftY = driftJitter * jitterY;
        } else {
            frame.shiftX = std::clamp(walkX + jitterSpread * jitterX, -limit, limit);
            frame.shiftY = std::clamp(walkY + jitterSpread * jitterY, -limit, limit);
        }
        frame.blur = std::clamp(medianBlur * std::exp(blurSpread * seeing), 0.7, 4.5);
        // What truth.csv says is exactly what was rendered.
        frame.shiftX = roundTo4(frame.shiftX);
        frame.shiftY = roundTo4(frame.shiftY);
        frame.blur = roundTo4(frame.blur);
    }
    return truth;
}

// --------------------------------------------------------------- renderer

PlanetRenderer::PlanetRenderer(int width, int height, unsigned seed) : width_(width), height_(height), seed_(seed) {
    DemoOptions check;
    check.width = width;
    check.height = height;
    validateDemoOptions(check);

    const PlanetModel model(width, height, seed);
    const PlanetSize& size = model.size();
    planet_.x0 = std::max(0, static_cast<int>(std::floor(model.centreX() - size.equatorialRadius)) - 3);
    planet_.x1 = std::min(width, static_cast<int>(std::ceil(model.centreX() + size.equatorialRadius)) + 4);
    planet_.y0 = std::max(0, static_cast<int>(std::floor(model.centreY() - size.polarRadius)) - 3);
    planet_.y1 = std::min(height, static_cast<int>(std::ceil(model.centreY() + size.polarRadius)) + 4);

    const std::size_t paddedStride = static_cast<std::size_t>(width + 2 * kPadding) * kLanes;
    sharp_.assign(paddedStride * static_cast<std::size_t>(height + 2 * kPadding), 0.0f);
    original_.resize(width, height);
    original_.fill(0, 0, 0);

    // 3 x 3 samples per pixel smooth the limb and the finest texture.
    const double offsets[3] = {-1.0 / 3.0, 0.0, 1.0 / 3.0};
    for (int y = planet_.y0; y < planet_.y1; ++y) {
        float* out = sharp_.data() + static_cast<std::size_t>(y + kPadding) * paddedStride + kPadding * kLanes;
        std::uint8_t* pixel = original_.row(y);
        for (int x = planet_.x0; x < planet_.x1; ++x) {
            Colour sum{0, 0, 0};
            for (double dy : offsets)
                for (double dx : offsets) {
                    const Colour c = model.shade(x + dx, y + dy);
                    sum = {sum.r + c.r, sum.g + c.g, sum.b + c.b};
                }
            const double scale = kPeakLevel / 9.0;
            const double bgr[3] = {sum.b * scale, sum.g * scale, sum.r * scale};
            for (int c = 0; c < 3; ++c) {
                out[kLanes * x + c] = static_cast<float>(bgr[c]);
                pixel[3 * x + c] = static_cast<std::uint8_t>(std::clamp(std::lround(bgr[c]), 0L, 255L));
            }
        }
    }

    const std::size_t frameFloats = static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * kLanes;
    distorted_.assign(frameFloats, 0.0f);
    rowPass_.assign(frameFloats, 0.0f);
    blurred_.assign(frameFloats, 0.0f);
    displacementTables_.assign(2 * FieldWaves * static_cast<std::size_t>(width + height), 0.0f);
    lanczosTable_.resize(6 * kLanczosSteps + 1);
    for (int i = 0; i <= 6 * kLanczosSteps; ++i)
        lanczosTable_[static_cast<std::size_t>(i)] =
            static_cast<float>(lanczos3(static_cast<double>(i - 3 * kLanczosSteps) / kLanczosSteps));

    skyLevels_.resize(65536);
    std::uint8_t level = 0;
    for (std::size_t k = 0; k < skyLevels_.size(); ++k) {
        const double p = (static_cast<double>(k) + 0.5) / 65536.0;
        while (level < 255 && 0.5 * std::erfc(-(level + 0.5) / (kReadNoise * std::sqrt(2.0))) < p) ++level;
        skyLevels_[k] = level;
    }
    for (std::size_t i = 0; i < sigmaOfLevel_.size(); ++i)
        sigmaOfLevel_[i] = static_cast<float>(std::sqrt(kReadNoise * kReadNoise + static_cast<double>(i) / kElectronsPerLevel));
    vignetteX_.assign(static_cast<std::size_t>(width), 0.0f);
    vignetteY_.assign(static_cast<std::size_t>(height), 0.0f);
}

void PlanetRenderer::setSensor(int hotPixels, double vignetting) {
    if (hotPixels < 0 || hotPixels > width_ * height_ || !(vignetting >= 0.0 && vignetting < 0.95))
        throw PlanexorError("Invalid sensor faults: hot pixels 0 .. the frame's pixels, vignetting 0 .. 0.95");
    Random random(streamSeed(seed_, SensorStream, 0));
    hotPixels_.resize(static_cast<std::size_t>(hotPixels));
    for (HotPixel& pixel : hotPixels_)
        pixel = {static_cast<int>(random.next() % static_cast<std::uint64_t>(width_)),
                 static_cast<int>(random.next() % static_cast<std::uint64_t>(height_)),
                 15 + static_cast<int>(random.next() % 36)};
    // The light falls with the square of the distance from the middle, to
    // 1 - vignetting in the corners.
    const double centreX = (width_ - 1) / 2.0, centreY = (height_ - 1) / 2.0;
    const double scale = vignetting / (centreX * centreX + centreY * centreY);
    for (int x = 0; x < width_; ++x) vignetteX_[x] = static_cast<float>(scale * (x - centreX) * (x - centreX));
    for (int y = 0; y < height_; ++y) vignetteY_[y] = static_cast<float>(scale * (y - centreY) * (y - centreY));
    vignetted_ = vignetting > 0.0;
}

void PlanetRenderer::addHotPixels(Bitmap24& frame) const {
    for (const HotPixel& hot : hotPixels_) {
        std::uint8_t* pixel = frame.pixel(hot.x, hot.y);
        for (int c = 0; c < 3; ++c) pixel[c] = static_cast<std::uint8_t>(std::min(pixel[c] + hot.level, 255));
    }
}

void PlanetRenderer::renderDark(int index, Bitmap24& frame) {
    Random random(streamSeed(seed_, DarkStream, static_cast<std::uint64_t>(index)));
    frame.resize(width_, height_);
    for (int y = 0; y < height_; ++y) fillSky(random, skyLevels_, frame.row(y), frame.row(y) + frame.rowBytes());
    addHotPixels(frame);
}

void PlanetRenderer::renderFlat(int index, Bitmap24& frame) {
    Random random(streamSeed(seed_, FlatStream, static_cast<std::uint64_t>(index)));
    frame.resize(width_, height_);
    const int topLevel = static_cast<int>(sigmaOfLevel_.size()) - 1;
    for (int y = 0; y < height_; ++y) {
        std::uint8_t* row = frame.row(y);
        for (int x = 0; x < width_; ++x) {
            const float signal = static_cast<float>(kFlatLevel) * lightGain(x, y);
            const float sigma = sigmaOfLevel_[static_cast<std::size_t>(std::clamp(static_cast<int>(signal), 0, topLevel))];
            const std::uint64_t first = random.next(), second = random.next();
            const float noise[3] = {byteSum(first), byteSum(first >> 32), byteSum(second)};
            for (int c = 0; c < 3; ++c) row[3 * x + c] = quantise(signal + sigma * noise[c]);
        }
    }
    addHotPixels(frame);
}

// The seeing's local part: each frame gets its own smooth displacement
// field, a sum of separable waves per axis. The slight part every frame has
// stays below one pixel, with a wavelength near the planet's radius so that
// it averages out over the disc and leaves the frame's shift as the truth
// says. The seeing asked for adds waves as long as the disc is wide,
// reaching a few pixels at 1: moved detail stays recognisable in a box
// around it, as it does under real seeing.
void PlanetRenderer::distort(int frameIndex) {
    const double radius = planetSize(width_, height_).polarRadius;
    const std::size_t tableLength = static_cast<std::size_t>(width_ + height_);
    const auto addWaves = [&](Random& random, std::size_t first, double peak, double shortest, double longest) {
        for (std::size_t axis = 0; axis < 2; ++axis) {
            double amplitudes[3], total = 0;
            for (double& amplitude : amplitudes) {
                amplitude = random.uniform(-1.0, 1.0);
                total += std::abs(amplitude);
            }
            const double reach = peak * random.uniform(0.3, 1.0);
            for (std::size_t k = 0; k < 3; ++k) {
                float* table = displacementTables_.data() + (axis * FieldWaves + first + k) * tableLength;
                const double amplitude = amplitudes[k] * reach / std::max(total, 1e-9);
                const double waveX = 2.0 * kPi / (radius * random.uniform(shortest, longest));
                const double waveY = 2.0 * kPi / (radius * random.uniform(shortest, longest));
                const double phaseX = random.uniform(0.0, 2.0 * kPi), phaseY = random.uniform(0.0, 2.0 * kPi);
                for (int x = planet_.x0; x < planet_.x1; ++x)
                    table[x] = static_cast<float>(amplitude * std::sin(waveX * x + phaseX));
                for (int y = planet_.y0; y < planet_.y1; ++y)
                    table[width_ + y] = static_cast<float>(std::sin(waveY * y + phaseY));
            }
        }
    };
    Random slight(streamSeed(seed_, DistortionStream, static_cast<std::uint64_t>(frameIndex)));
    addWaves(slight, 0, 0.6, 0.5, 1.2);
    const std::size_t waves = seeing_ > 0 ? FieldWaves : SlightWaves;
    if (seeing_ > 0) {
        Random strong(streamSeed(seed_, SeeingStream, static_cast<std::uint64_t>(frameIndex)));
        addWaves(strong, SlightWaves, 4.0 * seeing_, 2.0, 4.0);
    }

    const std::ptrdiff_t paddedStride = static_cast<std::ptrdiff_t>(width_ + 2 * kPadding) * kLanes;
    const float* origin = sharp_.data() + kPadding * paddedStride + kPadding * kLanes;
    const float* tables = displacementTables_.data();
    const auto displacement = [&](int x, int y, float& shiftX, float& shiftY) {
        shiftX = shiftY = 0;
        for (std::size_t k = 0; k < waves; ++k) {
            shiftX += tables[k * tableLength + x] * tables[k * tableLength + width_ + y];
            shiftY += tables[(FieldWaves + k) * tableLength + x] * tables[(FieldWaves + k) * tableLength + width_ + y];
        }
    };
    // Remove the brightness-weighted mean so that the field moves detail
    // about but not the planet as a whole.
    double weightSum = 0, meanX = 0, meanY = 0;
    for (int y = planet_.y0; y < planet_.y1; ++y) {
        const float* in = origin + y * paddedStride;
        for (int x = planet_.x0; x < planet_.x1; ++x) {
            const double weight = in[kLanes * x] + in[kLanes * x + 1] + in[kLanes * x + 2];
            float shiftX, shiftY;
            displacement(x, y, shiftX, shiftY);
            weightSum += weight;
            meanX += weight * shiftX;
            meanY += weight * shiftY;
        }
    }
    const float offsetX = weightSum > 0 ? static_cast<float>(meanX / weightSum) : 0.0f;
    const float offsetY = weightSum > 0 ? static_cast<float>(meanY / weightSum) : 0.0f;
    fieldOffsetX_ = offsetX;
    fieldOffsetY_ = offsetY;
    // Strong seeing may reach past the zero border: the reads stay inside it.
    const float lowest = 1.0f - kPadding, highestX = width_ + kPadding - 3.0f, highestY = height_ + kPadding - 3.0f;

    for (int y = planet_.y0; y < planet_.y1; ++y) {
        float* out = distorted_.data() + static_cast<std::size_t>(y) * width_ * kLanes;
        for (int x = planet_.x0; x < planet_.x1; ++x) {
            float shiftX, shiftY;
            displacement(x, y, shiftX, shiftY);
            shiftX -= offsetX;
            shiftY -= offsetY;
            const float sourceX = std::clamp(x - shiftX, lowest, highestX);
            const float sourceY = std::clamp(y - shiftY, lowest, highestY);
            const float floorX = std::floor(sourceX), floorY = std::floor(sourceY);
            float weightX[4], weightY[4];
            catmullRom(sourceX - floorX, weightX);
            catmullRom(sourceY - floorY, weightY);
            const float* corner = origin + (static_cast<std::ptrdiff_t>(floorY) - 1) * paddedStride +
                                  (static_cast<std::ptrdiff_t>(floorX) - 1) * kLanes;
            float sum[kLanes] = {};
            for (int j = 0; j < 4; ++j) {
                const float* row = corner + j * paddedStride;
                float line[kLanes] = {};
                for (int i = 0; i < 4; ++i)
                    for (int c = 0; c < kLanes; ++c) line[c] += weightX[i] * row[kLanes * i + c];
                for (int c = 0; c < kLanes; ++c) sum[c] += weightY[j] * line[c];
            }
            for (int c = 0; c < kLanes; ++c) out[kLanes * x + c] = sum[c];
        }
    }
}

std::vector<PlanetRenderer::FieldSample> PlanetRenderer::fieldSamples(int step) const {
    std::vector<FieldSample> samples;
    for (int y = planet_.y0; y < planet_.y1; y += step)
        for (int x = planet_.x0; x < planet_.x1; x += step) samples.push_back(fieldAt(x, y));
    return samples;
}

PlanetRenderer::FieldSample PlanetRenderer::fieldAt(int x, int y) const {
    if (x < planet_.x0 || x >= planet_.x1 || y < planet_.y0 || y >= planet_.y1) return {x, y, 0.0f, 0.0f};
    const std::size_t tableLength = static_cast<std::size_t>(width_ + height_);
    const float* tables = displacementTables_.data();
    const std::size_t waves = seeing_ > 0 ? FieldWaves : SlightWaves;
    float dx = 0, dy = 0;
    for (std::size_t k = 0; k < waves; ++k) {
        dx += tables[k * tableLength + x] * tables[k * tableLength + width_ + y];
        dy += tables[(FieldWaves + k) * tableLength + x] * tables[(FieldWaves + k) * tableLength + width_ + y];
    }
    return {x, y, dx - fieldOffsetX_, dy - fieldOffsetY_};
}

// Taps of the shift-and-blur kernel along one axis: the original is taken
// as band limited (Lanczos-3 reconstruction), moved by the fractional shift
// and convolved with the Gaussian, so sub-pixel shifts come out exact and a
// zero blur is a clean interpolation rather than a degenerate kernel.
void PlanetRenderer::makeKernel(double shift, double sigma, int& integerShift, std::vector<float>& taps) const {
    const double whole = std::floor(shift);
    integerShift = static_cast<int>(whole);
    const double fraction = shift - whole;
    const int radius = static_cast<int>(std::ceil(3.0 + 4.0 * sigma));
    taps.assign(static_cast<std::size_t>(2 * radius + 2), 0.0f);
    double total = 0;
    for (int m = -radius; m <= radius + 1; ++m) {
        const double t = m - fraction;
        double value = 0;
        if (sigma < 0.05) {
            value = lanczos3(t);
        } else {
            // Riemann sum over the Lanczos table: the table step is at most a
            // third of sigma here, which a Gaussian sum tolerates well.
            const double step = 1.0 / kLanczosSteps;
            const int first = std::max(-3 * kLanczosSteps, static_cast<int>(std::ceil((t - 5.0 * sigma) / step)));
            const int last = std::min(3 * kLanczosSteps, static_cast<int>(std::floor((t + 5.0 * sigma) / step)));
            const double inverse = -0.5 / (sigma * sigma);
            for (int k = first; k <= last; ++k) {
                const double s = t - k * step;
                value += lanczosTable_[static_cast<std::size_t>(k + 3 * kLanczosSteps)] * std::exp(inverse * s * s);
            }
        }
        taps[static_cast<std::size_t>(m + radius)] = static_cast<float>(value);
        total += value;
    }
    for (float& tap : taps) tap = static_cast<float>(tap / total);
}

// Patchy seeing: the frame rendered twice, the second time blurrier, and
// the two blended across a smooth band with its own direction and place in
// every frame. Distortion and noise are the frame's own in both.
void PlanetRenderer::render(const FrameTruth& truth, int frameIndex, const FrameEffects& effects, Bitmap24& frame) {
    renderOnce(truth, frameIndex, effects, frame);
    if (!(patchy_ > 0.0)) return;
    FrameTruth blurrier = truth;
    blurrier.blur = std::min(50.0, truth.blur + 1.5 * patchy_);
    renderOnce(blurrier, frameIndex, effects, blurrier_);
    Random random(streamSeed(seed_, PatchStream, static_cast<std::uint64_t>(frameIndex)));
    const double radius = planetSize(width_, height_).polarRadius;
    const double angle = random.uniform(0.0, 2.0 * kPi);
    const double wave = 2.0 * kPi / (radius * random.uniform(2.0, 3.0));
    const double phase = random.uniform(0.0, 2.0 * kPi);
    const double waveX = wave * std::cos(angle), waveY = wave * std::sin(angle);
    for (int y = 0; y < height_; ++y) {
        std::uint8_t* out = frame.row(y);
        const std::uint8_t* blurred = blurrier_.row(y);
        for (int x = 0; x < width_; ++x) {
            const float sharp = static_cast<float>(0.5 + 0.5 * std::sin(waveX * x + waveY * y + phase));
            for (int c = 0; c < 3; ++c, ++out, ++blurred)
                *out = static_cast<std::uint8_t>(std::lround(sharp * *out + (1.0f - sharp) * *blurred));
        }
    }
}

void PlanetRenderer::renderOnce(const FrameTruth& truth, int frameIndex, const FrameEffects& effects,
                                Bitmap24& frame) {
    const double shiftBound = 4.0 * std::max(width_, height_);
    if (!std::isfinite(truth.shiftX) || !std::isfinite(truth.shiftY) || std::abs(truth.shiftX) > shiftBound ||
        std::abs(truth.shiftY) > shiftBound || !(truth.blur >= 0.0 && truth.blur <= 50.0))
        throw PlanexorError("Invalid synthetic frame parameters");

    const std::size_t rowFloats = static_cast<std::size_t>(width_) * kLanes;
    const float* source;
    std::size_t sourceStride;
    if (effects.distortion) {
        distort(frameIndex);
        source = distorted_.data();
        sourceStride = rowFloats;
    } else {
        sourceStride = static_cast<std::size_t>(width_ + 2 * kPadding) * kLanes;
        source = sharp_.data() + kPadding * sourceStride + kPadding * kLanes;
    }

    int shiftX, shiftY;
    makeKernel(truth.shiftX, truth.blur, shiftX, kernelX_);
    makeKernel(truth.shiftY, truth.blur, shiftY, kernelY_);
    const int lowX = -static_cast<int>(kernelX_.size() - 2) / 2, highX = lowX + static_cast<int>(kernelX_.size()) - 1;
    const int lowY = -static_cast<int>(kernelY_.size() - 2) / 2, highY = lowY + static_cast<int>(kernelY_.size()) - 1;
    const Region& p = planet_;

    // Output pixel x gathers source columns x - shiftX - m for the taps m.
    const int outX0 = std::clamp(p.x0 + shiftX + lowX, 0, width_);
    const int outX1 = std::clamp(p.x1 - 1 + shiftX + highX + 1, outX0, width_);
    const int outY0 = std::clamp(p.y0 + shiftY + lowY, 0, height_);
    const int outY1 = std::clamp(p.y1 - 1 + shiftY + highY + 1, outY0, height_);

    for (int y = p.y0; y < p.y1 && outX0 < outX1; ++y) {
        const float* in = source + static_cast<std::size_t>(y) * sourceStride;
        float* out = rowPass_.data() + static_cast<std::size_t>(y) * rowFloats;
        for (int x = outX0; x < outX1; ++x) {
            const int first = std::max(lowX, x - shiftX - (p.x1 - 1));
            const int last = std::min(highX, x - shiftX - p.x0);
            float sum[kLanes] = {};
            for (int m = first; m <= last; ++m) {
                const float weight = kernelX_[static_cast<std::size_t>(m - lowX)];
                const float* pixel = in + static_cast<std::size_t>(x - shiftX - m) * kLanes;
                for (int c = 0; c < kLanes; ++c) sum[c] += weight * pixel[c];
            }
            for (int c = 0; c < kLanes; ++c) out[kLanes * x + c] = sum[c];
        }
    }
    const std::size_t spanBegin = static_cast<std::size_t>(outX0) * kLanes;
    const std::size_t spanEnd = static_cast<std::size_t>(outX1) * kLanes;
    for (int y = outY0; y < outY1; ++y) {
        float* out = blurred_.data() + static_cast<std::size_t>(y) * rowFloats;
        std::fill(out + spanBegin, out + spanEnd, 0.0f);
        const int first = std::max(lowY, y - shiftY - (p.y1 - 1));
        const int last = std::min(highY, y - shiftY - p.y0);
        for (int m = first; m <= last; ++m) {
            const float weight = kernelY_[static_cast<std::size_t>(m - lowY)];
            const float* in = rowPass_.data() + static_cast<std::size_t>(y - shiftY - m) * rowFloats;
            addScaledPixels(out + spanBegin, in + spanBegin, weight, spanEnd - spanBegin);
        }
    }

    frame.resize(width_, height_);
    if (!effects.noise) {
        for (int y = 0; y < height_; ++y) {
            std::uint8_t* row = frame.row(y);
            std::fill(row, row + frame.rowBytes(), std::uint8_t{0});
            if (y < outY0 || y >= outY1) continue;
            const float* in = blurred_.data() + static_cast<std::size_t>(y) * rowFloats;
            for (int x = outX0; x < outX1; ++x) {
                const float gain = vignetted_ ? lightGain(x, y) : 1.0f;
                for (int c = 0; c < 3; ++c) row[3 * x + c] = quantise(gain * in[kLanes * x + c]);
            }
        }
        addHotPixels(frame);
        return;
    }

    Random random(streamSeed(seed_, NoiseStream, static_cast<std::uint64_t>(frameIndex)));
    const auto sky = [&](std::uint8_t* begin, std::uint8_t* end) { fillSky(random, skyLevels_, begin, end); };
    const int topLevel = static_cast<int>(sigmaOfLevel_.size()) - 1;
    for (int y = 0; y < height_; ++y) {
        std::uint8_t* row = frame.row(y);
        if (y < outY0 || y >= outY1) {
            sky(row, row + frame.rowBytes());
            continue;
        }
        sky(row, row + 3 * outX0);
        const float* in = blurred_.data() + static_cast<std::size_t>(y) * rowFloats;
        for (int x = outX0; x < outX1; ++x) {
            const std::uint64_t first = random.next(), second = random.next();
            const float noise[3] = {byteSum(first), byteSum(first >> 32), byteSum(second)};
            const float gain = vignetted_ ? lightGain(x, y) : 1.0f;
            for (int c = 0; c < 3; ++c) {
                const float signal = gain * in[kLanes * x + c];
                const int level = std::clamp(static_cast<int>(signal), 0, topLevel);
                row[3 * x + c] = quantise(signal + sigmaOfLevel_[static_cast<std::size_t>(level)] * noise[c]);
            }
        }
        sky(row + 3 * outX1, row + frame.rowBytes());
    }
    addHotPixels(frame);
}

// ------------------------------------------------------------- sequences

Bitmap24 renderDemoOriginal(const DemoOptions& options) {
    validateDemoOptions(options);
    return PlanetRenderer(options.width, options.height, options.seed).original();
}

Bitmap24 renderDemoFrame(const DemoOptions& options, int frame, FrameTruth* truth) {
    const std::vector<FrameTruth> all = demoTruth(options);
    if (frame < 0 || frame >= options.frames) throw PlanexorError("No such demo frame");
    PlanetRenderer renderer(options.width, options.height, options.seed);
    renderer.setSensor(options.hotPixels, options.vignetting);
    renderer.setSeeingDistortion(options.seeingDistortion);
    renderer.setPatchySeeing(options.patchySeeing);
    Bitmap24 image;
    renderer.render(all[static_cast<std::size_t>(frame)], frame, FrameEffects{}, image);
    if (truth != nullptr) *truth = all[static_cast<std::size_t>(frame)];
    return image;
}

namespace {

// One sequence on disk: an AVI, a SER or numbered still frames in a directory.
class SequenceWriter {
public:
    SequenceWriter(const DemoOptions& options, const std::string& directory, const std::string& videoName,
                   WrittenFiles& written, std::vector<std::string>& files)
        : options_(options), directory_(directory), written_(written), files_(files) {
        if (options.format == DemoOptions::Ser) {
            const std::string path = joinPath(directory, videoName + ".ser");
            SerWriter::Format format;
            format.colour = options.serColour;
            format.depth = options.serDepth;
            format.framesPerSecond = kFramesPerSecond;
            format.observer = "Planexor demo";
            format.instrument = "Synthetic camera";
            format.telescope = "Synthetic telescope";
            serVideo_.open(path, options.width, options.height, format);
            files_.push_back(path);
        } else if (options.format == DemoOptions::Avi) {
            const std::string path = joinPath(directory, videoName + ".avi");
            video_.open(path, options.width, options.height, kFramesPerSecond,
                        options.codec == DemoOptions::Mjpeg ? AviWriter::Codec::Mjpeg : AviWriter::Codec::Raw);
            files_.push_back(path);
        }
    }

    void add(const Bitmap24& frame) {
        if (video_.isOpen()) {
            video_.addFrame(frame);
        } else if (serVideo_.isOpen()) {
            serVideo_.addFrame(frame);
        } else {
            char name[32];
            const bool bmp = options_.format == DemoOptions::Bmp;
            std::snprintf(name, sizeof name, "frame_%04d.%s", still_++, bmp ? "bmp" : "jpg");
            const std::string path = joinPath(directory_, name);
            written_.add(path);
            if (bmp) writeBmpFile(path, frame);
            else writeJpegFile(path, frame, 90);
            files_.push_back(path);
        }
    }

    void finish() {
        if (!video_.isOpen() && !serVideo_.isOpen()) return;
        written_.add(files_.back());
        if (video_.isOpen()) video_.finish();
        else serVideo_.finish();
    }

private:
    const DemoOptions& options_;
    std::string directory_;
    WrittenFiles& written_;
    std::vector<std::string>& files_;
    AviWriter video_;
    SerWriter serVideo_;
    int still_ = 0;
};

void makeDirectory(const std::string& directory) {
    std::error_code error;
    std::filesystem::create_directories(directory, error);
    if (error || !std::filesystem::is_directory(directory))
        throw PlanexorError("Could not create the directory " + directory);
}

}  // namespace

DemoResult writeDemoSequence(const DemoOptions& options, RunProgress& progress) {
    validateDemoOptions(options);
    if (options.directory.empty()) throw PlanexorError("No directory given for the demo sequence");
    if (options.format == DemoOptions::Bmp || options.format == DemoOptions::Jpg) {
        // Frames of an earlier, longer demo would be taken with these for one sequence.
        char name[32];
        std::snprintf(name, sizeof name, "frame_%04d.%s", options.frames,
                      options.format == DemoOptions::Bmp ? "bmp" : "jpg");
        if (std::error_code error; std::filesystem::exists(joinPath(options.directory, name), error))
            throw PlanexorError(options.directory + " holds " + name +
                                " of an earlier, longer demo: choose another folder or empty this one");
    }
    makeDirectory(options.directory);

    progress.setPercent(0);
    const std::vector<FrameTruth> truth = demoTruth(options);
    PlanetRenderer renderer(options.width, options.height, options.seed);
    renderer.setSensor(options.hotPixels, options.vignetting);
    renderer.setSeeingDistortion(options.seeingDistortion);
    renderer.setPatchySeeing(options.patchySeeing);
    std::string seeing;
    if (options.seeingDistortion > 0) seeing = "frame,x,y,dx,dy\n";
    const bool calibration = options.hotPixels > 0 || options.vignetting > 0;
    const int calibrationFrames = calibration ? DemoOptions::CalibrationFrames : 0;
    const long long total = options.frames + 2LL * calibrationFrames;
    Bitmap24 frame;
    frame.reserve(options.width, options.height);

    DemoResult result;
    WrittenFiles written;
    long long done = 0;
    // False after a stop: the writers and `written` clean up.
    const auto next = [&] {
        progress.yield();
        if (progress.stopRequested()) return false;
        progress.setPercent(static_cast<int>(++done * 100 / total));
        return true;
    };
    const auto stopped = [] {
        DemoResult nothing;
        nothing.stopped = true;
        return nothing;
    };
    {
        SequenceWriter sequence(options, options.directory, "planet", written, result.sequenceFiles);
        for (int i = 0; i < options.frames; ++i) {
            if (!next()) return stopped();
            renderer.render(truth[static_cast<std::size_t>(i)], i, FrameEffects{}, frame);
            sequence.add(frame);
            if (options.seeingDistortion > 0) {
                char line[96];
                for (const PlanetRenderer::FieldSample& sample : renderer.fieldSamples(SeeingStep)) {
                    std::snprintf(line, sizeof line, "%d,%d,%d,%.4f,%.4f\n", i, sample.x, sample.y, sample.dx, sample.dy);
                    seeing += line;
                }
            }
        }
        sequence.finish();
    }
    for (const bool flat : {false, true}) {
        if (!calibration) break;
        const std::string directory = joinPath(options.directory, flat ? "flat" : "dark");
        makeDirectory(directory);
        std::vector<std::string>& files = flat ? result.flatFiles : result.darkFiles;
        SequenceWriter sequence(options, directory, flat ? "flat" : "dark", written, files);
        for (int i = 0; i < calibrationFrames; ++i) {
            if (!next()) return stopped();
            if (flat) renderer.renderFlat(i, frame);
            else renderer.renderDark(i, frame);
            sequence.add(frame);
        }
        sequence.finish();
    }

    result.originalFile = joinPath(options.directory, "original.bmp");
    written.add(result.originalFile);
    writeBmpFile(result.originalFile, renderer.original());
    result.truthFile = joinPath(options.directory, "truth.csv");
    written.add(result.truthFile);
    writeFileAtomically(result.truthFile, truthText(truth));
    if (options.seeingDistortion > 0) {
        result.seeingFile = joinPath(options.directory, "seeing.csv");
        written.add(result.seeingFile);
        writeFileAtomically(result.seeingFile, seeing);
    }
    written.keep = true;
    return result;
}

}  // namespace planexor
