#include "standins/embedding/ui_value.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace tarnwick::standin {

UiValue UiValue::Bool(bool b) {
  UiValue v;
  v.type = b ? WireType::kTrue : WireType::kFalse;
  return v;
}

UiValue UiValue::Int32(int32_t i) {
  UiValue v;
  v.type = WireType::kInt32;
  v.integer = i;
  return v;
}

UiValue UiValue::Int64(int64_t i) {
  UiValue v;
  v.type = WireType::kInt64;
  v.integer = i;
  return v;
}

UiValue UiValue::String(std::string s) {
  UiValue v;
  v.type = WireType::kString;
  v.text = std::move(s);
  return v;
}

namespace {

// The host's value alternatives are ordered null, bool, int32, int64,
// double, string, bytes, int32 list, int64 list, double list, list, map,
// custom, float list; true and false are one alternative.
int AlternativeIndex(WireType type) {
  switch (type) {
    case WireType::kNull: return 0;
    case WireType::kTrue:
    case WireType::kFalse: return 1;
    case WireType::kInt32: return 2;
    case WireType::kInt64: return 3;
    case WireType::kDouble: return 4;
    case WireType::kString: return 5;
    case WireType::kBytes: return 6;
    case WireType::kInt32List: return 7;
    case WireType::kInt64List: return 8;
    case WireType::kDoubleList: return 9;
    case WireType::kList: return 10;
    case WireType::kMap: return 11;
    case WireType::kFloatList: return 13;
  }
  return 12;
}

template <typename T, typename Less>
bool Lexicographic(const std::vector<T>& a, const std::vector<T>& b, Less less) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), less);
}

bool MapLess(const UiValue& a, const UiValue& b) {
  // Entry by entry, key first and then value, as ordered maps compare.
  const size_t n = std::min(a.items.size(), b.items.size()) / 2;
  for (size_t i = 0; i < n; ++i) {
    for (size_t k = 0; k < 2; ++k) {
      const UiValue& x = a.items[2 * i + k];
      const UiValue& y = b.items[2 * i + k];
      if (ValueLess(x, y)) return true;
      if (ValueLess(y, x)) return false;
    }
  }
  return a.items.size() < b.items.size();
}

void WriteSize(size_t n, std::vector<uint8_t>* out) {
  if (n < 254) {
    out->push_back(static_cast<uint8_t>(n));
  } else if (n <= 0xffff) {
    out->push_back(254);
    out->push_back(static_cast<uint8_t>(n));
    out->push_back(static_cast<uint8_t>(n >> 8));
  } else {
    out->push_back(255);
    for (int i = 0; i < 4; ++i) out->push_back(static_cast<uint8_t>(n >> (8 * i)));
  }
}

void WriteLittle(uint64_t bits, size_t width, std::vector<uint8_t>* out) {
  for (size_t i = 0; i < width; ++i) out->push_back(static_cast<uint8_t>(bits >> (8 * i)));
}

void Pad(size_t alignment, std::vector<uint8_t>* out) {
  while (out->size() % alignment != 0) out->push_back(0);
}

uint64_t DoubleBits(double d) {
  uint64_t bits;
  std::memcpy(&bits, &d, sizeof bits);
  return bits;
}

uint32_t FloatBits(float f) {
  uint32_t bits;
  std::memcpy(&bits, &f, sizeof bits);
  return bits;
}

// ---- strict decoding ----

struct Reader {
  const uint8_t* bytes;
  size_t size;
  size_t* offset;

  size_t Left() const { return size - *offset; }

  bool Read(size_t n, uint64_t* little) {
    if (n > Left()) return false;
    uint64_t v = 0;
    for (size_t i = 0; i < n; ++i) v |= static_cast<uint64_t>(bytes[*offset + i]) << (8 * i);
    *offset += n;
    *little = v;
    return true;
  }

  bool ReadSize(size_t* n) {
    uint64_t first;
    if (!Read(1, &first)) return false;
    uint64_t v = first;
    if (first == 254 && !Read(2, &v)) return false;
    if (first == 255 && !Read(4, &v)) return false;
    *n = static_cast<size_t>(v);
    return true;
  }

  bool Align(size_t alignment) {
    const size_t r = *offset % alignment;
    if (r == 0) return true;
    if (alignment - r > Left()) return false;
    *offset += alignment - r;
    return true;
  }
};

bool DecodeAt(Reader& r, UiValue* value, int depth);

