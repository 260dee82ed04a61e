#include "json/reader.h"

#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <exception>
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

// '"', '/', '\\', b, f, n, r and t, as bits of two words (all lie below 0x80).
inline bool IsEscapeChar(unsigned char c) {
  constexpr uint64_t kBits[2] = {(1ull << '"') | (1ull << '/'),
                                 (1ull << ('\\' - 64)) | (1ull << ('b' - 64)) | (1ull << ('f' - 64)) |
                                     (1ull << ('n' - 64)) | (1ull << ('r' - 64)) | (1ull << ('t' - 64))};
  return c < 128 && ((kBits[c >> 6] >> (c & 63)) & 1) != 0;
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

// ---- The lexer ----------------------------------------------------------------
// Cuts the text into tokens with the tokenizer's messages and positions. A
// text is cut twice: once whole before parsing, so a lexical fault anywhere is
// reported before any structural one and every container can be sized once,
// then token by token under the parser. Positions are kept as offsets; line
// and column are worked out only for a message. Every index is tested against
// the size: nothing relies on a NUL after the text or on an earlier cut.

struct Token {
  TokenKind kind = kObjectBegin;
  uint32_t begin = 0;
  uint32_t end = 0;
  bool escaped = false;  // a string with escapes to replace
};

class Lexer {
 public:
  Lexer(const char* text, size_t size) : m_text(text), m_size(size) {}

  // The next token, or false at the end of the text. Inlined into both cuts
  // (a call per token costs more than cutting most tokens), and run on a
  // local position: a member would be stored at every byte, as the text's
  // bytes may alias it.
  [[gnu::always_inline]] bool Next(Token& t) {
    const char* const text = m_text;
    const size_t size = m_size;
    size_t pos = m_pos;
    while (pos < size && IsWhite(static_cast<unsigned char>(text[pos]))) ++pos;
    if (pos >= size) {
      m_pos = pos;
      return false;
    }
    t.begin = static_cast<uint32_t>(pos);
    t.escaped = false;
    const unsigned char c = static_cast<unsigned char>(text[pos]);
    switch (c) {
      case '{':
        t.kind = kObjectBegin;
        ++pos;
        break;
      case '}':
        t.kind = kObjectEnd;
        ++pos;
        break;
      case '[':
        t.kind = kArrayBegin;
        ++pos;
        break;
      case ']':
        t.kind = kArrayEnd;
        ++pos;
        break;
      case ',':
        t.kind = kNextElement;
        ++pos;
        break;
      case ':':
        t.kind = kMemberAssign;
        ++pos;
        break;
      case '"':
        t.kind = kStringToken;
        pos = MatchString(pos, &t.escaped);
        break;
      case 't':
        t.kind = kBooleanToken;
        pos = MatchExpectedString(pos, "true");
        break;
      case 'f':
        t.kind = kBooleanToken;
        pos = MatchExpectedString(pos, "false");
        break;
      case 'n':
        t.kind = kNullToken;
        pos = MatchExpectedString(pos, "null");
        break;
      default:
        if (c != '-' && (c < '0' || c > '9')) UnexpectedCharacter(pos);
        t.kind = kNumberToken;
        while (pos < size && IsNumberChar(static_cast<unsigned char>(text[pos]))) ++pos;
        break;
    }
    t.end = static_cast<uint32_t>(pos);
    m_pos = pos;
    return true;
  }

 private:
  // The faults, out of the way of the cut.
  [[noreturn, gnu::noinline]] void UnexpectedCharacter(size_t pos) const {
    throw ScanException(std::string("Unexpected character in stream: ") + m_text[pos],
                        LocationOf(m_text, pos));
  }
  [[noreturn, gnu::noinline]] void UnrecognizedEscape(size_t pos) const {  // pos: after the escape
    throw ScanException(std::string("Unrecognized escape sequence found in string: \\") + m_text[pos - 1],
                        LocationOf(m_text, pos));
  }
  [[noreturn, gnu::noinline]] void ExpectedString(const char* literal, size_t pos) const {
    throw ScanException(std::string("Expected string: ") + literal, LocationOf(m_text, pos));
  }

  // Past the literal at pos.
  template <size_t kSize>
  size_t MatchExpectedString(size_t pos, const char (&literal)[kSize]) const {
    constexpr size_t kLength = kSize - 1;
    if (m_size - pos >= kLength && std::memcmp(m_text + pos, literal, kLength) == 0) return pos + kLength;
    // Where the text ends or first differs.
    for (const char* l = literal; *l; ++l) {
      if (pos >= m_size) ExpectedString(literal, pos);
      if (m_text[pos++] != *l) ExpectedString(literal, pos);
    }
    return pos;
  }

  // Past the closing quote of the string whose opening quote is at pos;
  // *escaped tells whether escapes were met.
  [[gnu::always_inline]] size_t MatchString(size_t pos, bool* escaped) const {
    const char* const text = m_text;
    const size_t size = m_size;
    ++pos;  // the opening quote
    while (pos < size) {
      pos = static_cast<size_t>(FindQuoteOrSlash(text + pos, text + size) - text);
      if (pos >= size || text[pos] == '"') break;
      ++pos;  // the backslash; one as the text's last byte is kept as it is
      if (pos < size) {
        if (!IsEscapeChar(static_cast<unsigned char>(text[pos++]))) UnrecognizedEscape(pos);
        *escaped = true;
      }
    }
    if (pos >= size) ExpectedString("\"", pos);
    return pos + 1;  // the closing quote
  }

  const char* m_text;
  size_t m_size;
  size_t m_pos = 0;
};

// The first cut: the whole text through the lexer, noting for every container
// (in the order they open) how many members or elements it gets.
std::vector<uint32_t> SizeContainers(const char* text, size_t size) {
  constexpr uint32_t kObjectBit = 0x80000000u;
  std::vector<uint32_t> sizes;
  std::vector<uint32_t> open;  // index into sizes, kObjectBit for an object
  size_t deeper = 0;           // containers open past the nesting limit: not sized, the parser refuses them
  const auto countValue = [&] {
    if (!open.empty() && !(open.back() & kObjectBit)) ++sizes[open.back()];
  };
  Lexer lexer(text, size);
  Token t;
  while (lexer.Next(t)) {
    switch (t.kind) {
      case kObjectBegin:
      case kArrayBegin:
        countValue();
        if (open.size() + deeper >= Reader::kMaxDepth) {
          ++deeper;
        } else {
          open.push_back(static_cast<uint32_t>(sizes.size()) | (t.kind == kObjectBegin ? kObjectBit : 0));
          sizes.push_back(0);
        }
        break;
      case kObjectEnd:
      case kArrayEnd:
        if (deeper > 0) {
          --deeper;
        } else if (!open.empty()) {
          open.pop_back();
        }
        break;
      case kNextElement:
        break;
      case kMemberAssign:
        if (!open.empty() && (open.back() & kObjectBit)) ++sizes[open.back() & ~kObjectBit];
        break;
      default:
        countValue();
        break;
    }
  }
  return sizes;
}

// The second cut, one token ahead of the parser, and the values of its tokens.
class TokenStream {
 public:
  TokenStream(const char* text, size_t size) : m_text(text), m_lexer(text, size) { Advance(); }

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

  // A string token runs from its opening quote past its closing one.
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
      if (end - p >= 2) {
        value.push_back(Unescape(static_cast<unsigned char>(p[1])));
        p += 2;
      } else {
        p = end;
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
  void Advance() { m_atEnd = !m_lexer.Next(m_current); }

  const char* m_text;
  Lexer m_lexer;
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

// What a typed handle reading a text of another root fails with.
const char kOtherRoot[] = "Type/ImpType mismatch";

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
  const std::vector<uint32_t> sizes = SizeContainers(text, size);
  TokenStream tokens(text, size);
  Parser parser(tokens, sizes);
  parser.Parse(element, 0);
  if (!tokens.EndOfStream()) {
    const Token& token = tokens.Peek();
    throw ParseException("Expected End of token stream; found " + tokens.Text(token),
                         tokens.LocationAt(token.begin), tokens.LocationAt(token.end));
  }
}

void Reader::ReadTyped(ElementType type, Element& element, const char* text, size_t size) {
  if (!ReadRoot(type, element, text, size)) throw Exception(kOtherRoot);
}

bool Reader::ReadRoot(ElementType type, Element& element, const char* text, size_t size) {
  // Read aside: a failed or other root must not reach a typed handle.
  Element root;
  Read(root, text, size);
  if (root.Type() != type) return false;
  element = std::move(root);
  return true;
}

ObjectRead Reader::ReadObject(const char* text) {
  return ReadObject(text, std::strlen(text));
}

ObjectRead Reader::ReadObject(const std::string& text) {
  return ReadObject(text.data(), text.size());
}

ObjectRead Reader::ReadObject(const char* text, size_t size) {
  ObjectRead result;
  try {
    result.ok = ReadRoot(kObjectType, result.object, text, size);
    result.otherRoot = !result.ok;
    if (result.otherRoot) result.error = kOtherRoot;
  } catch (const std::exception& e) {
    result.error = e.what();
  }
  return result;
}

}  // namespace json
