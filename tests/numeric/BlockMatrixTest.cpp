#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <sstream>
#include <streambuf>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "BlockMatrix.h"
#include "FullMatrix.h"
#include "PackedMatrix.h"
#include "ProgressBar.h"
#include "RecordBytes.h"
#include "SparseMatrix.h"

using zolt::test::PipeBuf;

namespace {

template <int N>
using BM = BlockMatrix<double, N>;

// Plain row-major reference matrix.
struct Dense {
  int rows, cols;
  std::vector<double> a;
  Dense(int r, int c) : rows(r), cols(c), a(static_cast<size_t>(r) * c, 0.0) {}
  double& operator()(int i, int j) { return a[static_cast<size_t>(i) * cols + j]; }
  double operator()(int i, int j) const { return a[static_cast<size_t>(i) * cols + j]; }
};

template <int N>
struct Sample {
  std::unique_ptr<BM<N>> m;
  Dense d;
};

// A frozen random block matrix of nbr x nbc blocks and its dense copy. Block
// rows listed in `emptyRows` hold no block; every other block is present with
// probability `density`; the diagonal blocks are present when `withDiagonal`.
// Blocks are inserted in shuffled order.
template <int N>
Sample<N> randomSample(std::mt19937& rng, int nbr, int nbc, double density,
                       const std::vector<int>& emptyRows = {}, bool withDiagonal = false) {
  Sample<N> s{std::make_unique<BM<N>>(nbr * N, nbc * N), Dense(nbr * N, nbc * N)};
  std::uniform_real_distribution<double> val(-1.0, 1.0), coin(0.0, 1.0);
  std::vector<std::pair<int, int>> pos;
  for (int r = 0; r < nbr; ++r) {
    if (std::find(emptyRows.begin(), emptyRows.end(), r) != emptyRows.end()) continue;
    for (int c = 0; c < nbc; ++c)
      if ((withDiagonal && r == c) || coin(rng) < density) pos.emplace_back(r, c);
  }
  std::shuffle(pos.begin(), pos.end(), rng);
  for (auto [r, c] : pos) {
    double v[N * N];
    for (int k = 0; k < N * N; ++k) v[k] = (k % 4 == 3) ? 0.0 : val(rng);
    s.m->addElemBlock(r * N, c * N, v);
    for (int k = 0; k < N * N; ++k) s.d(r * N + k / N, c * N + k % N) += v[k];
  }
  s.m->buildDataStructs();
  return s;
}

void fillVector(std::mt19937& rng, Vector<double>& v) {
  std::uniform_real_distribution<double> val(-1.0, 1.0);
  for (int i = 0; i < v.n; ++i) v[i] = val(rng);
}

void fillFull(std::mt19937& rng, FullMatrix<double>& m, double zeroShare = 0.3) {
  std::uniform_real_distribution<double> val(-1.0, 1.0), coin(0.0, 1.0);
  for (int i = 0; i < m.nRow; ++i)
    for (int j = 0; j < m.nCol; ++j) m.setElem(i, j, coin(rng) < zeroShare ? 0.0 : val(rng));
}

// Packed matrix of rows x cols with random entries; rows in `emptyRows` stay
// empty. Returns it with its dense copy.
std::pair<std::unique_ptr<PackedMatrix<double>>, Dense> randomPacked(
    std::mt19937& rng, int rows, int cols, double density, const std::vector<int>& emptyRows) {
  SparseMatrix<double> S(rows, cols);
  Dense d(rows, cols);
  std::uniform_real_distribution<double> val(-1.0, 1.0), coin(0.0, 1.0);
  for (int i = 0; i < rows; ++i) {
    if (std::find(emptyRows.begin(), emptyRows.end(), i) != emptyRows.end()) continue;
    for (int j = cols - 1; j >= 0; --j)
      if (coin(rng) < density) {
        double v = val(rng);
        S.setElem(i, j, v);
        d(i, j) = v;
      }
  }
  return {std::make_unique<PackedMatrix<double>>(S), d};
}

// Little-endian record bytes written by hand from the field list.
struct Bytes {
  std::string s;
  void u8(unsigned v) { s.push_back(static_cast<char>(v)); }
  void i32(int32_t v) {
    uint32_t u = static_cast<uint32_t>(v);
    for (int k = 0; k < 4; ++k) s.push_back(static_cast<char>((u >> (8 * k)) & 0xff));
  }
  void f64(double v) {
    uint64_t u;
    std::memcpy(&u, &v, 8);
    for (int k = 0; k < 8; ++k) s.push_back(static_cast<char>((u >> (8 * k)) & 0xff));
  }
};

// A block record with the given header and blocks whose values are k + 1.
template <int N>
std::string blockRecord(unsigned sym, int rows, int cols, int bRows, int bCols, int count,
                        const std::vector<std::pair<int, int>>& positions) {
  Bytes b;
  b.u8(sym);
  b.i32(rows);
  b.i32(cols);
  b.i32(bRows);
  b.i32(bCols);
  b.i32(count);
  for (auto [r0, c0] : positions) {
    b.i32(r0);
    b.i32(c0);
    for (int k = 0; k < N * N; ++k) b.f64(k + 1.0);
  }
  return b.s;
}

template <int N>
std::string validRecord(int nbr, int nbc, const std::vector<std::pair<int, int>>& positions) {
  return blockRecord<N>(0, nbr * N, nbc * N, nbr, nbc, static_cast<int>(positions.size()),
                        positions);
}

template <int N>
void expectEmpty(const BM<N>& m) {
  EXPECT_EQ(m.nRow, 0);
  EXPECT_EQ(m.nCol, 0);
  EXPECT_FALSE(m.symmetric);
  EXPECT_EQ(m.nBlockRows, 0);
  EXPECT_EQ(m.nBlockCols, 0);
  EXPECT_TRUE(m.blocks.empty());
  EXPECT_TRUE(m.frozen());
}

template <int N>
void expectBitIdentical(const BM<N>& a, const BM<N>& b) {
  EXPECT_EQ(a.symmetric, b.symmetric);
  EXPECT_EQ(a.nRow, b.nRow);
  EXPECT_EQ(a.nCol, b.nCol);
  EXPECT_EQ(a.nBlockRows, b.nBlockRows);
  EXPECT_EQ(a.nBlockCols, b.nBlockCols);
  ASSERT_EQ(a.blocks.size(), b.blocks.size());
  for (size_t k = 0; k < a.blocks.size(); ++k) {
    EXPECT_EQ(a.blocks[k].row0, b.blocks[k].row0);
    EXPECT_EQ(a.blocks[k].col0, b.blocks[k].col0);
    EXPECT_EQ(0, std::memcmp(a.blocks[k].values, b.blocks[k].values, sizeof(double) * N * N));
  }
}

template <int N>
void expectMatchesDense(const BM<N>& m, const Dense& d, double tol = 0.0) {
  ASSERT_EQ(m.nRow, d.rows);
  ASSERT_EQ(m.nCol, d.cols);
  for (int i = 0; i < d.rows; ++i)
    for (int j = 0; j < d.cols; ++j) EXPECT_NEAR(m(i, j), d(i, j), tol) << i << "," << j;
}

double maxRelDiff(const double* a, const double* b, int n) {
  double m = 0;
  for (int i = 0; i < n; ++i)
    m = std::max(m, std::fabs(a[i] - b[i]) / std::max(1.0, std::fabs(b[i])));
  return m;
}

// Escapes a literal text for a death-test regular expression.
std::string literal(const std::string& text) {
  std::string r = "^";
  for (char ch : text) {
    if (std::strchr("\\^$.|?*+()[]{}", ch)) r.push_back('\\');
    r.push_back(ch);
  }
  return r + "\n$";
}

// In a death test child: standard output goes where the death test looks,
// standard error is discarded, so a match proves the text went to stdout.
template <class F>
void onStdoutOnly(F f) {
  std::fflush(nullptr);
  int err = dup(2);
  dup2(err, 1);
  int devnull = open("/dev/null", O_WRONLY);
  dup2(devnull, 2);
  f();
}

using BlockSizes = ::testing::Types<std::integral_constant<int, 2>, std::integral_constant<int, 3>>;

}  // namespace