bool DecodeNumbers(Reader& r, size_t width, UiValue* value) {
  size_t n;
  if (!r.ReadSize(&n)) return false;
  if (n == 0) return true;  // empty lists carry no padding
  if (!r.Align(width) || n > r.Left() / width) return false;
  for (size_t i = 0; i < n; ++i) {
    uint64_t bits;
    if (!r.Read(width, &bits)) return false;
    switch (value->type) {
      case WireType::kInt32List:
        value->integers.push_back(static_cast<int32_t>(static_cast<uint32_t>(bits)));
        break;
      case WireType::kInt64List: value->integers.push_back(static_cast<int64_t>(bits)); break;
      case WireType::kFloatList: {
        float f;
        const uint32_t b32 = static_cast<uint32_t>(bits);
        std::memcpy(&f, &b32, sizeof f);
        value->reals.push_back(f);
        break;
      }
      default: {
        double d;
        std::memcpy(&d, &bits, sizeof d);
        value->reals.push_back(d);
        break;
      }
    }
  }
  return true;
}

bool DecodeAt(Reader& r, UiValue* value, int depth) {
  if (depth > kMaxNesting) return false;
  uint64_t type;
  if (!r.Read(1, &type)) return false;
  *value = UiValue();
  uint64_t bits;
  size_t n;
  switch (type) {
    case 0: return true;
    case 1: value->type = WireType::kTrue; return true;
    case 2: value->type = WireType::kFalse; return true;
    case 3:
      if (!r.Read(4, &bits)) return false;
      value->type = WireType::kInt32;
      value->integer = static_cast<int32_t>(static_cast<uint32_t>(bits));
      return true;
    case 4:
      if (!r.Read(8, &bits)) return false;
      value->type = WireType::kInt64;
      value->integer = static_cast<int64_t>(bits);
      return true;
    case 6:
      if (!r.Align(8) || !r.Read(8, &bits)) return false;
      value->type = WireType::kDouble;
      std::memcpy(&value->real, &bits, sizeof bits);
      return true;
    case 5:
    case 7:
    case 8:
      if (!r.ReadSize(&n) || n > r.Left()) return false;
      value->type = type == 8 ? WireType::kBytes : WireType::kString;
      value->text.assign(reinterpret_cast<const char*>(r.bytes + *r.offset), n);
      *r.offset += n;
      return true;
    case 9: value->type = WireType::kInt32List; return DecodeNumbers(r, 4, value);
    case 10: value->type = WireType::kInt64List; return DecodeNumbers(r, 8, value);
    case 11: value->type = WireType::kDoubleList; return DecodeNumbers(r, 8, value);
    case 14: value->type = WireType::kFloatList; return DecodeNumbers(r, 4, value);
    case 12:
    case 13: {
      value->type = type == 12 ? WireType::kList : WireType::kMap;
      if (!r.ReadSize(&n)) return false;
      const size_t count = type == 12 ? n : 2 * n;
      // Every value takes at least its type byte.
      if (n > r.Left() || count > r.Left()) return false;
      value->items.resize(count);
      for (size_t i = 0; i < count; ++i) {
        if (!DecodeAt(r, &value->items[i], depth + 1)) return false;
      }
      return true;
    }
    default: return false;
  }
}

// ---- notation ----

struct Parser {
  const std::string& text;
  size_t pos;
  std::string error;

  void SkipBlanks() {
    while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t')) ++pos;
  }

  bool Fail(const std::string& what) {
    error = what + " at column " + std::to_string(pos + 1);
    return false;
  }

  bool Take(char c) {
    SkipBlanks();
    if (pos < text.size() && text[pos] == c) {
      ++pos;
      return true;
    }
    return false;
  }

  std::string Word() {
    SkipBlanks();
    const size_t start = pos;
    while (pos < text.size() &&
           (std::isalnum(static_cast<unsigned char>(text[pos])) || text[pos] == '_')) {
      ++pos;
    }
    return text.substr(start, pos - start);
  }

