#include "live/LiveImportFrm.h"

#include <chrono>
#include <cmath>
#include <string_view>
#include <vector>

#include "json/JSONAccess.h"
#include "json/TKXJSONStreamer.h"
#include "live/ColumnLayout.h"
#include "live/Listing.h"
#include "live/Messages.h"
#include "platform/CodePage.h"
#include "platform/FileSystem.h"
#include "recordset/UVirtualDataset.h"
#include "util/Errors.h"
#include "util/Numbers.h"

namespace rb::live {
namespace {

// Runs a function when the scope ends, however it ends.
template <class F>
class TFinally {
 public:
  explicit TFinally(F f) : f_(std::move(f)) {}
  TFinally(const TFinally&) = delete;
  TFinally& operator=(const TFinally&) = delete;
  ~TFinally() { f_(); }

 private:
  F f_;
};

// Positions of these kinds (text lines, subtotals and the like) are neither shown nor summed.
bool IsHiddenKind(const std::string& kind) {
  return kind == "t" || kind == "d" || kind == "a" || kind == "-" || kind == "\x81";
}

// A whole decimal number with optional leading blanks and sign, as a 32-bit integer; anything
// else counts as 0.
int IntegerOrZero(std::string_view text) {
  size_t i = text.find_first_not_of(' ');
  if (i == std::string_view::npos) return 0;
  bool negative = false;
  if (text[i] == '-' || text[i] == '+') negative = text[i++] == '-';
  if (i == text.size()) return 0;
  long long value = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return 0;
    value = value * 10 + (text[i] - '0');
    if (value > 2147483648LL) return 0;
  }
  value = negative ? -value : value;
  return value > 2147483647LL ? 0 : static_cast<int>(value);
}

// The members of a position that the table reads, each read as MemberAsText reads it. The
// reader gives positions with the same names in the same order one name index, so the members'
// places are looked up once for such a run; a text member is converted straight into a buffer
// that keeps its storage from row to row.
class TPositionReader {
 public:
  enum TMember { kTypLine, kRow, kPosition, kDescription1, kPrice, kMemberCount };

  void Select(TKXCustomJSON* position) {
    position_ = position;
    object_ = position != nullptr && position->GetKind() == ValueKind::js_Object
                  ? static_cast<TKXJSON*>(position)
                  : nullptr;
    if (object_ == nullptr) return;
    if (indexed_ != nullptr && object_->NameIndex().SameIndexAs(indexed_->NameIndex())) return;
    for (int m = 0; m < kMemberCount; ++m)
      places_[m] = object_->MemberIndex(kNames16[m]);
    indexed_ = object_;
  }

  // The member's text; valid until the next call.
  const std::string& Text(TMember member) {
    text_.clear();
    if (TKXJSONstring* value = String(member))
      platform::WideToAnsi(value->Text(), text_);
    else if (NeedsGeneralRead(member))
      text_ = position_->MemberAsText(kNames[member]);
    return text_;
  }

  // Text(member).empty(), without converting: the conversion keeps the length.
  bool TextEmpty(TMember member) {
    if (TKXJSONstring* value = String(member)) return value->Text().empty();
    return !NeedsGeneralRead(member) || position_->MemberAsText(kNames[member]).empty();
  }

  // The price as the host sent it: a JSON number is taken as it is, so that it never depends on
  // how the user's locale would spell it as text; anything else is read as text.
  double Price() {
    TKXCustomJSON* price = Value(kPrice);
    if (price != nullptr && price->GetKind() == ValueKind::js_Number)
      return static_cast<double>(static_cast<TKXJSONnumber*>(price)->Value());
    return static_cast<double>(TextToNumber(position_->MemberAsText(doc::kPrice)));
  }

 private:
  static constexpr std::u16string_view kNames16[kMemberCount] = {u"TypLine", u"Row", u"Position",
                                                                 u"Description1", u"Price"};
  static constexpr const char* kNames[kMemberCount] = {doc::kTypLine, doc::kRow, doc::kPosition,
                                                       doc::kDescription1, doc::kPrice};

  // What MemberValue gives for the member's name.
  TKXCustomJSON* Value(TMember member) const {
    if (object_ == nullptr) return nullptr;
    const auto* pair = TKXJSONobjectmethod::AsPair(object_->GetItem(places_[member]));
    return pair != nullptr ? pair->Value() : nullptr;
  }

  TKXJSONstring* String(TMember member) const {
    TKXCustomJSON* value = Value(member);
    return value != nullptr && value->GetKind() == ValueKind::js_String
               ? static_cast<TKXJSONstring*>(value)
               : nullptr;
  }

  // Whether a member that is no text takes the general path: in an object only a member that is
  // there (a missing one reads ""); any other position (no object) always.
  bool NeedsGeneralRead(TMember member) const {
    if (position_ == nullptr) return false;
    return object_ == nullptr || Value(member) != nullptr;
  }

