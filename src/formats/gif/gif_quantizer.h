#pragma once
#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "formats/gif/gif_image.h"

namespace pellavo {

// Octree colour quantiser. Leaves stand for one exact colour until the leaf count passes the
// limit; then the most recent inner node of the deepest level is merged into a leaf, repeatedly,
// so memory stays bounded whatever the number of distinct colours.
class TColorQuantizer {
 public:
  static constexpr int kColorBits = 8;

  explicit TColorQuantizer(int max_colors);
  ~TColorQuantizer();
  TColorQuantizer(const TColorQuantizer&) = delete;
  TColorQuantizer& operator=(const TColorQuantizer&) = delete;

  void AddColor(uint8_t r, uint8_t g, uint8_t b);
  int LeafCount() const { return leaf_count_; }
  // The mean colour of every leaf, depth first with children in index order.
  std::vector<TGIFColor> Colors() const;

 private:
  struct TOctreeNode {
    bool Leaf = false;
    // 64-bit: one leaf may gather billions of pixels of value 255 in a large image.
    uint64_t PixelCount = 0;
    uint64_t RedSum = 0, GreenSum = 0, BlueSum = 0;
    TOctreeNode* NextReducible = nullptr;
    std::array<std::unique_ptr<TOctreeNode>, 8> Child;
  };

  std::unique_ptr<TOctreeNode> NewNode(int level);
  // Merges one node into a leaf; false when nothing is left to merge.
  bool Reduce();
  static void CollectColors(const TOctreeNode& node, std::vector<TGIFColor>& out);

  int max_colors_;
  int leaf_count_ = 0;
  std::unique_ptr<TOctreeNode> root_;
  std::array<TOctreeNode*, kColorBits> reducible_{};  // per level, newest first
  // Runs of one colour are common: the leaf of the last pixel, until a merge may free it.
  TOctreeNode* last_leaf_ = nullptr;
  uint32_t last_rgb_ = 0;
};

// The first index of the nearest palette entry (smallest sum of squared channel differences), as
// a palette-index service answers it. Remembers recent answers.
class TNearestColor {
 public:
  explicit TNearestColor(const std::vector<TGIFColor>& palette);
  uint8_t Find(uint8_t r, uint8_t g, uint8_t b);

 private:
  uint8_t Search(int r, int g, int b) const;

  struct TEntry {
    int Red, Green, Blue, Index;
  };
  std::vector<TEntry> by_red_;  // the palette sorted by red, then index
  static constexpr size_t kCacheSize = size_t{1} << 15;
  std::vector<uint32_t> cache_key_;  // rgb + 1; 0 = unused
  std::vector<uint8_t> cache_index_;
};

// The 20 static colours of the default system palette, in palette order.
const std::array<TGIFColor, 20>& SystemStaticColors();

}  // namespace pellavo
