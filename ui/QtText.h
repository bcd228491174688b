// The one place where text crosses between the program's 8-bit working text (Windows-1252
// bytes in a std::string) and Qt's QString. Every control in ui/ and app/ converts here and
// nowhere else.
//
// ToQString maps every byte to its character (the five unassigned bytes to the C1 controls of
// the same value), so no byte is lost. FromQString maps back; a character outside the code page
// (a surrogate half included) becomes '?'. Paths are different: the file system has its own
// encoding, so a path goes through PathToQString.
#pragma once

#include <QString>
#include <string>
#include <string_view>

namespace rb::ui {

QString ToQString(std::string_view cp1252);
std::string FromQString(const QString& text);

// The file-system name of an 8-bit path as Qt's file classes expect it.
QString PathToQString(const std::string& path);

}  // namespace rb::ui