// ------------------------------------------------------------------ record

template <class P>
class BlockMatrixRecord : public ::testing::Test {};
TYPED_TEST_SUITE(BlockMatrixRecord, BlockSizes);

TYPED_TEST(BlockMatrixRecord, OneBlockMatchesHandWrittenBytes) {
  constexpr int N = TypeParam::value;
  BM<N> m(2 * N + 1, 3 * N);  // a partial trailing row does not count as a block row
  double v[N * N];
  for (int k = 0; k < N * N; ++k) v[k] = k + 1.0;
  m.addElemBlock(N, 2 * N, v);
  m.buildDataStructs();
  m.symmetric = true;
  std::stringstream s;
  m.writeToFile(s);

  Bytes b;
  b.u8(1);
  b.i32(2 * N + 1);
  b.i32(3 * N);
  b.i32(2);
  b.i32(3);
  b.i32(1);
  b.i32(N);
  b.i32(2 * N);
  for (int k = 0; k < N * N; ++k) b.f64(k + 1.0);
  EXPECT_EQ(s.str(), b.s);
  EXPECT_EQ(s.str().size(), 21u + (N == 2 ? 40u : 80u));
}

TYPED_TEST(BlockMatrixRecord, EmptyMatrixIsHeaderOnlyAndReadsAsZero) {
  constexpr int N = TypeParam::value;
  BM<N> m(4 * N, 2 * N);
  m.buildDataStructs();
  std::stringstream s;
  m.writeToFile(s);
  ASSERT_EQ(s.str().size(), 21u);
  BM<N> r(s);
  ASSERT_FALSE(s.fail());
  EXPECT_EQ(r.nRow, 4 * N);
  EXPECT_EQ(r.nCol, 2 * N);
  EXPECT_TRUE(r.blocks.empty());
  Vector<double> x(2 * N), y(4 * N);
  for (int i = 0; i < y.n; ++i) y[i] = 9.0;
  r.mult(x, y);
  for (int i = 0; i < 4 * N; ++i)
    for (int j = 0; j < 2 * N; ++j) EXPECT_EQ(r(i, j), 0.0);
  for (int i = 0; i < y.n; ++i) EXPECT_EQ(y[i], 0.0);
}

TYPED_TEST(BlockMatrixRecord, RoundTripIsBitExactAndStopsAtRecordEnd) {
  constexpr int N = TypeParam::value;
  std::mt19937 rng(11);
  auto a = randomSample<N>(rng, 6, 5, 0.4, {0, 3});
  auto b = randomSample<N>(rng, 3, 7, 0.5);
  a.m->symmetric = true;
  // Values that must survive untouched.
  BM<N>& m = *a.m;
  ASSERT_FALSE(m.blocks.empty());
  double* v = m.blocks.front().values;
  v[0] = -0.0;
  v[1] = std::numeric_limits<double>::denorm_min();
  v[N] = std::numeric_limits<double>::infinity();
  uint64_t payload = 0x7ff8000000012345ull;
  std::memcpy(&v[N + 1], &payload, 8);

  std::stringstream s;
  a.m->writeToFile(s);
  b.m->writeToFile(s);
  const std::string bytes = s.str();

  BM<N> ra(s);
  ASSERT_FALSE(s.fail());
  BM<N> rb(s);
  ASSERT_FALSE(s.fail());
  EXPECT_EQ(s.peek(), std::char_traits<char>::eof());
  expectBitIdentical(ra, *a.m);
  expectBitIdentical(rb, *b.m);

  std::stringstream again;
  ra.writeToFile(again);
  rb.writeToFile(again);
  EXPECT_EQ(again.str(), bytes);
}

TYPED_TEST(BlockMatrixRecord, ReadFromFileAloneGivesAUsableMatrix) {
  constexpr int N = TypeParam::value;
  std::mt19937 rng(12);
  auto a = randomSample<N>(rng, 5, 4, 0.5, {2});
  std::stringstream s;
  a.m->writeToFile(s);

  BM<N> r(7, 7);  // a build-phase matrix is replaced as a whole
  r.setElem(0, 0, 1.0);
  ASSERT_TRUE(r.readFromFile(s));
  EXPECT_TRUE(r.frozen());
  ASSERT_NE(r.rowStart, nullptr);

  testing::internal::CaptureStdout();
  expectMatchesDense(r, a.d);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");

  Vector<double> x(a.d.cols), y(a.d.rows);
  fillVector(rng, x);
  r.mult(x, y);
  for (int i = 0; i < a.d.rows; ++i) {
    double ref = 0;
    for (int j = 0; j < a.d.cols; ++j) ref += a.d(i, j) * x[j];
    EXPECT_NEAR(y[i], ref, 1e-12);
  }
  // Column chains were built as well.
  for (const auto& blk : r.blocks)
    if (blk.nextInColumn) {
      EXPECT_EQ(blk.nextInColumn->col0, blk.col0);
    }
}

TYPED_TEST(BlockMatrixRecord, EveryTruncationIsRejected) {
  constexpr int N = TypeParam::value;
  const std::string full = validRecord<N>(3, 3, {{0, 0}, {0, 2 * N}, {2 * N, N}});
  for (size_t len = 0; len < full.size(); ++len) {
    SCOPED_TRACE(len);
    std::stringstream s(full.substr(0, len));
    BM<N> m(0, 0);
    EXPECT_FALSE(m.readFromFile(s));
    expectEmpty(m);

    std::stringstream s2(full.substr(0, len));
    BM<N> c(s2);
    EXPECT_TRUE(s2.fail());
    expectEmpty(c);

    PipeBuf pipe(full.substr(0, len));
    std::istream p(&pipe);
    BM<N> cp(p);
    EXPECT_TRUE(p.fail());
    expectEmpty(cp);
  }
  std::stringstream s(full);
  BM<N> ok(s);
  EXPECT_FALSE(s.fail());
  EXPECT_EQ(ok.blocks.size(), 3u);
}

TYPED_TEST(BlockMatrixRecord, BadBlockCountsAreRejected) {
  constexpr int N = TypeParam::value;
  const std::vector<std::pair<int, int>> two = {{0, 0}, {N, N}};
  auto rejected = [](const std::string& rec) {
    std::stringstream s(rec);
    BM<N> m(0, 0);
    bool ok = m.readFromFile(s);
    if (!ok) expectEmpty(m);
    return !ok;
  };
  EXPECT_TRUE(rejected(blockRecord<N>(0, 2 * N, 2 * N, 2, 2, -1, two)));
  EXPECT_TRUE(rejected(blockRecord<N>(0, 2 * N, 2 * N, 2, 2, 3, two)));  // more than the bytes
  // More blocks than block positions, even with the bytes present.
  EXPECT_TRUE(rejected(blockRecord<N>(0, N, N, 1, 1, 2, {{0, 0}, {0, 0}})));
  EXPECT_FALSE(rejected(blockRecord<N>(0, 2 * N, 2 * N, 2, 2, 2, two)));
  // A count below the blocks present reads only that many.
  std::stringstream s(blockRecord<N>(0, 2 * N, 2 * N, 2, 2, 1, two));
  BM<N> m(s);
  EXPECT_FALSE(s.fail());
  EXPECT_EQ(m.blocks.size(), 1u);

  // A stream that cannot tell its length: a huge count fails at the first
  // missing block instead of being trusted.
  PipeBuf pipe(blockRecord<N>(0, N * 50000, N * 50000, 50000, 50000, 2000000000, two));
  std::istream p(&pipe);
  BM<N> huge(p);
  EXPECT_TRUE(p.fail());
  expectEmpty(huge);
}

