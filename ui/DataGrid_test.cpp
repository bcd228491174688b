#include "ui/DataGrid.h"

#include <gtest/gtest.h>

#include <QHeaderView>
#include <QImage>
#include <QLineEdit>
#include <QPainter>
#include <QSignalSpy>
#include <QTest>
#include <iterator>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "ui/QtText.h"
#include "ui/TestApp.h"

namespace rb::ui {
namespace {

// The window's five columns, as far as the grid cares.
void AddWindowColumns(TDataGrid& grid) {
  grid.AddColumn({.field_name = "TColumn-1", .width = 10, .internal = true});
  grid.AddColumn({.field_name = "Position", .caption = "Position", .width = 74, .read_only = true});
  grid.AddColumn(
      {.field_name = "Description1", .caption = "Bezeichnung", .width = 62, .read_only = true});
  grid.AddColumn({.field_name = "PRICE", .caption = "Preis", .width = 93, .read_only = true});
  grid.AddColumn(
      {.field_name = "KUMPRICE", .caption = "Auflaufend", .width = 64, .read_only = true});
}

class DataGridTest : public ::testing::Test {
 protected:
  DataGridTest() { AddWindowColumns(grid); }
  QApplication& app = TestApp();
  TDataGrid grid;
};

TEST_F(DataGridTest, FindsColumnsByFieldNameIgnoringCase) {
  const struct {
    const char* name;
    int expected;
  } cases[] = {
      {"PRICE", 3},        {"price", 3},   {"Price", 3}, {"kumPrice", 4}, {"tcolumn-1", 0},
      {"description1", 2}, {"PRICES", -1}, {"PRIC", -1}, {"", -1},
  };
  for (const auto& c : cases)
    EXPECT_EQ(grid.ColumnIndex(c.name), c.expected) << c.name;
}

TEST_F(DataGridTest, CellsByFieldNameAndUnknownNames) {
  grid.SetRowCount(3);
  grid.SetCell("price", 2, "1.234,50");
  EXPECT_EQ(grid.Cell("PRICE", 2), "1.234,50");
  EXPECT_EQ(grid.Cell(3, 2), "1.234,50");
  EXPECT_EQ(grid.Cell("PRICE", 1), "");

  grid.SetCell("NoSuchField", 1, "x");
  EXPECT_EQ(grid.Cell("NoSuchField", 1), "");
  for (int col = 0; col < grid.ColumnCount(); ++col)
    EXPECT_EQ(grid.Cell(col, 1), "") << col;
  // Outside the rows: nothing stored, nothing read.
  grid.SetCell("PRICE", 3, "x");
  EXPECT_EQ(grid.Cell("PRICE", 3), "");
  EXPECT_EQ(grid.RowCount(), 3);
}

TEST_F(DataGridTest, RowZeroIsTheHeaderWithTheCaptions) {
  EXPECT_EQ(grid.RowCount(), 1);
  EXPECT_EQ(grid.Cell("KUMPRICE", 0), "Auflaufend");
  EXPECT_EQ(grid.Cell(0, 0), "");
  QSignalSpy header_changed(grid.model(), &QAbstractItemModel::headerDataChanged);
  grid.SetCell("Description1", 0, "Bezeichnung lang");
  EXPECT_EQ(grid.Column(2).caption, "Bezeichnung lang");
  EXPECT_EQ(grid.model()->headerData(2, Qt::Horizontal).toString(), "Bezeichnung lang");
  EXPECT_EQ(header_changed.count(), 1);
  EXPECT_EQ(grid.model()->rowCount(), 0) << "the header is no model row";
}

TEST_F(DataGridTest, SetRowCountKeepsTheRowsThatStay) {
  grid.SetRowCount(5);
  for (int row = 1; row < 5; ++row)
    grid.SetCell("Position", row, std::to_string(row));
  grid.SetRowCount(3);
  EXPECT_EQ(grid.RowCount(), 3);
  EXPECT_EQ(grid.model()->rowCount(), 2);
  EXPECT_EQ(grid.Cell("Position", 2), "2");
  grid.SetRowCount(5);
  EXPECT_EQ(grid.Cell("Position", 1), "1");
  EXPECT_EQ(grid.Cell("Position", 3), "") << "a dropped row comes back empty";
  EXPECT_EQ(grid.Cell("Position", 4), "");

  for (int rows : {0, -3}) {
    grid.SetRowCount(rows);
    EXPECT_EQ(grid.RowCount(), 1) << rows;
  }
  EXPECT_EQ(grid.Cell("Position", 0), "Position") << "the header stays";
  grid.SetRowCount(4);
  grid.ClearRows();
  EXPECT_EQ(grid.RowCount(), 1);
}

// The cells share one text buffer: texts that grow, shrink, empty, come from another cell or
// outlive a repacking of the buffer must leave every other cell as it was. Checked against a
// plain table over a long run of edits, row-count changes and an added column.
TEST_F(DataGridTest, CellEditsLeaveTheOtherCellsAlone) {
  auto& model = static_cast<TDataGridModel&>(*grid.model());
  std::vector<std::vector<std::string>> expected(40, std::vector<std::string>(5));
  grid.SetRowCount(41);
  const std::string texts[] = {"", "x", "mittel lang", std::string(300, 'L'),
                               "Gr\xF6\xDF"
                               "e"};
  uint32_t seed = 12345;
  auto next = [&seed](uint32_t n) {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 8) % n;
  };
  for (int step = 0; step < 20000; ++step) {
    const int row = static_cast<int>(next(40)) + 1;
    const int col = static_cast<int>(next(static_cast<uint32_t>(expected[0].size())));
    if (step % 5000 == 4999) {  // rows dropped and back: they come back empty
      grid.SetRowCount(21);
      grid.SetRowCount(41);
      for (size_t r = 20; r < expected.size(); ++r)
        std::fill(expected[r].begin(), expected[r].end(), std::string());
    } else if (step == 10000) {
      grid.AddColumn({.field_name = "EXTRA"});
      for (auto& cells : expected)
        cells.emplace_back();
    } else if (next(4) == 0) {  // a text taken from another cell of the grid
      const int from_row = static_cast<int>(next(40)) + 1;
      const int from_col = static_cast<int>(next(static_cast<uint32_t>(expected[0].size())));
      model.SetCell(col, row, model.CellView(from_col, from_row));
      expected[static_cast<size_t>(row - 1)][static_cast<size_t>(col)] =
          expected[static_cast<size_t>(from_row - 1)][static_cast<size_t>(from_col)];
    } else {
      const std::string& text = texts[next(std::size(texts))];
      grid.SetCell(col, row, text + (text.empty() ? "" : std::to_string(step)));
      expected[static_cast<size_t>(row - 1)][static_cast<size_t>(col)] =
          text + (text.empty() ? "" : std::to_string(step));
    }
  }
  for (int row = 1; row <= 40; ++row) {
    for (int col = 0; col < grid.ColumnCount(); ++col) {
      const std::string& want = expected[static_cast<size_t>(row - 1)][static_cast<size_t>(col)];
      ASSERT_EQ(grid.Cell(col, row), want) << row << "," << col;
      ASSERT_EQ(model.index(row - 1, col).data().toString(), ToQString(want)) << row << "," << col;
    }
  }
}

TEST_F(DataGridTest, CellTextsReachQtAsWindows1252) {
  grid.SetRowCount(2);
  grid.SetCell("Description1", 1,
               "Gr\xF6\xDF"
               "e \x80");
  EXPECT_EQ(grid.model()->index(0, 2).data().toString(), QString::fromUtf8("Größe €"));
  // An edit comes back as code-page text.
  grid.model()->setData(grid.model()->index(0, 0), QString::fromUtf8("Öl €"), Qt::EditRole);
  EXPECT_EQ(grid.Cell(0, 1), "\xD6l \x80");
}

// Filling 10,000 rows announces nothing per cell: the views learn of the rows and texts once,
// at the outermost EndUpdate.
TEST_F(DataGridTest, UpdatesAreAnnouncedOnceAtTheOutermostEnd) {
  grid.SetRowCount(3);
  QSignalSpy changed(grid.model(), &QAbstractItemModel::dataChanged);
  QSignalSpy inserted(grid.model(), &QAbstractItemModel::rowsInserted);
  QSignalSpy reset(grid.model(), &QAbstractItemModel::modelReset);

  grid.BeginUpdate();
  grid.BeginUpdate();
  grid.SetRowCount(10001);
  for (int row = 1; row < grid.RowCount(); ++row) {
    grid.SetCell("Position", row, std::to_string(row));
    grid.SetCell("PRICE", row, "1,00");
  }
  grid.EndUpdate();
  EXPECT_EQ(changed.count() + inserted.count() + reset.count(), 0) << "inner end is silent";
  EXPECT_EQ(grid.model()->rowCount(), 2) << "the views still see the old rows";
  grid.EndUpdate();

  EXPECT_EQ(grid.model()->rowCount(), 10000);
  ASSERT_EQ(inserted.count(), 1);
  EXPECT_EQ(inserted[0][1].toInt(), 2);
  EXPECT_EQ(inserted[0][2].toInt(), 9999);
  ASSERT_EQ(changed.count(), 1) << "one change over the rows that were there";
  EXPECT_EQ(changed[0][0].toModelIndex(), grid.model()->index(0, 0));
  EXPECT_EQ(changed[0][1].toModelIndex(), grid.model()->index(1, 4));
  EXPECT_EQ(grid.model()->index(9999, 1).data().toString(), "10000");

  // Outside a batch each change is announced, an unchanged text is not.
  grid.SetCell("Position", 5, "5");
  grid.SetCell("Position", 5, "fünf");
  EXPECT_EQ(changed.count(), 2);
  grid.EndUpdate();  // an unpaired end does nothing
  EXPECT_EQ(changed.count(), 2);
}

TEST_F(DataGridTest, ShrinkingInABatchRemovesTheRowsAtTheEnd) {
  grid.SetRowCount(6);
  QSignalSpy removed(grid.model(), &QAbstractItemModel::rowsRemoved);
  grid.BeginUpdate();
  grid.ClearRows();
  grid.SetRowCount(3);
  grid.SetCell("Position", 2, "neu");
  grid.EndUpdate();
  ASSERT_EQ(removed.count(), 1);
  EXPECT_EQ(removed[0][1].toInt(), 2);
  EXPECT_EQ(removed[0][2].toInt(), 4);
  EXPECT_EQ(grid.model()->rowCount(), 2);
  EXPECT_EQ(grid.model()->index(1, 1).data().toString(), "neu");
}

TEST_F(DataGridTest, FixedModeCommitsTheEditorAndSwitchesEditingOff) {
  grid.SetRowCount(3);
  grid.resize(400, 200);
  grid.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&grid));
  const QModelIndex editable = grid.model()->index(0, 0);
  EXPECT_TRUE(grid.model()->flags(editable).testFlag(Qt::ItemIsEditable));
  EXPECT_FALSE(grid.model()->flags(grid.model()->index(0, 1)).testFlag(Qt::ItemIsEditable))
      << "read-only column";

  grid.setCurrentIndex(editable);
  QTest::keyClick(&grid, Qt::Key_F2);
  ASSERT_TRUE(grid.Editing());
  auto* editor = grid.viewport()->findChild<QLineEdit*>();
  ASSERT_NE(editor, nullptr);
  editor->setText("getippt");

  grid.SetFixedMode();
  EXPECT_FALSE(grid.Editing());
  EXPECT_EQ(grid.Cell(0, 1), "getippt") << "the open edit is kept";
  EXPECT_FALSE(grid.model()->flags(editable).testFlag(Qt::ItemIsEditable));
  EXPECT_FALSE(grid.CellEditable(0, 1));
  QTest::keyClick(&grid, Qt::Key_F2);
  EXPECT_FALSE(grid.Editing());
  EXPECT_EQ(grid.horizontalHeader()->sectionResizeMode(1), QHeaderView::Fixed);
  EXPECT_EQ(grid.verticalHeader()->sectionResizeMode(0), QHeaderView::Interactive);
  EXPECT_FALSE(grid.verticalHeader()->sectionsMovable());
  EXPECT_TRUE(grid.FixedMode());
}

