#ifndef PDF_CODEC_H
#define PDF_CODEC_H

// The library's own coders and number text, apart from qpdf's headers so that they build with
// the codec library's headers in any language mode.

#include <string>

namespace pdflib {

// Codecs of their own (qpdf decodes but does not code these).
std::string lzw_encode(const std::string& data, bool earlyChange);
std::string ascii85_encode(const std::string& data);
std::string ascii_hex_encode(const std::string& data);
std::string run_length_encode(const std::string& data);
std::string flate_encode(const std::string& data);
std::string dct_encode(const std::string& data, int width, int height, int components, int quality,
                       bool colorTransform);
std::string ccitt_encode(const std::string& data, int width, int height, int K);
std::string ccitt_decode(const std::string& data, int width, int height, int K, bool blackIs1);
std::string tiff_predict(const std::string& data, int columns, int colors, int bits);

// Number text for content streams: no exponent, no trailing zeros.
std::string number(double value);

}  // namespace pdflib

#endif
