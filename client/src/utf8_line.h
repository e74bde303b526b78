#pragma once

#include <cstddef>
#include <string>

namespace qs {

// A line typed byte by byte in UTF-8. Only whole, well-formed characters enter the
// text; a sequence cut short or broken is dropped, and so is a character that would
// take the text past its byte limit. Not thread-safe: its owner guards it.
class utf8_line {
public:
    explicit utf8_line(std::size_t max_bytes = 0) : max_(max_bytes) {}

    // Takes one byte; returns the character it completes and keeps, else nothing.
    std::string add(unsigned char byte);
    // Removes the last character (and any unfinished sequence); false when none.
    bool erase_last();
    // Starts an empty line of at most max_bytes bytes.
    void reset(std::size_t max_bytes);

    const std::string& text() const { return text_; }
    std::size_t characters() const { return characters_; }

private:
    std::string keep(std::string character);

    std::size_t max_;
    std::string text_; // whole characters only
    std::size_t characters_ = 0;
    std::string partial_;     // the bytes of an unfinished character
    std::size_t missing_ = 0; // continuation bytes partial_ still needs
};

} // namespace qs
