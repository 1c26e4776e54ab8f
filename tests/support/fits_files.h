#pragma once
#include <string>
#include <vector>

namespace planexor::testing {

// FITS files as libcfitsio, an independent implementation, writes and reads them.
struct CfitsioImage {
    int bitpix = 16;  // cfitsio's image type: BYTE_IMG, SHORT_IMG, USHORT_IMG, LONG_IMG, FLOAT_IMG, DOUBLE_IMG
    std::vector<long> axes;
    std::vector<double> values;  // physical values, stored order (first stored row first)
};
void writeWithCfitsio(const std::string& path, const CfitsioImage& image);

// Every pixel as stored (no scaling), and the string value of a keyword.
CfitsioImage readWithCfitsio(const std::string& path);
std::string cfitsioKeyword(const std::string& path, const std::string& keyword);
std::string cfitsioCard(const std::string& path, int number);  // 1-based

// fitsverify's verdict: empty when it finds no error and no warning.
std::string fitsverifyComplaints(const std::string& path);

}  // namespace planexor::testing
