// Codings the writer applies itself: LZW, ASCII85, ASCIIHex, run length, Flate (zlib), DCT
// (libjpeg-turbo), CCITT (the engine's fax coder), and the TIFF predictor; the CCITT decoder.

#include <csetjmp>
#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <vector>

#include <zlib.h>
// jpeglib.h expects stdio's FILE before it.
#include <jpeglib.h>

#include "byteorder.h"
#include "checked_size.h"
#include "fax_decode.h"
#include "fax_encode.h"
#include "pdf_codec.h"
#include "vlt_state.h"

namespace pdflib {

std::string lzw_encode(const std::string& data, bool earlyChange) {
  // Codes 0-255 are bytes, 256 clears the table, 257 ends the data; codes grow from 9 to 12 bits
  // one code earlier with early change, as decoders expect.
  constexpr int kClear = 256, kEnd = 257, kMaxCode = 4096;
  std::string out;
  uint32_t acc = 0;
  int accBits = 0;
  int width = 9;
  auto put = [&](int code) {
    acc = (acc << width) | static_cast<uint32_t>(code);
    accBits += width;
    while (accBits >= 8) {
      out.push_back(static_cast<char>((acc >> (accBits - 8)) & 0xFF));
      accBits -= 8;
    }
    acc &= (1u << accBits) - 1;
  };
  // Table of (prefix code, byte) -> code, as a dense array per prefix.
  std::vector<int> next(static_cast<size_t>(kMaxCode) * 256, -1);
  std::vector<size_t> used;  // slots to empty again when the table is cleared
  int nextCode = 258;
  const int early = earlyChange ? 1 : 0;
  put(kClear);
  int prefix = -1;
  for (unsigned char c : data) {
    if (prefix < 0) {
      prefix = c;
      continue;
    }
    const size_t slot = static_cast<size_t>(prefix) * 256 + c;
    if (next[slot] >= 0) {
      prefix = next[slot];
      continue;
    }
    put(prefix);
    next[slot] = nextCode++;
    used.push_back(slot);
    if (nextCode + early > (1 << width) && width < 12) ++width;
    if (nextCode + early >= kMaxCode) {
      put(kClear);
      for (size_t u : used) next[u] = -1;
      used.clear();
      nextCode = 258;
      width = 9;
    }
    prefix = c;
  }
  if (prefix >= 0) {
    put(prefix);
    ++nextCode;
    if (nextCode + early > (1 << width) && width < 12) ++width;
  }
  put(kEnd);
  if (accBits > 0) out.push_back(static_cast<char>((acc << (8 - accBits)) & 0xFF));
  return out;
}

std::string ascii85_encode(const std::string& data) {
  std::string out;
  size_t column = 0;
  auto emit = [&](char c) {
    out.push_back(c);
    if (++column == 75) {
      out.push_back('\n');
      column = 0;
    }
  };
  for (size_t i = 0; i < data.size(); i += 4) {
    const size_t n = std::min<size_t>(4, data.size() - i);
    uint32_t word = 0;
    for (size_t k = 0; k < 4; ++k) word = (word << 8) | (k < n ? static_cast<unsigned char>(data[i + k]) : 0u);
    if (word == 0 && n == 4) {
      emit('z');
      continue;
    }
    char digits[5];
    for (int k = 4; k >= 0; --k) {
      digits[k] = static_cast<char>('!' + word % 85);
      word /= 85;
    }
    for (size_t k = 0; k < n + 1; ++k) emit(digits[k]);
  }
  out += "~>";
  return out;
}

std::string ascii_hex_encode(const std::string& data) {
  static constexpr char hex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(data.size() * 2 + data.size() / 32 + 2);
  for (size_t i = 0; i < data.size(); ++i) {
    const auto c = static_cast<unsigned char>(data[i]);
    out.push_back(hex[c >> 4]);
    out.push_back(hex[c & 15]);
    if (i % 32 == 31) out.push_back('\n');
  }
  out.push_back('>');
  return out;
}

std::string run_length_encode(const std::string& data) {
  std::string out;
  size_t i = 0;
  const size_t n = data.size();
  while (i < n) {
    size_t run = 1;
    while (i + run < n && run < 128 && data[i + run] == data[i]) ++run;
    if (run >= 2) {
      out.push_back(static_cast<char>(257 - run));
      out.push_back(data[i]);
      i += run;
      continue;
    }
    // A literal stretch, up to the next run of two or more.
    size_t lit = 1;
    while (i + lit < n && lit < 128 && !(i + lit + 1 < n && data[i + lit] == data[i + lit + 1])) ++lit;
    out.push_back(static_cast<char>(lit - 1));
    out.append(data, i, lit);
    i += lit;
  }
  out.push_back(static_cast<char>(128));
  return out;
}

std::string flate_encode(const std::string& data) {
  uLongf size = compressBound(static_cast<uLong>(data.size()));
  std::string out(size, '\0');
  if (compress2(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(data.data()),
                static_cast<uLong>(data.size()), Z_DEFAULT_COMPRESSION) != Z_OK) {
    throw std::runtime_error("Flate coding failed");
  }
  out.resize(size);
  return out;
}

namespace {

// Size of packed rows of samples, refusing geometry whose sizes do not fit.
size_t samples_size(int width, int height, int components, int bits, size_t* rowBytes) {
  size_t row, total;
  if (width <= 0 || height <= 0 || components <= 0 ||
      !mono::checked_mul<size_t>(static_cast<size_t>(width), static_cast<size_t>(components) * bits, &row) ||
      !mono::checked_mul<size_t>((row + 7) / 8, static_cast<size_t>(height), &total)) {
    throw std::runtime_error("image geometry out of range");
  }
  *rowBytes = (row + 7) / 8;
  return total;
}

struct JpegError {
  jpeg_error_mgr mgr;
  jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
};

void jpeg_fail(j_common_ptr info) {
  auto* err = reinterpret_cast<JpegError*>(info->err);
  (*info->err->format_message)(info, err->message);
  std::longjmp(err->jump, 1);
}

// libjpeg reports failures by jumping, so the coding runs here, where only plain data lives.
bool jpeg_code(const unsigned char* samples, size_t rowBytes, int width, int height, int components, int quality,
               bool colorTransform, unsigned char** buffer, unsigned long* size, JpegError* err) {
  jpeg_compress_struct info;
  std::memset(&info, 0, sizeof info);
  info.err = jpeg_std_error(&err->mgr);
  err->mgr.error_exit = jpeg_fail;
  if (setjmp(err->jump)) {
    jpeg_destroy_compress(&info);
    return false;
  }
  jpeg_create_compress(&info);
  jpeg_mem_dest(&info, buffer, size);
  info.image_width = static_cast<JDIMENSION>(width);
  info.image_height = static_cast<JDIMENSION>(height);
  info.input_components = components;
  info.in_color_space = components == 1 ? JCS_GRAYSCALE : components == 3 ? JCS_RGB : JCS_CMYK;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, quality < 1 ? 1 : quality > 100 ? 100 : quality, TRUE);
  if (components == 3 && !colorTransform) jpeg_set_colorspace(&info, JCS_RGB);
  // No Adobe marker: readers would take its CMYK as inverted.
  if (components == 4) info.write_Adobe_marker = FALSE;
  jpeg_start_compress(&info, TRUE);
  while (info.next_scanline < info.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(samples + info.next_scanline * rowBytes);
    jpeg_write_scanlines(&info, &row, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  return true;
}

}  // namespace

std::string dct_encode(const std::string& data, int width, int height, int components, int quality,
                       bool colorTransform) {
  size_t rowBytes;
  if (samples_size(width, height, components, 8, &rowBytes) > data.size()) {
    throw std::runtime_error("DCT: fewer samples than the image holds");
  }
  if (components != 1 && components != 3 && components != 4) throw std::runtime_error("DCT: unusable components");
  if (width > JPEG_MAX_DIMENSION || height > JPEG_MAX_DIMENSION) throw std::runtime_error("DCT: image too large");
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  JpegError err{};
  const bool ok = jpeg_code(reinterpret_cast<const unsigned char*>(data.data()), rowBytes, width, height, components,
                            quality, colorTransform, &buffer, &size, &err);
  std::string out;
  if (ok) out.assign(reinterpret_cast<const char*>(buffer), size);
  std::free(buffer);
  if (!ok) throw std::runtime_error(std::string("DCT coding failed: ") + err.message);
  return out;
}

namespace {

// An engine state for the fax coder, reporting nothing (failures come back as statuses).
struct FaxState {
  VltState* state = nullptr;
  FaxState() {
    if (Vlt_initVltState(&state, nullptr, nullptr, nullptr, nullptr, 0, 0) != VLT_OK) {
      throw std::runtime_error("no engine state for the fax coder");
    }
  }
  ~FaxState() { Vlt_cleanupVltState(&state); }
  FaxState(const FaxState&) = delete;
  FaxState& operator=(const FaxState&) = delete;
};

// Packed rows as the fax coder takes them: whole 32-bit words per row, bytes in their order.
std::vector<uint32_t> to_words(const std::string& data, int width, int height, int32_t* strideWords) {
  size_t rowBytes;
  if (samples_size(width, height, 1, 1, &rowBytes) > data.size()) {
    throw std::runtime_error("CCITT: fewer rows than the image holds");
  }
  if (width > FAX_MAX_WIDTH) throw std::runtime_error("CCITT: image too wide");
  *strideWords = (width + 31) / 32;
  std::vector<uint32_t> words(static_cast<size_t>(*strideWords) * static_cast<size_t>(height), 0);
  for (int y = 0; y < height; ++y) {
    std::memcpy(&words[static_cast<size_t>(y) * *strideWords], data.data() + static_cast<size_t>(y) * rowBytes,
                rowBytes);
  }
  return words;
}

}  // namespace

std::string ccitt_encode(const std::string& data, int width, int height, int K) {
  int32_t stride = 0;
  const std::vector<uint32_t> words = to_words(data, width, height, &stride);
  FaxState st;
  FaxEncoder* enc = nullptr;
  if (EncodeCreate(&enc, st.state) != VLT_OK) throw std::runtime_error("CCITT: no coder");
  std::string out;
  VltStatus status = EncodeInit(enc, width);
  // The longest code of a line stays well below ten bits per pixel plus its end codes.
  size_t capacity = (static_cast<size_t>(width) * 10 / 8 + 64) * static_cast<size_t>(height) + 256;
  out.resize(capacity);
  if (status == VLT_OK) {
    status = DoPage(enc, reinterpret_cast<uint8_t*>(out.data()), &capacity, words.data(), stride, height,
                    K < 0 ? -1 : K, 0, 1, 0, 0, 1);
  }
  EncodeCleanUp(&enc);
  if (status != VLT_OK) throw std::runtime_error("CCITT coding failed, status " + std::to_string(status));
  out.resize(capacity);
  return out;
}

std::string ccitt_decode(const std::string& data, int width, int height, int K, bool blackIs1) {
  if (width <= 0 || height <= 0 || width > FAX_MAX_WIDTH || height > (1 << 20)) {
    throw std::runtime_error("CCITT: unusable columns or rows");
  }
  size_t rowBytes;
  const size_t total = samples_size(width, height, 1, 1, &rowBytes);
  if (total > (size_t{1} << 26)) throw std::runtime_error("CCITT: image too large");
  const int32_t stride = (width + 31) / 32;
  std::vector<uint32_t> words(static_cast<size_t>(stride) * static_cast<size_t>(height), 0);
  FaxState st;
  const auto* bytes = reinterpret_cast<const uint8_t*>(data.data());
  VltStatus status;
  if (K < 0) {
    status = g4Decode(words.data(), width, height, stride, 0, width - 1, height - 1, bytes, data.size(), 0, nullptr,
                      st.state);
  } else if (K == 0) {
    status = g3_1DDecode(words.data(), width, height, stride, 0, width - 1, height - 1, bytes, data.size(), 0,
                         nullptr, st.state);
  } else {
    status = g3_2DDecode(words.data(), width, height, stride, 0, width - 1, height - 1, bytes, data.size(), 0,
                         nullptr, st.state);
  }
  if (status != VLT_OK) throw std::runtime_error("CCITT data damaged, status " + std::to_string(status));
  // The decoder sets black pixels; PDF gives black as 0 unless BlackIs1.
  std::string out(total, '\0');
  for (int y = 0; y < height; ++y) {
    const auto* row = reinterpret_cast<const unsigned char*>(&words[static_cast<size_t>(y) * stride]);
    for (size_t i = 0; i < rowBytes; ++i) {
      out[static_cast<size_t>(y) * rowBytes + i] = static_cast<char>(blackIs1 ? row[i] : ~row[i]);
    }
  }
  return out;
}

std::string tiff_predict(const std::string& data, int columns, int colors, int bits) {
  if (bits != 8 && bits != 16) throw std::runtime_error("the TIFF predictor is coded for 8 and 16 bits only");
  if (columns < 1 || colors < 1 || colors > 32) throw std::runtime_error("predictor geometry out of range");
  const size_t bytesPer = static_cast<size_t>(bits / 8);
  const size_t pixel = bytesPer * static_cast<size_t>(colors);
  const size_t row = pixel * static_cast<size_t>(columns);
  std::string out = data;
  for (size_t start = 0; start + row <= data.size(); start += row) {
    for (size_t x = static_cast<size_t>(columns) - 1; x >= 1; --x) {
      for (size_t c = 0; c < static_cast<size_t>(colors); ++c) {
        const size_t at = start + x * pixel + c * bytesPer;
        const size_t before = at - pixel;
        if (bytesPer == 1) {
          out[at] = static_cast<char>(static_cast<unsigned char>(data[at]) - static_cast<unsigned char>(data[before]));
        } else {
          const auto v = static_cast<uint16_t>((static_cast<unsigned char>(data[at]) << 8) |
                                               static_cast<unsigned char>(data[at + 1]));
          const auto p = static_cast<uint16_t>((static_cast<unsigned char>(data[before]) << 8) |
                                               static_cast<unsigned char>(data[before + 1]));
          const auto d = static_cast<uint16_t>(v - p);
          out[at] = static_cast<char>(d >> 8);
          out[at + 1] = static_cast<char>(d & 0xFF);
        }
      }
    }
  }
  return out;
}

std::string number(double value) {
  if (!std::isfinite(value)) return "0";
  char text[64];
  std::snprintf(text, sizeof text, "%.6f", value);
  char* end = text + std::strlen(text);
  while (end > text && end[-1] == '0') --end;
  if (end > text && end[-1] == '.') --end;
  *end = '\0';
  if (std::strcmp(text, "-0") == 0) return "0";
  return text;
}

}  // namespace pdflib
