// The program's pictures, painted by code on first use.
//
// Each picture is drawn in floating-point colour on a small canvas with
// anti-aliased shapes (distance fields for discs, boxes and pen strokes), then
// turned into the bytes the dialog manager expects. The lettering uses a tiny
// stroke alphabet of our own: each glyph is a few polylines on a grid whose
// baseline is y = 0 and whose x-height is 5 units, so one alphabet serves the
// 18-pixel logo and the 52-pixel splash title alike.
//
// The splash picture is stored as a 256-colour image: after painting it is
// reduced to at most 256 colours by median cut, so the gradients keep their
// smoothness instead of banding on a fixed palette.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "resources/resources.h"

namespace {

struct Colour {
  float r, g, b;
};

Colour Mix(Colour a, Colour b, float t) { return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t}; }

float Clamp01(float v) { return v < 0 ? 0 : (v > 1 ? 1 : v); }

// --- canvas and coverage masks -------------------------------------------------

struct Canvas {
  int w, h;
  std::vector<Colour> px;
  std::vector<float> alpha;  // only the icon uses it
  Canvas(int width, int height) : w(width), h(height), px(size_t(width) * height, Colour{0, 0, 0}), alpha(px.size(), 1.f) {}
  Colour& at(int x, int y) { return px[size_t(y) * w + x]; }
  void blend(int x, int y, Colour c, float a) {
    if (x < 0 || y < 0 || x >= w || y >= h || a <= 0) return;
    Colour& d = at(x, y);
    d = Mix(d, c, Clamp01(a));
  }
};

// Coverage of strokes, collected with max() so that the joints of a polyline
// are not painted twice, and composited once.
struct Mask {
  int w, h;
  std::vector<float> cov;
  Mask(int width, int height) : w(width), h(height), cov(size_t(width) * height, 0.f) {}
  void cover(int x, int y, float c) {
    if (x < 0 || y < 0 || x >= w || y >= h) return;
    float& d = cov[size_t(y) * w + x];
    d = std::max(d, Clamp01(c));
  }
  float at(int x, int y) const { return (x < 0 || y < 0 || x >= w || y >= h) ? 0.f : cov[size_t(y) * w + x]; }
};

struct Point {
  float x, y;
};

// Pixel centres sit at +0.5; a pen of half-width hw covers a pixel as far as
// its centre lies within hw (plus half a pixel of soft edge).
void StrokeSegment(Mask& m, Point a, Point b, float hw) {
  int x0 = int(std::floor(std::min(a.x, b.x) - hw - 1)), x1 = int(std::ceil(std::max(a.x, b.x) + hw + 1));
  int y0 = int(std::floor(std::min(a.y, b.y) - hw - 1)), y1 = int(std::ceil(std::max(a.y, b.y) + hw + 1));
  float dx = b.x - a.x, dy = b.y - a.y, len2 = dx * dx + dy * dy;
  for (int y = y0; y <= y1; ++y)
    for (int x = x0; x <= x1; ++x) {
      float px = x + 0.5f - a.x, py = y + 0.5f - a.y;
      float t = len2 > 0 ? Clamp01((px * dx + py * dy) / len2) : 0.f;
      float ex = px - t * dx, ey = py - t * dy;
      m.cover(x, y, hw + 0.5f - std::sqrt(ex * ex + ey * ey));
    }
}

void StrokePolyline(Mask& m, const std::vector<Point>& pts, float hw) {
  if (pts.size() == 1) StrokeSegment(m, pts[0], pts[0], hw);
  for (size_t i = 1; i < pts.size(); ++i) StrokeSegment(m, pts[i - 1], pts[i], hw);
}

template <typename ColourAt>
void Composite(Canvas& c, const Mask& m, int dx, int dy, float opacity, ColourAt colourAt) {
  for (int y = 0; y < c.h; ++y)
    for (int x = 0; x < c.w; ++x) {
      float a = m.at(x - dx, y - dy) * opacity;
      if (a > 0) c.blend(x, y, colourAt(x, y), a);
    }
}

// A mask blurred by a box filter of the given radius (soft shadows).
Mask Blur(const Mask& m, int radius) {
  Mask out(m.w, m.h);
  float n = float((2 * radius + 1) * (2 * radius + 1));
  for (int y = 0; y < m.h; ++y)
    for (int x = 0; x < m.w; ++x) {
      float sum = 0;
      for (int j = -radius; j <= radius; ++j)
        for (int i = -radius; i <= radius; ++i) sum += m.at(x + i, y + j);
      out.cov[size_t(y) * m.w + x] = sum / n;
    }
  return out;
}