  // A number token: integer (optionally with L) or real.
  bool Number(UiValue* v) {
    SkipBlanks();
    const size_t start = pos;
    if (pos < text.size() && text[pos] == '-') ++pos;
    const size_t digits = pos;
    while (pos < text.size() && std::isdigit(static_cast<unsigned char>(text[pos]))) ++pos;
    if (pos == digits) return Fail("expected a value");
    bool real = false;
    if (pos < text.size() && text[pos] == '.') {
      real = true;
      ++pos;
      while (pos < text.size() && std::isdigit(static_cast<unsigned char>(text[pos]))) ++pos;
    }
    if (pos < text.size() && (text[pos] == 'e' || text[pos] == 'E')) {
      real = true;
      ++pos;
      if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) ++pos;
      const size_t exponent = pos;
      while (pos < text.size() && std::isdigit(static_cast<unsigned char>(text[pos]))) ++pos;
      if (pos == exponent) return Fail("malformed number");
    }
    const std::string token = text.substr(start, pos - start);
    if (real) {
      v->type = WireType::kDouble;
      v->real = std::strtod(token.c_str(), nullptr);
      return true;
    }
    errno = 0;
    const long long parsed = std::strtoll(token.c_str(), nullptr, 10);
    if (errno == ERANGE) return Fail("integer out of range");
    const bool forced64 = pos < text.size() && text[pos] == 'L';
    if (forced64) ++pos;
    if (forced64 || parsed < std::numeric_limits<int32_t>::min() ||
        parsed > std::numeric_limits<int32_t>::max()) {
      v->type = WireType::kInt64;
    } else {
      v->type = WireType::kInt32;
    }
    v->integer = parsed;
    return true;
  }

  bool Quoted(std::string* out) {
    ++pos;  // the opening quote
    while (pos < text.size() && text[pos] != '"') {
      char c = text[pos++];
      if (c != '\\') {
        out->push_back(c);
        continue;
      }
      if (pos >= text.size()) break;
      c = text[pos++];
      switch (c) {
        case 'n': out->push_back('\n'); break;
        case 'r': out->push_back('\r'); break;
        case 't': out->push_back('\t'); break;
        case '"':
        case '\\': out->push_back(c); break;
        case 'x': {
          std::string digits = text.substr(pos, 2);
          char* end = nullptr;
          const long byte = std::strtol(digits.c_str(), &end, 16);
          if (digits.size() != 2 || end != digits.c_str() + 2 ||
              !std::isxdigit(static_cast<unsigned char>(digits[0]))) {
            return Fail("bad \\x escape");
          }
          out->push_back(static_cast<char>(byte));
          pos += 2;
          break;
        }
        default: return Fail(std::string("unknown escape \\") + c);
      }
    }
    if (pos >= text.size()) return Fail("unterminated string");
    ++pos;  // the closing quote
    return true;
  }

  bool NumberList(UiValue* v) {
    if (!Take('[')) return Fail("expected [");
    if (Take(']')) return true;
    do {
      UiValue element;
      if (!Number(&element)) return false;
      const bool integral = element.type != WireType::kDouble;
      switch (v->type) {
        case WireType::kBytes:
          if (!integral || element.integer < 0 || element.integer > 255) {
            return Fail("byte out of range");
          }
          v->text.push_back(static_cast<char>(element.integer));
          break;
        case WireType::kInt32List:
          if (element.type != WireType::kInt32) return Fail("not a 32-bit integer");
          v->integers.push_back(element.integer);
          break;
        case WireType::kInt64List:
          if (!integral) return Fail("not an integer");
          v->integers.push_back(element.integer);
          break;
        default:
          v->reals.push_back(integral ? static_cast<double>(element.integer) : element.real);
          break;
      }
    } while (Take(','));
    if (!Take(']')) return Fail("expected , or ]");
    return true;
  }

  bool Value(UiValue* v, int depth) {
    if (depth > kMaxNesting) return Fail("nested too deeply");
    *v = UiValue();
    SkipBlanks();
    if (pos >= text.size()) return Fail("expected a value");
    const char c = text[pos];
    if (c == '"') {
      v->type = WireType::kString;
      return Quoted(&v->text);
    }
    if (c == '[') {
      ++pos;
      v->type = WireType::kList;
      if (Take(']')) return true;
      do {
        v->items.emplace_back();
        if (!Value(&v->items.back(), depth + 1)) return false;
      } while (Take(','));
      return Take(']') || Fail("expected , or ]");
    }
    if (c == '{') {
      ++pos;
      v->type = WireType::kMap;
      std::vector<std::pair<UiValue, UiValue>> entries;
      if (!Take('}')) {
        do {
          entries.emplace_back();
          if (!Value(&entries.back().first, depth + 1)) return false;
          if (!Take(':')) return Fail("expected :");
          if (!Value(&entries.back().second, depth + 1)) return false;
        } while (Take(','));
        if (!Take('}')) return Fail("expected , or }");
      }
      std::stable_sort(entries.begin(), entries.end(),
                       [](const auto& a, const auto& b) { return ValueLess(a.first, b.first); });
      for (size_t i = 1; i < entries.size(); ++i) {
        if (!ValueLess(entries[i - 1].first, entries[i].first)) {
          return Fail("duplicate map key " + FormatValue(entries[i].first));
        }
      }
      for (auto& entry : entries) {
        v->items.push_back(std::move(entry.first));
        v->items.push_back(std::move(entry.second));
      }
      return true;
    }
    if (c == '-' || std::isdigit(static_cast<unsigned char>(c))) return Number(v);
    const size_t word_start = pos;
    const std::string word = Word();
    if (word == "null") return true;
    if (word == "true" || word == "false") {
      v->type = word == "true" ? WireType::kTrue : WireType::kFalse;
      return true;
    }
    if (word == "bytes")
      v->type = WireType::kBytes;
    else if (word == "i32")
      v->type = WireType::kInt32List;
    else if (word == "i64")
      v->type = WireType::kInt64List;
    else if (word == "f64")
      v->type = WireType::kDoubleList;
    else if (word == "f32")
      v->type = WireType::kFloatList;
    else {
      pos = word_start;
      return Fail("expected a value");
    }
    return NumberList(v);
  }
};

