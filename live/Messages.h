// The texts of the two message boxes, prepared without the widgets that show them.
//
// ShowInfoHtml: the information box shows HTML; each line break (CR LF, or a lone CR or LF)
// becomes "<br>", and a message of more than 21 lines shows its first 21 lines, then
// "<br>................<br>", then its last line. A final line break adds no empty line.
//   "a\r\nb"  -> "a<br>b"
//
// ErrorDisplayText: the general error display appends a full stop when the message's last
// byte sorts after the full stop, so "Datei fehlt" gets one and "Fehler!" or "1." do not.
#pragma once

#include <string>

namespace rb::live {

std::string ShowInfoHtml(const std::string& message);
std::string ErrorDisplayText(const std::string& message);

}  // namespace rb::live