// --- filled shapes --------------------------------------------------------------

// Signed distance to a rounded box, negative inside.
float RoundBoxDistance(float x, float y, float x0, float y0, float x1, float y1, float r) {
  float cx = (x0 + x1) / 2, cy = (y0 + y1) / 2;
  float qx = std::fabs(x - cx) - ((x1 - x0) / 2 - r), qy = std::fabs(y - cy) - ((y1 - y0) / 2 - r);
  float ox = std::max(qx, 0.f), oy = std::max(qy, 0.f);
  return std::sqrt(ox * ox + oy * oy) + std::min(std::max(qx, qy), 0.f) - r;
}

void FillRoundBox(Mask& m, float x0, float y0, float x1, float y1, float r) {
  for (int y = 0; y < m.h; ++y)
    for (int x = 0; x < m.w; ++x) m.cover(x, y, 0.5f - RoundBoxDistance(x + 0.5f, y + 0.5f, x0, y0, x1, y1, r));
}

void FillDisc(Mask& m, float cx, float cy, float r) {
  for (int y = int(cy - r - 2); y <= int(cy + r + 2); ++y)
    for (int x = int(cx - r - 2); x <= int(cx + r + 2); ++x)
      m.cover(x, y, r + 0.5f - std::hypot(x + 0.5f - cx, y + 0.5f - cy));
}

// A colour along a gradient of stops, t from 0 to 1.
struct Stop {
  float t;
  Colour c;
};

Colour Gradient(const std::vector<Stop>& stops, float t) {
  if (t <= stops.front().t) return stops.front().c;
  for (size_t i = 1; i < stops.size(); ++i)
    if (t <= stops[i].t) {
      float u = (t - stops[i - 1].t) / (stops[i].t - stops[i - 1].t);
      u = u * u * (3 - 2 * u);  // smooth steps between stops
      return Mix(stops[i - 1].c, stops[i].c, u);
    }
  return stops.back().c;
}

// --- the stroke alphabet -----------------------------------------------------------

using Strokes = std::vector<std::vector<Point>>;

// Points along an elliptic arc from a0 to a1 degrees (counter-clockwise with
// y up), appended to pts.
void Arc(std::vector<Point>& pts, float cx, float cy, float rx, float ry, float a0, float a1) {
  int steps = std::max(4, int(std::fabs(a1 - a0) / 10));
  for (int i = 0; i <= steps; ++i) {
    float a = (a0 + (a1 - a0) * i / steps) * 3.14159265f / 180;
    pts.push_back({cx + rx * std::cos(a), cy + ry * std::sin(a)});
  }
}

std::vector<Point> ArcPath(float cx, float cy, float rx, float ry, float a0, float a1) {
  std::vector<Point> pts;
  Arc(pts, cx, cy, rx, ry, a0, a1);
  return pts;
}

struct Glyph {
  float advance;
  Strokes strokes;
};

// An arch as in n, m and r: from a stem at x0 up over the top and down to x1.
std::vector<Point> Arch(float x0, float x1, float top, float endAngle = 0) {
  float r = (x1 - x0) / 2;
  std::vector<Point> pts{{x0, top - r}};
  Arc(pts, x0 + r, top - r, r, r, 180, endAngle);
  if (endAngle == 0) pts.push_back({x1, 0});
  return pts;
}

