#include "formats/gif/gif_quantizer.h"

#include <algorithm>
#include <limits>
#include <new>

namespace pellavo {

const std::array<TGIFColor, 20>& SystemStaticColors() {
  static const std::array<TGIFColor, 20> colors{{
      {0, 0, 0},       {128, 0, 0},     {0, 128, 0},     {128, 128, 0},   {0, 0, 128},
      {128, 0, 128},   {0, 128, 128},   {192, 192, 192}, {192, 220, 192}, {166, 202, 240},
      {255, 251, 240}, {160, 160, 164}, {128, 128, 128}, {255, 0, 0},     {0, 255, 0},
      {255, 255, 0},   {0, 0, 255},     {255, 0, 255},   {0, 255, 255},   {255, 255, 255},
  }};
  return colors;
}

// The root is made in the body: NewNode links it into reducible_, which must exist by then.
TColorQuantizer::TColorQuantizer(int max_colors) : max_colors_(max_colors) { root_ = NewNode(0); }

// Deep trees are at most 9 levels, so recursive destruction is safe.
TColorQuantizer::~TColorQuantizer() = default;

std::unique_ptr<TColorQuantizer::TOctreeNode> TColorQuantizer::NewNode(int level) {
  auto node = std::make_unique<TOctreeNode>();
  if (level == kColorBits) {
    node->Leaf = true;
    ++leaf_count_;
  } else {
    node->NextReducible = reducible_[static_cast<size_t>(level)];
    reducible_[static_cast<size_t>(level)] = node.get();
  }
  return node;
}

void TColorQuantizer::AddColor(uint8_t r, uint8_t g, uint8_t b) {
  const uint32_t rgb = uint32_t{r} << 16 | uint32_t{g} << 8 | b;
  TOctreeNode* node = nullptr;
  if (last_leaf_ && last_rgb_ == rgb) {
    node = last_leaf_;
  } else {
    node = root_.get();
    for (int level = 0; !node->Leaf; ++level) {
      const int shift = 7 - level;
      const int mask = 0x80 >> level;
      const size_t child = size_t(((r & mask) >> shift) << 2 | ((g & mask) >> shift) << 1 | ((b & mask) >> shift));
      if (!node->Child[child]) node->Child[child] = NewNode(level + 1);
      node = node->Child[child].get();
    }
  }
  ++node->PixelCount;
  node->RedSum += r;
  node->GreenSum += g;
  node->BlueSum += b;
  last_leaf_ = node;
  last_rgb_ = rgb;

  while (leaf_count_ > max_colors_ && Reduce()) {
  }
}

bool TColorQuantizer::Reduce() {
  int level = kColorBits - 1;
  while (level > 0 && !reducible_[static_cast<size_t>(level)]) --level;
  TOctreeNode* node = reducible_[static_cast<size_t>(level)];
  if (!node) return false;  // the whole tree is one leaf already
  reducible_[static_cast<size_t>(level)] = node->NextReducible;
  node->NextReducible = nullptr;

  int children = 0;
  for (auto& child : node->Child) {
    if (!child) continue;
    node->PixelCount += child->PixelCount;
    node->RedSum += child->RedSum;
    node->GreenSum += child->GreenSum;
    node->BlueSum += child->BlueSum;
    child.reset();
    ++children;
  }
  node->Leaf = true;
  leaf_count_ -= children - 1;
  last_leaf_ = nullptr;  // it may have been one of the children
  return true;
}

void TColorQuantizer::CollectColors(const TOctreeNode& node, std::vector<TGIFColor>& out) {
  if (node.Leaf) {
    if (node.PixelCount == 0) {
      out.push_back({0, 0, 0});
    } else {
      out.push_back({static_cast<uint8_t>(node.RedSum / node.PixelCount),
                     static_cast<uint8_t>(node.GreenSum / node.PixelCount),
                     static_cast<uint8_t>(node.BlueSum / node.PixelCount)});
    }
    return;
  }
  for (const auto& child : node.Child)
    if (child) CollectColors(*child, out);
}

std::vector<TGIFColor> TColorQuantizer::Colors() const {
  std::vector<TGIFColor> out;
  CollectColors(*root_, out);
  return out;
}

TNearestColor::TNearestColor(const std::vector<TGIFColor>& palette)
    : cache_key_(kCacheSize, 0), cache_index_(kCacheSize, 0) {
  for (size_t i = 0; i < palette.size(); ++i)
    by_red_.push_back({palette[i].Red, palette[i].Green, palette[i].Blue, static_cast<int>(i)});
  std::sort(by_red_.begin(), by_red_.end(),
            [](const TEntry& a, const TEntry& b) { return a.Red != b.Red ? a.Red < b.Red : a.Index < b.Index; });
}

uint8_t TNearestColor::Search(int r, int g, int b) const {
  int64_t best_d = std::numeric_limits<int64_t>::max();
  int best = 0;
  const auto consider = [&](const TEntry& e) {
    const int64_t dr = e.Red - r, dg = e.Green - g, db = e.Blue - b;
    const int64_t d = dr * dr + dg * dg + db * db;
    if (d < best_d || (d == best_d && e.Index < best)) {
      best_d = d;
      best = e.Index;
    }
  };
  // Walk outwards from the query's red value; a side ends once its red difference alone exceeds
  // the best distance. Equal distances are still visited, so the lowest index wins a tie.
  const auto start = std::lower_bound(by_red_.begin(), by_red_.end(), r,
                                      [](const TEntry& e, int red) { return e.Red < red; });
  auto up = start;
  auto down = start;
  bool up_open = up != by_red_.end(), down_open = down != by_red_.begin();
  while (up_open || down_open) {
    if (up_open) {
      const int64_t dr = up->Red - r;
      if (dr * dr > best_d) {
        up_open = false;
      } else {
        consider(*up);
        up_open = ++up != by_red_.end();
      }
    }
    if (down_open) {
      const auto& e = *(down - 1);
      const int64_t dr = e.Red - r;
      if (dr * dr > best_d) {
        down_open = false;
      } else {
        consider(e);
        down_open = --down != by_red_.begin();
      }
    }
  }
  return static_cast<uint8_t>(best);
}

uint8_t TNearestColor::Find(uint8_t r, uint8_t g, uint8_t b) {
  const uint32_t rgb = uint32_t{r} << 16 | uint32_t{g} << 8 | b;
  const size_t slot = ((rgb * 2654435761u) >> 17) & (kCacheSize - 1);
  if (cache_key_[slot] == rgb + 1) return cache_index_[slot];
  const uint8_t index = Search(r, g, b);
  cache_key_[slot] = rgb + 1;
  cache_index_[slot] = index;
  return index;
}

TReducedImage ReduceSystemOctree(const TBitmap& bitmap, bool alpha_key) {
  const int32_t w = bitmap.Width(), h = bitmap.Height();
  if (w <= 0 || h <= 0) throw GIFException("Invalid image dimensions");
  try {
    TReducedImage out;
    out.Palette.assign(256, TGIFColor{});
    const auto& fixed = SystemStaticColors();
    for (size_t i = 0; i < 10; ++i) {
      out.Palette[i] = fixed[i];
      out.Palette[246 + i] = fixed[10 + i];
    }

    const auto clear = [alpha_key](TColor32 c) { return alpha_key && AlphaOf(c) < kAlphaKeyThreshold; };
    const size_t chosen = alpha_key ? 235 : 236;
    std::vector<TColor32> row(static_cast<size_t>(w));
    {
      TColorQuantizer quantizer(static_cast<int>(chosen));
      for (int32_t y = 0; y < h; ++y) {
        bitmap.ReadRow32(y, row.data());
        for (TColor32 c : row)
          if (!clear(c)) quantizer.AddColor(RedOf(c), GreenOf(c), BlueOf(c));
      }
      const std::vector<TGIFColor> leaves = quantizer.Colors();
      for (size_t k = 0; k < leaves.size() && k < chosen; ++k) out.Palette[10 + k] = leaves[k];
    }
    // Searched without the key's entry, so no visible pixel lands on it.
    std::vector<TGIFColor> visible = out.Palette;
    if (alpha_key) visible.erase(visible.begin() + kAlphaKeyIndex);

    out.Indices.resize(size_t(w) * size_t(h));
    TNearestColor nearest(visible);
    for (int32_t y = 0; y < h; ++y) {
      bitmap.ReadRow32(y, row.data());
      uint8_t* dst = out.Indices.data() + size_t(y) * size_t(w);
      for (int32_t x = 0; x < w; ++x) {
        const TColor32 c = row[size_t(x)];
        if (clear(c)) {
          dst[x] = kAlphaKeyIndex;
          continue;
        }
        const uint8_t index = nearest.Find(RedOf(c), GreenOf(c), BlueOf(c));
        dst[x] = alpha_key && index >= kAlphaKeyIndex ? uint8_t(index + 1) : index;
      }
    }
    return out;
  } catch (const std::bad_alloc&) {
    throw GIFException("Failed to allocate memory for GIF DIB");
  }
}

}  // namespace pellavo
