#include "support/fits_files.h"

#include <fitsio.h>
#include <stdexcept>

#include "support/test_files.h"

namespace planexor::testing {
namespace {

void check(int status, const std::string& what) {
    if (status == 0) return;
    char text[FLEN_STATUS] = {};
    fits_get_errstatus(status, text);
    throw std::runtime_error("cfitsio " + what + ": " + text);
}

struct Opened {
    fitsfile* file = nullptr;
    explicit Opened(const std::string& path) {
        int status = 0;
        fits_open_file(&file, path.c_str(), READONLY, &status);
        check(status, "open " + path);
    }
    ~Opened() {
        int status = 0;
        fits_close_file(file, &status);
    }
};

}  // namespace

void writeWithCfitsio(const std::string& path, const CfitsioImage& image) {
    fitsfile* file = nullptr;
    int status = 0;
    fits_create_file(&file, ("!" + path).c_str(), &status);
    std::vector<long> axes = image.axes;
    fits_create_img(file, image.bitpix, static_cast<int>(axes.size()), axes.data(), &status);
    std::vector<double> values = image.values;
    fits_write_img(file, TDOUBLE, 1, static_cast<LONGLONG>(values.size()), values.data(), &status);
    fits_close_file(file, &status);
    check(status, "write " + path);
}

CfitsioImage readWithCfitsio(const std::string& path) {
    Opened opened(path);
    int status = 0, type = 0, count = 0;
    long axes[3] = {1, 1, 1};
    fits_get_img_type(opened.file, &type, &status);
    fits_get_img_dim(opened.file, &count, &status);
    fits_get_img_size(opened.file, 3, axes, &status);
    check(status, "header of " + path);
    CfitsioImage image;
    image.bitpix = type;
    image.axes.assign(axes, axes + count);
    image.values.resize(static_cast<std::size_t>(axes[0]) * axes[1] * axes[2]);
    int anyNull = 0;
    fits_read_img(opened.file, TDOUBLE, 1, static_cast<LONGLONG>(image.values.size()), nullptr,
                  image.values.data(), &anyNull, &status);
    check(status, "data of " + path);
    return image;
}

std::string cfitsioKeyword(const std::string& path, const std::string& keyword) {
    Opened opened(path);
    int status = 0;
    char value[FLEN_VALUE] = {};
    fits_read_key(opened.file, TSTRING, keyword.c_str(), value, nullptr, &status);
    check(status, keyword + " of " + path);
    return value;
}

std::string cfitsioCard(const std::string& path, int number) {
    Opened opened(path);
    int status = 0;
    char card[FLEN_CARD] = {};
    fits_read_record(opened.file, number, card, &status);
    check(status, "card of " + path);
    return card;
}

std::string fitsverifyComplaints(const std::string& path) {
    const CommandResult result = runCommand("fitsverify -q '" + path + "'");
    if (result.status == 0 && result.out.find("OK:") != std::string::npos) return "";
    return result.out + result.err;
}

}  // namespace planexor::testing