Glyph GlyphFor(char ch) {
  switch (ch) {
    case 'V': return {6, {{{0, 7.5f}, {3, 0}, {6, 7.5f}}}};
    case 'a': return {5, {ArcPath(2.5f, 2.5f, 2.5f, 2.5f, 0, 360), {{5, 5}, {5, 0}}}};
    case 'd': return {5, {ArcPath(2.5f, 2.5f, 2.5f, 2.5f, 0, 360), {{5, 8}, {5, 0}}}};
    case 'o': return {5, {ArcPath(2.5f, 2.5f, 2.5f, 2.5f, 0, 360)}};
    case 'e': {
      std::vector<Point> e{{0, 2.5f}};
      Arc(e, 2.5f, 2.5f, 2.5f, 2.5f, 0, 310);
      return {5, {e}};
    }
    case 'l': return {1, {{{0.5f, 0}, {0.5f, 8}}}};
    case 'i': return {1, {{{0.5f, 0}, {0.5f, 5}}, {{0.5f, 7}}}};
    case 'n': return {5, {{{0, 0}, {0, 5}}, Arch(0, 5, 5)}};
    case 'r': return {3.4f, {{{0, 0}, {0, 5}}, Arch(0, 5, 5, 70)}};
    case 'm': return {7, {{{0, 0}, {0, 5}}, Arch(0, 3.5f, 5), Arch(3.5f, 7, 5)}};
    case 's': {
      std::vector<Point> s;
      Arc(s, 2.5f, 3.75f, 2.2f, 1.25f, 30, 270);
      Arc(s, 2.5f, 1.25f, 2.2f, 1.25f, 90, -150);
      return {5, {s}};
    }
    case 't': {
      std::vector<Point> t{{1, 7}};
      Arc(t, 2.25f, 1, 1.25f, 1, 180, 300);
      return {3, {t, {{0, 5}, {3, 5}}}};
    }
    case 'f': {
      std::vector<Point> f{{1, 0}};
      Arc(f, 2.5f, 6.5f, 1.5f, 1.5f, 180, 45);
      return {3.5f, {f, {{0, 5}, {3, 5}}}};
    }
    case 'w': return {6, {{{0, 5}, {1.5f, 0}, {3, 4}, {4.5f, 0}, {6, 5}}}};
    default: return {2.5f, {}};  // blank, and anything the alphabet lacks
  }
}

struct Pen {
  float scale;     // pixels per unit
  float hw;        // half stroke width in pixels
  float tracking;  // units between glyphs
};

// Kerning for the one pair that needs it: the open side of V.
float Kern(char a, char b) { return (a == 'V' && b != ' ') ? -0.9f : 0.f; }

float TextWidth(const char* text, const Pen& pen) {
  float units = 0;
  for (const char* p = text; *p; ++p) {
    units += GlyphFor(*p).advance + Kern(p[0], p[1]);
    if (p[1]) units += pen.tracking;
  }
  return units * pen.scale;
}

void DrawText(Mask& m, const char* text, float x, float baseline, const Pen& pen) {
  for (const char* p = text; *p; ++p) {
    Glyph g = GlyphFor(*p);
    for (const auto& stroke : g.strokes) {
      std::vector<Point> pts;
      for (Point q : stroke) pts.push_back({x + q.x * pen.scale, baseline - q.y * pen.scale});
      StrokePolyline(m, pts, pen.hw);
    }
    x += (g.advance + Kern(p[0], p[1]) + pen.tracking) * pen.scale;
  }
}

// --- motifs ---------------------------------------------------------------------------

constexpr Colour kNight{18, 26, 64}, kDusk{44, 92, 140}, kPeach{236, 156, 118}, kGlow{250, 200, 134};
constexpr Colour kCream{251, 247, 238}, kInk{58, 72, 110};

// An envelope seen from the back: a cream card, its flap drawn as a V.
void DrawEnvelope(Canvas& c, float x0, float y0, float x1, float y1, float line, bool shadow) {
  float r = std::max(1.f, (x1 - x0) / 26);
  if (shadow) {
    Mask s(c.w, c.h);
    FillRoundBox(s, x0, y0, x1, y1, r);
    Composite(c, Blur(s, 3), 3, 4, 0.45f, [](int, int) { return Colour{6, 10, 28}; });
  }
  Mask card(c.w, c.h);
  FillRoundBox(card, x0, y0, x1, y1, r);
  Composite(c, card, 0, 0, 1, [&](int, int y) { return Mix(kCream, Colour{232, 224, 210}, Clamp01((y - y0) / (y1 - y0))); });
  float mx = (x0 + x1) / 2, inset = line * 2.5f;
  Mask lines(c.w, c.h);
  StrokePolyline(lines, {{x0 + inset, y0 + inset}, {mx, y0 + (y1 - y0) * 0.58f}, {x1 - inset, y0 + inset}}, line);
  Composite(c, lines, 0, 0, 0.85f, [](int, int) { return kInk; });
  Mask folds(c.w, c.h);
  StrokePolyline(folds, {{x0 + inset, y1 - inset}, {mx - (x1 - x0) * 0.12f, y0 + (y1 - y0) * 0.62f}}, line * 0.7f);
  StrokePolyline(folds, {{x1 - inset, y1 - inset}, {mx + (x1 - x0) * 0.12f, y0 + (y1 - y0) * 0.62f}}, line * 0.7f);
  Composite(c, folds, 0, 0, 0.35f, [](int, int) { return kInk; });
}

