#include "app/LiveImportWindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QPainter>
#include <QScreen>
#include <QStyle>
#include <QStyleOptionFocusRect>
#include <QTimer>
#include <QToolTip>
#include <QVBoxLayout>

#include "app/AppIcon.h"
#include "live/CellPaint.h"
#include "live/ColumnLayout.h"
#include "live/Messages.h"
#include "ui/BusyCursor.h"
#include "ui/Clipboard.h"
#include "ui/DataGrid.h"
#include "ui/Edits.h"
#include "ui/ErrorBox.h"
#include "ui/FlatButton.h"
#include "ui/Fonts.h"
#include "ui/HTMLabel.h"
#include "ui/InfoBox.h"
#include "ui/Palette.h"
#include "ui/QtText.h"
#include "ui/TextPopupMenu.h"

namespace rb::app {
namespace {

using live::TEditId;

QRect ToQRect(const live::TRect& r) {
  return QRect(r.left, r.top, r.Width(), r.Height());
}
live::TRect ToRect(const QRect& r) {
  return live::TRect::FromSize(r.x(), r.y(), r.width(), r.height());
}
QColor ToQColor(const live::TRgb& c) {
  return QColor(c.red, c.green, c.blue);
}

ui::TDataGridColumn GridColumn(const char* field_name, const char* caption, int width) {
  ui::TDataGridColumn column;
  column.field_name = field_name;
  column.caption = caption;
  column.width = width;
  return column;
}

template <class W>
W* Place(W* widget, const char* name, int left, int top, int width = -1, int height = -1) {
  widget->setObjectName(name);
  if (width < 0) {
    widget->adjustSize();
    width = widget->width();
  }
  widget->setGeometry(left, top, width, height < 0 ? widget->sizeHint().height() : height);
  return widget;
}

}  // namespace

TLiveImportWindow::TLiveImportWindow(live::TLiveSettings settings)
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                           Qt::WindowStaysOnTopHint),
      view_(std::make_unique<live::TLiveImportFrm>(*this, std::move(settings))) {
  setObjectName("TLiveImportFrm");
  setWindowTitle("Ansicht");
  setWindowIcon(AppIcon());
  setFont(ui::TahomaFont(12));
  setGeometry(282, 133, 595, 326);
  CreateControls();
  SetUpGrid();
  WireEvents();
  view_->Dispatch([this] { view_->FormCreate(); });
}

TLiveImportWindow::~TLiveImportWindow() {
  view_->FormDestroy();
}

