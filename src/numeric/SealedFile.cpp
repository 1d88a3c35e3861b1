#include "SealedFile.h"

#include <xxhash.h>
#if defined(__x86_64__)
#include <xxh_x86dispatch.h>
#endif

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <new>

namespace zolt {

namespace {

// The library picks the widest vector unit at run time on x86-64.
inline void hashUpdate(XXH3_state_t* h, const void* p, size_t n) {
#if defined(__x86_64__)
  XXH3_64bits_update_dispatch(h, p, n);
#else
  XXH3_64bits_update(h, p, n);
#endif
}

constexpr int64_t kChunk = int64_t(1) << 18;   // hashed while still in cache
constexpr int64_t kDirect = int64_t(1) << 14;  // reads this large skip the buffer

uint64_t loadLE64(const unsigned char* b) {
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | b[i];
  return v;
}

}  // namespace

struct SealedInBuf::State {
  XXH3_state_t* h = XXH3_createState();
  ~State() { XXH3_freeState(h); }
};

struct SealedOutBuf::State {
  XXH3_state_t* h = XXH3_createState();
  ~State() { XXH3_freeState(h); }
};

// ------------------------------------------------------------ SealedInBuf

SealedInBuf::SealedInBuf(std::streambuf& src)
    : src_(src), state_(std::make_unique<State>()), buf_(static_cast<size_t>(kChunk)) {
  XXH3_64bits_reset(state_->h);
  setg(buf_.data(), buf_.data(), buf_.data());
  const auto in = std::ios_base::in;
  int64_t base = -1, size = -1;
  try {
    base = src_.pubseekoff(0, std::ios_base::cur, in);
    size = base < 0 ? -1 : int64_t(src_.pubseekoff(0, std::ios_base::end, in));
  } catch (const std::bad_alloc&) {
    throw;
  } catch (...) {  // a file buffer throws on a read error
    return;
  }
  if (base < 0 || size < 0) return;
  base_ = bufPos_ = hashed_ = base;
  end_ = std::max(base, size - 8);
  unsigned char seal[8];
  sealed_ = size - base >= 8 && fetch(size - 8, reinterpret_cast<char*>(seal), 8) == 8;
  if (sealed_) seal_ = loadLE64(seal);
}

SealedInBuf::~SealedInBuf() = default;

// A read error (a directory, a failing disk) reads as the end of the data:
// the file buffer throws it, and it must not leave the reader. Running out
// of memory is no end of data: it is thrown on, and again by verify(),
// since a reading istream turns it into its bad bit.
int64_t SealedInBuf::fetch(int64_t at, char* dst, int64_t n) {
  try {
    if (srcPos_ != at && int64_t(src_.pubseekpos(at, std::ios_base::in)) != at) {
      srcPos_ = -1;
      return 0;
    }
    const int64_t got = src_.sgetn(dst, n);
    srcPos_ = at + std::max<int64_t>(got, 0);
    return got;
  } catch (const std::bad_alloc&) {
    srcPos_ = -1;
    outOfMemory_ = true;
    throw;
  } catch (...) {
    srcPos_ = -1;
    return 0;
  }
}

// Bytes [at, at + n) are at p; hashes the part past hashed_. A gap left by
// a forward seek is hashed from the source first.
void SealedInBuf::hashNew(const char* p, int64_t at, int64_t n) {
  if (at > hashed_ && !hashUpTo(at)) return;
  if (at + n <= hashed_ || at > hashed_) return;
  const int64_t skip = hashed_ - at;
  hashUpdate(state_->h, p + skip, static_cast<size_t>(n - skip));
  hashed_ = at + n;
}

bool SealedInBuf::hashUpTo(int64_t end) {
  std::vector<char> tmp;
  while (hashed_ < end) {
    if (tmp.empty()) tmp.resize(static_cast<size_t>(kChunk));
    const int64_t got = fetch(hashed_, tmp.data(), std::min(kChunk, end - hashed_));
    if (got <= 0) return false;
    hashUpdate(state_->h, tmp.data(), static_cast<size_t>(got));
    hashed_ += got;
  }
  return true;
}

bool SealedInBuf::verify() {
  if (outOfMemory_) throw std::bad_alloc();
  return sealed_ && hashUpTo(end_) && XXH3_64bits_digest(state_->h) == seal_;
}

// A position inside the held bytes becomes the read position again.
bool SealedInBuf::resolvePending() {
  if (pending_ < bufPos_ || pending_ >= bufPos_ + (egptr() - eback())) return false;
  setg(eback(), eback() + (pending_ - bufPos_), egptr());
  pending_ = -1;
  return true;
}

SealedInBuf::int_type SealedInBuf::underflow() {
  if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
  if (pending_ >= 0 && resolvePending()) return traits_type::to_int_type(*gptr());
  const int64_t at = position();
  if (at >= end_) return traits_type::eof();
  const int64_t got = fetch(at, buf_.data(), std::min(kChunk, end_ - at));
  if (got <= 0) return traits_type::eof();
  hashNew(buf_.data(), at, got);
  bufPos_ = at;
  pending_ = -1;
  setg(buf_.data(), buf_.data(), buf_.data() + got);
  return traits_type::to_int_type(*gptr());
}

// Large reads go straight into the caller's memory, a chunk at a time.
std::streamsize SealedInBuf::xsgetn(char* s, std::streamsize n) {
  std::streamsize done = 0;
  while (done < n) {
    if (gptr() == egptr() && pending_ >= 0) resolvePending();
    if (gptr() == egptr() && n - done >= kDirect) {
      const int64_t at = position();
      const int64_t want = std::min<int64_t>(std::min(kChunk, n - done), end_ - at);
      if (want <= 0) break;
      const int64_t got = fetch(at, s + done, want);
      if (got <= 0) break;
      hashNew(s + done, at, got);
      bufPos_ = at + got;
      pending_ = -1;
      setg(buf_.data(), buf_.data(), buf_.data());
      done += got;
      continue;
    }
    if (gptr() == egptr() && traits_type::eq_int_type(underflow(), traits_type::eof())) break;
    const std::streamsize k = std::min<std::streamsize>(egptr() - gptr(), n - done);
    std::memcpy(s + done, gptr(), static_cast<size_t>(k));
    gbump(static_cast<int>(k));
    done += k;
  }
  return done;
}

SealedInBuf::pos_type SealedInBuf::seekoff(off_type off, std::ios_base::seekdir dir,
                                           std::ios_base::openmode which) {
  if (!(which & std::ios_base::in) || !sealed_) return pos_type(off_type(-1));
  int64_t target = off;
  if (dir == std::ios_base::cur)
    target += position();
  else if (dir == std::ios_base::end)
    target += end_;
  if (target < base_ || target > end_) return pos_type(off_type(-1));
  const int64_t held = egptr() - eback();
  if (target >= bufPos_ && target <= bufPos_ + held) {
    setg(eback(), eback() + (target - bufPos_), egptr());
    pending_ = -1;
  } else {
    // The held bytes stay for a seek back (bytesLeft goes to the end and back).
    pending_ = target;
    setg(eback(), egptr(), egptr());
  }
  return pos_type(target);
}

SealedInBuf::pos_type SealedInBuf::seekpos(pos_type pos, std::ios_base::openmode which) {
  return seekoff(off_type(pos), std::ios_base::beg, which);
}

std::streamsize SealedInBuf::showmanyc() {
  const int64_t left = end_ - position();
  return left > 0 ? left : -1;
}

// ----------------------------------------------------------- SealedOutBuf

SealedOutBuf::SealedOutBuf(std::streambuf& dst)
    : dst_(dst), state_(std::make_unique<State>()), buf_(static_cast<size_t>(kChunk)) {
  XXH3_64bits_reset(state_->h);
  setp(buf_.data(), buf_.data() + buf_.size());
}

SealedOutBuf::~SealedOutBuf() { drain(); }

bool SealedOutBuf::pass(const char* p, std::streamsize n) {
  if (n <= 0) return !failed_;
  hashUpdate(state_->h, p, static_cast<size_t>(n));
  if (!failed_ && dst_.sputn(p, n) != n) failed_ = true;
  return !failed_;
}

bool SealedOutBuf::drain() {
  const bool ok = pass(pbase(), pptr() - pbase());
  setp(buf_.data(), buf_.data() + buf_.size());
  return ok;
}

SealedOutBuf::int_type SealedOutBuf::overflow(int_type c) {
  if (!drain()) return traits_type::eof();
  if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
  *pptr() = traits_type::to_char_type(c);
  pbump(1);
  return c;
}

std::streamsize SealedOutBuf::xsputn(const char* s, std::streamsize n) {
  if (n < epptr() - pptr()) {
    std::memcpy(pptr(), s, static_cast<size_t>(n));
    pbump(static_cast<int>(n));
    return n;
  }
  if (!drain()) return 0;
  for (std::streamsize done = 0; done < n; done += kChunk)
    if (!pass(s + done, std::min<std::streamsize>(kChunk, n - done))) return done;
  return n;
}

int SealedOutBuf::sync() { return drain() && dst_.pubsync() == 0 ? 0 : -1; }

bool SealedOutBuf::seal() {
  if (!drain()) return false;
  const uint64_t digest = XXH3_64bits_digest(state_->h);
  char b[8];
  for (int i = 0; i < 8; ++i) b[i] = static_cast<char>(digest >> (8 * i));
  if (dst_.sputn(b, 8) != 8) failed_ = true;
  return !failed_ && dst_.pubsync() == 0;
}

std::string notAFile(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0 || S_ISREG(st.st_mode)) return std::string();
  return S_ISDIR(st.st_mode) ? "is a directory" : "is not a regular file";
}

