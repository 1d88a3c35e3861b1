#pragma once
// Sparse matrix of dense N x N blocks (N = the spatial dimension). Built in
// an ordered map, then frozen into one sorted block array with a per-block-row
// index; after freezing only values change, no block can be added.

#include <map>
#include <type_traits>
#include <utility>
#include <vector>

#include "Matrix.h"

template <class T, int BLOCK_SIZE>
class BlockMatrix : public Matrix<T> {
  static_assert(BLOCK_SIZE > 0, "block size must be positive");

 public:
  using Matrix<T>::nRow;
  using Matrix<T>::nCol;
  using Matrix<T>::symmetric;
  using typename Matrix<T>::ValueFn;

  static constexpr int N = BLOCK_SIZE;
  static constexpr int NN = BLOCK_SIZE * BLOCK_SIZE;

  struct Block {
    int row0 = 0;                   // first scalar row, a multiple of N
    int col0 = 0;                   // first scalar column, a multiple of N
    Block* nextInColumn = nullptr;  // next block of the same block column
    T values[NN] = {};              // row-major
  };
  using BuildMap = std::map<std::pair<int, int>, Block>;

  int blockEntries = NN;
  int nBlockRows = 0;                      // nRow / N once frozen; 0 in the build phase
  int nBlockCols = 0;                      // nCol / N once frozen; 0 in the build phase
  std::vector<Block> blocks;               // frozen blocks, sorted by (row0, col0)
  BuildMap* buildMap = nullptr;            // owned; non-null exactly in the build phase
  Block** rowStart = nullptr;              // nBlockRows + 1 pointers into blocks, owned
  Block** colTable = nullptr;              // nBlockCols pointers into blocks, owned
  ScatterStream* scatterStream = nullptr;  // recorded coarse-product plan, owned

  // Build phase of an nRow x nCol matrix.
  BlockMatrix(int nRow, int nCol);
  // Reads one block record and freezes; on a bad record the matrix is empty
  // (0 x 0, frozen) and the stream's failbit is set.
  explicit BlockMatrix(std::istream& f);
  // Deep copy: blocks, flag and tables; every internal pointer points into the
  // copy. The scatter stream is not copied.
  BlockMatrix(const BlockMatrix& A);
  BlockMatrix& operator=(const BlockMatrix&) = delete;
  ~BlockMatrix() override;

  // Build phase: inserts into the map. Frozen: the block must exist.
  void addElemBlock(int row, int col, const T* v);
  // Freezes the pattern; does nothing when already frozen.
  void buildDataStructs();
  // Freezes a matrix of the build phase with blocks made elsewhere instead
  // of its map: sorted by (row0, col0), each position once, aligned and
  // inside the matrix (an assembly that knows its pattern builds them so).
  void freezeWith(std::vector<Block>&& sorted);
  // The stored block holding (i, j) of a frozen matrix, or null.
  Block* findBlock(int i, int j);
  const Block* findBlock(int i, int j) const;
  bool frozen() const { return buildMap == nullptr; }

  // Copies the values of src block by block (same block count and shape).
  void structuredCopy(const BlockMatrix& src);

  T operator()(int i, int j) const override;
  void setElem(int i, int j, const T& v) override;
  void addElem(int i, int j, const T& v) override;
  void clear() override;
  void copyTo(Matrix<T>& dest) const override;
  // The products, residuals and sweeps walk the frozen index; in the build
  // phase the matrix counts as having no block rows.
  void mult(const Vector<T>& x, Vector<T>& y) const override;
  void multTransposed(const Vector<T>& x, Vector<T>& y) const override;
  void mult_m_left(const Matrix<T>& B, Matrix<T>& C) const override;
  void mult_m_transpose_left(const Matrix<T>& B, Matrix<T>& C) const override;
  void mult_m_right(const Matrix<T>& B, Matrix<T>& C) const override;
  void mult_m_transpose_right(const Matrix<T>& B, Matrix<T>& C) const override;
  void mult_m_left_m_transpose_right(const PackedMatrix<T>& P, Matrix<T>& C,
                                     ProgressBar* pb) const override;
  // this += s B. A frozen matrix walks each row of B along its block row;
  // the sums are addElem's, entry for entry.
  void addScaled(const PackedMatrix<T>& B, const T& s) override;
  using Matrix<T>::addScaled;
  void scale(const T& s) override;
  void scaleDiagLeft(const Vector<T>& d) override;
  void scaleDiagRight(const Vector<T>& d) override;
  // Block SOR sweeps. A block row without a diagonal block adds its residual
  // to resSqr and leaves x unchanged.
  void gaussSeidelStep(Vector<T>& x, const Vector<T>& b, const T& omega, T& resSqr) const override;
  void gaussSeidelBackStep(Vector<T>& x, const Vector<T>& b, const T& omega,
                           T& resSqr) const override;
  // gaussSeidelStep on a symmetric matrix that also leaves r = b - A x of
  // the new x, without a second pass over the matrix: each row's residual
  // after its own update, less A_kj^T dx_j scattered back from every later
  // row j into the rows k before it. Equal to residuum() up to rounding.
  void gaussSeidelStepResidual(Vector<T>& x, const Vector<T>& b, const T& omega, T& resSqr,
                               Vector<T>& r) const;
  void residuum(const Vector<T>& x, const Vector<T>& b, Vector<T>& r) const override;
  T residuumSqrSum(const Vector<T>& x, const Vector<T>& b) const override;
  void forEachValue(ValueFn fn, void* arg) override;
  // Block record: u8 symmetric, i32 nRow, i32 nCol, i32 nBlockRows,
  // i32 nBlockCols, i32 nBlocks, then per block i32 row0, i32 col0 and N*N
  // doubles. Refused (program stop) in the build phase.
  void writeToFile(std::ostream& f) const override;
  T maxAbs() const override;
  void absColumnSums(Vector<T>& y) const override;

