#include "crypt/gzip.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <new>

namespace crypto {
namespace {

constexpr uint8_t kId1 = 0x1F, kId2 = 0x8B, kDeflate = 8, kOsNtfs = 0x0B;
constexpr uint8_t kFlagHcrc = 0x02, kFlagExtra = 0x04, kFlagName = 0x08, kFlagComment = 0x10;
constexpr uint8_t kFlagReserved = 0xE0;
constexpr int kLevel = 6;
// zlib counts in 32-bit units; larger buffers are fed in slices.
constexpr size_t kSlice = size_t{1} << 30;
// DEFLATE cannot expand by more than about 1032 to 1, so a trailer's ISIZE
// above that is no honest size hint.
constexpr size_t kMaxRatio = 1032;

// One raw DEFLATE stream per thread, reset per member: setting a stream up
// costs more than deflating a small request.
struct Deflater {
  z_stream s{};
  bool ready = false;
  z_stream* Get() {
    if (!ready)
      ready = deflateInit2(&s, kLevel, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) == Z_OK;
    else
      deflateReset(&s);
    return ready ? &s : nullptr;
  }
  ~Deflater() {
    if (ready) deflateEnd(&s);
  }
};
struct Inflater {
  z_stream s{};
  bool ready = false;
  z_stream* Get() {
    if (!ready)
      ready = inflateInit2(&s, -MAX_WBITS) == Z_OK;
    else
      inflateReset(&s);
    return ready ? &s : nullptr;
  }
  ~Inflater() {
    if (ready) inflateEnd(&s);
  }
};

void PutLe32(uint32_t v, uint8_t* p) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
uint32_t GetLe32(const uint8_t* p) {
  return p[0] | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}

bool DeflateInto(const uint8_t* data, size_t n, std::vector<uint8_t>* out, size_t pos) {
  thread_local Deflater deflater;
  z_stream* s = deflater.Get();
  if (s == nullptr) return false;
  size_t fed = 0;
  s->avail_in = 0;
  for (;;) {
    if (s->avail_in == 0 && fed < n) {
      size_t take = std::min(n - fed, kSlice);
      s->next_in = const_cast<Bytef*>(data + fed);
      s->avail_in = static_cast<uInt>(take);
      fed += take;
    }
    if (pos == out->size()) out->resize(out->size() + std::max<size_t>(out->size() / 2, 4096));
    s->next_out = out->data() + pos;
    size_t room = std::min(out->size() - pos, kSlice);
    s->avail_out = static_cast<uInt>(room);
    int flush = (fed == n && s->avail_in == 0) ? Z_FINISH : Z_NO_FLUSH;
    int rc = deflate(s, flush);
    pos += room - s->avail_out;
    if (rc == Z_STREAM_END) break;
    if (rc != Z_OK && rc != Z_BUF_ERROR) return false;
  }
  out->resize(pos);
  return true;
}

// Parses the member header at data[0..n); sets *skip to its length.
GzipError ReadHeader(const uint8_t* data, size_t n, size_t* skip) {
  if (n < kGzipHeaderSize) return GzipError::kTruncated;
  if (data[2] != kDeflate || (data[3] & kFlagReserved) != 0) return GzipError::kBadHeader;
  uint8_t flags = data[3];
  size_t p = kGzipHeaderSize;
  if (flags & kFlagExtra) {
    if (n - p < 2) return GzipError::kTruncated;
    size_t xlen = data[p] | (static_cast<size_t>(data[p + 1]) << 8);
    p += 2;
    if (n - p < xlen) return GzipError::kTruncated;
    p += xlen;
  }
  for (uint8_t field : {kFlagName, kFlagComment}) {
    if (!(flags & field)) continue;
    const void* nul = std::memchr(data + p, 0, n - p);
    if (nul == nullptr) return GzipError::kTruncated;
    p = static_cast<size_t>(static_cast<const uint8_t*>(nul) - data) + 1;
  }
  if (flags & kFlagHcrc) {
    if (n - p < 2) return GzipError::kTruncated;
    p += 2;
  }
  *skip = p;
  return GzipError::kNone;
}

// Inflates one raw DEFLATE stream from data[0..n) onto out at *pos, growing
// out up to cap bytes. Sets *used to the input consumed.
GzipError InflateMember(const uint8_t* data, size_t n, size_t cap, std::string* out, size_t* pos,
                        size_t* used) {
  thread_local Inflater inflater;
  z_stream* s = inflater.Get();
  if (s == nullptr) return GzipError::kNoMemory;
  size_t fed = 0;
  s->avail_in = 0;
  for (;;) {
    if (s->avail_in == 0 && fed < n) {
      size_t take = std::min(n - fed, kSlice);
      s->next_in = const_cast<Bytef*>(data + fed);
      s->avail_in = static_cast<uInt>(take);
      fed += take;
    }
    if (*pos == out->size()) {
      if (out->size() >= cap) return GzipError::kTooLarge;
      out->resize(std::min(cap, std::max<size_t>(out->size() * 2, 4096)));
    }
    s->next_out = reinterpret_cast<Bytef*>(&(*out)[*pos]);
    size_t room = std::min(out->size() - *pos, kSlice);
    s->avail_out = static_cast<uInt>(room);
    int rc = inflate(s, Z_NO_FLUSH);
    *pos += room - s->avail_out;
    if (rc == Z_STREAM_END) {
      *used = fed - s->avail_in;
      return GzipError::kNone;
    }
    if (rc == Z_MEM_ERROR) return GzipError::kNoMemory;
    if (rc == Z_DATA_ERROR || rc == Z_NEED_DICT || rc == Z_STREAM_ERROR) return GzipError::kBadData;
    // Z_OK or Z_BUF_ERROR: stuck only when all input is used up.
    if (s->avail_in == 0 && fed == n && s->avail_out != 0) return GzipError::kTruncated;
  }
}

// Reads the member at data[*at..n) onto out at *pos; on success moves *at
// past its trailer.
GzipError ReadMember(const uint8_t* data, size_t n, size_t maxOut, size_t cap, std::string* out, size_t* pos,
                     size_t* at) {
  size_t skip = 0, used = 0;
  GzipError e = ReadHeader(data + *at, n - *at, &skip);
  if (e != GzipError::kNone) return e;
  const size_t start = *at + skip, memberStart = *pos;
  e = InflateMember(data + start, n - start, cap, out, pos, &used);
  if (e != GzipError::kNone) return e;
  if (*pos > maxOut) return GzipError::kTooLarge;
  const size_t trailer = start + used;
  if (n - trailer < kGzipTrailerSize) return GzipError::kTruncated;
  const uint8_t* member = reinterpret_cast<const uint8_t*>(out->data()) + memberStart;
  if (GetLe32(data + trailer) != Crc32(member, *pos - memberStart)) return GzipError::kBadCrc;
  if (GetLe32(data + trailer + 4) != static_cast<uint32_t>(*pos - memberStart)) return GzipError::kBadLength;
  *at = trailer + kGzipTrailerSize;
  return GzipError::kNone;
}

GzipError Fail(GzipError error, std::string* out) {
  out->clear();
  out->shrink_to_fit();
  return error;
}

}  // namespace

uint32_t Crc32(const uint8_t* data, size_t n) {
  uLong crc = crc32(0L, Z_NULL, 0);
  while (n > 0) {
    size_t take = std::min(n, kSlice);
    crc = crc32(crc, data, static_cast<uInt>(take));
    data += take;
    n -= take;
  }
  return static_cast<uint32_t>(crc);
}

bool GzipCompress(const uint8_t* data, size_t n, std::vector<uint8_t>* out) {
  size_t start = out->size();
  try {
    // JSON shrinks to a fraction; the buffer grows when it does not.
    out->resize(start + kGzipHeaderSize + n / 4 + 64);
    uint8_t* h = out->data() + start;
    const uint8_t header[kGzipHeaderSize] = {kId1, kId2, kDeflate, 0, 0, 0, 0, 0, 0, kOsNtfs};
    std::memcpy(h, header, kGzipHeaderSize);
    if (!DeflateInto(data, n, out, start + kGzipHeaderSize)) {
      out->resize(start);
      return false;
    }
    size_t end = out->size();
    out->resize(end + kGzipTrailerSize);
    PutLe32(Crc32(data, n), out->data() + end);
    PutLe32(static_cast<uint32_t>(n), out->data() + end + 4);
  } catch (const std::bad_alloc&) {
    out->resize(start);
    return false;
  }
  return true;
}

GzipError GzipUncompress(const uint8_t* data, size_t n, size_t maxOut, std::string* out) {
  out->clear();
  if (n < 2 || data[0] != kId1 || data[1] != kId2) return GzipError::kNotGzip;
  // One byte over the limit tells "ends exactly at the limit" from "goes on".
  size_t cap = maxOut + 1;
  size_t pos = 0, at = 0;
  try {
    // The last trailer's ISIZE sizes the buffer in one step when it is plausible.
    if (n >= kGzipHeaderSize + kGzipTrailerSize) {
      size_t hint = GetLe32(data + n - 4);
      if (hint / kMaxRatio <= n) out->resize(std::min(cap, hint + 64));
    }
    size_t good = 0;  // the inflated bytes of the sound members so far
    while (at == 0 || (n - at >= 2 && data[at] == kId1 && data[at + 1] == kId2)) {
      GzipError e = ReadMember(data, n, maxOut, cap, out, &pos, &at);
      // at moves only past a sound member: the first must be one.
      if (e != GzipError::kNone && (at == 0 || e == GzipError::kTooLarge || e == GzipError::kNoMemory))
        return Fail(e, out);
      if (e != GzipError::kNone) break;  // what follows the last sound member is ignored
      good = pos;
    }
    out->resize(good);
  } catch (const std::bad_alloc&) {
    return Fail(GzipError::kNoMemory, out);
  }
  return GzipError::kNone;
}

}  // namespace crypto