TYPED_TEST(BlockMatrixRecord, BadHeaderAndBlockPositionsAreRejected) {
  constexpr int N = TypeParam::value;
  auto rejected = [](const std::string& rec) {
    std::stringstream s(rec);
    BM<N> m(s);
    if (s.fail()) expectEmpty(m);
    return s.fail();
  };
  auto rec = [](std::vector<std::pair<int, int>> pos) { return validRecord<N>(3, 2, pos); };
  EXPECT_FALSE(rejected(rec({{0, 0}, {0, N}, {2 * N, 0}})));
  EXPECT_TRUE(rejected(rec({{1, 0}})));                           // row0 misaligned
  EXPECT_TRUE(rejected(rec({{0, N - 1}})));                       // col0 misaligned
  EXPECT_TRUE(rejected(rec({{3 * N, 0}})));                       // row0 past the block rows
  EXPECT_TRUE(rejected(rec({{0, 2 * N}})));                       // col0 past the block columns
  EXPECT_TRUE(rejected(rec({{-N, 0}})));                          // negative row0
  EXPECT_TRUE(rejected(rec({{0, -N}})));                          // negative col0
  EXPECT_TRUE(rejected(rec({{N, 0}, {0, N}})));                   // rows descending
  EXPECT_TRUE(rejected(rec({{0, N}, {0, 0}})));                   // columns descending
  EXPECT_TRUE(rejected(rec({{N, N}, {N, N}})));                   // duplicate
  EXPECT_TRUE(rejected(blockRecord<N>(2, N, N, 1, 1, 0, {})));    // symmetric byte not 0/1
  EXPECT_TRUE(rejected(blockRecord<N>(0, -N, N, -1, 1, 0, {})));  // negative dimension
  EXPECT_TRUE(rejected(blockRecord<N>(0, N, -N, 1, -1, 0, {})));
}

TYPED_TEST(BlockMatrixRecord, BadRecordEmptiesAFilledMatrix) {
  constexpr int N = TypeParam::value;
  std::mt19937 rng(13);
  auto a = randomSample<N>(rng, 3, 3, 0.8);
  std::stringstream bad(validRecord<N>(2, 2, {{N, 0}, {0, 0}}));
  EXPECT_FALSE(a.m->readFromFile(bad));
  expectEmpty(*a.m);
  Vector<double> x(1), y(1);
  y[0] = 5.0;
  a.m->mult(x, y);  // no block rows: nothing to do, no crash
  EXPECT_EQ(y[0], 5.0);
}

// In a child process: lets the address space grow by at most 256 MB beyond
// what is mapped now, then exits 0 when read() returns true, 1 when false;
// a failed allocation kills the child.
template <class Read>
[[noreturn]] void exitWithReadUnderMemoryLimit(Read read) {
  long pages = 0;
  if (FILE* f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%ld", &pages) != 1) pages = 0;
    std::fclose(f);
  }
  if (pages <= 0) std::_Exit(3);
  const rlim_t limit = static_cast<rlim_t>(pages) * sysconf(_SC_PAGESIZE) + (rlim_t(256) << 20);
  const rlimit r{limit, limit};
  if (setrlimit(RLIMIT_AS, &r) != 0) std::_Exit(4);
  std::_Exit(read() ? 0 : 1);
}

TYPED_TEST(BlockMatrixRecord, DimensionsBeyondTheBlocksAreRefusedWithoutAllocating) {
  constexpr int N = TypeParam::value;
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const int big = std::numeric_limits<int32_t>::max();
  struct Row {
    int rows, cols, count;
    bool accepted;
  };
  // Tables of 2^31 / N pointers are gigabytes; the header alone is 21 bytes.
  const Row table[] = {
      {big, big, 0, false},
      {big, N, 0, false},
      {N, big, 0, false},
      {N * 40000, N * 40000, 2, false},  // 80000 lines for two blocks
      {N * 30000, N * 30000, 0, true},   // within the allowance of an empty matrix
      {N * 40000, N * 40000, 2000, true},
  };
  for (const Row& row : table) {
    SCOPED_TRACE(testing::Message() << row.rows << " x " << row.cols << ", " << row.count);
    std::vector<std::pair<int, int>> pos;
    for (int k = 0; k < row.count; ++k) pos.emplace_back(N * k, 0);
    const std::string rec =
        blockRecord<N>(0, row.rows, row.cols, row.rows / N, row.cols / N, row.count, pos);
    const auto exit = ::testing::ExitedWithCode(row.accepted ? 0 : 1);
    EXPECT_EXIT(exitWithReadUnderMemoryLimit([&] {
                  std::stringstream s(rec);
                  BM<N> m(s);
                  return !s.fail() && m.nRow == row.rows && m.blocks.size() == pos.size();
                }),
                exit, "");
    EXPECT_EXIT(exitWithReadUnderMemoryLimit([&] {
                  PipeBuf pipe(rec);
                  std::istream p(&pipe);
                  BM<N> m(0, 0);
                  const bool ok = m.readFromFile(p);
                  if (!ok && (m.nRow != 0 || !m.blocks.empty())) std::_Exit(2);
                  return ok;
                }),
                exit, "");
  }
}

// ------------------------------------------------------------- stops

TEST(BlockMatrixDeathTest, RecordOfTheOtherBlockSizeStops) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  BM<3> m3(6, 6);
  m3.setElem(0, 0, 1.0);
  m3.buildDataStructs();
  std::stringstream s3;
  m3.writeToFile(s3);
  BM<2> m2(4, 4);
  m2.setElem(0, 0, 1.0);
  m2.buildDataStructs();
  std::stringstream s2;
  m2.writeToFile(s2);
  const std::string msg = literal("[BlockMatrix, readFromFile] Error: Blocksize has changed!");
  EXPECT_DEATH(onStdoutOnly([&] { BM<2> r(s3); }), msg);
  EXPECT_DEATH(onStdoutOnly([&] {
                 BM<3> r(0, 0);
                 r.readFromFile(s2);
               }),
               msg);
  // Only the column count disagrees.
  std::string rec = blockRecord<2>(0, 4, 6, 2, 2, 0, {});
  EXPECT_DEATH(onStdoutOnly([&] {
                 std::stringstream s(rec);
                 BM<2> r(s);
               }),
               msg);
}

TEST(BlockMatrixDeathTest, FrozenWritesOutsideThePatternStop) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  BM<3> m(9, 9);
  m.setElem(0, 0, 1.0);
  m.setElem(4, 7, 2.0);
  m.buildDataStructs();
  double v[9] = {};
  EXPECT_DEATH(onStdoutOnly([&] { m.setElem(1, 4, 1.0); }),
               literal("[BlockMatrix, setElem] Error: Initialization completed! Cannot add "
                       "inexistent elements!"));
  EXPECT_DEATH(onStdoutOnly([&] { m.addElem(8, 8, 0.0); }),
               literal("[BlockMatrix, addElem] Error: Initialization completed! Cannot add "
                       "inexistent elements!"));
  EXPECT_DEATH(onStdoutOnly([&] { m.addElemBlock(6, 0, v); }),
               literal("[BlockMatrix, addElemBlock] Error: Initialization completed! Cannot add "
                       "elements!"));
  // The same positions inside stored blocks are fine.
  m.setElem(2, 1, 0.0);
  m.addElem(5, 8, 1.0);
  m.addElemBlock(4, 7, v);
  EXPECT_EQ(m(5, 8), 1.0);
}

TEST(BlockMatrixDeathTest, ImplicitFreezeByReadIsFinal) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  BM<2> m(4, 4);
  m.setElem(0, 0, 1.0);
  testing::internal::CaptureStdout();
  EXPECT_EQ(m(0, 0), 1.0);
  testing::internal::GetCapturedStdout();
  EXPECT_DEATH(onStdoutOnly([&] { m.setElem(3, 3, 1.0); }),
               literal("[BlockMatrix, setElem] Error: Initialization completed! Cannot add "
                       "inexistent elements!"));
}

