#include "json/reader.h"

#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <vector>

namespace json {

// The reader builds implementations directly, without the type tests of the
// public handles (it has just made the implementation it fills).
class ReaderAccess {
 public:
  static ElementImp* Imp(Element& element) { return element.m_imp; }
  static void Reset(Element& element, ElementImp* imp) { element.Reset(imp); }
};

namespace {

enum TokenKind : uint32_t {
  kObjectBegin = 0,
  kObjectEnd = 1,
  kArrayBegin = 2,
  kArrayEnd = 3,
  kNextElement = 4,
  kMemberAssign = 5,
  kStringToken = 6,
  kNumberToken = 7,
  kBooleanToken = 8,
  kNullToken = 9,
};

// isspace of the "C" locale; bytes of 0x80 and above are never white space.
inline bool IsWhite(unsigned char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

inline bool IsNumberChar(unsigned char c) {
  return (c >= '0' && c <= '9') || c == '.' || c == 'e' || c == 'E' || c == '-' || c == '+';
}

inline bool IsEscapeChar(unsigned char c) {
  return c == '"' || c == '/' || c == '\\' || c == 'b' || c == 'f' || c == 'n' || c == 'r' || c == 't';
}

inline char Unescape(unsigned char c) {
  switch (c) {
    case 'b':
      return '\b';
    case 'f':
      return '\f';
    case 'n':
      return '\n';
    case 'r':
      return '\r';
    case 't':
      return '\t';
    default:
      return static_cast<char>(c);  // '"', '/', '\\'
  }
}

// The first '"' or '\\' in [p, end), or end. Strings are mostly short
// names, where a library call per string costs more than the search: eight
// bytes are tested at a time with the has-zero-byte bit trick instead.
inline const char* FindQuoteOrSlash(const char* p, const char* end) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  constexpr uint64_t kOnes = 0x0101010101010101ull;
  constexpr uint64_t kHigh = 0x8080808080808080ull;
  while (end - p >= 8) {
    uint64_t word;
    std::memcpy(&word, p, sizeof word);
    const uint64_t quote = word ^ (kOnes * '"');
    const uint64_t slash = word ^ (kOnes * '\\');
    // A byte's high bit is set where the byte is zero; a false one can only
    // stand above a true one, so the lowest set bit is the first match.
    const uint64_t hits = (((quote - kOnes) & ~quote) | ((slash - kOnes) & ~slash)) & kHigh;
    if (hits != 0) return p + (__builtin_ctzll(hits) >> 3);
    p += 8;
  }
#endif
  while (p < end && *p != '"' && *p != '\\') ++p;
  return p;
}

// ---- Pass one: the scan ------------------------------------------------------
// Checks the whole text lexically, with the tokenizer's messages and positions,
// and notes for every container (in the order they open) how many members or
// elements it gets, so the parser can size each one once. Positions are kept
// as offsets; line and column are worked out only for a message.

class Scanner {
 public:
  Scanner(const char* text, size_t size, std::vector<uint32_t>& sizes)
      : m_text(text), m_size(size), m_sizes(sizes) {}

  void Run() {
    EatWhiteSpace();
    while (m_pos < m_size) {
      const unsigned char c = static_cast<unsigned char>(m_text[m_pos]);
      switch (c) {
        case '{':
        case '[':
          CountValue();
          Open(c == '{');
          ++m_pos;
          break;
        case '}':
        case ']':
          Close();
          ++m_pos;
          break;
        case ',':
          ++m_pos;
          break;
        case ':':
          if (!m_open.empty() && (m_open.back() & kObjectBit)) ++m_sizes[m_open.back() & ~kObjectBit];
          ++m_pos;
          break;
        case '"':
          CountValue();
          MatchString();
          break;
        case 't':
          CountValue();
          MatchExpectedString("true");
          break;
        case 'f':
          CountValue();
          MatchExpectedString("false");
          break;
        case 'n':
          CountValue();
          MatchExpectedString("null");
          break;
        default:
          if (c == '-' || (c >= '0' && c <= '9')) {
            CountValue();
            while (m_pos < m_size && IsNumberChar(static_cast<unsigned char>(m_text[m_pos]))) ++m_pos;
            break;
          }
          throw ScanException(std::string("Unexpected character in stream: ") + static_cast<char>(c),
                              LocationOf(m_text, m_pos));
      }
      EatWhiteSpace();
    }
  }

 private:
  static constexpr uint32_t kObjectBit = 0x80000000u;

  void EatWhiteSpace() {
    while (m_pos < m_size && IsWhite(static_cast<unsigned char>(m_text[m_pos]))) ++m_pos;
  }

