#include "input/still_frames.h"

#include "core/error.h"
#include "input/bmp_codec.h"
#include "core/file_io.h"
#include "input/jpeg_codec.h"

namespace planexor {

void loadStillFrame(const std::string& path, Bitmap24& into) {
    const std::string extension = lowerExtensionOf(path);
    if (extension == ".jpg" || extension == ".jpeg") decodeJpegFile(path, into);
    else readBmpFile(path, into);
}

void StillFrameSource::decode(int frame, Bitmap24& into) {
    if (frame < 0 || frame >= frameCount_) throw PlanexorError("No frame " + std::to_string(frame));
    loadStillFrame(files_[frame], into);
}

}  // namespace planexor