TEST(BlockMatrixDeathTest, WritingInTheBuildPhaseStops) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  BM<3> m(3, 3);
  m.setElem(0, 0, 1.0);
  EXPECT_DEATH(onStdoutOnly([&] {
                 std::stringstream s;
                 m.writeToFile(s);
               }),
               literal("[BlockMatrix, writeToFile] Error: write file before building data "
                       "structs !"));
}

// ------------------------------------------------------ build and freeze

template <class P>
class BlockMatrixBuild : public ::testing::Test {};
TYPED_TEST_SUITE(BlockMatrixBuild, BlockSizes);

TYPED_TEST(BlockMatrixBuild, ZeroWritesCreateNothingUntilFrozen) {
  constexpr int N = TypeParam::value;
  BM<N> m(4 * N, 4 * N);
  m.setElem(1, 2, 5.0);
  m.setElem(1, 2, 0.0);  // ignored in the build phase
  m.setElem(1, 2, std::nan(""));
  m.setElem(2 * N, 0, 0.0);
  m.addElem(3 * N, 3 * N, 0.0);
  m.setElem(2 * N + 1, 3 * N, std::nan(""));
  ASSERT_EQ(m.buildMap->size(), 1u);
  m.buildDataStructs();
  ASSERT_EQ(m.blocks.size(), 1u);
  EXPECT_EQ(m(1, 2), 5.0);

  m.setElem(1, 2, 0.0);  // frozen: written
  EXPECT_EQ(m(1, 2), 0.0);
  const int col0 = 2 - 2 % N;  // the stored block
  m.addElem(0, col0, 0.0);
  m.addElem(N - 1, col0 + N - 1, 2.5);
  m.addElem(N - 1, col0 + N - 1, 2.5);
  EXPECT_EQ(m(N - 1, col0 + N - 1), 5.0);
  EXPECT_EQ(m.blocks.size(), 1u);
}

TYPED_TEST(BlockMatrixBuild, ElementWritesAndBlockAddsAccumulate) {
  constexpr int N = TypeParam::value;
  BM<N> m(3 * N, 3 * N);
  double v[N * N];
  for (int k = 0; k < N * N; ++k) v[k] = k + 1.0;
  m.addElemBlock(N, 2 * N, v);
  m.addElemBlock(N, 2 * N, v);
  m.addElem(N, 2 * N + 1, 0.5);
  m.setElem(N, 2 * N, -1.0);  // replaces
  m.addElemBlock(0, 0, v);
  m.buildDataStructs();
  ASSERT_EQ(m.blocks.size(), 2u);
  EXPECT_EQ(m(N, 2 * N), -1.0);
  EXPECT_EQ(m(N, 2 * N + 1), 4.5);
  EXPECT_EQ(m(N + N - 1, 2 * N + N - 1), 2.0 * N * N);
  m.addElemBlock(N + 1, 2 * N + N - 1, v);  // frozen: any position inside the block
  EXPECT_EQ(m(N, 2 * N), 0.0);
  EXPECT_EQ(m(N, 2 * N + 1), 6.5);
  EXPECT_EQ(m(N + N - 1, 2 * N + N - 1), 3.0 * N * N);
  EXPECT_EQ(m(2 * N, 0), 0.0);
}

TYPED_TEST(BlockMatrixBuild, ReadBeforeFreezeWarnsOnceAndFreezes) {
  constexpr int N = TypeParam::value;
  BM<N> m(2 * N, 2 * N);
  m.setElem(N, 0, 3.0);
  testing::internal::CaptureStdout();
  EXPECT_EQ(m(N, 0), 3.0);
  EXPECT_EQ(m(0, 0), 0.0);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out,
            "[BlockMatrix, operator()] Warning: Used without building data structs!\n"
            "                          Building data structs ...\n");
  EXPECT_TRUE(m.frozen());
  EXPECT_EQ(m.blocks.size(), 1u);
}

TYPED_TEST(BlockMatrixBuild, FreezeSortsBlocksAndIndexesRowsAndColumns) {
  constexpr int N = TypeParam::value;
  std::mt19937 rng(21);
  for (int rep = 0; rep < 5; ++rep) {
    auto s = randomSample<N>(rng, 9, 7, 0.35, {0, 3, 4, 8});
    BM<N>& m = *s.m;
    ASSERT_EQ(m.nBlockRows, 9);
    ASSERT_EQ(m.nBlockCols, 7);
    for (size_t k = 1; k < m.blocks.size(); ++k)
      EXPECT_TRUE(std::make_pair(m.blocks[k - 1].row0, m.blocks[k - 1].col0) <
                  std::make_pair(m.blocks[k].row0, m.blocks[k].col0));
    // Each block row's range holds exactly its blocks.
    const auto* base = m.blocks.data();
    EXPECT_EQ(m.rowStart[9], base + m.blocks.size());
    for (int r = 0; r < 9; ++r) {
      size_t expected = 0;
      for (const auto& b : m.blocks) expected += b.row0 == r * N;
      ASSERT_LE(m.rowStart[r], m.rowStart[r + 1]);
      EXPECT_EQ(static_cast<size_t>(m.rowStart[r + 1] - m.rowStart[r]), expected) << r;
      for (auto* p = m.rowStart[r]; p != m.rowStart[r + 1]; ++p) EXPECT_EQ(p->row0, r * N);
    }
    // Each block column is one chain in ascending rows, headed by its first block.
    for (int c = 0; c < 7; ++c) {
      std::vector<const typename BM<N>::Block*> col;
      for (const auto& b : m.blocks)
        if (b.col0 == c * N) col.push_back(&b);
      if (col.empty()) continue;
      const typename BM<N>::Block* p = col.front();
      for (size_t k = 0; k < col.size(); ++k) {
        ASSERT_EQ(p, col[k]);
        p = p->nextInColumn;
      }
      EXPECT_EQ(p, nullptr);
      EXPECT_EQ(m.colTable[c], col[col.size() > 1 ? col.size() - 2 : 0]);
    }
    expectMatchesDense(m, s.d);
    for (const auto& b : m.blocks) EXPECT_EQ(m.findBlock(b.row0 + N - 1, b.col0 + N - 1), &b);
    const auto* before = m.blocks.data();
    m.buildDataStructs();  // already frozen: nothing changes
    EXPECT_EQ(m.blocks.data(), before);
  }
}

// Blocks made elsewhere freeze into the same matrix as the map would give:
// same blocks, row ranges, column chains and products.
TYPED_TEST(BlockMatrixBuild, FreezeWithSortedBlocksEqualsTheMapFreeze) {
  constexpr int N = TypeParam::value;
  std::mt19937 rng(22);
  auto s = randomSample<N>(rng, 9, 7, 0.35, {0, 3, 4, 8});
  BM<N> m(9 * N, 7 * N);
  m.freezeWith(std::vector<typename BM<N>::Block>(s.m->blocks));
  expectBitIdentical(m, *s.m);
  for (int r = 0; r <= 9; ++r)
    EXPECT_EQ(m.rowStart[r] - m.blocks.data(), s.m->rowStart[r] - s.m->blocks.data());
  for (size_t k = 0; k < m.blocks.size(); ++k) {
    const auto* next = s.m->blocks[k].nextInColumn;
    EXPECT_EQ(m.blocks[k].nextInColumn ? m.blocks[k].nextInColumn - m.blocks.data() : -1,
              next ? next - s.m->blocks.data() : -1);
  }
  Vector<double> x(7 * N), y(9 * N);
  fillVector(rng, x);
  m.mult(x, y);
  for (int i = 0; i < 9 * N; ++i) {
    double ref = 0;
    for (int j = 0; j < 7 * N; ++j) ref += s.d(i, j) * x[j];
    EXPECT_NEAR(y[i], ref, 1e-12);
  }
}