  void CountValue() {
    if (!m_open.empty() && !(m_open.back() & kObjectBit)) ++m_sizes[m_open.back()];
  }

  void Open(bool object) {
    // Containers past the nesting limit are not sized: the parser refuses them.
    if (m_open.size() + m_deeper >= Reader::kMaxDepth) {
      ++m_deeper;
      return;
    }
    m_open.push_back(static_cast<uint32_t>(m_sizes.size()) | (object ? kObjectBit : 0));
    m_sizes.push_back(0);
  }

  void Close() {
    if (m_deeper > 0) {
      --m_deeper;
    } else if (!m_open.empty()) {
      m_open.pop_back();
    }
  }

  [[noreturn]] void ExpectedString(const char* literal) {
    throw ScanException(std::string("Expected string: ") + literal, LocationOf(m_text, m_pos));
  }

  void MatchExpectedString(const char* literal) {
    for (const char* l = literal; *l; ++l) {
      if (m_pos >= m_size) ExpectedString(literal);
      if (m_text[m_pos++] != *l) ExpectedString(literal);
    }
  }

  void MatchString() {
    ++m_pos;  // the opening quote
    while (m_pos < m_size) {
      m_pos = static_cast<size_t>(FindQuoteOrSlash(m_text + m_pos, m_text + m_size) - m_text);
      if (m_pos >= m_size) break;
      const char c = m_text[m_pos];
      if (c == '"') break;
      ++m_pos;
      if (c == '\\' && m_pos < m_size) {
        const unsigned char e = static_cast<unsigned char>(m_text[m_pos++]);
        if (!IsEscapeChar(e)) {
          throw ScanException(
              std::string("Unrecognized escape sequence found in string: \\") + static_cast<char>(e),
              LocationOf(m_text, m_pos));
        }
      }
    }
    if (m_pos >= m_size) ExpectedString("\"");
    ++m_pos;  // the closing quote
  }

  const char* m_text;
  size_t m_size;
  size_t m_pos = 0;
  std::vector<uint32_t>& m_sizes;
  std::vector<uint32_t> m_open;
  size_t m_deeper = 0;
};

// ---- Pass two: tokens and the parser ---------------------------------------------
// The token stream cuts the (lexically sound) text again, one token ahead.

struct Token {
  TokenKind kind = kObjectBegin;
  uint32_t begin = 0;
  uint32_t end = 0;
  bool escaped = false;  // a string with escapes to replace
};

class TokenStream {
 public:
  TokenStream(const char* text, size_t size) : m_text(text), m_size(size) { Advance(); }

  bool EndOfStream() const { return m_atEnd; }
  const Token& Peek() const { return m_current; }
  Token Get() {
    Token token = m_current;
    Advance();
    return token;
  }

  std::string Text(const Token& token) const {
    switch (token.kind) {
      case kStringToken:
        return StringValue(token);
      case kNumberToken:
      case kBooleanToken:
      case kNullToken:
        return std::string(m_text + token.begin, token.end - token.begin);
      default:
        return std::string();
    }
  }

  std::string StringValue(const Token& token) const {
    const char* p = m_text + token.begin + 1;
    const char* end = m_text + token.end - 1;
    if (!token.escaped) return std::string(p, end);
    std::string value;
    value.reserve(static_cast<size_t>(end - p));
    while (p < end) {
      const char* run = p;
      while (p < end && *p != '\\') ++p;
      value.append(run, p);
      if (p < end) {
        value.push_back(Unescape(static_cast<unsigned char>(p[1])));
        p += 2;
      }
    }
    return value;
  }

  double NumberValue(const Token& token) const {
    const char* first = m_text + token.begin;
    const char* last = m_text + token.end;
    double value = 0;
    const std::from_chars_result result = std::from_chars(first, last, value);
    if (result.ec == std::errc::result_out_of_range) {
      // strtod's answer (plus or minus HUGE_VAL, or the nearest tiny value).
      const std::string copy(first, last);
      return std::strtod(copy.c_str(), nullptr);
    }
    return result.ec == std::errc() ? value : 0.0;
  }

  bool BooleanValue(const Token& token) const { return m_text[token.begin] == 't'; }

  Location LocationAt(uint32_t offset) const { return LocationOf(m_text, offset); }