TEST_F(DataGridTest, WidthMinusOneHidesAColumn) {
  EXPECT_EQ(grid.ColumnWidth(0), 10) << "narrow widths are kept";
  grid.SetColumnWidth(2, -1);
  EXPECT_EQ(grid.ColumnWidth(2), -1);
  EXPECT_TRUE(grid.isColumnHidden(2));
  grid.SetColumnWidth(2, 0);
  EXPECT_EQ(grid.ColumnWidth(2), 0) << "zero pixels is not hidden";
  grid.SetColumnWidth(2, 40);
  EXPECT_EQ(grid.ColumnWidth(2), 40);
  EXPECT_FALSE(grid.isColumnHidden(2));
  const int hidden = grid.AddColumn({.field_name = "Extra", .width = -1});
  EXPECT_EQ(grid.ColumnWidth(hidden), -1);
  EXPECT_EQ(grid.ColumnWidth(99), 0);
  grid.SetColumnWidth(99, 5);  // no such column: nothing happens

  grid.RemoveAllColumns();
  EXPECT_EQ(grid.ColumnCount(), 0);
  EXPECT_EQ(grid.ColumnIndex("PRICE"), -1);
}

TEST_F(DataGridTest, ReportsTheCurrentCellInGridRows) {
  grid.SetRowCount(4);
  QSignalSpy selected(&grid, &TDataGrid::CellSelected);
  grid.SetCurrentCell(3, 2);
  ASSERT_EQ(selected.count(), 1);
  EXPECT_EQ(selected[0][0].toInt(), 3);
  EXPECT_EQ(selected[0][1].toInt(), 2);
  EXPECT_EQ(grid.CurrentColumn(), 3);
  EXPECT_EQ(grid.CurrentRow(), 2);
}