void TLiveImportWindow::CreateControls() {
  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(0, 0, 0, 0);
  panel3_ = new QWidget(this);
  panel3_->setObjectName("Panel3");
  outer->addWidget(panel3_);
  auto* panel3_layout = new QVBoxLayout(panel3_);
  panel3_layout->setContentsMargins(0, 0, 0, 0);
  panel4_ = new QWidget(panel3_);
  panel4_->setObjectName("Panel4");
  panel3_layout->addWidget(panel4_);
  auto* row = new QHBoxLayout(panel4_);
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(0);

  dg_ = new ui::TDataGrid(panel4_);
  dg_->setObjectName("DG");
  dg_->setMinimumHeight(100);
  row->addWidget(dg_, 1);

  panel6_ = new QWidget(panel4_);
  ui::SetBlackOnWhite(*panel6_, true);
  panel6_->setObjectName("Panel6");
  panel6_->setFixedWidth(215);
  row->addWidget(panel6_);

  flat_speed_button1_ =
      Place(new ui::TFlatSpeedButton("Neu lesen", panel6_), "FlatSpeedButton1", 15, 4, 73, 25);
  flat_button2_ =
      Place(new ui::TFlatButton("Auflistung kopieren ", panel6_), "FlatButton2", 93, 4, 119, 25);
  Place(new ui::THTMLabel("Bis <B>einschliesslich hier </B>berechnet:", panel6_), "HTMLabel2", 13,
        40);
  edit_summe_ = Place(new ui::TEdit(panel6_, {.read_only = true}), "EditSumme", 12, 59, 193, 21);
  Place(new ui::THTMLabel("<B>Abzug </B>m\xFCsste sein:", panel6_), "HTMLabel1", 11, 92);
  edit_abzug_ = Place(new ui::TComboBox(panel6_), "EditAbzug", 12, 111, 191, 21);
  edit_abzug_->setEditable(true);
  Place(new ui::THTMLabel("<B>Rest erkennen:</B><br>Falls Sie die Projektsumme haben,<br>"
                          "k\xF6nnen Sie die hier eintragen:",
                          panel6_),
        "HTMLabel3", 11, 144);
  Place(new ui::THTMLabel("N:", panel6_), "HTMLabel4", 16, 195);
  pnetto_ = Place(new ui::TEdit(panel6_), "Pnetto", 33, 193, 115, 21);
  Place(new ui::THTMLabel("B:", panel6_), "HTMLabel5", 18, 220);
  pbrutto_ = Place(new ui::TEdit(panel6_), "PBrutto", 33, 220, 115, 21);
  Place(new ui::THTMLabel("Rest:", panel6_), "HTMLabel6", 18, 249);
  efull_rest_ = Place(new ui::TEdit(panel6_, {.read_only = true, .bold = true}), "EFullRest", 50,
                      249, 151, 21);

  setTabOrder(dg_, edit_summe_);
  setTabOrder(edit_summe_, edit_abzug_);
  setTabOrder(edit_abzug_, pnetto_);
  setTabOrder(pnetto_, pbrutto_);
  setTabOrder(pbrutto_, efull_rest_);
  setTabOrder(efull_rest_, flat_button2_);
  dg_->setFocus();
}

void TLiveImportWindow::SetUpGrid() {
  const QFont plain = ui::TahomaFont(12);
  const QFont bold = ui::TahomaFont(12, true);
  dg_->RemoveAllColumns();
  column_cache_.clear();
  ui::TDataGridColumn column0 = GridColumn(live::kColumn0, "", 10);
  column0.title_font = plain;
  column0.internal = true;
  column0.limited_to_list = true;
  dg_->AddColumn(column0);
  ui::TDataGridColumn position = GridColumn(live::kColPosition, "Position", 74);
  position.title_font = plain;
  position.read_only = true;
  dg_->AddColumn(position);
  ui::TDataGridColumn description = GridColumn(live::kColDescription, "Bezeichnung", 62);
  description.title_font = plain;
  description.read_only = true;
  dg_->AddColumn(description);
  ui::TDataGridColumn price = GridColumn(live::kColPrice, "Preis", 93);
  price.font = bold;
  price.read_only = true;
  price.limited_to_list = true;
  dg_->AddColumn(price);
  ui::TDataGridColumn kum = GridColumn(live::kColKumPrice, "Auflaufend", 64);
  kum.font = plain;
  kum.color = Qt::red;
  kum.title_font = bold;
  kum.title_color = Qt::red;
  kum.read_only = true;
  kum.limited_to_list = true;
  dg_->AddColumn(kum);

  dg_->SetDrawCellHook(
      [this](QPainter& painter, int col, int row, const QRect& rect,
             const ui::TDrawCellState& state) { DGDrawCell(painter, col, row, rect, state); });
  dg_->SetResizeHandler([this] { Panel4Resize(); });
  popup_ = new ui::TTextoxPopupMenu(this);
  popup_->AttachTo(*dg_);
}

void TLiveImportWindow::WireEvents() {
  connect(flat_speed_button1_, &QPushButton::clicked, this,
          [this] { view_->Dispatch([this] { view_->FlatSpeedButton1Click(); }); });
  connect(flat_button2_, &QPushButton::clicked, this,
          [this] { view_->Dispatch([this] { view_->FlatButton2Click(); }); });
  // textChanged, not textEdited: texts set from code must run the handler too.
  connect(pnetto_, &QLineEdit::textChanged, this,
          [this] { view_->Dispatch([this] { view_->PnettoChange(TEditId::Pnetto); }); });
  connect(pbrutto_, &QLineEdit::textChanged, this,
          [this] { view_->Dispatch([this] { view_->PnettoChange(TEditId::PBrutto); }); });
  panel6_->installEventFilter(this);
}