std::string FormatReal(double d) {
  if (std::isnan(d)) return "nan";
  if (std::isinf(d)) return d < 0 ? "-inf" : "inf";
  char buffer[40];
  // The shortest text that reads back as the same double.
  for (int precision = 1; precision <= 17; ++precision) {
    std::snprintf(buffer, sizeof buffer, "%.*g", precision, d);
    if (std::strtod(buffer, nullptr) == d) break;
  }
  std::string s = buffer;
  if (s.find_first_of(".e") == std::string::npos) s += ".0";
  return s;
}

template <typename T, typename F>
std::string Join(const std::vector<T>& items, F format) {
  std::string s;
  for (size_t i = 0; i < items.size(); ++i) {
    if (i > 0) s += ", ";
    s += format(items[i]);
  }
  return s;
}

}  // namespace

bool ValueLess(const UiValue& a, const UiValue& b) {
  const int ia = AlternativeIndex(a.type);
  const int ib = AlternativeIndex(b.type);
  if (ia != ib) return ia < ib;
  switch (a.type) {
    case WireType::kNull: return false;
    case WireType::kTrue:
    case WireType::kFalse: return a.type == WireType::kFalse && b.type == WireType::kTrue;
    case WireType::kInt32:
    case WireType::kInt64: return a.integer < b.integer;
    case WireType::kDouble: return a.real < b.real;
    case WireType::kString:
    case WireType::kBytes: return a.text < b.text;  // compares as unsigned bytes
    case WireType::kInt32List:
    case WireType::kInt64List: return a.integers < b.integers;
    case WireType::kDoubleList:
    case WireType::kFloatList: return a.reals < b.reals;
    case WireType::kList: return Lexicographic(a.items, b.items, ValueLess);
    case WireType::kMap: return MapLess(a, b);
  }
  return false;
}

bool ValueEqual(const UiValue& a, const UiValue& b) { return !ValueLess(a, b) && !ValueLess(b, a); }

void EncodeValue(const UiValue& value, std::vector<uint8_t>* out) {
  out->push_back(static_cast<uint8_t>(value.type));
  switch (value.type) {
    case WireType::kNull:
    case WireType::kTrue:
    case WireType::kFalse: return;
    case WireType::kInt32: WriteLittle(static_cast<uint64_t>(value.integer), 4, out); return;
    case WireType::kInt64: WriteLittle(static_cast<uint64_t>(value.integer), 8, out); return;
    case WireType::kDouble:
      Pad(8, out);
      WriteLittle(DoubleBits(value.real), 8, out);
      return;
    case WireType::kString:
    case WireType::kBytes:
      WriteSize(value.text.size(), out);
      out->insert(out->end(), value.text.begin(), value.text.end());
      return;
    case WireType::kInt32List:
    case WireType::kInt64List: {
      const size_t width = value.type == WireType::kInt32List ? 4 : 8;
      WriteSize(value.integers.size(), out);
      if (value.integers.empty()) return;
      Pad(width, out);
      for (int64_t i : value.integers) WriteLittle(static_cast<uint64_t>(i), width, out);
      return;
    }
    case WireType::kDoubleList:
    case WireType::kFloatList: {
      const bool single = value.type == WireType::kFloatList;
      WriteSize(value.reals.size(), out);
      if (value.reals.empty()) return;
      Pad(single ? 4 : 8, out);
      for (double d : value.reals) {
        if (single) {
          WriteLittle(FloatBits(static_cast<float>(d)), 4, out);
        } else {
          WriteLittle(DoubleBits(d), 8, out);
        }
      }
      return;
    }
    case WireType::kList:
    case WireType::kMap:
      WriteSize(value.type == WireType::kList ? value.items.size() : value.items.size() / 2, out);
      for (const UiValue& item : value.items) EncodeValue(item, out);
      return;
  }
}

