// TEST ONLY: a straightforward daxpy, y := a*x + y, standing in for the BLAS
// a host installation provides. It follows the reference Fortran interface:
// arguments by address, n <= 0 or a == 0 leaves y alone, and a negative
// increment walks its vector backwards from element (1 - n)*inc. Every
// element is one rounded product and one rounded sum, in element order, so
// the result does not depend on how a real BLAS would split the loop (as
// long as it does not fuse the multiply and the add).
extern "C" void daxpy_(const int *n, const double *a, const double *x,
                       const int *incx, double *y, const int *incy) {
  const int count = *n;
  const double scale = *a;
  if (count <= 0 || scale == 0.0) return;
  const long stride_x = *incx, stride_y = *incy;
  long ix = stride_x < 0 ? (1 - count) * stride_x : 0;
  long iy = stride_y < 0 ? (1 - count) * stride_y : 0;
  for (int i = 0; i < count; ++i, ix += stride_x, iy += stride_y) {
    const double product = scale * x[ix];
    y[iy] = y[iy] + product;
  }
}
