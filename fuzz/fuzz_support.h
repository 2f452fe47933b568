// Shared by the fuzz targets: a front end that records nothing but message boxes, and a
// private directory for files.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/session/front_end.h"

namespace chipsight::fuzzing {

class QuietFrontEnd : public FrontEnd {
  public:
    void messageBox(const std::string& text, const std::string&, unsigned) override {
        boxes.push_back(text);
    }
    bool pull() override { return true; }
    void push() override {}
    void setTitle(const std::string& t) override { title = t; }
    void enableAddCustomButton() override {}
    int logLineCount() override { return 0; }
    void scrollLog(int) override {}

    std::vector<std::string> boxes;
    std::string title;
};

// A directory of this process's own, made on first use and kept for the whole run.
inline const std::string& workDirectory() {
    static const std::string dir = [] {
        std::string pattern = "/tmp/chipsight-fuzz-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) std::abort();
        return pattern;
    }();
    return dir;
}

// Takes bytes off the front of the input.
class Input {
  public:
    Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    std::uint8_t byte() { return size_ ? (--size_, *data_++) : 0; }
    std::uint16_t u16() { return std::uint16_t(byte() | (byte() << 8)); }
    std::vector<std::uint8_t> take(std::size_t n) {
        n = std::min(n, size_);
        std::vector<std::uint8_t> out(data_, data_ + n);
        data_ += n;
        size_ -= n;
        return out;
    }
    std::vector<std::uint8_t> rest() { return take(size_); }
    std::string text(std::size_t n) {
        const auto bytes = take(n);
        return std::string(bytes.begin(), bytes.end());
    }

  private:
    const std::uint8_t* data_;
    std::size_t size_;
};

}  // namespace chipsight::fuzzing