QWidget* TLiveImportWindow::Control(const char* name) const {
  return findChild<QWidget*>(QString::fromLatin1(name));
}

void TLiveImportWindow::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (shown_once_) return;
  shown_once_ = true;
  view_->Dispatch([this] { view_->FormShow(); });
}

bool TLiveImportWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == panel6_ && event->type() == QEvent::Paint && !painted_) {
    painted_ = true;
    // Posted from inside the paint: the load runs once this paint is done.
    if (load_pending_) PostLoad();
  }
  return QWidget::eventFilter(watched, event);
}

bool TLiveImportWindow::event(QEvent* event) {
  if (event->type() == kLoadEvent) {
    if (loads_++ == 0) painted_before_first_load_ = painted_;
    view_->Dispatch([this] { view_->LoadDocument(); });
    return true;
  }
  return QWidget::event(event);
}

void TLiveImportWindow::closeEvent(QCloseEvent* event) {
  if (view_->FormCloseQuery())
    event->accept();
  else
    event->ignore();
}

void TLiveImportWindow::PostLoad() {
  if (!painted_) {
    load_pending_ = true;
    return;
  }
  load_pending_ = false;
  QCoreApplication::postEvent(this, new QEvent(kLoadEvent));
}

void TLiveImportWindow::PostClose() {
  QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
}

void TLiveImportWindow::DGDrawCell(QPainter& painter, int col, int row, const QRect& rect,
                                   const ui::TDrawCellState& state) {
  live::TCellPaintInput input;
  input.col = col;
  input.row = row;
  input.row_count = dg_->RowCount();
  input.col_count = dg_->ColumnCount();
  input.rect = ToRect(rect);
  input.focused = state.focused;
  input.client_left = 0;
  input.column0_width = std::max(0, dg_->ColumnWidth(0));
  input.default_row_height = ui::TDataGrid::kDefaultRowHeight;
  input.cell_text = dg_->Cell(col, row);
  input.price_text = dg_->Cell(std::string_view(live::kColPrice), input.row_count - 1);
  input.caption = dg_->Column(col).caption;
  input.deduction_target = view_->DeductionTarget();
  input.previous_invoices_sum = view_->PreviousInvoicesSum();
  const live::TCellPaint paint = live::DGDrawCell(input);
  if (paint.leave_to_grid) return;
  if (paint.store_text) dg_->SetCell(col, row, *paint.store_text);

  painter.save();
  const QColor background = paint.tooltip_background
                                ? QToolTip::palette().color(QPalette::ToolTipBase)
                                : ToQColor(paint.background);
  painter.fillRect(ToQRect(paint.fill_rect), background);
  if (paint.text_color) painter.setPen(ToQColor(*paint.text_color));
  const QRect text_rect = ToQRect(paint.text_rect);
  const QString text = ui::ToQString(paint.text);
  if (paint.word_wrap) {
    painter.drawText(text_rect, Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, text);
  } else {
    painter.drawText(text_rect, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine,
                     painter.fontMetrics().elidedText(text, Qt::ElideRight, text_rect.width()));
  }
  painter.setPen(QPen(Qt::black, 1));
  if (paint.focus_rect) {
    QStyleOptionFocusRect option;
    option.rect = text_rect;
    option.palette = dg_->palette();
    dg_->style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, dg_);
  } else {
    for (const live::TLine& line : paint.lines)
      painter.drawLine(line.x1, line.y1, line.x2, line.y2);
  }
  if (!paint.frame.empty()) {
    painter.setPen(QPen(Qt::red, 5, Qt::SolidLine, Qt::FlatCap));
    for (const live::TLine& line : paint.frame)
      painter.drawLine(line.x1, line.y1, line.x2, line.y2);
  }
  painter.restore();
}