// Lettering with a soft shadow and a warm vertical gradient.
void DrawTitle(Canvas& c, const char* text, float x, float baseline, const Pen& pen, float shadowOpacity) {
  Mask m(c.w, c.h);
  DrawText(m, text, x, baseline, pen);
  if (shadowOpacity > 0)
    Composite(c, Blur(m, std::max(1, int(pen.hw / 2))), int(pen.hw * 0.8f + 1), int(pen.hw + 1), shadowOpacity,
              [](int, int) { return Colour{6, 10, 28}; });
  float top = baseline - 8 * pen.scale;
  Composite(c, m, 0, 0, 1, [&](int, int y) {
    return Mix(Colour{255, 252, 244}, Colour{250, 212, 160}, Clamp01((y - top) / (baseline - top)));
  });
}

// Deterministic scatter for stars.
struct Lcg {
  uint32_t s;
  float next() {
    s = s * 1664525u + 1013904223u;
    return float(s >> 8) / float(1u << 24);
  }
};

// --- the three pictures ------------------------------------------------------------------

// 695 x 125: a dusk sky over a calm sea, the sun on the horizon, an envelope
// sending its signal, the name and what the system does.
Canvas PaintPicture() {
  const int W = res::kPictureWidth, H = res::kPictureHeight;
  const float horizon = 94, sunX = 596, sunR = 21;
  Canvas c(W, H);
  std::vector<Stop> sky{{0, kNight}, {0.5f, kDusk}, {0.86f, kPeach}, {1, kGlow}};
  std::vector<Stop> sea{{0, Colour{40, 82, 116}}, {1, Colour{10, 26, 48}}};
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x)
      c.at(x, y) = y < horizon ? Gradient(sky, (y + 0.5f) / horizon) : Gradient(sea, (y - horizon) / (H - horizon));

  Lcg rng{0x5eed};
  for (int i = 0; i < 60; ++i) {
    float x = rng.next() * W, y = rng.next() * horizon * 0.45f, a = rng.next();
    Mask star(W, H);
    FillDisc(star, x, y, 0.35f + a * 0.5f);
    Composite(c, star, 0, 0, 0.25f + 0.6f * a * (1 - y / (horizon * 0.45f)), [](int, int) { return Colour{255, 250, 230}; });
  }

  // Sun and its halo, cut by the horizon.
  for (int y = 0; y < int(horizon); ++y)
    for (int x = 0; x < W; ++x) {
      float d = std::hypot(x + 0.5f - sunX, y + 0.5f - horizon);
      c.blend(x, y, Colour{255, 214, 150}, 0.55f * std::exp(-(d / 70) * (d / 70)));
      c.blend(x, y, Colour{255, 240, 196}, Clamp01(sunR + 0.5f - d));
    }

  // Light on the water: long soft streaks, brightest under the sun.
  for (int y = int(horizon); y < H; ++y) {
    float depth = (y - horizon) / (H - horizon);
    for (int x = 0; x < W; ++x) {
      float wave = std::pow(std::max(0.f, std::sin(x * 0.045f + y * 1.7f + std::sin(x * 0.011f) * 3)), 6.f);
      float spread = 26 + depth * 60;
      float under = std::exp(-((x - sunX) / spread) * ((x - sunX) / spread));
      c.blend(x, y, Colour{255, 226, 170}, wave * (0.12f + 0.75f * under) * (1 - depth * 0.6f));
    }
  }
  for (int x = 0; x < W; ++x) c.blend(x, int(horizon), Colour{255, 222, 170}, 0.45f);

  DrawEnvelope(c, 34, 28, 138, 92, 1.4f, true);
  // Three signal arcs leaving the envelope.
  for (int i = 0; i < 3; ++i) {
    Mask arc(W, H);
    float r = 10 + 8.5f * i;
    std::vector<Point> pts;
    for (Point p : ArcPath(146, 60, r, r, -42, 42)) pts.push_back({p.x, 60 - (p.y - 60)});
    StrokePolyline(arc, pts, 1.5f);
    Composite(c, arc, 0, 0, 0.9f - 0.22f * i, [](int, int) { return kCream; });
  }

  Pen title{6.4f, 2.7f, 1.35f};
  DrawTitle(c, "Velloran", 198, 64, title, 0.55f);
  Pen tag{1.9f, 0.95f, 1.9f};
  Mask t(W, H);
  DrawText(t, "store and forward mail", 200, 82, tag);
  Composite(c, t, 0, 0, 0.95f, [](int, int) { return Colour{40, 38, 72}; });
  return c;
}

