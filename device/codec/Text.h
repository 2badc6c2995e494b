#pragma once

#include <string>
#include <vector>

namespace tl::codec {

// printf-style text for trace lines (the codec has no Qt).
std::string format(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

using TextLines = std::vector<std::string>;
inline TextLines &operator<<(TextLines &lines, std::string line)
{
    lines.push_back(std::move(line));
    return lines;
}

} // namespace tl::codec