 private:
  void Advance() {
    while (m_pos < m_size && IsWhite(static_cast<unsigned char>(m_text[m_pos]))) ++m_pos;
    if (m_pos >= m_size) {
      m_atEnd = true;
      return;
    }
    Token& t = m_current;
    t.begin = static_cast<uint32_t>(m_pos);
    t.escaped = false;
    const char c = m_text[m_pos];
    switch (c) {
      case '{':
        t.kind = kObjectBegin;
        ++m_pos;
        break;
      case '}':
        t.kind = kObjectEnd;
        ++m_pos;
        break;
      case '[':
        t.kind = kArrayBegin;
        ++m_pos;
        break;
      case ']':
        t.kind = kArrayEnd;
        ++m_pos;
        break;
      case ',':
        t.kind = kNextElement;
        ++m_pos;
        break;
      case ':':
        t.kind = kMemberAssign;
        ++m_pos;
        break;
      case '"': {
        t.kind = kStringToken;
        ++m_pos;
        // The scan has proven the closing quote is there.
        for (;;) {
          m_pos = static_cast<size_t>(FindQuoteOrSlash(m_text + m_pos, m_text + m_size) - m_text);
          if (m_text[m_pos] == '"') break;
          t.escaped = true;
          m_pos += 2;  // the backslash and the (proven) escape character
        }
        ++m_pos;
        break;
      }
      case 't':
        t.kind = kBooleanToken;
        m_pos += 4;
        break;
      case 'f':
        t.kind = kBooleanToken;
        m_pos += 5;
        break;
      case 'n':
        t.kind = kNullToken;
        m_pos += 4;
        break;
      default:
        t.kind = kNumberToken;
        while (m_pos < m_size && IsNumberChar(static_cast<unsigned char>(m_text[m_pos]))) ++m_pos;
        break;
    }
    t.end = static_cast<uint32_t>(m_pos);
  }

  const char* m_text;
  size_t m_size;
  size_t m_pos = 0;
  bool m_atEnd = false;
  Token m_current;
};

// The names of the object being read, for the duplicate test. A scan of its
// members while it is small, as for any object; past that an open-addressed
// table of them by the hash of the name, so a big object reads in linear time.
class NameSet {
 public:
  bool Contains(const ObjectImp& imp, const std::string& name) const {
    if (m_slots.empty()) return imp.IndexOf(name) != imp.members().size();
    const size_t mask = m_slots.size() - 1;
    for (size_t slot = Hash(name) & mask;; slot = (slot + 1) & mask) {
      const Member* member = m_slots[slot];
      if (member == nullptr) return false;
      if (member->name == name) return true;
    }
  }

  // member has just been appended to imp.
  void Added(const ObjectImp& imp, const Member& member) {
    const size_t count = imp.members().size();
    if (m_slots.empty() && count <= kScanned) return;  // still scanned
    if (count * 2 > m_slots.size()) {
      std::vector<const Member*>(SlotsFor(count), nullptr).swap(m_slots);
      for (const Member& each : imp.members()) Put(each);
    } else {
      Put(member);
    }
  }

 private:
  static constexpr size_t kScanned = 16;

  static size_t SlotsFor(size_t count) {
    size_t slots = 64;
    while (slots < count * 2) slots *= 2;
    return slots;
  }
  static size_t Hash(const std::string& name) { return std::hash<std::string>()(name); }

  // The reader lets no name in twice, so every name gets a slot of its own.
  void Put(const Member& member) {
    const size_t mask = m_slots.size() - 1;
    size_t slot = Hash(member.name) & mask;
    while (m_slots[slot] != nullptr) slot = (slot + 1) & mask;
    m_slots[slot] = &member;
  }

  std::vector<const Member*> m_slots;  // empty while the object is scanned
};

class Parser {
 public:
  Parser(TokenStream& tokens, const std::vector<uint32_t>& sizes) : m_tokens(tokens), m_sizes(sizes) {}

  void Parse(Element& element, unsigned depth) {
    if (m_tokens.EndOfStream())
      throw ParseException("Unexpected end of token stream", Location(), Location());
    const Token& token = m_tokens.Peek();
    switch (token.kind) {
      case kObjectBegin: {
        CheckDepth(token, depth);
        auto* imp = new ObjectImp();
        ReaderAccess::Reset(element, imp);
        ParseObject(*imp, depth + 1);
        break;
      }
      case kArrayBegin: {
        CheckDepth(token, depth);
        auto* imp = new ArrayImp();
        ReaderAccess::Reset(element, imp);
        ParseArray(*imp, depth + 1);
        break;
      }
      case kStringToken:
        ReaderAccess::Reset(element, new String::ImpType(m_tokens.StringValue(m_tokens.Get())));
        break;
      case kNumberToken:
        ReaderAccess::Reset(element, new Number::ImpType(m_tokens.NumberValue(m_tokens.Get())));
        break;
      case kBooleanToken:
        ReaderAccess::Reset(element, new Boolean::ImpType(m_tokens.BooleanValue(m_tokens.Get())));
        break;
      case kNullToken:
        ReaderAccess::Reset(element, NullImp::Shared());
        m_tokens.Get();
        break;
      default:
        throw Unexpected(token);
    }
  }