  TKXCustomJSON* position_ = nullptr;
  TKXJSON* object_ = nullptr;         // position_ when it is an object
  const TKXJSON* indexed_ = nullptr;  // the object whose index places_ come from
  int32_t places_[kMemberCount] = {};
  std::string text_;
};

// dd.mm.yyyy with the program's date separator; a day number outside the years 1 to 9999 is no
// date and raises like the record set's own conversions.
std::string FormatShortDate(double day_number) {
  using namespace std::chrono;
  constexpr double kFirst = -693593;  // 1 January 1
  constexpr double kLast = 2958465;   // 31 December 9999
  if (!std::isfinite(day_number) || day_number < kFirst || day_number >= kLast + 1)
    throw EConvertError("Ung\xFCltiges Datum");
  const sys_days day =
      sys_days(year(1899) / December / 30) + days(static_cast<long long>(std::floor(day_number)));
  const year_month_day ymd(day);
  char text[16];
  const char sep = NumberSettings().DateSeparator;
  std::snprintf(text, sizeof text, "%02u%c%02u%c%04d", static_cast<unsigned>(ymd.day()), sep,
                static_cast<unsigned>(ymd.month()), sep, static_cast<int>(ymd.year()));
  return text;
}

}  // namespace

TLiveImportFrm::TLiveImportFrm(TLiveScreen& screen, TLiveSettings settings)
    : screen_(screen), settings_(std::move(settings)) {}

TLiveImportFrm::~TLiveImportFrm() = default;

void TLiveImportFrm::FormCreate() {
  SetUserModeFolder(TempFolder());
  TWindowState window = screen_.WindowState();
  const TFastIniFile ini(UserModeFile());
  RestorePlacement(ini, kPlacementPrefix, -1, TRestoreMode::TopLeft, window, screen_.Desktop());
  screen_.SetWindowState(window);
}

void TLiveImportFrm::FormShow() {
  screen_.PostLoad();
}

void TLiveImportFrm::FlatSpeedButton1Click() {
  WriteColumnLayout(ColumnLayoutFileName(), screen_.GridColumns());
  screen_.PostLoad();
}

void TLiveImportFrm::FlatButton2Click() {
  const TListing listing = BuildListing(
      screen_.RowCount(),
      [this](const std::string& field, int row) { return screen_.Cell(field, row); },
      screen_.EditText(TEditId::EditSumme));
  screen_.PutListingOnClipboard(BuildClipboardHtml(listing.html), listing.html,
                                ClipboardPlainText(listing));
  screen_.ShowInfo(ShowInfoHtml(kListingCopiedInfo));
}

bool TLiveImportFrm::FormCloseQuery() {
  // The placement is a convenience: a file that cannot be written loses it, nothing more.
  try {
    TFastIniFile ini(UserModeFile());
    SavePlacement(ini, kPlacementPrefix, -1, TRestoreMode::Centered, screen_.WindowState(),
                  screen_.Desktop());
    ini.UpdateFile();
  } catch (const std::exception&) {
  }
  try {
    WriteColumnLayout(ColumnLayoutFileName(), screen_.GridColumns());
  } catch (const std::exception& error) {
    screen_.ShowError(ErrorDisplayText(error.what()));
    return false;
  }
  return true;
}

void TLiveImportFrm::FormDestroy() {
  order_object_ = nullptr;
  part_list_ = nullptr;
  document_tree_.reset();
  info_line_list_.ClearLines();
  notes_.Clear();
}

void TLiveImportFrm::Dispatch(const std::function<void()>& handler) {
  try {
    handler();
  } catch (const std::exception& error) {
    screen_.ShowError(ErrorDisplayText(error.what()));
  }
}

void TLiveImportFrm::LoadDocument() {
  screen_.ShowBusyCursor();
  TFinally restore_cursor([this] { screen_.ShowDefaultCursor(); });

  LoadGridLayout();
  if (!positioned_) PlaceBesideHost();
  tax_rate_ = static_cast<double>(TextToNumber(ReadIPCValue("TAXH", settings_.requests)));
  ReadDocument();
  db_path_ = ReadIPCValueSync("DBPATH", false, "", settings_.requests);

  if (order_object_ == nullptr || part_list_ == nullptr) {
    screen_.ShowDefaultCursor();
    screen_.ShowInfo(ShowInfoHtml(kTransferFailed));
    screen_.PostClose();
    return;
  }

  TKXCustomJSON* adress = order_object_->FindMember(doc::kAdress);
  if (adress != nullptr && adress != order_object_ && adress->ItemCount() == 1) {
    TKXCustomJSON* first = adress->ItemAt(0);
    screen_.SetCaption((first != nullptr ? first->MemberAsText(doc::kAdressSmart) : "") + "  " +
                       order_object_->MemberAsText(doc::kPrintName));
  }

  try {
    FillPositions();
  } catch (const std::exception& error) {
    screen_.ShowDefaultCursor();
    screen_.ShowInfo(ShowInfoHtml(error.what()));
    screen_.PostClose();
  }
}

