#include "ref_generic.h"

#include <utility>
#include <vector>

namespace monotest {

namespace {

struct Pixel {
  int dx, dy;
  int at;  // -1 for a fixed pixel, else the index of the adaptive pixel that takes this place
};

// Context bits from the least significant up, as the template figures number them.
std::vector<Pixel> template_pixels(int t) {
  switch (t) {
    case 0:
      return {{-1, 0, -1}, {-2, 0, -1}, {-3, 0, -1},  {-4, 0, -1},  {0, 0, 0}, {2, -1, -1},
              {1, -1, -1}, {0, -1, -1}, {-1, -1, -1}, {-2, -1, -1}, {0, 0, 1}, {0, 0, 2},
              {1, -2, -1}, {0, -2, -1}, {-1, -2, -1}, {0, 0, 3}};
    case 1:
      return {{-1, 0, -1}, {-2, 0, -1}, {-3, 0, -1},  {0, 0, 0},    {2, -1, -1},
              {1, -1, -1}, {0, -1, -1}, {-1, -1, -1}, {-2, -1, -1}, {2, -2, -1},
              {1, -2, -1}, {0, -2, -1}, {-1, -2, -1}};
    case 2:
      return {{-1, 0, -1},  {-2, 0, -1},  {0, 0, 0},   {1, -1, -1}, {0, -1, -1},
              {-1, -1, -1}, {-2, -1, -1}, {1, -2, -1}, {0, -2, -1}, {-1, -2, -1}};
    default:
      return {{-1, 0, -1}, {-2, 0, -1}, {-3, 0, -1},  {-4, 0, -1},  {0, 0, 0},
              {1, -1, -1}, {0, -1, -1}, {-1, -1, -1}, {-2, -1, -1}, {-3, -1, -1}};
  }
}

}  // namespace

RefGenericDecoder::RefGenericDecoder(const uint8_t* data, size_t size) : mq_(data, size, 65536) {}

RefBitmap RefGenericDecoder::decode(int width, int height, const RefGenericParams& p) {
  static constexpr int kSltp[4] = {0x9B25, 0x0795, 0x00E5, 0x0195};
  const std::vector<Pixel> pixels = template_pixels(p.gbTemplate);
  RefBitmap bm(width, height);
  auto get = [&](int x, int y) {
    return x < 0 || y < 0 || x >= width || y >= height ? 0 : bm.get(x, y);
  };
  int ltp = 0;
  for (int y = 0; y < height; ++y) {
    if (p.tpgdon) {
      ltp ^= mq_.decode(static_cast<size_t>(kSltp[p.gbTemplate]));
      if (ltp) {
        for (int x = 0; x < width; ++x) bm.set(x, y, get(x, y - 1));
        continue;
      }
    }
    for (int x = 0; x < width; ++x) {
      size_t cx = 0;
      for (size_t b = 0; b < pixels.size(); ++b) {
        const Pixel& px = pixels[b];
        const int dx = px.at < 0 ? px.dx : p.atx[px.at];
        const int dy = px.at < 0 ? px.dy : p.aty[px.at];
        cx |= static_cast<size_t>(get(x + dx, y + dy)) << b;
      }
      bm.set(x, y, mq_.decode(cx));
    }
  }
  return bm;
}

namespace {

struct RefinePixel {
  bool reference;  // a pixel of the reference, else of the bitmap being decoded
  int dx, dy;
  int at;          // -1 for a fixed pixel, else the adaptive pixel that takes this place
};

// Context bits from the least significant up, as the refinement template figures number them;
// the reference pixel under the one being decoded is the bit that typical prediction's context
// sets alone.
std::vector<RefinePixel> refine_pixels(int t) {
  if (t == 0)
    return {{true, 1, 1, -1},  {true, 0, 1, -1},  {true, -1, 1, -1},  {true, 1, 0, -1}, {true, 0, 0, -1},
            {true, -1, 0, -1}, {true, 1, -1, -1}, {true, 0, -1, -1},  {true, 0, 0, 1},  {false, -1, 0, -1},
            {false, 1, -1, -1}, {false, 0, -1, -1}, {false, 0, 0, 0}};
  return {{true, 1, 1, -1},   {true, 0, 1, -1},   {true, 1, 0, -1},   {true, 0, 0, -1},  {true, -1, 0, -1},
          {true, 0, -1, -1},  {false, -1, 0, -1}, {false, 1, -1, -1}, {false, 0, -1, -1}, {false, -1, -1, -1}};
}

}  // namespace

RefBitmap ref_refine_decode(const uint8_t* data, size_t size, int width, int height, const RefBitmap& reference,
                            int dx, int dy, const RefRefineParams& p) {
  const std::vector<RefinePixel> pixels = refine_pixels(p.grTemplate);
  MqRefDecoder mq(data, size, size_t{1} << pixels.size());
  const size_t sltp = p.grTemplate == 0 ? size_t{1} << 4 : size_t{1} << 3;
  RefBitmap bm(width, height);
  auto in = [](const RefBitmap& b, int x, int y) {
    return x < 0 || y < 0 || x >= b.width || y >= b.height ? 0 : b.get(x, y);
  };
  int ltp = 0;
  for (int y = 0; y < height; ++y) {
    if (p.tpgron) ltp ^= mq.decode(sltp);
    for (int x = 0; x < width; ++x) {
      const int rx = x - dx, ry = y - dy;
      if (ltp) {
        int sum = 0;
        for (int j = -1; j <= 1; ++j)
          for (int i = -1; i <= 1; ++i) sum += in(reference, rx + i, ry + j);
        if (sum == 0 || sum == 9) {
          bm.set(x, y, sum == 9);
          continue;
        }
      }
      size_t cx = 0;
      for (size_t b = 0; b < pixels.size(); ++b) {
        const RefinePixel& px = pixels[b];
        const int ox = px.at < 0 ? px.dx : p.atx[px.at], oy = px.at < 0 ? px.dy : p.aty[px.at];
        cx |= static_cast<size_t>(px.reference ? in(reference, rx + ox, ry + oy) : in(bm, x + ox, y + oy)) << b;
      }
      bm.set(x, y, mq.decode(cx));
    }
  }
  return bm;
}

}  // namespace monotest