void TLiveImportWindow::Panel4Resize() {
  FitGridColumns();
}

// --- TLiveScreen -------------------------------------------------------------------------

std::string TLiveImportWindow::Caption() const {
  return ui::FromQString(windowTitle());
}
void TLiveImportWindow::SetCaption(const std::string& text) {
  setWindowTitle(ui::ToQString(text));
}

int TLiveImportWindow::RowCount() const {
  return dg_->RowCount();
}
void TLiveImportWindow::SetRowCount(int rows) {
  dg_->SetRowCount(rows);
}
void TLiveImportWindow::ClearGrid() {
  dg_->ClearRows();
}
// The table build names the same columns in the same order on every row: the entry after the
// last one found is tried first.
int TLiveImportWindow::ColumnOf(std::string_view field) const {
  const size_t n = column_cache_.size();
  for (size_t k = 0; k < n; ++k) {
    const size_t i = (column_next_ + k) % n;
    if (column_cache_[i].first == field) {
      column_next_ = i + 1;
      return column_cache_[i].second;
    }
  }
  const int index = dg_->ColumnIndex(field);
  if (n < 16) column_cache_.emplace_back(std::string(field), index);
  return index;
}
std::string TLiveImportWindow::Cell(std::string_view field, int row) const {
  const int col = ColumnOf(field);
  return col < 0 ? std::string() : dg_->Cell(col, row);
}
void TLiveImportWindow::SetCell(std::string_view field, int row, std::string_view text) {
  const int col = ColumnOf(field);
  if (col >= 0) dg_->SetCell(col, row, text);
}
void TLiveImportWindow::BeginGridUpdate() {
  dg_->BeginUpdate();
}
void TLiveImportWindow::EndGridUpdate() {
  dg_->EndUpdate();
}
void TLiveImportWindow::SetGridFixedMode() {
  dg_->SetFixedMode();
}

std::vector<live::TGridColumn> TLiveImportWindow::GridColumns() const {
  std::vector<live::TGridColumn> columns;
  for (int i = 0; i < dg_->ColumnCount(); ++i)
    columns.push_back({dg_->Column(i).field_name, dg_->ColumnWidth(i)});
  return columns;
}

void TLiveImportWindow::SetGridColumnWidths(const std::vector<live::TGridColumn>& columns) {
  for (size_t i = 0; i < columns.size() && static_cast<int>(i) < dg_->ColumnCount(); ++i) {
    if (dg_->ColumnWidth(static_cast<int>(i)) != columns[i].width)
      dg_->SetColumnWidth(static_cast<int>(i), columns[i].width);
  }
}

void TLiveImportWindow::FitGridColumns() {
  std::vector<live::TGridColumn> columns = GridColumns();
  std::vector<int> widths;
  for (const auto& column : columns)
    widths.push_back(column.width);
  widths = live::FitColumnWidths(widths, dg_->ClientWidth(), dg_->VerticalScrollBarShown(),
                                 dg_->ScrollBarWidth());
  for (size_t i = 0; i < columns.size(); ++i)
    columns[i].width = widths[i];
  SetGridColumnWidths(columns);
}

QLineEdit* TLiveImportWindow::LineEdit(TEditId edit) const {
  switch (edit) {
    case TEditId::EditSumme:
      return edit_summe_;
    case TEditId::EditAbzug:
      return edit_abzug_->lineEdit();
    case TEditId::Pnetto:
      return pnetto_;
    case TEditId::PBrutto:
      return pbrutto_;
    case TEditId::EFullRest:
      return efull_rest_;
  }
  return edit_summe_;
}

std::string TLiveImportWindow::EditText(TEditId edit) const {
  return ui::FromQString(LineEdit(edit)->text());
}

// Texts set from code are read from their start, as the user reads them.
void TLiveImportWindow::SetEditText(TEditId edit, const std::string& text) {
  QLineEdit* line = LineEdit(edit);
  line->setText(ui::ToQString(text));
  if (!line->hasFocus()) line->setCursorPosition(0);
}

