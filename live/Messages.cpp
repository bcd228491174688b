#include "live/Messages.h"

#include <vector>

namespace rb::live {
namespace {

constexpr size_t kMaxInfoLines = 21;

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    const size_t end = text.find_first_of("\r\n", start);
    if (end == std::string::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
    if (text[end] == '\r' && start < text.size() && text[start] == '\n') ++start;
  }
  return lines;
}

}  // namespace

std::string ShowInfoHtml(const std::string& message) {
  const std::vector<std::string> lines = SplitLines(message);
  std::string html;
  const size_t shown = lines.size() > kMaxInfoLines ? kMaxInfoLines : lines.size();
  for (size_t i = 0; i < shown; ++i) {
    if (i > 0) html += "<br>";
    html += lines[i];
  }
  if (lines.size() > kMaxInfoLines) html += "<br>................<br>" + lines.back();
  return html;
}

std::string ErrorDisplayText(const std::string& message) {
  if (!message.empty() && static_cast<unsigned char>(message.back()) > '.') return message + ".";
  return message;
}

}  // namespace rb::live