TEST(BlockMatrixDeathTest, FreezeWithUnsortedBlocksStops) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  std::vector<BM<3>::Block> blocks(2);
  blocks[0].row0 = 3;
  blocks[1].row0 = 0;
  BM<3> m(6, 6);
  EXPECT_DEATH(m.freezeWith(std::move(blocks)), "Assertion `k == 0");
}

// ------------------------------------------------ operations vs dense

template <class P>
class BlockMatrixOps : public ::testing::Test {};
TYPED_TEST_SUITE(BlockMatrixOps, BlockSizes);

TYPED_TEST(BlockMatrixOps, VectorKernelsMatchDense) {
  constexpr int N = TypeParam::value;
  std::mt19937 rng(32);
  for (int rep = 0; rep < 4; ++rep) {
    auto s = randomSample<N>(rng, 7, 5, 0.4, {2, 6});
    const Dense& d = s.d;
    Vector<double> x(d.cols), xt(d.rows), b(d.rows), y(d.rows), yt(d.cols + 2), r(d.rows);
    fillVector(rng, x);
    fillVector(rng, xt);
    fillVector(rng, b);
    for (int i = 0; i < y.n; ++i) y[i] = 77.0;
    for (int i = 0; i < yt.n; ++i) yt[i] = 77.0;
    s.m->mult(x, y);
    s.m->multTransposed(xt, yt);
    s.m->residuum(x, b, r);
    double sqr = s.m->residuumSqrSum(x, b);
    double refSqr = 0;
    for (int i = 0; i < d.rows; ++i) {
      double ax = 0;
      for (int j = 0; j < d.cols; ++j) ax += d(i, j) * x[j];
      EXPECT_NEAR(y[i], ax, 1e-13);
      EXPECT_NEAR(r[i], b[i] - ax, 1e-13);
      refSqr += (b[i] - ax) * (b[i] - ax);
    }
    EXPECT_NEAR(sqr, refSqr, 1e-12 * std::max(1.0, refSqr));
    for (int j = 0; j < d.cols; ++j) {
      double atx = 0;
      for (int i = 0; i < d.rows; ++i) atx += d(i, j) * xt[i];
      EXPECT_NEAR(yt[j], atx, 1e-13);
    }
    EXPECT_EQ(yt[d.cols], 0.0);  // zeroed over its whole length
    EXPECT_EQ(yt[d.cols + 1], 0.0);
  }
}

TYPED_TEST(BlockMatrixOps, MatrixProductsMatchDense) {
  constexpr int N = TypeParam::value;
  std::mt19937 rng(33);
  auto s = randomSample<N>(rng, 4, 3, 0.5, {1});
  const Dense& a = s.d;
  const int R = a.rows, C = a.cols, m = 5;
  auto check = [&](const FullMatrix<double>& got, auto ref) {
    for (int i = 0; i < got.nRow; ++i)
      for (int j = 0; j < got.nCol; ++j) EXPECT_NEAR(got(i, j), ref(i, j), 1e-13) << i << "," << j;
  };
  auto prefill = [](FullMatrix<double>& c) {
    for (int i = 0; i < c.nRow; ++i)
      for (int j = 0; j < c.nCol; ++j) c.setElem(i, j, 99.0);
  };
  {  // C = B A
    FullMatrix<double> B(m, R), Cm(m, C);
    fillFull(rng, B);
    prefill(Cm);
    s.m->mult_m_left(B, Cm);
    check(Cm, [&](int i, int j) {
      double t = 0;
      for (int k = 0; k < R; ++k) t += B(i, k) * a(k, j);
      return t;
    });
  }
  {  // C = B^T A
    FullMatrix<double> B(R, m), Cm(m, C);
    fillFull(rng, B);
    prefill(Cm);
    s.m->mult_m_transpose_left(B, Cm);
    check(Cm, [&](int i, int j) {
      double t = 0;
      for (int k = 0; k < R; ++k) t += B(k, i) * a(k, j);
      return t;
    });
  }
  {  // C = A B
    FullMatrix<double> B(C, m), Cm(R, m);
    fillFull(rng, B);
    prefill(Cm);
    s.m->mult_m_right(B, Cm);
    check(Cm, [&](int i, int j) {
      double t = 0;
      for (int k = 0; k < C; ++k) t += a(i, k) * B(k, j);
      return t;
    });
  }
  {  // C = A B^T
    FullMatrix<double> B(m, C), Cm(R, m);
    fillFull(rng, B);
    prefill(Cm);
    s.m->mult_m_transpose_right(B, Cm);
    check(Cm, [&](int i, int j) {
      double t = 0;
      for (int k = 0; k < C; ++k) t += a(i, k) * B(j, k);
      return t;
    });
  }
}

TYPED_TEST(BlockMatrixOps, ValueOperationsMatchDense) {
  constexpr int N = TypeParam::value;
  std::mt19937 rng(34);
  auto s = randomSample<N>(rng, 5, 6, 0.4, {3});
  BM<N>& m = *s.m;
  Dense d = s.d;
  const size_t nBlocks = m.blocks.size();

  // maxAbs: the largest magnitude may be negative.
  m.setElem(m.blocks.back().row0, m.blocks.back().col0, -7.5);
  d(m.blocks.back().row0, m.blocks.back().col0) = -7.5;
  EXPECT_EQ(m.maxAbs(), 7.5);

  Vector<double> sums(d.cols + 1);
  sums[d.cols] = 5.0;
  m.absColumnSums(sums);
  for (int j = 0; j < d.cols; ++j) {
    double t = 0;
    for (int i = 0; i < d.rows; ++i) t += std::fabs(d(i, j));
    EXPECT_NEAR(sums[j], t, 1e-13);
  }
  EXPECT_EQ(sums[d.cols], 0.0);

  m.scale(-2.0);
  for (double& v : d.a) v *= -2.0;
  expectMatchesDense(m, d);

  Vector<double> dl(d.rows), dr(d.cols);
  fillVector(rng, dl);
  fillVector(rng, dr);
  m.scaleDiagLeft(dl);
  m.scaleDiagRight(dr);
  for (int i = 0; i < d.rows; ++i)
    for (int j = 0; j < d.cols; ++j) d(i, j) = d(i, j) * dl[i] * dr[j];
  expectMatchesDense(m, d);

  // copyTo writes every stored value, zeros included, and nothing else.
  FullMatrix<double> full(d.rows, d.cols);
  for (int i = 0; i < d.rows; ++i)
    for (int j = 0; j < d.cols; ++j) full.setElem(i, j, 42.0);
  m.copyTo(full);
  for (int i = 0; i < d.rows; ++i)
    for (int j = 0; j < d.cols; ++j) {
      bool stored = m.findBlock(i, j) != nullptr;
      EXPECT_EQ(full(i, j), stored ? m(i, j) : 42.0);
    }

  // forEachValue: every stored value once, in array order.
  std::vector<double*> seen;
  m.forEachValue(
      [](double* v, void* arg) { static_cast<std::vector<double*>*>(arg)->push_back(v); }, &seen);
  ASSERT_EQ(seen.size(), nBlocks * N * N);
  for (size_t b = 0; b < nBlocks; ++b)
    for (int k = 0; k < N * N; ++k) EXPECT_EQ(seen[b * N * N + k], &m.blocks[b].values[k]);

  m.clear();
  EXPECT_EQ(m.blocks.size(), nBlocks);
  EXPECT_EQ(m.maxAbs(), 0.0);
  m.setElem(m.blocks.front().row0, m.blocks.front().col0, 1.0);  // pattern kept

  BM<N> none(2 * N, 2 * N);
  none.buildDataStructs();
  EXPECT_EQ(none.maxAbs(), 0.0);
}

// ----------------------------------------------------------- Gauss-Seidel

template <class P>
class BlockMatrixGaussSeidel : public ::testing::Test {};
TYPED_TEST_SUITE(BlockMatrixGaussSeidel, BlockSizes);