namespace {

struct Hasher {
  XXH3_state_t* h = XXH3_createState();
  Hasher() { XXH3_64bits_reset(h); }
  ~Hasher() { XXH3_freeState(h); }
  Hasher(const Hasher&) = delete;
  Hasher& operator=(const Hasher&) = delete;
  void add(const void* p, size_t n) { hashUpdate(h, p, n); }
  uint64_t digest() const { return XXH3_64bits_digest(h); }
};

}  // namespace

uint64_t bytesFingerprint(std::initializer_list<std::pair<const void*, size_t>> ranges) {
  Hasher h;
  for (const auto& [data, size] : ranges) {
    const uint64_t n = size;  // the sizes keep the ranges apart
    h.add(&n, sizeof n);
    h.add(data, size);
  }
  return h.digest();
}

uint64_t filesFingerprint(const std::vector<std::string>& paths, const std::string& text) {
  Hasher h;
  std::vector<char> buf(static_cast<size_t>(kChunk));
  for (const std::string& path : paths) {
    std::ifstream in(path, std::ios::binary);
    int64_t size = -1;
    if (in && in.seekg(0, std::ios::end)) size = in.tellg();
    in.seekg(0);
    h.add(&size, sizeof size);
    while (size > 0 && in) {
      in.read(buf.data(), std::streamsize(buf.size()));
      h.add(buf.data(), static_cast<size_t>(in.gcount()));
    }
  }
  h.add(text.data(), text.size());
  return h.digest();
}

}  // namespace zolt
