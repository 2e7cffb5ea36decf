// Peak resident memory of a conversion against what it claimed from the run's budget, per
// reader, on images near the per-image limit. Each conversion runs in a process of its own, so
// its high-water mark (getrusage) is its own. Exits 1 when a conversion holds more than 1.25
// times its claim.
//
//   memory_peak [FOLDER]   FOLDER keeps the images (a temporary folder by default)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <webp/encode.h>
#include <webp/mux.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "core/memory_budget.h"
#include "formats/all/standard_formats.h"
#include "formats/bmp/bitmap.h"
#include "formats/jpeg/jpeg.h"
#include "formats/png/png_object.h"
#include "worker/convert_thread.h"

using namespace pellavo;

namespace {

constexpr int kSide = 5000;                           // 95 MiB of 32-bit pixels
constexpr uint64_t kLimit = uint64_t{100} << 20;      // as --max-image-mb 100
constexpr double kMostOverClaim = 1.25;

// A picture with every byte of every pixel varying, alpha included when asked for.
TBitmap Pattern(int w, int h, bool alpha) {
  TBitmap b(w, h, TPixelFormat::pf32bit);
  for (int y = 0; y < h; ++y) {
    uint8_t* row = b.ScanLine(y);
    for (int x = 0; x < w; ++x) {
      row[x * 4 + 0] = uint8_t(x * 7 + y);
      row[x * 4 + 1] = uint8_t(y * 3 + x / 5);
      row[x * 4 + 2] = uint8_t((x ^ y) >> 2);
      row[x * 4 + 3] = alpha ? uint8_t(128 + (x + y) % 128) : 0xFF;
    }
  }
  return b;
}

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "memory_peak: %s failed\n", what);
    std::exit(2);
  }
}

void WriteBytes(const std::string& path, const uint8_t* data, size_t size) {
  FILE* f = std::fopen(path.c_str(), "wb");
  Check(f && std::fwrite(data, 1, size, f) == size && std::fclose(f) == 0, path.c_str());
}

// An animation whose canvas is kSide² and whose frames are 64 x 48: the canvas alone is the
// image's size.
void MakeAnimatedCanvas(const std::string& path) {
  WebPAnimEncoderOptions options;
  Check(WebPAnimEncoderOptionsInit(&options), "WebPAnimEncoderOptionsInit");
  WebPAnimEncoder* encoder = WebPAnimEncoderNew(kSide, kSide, &options);
  Check(encoder, "WebPAnimEncoderNew");
  WebPConfig config;
  Check(WebPConfigInit(&config), "WebPConfigInit");
  for (int frame = 0; frame < 2; ++frame) {
    WebPPicture picture;
    Check(WebPPictureInit(&picture), "WebPPictureInit");
    picture.use_argb = 1;
    picture.width = kSide;
    picture.height = kSide;
    Check(WebPPictureAlloc(&picture), "WebPPictureAlloc");
    for (int y = 0; y < kSide; ++y)
      for (int x = 0; x < kSide; ++x)
        picture.argb[size_t(y) * size_t(picture.argb_stride) + size_t(x)] =
            x < 64 && y < 48 ? 0xFF000000u | uint32_t(frame * 0x404040 + x * 3 + y * 0x300) : 0;
    Check(WebPAnimEncoderAdd(encoder, &picture, frame * 100, &config), "WebPAnimEncoderAdd");
    WebPPictureFree(&picture);
  }
  Check(WebPAnimEncoderAdd(encoder, nullptr, 200, nullptr), "WebPAnimEncoderAdd");
  WebPData data;
  WebPDataInit(&data);
  Check(WebPAnimEncoderAssemble(encoder, &data), "WebPAnimEncoderAssemble");
  WriteBytes(path, data.bytes, data.size);
  WebPDataClear(&data);
  WebPAnimEncoderDelete(encoder);
}

void MakeStillLossless(const std::string& path) {
  const TBitmap b = Pattern(kSide, kSide, true);
  std::vector<uint8_t> top_down(size_t(kSide) * kSide * 4);
  for (int y = 0; y < kSide; ++y) std::copy_n(b.ScanLine(y), size_t(kSide) * 4, &top_down[size_t(y) * kSide * 4]);
  uint8_t* out = nullptr;
  const size_t size = WebPEncodeLosslessBGRA(top_down.data(), kSide, kSide, kSide * 4, &out);
  Check(size > 0, "WebPEncodeLosslessBGRA");
  WriteBytes(path, out, size);
  WebPFree(out);
}

void MakePng(const std::string& path) {
  TPNGObject png;
  png.SetKeepAlpha(true);
  png.Assign(Pattern(kSide, kSide, true));
  png.WriteToFile(path);
}

void MakeBmp(const std::string& path) { Pattern(kSide, kSide, true).WriteToFile(path); }

