#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "core/vector_lanes.h"
#include "core/workspace.h"

namespace planexor {

// The header values the reader works with. Pixel values are
// stored x BSCALE + BZERO; integer BITPIX are signed except 8.
struct FitsHeader {
    int NAXIS1 = 0;
    int NAXIS2 = 0;
    int BITPIX = 0;
    double BZERO = 0.0;
    double BSCALE = 1.0;
    bool hasBlank = false;     // integer BITPIX: stored BLANK values are blanks, read as NaN
    std::int64_t BLANK = 0;
    std::uint64_t dataOffset = 0;  // the block after END
    std::uint64_t dataBytes = 0;   // every plane of a cube, as the header promises
    std::int64_t planes = 1;       // of a cube (NAXIS3 and beyond): only the first is read
};

// A FITS file read from the front: the header, then the rows in stored order.
class FitsFile {
public:
    explicit FitsFile(const std::string& path);
    ~FitsFile();
    FitsFile(const FitsFile&) = delete;
    FitsFile& operator=(const FitsFile&) = delete;

    const std::string& path() const { return path_; }
    std::uint64_t size() const { return size_; }
    // Exactly count bytes, or a PlanexorError naming the file.
    void read(void* into, std::size_t count);

private:
    std::string path_;
    std::FILE* file_ = nullptr;
    std::uint64_t size_ = 0;
};

// Reads the cards up to END, checks them and that the file holds all the data
// they promise, and leaves the file at the first data byte. Refuses anything
// it cannot read with a PlanexorError; "unsupported fits format" for a pixel
// type or axis count it does not know.
FitsHeader ReadFitsHeader(FitsFile& file);

// The NAXIS1 values of the next stored row, BZERO and BSCALE applied; a value
// that is not finite (a blank) reads as NaN.
void ReadFitsRow(FitsFile& file, const FitsHeader& header, std::vector<float>& values);

struct FitsPlaneRead {
    int fileWidth = 0, fileHeight = 0;  // NAXIS1, NAXIS2
    int width = 0, height = 0;          // what was read: at most MaxImageSide each
    float minimum = 0, maximum = 0;     // of the values read
    bool divided = false;               // by mean, as a flat field is
    double mean = 0;
    std::int64_t planes = 1;            // the file's: only the first was read
};

// What the user is told of a cube (a colour FITS, say) read as its first plane.
std::string firstPlaneOnlyText(const std::string& path, std::int64_t planes);

// Reads the first plane upright (stored row r to plane row height-1-r), cut to
// MaxImageSide x MaxImageSide, every value x factor. Elements outside the
// image are left as they are. Both vector codes give the same plane.
// Blank samples (NaN, infinite, or an integer BLANK) read as the darkest value
// of the image, or, with divideByMean, as the mean of the others: a neutral
// divisor.
// divideByMean: where it costs no second pass (16-bit values that scale to
// integers, rows no wider than the plane, wide vectors, none negative, not
// all 0), each value is also divided by the mean of those read as a flat
// field is (normaliseFlatColumn); divided says so.
FitsPlaneRead readFitsPlane(FitsFile& file, const FitsHeader& header, TFloatPlane& plane, float factor = 1.0f,
                            VectorCode code = VectorCode::Best, bool divideByMean = false);

// One FITS frame as the input of a single-image session: StackG holds it, the
// image, frame and stack sizes are its size (cut), the original size is the
// file's, StackMin/StackMax its extremes. On failure the workspace is as it was.
FitsPlaneRead openFitsFrame(Workspace& workspace, const std::string& path);

}  // namespace planexor
