// The program's one window on Qt Widgets: builds the controls of the live view, forwards their
// events to the view's handlers (live/LiveImportFrm.h) and carries out what the view asks of
// the screen (live/LiveScreen.h). The rules live in the view; this class only talks to Qt.
//
// The load runs from an event the window posts to itself once it has been painted, so that
// the window is on the screen before the blocking requests start. Errors that escape a handler
// go to the general error display (a modal box); the window stays open.
//
// GUI thread only. The window owns its controls (Qt parent ownership) and the view.
#pragma once

#include <QEvent>
#include <QWidget>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "live/LiveImportFrm.h"
#include "live/LiveScreen.h"

class QComboBox;
class QLineEdit;
class QPainter;

namespace rb::ui {
class TDataGrid;
class TFlatButton;
class TFlatSpeedButton;
class THTMLabel;
class TTextoxPopupMenu;
struct TDrawCellState;
}  // namespace rb::ui

namespace rb::app {

// The caption of every message box.
inline constexpr const char* kApplicationTitle = "Ratenblick Hilfe";

class TLiveImportWindow : public QWidget, public live::TLiveScreen {
 public:
  // The posted load; stands for the window message WM_USER + 1.
  static constexpr QEvent::Type kLoadEvent = static_cast<QEvent::Type>(QEvent::User + 1);

  explicit TLiveImportWindow(live::TLiveSettings settings = live::TLiveSettings());
  ~TLiveImportWindow() override;

  live::TLiveImportFrm& View() { return *view_; }
  ui::TDataGrid& Grid() { return *dg_; }
  QWidget* Control(const char* name) const;

  // Tests replace the modal boxes: kind is "info" or "error", text the prepared text.
  using TMessageSink = std::function<void(const char* kind, const std::string& text)>;
  void SetMessageSink(TMessageSink sink) { message_sink_ = std::move(sink); }
  // Whether the window had been painted when the load ran for the first time.
  bool PaintedBeforeFirstLoad() const { return painted_before_first_load_; }
  int Loads() const { return loads_; }

  // TLiveScreen
  std::string Caption() const override;
  void SetCaption(const std::string& text) override;
  int RowCount() const override;
  void SetRowCount(int rows) override;
  void ClearGrid() override;
  std::string Cell(std::string_view field, int row) const override;
  void SetCell(std::string_view field, int row, std::string_view text) override;
  void BeginGridUpdate() override;
  void EndGridUpdate() override;
  void SetGridFixedMode() override;
  std::vector<live::TGridColumn> GridColumns() const override;
  void SetGridColumnWidths(const std::vector<live::TGridColumn>& columns) override;
  void FitGridColumns() override;
  std::string EditText(live::TEditId edit) const override;
  void SetEditText(live::TEditId edit, const std::string& text) override;
  std::vector<std::string> AbzugItems() const override;
  void ClearAbzugItems() override;
  void InsertAbzugItem(int index, const std::string& text) override;
  void AddAbzugItem(const std::string& text) override;
  void ShowInfo(const std::string& html) override;
  void ShowError(const std::string& text) override;
  void PostLoad() override;
  void PostClose() override;
  void ShowBusyCursor() override;
  void ShowDefaultCursor() override;
  void PutListingOnClipboard(const std::string& clipboard_html, const std::string& fragment,
                             const std::string& plain) override;
  live::TWindowState WindowState() const override;
  void SetWindowState(const live::TWindowState& state) override;
  live::TDesktop Desktop() const override;

 protected:
  bool event(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void CreateControls();
  void SetUpGrid();
  void WireEvents();
  void DGDrawCell(QPainter& painter, int col, int row, const QRect& rect,
                  const ui::TDrawCellState& state);
  void Panel4Resize();
  QLineEdit* LineEdit(live::TEditId edit) const;
  int ColumnOf(std::string_view field) const;
  void KeepAbzugText(const QString& text);

  std::unique_ptr<live::TLiveImportFrm> view_;
  TMessageSink message_sink_;

  QWidget* panel3_ = nullptr;
  QWidget* panel4_ = nullptr;
  QWidget* panel6_ = nullptr;
  ui::TDataGrid* dg_ = nullptr;
  ui::TFlatSpeedButton* flat_speed_button1_ = nullptr;
  ui::TFlatButton* flat_button2_ = nullptr;
  QLineEdit* edit_summe_ = nullptr;
  QComboBox* edit_abzug_ = nullptr;
  QLineEdit* pnetto_ = nullptr;
  QLineEdit* pbrutto_ = nullptr;
  QLineEdit* efull_rest_ = nullptr;
  ui::TTextoxPopupMenu* popup_ = nullptr;

  // Field names already looked up: the table build addresses four cells of every row by name.
  mutable std::vector<std::pair<std::string, int>> column_cache_;
  mutable size_t column_next_ = 0;
  live::TWindowPosition position_ = live::TWindowPosition::Designed;
  bool shown_once_ = false;
  bool painted_ = false;
  bool load_pending_ = false;
  bool painted_before_first_load_ = false;
  int loads_ = 0;
};

}  // namespace rb::app