void TLiveImportFrm::LoadGridLayout() {
  const std::string path = ColumnLayoutFileName();
  if (FileExists(path)) {
    std::vector<TGridColumn> columns = screen_.GridColumns();
    LoadColumnLayout(path, columns);
    screen_.SetGridColumnWidths(columns);
  }
  screen_.FitGridColumns();
}

void TLiveImportFrm::PlaceBesideHost() {
  positioned_ = true;
  const std::vector<std::string> pieces =
      SplitText(",", ReadIPCValue("OFFICEMETRICS", settings_.requests), 4, 4);
  TWindowState window = screen_.WindowState();
  if (pieces.empty()) {
    window.position = TWindowPosition::ScreenCenter;
  } else {
    const int width = window.rect.Width();
    const int height = window.rect.Height();
    if (!pieces[0].empty()) window.rect.left = IntegerOrZero(pieces[0]) + 20;
    if (!pieces[1].empty()) window.rect.top = IntegerOrZero(pieces[1]) + 20;
    window.rect = TRect::FromSize(window.rect.left, window.rect.top, width, height);
  }
  screen_.SetWindowState(FitToMonitor(window, screen_.Desktop()));
}

void TLiveImportFrm::ReadDocument() {
  const std::string path = ReadIPCValueSync("GETJSON", false, "", settings_.requests);
  SetDocument(nullptr);
  // The host made the file for this one read: it goes whatever the read did.
  TFinally delete_file([&path] {
    if (!path.empty()) platform::DeleteFile(path);
  });
  if (!path.empty()) SetDocument(TKXJSONStreamer::ReadFile(path, settings_.files));
  // The previous document's pages served this read; what is left over goes back to the heap
  // instead of staying with the program until the next "Neu lesen".
  TKXArena::ReleaseCachedPages();
}

void TLiveImportFrm::SetDocument(TKXJSONPtr tree) {
  order_object_ = nullptr;
  part_list_ = nullptr;
  link_uid_.clear();
  document_tree_ = std::move(tree);
  if (!document_tree_) return;

  TKXCustomJSON* orders = document_tree_->FindMember(doc::kOrder);
  if (orders == nullptr || orders->ItemCount() < 1) return;
  order_object_ = orders->ItemAt(0);
  if (order_object_ == nullptr) return;
  link_uid_ = order_object_->MemberAsText(doc::kLinkUid);
  // A link id that could name a file outside the notes folder is no link id.
  if (!IsUsableLinkUid(link_uid_)) link_uid_.clear();
  part_list_ = order_object_->FindMember(doc::kParts);
}

void TLiveImportFrm::FillPositions() {
  previous_invoices_sum_ = 0;
  info_line_list_.LoadFromText(order_object_->MemberAsText(doc::kInfoLines));
  if (info_line_list_.Count() >= 1) ReadPreviousInvoices();
  if (part_list_ == nullptr) return;

  double running = 0;
  order_sum_ = 0;
  deduction_target_ = 0;
  {
    screen_.BeginGridUpdate();
    TFinally resume([this] { screen_.EndGridUpdate(); });
    screen_.ClearGrid();
    const int32_t count = part_list_->ItemCount();
    screen_.SetRowCount(count + 1);
    std::vector<char> hidden(static_cast<size_t>(count));
    TPositionReader reader;
    int rows = 1;
    for (int32_t i = 0; i < count; ++i) {
      reader.Select(part_list_->ItemAt(i));
      hidden[i] = IsHiddenKind(reader.Text(TPositionReader::kTypLine));
      if (!hidden[i]) ++rows;
    }
    screen_.SetRowCount(rows);

    int j = 1;
    for (int32_t i = 0; i < count; ++i) {
      reader.Select(part_list_->ItemAt(i));
      if (reader.TextEmpty(TPositionReader::kRow)) throw Exception(kVersionTooOld);
      if (hidden[i]) continue;
      screen_.SetCell(kColPosition, j, reader.Text(TPositionReader::kPosition));
      screen_.SetCell(kColDescription, j, reader.Text(TPositionReader::kDescription1));
      const double price = reader.Price();
      screen_.SetCell(kColPrice, j, FormatAmount(price));
      running += price;
      if (j + 1 < rows) {
        screen_.SetCell(kColKumPrice, j, FormatAmount(running));
        order_sum_ += price;
      }
      if (j + 2 < rows) deduction_target_ = running;
      if (j == rows - 1) {
        if (previous_invoices_sum_ != 0) {
          deduction_target_ = previous_invoices_sum_;
          const std::string text = FormatAmount(deduction_target_) + kPreviousInvoicesSuffix;
          screen_.SetEditText(TEditId::EditAbzug, text);
          screen_.InsertAbzugItem(0, text);
        } else {
          screen_.SetEditText(TEditId::EditAbzug, FormatAmount(deduction_target_));
        }
      }
      ++j;
    }
  }
  screen_.SetEditText(TEditId::EditSumme, FormatAmount(order_sum_) + " / " +
                                              FormatAmount(NetToGross(order_sum_, tax_rate_)));
  screen_.SetGridFixedMode();
  LoadNotes();
}

