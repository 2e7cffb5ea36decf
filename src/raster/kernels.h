#pragma once
#include <memory>
#include <string_view>
#include <vector>

#include "raster/notifiable.h"

namespace pellavo {

// A reconstruction kernel: Filter(x) weighs a source pixel at distance x (source pixels at
// scale 1) from the sampling point, GetWidth is the half-width of its support, and RangeCheck
// says whether negative lobes make filtered values need clamping. Evaluated in single
// precision; called only while mapping tables are built.
class TCustomKernel {
 public:
  TCustomKernel() = default;
  TCustomKernel(const TCustomKernel&) : observer_(nullptr) {}
  TCustomKernel& operator=(const TCustomKernel&) = delete;
  virtual ~TCustomKernel() = default;

  virtual const char* ClassName() const = 0;
  virtual float Filter(float x) const = 0;
  virtual float GetWidth() const = 0;
  virtual bool RangeCheck() const { return false; }
  // A new kernel of the same class with the same published properties and no observer.
  virtual std::unique_ptr<TCustomKernel> Clone() const = 0;
  // Copies the published properties of a kernel of the same class; other classes are ignored.
  virtual void Assign(const TCustomKernel& source);

  // The object told (through Changed) when a property changes.
  void SetObserver(TNotifiablePersistent* observer) { observer_ = observer; }
  TNotifiablePersistent* Observer() const { return observer_; }

 protected:
  void Changed();
  // Stores value into field and notifies when it differs.
  void SetProperty(float& field, float value);

 private:
  TNotifiablePersistent* observer_ = nullptr;
};

#define PELLAVO_KERNEL_CLASS(Type)                                                     \
 public:                                                                               \
  const char* ClassName() const override { return #Type; }                             \
  std::unique_ptr<TCustomKernel> Clone() const override { return std::make_unique<Type>(*this); }

class TBoxKernel : public TCustomKernel {
  PELLAVO_KERNEL_CLASS(TBoxKernel)
  float Filter(float x) const override;
  float GetWidth() const override { return 1; }
};

// The triangle.
class TLinearKernel : public TCustomKernel {
  PELLAVO_KERNEL_CLASS(TLinearKernel)
  float Filter(float x) const override;
  float GetWidth() const override { return 1; }
};

class TCosineKernel : public TCustomKernel {
  PELLAVO_KERNEL_CLASS(TCosineKernel)
  float Filter(float x) const override;
  float GetWidth() const override { return 1; }
};

// The cubic B-spline. Never negative, yet clamped like the other cubics.
class TSplineKernel : public TCustomKernel {
  PELLAVO_KERNEL_CLASS(TSplineKernel)
  float Filter(float x) const override;
  float GetWidth() const override { return 2; }
  bool RangeCheck() const override { return true; }
};

// Mitchell-Netravali with B = C = 1/3.
class TMitchellKernel : public TCustomKernel {
  PELLAVO_KERNEL_CLASS(TMitchellKernel)
  float Filter(float x) const override;
  float GetWidth() const override { return 2; }
  bool RangeCheck() const override { return true; }
};

// Keys' cubic convolution with coefficient Coeff.
class TCubicKernel : public TCustomKernel {
  PELLAVO_KERNEL_CLASS(TCubicKernel)
  float Filter(float x) const override;
  float GetWidth() const override { return 2; }
  bool RangeCheck() const override { return true; }
  float Coeff() const { return coeff_; }
  void SetCoeff(float v) { SetProperty(coeff_, v); }
  void Assign(const TCustomKernel& source) override;

 private:
  float coeff_ = -0.5f;
};

// The impulse response of Hermite interpolation whose tangents follow Tension and Bias;
// Catmull-Rom at the defaults.
class THermiteKernel : public TCustomKernel {
  PELLAVO_KERNEL_CLASS(THermiteKernel)
  float Filter(float x) const override;
  float GetWidth() const override { return 2; }
  bool RangeCheck() const override { return true; }
  float Bias() const { return bias_; }
  void SetBias(float v) { SetProperty(bias_, v); }
  float Tension() const { return tension_; }
  void SetTension(float v) { SetProperty(tension_, v); }
  void Assign(const TCustomKernel& source) override;

 private:
  float bias_ = 0;
  float tension_ = 0;
};

// Sine over hyperbolic sine: Coeff × sin(πx) / sinh(Coeff × πx), cut at Width.
class TSinshKernel : public TCustomKernel {
  PELLAVO_KERNEL_CLASS(TSinshKernel)
  float Filter(float x) const override;
  float GetWidth() const override { return width_; }
  bool RangeCheck() const override { return true; }
  float Width() const { return width_; }
  void SetWidth(float v) { SetProperty(width_, v); }
  float Coeff() const { return coeff_; }
  void SetCoeff(float v) { SetProperty(coeff_, v); }
  void Assign(const TCustomKernel& source) override;

 private:
  float width_ = 3;
  float coeff_ = 0.5f;
};

// sinc(|x|) × Window(|x|) inside Width, 0 outside.
class TWindowedSincKernel : public TCustomKernel {
 public:
  float Filter(float x) const override;
  float GetWidth() const override { return width_; }
  bool RangeCheck() const override { return true; }
  virtual float Window(float x) const = 0;
  float Width() const { return width_; }
  void SetWidth(float v) { SetProperty(width_, v); }
  void Assign(const TCustomKernel& source) override;

 protected:
  float width_ = 3;
};

// Lanczos-3 at the default width: the window is sinc(x / Width).
class TLanczosKernel : public TWindowedSincKernel {
  PELLAVO_KERNEL_CLASS(TLanczosKernel)
  float Window(float x) const override;
};

class TGaussianKernel : public TWindowedSincKernel {
  PELLAVO_KERNEL_CLASS(TGaussianKernel)
  float Window(float x) const override;
  float Sigma() const { return sigma_; }
  void SetSigma(float v) { SetProperty(sigma_, v); }
  void Assign(const TCustomKernel& source) override;

 private:
  float sigma_ = 1.33f;
};

class TBlackmanKernel : public TWindowedSincKernel {
  PELLAVO_KERNEL_CLASS(TBlackmanKernel)
  float Window(float x) const override;
};

class THannKernel : public TWindowedSincKernel {
  PELLAVO_KERNEL_CLASS(THannKernel)
  float Window(float x) const override;
};

class THammingKernel : public TWindowedSincKernel {
  PELLAVO_KERNEL_CLASS(THammingKernel)
  float Window(float x) const override;
};

#undef PELLAVO_KERNEL_CLASS

// The kernel classes known by name, in registration order.
const std::vector<std::string_view>& KernelClassNames();
// A new kernel of the registered class of that name; nullptr for an unknown name.
std::unique_ptr<TCustomKernel> CreateKernel(std::string_view class_name);

}  // namespace pellavo