// 125 x 25: the console's logo, a strip of the same dusk with a small envelope
// and the name.
Canvas PaintLogo() {
  const int W = res::kLogoWidth, H = res::kLogoHeight;
  Canvas c(W, H);
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      Colour across = Mix(kNight, kDusk, float(x) / W);
      c.at(x, y) = Mix(across, kPeach, Clamp01((y - 17.f) / 10) * 0.8f);
    }
  DrawEnvelope(c, 4, 7, 23, 19, 0.6f, false);
  Pen pen{2.25f, 1.05f, 1.25f};
  float x = 28 + (W - 30 - TextWidth("Velloran", pen)) / 2;
  DrawTitle(c, "Velloran", x, 20, pen, 0.5f);
  return c;
}

// 32 x 32: a rounded tile of dusk with the envelope on it; transparent corners.
Canvas PaintIcon() {
  const int S = res::kIconSize;
  Canvas c(S, S);
  Mask tile(S, S);
  FillRoundBox(tile, 1, 1, S - 1, S - 1, 6);
  for (int y = 0; y < S; ++y)
    for (int x = 0; x < S; ++x) {
      c.at(x, y) = Mix(kDusk, kNight, float(y) / S);
      c.alpha[size_t(y) * S + x] = tile.at(x, y);
    }
  DrawEnvelope(c, 5, 8.5f, 27, 23.5f, 0.8f, false);
  return c;
}

// --- reduction to 256 colours ------------------------------------------------------------

uint8_t Byte(float v) { return uint8_t(std::lround(std::clamp(v, 0.f, 255.f))); }

struct Swatch {
  uint32_t key;            // 5 bits per channel
  uint32_t count;
  double r, g, b;          // sums of the pixels that fell into it
  int channel(int k) const { return int((key >> (10 - 5 * k)) & 31); }
};

struct Box {
  size_t begin, end;  // range in the swatch array
  int spread(const std::vector<Swatch>& s, int* channel) const {
    int best = -1;
    for (int k = 0; k < 3; ++k) {
      int lo = 31, hi = 0;
      for (size_t i = begin; i < end; ++i) lo = std::min(lo, s[i].channel(k)), hi = std::max(hi, s[i].channel(k));
      if (hi - lo > best) best = hi - lo, *channel = k;
    }
    return best;
  }
};

// Median cut over a 15-bit histogram, then every pixel takes the palette
// colour of its swatch; the result has at most 'colours' distinct colours.
std::vector<uint8_t> Reduce(const std::vector<uint8_t>& rgb, int colours) {
  std::vector<Swatch> table(32768);
  for (uint32_t k = 0; k < table.size(); ++k) table[k] = {k, 0, 0, 0, 0};
  auto keyOf = [](const uint8_t* p) { return uint32_t(p[0] >> 3) << 10 | uint32_t(p[1] >> 3) << 5 | uint32_t(p[2] >> 3); };
  for (size_t i = 0; i < rgb.size(); i += 3) {
    Swatch& s = table[keyOf(&rgb[i])];
    s.count++, s.r += rgb[i], s.g += rgb[i + 1], s.b += rgb[i + 2];
  }
  std::vector<Swatch> used;
  for (const Swatch& s : table)
    if (s.count) used.push_back(s);

  std::vector<Box> boxes{{0, used.size()}};
  while (int(boxes.size()) < colours) {
    int pick = -1, channel = 0, widest = 0;
    for (size_t b = 0; b < boxes.size(); ++b) {
      int ch = 0, spread = boxes[b].end - boxes[b].begin > 1 ? boxes[b].spread(used, &ch) : 0;
      if (spread > widest) widest = spread, pick = int(b), channel = ch;
    }
    if (pick < 0) break;
    Box box = boxes[pick];
    std::sort(used.begin() + box.begin, used.begin() + box.end,
              [channel](const Swatch& a, const Swatch& b) { return a.channel(channel) < b.channel(channel); });
    uint64_t total = 0, half = 0;
    for (size_t i = box.begin; i < box.end; ++i) total += used[i].count;
    // Cut after the swatch that reaches half the pixels, keeping both halves
    // non-empty even when one swatch holds most of them.
    size_t cut = box.begin;
    while (cut < box.end && (half += used[cut].count) * 2 < total) ++cut;
    cut = std::clamp(cut + 1, box.begin + 1, box.end - 1);
    boxes[pick] = {box.begin, cut};
    boxes.push_back({cut, box.end});
  }

  std::vector<uint32_t> paletteOf(32768, 0);
  std::vector<uint8_t> palette;
  for (const Box& box : boxes) {
    double n = 0, r = 0, g = 0, b = 0;
    for (size_t i = box.begin; i < box.end; ++i) n += used[i].count, r += used[i].r, g += used[i].g, b += used[i].b;
    uint32_t index = uint32_t(palette.size() / 3);
    palette.insert(palette.end(), {Byte(float(r / n)), Byte(float(g / n)), Byte(float(b / n))});
    for (size_t i = box.begin; i < box.end; ++i) paletteOf[used[i].key] = index;
  }
  std::vector<uint8_t> out(rgb.size());
  for (size_t i = 0; i < rgb.size(); i += 3) {
    const uint8_t* p = &palette[3 * paletteOf[keyOf(&rgb[i])]];
    out[i] = p[0], out[i + 1] = p[1], out[i + 2] = p[2];
  }
  return out;
}

