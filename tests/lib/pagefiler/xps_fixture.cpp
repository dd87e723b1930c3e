// Hand-built XPS packages and images for the reader's tests.

#include "xps_fixture.h"

#include <jpeglib.h>
#include <png.h>
#include <tiffio.h>
#include <zip.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "tools.h"

namespace xpstest {

void write_zip(const std::string& path, const std::vector<Part>& parts, bool stored) {
  int error = 0;
  zip_t* zip = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
  if (!zip) throw std::runtime_error("cannot create " + path);
  for (const Part& p : parts) {
    zip_source_t* source = zip_source_buffer(zip, p.bytes.data(), p.bytes.size(), 0);
    const zip_int64_t index = source ? zip_file_add(zip, p.name.c_str(), source, ZIP_FL_ENC_UTF_8) : -1;
    if (index < 0) {
      zip_source_free(source);
      zip_discard(zip);
      throw std::runtime_error("cannot add " + p.name);
    }
    zip_set_file_compression(zip, static_cast<zip_uint64_t>(index), stored ? ZIP_CM_STORE : ZIP_CM_DEFLATE, 0);
  }
  if (zip_close(zip) != 0) {
    zip_discard(zip);
    throw std::runtime_error("cannot write " + path);
  }
}

std::vector<Part> interleave(const Part& part, int pieces) {
  std::vector<Part> out;
  const size_t step = (part.bytes.size() + pieces - 1) / pieces;
  for (int i = 0; i < pieces; ++i) {
    const size_t from = std::min(part.bytes.size(), i * step);
    const std::string suffix = i == pieces - 1 ? ".last.piece" : ".piece";
    out.push_back({part.name + "/[" + std::to_string(i) + "]" + suffix, part.bytes.substr(from, step)});
  }
  return out;
}

std::string xps_rel(Namespace ns, const std::string& kind) {
  return (ns == Namespace::Xps2005 ? "http://schemas.microsoft.com/xps/2005/06/"
                                   : "http://schemas.openxps.org/oxps/v1.0/") +
         kind;
}

std::string opc_rel(const std::string& kind) {
  return "http://schemas.openxmlformats.org/package/2006/relationships/" + kind;
}

std::string page_ns(Namespace ns) {
  return ns == Namespace::Xps2005 ? "http://schemas.microsoft.com/xps/2005/06" : "http://schemas.openxps.org/oxps/v1.0";
}

std::string relationships(const std::vector<std::pair<std::string, std::string>>& type_target) {
  std::string xml =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">";
  int id = 1;
  for (const auto& [type, target] : type_target)
    xml += "<Relationship Id=\"R" + std::to_string(id++) + "\" Type=\"" + type + "\" Target=\"" + target + "\"/>";
  return xml + "</Relationships>";
}

std::string fixed_page(Namespace ns, double width, double height, const std::string& body) {
  char size[96];
  std::snprintf(size, sizeof size, "Width=\"%g\" Height=\"%g\"", width, height);
  return "<FixedPage xmlns=\"" + page_ns(ns) + "\" xmlns:x=\"http://schemas.microsoft.com/xps/2005/06/resourcedictionary-key\" " +
         size + " xml:lang=\"en-US\">" + body + "</FixedPage>";
}

std::vector<Part> package_parts(const PackageSpec& spec) {
  const std::string ns = page_ns(spec.ns);
  std::vector<Part> parts;
  parts.push_back({"[Content_Types].xml",
                   "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
                   "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
                   "<Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
                   "<Default Extension=\"fdseq\" ContentType=\"application/vnd.ms-package.xps-fixeddocumentsequence+xml\"/>"
                   "<Default Extension=\"fdoc\" ContentType=\"application/vnd.ms-package.xps-fixeddocument+xml\"/>"
                   "<Default Extension=\"fpage\" ContentType=\"application/vnd.ms-package.xps-fixedpage+xml\"/>"
                   "<Default Extension=\"png\" ContentType=\"image/png\"/>"
                   "<Default Extension=\"jpg\" ContentType=\"image/jpeg\"/>"
                   "<Default Extension=\"tif\" ContentType=\"image/tiff\"/>"
                   "</Types>"});
  std::vector<std::pair<std::string, std::string>> root{
      {xps_rel(spec.ns, "fixedrepresentation"), "/FixedDocumentSequence.fdseq"}};
  if (!spec.package_thumbnail.empty()) root.push_back({opc_rel("metadata/thumbnail"), spec.package_thumbnail});
  parts.push_back({"_rels/.rels", relationships(root)});
  parts.push_back({"FixedDocumentSequence.fdseq",
                   "<FixedDocumentSequence xmlns=\"" + ns +
                       "\"><DocumentReference Source=\"Documents/1/FixedDocument.fdoc\"/></FixedDocumentSequence>"});
  std::string doc = "<FixedDocument xmlns=\"" + ns + "\">";
  for (size_t i = 0; i < spec.page_bodies.size(); ++i)
    doc += "<PageContent Source=\"Pages/" + std::to_string(i + 1) + ".fpage\"/>";
  parts.push_back({"Documents/1/FixedDocument.fdoc", doc + "</FixedDocument>"});
  for (size_t i = 0; i < spec.page_bodies.size(); ++i) {
    const Part page{"Documents/1/Pages/" + std::to_string(i + 1) + ".fpage",
                    fixed_page(spec.ns, spec.width, spec.height, spec.page_bodies[i])};
    if (spec.interleave_pages > 0) {
      // Pieces written in reverse, as a streaming producer may: order comes from the names.
      std::vector<Part> pieces = interleave(page, spec.interleave_pages);
      parts.insert(parts.end(), pieces.rbegin(), pieces.rend());
    } else {
      parts.push_back(page);
    }
  }
  parts.insert(parts.end(), spec.extra.begin(), spec.extra.end());
  return parts;
}

std::string png_rgb(int width, int height, uint8_t r, uint8_t g, uint8_t b, int alpha, double dpi) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(width);
  image.height = static_cast<png_uint_32>(height);
  image.format = alpha >= 0 ? PNG_FORMAT_RGBA : PNG_FORMAT_RGB;
  const int channels = alpha >= 0 ? 4 : 3;
  std::string pixels(static_cast<size_t>(width) * height * channels, '\0');
  for (size_t i = 0; i < pixels.size(); i += channels) {
    pixels[i] = static_cast<char>(r);
    pixels[i + 1] = static_cast<char>(g);
    pixels[i + 2] = static_cast<char>(b);
    if (alpha >= 0) pixels[i + 3] = static_cast<char>(alpha);
  }
  png_alloc_size_t size = 0;
  if (!png_image_write_to_memory(&image, nullptr, &size, 0, pixels.data(), 0, nullptr))
    throw std::runtime_error("png size");
  std::string out(size, '\0');
  if (!png_image_write_to_memory(&image, out.data(), &size, 0, pixels.data(), 0, nullptr))
    throw std::runtime_error("png write");
  out.resize(size);
  if (dpi > 0) {
    // A pHYs chunk after IHDR (the simplified writer makes none).
    const uint32_t ppm = static_cast<uint32_t>(dpi / 0.0254 + 0.5);
    unsigned char chunk[21] = {0, 0, 0, 9, 'p', 'H', 'Y', 's'};
    for (int k = 0; k < 2; ++k)
      for (int j = 0; j < 4; ++j) chunk[8 + 4 * k + j] = static_cast<unsigned char>(ppm >> (24 - 8 * j));
    chunk[16] = 1;
    const uLong crc = crc32(crc32(0, nullptr, 0), chunk + 4, 13);
    for (int j = 0; j < 4; ++j) chunk[17 + j] = static_cast<unsigned char>(crc >> (24 - 8 * j));
    out.insert(33, reinterpret_cast<const char*>(chunk), sizeof chunk);
  }
  return out;
}