TEST_F(DataGridTest, SelectedTextJoinsCellsByRow) {
  grid.SetRowCount(3);
  grid.SetCell("Position", 1, "1");
  grid.SetCell("PRICE", 1, "10,00");
  grid.SetCell("Position", 2, "2");
  grid.SetCell("PRICE", 2, "20,00");
  grid.SetCurrentCell(3, 2);
  EXPECT_EQ(grid.SelectedText(), "20,00");
  grid.selectionModel()->select(
      QItemSelection(grid.model()->index(0, 1), grid.model()->index(1, 3)),
      QItemSelectionModel::ClearAndSelect);
  EXPECT_EQ(grid.SelectedText(), "1\t\t10,00\n2\t\t20,00");
}

TEST_F(DataGridTest, ResizeRunsTheResizeHandler) {
  int calls = 0;
  grid.SetResizeHandler([&] { ++calls; });
  grid.show();
  grid.resize(300, 200);
  grid.resize(320, 200);
  QCoreApplication::processEvents();
  EXPECT_GE(calls, 1);
  EXPECT_EQ(grid.ClientWidth(), 320) << "no frame, no scroll bar";
  EXPECT_FALSE(grid.VerticalScrollBarShown());
  // 9 rows of 19 pixels and the header fill 190 of the 200 pixels; a tenth needs a scroll bar,
  // at once, before Qt shows one.
  grid.SetRowCount(10);
  EXPECT_FALSE(grid.VerticalScrollBarShown());
  grid.SetRowCount(11);
  EXPECT_TRUE(grid.VerticalScrollBarShown());
  EXPECT_EQ(grid.ClientWidth(), 320 - grid.ScrollBarWidth());
  for (int i = 0; i < 50 && grid.viewport()->width() == 320; ++i)
    QTest::qWait(10);
  EXPECT_EQ(grid.viewport()->width(), grid.ClientWidth()) << "as Qt lays it out";
}