std::vector<uint8_t> ToRgb(const Canvas& c) {
  std::vector<uint8_t> out;
  out.reserve(c.px.size() * 3);
  for (const Colour& p : c.px) out.insert(out.end(), {Byte(p.r), Byte(p.g), Byte(p.b)});
  return out;
}

// The same with a light ordered dither, so that the halo and the sky keep
// their smoothness once the colours are reduced.
std::vector<uint8_t> ToDitheredRgb(const Canvas& c) {
  static constexpr int kBayer[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};
  std::vector<uint8_t> out;
  out.reserve(c.px.size() * 3);
  for (int y = 0; y < c.h; ++y)
    for (int x = 0; x < c.w; ++x) {
      float d = (kBayer[y & 3][x & 3] / 16.f - 0.47f) * 6;
      const Colour& p = c.px[size_t(y) * c.w + x];
      out.insert(out.end(), {Byte(p.r + d), Byte(p.g + d), Byte(p.b + d)});
    }
  return out;
}

std::vector<uint8_t> ToRgba(const Canvas& c) {
  std::vector<uint8_t> out;
  out.reserve(c.px.size() * 4);
  for (size_t i = 0; i < c.px.size(); ++i)
    out.insert(out.end(), {Byte(c.px[i].r), Byte(c.px[i].g), Byte(c.px[i].b), Byte(c.alpha[i] * 255)});
  return out;
}

// --- the pictures, kept once painted -----------------------------------------------------

struct PictureState {
  std::vector<uint8_t> logoPixels, picturePixels, iconPixels;
  BitmapResource logo{}, picture{};
  IconResource icon{};
  bool painted = false;
};

PictureState pictures;

void PaintAll() {
  if (pictures.painted) return;
  pictures.logoPixels = ToRgb(PaintLogo());
  pictures.picturePixels = Reduce(ToDitheredRgb(PaintPicture()), 256);
  pictures.iconPixels = ToRgba(PaintIcon());
  pictures.logo = {res::kLogoBitmap, res::kLogoWidth, res::kLogoHeight, 24, pictures.logoPixels.data()};
  pictures.picture = {res::kPictureBitmap, res::kPictureWidth, res::kPictureHeight, 8, pictures.picturePixels.data()};
  pictures.icon = {res::kProgramIcon, res::kIconSize, res::kIconSize, pictures.iconPixels.data()};
  pictures.painted = true;
}

}  // namespace

namespace res {

const BitmapResource* Bitmap(int32_t id) {
  if (id != kLogoBitmap && id != kPictureBitmap) return nullptr;
  PaintAll();
  return id == kLogoBitmap ? &pictures.logo : &pictures.picture;
}

const IconResource* Icon(int32_t id) {
  if (id != kProgramIcon) return nullptr;
  PaintAll();
  return &pictures.icon;
}

void ResetPictures() { pictures = PictureState{}; }

}  // namespace res