namespace {

// A frozen block matrix with strong diagonal blocks. `diagonalBlocks`: the
// diagonal blocks are diagonal matrices.
template <int N>
Sample<N> dominantSample(std::mt19937& rng, int nb, bool diagonalBlocks) {
  auto s = randomSample<N>(rng, nb, nb, 0.4, {}, true);
  BM<N>& m = *s.m;
  for (int r = 0; r < nb; ++r)
    for (int k = 0; k < N; ++k)
      for (int c = 0; c < N; ++c) {
        int i = r * N + k, j = r * N + c;
        double v = k == c ? 4.0 * N * nb * (1.0 + 0.1 * k) : (diagonalBlocks ? 0.0 : s.d(i, j));
        m.setElem(i, j, v);
        s.d(i, j) = v;
      }
  return s;
}

PackedMatrix<double>* packedCopy(const Dense& d) {
  SparseMatrix<double> S(d.rows, d.cols);
  for (int i = 0; i < d.rows; ++i)
    for (int j = 0; j < d.cols; ++j) S.setElem(i, j, d(i, j));
  return new PackedMatrix<double>(S);
}

// Solves the N x N system by Cramer's rule.
template <int N>
void solveSmall(const double* A, const double* t, double* d) {
  auto det = [](const double* M) {
    if (N == 2) return M[0] * M[3] - M[1] * M[2];
    return M[0] * (M[4] * M[8] - M[5] * M[7]) - M[1] * (M[3] * M[8] - M[5] * M[6]) +
           M[2] * (M[3] * M[7] - M[4] * M[6]);
  };
  double D = det(A);
  for (int c = 0; c < N; ++c) {
    double M[N * N];
    std::copy(A, A + N * N, M);
    for (int k = 0; k < N; ++k) M[k * N + c] = t[k];
    d[c] = det(M) / D;
  }
}

// Block SOR on the dense reference.
template <int N>
double denseBlockSweep(const Dense& a, Vector<double>& x, const Vector<double>& b, double omega,
                       bool backward) {
  const int nb = a.rows / N;
  double res = 0;
  for (int q = 0; q < nb; ++q) {
    int r = backward ? nb - 1 - q : q;
    double t[N], D[N * N], d[N];
    for (int k = 0; k < N; ++k) {
      t[k] = b[r * N + k];
      for (int j = 0; j < a.cols; ++j) t[k] -= a(r * N + k, j) * x[j];
      res += t[k] * t[k];
      for (int c = 0; c < N; ++c) D[k * N + c] = a(r * N + k, r * N + c);
    }
    solveSmall<N>(D, t, d);
    for (int k = 0; k < N; ++k) x[r * N + k] += omega * d[k];
  }
  return res;
}

}  // namespace

TYPED_TEST(BlockMatrixGaussSeidel, EqualsScalarSweepWhenDiagonalBlocksAreDiagonal) {
  constexpr int N = TypeParam::value;
  std::mt19937 rng(41);
  auto s = dominantSample<N>(rng, 8, true);
  std::unique_ptr<PackedMatrix<double>> p(packedCopy(s.d));
  for (double omega : {1.0, 0.7, 1.3}) {
    Vector<double> b(s.d.rows), xb(s.d.rows), xs(s.d.rows);
    fillVector(rng, b);
    fillVector(rng, xb);
    for (int i = 0; i < xb.n; ++i) xs[i] = xb[i];
    for (int sweep = 0; sweep < 6; ++sweep) {
      double rb = -1, rs = -2;
      if (sweep < 3) {
        s.m->gaussSeidelStep(xb, b, omega, rb);
        p->gaussSeidelStep(xs, b, omega, rs);
      } else {
        s.m->gaussSeidelBackStep(xb, b, omega, rb);
        p->gaussSeidelBackStep(xs, b, omega, rs);
      }
      // The sweeps add a row's terms in different orders.
      EXPECT_NEAR(rb, rs, 1e-12 * std::max(1.0, rs));
      EXPECT_LT(maxRelDiff(xb.data, xs.data, xb.n), 1e-12);
    }
  }
}

TYPED_TEST(BlockMatrixGaussSeidel, EqualsDenseBlockSweepWithFullDiagonalBlocks) {
  constexpr int N = TypeParam::value;
  std::mt19937 rng(42);
  auto s = dominantSample<N>(rng, 7, false);
  for (bool backward : {false, true}) {
    Vector<double> b(s.d.rows), x(s.d.rows), xr(s.d.rows);
    fillVector(rng, b);
    for (int sweep = 0; sweep < 4; ++sweep) {
      double res = -1;
      if (backward)
        s.m->gaussSeidelBackStep(x, b, 0.9, res);
      else
        s.m->gaussSeidelStep(x, b, 0.9, res);
      double ref = denseBlockSweep<N>(s.d, xr, b, 0.9, backward);
      EXPECT_NEAR(res, ref, 1e-11 * std::max(1.0, ref));
      EXPECT_LT(maxRelDiff(x.data, xr.data, x.n), 1e-12);
    }
  }
}

TYPED_TEST(BlockMatrixGaussSeidel, SweepsReduceTheEnergyErrorOnSpdMatrices) {
  constexpr int N = TypeParam::value;
  std::mt19937 rng(43);
  const int nb = 8, n = nb * N;
  // A = G^T G + 0.3 I with a block-sparse G: SPD, not diagonally dominant.
  auto g = randomSample<N>(rng, nb, nb, 0.3, {}, true);
  Dense a(n, n);
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) {
      double t = i == j ? 0.3 : 0.0;
      for (int k = 0; k < n; ++k) t += g.d(k, i) * g.d(k, j);
      a(i, j) = t;
    }
  BM<N> m(n, n);
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) m.setElem(i, j, a(i, j));
  m.buildDataStructs();
  m.symmetric = true;

  Vector<double> xs(n), b(n);
  fillVector(rng, xs);
  m.mult(xs, b);
  auto energy = [&](const Vector<double>& x) {
    double e = 0;
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < n; ++j) e += (x[i] - xs[i]) * a(i, j) * (x[j] - xs[j]);
    return e;
  };
  for (double omega : {1.0, 1.5}) {
    Vector<double> x(n);
    const double e0 = energy(x);
    double prev = e0;
    for (int sweep = 0; sweep < 300; ++sweep) {
      double res;
      if (sweep % 2)
        m.gaussSeidelBackStep(x, b, omega, res);
      else
        m.gaussSeidelStep(x, b, omega, res);
      double e = energy(x);
      if (prev > 1e-24 * e0) {
        EXPECT_LT(e, prev) << sweep;
      }
      prev = e;
    }
    EXPECT_LT(prev, 1e-8 * e0) << omega;
  }
}

TYPED_TEST(BlockMatrixGaussSeidel, RowWithoutDiagonalBlockKeepsItsUnknowns) {
  constexpr int N = TypeParam::value;
  BM<N> m(2 * N, 2 * N);
  for (int k = 0; k < N; ++k) {
    m.setElem(k, k, 2.0);
    m.setElem(N + k, k, 1.0);  // block row 1 has no diagonal block
  }
  m.buildDataStructs();
  Vector<double> x(2 * N), b(2 * N);
  for (int i = 0; i < 2 * N; ++i) b[i] = 4.0;
  double res = 0;
  m.gaussSeidelStep(x, b, 1.0, res);
  for (int k = 0; k < N; ++k) {
    EXPECT_EQ(x[k], 2.0);
    EXPECT_EQ(x[N + k], 0.0);
  }
  // Row 0 residual 4 before its update; row 1 residual 4 - 2.
  EXPECT_EQ(res, N * 16.0 + N * 4.0);
}

// --------------------------------------------------------- Galerkin product

