// Peak resident memory of a conversion against what it claimed from the run's budget, per
// reader, on images near the per-image limit. Each conversion runs in a process of its own, so
// its high-water mark (getrusage) is its own. Exits 1 when a conversion holds more than 1.25
// times its claim.
//
//   memory_peak [FOLDER]   FOLDER keeps the images (a temporary folder by default)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <libheif/heif.h>
#include <webp/encode.h>
#include <zlib.h>
#include <webp/mux.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "core/memory_budget.h"
#include "core/stream.h"
#include "formats/all/output_writers.h"
#include "formats/all/standard_formats.h"
#include "formats/bmp/bitmap.h"
#include "formats/gif/gif_frames.h"
#include "formats/jpeg/jpeg.h"
#include "formats/png/png_object.h"
#include "worker/convert_thread.h"

using namespace pellavo;

namespace {

constexpr int kSide = 5000;  // 95 MiB of 32-bit pixels, under a limit of 100 MiB
// Formats whose encoders are slow are measured at this side, under a limit of 16 MiB.
constexpr int kSmallSide = 2000;
constexpr double kMostOverClaim = 1.25;

// The per-image limit just above a side² image, as --max-image-mb gives it.
uint64_t LimitFor(int side) { return ((uint64_t(side) * uint64_t(side) * 4 >> 20) + 1) << 20; }

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

// Written by the program's own writer for format.
template <TOutputFormat format, bool alpha>
void MakeWith(const std::string& path) {
  TMemoryStream encoded;
  TEncodeOptions options;
  options.KeepAlpha = alpha;
  OutputWriter(format)(Pattern(kSmallSide, kSmallSide, alpha), encoded, options);
  const std::vector<uint8_t> bytes = encoded.Take();
  WriteBytes(path, bytes.data(), bytes.size());
}

// A HEIC photo with alpha, turned a quarter by the file (so its decoder turns it too).
void MakeHeic(const std::string& path) {
  const int side = kSmallSide;
  heif_image* raw = nullptr;
  Check(heif_image_create(side, side, heif_colorspace_RGB, heif_chroma_interleaved_RGBA, &raw).code == heif_error_Ok,
        "heif_image_create");
  std::unique_ptr<heif_image, void (*)(const heif_image*)> image(raw, heif_image_release);
  heif_image_add_plane(image.get(), heif_channel_interleaved, side, side, 8);
  int stride = 0;
  uint8_t* plane = heif_image_get_plane(image.get(), heif_channel_interleaved, &stride);
  const TBitmap pattern = Pattern(side, side, true);
  for (int y = 0; y < side; ++y) std::copy_n(pattern.ScanLine(y), size_t(side) * 4, plane + size_t(y) * size_t(stride));
  std::unique_ptr<heif_context, void (*)(heif_context*)> context(heif_context_alloc(), heif_context_free);
  heif_encoder* raw_encoder = nullptr;
  Check(heif_context_get_encoder_for_format(context.get(), heif_compression_HEVC, &raw_encoder).code == heif_error_Ok,
        "HEVC encoder");
  std::unique_ptr<heif_encoder, void (*)(heif_encoder*)> encoder(raw_encoder, heif_encoder_release);
  std::unique_ptr<heif_encoding_options, void (*)(heif_encoding_options*)> options(heif_encoding_options_alloc(),
                                                                                  heif_encoding_options_free);
  options->image_orientation = heif_orientation_rotate_90_cw;
  Check(heif_context_encode_image(context.get(), image.get(), encoder.get(), options.get(), nullptr).code ==
            heif_error_Ok,
        "heif_context_encode_image");
  Check(heif_context_write_to_file(context.get(), path.c_str()).code == heif_error_Ok, path.c_str());
}

// A 16-bit RGBA PNG, which the PNG reader holds at eight bytes a pixel: written by hand, since
// the program's writer writes 8-bit samples.
void MakePng16(const std::string& path) {
  const int side = kSmallSide;
  std::vector<uint8_t> rows;
  rows.reserve(size_t(side) * (1 + size_t(side) * 8));
  for (int y = 0; y < side; ++y) {
    rows.push_back(0);  // no filter
    for (int x = 0; x < side; ++x)
      for (const int v : {x * 31, y * 17, (x ^ y) * 5, 40000 + (x + y) % 20000})
        rows.insert(rows.end(), {uint8_t(v >> 8), uint8_t(v)});
  }
  uLongf size = compressBound(uLong(rows.size()));
  std::vector<uint8_t> idat(size);
  Check(compress2(idat.data(), &size, rows.data(), uLong(rows.size()), 1) == Z_OK, "compress2");
  idat.resize(size);
  std::vector<uint8_t> file{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  const auto be32 = [&](uint32_t v) {
    file.insert(file.end(), {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)});
  };
  const auto chunk = [&](const char* type, const std::vector<uint8_t>& data) {
    be32(uint32_t(data.size()));
    const size_t start = file.size();
    file.insert(file.end(), type, type + 4);
    file.insert(file.end(), data.begin(), data.end());
    be32(uint32_t(crc32(0, file.data() + start, uInt(file.size() - start))));
  };
  chunk("IHDR", {0, 0, uint8_t(side >> 8), uint8_t(side), 0, 0, uint8_t(side >> 8), uint8_t(side), 16, 6, 0, 0, 0});
  // In pieces of 64 KiB, as writers store image data.
  for (size_t at = 0; at < idat.size(); at += 65536)
    chunk("IDAT", std::vector<uint8_t>(idat.begin() + std::ptrdiff_t(at),
                                       idat.begin() + std::ptrdiff_t(std::min(idat.size(), at + 65536))));
  chunk("IEND", {});
  WriteBytes(path, file.data(), file.size());
}

// Three full frames of kSmallSide², each with its own colours, written frame by frame.
void MakeAnimatedGif(const std::string& path) {
  TMemoryStream encoded;
  const std::unique_ptr<TFrameSink> sink = MakeGIFFrameSink(encoded, kSmallSide, kSmallSide, 0, false);
  for (int frame = 0; frame < 3; ++frame) {
    TBitmap b = Pattern(kSmallSide, kSmallSide, false);
    for (int y = 0; y < kSmallSide; ++y) b.ScanLine(y)[0] = uint8_t(frame * 80);
    sink->Add(b, 100, false);
  }
  sink->Finish();
  const std::vector<uint8_t> bytes = encoded.Take();
  WriteBytes(path, bytes.data(), bytes.size());
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
  int side;  // the source's
  int size;  // the output's larger side
  const char* output = "out.jpg";
};
const TCase kCases[] = {
    {"WebP animation, 5000² canvas", "canvas.webp", MakeAnimatedCanvas, kSide, 800},
    {"WebP still, lossless, alpha", "still.webp", MakeStillLossless, kSide, 800},
    {"PNG, alpha (whole image)", "alpha.png", MakePng, kSide, 800},
    {"BMP, 32-bit with alpha", "alpha.bmp", MakeBmp, kSide, 800},
    {"PNG, 16-bit RGBA, 2000²", "deep.png", MakePng16, kSmallSide, 800},
    {"JPEG, turned (whole image)", "turned.jpg", MakeTurnedJpeg, kSide, 4000},
    {"GIF, 2000²", "small.gif", MakeWith<TOutputFormat::Gif, false>, kSmallSide, 800},
    {"JPEG 2000, 2000², alpha", "small.jp2", MakeWith<TOutputFormat::Jp2, true>, kSmallSide, 800},
    {"AVIF, 2000², alpha", "small.avif", MakeWith<TOutputFormat::Avif, true>, kSmallSide, 800},
    {"HEIC, 2000², alpha, turned", "small.heic", MakeHeic, kSmallSide, 800},
    // Animations kept: read, rendered and written a frame at a time.
    {"WebP animation to WebP, 5000²", "canvas.webp", MakeAnimatedCanvas, kSide, 800, "out.webp"},
    {"GIF animation to GIF, 2000²", "anim.gif", MakeAnimatedGif, kSmallSide, 800, "out.gif"},
};

// In the child: one conversion; prints the growth of the high-water mark and the claim's peak.
int ConvertOne(const std::string& source, const std::string& output, int side, int size) {
  RegisterStandardFormats();
  rusage before{};
  getrusage(RUSAGE_SELF, &before);
  TWorkerOrder order;
  order.Source = source;
  order.Output = output;
  order.Settings.Overwrite = true;
  order.Settings.MaxImageBytes = LimitFor(side);
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
  if (argc == 6 && std::string(argv[1]) == "--convert")
    return ConvertOne(argv[2], argv[3], std::atoi(argv[4]), std::atoi(argv[5]));
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
    const std::string line =
        RunSelf({"--convert", source, folder + "/" + c.output, std::to_string(c.side), std::to_string(c.size)});
    unsigned long long peak = 0, claim = 0;
    Check(std::sscanf(line.c_str(), "%llu %llu", &peak, &claim) == 2, c.reader);
    const double ratio = claim ? double(peak) / double(claim) : 0;
    std::printf("%-32s %12.1f %12.1f %7.2f%s\n", c.reader, peak / 1048576.0, claim / 1048576.0, ratio,
                ratio > kMostOverClaim ? "  over" : "");
    within = within && ratio <= kMostOverClaim;
  }
  return within ? 0 : 1;
}