 private:
  ParseException Unexpected(const Token& token) const {
    return ParseException("Unexpected token: " + m_tokens.Text(token), m_tokens.LocationAt(token.begin),
                          m_tokens.LocationAt(token.end));
  }

  void CheckDepth(const Token& token, unsigned depth) const {
    if (depth >= Reader::kMaxDepth) {
      throw ParseException("Nesting too deep: more than " + std::to_string(Reader::kMaxDepth) + " levels",
                           m_tokens.LocationAt(token.begin), m_tokens.LocationAt(token.end));
    }
  }

  Token MatchExpectedToken(TokenKind kind) {
    if (m_tokens.EndOfStream())
      throw ParseException("Unexpected End of token stream", Location(), Location());
    Token token = m_tokens.Get();
    if (token.kind != kind) throw Unexpected(token);
    return token;
  }

  size_t NextSize() {
    // The scan sized every container it saw; the hint only reserves room.
    return m_nextSize < m_sizes.size() ? m_sizes[m_nextSize++] : 0;
  }

  void ParseObject(ObjectImp& imp, unsigned depth) {
    MatchExpectedToken(kObjectBegin);
    imp.Reserve(NextSize());
    NameSet names;
    if (m_tokens.EndOfStream() || m_tokens.Peek().kind == kObjectEnd) {
      MatchExpectedToken(kObjectEnd);
      return;
    }
    for (;;) {
      const Token nameToken = MatchExpectedToken(kStringToken);
      std::string name = m_tokens.StringValue(nameToken);
      MatchExpectedToken(kMemberAssign);
      Element value;
      Parse(value, depth);
      if (names.Contains(imp, name)) {
        throw ParseException("Duplicate object member token: " + name, m_tokens.LocationAt(nameToken.begin),
                             m_tokens.LocationAt(nameToken.end));
      }
      names.Added(imp, imp.Append(Member(std::move(name), std::move(value))));
      if (m_tokens.EndOfStream() || m_tokens.Peek().kind != kNextElement) break;
      m_tokens.Get();
    }
    MatchExpectedToken(kObjectEnd);
  }

  void ParseArray(ArrayImp& imp, unsigned depth) {
    MatchExpectedToken(kArrayBegin);
    std::vector<Element>& elements = imp.elements();
    elements.reserve(NextSize());
    if (m_tokens.EndOfStream() || m_tokens.Peek().kind == kArrayEnd) {
      MatchExpectedToken(kArrayEnd);
      return;
    }
    for (;;) {
      // A value that fails to read leaves no half-read slot behind.
      elements.emplace_back();
      try {
        Parse(elements.back(), depth);
      } catch (...) {
        elements.pop_back();
        throw;
      }
      if (m_tokens.EndOfStream() || m_tokens.Peek().kind != kNextElement) break;
      m_tokens.Get();
    }
    MatchExpectedToken(kArrayEnd);
  }

  TokenStream& m_tokens;
  const std::vector<uint32_t>& m_sizes;
  size_t m_nextSize = 0;
};

}  // namespace

Location LocationOf(const char* text, size_t offset) {
  Location location;
  location.offset = static_cast<uint32_t>(offset);
  size_t lineStart = 0;
  for (size_t i = 0; i < offset; ++i) {
    if (text[i] == '\n') {
      ++location.line;
      lineStart = i + 1;
    }
  }
  location.column = static_cast<uint32_t>(offset - lineStart);
  return location;
}

void Reader::Read(Element& element, const char* text) {
  Read(element, text, std::strlen(text));
}

void Reader::Read(Element& element, const std::string& text) {
  Read(element, text.data(), text.size());
}

void Reader::Read(Element& element, const char* text, size_t size) {
  // Positions are 32-bit.
  if (size > std::numeric_limits<uint32_t>::max()) throw Exception("JSON text too large");
  std::vector<uint32_t> sizes;
  Scanner(text, size, sizes).Run();
  TokenStream tokens(text, size);
  Parser parser(tokens, sizes);
  parser.Parse(element, 0);
  if (!tokens.EndOfStream()) {
    const Token& token = tokens.Peek();
    throw ParseException("Expected End of token stream; found " + tokens.Text(token),
                         tokens.LocationAt(token.begin), tokens.LocationAt(token.end));
  }
}

}  // namespace json