bool DecodeValue(const uint8_t* bytes, size_t size, size_t* offset, UiValue* value) {
  if (*offset > size) return false;
  Reader reader{bytes, size, offset};
  return DecodeAt(reader, value, 0);
}

bool ParseValue(const std::string& text, size_t* pos, UiValue* value, std::string* error) {
  Parser parser{text, *pos, {}};
  if (!parser.Value(value, 0)) {
    *error = parser.error;
    return false;
  }
  *pos = parser.pos;
  return true;
}

std::string QuoteBytes(const std::string& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string s = "\"";
  for (char c : bytes) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      s += '\\';
      s += c;
    } else if (u >= 0x20 && u <= 0x7e) {
      s += c;
    } else {
      s += "\\x";
      s += kDigits[u >> 4];
      s += kDigits[u & 0x0f];
    }
  }
  return s + "\"";
}

std::string FormatValue(const UiValue& v) {
  switch (v.type) {
    case WireType::kNull: return "null";
    case WireType::kTrue: return "true";
    case WireType::kFalse: return "false";
    case WireType::kInt32: return std::to_string(v.integer);
    case WireType::kInt64: return std::to_string(v.integer) + "L";
    case WireType::kDouble: return FormatReal(v.real);
    case WireType::kString: return QuoteBytes(v.text);
    case WireType::kBytes: {
      std::vector<int> bytes(v.text.begin(), v.text.end());
      for (int& b : bytes) b &= 0xff;
      return "bytes[" + Join(bytes, [](int b) { return std::to_string(b); }) + "]";
    }
    case WireType::kInt32List:
    case WireType::kInt64List:
      return std::string(v.type == WireType::kInt32List ? "i32[" : "i64[") +
             Join(v.integers, [](int64_t i) { return std::to_string(i); }) + "]";
    case WireType::kDoubleList:
    case WireType::kFloatList:
      return std::string(v.type == WireType::kDoubleList ? "f64[" : "f32[") +
             Join(v.reals, FormatReal) + "]";
    case WireType::kList: return "[" + Join(v.items, FormatValue) + "]";
    case WireType::kMap: {
      std::string s = "{";
      for (size_t i = 0; i + 1 < v.items.size(); i += 2) {
        if (i > 0) s += ", ";
        s += FormatValue(v.items[i]) + ": " + FormatValue(v.items[i + 1]);
      }
      return s + "}";
    }
  }
  return "null";
}

std::vector<uint8_t> EncodeMethodCall(const std::string& method, const UiValue& arguments) {
  std::vector<uint8_t> out;
  EncodeValue(UiValue::String(method), &out);
  EncodeValue(arguments, &out);
  return out;
}

std::vector<uint8_t> EncodeSuccessEnvelope(const UiValue& result) {
  std::vector<uint8_t> out{0};
  EncodeValue(result, &out);
  return out;
}

std::vector<uint8_t> EncodeErrorEnvelope(const std::string& code, const std::string& message,
                                         const UiValue& details) {
  std::vector<uint8_t> out{1};
  EncodeValue(UiValue::String(code), &out);
  EncodeValue(message.empty() ? UiValue::Null() : UiValue::String(message), &out);
  EncodeValue(details, &out);
  return out;
}

std::string DescribeReply(const uint8_t* bytes, size_t size) {
  if (size == 0) return "empty";
  size_t offset = 1;
  if (bytes[0] == 0) {
    UiValue result;
    if (DecodeValue(bytes, size, &offset, &result) && offset == size) {
      return "success " + FormatValue(result);
    }
  } else if (bytes[0] == 1) {
    UiValue code, message, details;
    if (DecodeValue(bytes, size, &offset, &code) && DecodeValue(bytes, size, &offset, &message) &&
        DecodeValue(bytes, size, &offset, &details) && offset == size &&
        code.type == WireType::kString &&
        (message.type == WireType::kString || message.type == WireType::kNull)) {
      return "error " + FormatValue(code) + " " + FormatValue(message) + " " + FormatValue(details);
    }
  }
  return "undecodable";
}

}  // namespace tarnwick::standin
