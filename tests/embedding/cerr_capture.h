// Captures what the embedding layer writes to std::cerr, and whether every
// line was flushed as it ended, so diagnostics can be compared byte for byte.
#ifndef TARNWICK_TESTS_EMBEDDING_CERR_CAPTURE_H_
#define TARNWICK_TESTS_EMBEDDING_CERR_CAPTURE_H_

#include <iostream>
#include <string>

namespace tarnwick {

class CerrCapture {
 public:
  CerrCapture() : previous_(std::cerr.rdbuf(&buffer_)) {}
  ~CerrCapture() { std::cerr.rdbuf(previous_); }
  CerrCapture(const CerrCapture&) = delete;
  CerrCapture& operator=(const CerrCapture&) = delete;

  const std::string& text() const { return buffer_.text; }

  // True when every line ending was flushed before anything else was
  // written, the last one included.
  bool each_line_flushed() const {
    return !buffer_.wrote_past_unflushed_line && buffer_.lines_unflushed == 0;
  }

  // Drops what was captured so far.
  void Clear() {
    buffer_.text.clear();
    buffer_.lines_unflushed = 0;
    buffer_.wrote_past_unflushed_line = false;
  }

 private:
  // Unbuffered, so every write arrives here in order and a line ending can
  // be matched with the flush that should follow it.
  class Buffer : public std::streambuf {
   public:
    std::string text;
    int lines_unflushed = 0;
    bool wrote_past_unflushed_line = false;

   protected:
    int sync() override {
      lines_unflushed = 0;
      return 0;
    }
    std::streamsize xsputn(const char* chars, std::streamsize count) override {
      for (std::streamsize i = 0; i < count; ++i) Put(chars[i]);
      return count;
    }
    int_type overflow(int_type c) override {
      if (traits_type::eq_int_type(c, traits_type::eof())) return 0;
      Put(traits_type::to_char_type(c));
      return c;
    }

   private:
    void Put(char c) {
      if (lines_unflushed != 0) wrote_past_unflushed_line = true;
      text.push_back(c);
      if (c == '\n') ++lines_unflushed;
    }
  };

  Buffer buffer_;
  std::streambuf* previous_;
};

}  // namespace tarnwick

#endif  // TARNWICK_TESTS_EMBEDDING_CERR_CAPTURE_H_