namespace {

struct CallLog : ProgressBar {
  std::vector<std::string> calls;
  void setTotal(unsigned int n) override {
    ProgressBar::setTotal(n);
    calls.push_back("setTotal " + std::to_string(n));
  }
  void start() override {
    ProgressBar::start();
    calls.push_back("start");
  }
  void step() override {
    ProgressBar::step();
    calls.push_back("step");
  }
  void finish() override { calls.push_back("finish"); }
};

Dense tripleProduct(const Dense& p, const Dense& a) {
  Dense pa(p.rows, a.cols), c(p.rows, p.rows);
  for (int i = 0; i < p.rows; ++i)
    for (int k = 0; k < p.cols; ++k)
      for (int j = 0; j < a.cols; ++j) pa(i, j) += p(i, k) * a(k, j);
  for (int i = 0; i < p.rows; ++i)
    for (int j = 0; j < p.rows; ++j)
      for (int k = 0; k < a.cols; ++k) c(i, j) += pa(i, k) * p(j, k);
  return c;
}

}  // namespace

template <class P>
class BlockMatrixGalerkin : public ::testing::Test {};
TYPED_TEST_SUITE(BlockMatrixGalerkin, BlockSizes);

TYPED_TEST(BlockMatrixGalerkin, MatchesDenseTripleProductWithProgressCalls) {
  constexpr int N = TypeParam::value;
  std::mt19937 rng(51);
  auto a = randomSample<N>(rng, 6, 6, 0.4, {4});
  const int m = 7;
  auto [p, pd] = randomPacked(rng, m, a.d.cols, 0.35, {2, 5});
  Dense ref = tripleProduct(pd, a.d);
  FullMatrix<double> c(m, m);
  for (int i = 0; i < m; ++i)
    for (int j = 0; j < m; ++j) c.setElem(i, j, 42.0);
  CallLog log;
  a.m->mult_m_left_m_transpose_right(*p, c, &log);

  for (int i = 0; i < m; ++i)
    for (int j = 0; j < m; ++j) {
      if (ref(i, j) == 0.0) {
        EXPECT_EQ(c(i, j), 42.0) << i << "," << j;  // zero sums are not written
      } else {
        EXPECT_NEAR(c(i, j), ref(i, j), 1e-12) << i << "," << j;
      }
    }
  std::vector<std::string> expected = {"setTotal 7", "start"};
  for (int i = 0; i < m; ++i) expected.push_back("step");
  expected.push_back("finish");
  EXPECT_EQ(log.calls, expected);

  // No progress bar, and no rows at all.
  FullMatrix<double> c2(m, m);
  a.m->mult_m_left_m_transpose_right(*p, c2, nullptr);
  for (int i = 0; i < m; ++i)
    for (int j = 0; j < m; ++j) EXPECT_NEAR(c2(i, j), ref(i, j), 1e-12);
  FullMatrix<double> none(0, 0);
  CallLog log0;
  a.m->mult_m_left_m_transpose_right(*p, none, &log0);
  EXPECT_EQ(log0.calls, (std::vector<std::string>{"setTotal 0", "start", "finish"}));
}

TYPED_TEST(BlockMatrixGalerkin, SymmetricFlagComputesTheUpperTriangleAndMirrors) {
  constexpr int N = TypeParam::value;
  std::mt19937 rng(52);
  // A non-symmetric matrix declared symmetric shows which half is computed.
  auto a = randomSample<N>(rng, 5, 5, 0.5);
  a.m->symmetric = true;
  const int m = 6;
  auto [p, pd] = randomPacked(rng, m, a.d.cols, 0.4, {});
  Dense ref = tripleProduct(pd, a.d);
  FullMatrix<double> c(m, m);
  a.m->mult_m_left_m_transpose_right(*p, c, nullptr);
  for (int i = 0; i < m; ++i)
    for (int j = i; j < m; ++j) {
      EXPECT_NEAR(c(i, j), ref(i, j), 1e-12);
      EXPECT_EQ(c(j, i), c(i, j));
    }

  // A truly symmetric matrix gives the full product.
  BM<N> s(a.d.rows, a.d.cols);
  Dense sd(a.d.rows, a.d.cols);
  for (int i = 0; i < sd.rows; ++i)
    for (int j = 0; j < sd.cols; ++j) {
      sd(i, j) = a.d(i, j) + a.d(j, i);
      s.setElem(i, j, sd(i, j));
    }
  s.buildDataStructs();
  s.symmetric = true;
  Dense sref = tripleProduct(pd, sd);
  FullMatrix<double> cs(m, m);
  s.mult_m_left_m_transpose_right(*p, cs, nullptr);
  for (int i = 0; i < m; ++i)
    for (int j = 0; j < m; ++j) EXPECT_NEAR(cs(i, j), sref(i, j), 1e-12);
}

TYPED_TEST(BlockMatrixGalerkin, FillsABuildPhaseCoarseBlockMatrix) {
  constexpr int N = TypeParam::value;
  std::mt19937 rng(53);
  auto a = randomSample<N>(rng, 6, 6, 0.4, {}, true);
  const int m = 3 * N;
  auto [p, pd] = randomPacked(rng, m, a.d.cols, 0.3, {1});
  Dense ref = tripleProduct(pd, a.d);
  BM<N> c(m, m);
  a.m->mult_m_left_m_transpose_right(*p, c, nullptr);
  c.buildDataStructs();
  expectMatchesDense(c, ref, 1e-12);
}

// ------------------------------------------------------------ structuredCopy

template <class P>
class BlockMatrixStructuredCopy : public ::testing::Test {};
TYPED_TEST_SUITE(BlockMatrixStructuredCopy, BlockSizes);

TYPED_TEST(BlockMatrixStructuredCopy, SameShapeCopiesValuesBlockByBlock) {
  constexpr int N = TypeParam::value;
  BM<N> dst(3 * N, 3 * N), src(3 * N, 3 * N);
  double one[N * N], two[N * N];
  for (int k = 0; k < N * N; ++k) {
    one[k] = 1.0 + k;
    two[k] = -1.0 - k;
  }
  dst.addElemBlock(0, 0, one);
  dst.addElemBlock(N, 2 * N, one);
  // Same block count and shape, other positions: values go by block index.
  src.addElemBlock(0, N, two);
  src.addElemBlock(2 * N, 0, two);
  dst.buildDataStructs();
  src.buildDataStructs();
  testing::internal::CaptureStderr();
  dst.structuredCopy(src);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(dst.blocks[0].col0, 0);
  EXPECT_EQ(dst.blocks[1].row0, N);
  EXPECT_EQ(dst(N - 1, N - 1), -1.0 * N * N);
  EXPECT_EQ(dst(N, 2 * N), -1.0);
  EXPECT_EQ(dst(0, N), 0.0);
}

TYPED_TEST(BlockMatrixStructuredCopy, OtherShapePrintsAndCopiesNothing) {
  constexpr int N = TypeParam::value;
  std::mt19937 rng(61);
  auto dst = randomSample<N>(rng, 4, 4, 0.5);
  // The same blocks and one more, other values.
  BM<N> more(4 * N, 4 * N);
  double v[N * N];
  for (int k = 0; k < N * N; ++k) v[k] = 3.0;
  for (const auto& b : dst.m->blocks) more.addElemBlock(b.row0, b.col0, v);
  for (int r = 0, added = 0; r < 4 && !added; ++r)
    for (int c = 0; c < 4 && !added; ++c)
      if (!dst.m->findBlock(r * N, c * N)) {
        more.addElemBlock(r * N, c * N, v);
        added = 1;
      }
  more.buildDataStructs();
  ASSERT_EQ(more.blocks.size(), dst.m->blocks.size() + 1);
  const std::string msg = "[BlocMatrix, structuredCopy] Matrix does not have the same structure!\n";

  testing::internal::CaptureStderr();
  testing::internal::CaptureStdout();
  dst.m->structuredCopy(more);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), msg);
  expectMatchesDense(*dst.m, dst.d);

  // Same block count, one block row more.
  BM<N> other(5 * N, 4 * N);
  for (const auto& b : dst.m->blocks) other.addElemBlock(b.row0, b.col0, v);
  other.buildDataStructs();
  ASSERT_EQ(other.blocks.size(), dst.m->blocks.size());
  testing::internal::CaptureStderr();
  dst.m->structuredCopy(other);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), msg);
  expectMatchesDense(*dst.m, dst.d);
}