// The cell painter paints every data and header cell from column 1 on, and nothing else.
TEST_F(DataGridTest, CellPainterPaintsDataAndHeaderCellsOutsideColumnZero) {
  const QColor mark(1, 130, 3);
  std::set<std::pair<int, int>> painted;
  bool header_fixed = false;
  grid.SetDrawCellHook(
      [&](QPainter& painter, int col, int row, const QRect& rect, const TDrawCellState& state) {
        painted.insert({col, row});
        if (row == 0) header_fixed = state.fixed;
        if (col == 3 && row == 2) painter.fillRect(rect, mark);
      });
  grid.SetRowCount(4);
  grid.SetCell(0, 2, "0");
  grid.resize(400, 200);
  const QImage image = grid.grab().toImage();

  EXPECT_EQ(painted.count({0, 1}), 0u);
  EXPECT_EQ(painted.count({0, 0}), 0u);
  for (int col = 1; col < 5; ++col) {
    for (int row = 0; row < 4; ++row)
      EXPECT_EQ(painted.count({col, row}), 1u) << col << row;
  }
  EXPECT_TRUE(header_fixed);
  const QRect cell = grid.visualRect(grid.model()->index(1, 3));
  const QPoint centre = cell.center() + grid.viewport()->pos();
  EXPECT_EQ(image.pixelColor(centre), mark);
  // The grid line below the cell is the grid's, the painter's fill stops before it.
  EXPECT_EQ(image.pixelColor(centre.x(), cell.bottom() + grid.viewport()->y()),
            TDataGrid::GridLineColor());
}

TEST_F(DataGridTest, BlackOnWhiteUnderADarkTheme) {
  const QPalette saved = QApplication::palette();
  QPalette dark = saved;
  for (auto role : {QPalette::Base, QPalette::Window})
    dark.setColor(role, QColor(30, 30, 30));
  for (auto role : {QPalette::Text, QPalette::WindowText})
    dark.setColor(role, QColor(230, 230, 230));
  QApplication::setPalette(dark);
  TDataGrid dark_grid;
  AddWindowColumns(dark_grid);
  dark_grid.SetRowCount(2);
  dark_grid.SetCell(0, 1, "X");
  dark_grid.resize(300, 150);
  const QImage image = dark_grid.grab().toImage();
  QApplication::setPalette(saved);

  EXPECT_EQ(dark_grid.palette().color(QPalette::Base), QColor(Qt::white));
  EXPECT_EQ(dark_grid.palette().color(QPalette::Text), QColor(Qt::black));
  // Below the rows, the grid is white.
  const QPoint empty = dark_grid.viewport()->geometry().bottomRight() - QPoint(5, 5);
  EXPECT_EQ(image.pixelColor(empty), QColor(Qt::white));
}

}  // namespace
}  // namespace rb::ui