namespace {

void put_be32(std::string* out, uint32_t v) {
  for (int i = 3; i >= 0; --i) out->push_back(static_cast<char>(v >> (8 * i)));
}

void png_chunk(std::string* png, const char* type, const std::string& body) {
  put_be32(png, static_cast<uint32_t>(body.size()));
  const std::string typed = std::string(type, 4) + body;
  png->append(typed);
  put_be32(png, static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(typed.data()), typed.size())));
}

}  // namespace

// Written by hand: libpng's simplified writer makes no 1-bit files.
std::string png_bilevel(int width, int height) {
  std::string png("\x89PNG\r\n\x1a\n", 8), header;
  put_be32(&header, static_cast<uint32_t>(width));
  put_be32(&header, static_cast<uint32_t>(height));
  header += std::string("\x01\x00\x00\x00\x00", 5);  // 1 bit, grey, deflate, no filter, no interlace
  png_chunk(&png, "IHDR", header);
  const size_t row = (static_cast<size_t>(width) + 7) / 8;
  std::string raw;
  for (int y = 0; y < height; ++y) {
    raw.push_back('\0');
    for (size_t i = 0; i < row; ++i) {
      unsigned char bits = 0xff;  // 1 is white in a grey PNG
      for (int b = 0; b < 8; ++b)
        if (static_cast<int>(i * 8 + b) < width / 2) bits &= static_cast<unsigned char>(~(0x80 >> b));
      raw.push_back(static_cast<char>(bits));
    }
  }
  uLongf size = compressBound(raw.size());
  std::string packed(size, '\0');
  compress(reinterpret_cast<Bytef*>(packed.data()), &size, reinterpret_cast<const Bytef*>(raw.data()), raw.size());
  packed.resize(size);
  png_chunk(&png, "IDAT", packed);
  png_chunk(&png, "IEND", "");
  return png;
}

