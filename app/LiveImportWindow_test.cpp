// The window on Qt's offscreen platform: its controls where the design puts them, the load
// posted after the first paint, and a real load from ktx-exchange painted into an image.
#include "app/LiveImportWindow.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QElapsedTimer>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "exchange/TestPipeFolder.h"
#include "json/TKXJSONStreamer.h"
#include "platform/Process.h"
#include "ui/DataGrid.h"
#include "ui/QtText.h"
#include "ui/TestApp.h"

namespace rb::app {
namespace {

namespace fs = std::filesystem;

struct TMessages {
  std::vector<std::string> infos, errors;
  TLiveImportWindow::TMessageSink Sink() {
    return [this](const char* kind, const std::string& text) {
      (std::string(kind) == "info" ? infos : errors).push_back(text);
    };
  }
};

TEST(LiveImportWindow, ControlsStandWhereTheDesignPutsThem) {
  ui::TestApp();
  TLiveImportWindow window;
  struct {
    const char* name;
    int left, top, width;
    const char* text;
  } cases[] = {
      {"FlatSpeedButton1", 15, 4, 73, "Neu lesen"},
      {"FlatButton2", 93, 4, 119, "Auflistung kopieren "},
      {"EditSumme", 12, 59, 193, nullptr},
      {"EditAbzug", 12, 111, 191, nullptr},
      {"Pnetto", 33, 193, 115, nullptr},
      {"PBrutto", 33, 220, 115, nullptr},
      {"EFullRest", 50, 249, 151, nullptr},
      {"HTMLabel2", 13, 40, -1, "Bis <B>einschliesslich hier </B>berechnet:"},
      {"HTMLabel1", 11, 92, -1, "<B>Abzug </B>m\xFCsste sein:"},
      {"HTMLabel4", 16, 195, -1, "N:"},
      {"HTMLabel6", 18, 249, -1, "Rest:"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    QWidget* control = window.Control(c.name);
    ASSERT_NE(control, nullptr);
    EXPECT_EQ(control->x(), c.left);
    EXPECT_EQ(control->y(), c.top);
    if (c.width >= 0) {
      EXPECT_EQ(control->width(), c.width);
    }
    if (auto* button = qobject_cast<QPushButton*>(control); button && c.text) {
      EXPECT_EQ(ui::FromQString(button->text()), c.text);
    }
    if (auto* label = qobject_cast<QLabel*>(control); label && c.text) {
      EXPECT_EQ(ui::FromQString(label->text()), c.text);
    }
  }
  EXPECT_EQ(window.Control("Panel6")->width(), 215);
  EXPECT_EQ(window.windowTitle(), "Ansicht");
  EXPECT_TRUE(window.windowFlags() & Qt::WindowStaysOnTopHint);
  EXPECT_FALSE(window.windowFlags() & Qt::WindowMinimizeButtonHint);
  EXPECT_TRUE(qobject_cast<QLineEdit*>(window.Control("EditSumme"))->isReadOnly());
  EXPECT_TRUE(qobject_cast<QComboBox*>(window.Control("EditAbzug"))->isEditable());

  // Tab order: the grid, then the edits top to bottom, then the copy button.
  std::vector<std::string> order;
  QWidget* w = &window.Grid();
  for (int i = 0; i < 6; ++i) {
    w = w->nextInFocusChain();
    while (w->focusPolicy() == Qt::NoFocus || !w->objectName().size())
      w = w->nextInFocusChain();
    order.push_back(w->objectName().toStdString());
  }
  EXPECT_EQ(order, (std::vector<std::string>{"EditSumme", "EditAbzug", "Pnetto", "PBrutto",
                                             "EFullRest", "FlatButton2"}));
}

TEST(LiveImportWindow, LoadRunsAfterTheFirstPaintAndAFailedLoadCloses) {
  ui::TestApp();
  fs::remove(TempFolder() + kLocalServiceFileName);  // no host
  TMessages messages;
  TLiveImportWindow window;
  window.SetMessageSink(messages.Sink());
  window.show();
  EXPECT_EQ(window.Loads(), 0);  // not inside show: posted
  ASSERT_TRUE(ui::WaitFor([&] { return window.Loads() == 1; }, 10000));
  EXPECT_TRUE(window.PaintedBeforeFirstLoad());
  ASSERT_EQ(messages.infos.size(), 1u);
  EXPECT_EQ(messages.infos[0], live::kTransferFailed);
  EXPECT_TRUE(ui::WaitFor([&] { return !window.isVisible(); }, 5000));
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST(LiveImportWindow, TextsSetFromCodeShowTheirStart) {
  ui::TestApp();
  TLiveImportWindow window;
  const std::string text = "58.912,75 aus vorhergehenden RE";
  window.SetEditText(live::TEditId::EditAbzug, text);
  window.InsertAbzugItem(0, text);
  auto* combo = qobject_cast<QComboBox*>(window.Control("EditAbzug"));
  EXPECT_EQ(ui::FromQString(combo->currentText()), text);
  EXPECT_EQ(combo->lineEdit()->cursorPosition(), 0);
}

TEST(LiveImportWindow, SetTextRunsTheChangeHandlerLikeTyping) {
  ui::TestApp();
  TLiveImportWindow window;
  auto* pnetto = qobject_cast<QLineEdit*>(window.Control("Pnetto"));
  int changes = 0;
  QObject::connect(pnetto, &QLineEdit::textChanged, [&] { ++changes; });
  window.SetEditText(live::TEditId::Pnetto, "12");
  window.SetEditText(live::TEditId::Pnetto, "12");
  EXPECT_EQ(changes, 1);
}

// The whole program path but the process: the real host, the real window, painted.
TEST(LiveImportWindow, ShowsTheSampleOrderFromTheHost) {
  ui::TestApp();
  const std::string data = TTestPipeFolder::Folder() + "/daten";
  fs::create_directories(data);
  std::ofstream(TTestPipeFolder::Folder() + "/doc.json")
      << "{\"Order\":[{\"LINKUID\":\"{1}\",\"PrintName\":\"AR 3\",\"Adress\":[{\"AdressSmart\":"
         "\"Bau GmbH\"}],\"Parts\":["
         "{\"Row\":\"1\",\"Position\":\"01\",\"Description1\":\"Erdarbeiten\",\"Price\":100},"
         "{\"Row\":\"2\",\"Position\":\"02\",\"Description1\":\"Mauerwerk\",\"Price\":200},"
         "{\"Row\":\"3\",\"Position\":\"03\",\"Description1\":\"Dach\",\"Price\":50},"
         "{\"Row\":\"4\",\"Position\":\"04\",\"Description1\":\"Abzug\",\"Price\":-300}]}]}";
  platform::ChildProcess host = platform::ChildProcess::Start(
      KTX_EXCHANGE_PATH,
      {"--pipe-name", "ktx-window-test", "--document", TTestPipeFolder::Folder() + "/doc.json",
       "--data-folder", data},
      {{"XDG_RUNTIME_DIR", TTestPipeFolder::Folder()}});
  WaitForLocalService("ktx-window-test");

  TMessages messages;
  TLiveImportWindow window;
  window.SetMessageSink(messages.Sink());
  window.show();
  ASSERT_TRUE(ui::WaitFor([&] { return window.Loads() == 1; }, 10000));
  host.RequestStop();
  EXPECT_TRUE(messages.infos.empty());
  EXPECT_EQ(window.Caption(), "Bau GmbH  AR 3");
  ASSERT_EQ(window.RowCount(), 5);
  EXPECT_EQ(window.EditText(live::TEditId::EditSumme), "350,00 / 416,50");

  ui::TDataGrid& grid = window.Grid();
  QImage image(grid.viewport()->size(), QImage::Format_RGB32);
  grid.viewport()->render(&image);
  const auto pixel = [&](int col, int row) {
    const QRect cell = grid.visualRect(grid.model()->index(row - 1, col));
    return QColor(image.pixel(cell.left() + 3, cell.bottom() - 3));
  };
  EXPECT_EQ(pixel(1, 1), QColor(Qt::white));
  EXPECT_EQ(pixel(1, 3), QColor(255, 225, 121));  // the last two rows are highlighted
  EXPECT_EQ(pixel(2, 4), QColor(255, 225, 121));
  EXPECT_EQ(pixel(4, 4), QColor(255, 225, 121));
  // The deduction is 300 as computed: the status cell says so.
  EXPECT_EQ(window.Cell(live::kColKumPrice, 4), "OK");
}

}  // namespace
}  // namespace rb::app

namespace rb::app {
namespace {

// The cell rule as painted: the highlight of the last two rows, the status cell and the red
// frame, checked at pixels inside the 5-pixel pen's band and away from the text.
TEST(LiveImportWindow, PaintsTheCheckedRows) {
  ui::TestApp();
  const QColor yellow(255, 225, 121), red(255, 0, 0), white(255, 255, 255);
  struct {
    const char* name;
    std::vector<int> prices;
    int checked_top_row;  // the first highlighted row
    bool top_edge;        // whether the frame runs along its top
    QColor status_fill;
  } cases[] = {
      {"deduction as computed", {100, 200, 50, -300}, 3, true, yellow},
      {"deduction wrong", {100, 200, 50, -280}, 3, true, red},
      {"one data row: the last row's frame only", {0}, 1, false, yellow},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string parts;
    for (size_t i = 0; i < c.prices.size(); ++i)
      parts += (i ? "," : "") + std::string("{\"Row\":\"1\",\"Position\":\"0") +
               std::to_string(i + 1) +
               "\",\"Description1\":\"x\",\"Price\":" + std::to_string(c.prices[i]) + "}";
    TLiveImportWindow window;
    window.SetMessageSink([](const char*, const std::string&) {});
    window.resize(595, 326);
    window.View().SetDocument(
        TKXJSONStreamer::ReadText("{\"Order\":[{\"Parts\":[" + parts + "]}]}"));
    window.View().FillPositions();
    window.grab();  // lays the hidden window out
    ui::TDataGrid& grid = window.Grid();
    QImage image(grid.viewport()->size(), QImage::Format_RGB32);
    grid.viewport()->render(&image);
    const int n = window.RowCount();
    const auto cell = [&](int col, int row) {
      return grid.visualRect(grid.model()->index(row - 1, col));
    };
    const auto at = [&](int x, int y) { return QColor(image.pixel(x, y)); };
    const QRect last = cell(4, n - 1);
    EXPECT_EQ(at(last.right() - 6, last.top() + 3), c.status_fill);  // status cell fill
    EXPECT_EQ(window.Cell(live::kColKumPrice, n - 1), c.status_fill == red ? "Fehler!" : "OK");
    const QRect first_checked = cell(1, c.checked_top_row);
    EXPECT_EQ(at(first_checked.left() + 20, first_checked.top() + 1), c.top_edge ? red : yellow);
    EXPECT_EQ(at(first_checked.left() + 20, first_checked.top() + 8), yellow);
    const QRect bottom = cell(2, n - 1);
    EXPECT_EQ(at(bottom.left() + 5, bottom.bottom()), red);  // frame, bottom edge
    if (n > 2) {
      EXPECT_EQ(at(cell(1, 1).left() + 20, cell(1, 1).top() + 8), white);
    }
  }
}

}  // namespace
}  // namespace rb::app