std::vector<std::string> TLiveImportWindow::AbzugItems() const {
  std::vector<std::string> items;
  for (int i = 0; i < edit_abzug_->count(); ++i)
    items.push_back(ui::FromQString(edit_abzug_->itemText(i)));
  return items;
}

// A combo box makes its first item current, and its text the edit's: keep the edit's text.
void TLiveImportWindow::ClearAbzugItems() {
  const QString text = edit_abzug_->currentText();
  edit_abzug_->clear();
  KeepAbzugText(text);
}
void TLiveImportWindow::InsertAbzugItem(int index, const std::string& text) {
  const QString current = edit_abzug_->currentText();
  edit_abzug_->insertItem(index, ui::ToQString(text));
  KeepAbzugText(current);
}
void TLiveImportWindow::KeepAbzugText(const QString& text) {
  edit_abzug_->setEditText(text);
  if (!edit_abzug_->hasFocus()) edit_abzug_->lineEdit()->setCursorPosition(0);
}
void TLiveImportWindow::AddAbzugItem(const std::string& text) {
  InsertAbzugItem(edit_abzug_->count(), text);
}

void TLiveImportWindow::ShowInfo(const std::string& html) {
  if (message_sink_) return message_sink_("info", html);
  ui::ShowInfoBox(this, ui::ToQString(kApplicationTitle), ui::ToQString(html));
}

void TLiveImportWindow::ShowError(const std::string& text) {
  if (message_sink_) return message_sink_("error", text);
  ui::ShowErrorBox(this, ui::ToQString(kApplicationTitle), ui::ToQString(text));
}

void TLiveImportWindow::ShowBusyCursor() {
  ui::ShowBusyCursor();
}
void TLiveImportWindow::ShowDefaultCursor() {
  ui::ShowDefaultCursor();
}

void TLiveImportWindow::PutListingOnClipboard(const std::string& clipboard_html,
                                              const std::string& fragment,
                                              const std::string& plain) {
  ui::PutListingOnClipboard(clipboard_html, fragment, plain);
}

live::TWindowState TLiveImportWindow::WindowState() const {
  live::TWindowState state;
  state.rect = ToRect(frameGeometry());
  state.maximized = isMaximized();
  state.has_border = true;
  state.min_width = minimumWidth();
  state.min_height = minimumHeight();
  state.max_width = maximumWidth() >= QWIDGETSIZE_MAX ? 0 : maximumWidth();
  state.max_height = maximumHeight() >= QWIDGETSIZE_MAX ? 0 : maximumHeight();
  state.position = position_;
  return state;
}

// The rectangle is the outer one, decorations included; Qt sizes the inside.
void TLiveImportWindow::SetWindowState(const live::TWindowState& state) {
  position_ = state.position;
  const QRect frame = frameGeometry();
  const QRect inner = geometry();
  const int left = inner.left() - frame.left();
  const int top = inner.top() - frame.top();
  const int right = frame.right() - inner.right();
  const int bottom = frame.bottom() - inner.bottom();
  const int width = std::max(1, state.rect.Width() - left - right);
  const int height = std::max(1, state.rect.Height() - top - bottom);
  resize(width, height);
  move(state.rect.left, state.rect.top);
}

live::TDesktop TLiveImportWindow::Desktop() const {
  live::TDesktop desktop;
  const QScreen* primary = QGuiApplication::primaryScreen();
  for (const QScreen* screen : QGuiApplication::screens())
    desktop.monitors.push_back(
        {ToRect(screen->geometry()), ToRect(screen->availableGeometry()), screen == primary});
  const QWidget* active = QApplication::activeWindow();
  desktop.active_window = ToRect((active != nullptr ? active : this)->frameGeometry());
  desktop.edge_width = 2;
  desktop.edge_height = 2;
  return desktop;
}

}  // namespace rb::app