  // y = blocks [first, last) times x for one block row, and t = b - y. The
  // products are summed per block entry and reduced once at the end, so the
  // additions form N*N short chains instead of N long ones, in vector
  // registers where the compiler offers them.
  static void rowProduct(const Block* first, const Block* last, const T* x, T (&y)[BLOCK_SIZE]);
  static void rowResidual(const Block* first, const Block* last, const T* x, const T* b,
                          T (&t)[BLOCK_SIZE]) {
    T y[BLOCK_SIZE];
    rowProduct(first, last, x, y);
    for (int k = 0; k < BLOCK_SIZE; ++k) t[k] = b[k] - y[k];
  }

  // Replaces the matrix by the next record, validated against the header and
  // the bytes left, and freezes it; false (and an empty matrix) on a bad
  // record, among them one claiming far more block rows and columns than
  // its blocks justify (more than 65536 + 8 per block). A record of the
  // other block size stops the program.
  bool readFromFile(std::istream& f);

 private:
  void releaseIndex();
  void releaseScatterStream();
  void buildIndex();
  void makeEmpty();
  template <bool Backward>
  void sweep(Vector<T>& x, const Vector<T>& b, const T& omega, T& resSqr, T* r = nullptr) const;

  // Index into blocks of each block row's diagonal block, -1 for none; set
  // with the row index.
  std::vector<int> diagonalBlock;
};

template <class T, int BS>
inline void BlockMatrix<T, BS>::rowProduct(const Block* p, const Block* e, const T* x, T (&y)[BS]) {
#if defined(__GNUC__)
  if constexpr (std::is_same_v<T, double> && (BS == 2 || BS == 3)) {
    // Partial sums s[q] += values[q] * x[q % N] two entries at a time; the
    // same operations as the loop below, so the same results.
    using V2 = double __attribute__((vector_size(16)));
    auto load = [](const double* a) {
      V2 v;
      __builtin_memcpy(&v, a, sizeof v);
      return v;
    };
    if constexpr (BS == 3) {
      V2 s01 = {0.0, 0.0}, s23 = s01, s45 = s01, s67 = s01;
      double s8 = 0.0;
      for (; p != e; ++p) {
        const double* xv = x + p->col0;
        const double* v = p->values;
        const V2 x01 = load(xv), x12 = load(xv + 1);
        const V2 x20 = __builtin_shufflevector(x12, x01, 1, 2);
        s01 += load(v) * x01;
        s23 += load(v + 2) * x20;
        s45 += load(v + 4) * x12;
        s67 += load(v + 6) * x01;
        s8 += v[8] * xv[2];
      }
      y[0] = s01[0] + s01[1] + s23[0];
      y[1] = s23[1] + s45[0] + s45[1];
      y[2] = s67[0] + s67[1] + s8;
    } else {
      V2 s01 = {0.0, 0.0}, s23 = s01;
      for (; p != e; ++p) {
        const V2 x01 = load(x + p->col0);
        s01 += load(p->values) * x01;
        s23 += load(p->values + 2) * x01;
      }
      y[0] = s01[0] + s01[1];
      y[1] = s23[0] + s23[1];
    }
    return;
  }
#endif
  T s[NN] = {};
  for (; p != e; ++p)
    for (int q = 0; q < NN; ++q) s[q] += p->values[q] * x[p->col0 + q % BS];
  for (int k = 0; k < BS; ++k) {
    T r = s[k * BS];
    for (int c = 1; c < BS; ++c) r += s[k * BS + c];
    y[k] = r;
  }
}

extern template class BlockMatrix<double, 2>;
extern template class BlockMatrix<double, 3>;