std::string jpeg_rgb(int width, int height, uint8_t r, uint8_t g, uint8_t b, int dpi) {
  jpeg_compress_struct info{};
  jpeg_error_mgr error{};
  info.err = jpeg_std_error(&error);
  jpeg_create_compress(&info);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&info, &buffer, &size);
  info.image_width = static_cast<JDIMENSION>(width);
  info.image_height = static_cast<JDIMENSION>(height);
  info.input_components = 3;
  info.in_color_space = JCS_RGB;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, 95, TRUE);
  if (dpi > 0) {
    info.density_unit = 1;
    info.X_density = info.Y_density = static_cast<UINT16>(dpi);
  }
  jpeg_start_compress(&info, TRUE);
  std::string row(static_cast<size_t>(width) * 3, '\0');
  for (int x = 0; x < width; ++x) row[3 * x] = static_cast<char>(r), row[3 * x + 1] = static_cast<char>(g), row[3 * x + 2] = static_cast<char>(b);
  while (info.next_scanline < info.image_height) {
    JSAMPROW p = reinterpret_cast<JSAMPROW>(row.data());
    jpeg_write_scanlines(&info, &p, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  std::string out(reinterpret_cast<char*>(buffer), size);
  std::free(buffer);
  return out;
}

namespace {

std::string tiff_file(const std::function<void(TIFF*)>& fill) {
  monotest::TempDir dir;
  const std::string path = dir.file("image.tif");
  TIFF* tif = TIFFOpen(path.c_str(), "w");
  if (!tif) throw std::runtime_error("tiff create");
  fill(tif);
  TIFFClose(tif);
  return monotest::read_file(path);
}

}  // namespace

std::string tiff_rgb(int width, int height, uint8_t r, uint8_t g, uint8_t b, int alpha) {
  return tiff_file([&](TIFF* tif) {
    const int channels = alpha >= 0 ? 4 : 3;
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, channels);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
    if (alpha >= 0) {
      const uint16_t extra = EXTRASAMPLE_UNASSALPHA;
      TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, &extra);
    }
    std::string row(static_cast<size_t>(width) * channels, '\0');
    for (int x = 0; x < width; ++x) {
      row[channels * x] = static_cast<char>(r);
      row[channels * x + 1] = static_cast<char>(g);
      row[channels * x + 2] = static_cast<char>(b);
      if (alpha >= 0) row[channels * x + 3] = static_cast<char>(alpha);
    }
    for (int y = 0; y < height; ++y) TIFFWriteScanline(tif, row.data(), static_cast<uint32_t>(y), 0);
  });
}

std::string tiff_bilevel(int width, int height, double dpcm) {
  return tiff_file([&](TIFF* tif) {
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 1);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4);
    if (dpcm > 0) {
      TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_CENTIMETER);
      TIFFSetField(tif, TIFFTAG_XRESOLUTION, dpcm);
      TIFFSetField(tif, TIFFTAG_YRESOLUTION, dpcm);
    }
    std::string row((width + 7) / 8, '\0');
    for (int y = 0; y < height; ++y) {
      std::memset(row.data(), y < height / 2 ? 0xff : 0x00, row.size());
      TIFFWriteScanline(tif, row.data(), static_cast<uint32_t>(y), 0);
    }
  });
}

}  // namespace xpstest
