#pragma once
// Shared steps of the simulation's cache files: a checked commit of a write,
// and a block record read that refuses a wrong shape before the reader sees
// it.

#include <iostream>
#include <memory>
#include <string>

#include "AtomicFile.h"
#include "BinaryIO.h"
#include "BlockMatrix.h"
#include "PackedMatrix.h"

namespace zolt::cache {

// Checks a cache written into `file` and renames it into place; when any
// write failed, reports it, and no partial cache is left. True when the
// cache was written; false, quietly, for a file that never opened.
inline bool commit(AtomicFile& file, const char* who) {
  if (!file.is_open()) return false;  // nothing written; the opener reported it
  if (file.commit()) return true;
  std::cout << "[" << who << "] Error: Could not write the cache file \"" << file.path()
            << "\"; it is removed." << std::endl;
  return false;
}

// The next record as an n x n block matrix, or null when the record is bad
// or has another shape (the reader would stop the program on a record of
// the other block size, so the shape is checked first).
template <int BS>
std::unique_ptr<BlockMatrix<double, BS>> readBlockRecord(std::istream& f, int n) {
  using namespace zolt::bin;
  const std::istream::pos_type at = f.tellg();
  uint8_t sym;
  int32_t rows, cols, blockRows, blockCols;
  const bool shape = readU8(f, sym) && readI32(f, rows) && readI32(f, cols) &&
                     readI32(f, blockRows) && readI32(f, blockCols) && rows == n && cols == n &&
                     blockRows == n / BS && blockCols == n / BS && n % BS == 0;
  if (!shape || !f.seekg(at)) return nullptr;
  auto A = std::make_unique<BlockMatrix<double, BS>>(0, 0);
  if (!A->readFromFile(f)) return nullptr;
  return A;
}

// True when every entry of B falls in a block of A, so that adding B to A
// finds each target; columns are walked in order as the addition does.
template <int BS>
bool patternWithin(const BlockMatrix<double, BS>& A, const PackedMatrix<double>& B) {
  if (B.nRow > A.nBlockRows * BS) return false;
  using Block = typename BlockMatrix<double, BS>::Block;
  for (int i = 0; i < B.nRow; ++i) {
    const Block* first = A.rowStart[i / BS];
    const Block* const last = A.rowStart[i / BS + 1];
    const Block* p = first;
    const MatrixEntry<double>* e = B.rowStart[i];
    for (int k = 0; k < B.rowLen[i]; ++k) {
      const int j = e[k].col;
      if (j < 0 || j >= A.nCol) return false;
      const int c0 = j - j % BS;
      if (p == last || p->col0 > c0) p = first;
      while (p != last && p->col0 < c0) ++p;
      if (p == last || p->col0 != c0) return false;
    }
  }
  return true;
}

}  // namespace zolt::cache
