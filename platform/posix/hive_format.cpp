// The text form of a registry hive:
//   INKORA-HIVE 1
//   key <escaped path>
//   value <escaped name> <type> <hex data>
// Names are percent-escaped (every byte outside '!'..'~', and '%'), so a line
// never holds a blank inside a field.
#include <cstdio>
#include <cstring>

#include "platform/posix/posix_env.h"

namespace platform {
namespace {

const char kMagic[] = "INKORA-HIVE 1";
const char kHex[] = "0123456789abcdef";

void Escape(const std::string& in, std::string* out) {
  for (unsigned char c : in) {
    if (c > ' ' && c <= '~' && c != '%') {
      out->push_back(static_cast<char>(c));
    } else {
      out->push_back('%');
      out->push_back(kHex[c >> 4]);
      out->push_back(kHex[c & 15]);
    }
  }
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool Unescape(const std::string& in, std::string* out) {
  out->clear();
  for (size_t i = 0; i < in.size(); ++i) {
    if (in[i] != '%') {
      out->push_back(in[i]);
      continue;
    }
    if (i + 2 >= in.size()) return false;
    int hi = HexDigit(in[i + 1]), lo = HexDigit(in[i + 2]);
    if (hi < 0 || lo < 0) return false;
    out->push_back(static_cast<char>(hi * 16 + lo));
    i += 2;
  }
  return true;
}

bool UnHex(const std::string& in, std::string* out) {
  if (in == "-") {
    out->clear();
    return true;
  }
  if (in.size() % 2 != 0) return false;
  out->resize(in.size() / 2);
  for (size_t i = 0; i < out->size(); ++i) {
    int hi = HexDigit(in[2 * i]), lo = HexDigit(in[2 * i + 1]);
    if (hi < 0 || lo < 0) return false;
    (*out)[i] = static_cast<char>(hi * 16 + lo);
  }
  return true;
}

// Splits a line at single blanks.
std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> f;
  size_t start = 0;
  while (true) {
    size_t sp = line.find(' ', start);
    f.push_back(line.substr(start, sp == std::string::npos ? std::string::npos : sp - start));
    if (sp == std::string::npos) break;
    start = sp + 1;
  }
  return f;
}

}  // namespace

std::string SerializeHive(const Hive& hive) {
  std::string out = kMagic;
  out += '\n';
  for (const HiveKey& key : hive.keys) {
    out += "key ";
    Escape(key.path, &out);
    out += '\n';
    for (const HiveValue& v : key.values) {
      out += "value ";
      Escape(v.name, &out);
      char type[16];
      std::snprintf(type, sizeof(type), " %u ", v.type);
      out += type;
      if (v.data.empty()) out += '-';
      for (unsigned char c : v.data) {
        out.push_back(kHex[c >> 4]);
        out.push_back(kHex[c & 15]);
      }
      out += '\n';
    }
  }
  return out;
}

bool ParseHive(const std::string& text, Hive* hive, std::string* error) {
  hive->keys.clear();
  size_t pos = 0;
  size_t lineNo = 0;
  auto fail = [&](const char* what) {
    *error = "line " + std::to_string(lineNo) + ": " + what;
    hive->keys.clear();
    return false;
  };
  bool sawMagic = false;
  while (pos < text.size()) {
    ++lineNo;
    size_t nl = text.find('\n', pos);
    if (nl == std::string::npos) return fail("missing line end (truncated file)");
    std::string line = text.substr(pos, nl - pos);
    pos = nl + 1;
    if (!sawMagic) {
      if (line != kMagic) return fail("not a hive file");
      sawMagic = true;
      continue;
    }
    std::vector<std::string> f = Fields(line);
    if (f[0] == "key" && f.size() == 2) {
      HiveKey key;
      if (!Unescape(f[1], &key.path) || key.path.empty()) return fail("bad key name");
      hive->keys.push_back(std::move(key));
    } else if (f[0] == "value" && f.size() == 4) {
      if (hive->keys.empty()) return fail("value outside a key");
      HiveValue v;
      if (!Unescape(f[1], &v.name)) return fail("bad value name");
      if (f[2].empty() || f[2].size() > 10 || f[2].find_first_not_of("0123456789") != std::string::npos)
        return fail("bad value type");
      unsigned long type = std::strtoul(f[2].c_str(), nullptr, 10);
      if (type > 0xFFFFFFFFul) return fail("bad value type");
      v.type = static_cast<uint32_t>(type);
      if (!UnHex(f[3], &v.data)) return fail("bad value data");
      if (v.data.size() > 0xFFFFFFFFu) return fail("value too large");
      hive->keys.back().values.push_back(std::move(v));
    } else {
      return fail("unknown line");
    }
  }
  if (!sawMagic) {
    // An empty file is an empty hive (a crash can never leave one: writes are
    // renamed into place, but a person may create it).
    if (text.empty()) return true;
    return fail("not a hive file");
  }
  return true;
}

}  // namespace platform