void TLiveImportFrm::ReadPreviousInvoices() {
  previous_invoices_sum_ = 0;
  screen_.ClearAbzugItems();
  TVirtualDataSet records;
  TBinaryStreamFormat format;

  std::string condition;
  for (int32_t i = 0; i < info_line_list_.Count(); ++i) {
    if (i > 0) condition += " OR ";
    condition += "ID=" + std::to_string(info_line_list_.Items(i).ORG_ID);
  }
  if (condition.empty()) return;

  const std::string file = UniqueTempFileName();
  TFinally delete_file([&] { DeleteFileRetry(file, settings_.files); });
  const std::string sql = "Select ID,WW_NETTO,POT,ID_ORDER,DATE from Auftraege where " + condition;
  const std::string folder = platform::AnsiLowerCase(ExpandUNCFileName(
      IncludePathDelimiter(ReadIPCValueSync("DBPATH", false, "", settings_.requests))));
  const std::string data = folder + '\b' + sql + '\b' + "vds" + '\b' + file;
  const std::string reply = ReadIPCValueSync("ANYQUERY", false, data, settings_.query);

  // Earlier invoices only refine the deduction target: whatever goes wrong here ends the walk
  // quietly and keeps what was gathered.
  try {
    records.LoadFieldDefsFromText(reply, true);
    records.LoadFromFile(file, format);
    for (records.First(); !records.Eof(); records.Next()) {
      if (records.FieldByName("POT")->AsInteger() != 1) continue;
      previous_invoices_sum_ += records.FieldByName("WW_NETTO")->AsFloat();
      screen_.AddAbzugItem(records.FieldByName("ID_ORDER")->AsString() + " " +
                           FormatShortDate(records.FieldByName("DATE")->AsDateTime()));
    }
  } catch (const std::exception&) {
  }
}

std::string TLiveImportFrm::NotesFile() const {
  return NotesFileName(db_path_, link_uid_);
}

void TLiveImportFrm::LoadNotes() {
  loading_ = true;
  notes_.Clear();
  {
    // The edits show whatever the notes hold, also when reading them failed.
    TFinally fill_edits([this] {
      screen_.SetEditText(TEditId::Pnetto,
                          FormatAmountPlain(static_cast<double>(TextToNumber(notes_.Value("PN")))));
      screen_.SetEditText(TEditId::PBrutto,
                          FormatAmountPlain(static_cast<double>(TextToNumber(notes_.Value("PB")))));
      loading_ = false;
    });
    if (!link_uid_.empty()) notes_.Load(NotesFile(), settings_.files);
  }
  UpdateRest();
}

void TLiveImportFrm::PnettoChange(TEditId sender) {
  if (loading_ || link_uid_.empty()) return;
  if (change_depth_ == 0) {
    {
      ++change_depth_;
      // A failed store inside the nested run must not leave conversions switched off for good.
      TFinally lower([this] { --change_depth_; });
      if (sender == TEditId::Pnetto) {
        const double net = static_cast<double>(TextToNumber(screen_.EditText(TEditId::Pnetto)));
        screen_.SetEditText(TEditId::PBrutto, FormatAmountPlain(NetToGross(net, tax_rate_)));
      } else {
        const double gross = static_cast<double>(TextToNumber(screen_.EditText(TEditId::PBrutto)));
        screen_.SetEditText(TEditId::Pnetto, FormatAmountPlain(GrossToNet(gross, tax_rate_)));
      }
    }
    UpdateRest();
  }
  notes_.SetValue("PN", screen_.EditText(TEditId::Pnetto));
  notes_.SetValue("PB", screen_.EditText(TEditId::PBrutto));
  notes_.Save(NotesFile(), settings_.files);
}

void TLiveImportFrm::UpdateRest() {
  const double net = static_cast<double>(TextToNumber(screen_.EditText(TEditId::Pnetto)));
  const double rest = net - order_sum_;
  screen_.SetEditText(TEditId::EFullRest,
                      FormatAmount(rest) + " / " + FormatAmount(NetToGross(rest, tax_rate_)));
}

}  // namespace rb::live
