// The live view's window without its widgets: the state of TLiveImportFrm and its handlers, from
// the load sequence to the notes. The widgets live behind TLiveScreen (live/LiveScreen.h); the
// Qt window in app/ forwards its events to the handlers named here and carries out what they
// ask of the screen.
//
// Created: the placement of the last run comes back from "UserMode.INI" in TempFolder().
// The load, once posted by FormShow or "Neu lesen" (FlatSpeedButton1Click):
//   busy cursor -> column layout -> "OFFICEMETRICS" (first load only, places the window beside
//   the host's) -> "TAXH" -> "GETJSON" (the document, parsed, its file deleted) -> "DBPATH" ->
//   caption -> FillPositions (table, sums, earlier invoices, notes) -> default cursor.
// A document without order or positions shows "Datenübergabe fehlerhaft!" and closes the window;
// an error of the table build shows its message and closes it; any other error leaves the
// handler (cursor restored, temporary file deleted) for the general error display, and the
// window stays open. Run handlers through Dispatch to get that display.
//
// Amounts: OrderSum is the sum of every shown position but the last; DeductionTarget the
// running price through all but the last two, or the earlier invoices' sum when there is one.
// Prices 100, 200, 50, -300 give running prices 100,00 300,00 350,00, OrderSum 350 and
// DeductionTarget 300.
//
// Ownership: the view owns its document tree, info lines and notes; OrderObject and PartList
// point into the tree and are cleared whenever it is replaced. The screen must outlive the
// view. Everything runs on the window's thread.
//
// Closing (FormCloseQuery) stores the placement and the column layout ("dgdview.COL"); a
// layout file that cannot be created is shown and keeps the window open.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "exchange/IPCValue.h"
#include "json/TKXJSON.h"
#include "json/ULinked.h"
#include "live/LiveScreen.h"
#include "live/Notes.h"
#include "util/Files.h"

namespace rb::live {

// The grid's columns by field name.
inline constexpr const char* kColumn0 = "TColumn-1";
inline constexpr const char* kColPosition = "Position";
inline constexpr const char* kColDescription = "Description1";
inline constexpr const char* kColPrice = "PRICE";
inline constexpr const char* kColKumPrice = "KUMPRICE";

inline constexpr const char* kVersionTooOld = "Kontorix Version zu gering!";
inline constexpr const char* kTransferFailed =
    "Daten\xFC"
    "bergabe fehlerhaft!";
inline constexpr const char* kPreviousInvoicesSuffix = " aus vorhergehenden RE";

// What the view waits for and how often it retries. The defaults are the program's; tests
// shorten the waits.
struct TLiveSettings {
  // The four plain requests: the host answers them from memory or a file copy.
  TIPCSettings requests;
  // "ANYQUERY" runs SQL on the host's side and may take longer.
  TIPCSettings query;
  // The document file, the notes file and the query's temporary file.
  RetryPolicy files;
  TLiveSettings() {
    requests.read_timeout_ms = 10000;
    query.read_timeout_ms = 30000;
  }
};

class TLiveImportFrm {
 public:
  explicit TLiveImportFrm(TLiveScreen& screen, TLiveSettings settings = TLiveSettings());
  TLiveImportFrm(const TLiveImportFrm&) = delete;
  TLiveImportFrm& operator=(const TLiveImportFrm&) = delete;
  ~TLiveImportFrm();

  // Handlers, named after the control and the event that runs them.
  void FormCreate();
  void FormShow();
  void LoadDocument();
  void FlatSpeedButton1Click();
  void FlatButton2Click();
  void PnettoChange(TEditId sender);
  // Whether the window may close: not when its column layout cannot be stored.
  bool FormCloseQuery();
  void FormDestroy();

  // The steps the load runs; public so that tests can drive them one by one.
  void FillPositions();
  void ReadPreviousInvoices();
  void LoadNotes();
  void UpdateRest();

  // Takes a parsed document as the load does (order, link id, positions); none clears them.
  void SetDocument(TKXJSONPtr tree);

  // Runs a handler as the event loop does: an error that escapes it goes to the general error
  // display, and the program goes on.
  void Dispatch(const std::function<void()>& handler);

  // The state the screen and the tests read.
  bool Positioned() const { return positioned_; }
  double TaxRate() const { return tax_rate_; }
  const std::string& LinkUid() const { return link_uid_; }
  const std::string& DbPath() const { return db_path_; }
  double DeductionTarget() const { return deduction_target_; }
  double OrderSum() const { return order_sum_; }
  double PreviousInvoicesSum() const { return previous_invoices_sum_; }
  const TNotes& Notes() const { return notes_; }
  const TAddInfoLines& InfoLineList() const { return info_line_list_; }
  TKXCustomJSON* OrderObject() const { return order_object_; }
  TKXCustomJSON* PartList() const { return part_list_; }

 private:
  void PlaceBesideHost();
  void LoadGridLayout();
  void ReadDocument();
  std::string NotesFile() const;

  TLiveScreen& screen_;
  const TLiveSettings settings_;

  bool positioned_ = false;
  TAddInfoLines info_line_list_;
  double tax_rate_ = 0;
  std::string link_uid_;
  TNotes notes_;
  bool loading_ = false;
  int32_t change_depth_ = 0;
  TKXJSONPtr document_tree_;
  TKXCustomJSON* order_object_ = nullptr;
  TKXCustomJSON* part_list_ = nullptr;
  std::string db_path_;
  double deduction_target_ = 0;
  double order_sum_ = 0;
  double previous_invoices_sum_ = 0;
};

}  // namespace rb::live
