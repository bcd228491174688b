#include "ui/BusyCursor.h"

#include <QCoreApplication>
#include <QFile>
#include <QGuiApplication>
#include <QPixmap>
#include <QTemporaryFile>
#include <array>

#include "ui/QtText.h"
#include "util/Errors.h"
#include "util/Files.h"

// The resources of a static library are linked in only when something asks for them.
static void InitCursorResources() {
  static const bool done = [] {
    Q_INIT_RESOURCE(cursors);
    return true;
  }();
  (void)done;
}

namespace rb::ui {
namespace {

constexpr int kFrames = 4;
constexpr int kShownFrame = 3;  // "crCursor_ajax03"

using TFrames = std::array<std::optional<QCursor>, kFrames>;

TFrames RegisterFrames() {
  TFrames frames;
  std::string folder;
  try {
    folder = TempFolder("XCURSOR");
  } catch (const Exception&) {
    return frames;  // no folder that may be used: every frame is left out
  }
  for (int i = 0; i < kFrames; ++i)
    frames[static_cast<size_t>(i)] =
        LoadCursorThroughFile(QStringLiteral(":/crCursor_ajax0%1").arg(i + 1), folder);
  return frames;
}

struct TRegistry {
  bool registered = false;
  TFrames frames;
};

TRegistry& Registry() {
  static TRegistry registry;
  return registry;
}

// Cursors hold pixmaps, which must go before the application does.
void ReleaseFrames() {
  for (auto& frame : Registry().frames)
    frame.reset();
}

const TFrames& Frames() {
  TRegistry& registry = Registry();
  if (!registry.registered) {
    registry.registered = true;
    registry.frames = RegisterFrames();
    qAddPostRoutine(ReleaseFrames);
  }
  return registry.frames;
}

bool busy_cursor_set = false;

}  // namespace

std::optional<QCursor> LoadCursorThroughFile(const QString& resource, const std::string& folder) {
  InitCursorResources();
  QFile source(resource);
  if (!source.open(QIODevice::ReadOnly)) return std::nullopt;
  const QByteArray bytes = source.readAll();
  // A unique name, so that two copies of the program starting together do not share a file.
  QTemporaryFile file(PathToQString(folder) + resource.section(QLatin1Char('/'), -1) +
                      QStringLiteral("_XXXXXX.png"));
  if (!file.open() || file.write(bytes) != bytes.size() || !file.flush()) return std::nullopt;
  QPixmap image;
  const bool loaded = image.load(file.fileName(), "PNG");
  file.close();
  file.remove();
  if (!loaded || image.isNull()) return std::nullopt;
  return QCursor(image, image.width() / 2, image.height() / 2);
}

std::optional<QCursor> BusyCursorFrame(int number) {
  if (number < 1 || number > kFrames) return std::nullopt;
  return Frames()[static_cast<size_t>(number - 1)];
}

void ShowBusyCursor() {
  const std::optional<QCursor> frame = BusyCursorFrame(kShownFrame);
  const QCursor cursor = frame ? *frame : QCursor(Qt::BusyCursor);
  if (busy_cursor_set) {
    QGuiApplication::changeOverrideCursor(cursor);
  } else {
    QGuiApplication::setOverrideCursor(cursor);
    busy_cursor_set = true;
  }
}

void ShowDefaultCursor() {
  if (!busy_cursor_set) return;
  QGuiApplication::restoreOverrideCursor();
  busy_cursor_set = false;
}

}  // namespace rb::ui