// ------------------------------------------------------------------- copy

template <class P>
class BlockMatrixCopy : public ::testing::Test {};
TYPED_TEST_SUITE(BlockMatrixCopy, BlockSizes);

TYPED_TEST(BlockMatrixCopy, DeepCopyOutlivesItsOriginal) {
  constexpr int N = TypeParam::value;
  std::mt19937 rng(71);
  auto s = randomSample<N>(rng, 7, 7, 0.4, {0, 5}, true);
  s.m->symmetric = true;
  auto copy = std::make_unique<BM<N>>(*s.m);
  s.m.reset();  // the copy must not point into the freed original

  BM<N>& c = *copy;
  EXPECT_TRUE(c.symmetric);
  EXPECT_EQ(c.nBlockRows, 7);
  EXPECT_EQ(c.nBlockCols, 7);
  EXPECT_EQ(c.scatterStream, nullptr);
  const auto* lo = c.blocks.data();
  const auto* hi = lo + c.blocks.size();
  for (int r = 0; r <= 7; ++r) EXPECT_TRUE(c.rowStart[r] >= lo && c.rowStart[r] <= hi);
  for (const auto& b : c.blocks)
    if (b.nextInColumn) {
      EXPECT_TRUE(b.nextInColumn >= lo && b.nextInColumn < hi);
    }
  expectMatchesDense(c, s.d);

  Vector<double> x(c.nCol), y(c.nRow), bv(c.nRow);
  fillVector(rng, x);
  c.mult(x, y);
  for (int i = 0; i < c.nRow; ++i) {
    double t = 0;
    for (int j = 0; j < c.nCol; ++j) t += s.d(i, j) * x[j];
    EXPECT_NEAR(y[i], t, 1e-13);
  }
  double res;
  c.gaussSeidelStep(x, bv, 1.0, res);
  c.setElem(N, N, 9.0);
  EXPECT_EQ(c(N, N), 9.0);

  std::stringstream rec;
  c.writeToFile(rec);
  BM<N> back(rec);
  expectBitIdentical(back, c);
}

TYPED_TEST(BlockMatrixCopy, CopiesAreIndependent) {
  constexpr int N = TypeParam::value;
  std::mt19937 rng(72);
  auto s = randomSample<N>(rng, 4, 4, 0.5, {}, true);
  BM<N> c(*s.m);
  c.scale(0.0);
  expectMatchesDense(*s.m, s.d);

  // A matrix still being built copies its map.
  BM<N> building(2 * N, 2 * N);
  building.setElem(0, N, 4.0);
  BM<N> bc(building);
  building.setElem(N, 0, 1.0);
  EXPECT_FALSE(bc.frozen());
  bc.buildDataStructs();
  EXPECT_EQ(bc.blocks.size(), 1u);
  EXPECT_EQ(bc(0, N), 4.0);
}

// ------------------------------------------------------------- addScaled

template <class P>
class BlockMatrixAddScaled : public ::testing::Test {};
TYPED_TEST_SUITE(BlockMatrixAddScaled, BlockSizes);

// Against a dense reference, bit for bit, with rows of B whose columns
// ascend (as built) and descend (as a record may hold them).
TYPED_TEST(BlockMatrixAddScaled, PackedSummandMatchesDenseReference) {
  constexpr int N = TypeParam::value;
  std::mt19937 rng(81);
  auto s = randomSample<N>(rng, 5, 5, 0.4, {}, true);
  std::uniform_real_distribution<double> val(-1.0, 1.0);
  Bytes rec;
  rec.u8(0);
  rec.i32(5 * N);
  rec.i32(5 * N);
  std::vector<std::vector<std::pair<int, double>>> rows(5 * N);
  int nnz = 0;
  for (const auto& b : s.m->blocks)
    for (int k = 0; k < N * N; k += 2) rows[b.row0 + k / N].push_back({b.col0 + k % N, val(rng)});
  for (size_t i = 0; i < rows.size(); ++i) {
    if (i % 2) std::reverse(rows[i].begin(), rows[i].end());
    nnz += static_cast<int>(rows[i].size());
  }
  rec.i32(nnz);
  for (size_t i = 0; i < rows.size(); ++i) {
    rec.i32(static_cast<int>(rows[i].size()));
    for (auto [j, v] : rows[i]) {
      rec.i32(j);
      rec.f64(v);
      s.d(static_cast<int>(i), j) += -1.5 * v;
    }
  }
  std::stringstream in(rec.s);
  PackedMatrix<double> B(in);
  ASSERT_EQ(B.nnz, nnz);
  s.m->addScaled(B, -1.5);
  expectMatchesDense(*s.m, s.d);

  BM<N> outside(2 * N, 2 * N);
  outside.setElem(0, 0, 1.0);
  outside.buildDataStructs();
  SparseMatrix<double> S(2 * N, 2 * N);
  S.setElem(0, 0, 1.0);
  S.setElem(0, N, 1.0);
  EXPECT_DEATH(onStdoutOnly([&] { outside.addScaled(PackedMatrix<double>(S), 1.0); }),
               literal("[BlockMatrix, addElem] Error: Initialization completed! Cannot add "
                       "inexistent elements!"));
}

// ------------------------------------------------- sweep with the residual

template <class P>
class BlockMatrixSweepResidual : public ::testing::Test {};
TYPED_TEST_SUITE(BlockMatrixSweepResidual, BlockSizes);

// On a symmetric matrix whose block row 2 has no diagonal block: the same x
// as the plain sweep, bit for bit, and the residual of the new x to 1e-12.
TYPED_TEST(BlockMatrixSweepResidual, MatchesPlainSweepAndResiduum) {
  constexpr int N = TypeParam::value;
  std::mt19937 rng(91);
  std::uniform_real_distribution<double> val(-1.0, 1.0), coin(0.0, 1.0);
  const int nb = 7;
  BM<N> A(nb * N, nb * N);
  for (int r = 0; r < nb; ++r)
    for (int c = r; c < nb; ++c) {
      if (r == c ? r == 2 : coin(rng) > 0.5) continue;
      double v[N * N], vt[N * N];
      for (int k = 0; k < N * N; ++k) v[k] = val(rng) + (r == c && k % (N + 1) == 0 ? 8.0 : 0.0);
      for (int k = 0; k < N * N; ++k) vt[(k % N) * N + k / N] = v[k];
      if (r == c)
        for (int k = 0; k < N * N; ++k) v[k] = vt[k] = 0.5 * (v[k] + vt[k]);
      A.addElemBlock(r * N, c * N, v);
      if (r != c) A.addElemBlock(c * N, r * N, vt);
    }
  A.buildDataStructs();
  A.symmetric = true;
  Vector<double> b(nb * N), x(nb * N), y(nb * N), r(nb * N), want(nb * N);
  fillVector(rng, b);
  fillVector(rng, x);
  for (int i = 0; i < x.n; ++i) y[i] = x[i];
  for (int sweep = 0; sweep < 3; ++sweep) {
    double plain, fused;
    A.gaussSeidelStep(y, b, 1.7, plain);
    A.gaussSeidelStepResidual(x, b, 1.7, fused, r);
    EXPECT_EQ(fused, plain);
    ASSERT_EQ(0, std::memcmp(x.data, y.data, sizeof(double) * x.n));
    A.residuum(x, b, want);
    for (int i = 0; i < r.n; ++i) EXPECT_NEAR(r[i], want[i], 1e-12 * (1.0 + std::fabs(want[i])));
  }
}
