#include "raster/kernels.h"

#include <cmath>

namespace pellavo {
namespace {

// Every kernel works in single precision; intermediate expressions use the 64-bit mantissa of
// long double so that the constants below keep their full precision until a value is stored.
// The sinc's sine runs in double precision: the long double one costs ten times as much, and
// for every single-precision argument below 3 (all that Lanczos-3 and its window use) the two
// round to the same single-precision value.
constexpr long double kPi = 3.14159265358979323846L;
constexpr long double kTwoThirds = 2.0L / 3.0L;
constexpr long double kOneSixth = 1.0L / 6.0L;
constexpr long double kSixteenThirds = 16.0L / 3.0L;
constexpr long double kSevenThirds = 7.0L / 3.0L;
constexpr long double kThirtyTwoThirds = 32.0L / 3.0L;

// sin(u) / u with u = πt stored in single precision.
float Sinc(float t) {
  if (t == 0) return 1;
  const float u = static_cast<float>(kPi * t);
  return static_cast<float>(std::sin(static_cast<double>(u)) / u);
}

template <class K>
void CopySame(K& dst, const TCustomKernel& src, void (*copy)(K&, const K&)) {
  if (const auto* s = dynamic_cast<const K*>(&src); s && typeid(*s) == typeid(dst)) copy(dst, *s);
}

}  // namespace

void TCustomKernel::Assign(const TCustomKernel&) {}

void TCustomKernel::Changed() {
  if (observer_) observer_->Changed();
}

void TCustomKernel::SetProperty(float& field, float value) {
  if (field == value) return;
  field = value;
  Changed();
}

float TBoxKernel::Filter(float x) const { return (x >= -0.5f && x <= 0.5f) ? 1.0f : 0.0f; }

float TLinearKernel::Filter(float x) const {
  if (x < -1) return 0;
  if (x < 0) return 1 + x;
  if (x < 1) return 1 - x;
  return 0;
}

float TCosineKernel::Filter(float x) const {
  // The product πx is kept at full precision here: cos(π/2) must give exactly one half.
  if (std::fabs(x) < 1) return static_cast<float>((std::cos(kPi * x) + 1) / 2);
  return 0;
}

float TSplineKernel::Filter(float x) const {
  const float a = std::fabs(x);
  if (a < 1) {
    const float a2 = a * a;
    return static_cast<float>(0.5L * a2 * a - a2 + kTwoThirds);
  }
  if (a < 2) {
    const float b = 2 - a;
    return static_cast<float>(static_cast<long double>(b) * b * kOneSixth * b);
  }
  return 0;
}

float TMitchellKernel::Filter(float x) const {
  const float a = std::fabs(x);
  const float a2 = a * a;
  const float a3 = a2 * a;
  if (a < 1) return static_cast<float>((7.0L * a3 - 12.0L * a2 + kSixteenThirds) / 6);
  if (a < 2) return static_cast<float>((-kSevenThirds * a3 + 12.0L * a2 - 20.0L * a + kThirtyTwoThirds) / 6);
  return 0;
}

float TCubicKernel::Filter(float x) const {
  const long double a = std::fabs(x), c = coeff_;
  if (a < 1) return static_cast<float>(((c + 2) * a - (c + 3)) * a * a + 1);
  if (a < 2) return static_cast<float>(c * (((a - 5) * a + 8) * a - 4));
  return 0;
}

void TCubicKernel::Assign(const TCustomKernel& source) {
  CopySame<TCubicKernel>(*this, source, [](TCubicKernel& d, const TCubicKernel& s) { d.SetCoeff(s.coeff_); });
}

float THermiteKernel::Filter(float x) const {
  // Tangent at a sample point k: alpha × (p[k] − p[k−1]) + beta × (p[k+1] − p[k]). Writing the
  // interpolated value as a sum over the samples gives one cubic per unit interval.
  const long double alpha = (1.0L - tension_) * (1.0L + bias_) / 2, beta = (1.0L - tension_) * (1.0L - bias_) / 2;
  const auto h00 = [](long double u) { return (2 * u - 3) * u * u + 1; };
  const auto h10 = [](long double u) { return ((u - 2) * u + 1) * u; };
  const auto h01 = [](long double u) { return (3 - 2 * u) * u * u; };
  const auto h11 = [](long double u) { return (u - 1) * u * u; };
  long double r = 0;
  if (x >= 1 && x < 2) {
    r = -alpha * h10(x - 1.0L);
  } else if (x >= 0 && x < 1) {
    r = h00(x) + (alpha - beta) * h10(x) - alpha * h11(x);
  } else if (x >= -1 && x < 0) {
    const long double u = x + 1.0L;
    r = h01(u) + beta * h10(u) + (alpha - beta) * h11(u);
  } else if (x >= -2 && x < -1) {
    r = beta * h11(x + 2.0L);
  }
  return static_cast<float>(r);
}

void THermiteKernel::Assign(const TCustomKernel& source) {
  CopySame<THermiteKernel>(*this, source, [](THermiteKernel& d, const THermiteKernel& s) {
    d.SetBias(s.bias_);
    d.SetTension(s.tension_);
  });
}

float TSinshKernel::Filter(float x) const {
  const float a = std::fabs(x);
  if (a >= width_) return 0;
  if (a == 0 || coeff_ == 0) return a == 0 ? 1.0f : Sinc(a);
  const long double u = kPi * a;
  return static_cast<float>(coeff_ * std::sin(u) / std::sinh(coeff_ * u));
}

void TSinshKernel::Assign(const TCustomKernel& source) {
  CopySame<TSinshKernel>(*this, source, [](TSinshKernel& d, const TSinshKernel& s) {
    d.SetWidth(s.width_);
    d.SetCoeff(s.coeff_);
  });
}

float TWindowedSincKernel::Filter(float x) const {
  const float a = std::fabs(x);
  if (a >= width_) return 0;
  const float w = Window(a);
  return Sinc(a) * w;
}

void TWindowedSincKernel::Assign(const TCustomKernel& source) {
  if (const auto* s = dynamic_cast<const TWindowedSincKernel*>(&source); s && typeid(*s) == typeid(*this))
    SetWidth(s->width_);
}

float TLanczosKernel::Window(float x) const { return Sinc(x / width_); }

float TGaussianKernel::Window(float x) const {
  const long double s = sigma_;
  return static_cast<float>(std::exp(-static_cast<long double>(x) * x / (2 * s * s)));
}

void TGaussianKernel::Assign(const TCustomKernel& source) {
  TWindowedSincKernel::Assign(source);
  CopySame<TGaussianKernel>(*this, source, [](TGaussianKernel& d, const TGaussianKernel& s) { d.SetSigma(s.sigma_); });
}

float TBlackmanKernel::Window(float x) const {
  const long double t = kPi * x / width_;
  return static_cast<float>(0.42L + 0.5L * std::cos(t) + 0.08L * std::cos(2 * t));
}

float THannKernel::Window(float x) const {
  return static_cast<float>(0.5L + 0.5L * std::cos(kPi * x / width_));
}

float THammingKernel::Window(float x) const {
  return static_cast<float>(0.54L + 0.46L * std::cos(kPi * x / width_));
}

namespace {

struct TKernelClass {
  std::string_view name;
  std::unique_ptr<TCustomKernel> (*create)();
};

template <class K>
std::unique_ptr<TCustomKernel> Make() {
  return std::make_unique<K>();
}

// Fixed at compile time: the registry never changes while the program runs.
constexpr TKernelClass kKernelClasses[] = {
    {"TBoxKernel", Make<TBoxKernel>},           {"TLinearKernel", Make<TLinearKernel>},
    {"TCosineKernel", Make<TCosineKernel>},     {"TSplineKernel", Make<TSplineKernel>},
    {"TCubicKernel", Make<TCubicKernel>},       {"TMitchellKernel", Make<TMitchellKernel>},
    {"TLanczosKernel", Make<TLanczosKernel>},   {"TGaussianKernel", Make<TGaussianKernel>},
    {"TBlackmanKernel", Make<TBlackmanKernel>}, {"THannKernel", Make<THannKernel>},
    {"THammingKernel", Make<THammingKernel>},   {"TSinshKernel", Make<TSinshKernel>},
    {"THermiteKernel", Make<THermiteKernel>},
};

}  // namespace

const std::vector<std::string_view>& KernelClassNames() {
  static const std::vector<std::string_view> names = [] {
    std::vector<std::string_view> v;
    for (const auto& k : kKernelClasses) v.push_back(k.name);
    return v;
  }();
  return names;
}

std::unique_ptr<TCustomKernel> CreateKernel(std::string_view class_name) {
  for (const auto& k : kKernelClasses)
    if (k.name == class_name) return k.create();
  return nullptr;
}

}  // namespace pellavo