// Stored sideways, so that it is turned on a whole surface instead of streamed.
void MakeTurnedJpeg(const std::string& path) {
  TJPEGImage jpeg;
  TImageMetadata metadata;
  metadata.Exif = {'I', 'I', 42, 0, 8, 0, 0, 0, 1, 0, 0x12, 0x01, 3, 0, 1, 0, 0, 0, 6, 0, 0, 0, 0, 0, 0, 0};
  jpeg.SetMetadata(metadata);
  jpeg.Assign(Pattern(kSide, kSide, false));
  jpeg.WriteToFile(path);
}

struct TCase {
  const char* reader;
  const char* file;
  void (*make)(const std::string&);
  int size;  // the output's larger side
};
const TCase kCases[] = {
    {"WebP animation, 5000² canvas", "canvas.webp", MakeAnimatedCanvas, 800},
    {"WebP still, lossless, alpha", "still.webp", MakeStillLossless, 800},
    {"PNG, alpha (whole image)", "alpha.png", MakePng, 800},
    {"BMP, 32-bit with alpha", "alpha.bmp", MakeBmp, 800},
    {"JPEG, turned (whole image)", "turned.jpg", MakeTurnedJpeg, 4000},
};

// In the child: one conversion; prints the growth of the high-water mark and the claim's peak.
int ConvertOne(const std::string& source, const std::string& output, int size) {
  RegisterStandardFormats();
  rusage before{};
  getrusage(RUSAGE_SELF, &before);
  TWorkerOrder order;
  order.Source = source;
  order.Output = output;
  order.Settings.Overwrite = true;
  order.Settings.MaxImageBytes = kLimit;
  order.SizeValue = size;
  order.Budget = std::make_shared<TMemoryBudget>(uint64_t{64} << 30);
  const TConversion done = ConvertFile(order);
  rusage after{};
  getrusage(RUSAGE_SELF, &after);
  if (!done.Report.Outcome.Written) {
    std::fprintf(stderr, "%s: %s\n", source.c_str(), done.Report.Outcome.Error.c_str());
    return 1;
  }
  std::printf("%llu %llu\n", (unsigned long long)(after.ru_maxrss - before.ru_maxrss) * 1024,
              (unsigned long long)order.Budget->PeakHeld());
  return 0;
}

// Runs the program itself with args and gives back its standard output.
std::string RunSelf(const std::vector<std::string>& args) {
  int out[2];
  Check(::pipe(out) == 0, "pipe");
  const pid_t child = ::fork();
  Check(child >= 0, "fork");
  if (child == 0) {
    ::dup2(out[1], 1);
    ::close(out[0]);
    std::vector<char*> argv;
    static std::string self = "/proc/self/exe";
    argv.push_back(self.data());
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv("/proc/self/exe", argv.data());
    std::_Exit(127);
  }
  ::close(out[1]);
  std::string text;
  char buffer[256];
  for (ssize_t n; (n = ::read(out[0], buffer, sizeof buffer)) > 0;) text.append(buffer, size_t(n));
  ::close(out[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  Check(WIFEXITED(status) && WEXITSTATUS(status) == 0, args[0].c_str());
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::string(argv[1]) == "--convert") return ConvertOne(argv[2], argv[3], std::atoi(argv[4]));
  if (argc == 4 && std::string(argv[1]) == "--make") {
    for (const TCase& c : kCases)
      if (std::string(c.file) == argv[3]) c.make(std::string(argv[2]) + "/" + c.file);
    return 0;
  }
  std::string folder = argc > 1 ? argv[1] : "";
  std::unique_ptr<std::string, void (*)(std::string*)> temporary(nullptr, [](std::string* p) {
    std::filesystem::remove_all(*p);
    delete p;
  });
  if (folder.empty()) {
    std::string pattern = (std::filesystem::temp_directory_path() / "memory-peak-XXXXXX").string();
    Check(::mkdtemp(pattern.data()) != nullptr, "mkdtemp");
    folder = pattern;
    temporary.reset(new std::string(folder));
  }

  std::printf("%-32s %12s %12s %7s\n", "reader", "peak (MB)", "claim (MB)", "ratio");
  bool within = true;
  for (const TCase& c : kCases) {
    const std::string source = folder + "/" + c.file;
    if (!std::filesystem::exists(source)) RunSelf({"--make", folder, c.file});
    const std::string line = RunSelf({"--convert", source, folder + "/out.jpg", std::to_string(c.size)});
    unsigned long long peak = 0, claim = 0;
    Check(std::sscanf(line.c_str(), "%llu %llu", &peak, &claim) == 2, c.reader);
    const double ratio = claim ? double(peak) / double(claim) : 0;
    std::printf("%-32s %12.1f %12.1f %7.2f%s\n", c.reader, peak / 1048576.0, claim / 1048576.0, ratio,
                ratio > kMostOverClaim ? "  over" : "");
    within = within && ratio <= kMostOverClaim;
  }
  return within ? 0 : 1;
}
