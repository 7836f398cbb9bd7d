#pragma once
// One-based (caller-chosen lower bound) vectors, matrices and tensors.
// v[nl..nh] are the caller's elements; release with the same lower bound.
// Allocation failure is fatal (nrerror), never a null return.

// The numerical library's fatal error exit: the fatal error box, then the
// failed operation is abandoned (platform::FatalError is thrown).
[[noreturn]] void nrerror(const char* text);
// The error exit of a routine that data can bring to fail: the (not fatal)
// error box, then the command under way is ended
// (platform::CommandFailure is thrown); the program goes on.
[[noreturn]] void nrfail(const char* text);

float* vector(long nl, long nh);
int* ivector(long nl, long nh);
long* lvector(long nl, long nh);
double* dvector(long nl, long nh);
unsigned char* cvector(long nl, long nh);
float** matrix(long nrl, long nrh, long ncl, long nch);
double** dmatrix(long nrl, long nrh, long ncl, long nch);
int** imatrix(long nrl, long nrh, long ncl, long nch);
float** submatrix(float** a, long oldrl, long oldrh, long oldcl, long oldch, long newrl,
                  long newcl);
float** convert_matrix(float* a, long nrl, long nrh, long ncl, long nch);
float*** f3tensor(long nrl, long nrh, long ncl, long nch, long ndl, long ndh);

void free_vector(float* v, long nl, long nh);
void free_ivector(int* v, long nl, long nh);
void free_lvector(long* v, long nl, long nh);
void free_dvector(double* v, long nl, long nh);
void free_cvector(unsigned char* v, long nl, long nh);
void free_matrix(float** m, long nrl, long nrh, long ncl, long nch);
void free_dmatrix(double** m, long nrl, long nrh, long ncl, long nch);
void free_imatrix(int** m, long nrl, long nrh, long ncl, long nch);
void free_submatrix(float** b, long nrl, long nrh, long ncl, long nch);
void free_convert_matrix(float** b, long nrl, long nrh, long ncl, long nch);
void free_f3tensor(float*** t, long nrl, long nrh, long ncl, long nch, long ndl, long ndh);

// RAII owners for new code; they hand out the same one-based pointers.
template <typename T, T* (*Alloc)(long, long), void (*Free)(T*, long, long)>
class OneBasedVector {
 public:
  OneBasedVector() = default;
  OneBasedVector(long nl, long nh) : p_(Alloc(nl, nh)), nl_(nl), nh_(nh) {}
  ~OneBasedVector() { reset(); }
  OneBasedVector(const OneBasedVector&) = delete;
  OneBasedVector& operator=(const OneBasedVector&) = delete;
  OneBasedVector(OneBasedVector&& o) noexcept : p_(o.p_), nl_(o.nl_), nh_(o.nh_) { o.p_ = nullptr; }
  OneBasedVector& operator=(OneBasedVector&& o) noexcept {
    if (this != &o) {
      reset();
      p_ = o.p_;
      nl_ = o.nl_;
      nh_ = o.nh_;
      o.p_ = nullptr;
    }
    return *this;
  }
  void reset() {
    if (p_) Free(p_, nl_, nh_);
    p_ = nullptr;
  }
  T* get() const { return p_; }
  operator T*() const { return p_; }
  long lo() const { return nl_; }
  long hi() const { return nh_; }

 private:
  T* p_ = nullptr;
  long nl_ = 1, nh_ = 0;
};

using FloatVec = OneBasedVector<float, vector, free_vector>;
using DoubleVec = OneBasedVector<double, dvector, free_dvector>;
using IntVec = OneBasedVector<int, ivector, free_ivector>;

template <typename T, T** (*Alloc)(long, long, long, long), void (*Free)(T**, long, long, long, long)>
class OneBasedMatrix {
 public:
  OneBasedMatrix() = default;
  OneBasedMatrix(long nrl, long nrh, long ncl, long nch)
      : p_(Alloc(nrl, nrh, ncl, nch)), nrl_(nrl), nrh_(nrh), ncl_(ncl), nch_(nch) {}
  ~OneBasedMatrix() { reset(); }
  OneBasedMatrix(const OneBasedMatrix&) = delete;
  OneBasedMatrix& operator=(const OneBasedMatrix&) = delete;
  OneBasedMatrix(OneBasedMatrix&& o) noexcept
      : p_(o.p_), nrl_(o.nrl_), nrh_(o.nrh_), ncl_(o.ncl_), nch_(o.nch_) {
    o.p_ = nullptr;
  }
  OneBasedMatrix& operator=(OneBasedMatrix&& o) noexcept {
    if (this != &o) {
      reset();
      p_ = o.p_;
      nrl_ = o.nrl_;
      nrh_ = o.nrh_;
      ncl_ = o.ncl_;
      nch_ = o.nch_;
      o.p_ = nullptr;
    }
    return *this;
  }
  void reset() {
    if (p_) Free(p_, nrl_, nrh_, ncl_, nch_);
    p_ = nullptr;
  }
  T** get() const { return p_; }
  operator T**() const { return p_; }

 private:
  T** p_ = nullptr;
  long nrl_ = 1, nrh_ = 0, ncl_ = 1, nch_ = 0;
};

using FloatMat = OneBasedMatrix<float, matrix, free_matrix>;
using DoubleMat = OneBasedMatrix<double, dmatrix, free_dmatrix>;
