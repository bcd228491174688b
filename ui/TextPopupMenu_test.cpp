#include "ui/TextPopupMenu.h"

#include <gtest/gtest.h>

#include <QClipboard>
#include <QComboBox>
#include <QLineEdit>

#include "ui/DataGrid.h"
#include "ui/TestApp.h"

namespace rb::ui {
namespace {

class TextPopupMenuTest : public ::testing::Test {
 protected:
  TextPopupMenuTest() {
    grid.AddColumn({.field_name = "TColumn-1", .width = 10});
    grid.AddColumn({.field_name = "PRICE", .caption = "Preis", .read_only = true});
    grid.SetRowCount(3);
    grid.SetCell(0, 1, "frei");
    grid.SetCell(1, 1, "1.234,50");
    grid.SetCell(1, 2, "7,00");
  }
  static QString ClipboardText() { return QGuiApplication::clipboard()->text(); }
  static void SetClipboardText(const QString& text) { QGuiApplication::clipboard()->setText(text); }

  QApplication& app = TestApp();
  TTextoxPopupMenu menu;
  TDataGrid grid;
};

TEST_F(TextPopupMenuTest, ItemsBannerAndLook) {
  QStringList texts;
  for (const QAction* action : menu.actions()) {
    if (action->isVisible()) texts << (action->isSeparator() ? "-" : action->text());
  }
  EXPECT_EQ(texts, (QStringList{"", "Ausschneiden", "Kopieren", QString::fromUtf8("Einfügen"), "-",
                                "Alles markieren"}));
  EXPECT_EQ(menu.SymbolAction().text(), QString::fromUtf8("Symbol einfügen"));
  EXPECT_FALSE(menu.SymbolAction().isVisible());
  EXPECT_EQ(menu.font().pointSize(), 9);
  EXPECT_EQ(menu.palette().color(QPalette::Window), QColor(Qt::white));
  EXPECT_EQ(menu.palette().color(QPalette::WindowText), QColor(Qt::black));
}

TEST_F(TextPopupMenuTest, OnAReadOnlyGridCellOnlyCopying) {
  grid.SetCurrentCell(1, 1);
  SetClipboardText("x");
  ASSERT_EQ(menu.Prepare(&grid), &grid);
  EXPECT_TRUE(menu.CopyAction().isEnabled());
  EXPECT_FALSE(menu.CutAction().isEnabled());
  EXPECT_FALSE(menu.PasteAction().isEnabled());
  menu.CopyAction().trigger();
  EXPECT_EQ(ClipboardText(), "1.234,50");
}

TEST_F(TextPopupMenuTest, OnAnEditableGridCellCutAndPaste) {
  grid.SetCurrentCell(0, 1);
  menu.Prepare(&grid);
  ASSERT_TRUE(menu.CutAction().isEnabled());
  menu.CutAction().trigger();
  EXPECT_EQ(ClipboardText(), "frei");
  EXPECT_EQ(grid.Cell(0, 1), "");

  SetClipboardText(QString::fromUtf8("Größe"));
  menu.Prepare(&grid);
  ASSERT_TRUE(menu.PasteAction().isEnabled());
  menu.PasteAction().trigger();
  EXPECT_EQ(grid.Cell(0, 1),
            "Gr\xF6\xDF"
            "e");

  grid.SetFixedMode();
  menu.Prepare(&grid);
  EXPECT_FALSE(menu.CutAction().isEnabled()) << "no editing in fixed mode";
  EXPECT_FALSE(menu.PasteAction().isEnabled());
}

TEST_F(TextPopupMenuTest, SelectAllSelectsTheGridAndCopyTakesTheSelection) {
  grid.SetCurrentCell(0, 1);
  menu.Prepare(&grid);
  menu.SelectAllAction().trigger();
  EXPECT_EQ(grid.selectionModel()->selectedIndexes().size(), 4);
  menu.CopyAction().trigger();
  EXPECT_EQ(ClipboardText(), "frei\t1.234,50\n\t7,00");
}

TEST_F(TextPopupMenuTest, OnEditsItFollowsTheEditsRules) {
  QLineEdit edit("Projektsumme");
  edit.setSelection(0, 7);
  SetClipboardText("99");
  ASSERT_EQ(menu.Prepare(&edit), &edit);
  EXPECT_TRUE(menu.CutAction().isEnabled());
  menu.CutAction().trigger();
  EXPECT_EQ(edit.text(), "summe");
  EXPECT_EQ(ClipboardText(), "Projekt");

  edit.setReadOnly(true);
  edit.selectAll();
  menu.Prepare(&edit);
  EXPECT_FALSE(menu.CutAction().isEnabled());
  EXPECT_FALSE(menu.PasteAction().isEnabled());
  EXPECT_TRUE(menu.CopyAction().isEnabled());

  QComboBox combo;
  combo.setEditable(true);
  combo.setEditText("300,00");
  ASSERT_EQ(menu.Prepare(&combo), &combo);
  menu.SelectAllAction().trigger();
  menu.Prepare(&combo);  // the menu opens again
  menu.CopyAction().trigger();
  EXPECT_EQ(ClipboardText(), "300,00");
}

TEST_F(TextPopupMenuTest, AttachedToTheGridItOpensOnItsContextMenuRequest) {
  menu.AttachTo(grid);
  EXPECT_EQ(grid.contextMenuPolicy(), Qt::CustomContextMenu);
  grid.resize(300, 150);
  grid.show();
  grid.SetCurrentCell(1, 1);
  emit grid.customContextMenuRequested(QPoint(20, 20));
  EXPECT_TRUE(menu.isVisible());
  EXPECT_TRUE(menu.CopyAction().isEnabled()) << "acts on the grid it was opened for";
  menu.hide();
}

TEST_F(TextPopupMenuTest, NothingToActOnDisablesEveryItem) {
  QWidget plain;
  EXPECT_EQ(menu.Prepare(&plain), nullptr);
  for (QAction* action :
       {&menu.CutAction(), &menu.CopyAction(), &menu.PasteAction(), &menu.SelectAllAction()})
    EXPECT_FALSE(action->isEnabled()) << action->text().toStdString();
}

}  // namespace
}  // namespace rb::ui
