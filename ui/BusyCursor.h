// The busy cursor shown while the window waits for the host.
//
// The program carries four cursor frames as resources, "crCursor_ajax01" ... "crCursor_ajax04"
// (PNG images of a spinning wheel). The first ShowBusyCursor of a run registers them: each one
// is written to a file in TempFolder("XCURSOR"), loaded from that file as a cursor with its hot
// spot in the middle, and the file deleted. A frame that fails (the folder cannot be written,
// the image cannot be read) is left out; nothing is reported.
//
// ShowBusyCursor then makes "crCursor_ajax03" the application-wide cursor (Qt's busy cursor
// when that frame is missing). Only that one frame is shown: the window's thread is blocked
// while the cursor is up, and Qt animates nothing then. ShowDefaultCursor removes the cursor
// ShowBusyCursor set; it is safe to call without one. Repeated ShowBusyCursor calls need one
// ShowDefaultCursor. GUI thread only; REQUIRES a QGuiApplication.
#pragma once

#include <QCursor>
#include <QString>
#include <optional>
#include <string>

namespace rb::ui {

void ShowBusyCursor();
void ShowDefaultCursor();

// The registered frame 1..4, if it could be registered; registers the frames on first use.
std::optional<QCursor> BusyCursorFrame(int number);

// One frame's round trip: the resource written to a file in folder, read back as a cursor with
// its hot spot in the middle, the file deleted. None when any step fails.
std::optional<QCursor> LoadCursorThroughFile(const QString& resource, const std::string& folder);

}  // namespace rb::ui
