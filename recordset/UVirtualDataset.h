// The in-memory record set: fields made from definitions (name, type code, size), records held
// in memory in a store (recordset/RecordStore.h), a cursor over them, editing through a small
// state machine, and loading and saving through a stream format (recordset/BinaryStreamFormat.h:
// the binary record-set stream). This header is the unit's umbrella and brings both in.
//
//   TVirtualDataSet ds;
//   ds.LoadFieldDefsFromText("ID,3,0\r\nWW_NETTO,6,0\r\n", true);   // defines and opens
//   TBinaryStreamFormat format;
//   ds.LoadFromFile(path, format);                                   // number of records read
//   for (ds.First(); !ds.Eof(); ds.Next()) total += ds.FieldByName("WW_NETTO")->AsFloat();
//
// Ownership: the record set owns its definitions, fields, store, records and name cache; fields
// and bookmarks handed out stay valid until the record set closes (fields) or the record moves
// (bookmark indexes). A stream format borrows the stream for one load or save.
//
// Failure: errors raise the exceptions of util/Errors.h with German texts (8-bit), e.g.
//   FieldByName of a missing name        EDatabaseError "Das Feld 'XYZ' wurde nicht gefunden"
//   definitions: empty / duplicate name  "Feldname fehlt" / "Doppelter Feldname 'pot'"
//   open with a type without a field     "Typ für Feld 'X' ist unbekannt"
//   open with a text or bytes size above 1 MiB (var bytes: 65535) or records above 16 MiB
//                                        "Ungültige Feldgröße für Feld 'X'"
//   (a negative size counts as 0)
//   a value written while browsing       "Datenmenge weder im Editier- noch im Einfügemodus"
//   a read-only field written            "Feld 'Nummer' kann nicht verändert werden"
//   a value outside the field's range    "... ist kein gültiger Wert für das Feld '...'"
//   text that is not a number            EConvertError
// TFastList raises EListError, the store's go-to-bookmark EBookMarkOutOfList. A malformed
// stream raises EReadError and keeps the records posted before it (never a half-read one). A
// records file that cannot be opened is not an error: LoadFromFile returns 0.
//
// Search, copying and blob streams (recordset/VirtualDatasetSearch.cpp, VirtualDatasetCopy.cpp,
// MemBlobStream.h):
//   ds.Locate("NAME;CITY", "m\xFCller \"bad t\xF6lz\"", loCaseInsensitive | loPartialKey);
//   ds.SearchRecords("*", "4711", 10, &hits, nullptr, 0);   // up to 10 matches into hits
//   copy.CopyFrom(&ds);                                      // structure and every record
//   auto blob = ds.CreateBlobStream(*ds.FieldByName("NOTE"), TBlobStreamMode::bmReadWrite);
// Search words that are not numbers, dates or Booleans never match fields of those types and
// raise nothing; null number fields match no word at all; a blob stream never reads or writes
// outside its blob.
//
// One thread at a time.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "recordset/BinaryStreamFormat.h"
#include "recordset/RecordStore.h"
#include "recordset/TXFiler.h"
#include "recordset/UBTree.h"
#include "util/Errors.h"
#include "util/Files.h"
#include "util/Streams.h"
#include "util/Variant.h"

namespace rb {

class TVirtualDataSet;
class TCustomDataProvider;

// How a records file is opened: 10 attempts, 100 ms apart.
RetryPolicy RecordsFileRetry();
class TMemBlobStream;

// Builds the upper-case table of the search's case-insensitive comparisons from the code
// page's mapping (platform::AnsiUpper). The program's start calls it once; the search calls it
// too, so a search before (or without) that call is still correct. Safe on any thread.
void InitUpperCaseTable();
// The table's upper-case form of one byte: 0xE4 (a umlaut) gives 0xC4.
unsigned char SearchUpperCase(unsigned char c);

// Options of Locate and SearchRecords, combined with |.
enum TLocateOption : unsigned {
  loCaseInsensitive = 1,
  loPartialKey = 2,
};
using TLocateOptions = unsigned;

enum class TBlobStreamMode { bmRead, bmWrite, bmReadWrite };

// Raised by the store's go-to-bookmark for an index outside the list.
class EBookMarkOutOfList : public Exception {
  using Exception::Exception;
};

enum TFieldType : int {
  ftUnknown = 0,
  ftString = 1,
  ftSmallint = 2,
  ftInteger = 3,
  ftWord = 4,
  ftBoolean = 5,
  ftFloat = 6,
  ftCurrency = 7,
  ftBCD = 8,
  ftDate = 9,
  ftTime = 10,
  ftDateTime = 11,
  ftBytes = 12,
  ftVarBytes = 13,
  ftAutoInc = 14,
  ftBlob = 15,
  ftMemo = 16,
  ftGraphic = 17,
  ftFmtMemo = 18,
  ftParadoxOle = 19,
  ftDBaseOle = 20,
  ftTypedBinary = 21,
  ftCursor = 22,
  ftFixedChar = 23,
  ftWideString = 24,
  ftLargeint = 25,
  ftADT = 26,
  ftArray = 27,
  ftReference = 28,
  ftDataSet = 29,
};

enum class TDataSetState {
  dsInactive,
  dsBrowse,
  dsEdit,
  dsInsert,
  dsSetKey,
  dsCalcFields,
  dsFilter,
  dsNewValue,
  dsOldValue,
  dsCurValue,
  dsBlockRead,
  dsInternalCalc,
};

enum class TFieldKind { fkData, fkCalculated, fkLookup, fkInternalCalc, fkAggregate };

struct TFieldDef {
  std::string Name;
  TFieldType DataType = ftUnknown;
  int Size = 0;
  bool Required = false;
};

class TFieldDefs {
 public:
  void Add(const std::string& name, TFieldType type, int size = 0, bool required = false);
  void Clear() { items_.clear(); }
  int Count() const { return static_cast<int>(items_.size()); }
  const TFieldDef& operator[](int index) const { return items_.at(index); }

 private:
  std::vector<TFieldDef> items_;
};

// The bytes a type keeps in the values area after its presence byte; -1 for a type that is not
// kept there (blobs and the structured types without storage).
int FieldValueWidth(TFieldType type, int size);

// What a field type keeps, in the few classes that value conversion, copying, searching and the
// stream format decide by. Within a class only the width (or unit) of the stored value differs.
enum class TValueClass {
  kNone,     // nothing of its own: the types without a field and the structured types
  kInteger,  // ftSmallint, ftInteger, ftWord, ftAutoInc, ftLargeint
  kBoolean,  // ftBoolean
  kFloat,    // ftFloat, ftCurrency: a double
  kFixed,    // ftBCD: a count of ten-thousandths
  kDate,     // ftDate, ftTime, ftDateTime: a day number
  kText,     // ftString, ftFixedChar
  kBytes,    // ftBytes, ftVarBytes
  kBlob,     // ftBlob to ftTypedBinary: a byte string outside the values area
};
// Inline: the stream format and the field code ask for it on every value.
inline TValueClass ValueClassOf(TFieldType type) {
  using C = TValueClass;
  switch (type) {
    case ftSmallint:
    case ftInteger:
    case ftWord:
    case ftAutoInc:
    case ftLargeint:
      return C::kInteger;
    case ftBoolean:
      return C::kBoolean;
    case ftFloat:
    case ftCurrency:
      return C::kFloat;
    case ftBCD:
      return C::kFixed;
    case ftDate:
    case ftTime:
    case ftDateTime:
      return C::kDate;
    case ftString:
    case ftFixedChar:
      return C::kText;
    case ftBytes:
    case ftVarBytes:
      return C::kBytes;
    default:
      return type >= ftBlob && type <= ftTypedBinary ? C::kBlob : C::kNone;
  }
}
inline bool IsBlobType(TFieldType type) {
  return ValueClassOf(type) == TValueClass::kBlob;
}

class TField {
 public:
  TField(TVirtualDataSet& dataset, std::string name, TFieldType type, int size,
         TFieldKind kind = TFieldKind::fkData);
  TField(const TField&) = delete;
  TField& operator=(const TField&) = delete;

  const std::string& FieldName() const { return name_; }
  // The display label, or the name when none is set.
  const std::string& DisplayName() const { return label_.empty() ? name_ : label_; }
  void SetDisplayLabel(std::string label) { label_ = std::move(label); }
  TFieldType DataType() const { return type_; }
  int Size() const { return size_; }
  TFieldKind FieldKind() const { return kind_; }
  bool ReadOnly() const { return read_only_; }
  void SetReadOnly(bool value) { read_only_ = value; }
  TVirtualDataSet& DataSet() const { return dataset_; }
  // Blob fields: set when a blob stream that wrote to the field is released; cleared when an
  // edit or insert begins or ends.
  bool Modified() const { return modified_; }
  void SetModified(bool value) { modified_ = value; }
  // Runs before a value is stored; may raise to refuse it.
  std::function<void(TField&)> OnValidate;
  // Where the field's value lives in a record, for loaders that fill stored records in place
  // (TVirtualDataSet::CanAppendDirectly): its presence byte in the values area (-1: not kept
  // there), and its slot among the blob strings (-1: not a blob). Set while the record set is
  // open.
  int ValueOffset() const { return offset_; }
  int BlobIndex() const { return blob_index_; }

  bool IsNull() const;
  // Null reads as 0, false or the empty text.
  int32_t AsInteger() const;
  int64_t AsLargeInt() const;
  double AsFloat() const;
  double AsCurrency() const;
  // The amount in ten-thousandths (currency and BCD fields keep four decimals).
  int64_t AsFixed() const;
  bool AsBoolean() const;
  double AsDateTime() const;  // day number, day 0 = 30 December 1899
  std::string AsString() const;

  void SetAsInteger(int32_t value);
  void SetAsLargeInt(int64_t value);
  void SetAsFloat(double value);
  void SetAsCurrency(double value);
  void SetAsFixed(int64_t ten_thousandths);
  void SetAsBoolean(bool value);
  void SetAsDateTime(double value);
  void SetAsString(const std::string& value);
  void Clear();

 private:
  friend class TVirtualDataSet;
  friend class TMemBlobStream;
  const uint8_t* Slot() const;  // presence byte in the active buffer, or null
  const std::string* Blob() const;
  void StoreBytes(const void* data, int count);  // count -1: null
  void StoreBlob(const std::string& bytes);
  // The stored value of an integer or date class field at its width or unit; REQUIRES not null.
  int64_t StoredInteger() const;
  double StoredDate() const;
  void StoreInteger(int64_t value);
  [[noreturn]] void ConvertError(const std::string& type_name) const;

  TVirtualDataSet& dataset_;
  std::string name_;
  std::string label_;
  TFieldType type_;
  int size_;
  TFieldKind kind_;
  bool read_only_ = false;
  bool modified_ = false;
  bool IsCalculated() const {
    return kind_ == TFieldKind::fkCalculated || kind_ == TFieldKind::fkInternalCalc ||
           kind_ == TFieldKind::fkLookup;
  }
  uint8_t* MutableSlot(TRecordBuffer& buffer) const;

  int offset_ = -1;      // presence byte in the values (or calculated) area; -1: none
  int blob_index_ = -1;  // blob types: slot in the blob strings
};

// Copies source's value of the current record into target, converting by target's type (null
// stays null); raises as the target's setters do. Structured fields are skipped.
void AssignFieldValue(TField& target, const TField& source);

// The lower-cased name cache over the record set's fields; remembers misses too.
//
// In front of the tree sits a small table of the names last asked for, spelt exactly as the
// caller spelt them: a walk that asks for the same few names on every record finds them with
// one byte comparison of the name instead of lower-casing it and searching the tree. The
// table only ever repeats an answer the tree gave, and is emptied with it.
class TFieldHelper {
 public:
  // The field under name (case-insensitive) among fields, cached; null when there is none.
  // The name expected next is compared here, inline; anything else goes the long way.
  TField* Find(const std::string& name, const std::vector<std::unique_ptr<TField>>& fields) {
    if (recent_hint_ < recent_count_) {
      const TRecentName& recent = recent_[recent_hint_];
      if (SameName(recent.name, name)) {
        recent_hint_ = recent_hint_ + 1 < recent_count_ ? recent_hint_ + 1 : 0;
        return recent.field;
      }
    }
    return FindAmongRecent(name, fields);
  }
  void Clear();
  const TBinTree& Tree() const { return tree_; }

 private:
  struct TRecentName {
    std::string name;  // as asked for, not lower-cased
    TField* field = nullptr;
  };
  // Searched from the front, so a walk over a record's fields finds each of them within a few
  // length comparisons; replaced round robin.
  static constexpr size_t kRecentNames = 8;
  // Byte for byte, eight at a time: the names are a few bytes long, and a library call per
  // candidate cost more than the comparison itself.
  static bool SameName(const std::string& known, const std::string& wanted) {
    size_t n = wanted.size();
    if (known.size() != n) return false;
    const char* a = known.data();
    const char* b = wanted.data();
    for (; n >= 8; n -= 8, a += 8, b += 8) {
      uint64_t x, y;
      std::memcpy(&x, a, 8);
      std::memcpy(&y, b, 8);
      if (x != y) return false;
    }
    for (; n > 0; --n, ++a, ++b)
      if (*a != *b) return false;
    return true;
  }
  TField* FindAmongRecent(const std::string& name,
                          const std::vector<std::unique_ptr<TField>>& fields);
  TField* FindInTree(const std::string& name, const std::vector<std::unique_ptr<TField>>& fields);

  TBinTree tree_;
  TTreeItem search_key_{nullptr, ""};  // reused so that a look-up allocates nothing
  std::array<TRecentName, kRecentNames> recent_;
  size_t recent_count_ = 0;  // entries in use
  size_t recent_next_ = 0;   // the entry replaced next once all are in use
  size_t recent_hint_ = 0;   // where the next search starts: after the last name found
};

class TCustomStreamFormat;

// 8 bytes: record id, then index in the list, both little-endian. Empty: no bookmark.
using TBookmark = std::vector<uint8_t>;

class TVirtualDataSet {
 public:
  using TDataSetEvent = std::function<void(TVirtualDataSet&)>;
  // Turns a search text into the form compared (e.g. without diacritics); see SearchRecords.
  using TTransformTextEvent = std::function<std::string(const std::string&)>;

  explicit TVirtualDataSet(void* owner = nullptr);
  TVirtualDataSet(const TVirtualDataSet&) = delete;
  TVirtualDataSet& operator=(const TVirtualDataSet&) = delete;
  virtual ~TVirtualDataSet();

  // Definitions and fields.
  TFieldDefs& FieldDefs() { return field_defs_; }
  // A field made without definitions; the record set must be closed. Calculated fields get
  // their values from OnCalcFields each time a record is fetched.
  TField& AddField(const std::string& name, TFieldType type, int size = 0,
                   TFieldKind kind = TFieldKind::fkData);
  int FieldCount() const { return static_cast<int>(fields_.size()); }
  TField& Fields(int index) const { return *fields_.at(index); }
  TField* FindField(const std::string& name) { return field_helper_.Find(name, fields_); }
  // Inline, like the cache's common case: a walk asks for every field of every record by name.
  TField* FieldByName(const std::string& name) {
    TField* field = field_helper_.Find(name, fields_);
    if (field == nullptr) FieldNotFound(name);
    return field;
  }
  // Rows "name,type,size" each ended by CR LF; a row not followed by CR LF is not read.
  void LoadFieldDefsFromText(const std::string& text, bool open);
  void LoadFieldDefsFromStream(TStream& stream, bool open);

  // Lifecycle.
  void Open();
  void Close();
  bool Active() const { return state_ != TDataSetState::dsInactive; }
  void SetActive(bool value) { value ? Open() : Close(); }
  TDataSetState State() const { return state_; }

  // Cursor.
  void First();
  void Last();
  void Next();
  void Prior();
  bool Eof() const { return eof_; }
  bool Bof() const { return bof_; }
  bool IsEmpty() const { return RecordCount() == 0; }
  int RecordCount() const;
  int RecNo() const;
  void SetRecNo(int rec_no);

  // Editing.
  void Append();
  void Insert();
  void Edit();
  void Post();
  void Cancel();
  void Delete();
  void CheckBrowseMode();

  // Bookmarks.
  TBookmark GetBookmark() const;
  bool BookmarkValid(const TBookmark& bookmark) const;
  int CompareBookmarks(const TBookmark& a, const TBookmark& b) const;
  void GotoBookmark(const TBookmark& bookmark);

  // Records through a stream format. The record set must be open; records are added to those
  // present and the cursor ends on the first record.
  virtual int LoadFromStream(TStream& stream, TCustomStreamFormat& format);
  // Opens the file (others may read, not write) with the attempts of retry, by default
  // RecordsFileRetry(): 10 tries 100 ms apart; 0 when none works.
  int LoadFromFile(const std::string& path, TCustomStreamFormat& format,
                   const RetryPolicy& retry = RecordsFileRetry());
  void SaveToStream(TStream& stream, TCustomStreamFormat& format);

  // Search. field_names: "*" for every field, else names separated by ";" (an unknown name
  // raises the not-found error). key_values: words separated by commas or blanks; a word in
  // double quotes may hold both. A record matches when every word matches at least one of the
  // fields; how a word matches depends on the field's type and the options.
  //
  // Locate stands on the first matching record and returns true, or stays where it was and
  // returns false. It uses OnTransformText.
  bool Locate(const std::string& field_names, const std::string& key_values,
              TLocateOptions options);
  // Null and empty key values search for the empty text.
  bool Locate(const std::string& field_names, const TVariant& key_values, TLocateOptions options);
  // Without a target: as Locate, with the given transform and without the scroll events
  // around it. With a target (never this record set): appends a copy of each matching record
  // to it, field by field by position, until it holds maximum records (maximum > 0) or the
  // records run out, and returns whether any record was appended. Either way the cursor stays
  // on the last record examined when that one matched, else goes back to where it was.
  bool SearchRecords(const std::string& field_names, const std::string& key_values, int maximum,
                     TVirtualDataSet* target, const TTransformTextEvent& transform,
                     TLocateOptions options);
  TTransformTextEvent OnTransformText;

  // Copying. CopyStructure: the record set must be closed; replaces its fields by fields made
  // from the source's definitions (name, type, size), leaving out types without storage
  // (ftUnknown, ftCursor, ftArray and above); a null source only frees the fields.
  void CopyStructure(TVirtualDataSet* source);
  // Replaces structure and records by the source's: every record, in order, values matched by
  // field name; a pending edit in the source is posted first and its cursor is left where it
  // was. Opens this record set (even for a null or closed source, which give no records).
  virtual void CopyFrom(TVirtualDataSet* source);
  // Frees every record (a pending edit is left first); nothing when closed.
  void EmptyRecords();

  // A stream over a blob field of the current record (see recordset/MemBlobStream.h); raises
  // EInvalidCast for a field that is not a blob field of this record set. The stream must be
  // released before the record set closes.
  std::unique_ptr<TStream> CreateBlobStream(TField& field, TBlobStreamMode mode);
  // Abandons the blob changes of the field in the edit buffer: in edit state the stored
  // record's blob comes back, in insert state the blob is emptied.
  void CloseBlob(TField& field);
  // Where errors go that must not be raised (a field-change notification failing while a blob
  // stream is released): the application's error display. By default written to stderr.
  static void SetErrorReporter(std::function<void(const std::exception&)> reporter);
  static void ReportError(const std::exception& error);

  // The bytes of a record's fixed values; the stream reader estimates record counts from it.
  int RecordDataSize() const { return record_data_size_; }
  bool Loading() const { return loading_; }
  void SetLoading(bool value) { loading_ = value; }

  // Loading without the per-record editing machinery: a stream format may append records to
  // the store (TCustomDataProvider::AppendBlank) and fill their values in place, at the fields'
  // ValueOffset and BlobIndex, instead of going through Append, the field setters and Post.
  // Allowed only where those would run nothing but this class's own code: browsing, this class
  // and its own store (not a derived one), no insert, post or cancel events, no change
  // notification while controls are enabled, and data fields only, none validated. The format
  // must convert and check each value as the fields' setters would.
  bool CanAppendDirectly() const;
  // After records were appended so: leaves the record set as Post of the last one would, or,
  // when failed, as Cancel of a half-read record after it would (nothing moves when none was
  // appended).
  void EndDirectAppend(int appended, bool failed);
  TCustomDataProvider& Provider() { return *provider_; }
  const TFieldHelper& FieldHelper() const { return field_helper_; }

  // Change notifications to attached views; suspended while the count is above 0.
  void DisableControls() { ++disable_count_; }
  void EnableControls();
  bool ControlsDisabled() const { return disable_count_ > 0; }
  std::function<void(TVirtualDataSet&, TField* changed)> OnDataChange;

  TDataSetEvent BeforeOpen, AfterOpen, BeforeClose, AfterClose, BeforeInsert, AfterInsert,
      BeforeEdit, AfterEdit, BeforePost, AfterPost, BeforeCancel, AfterCancel, BeforeDelete,
      AfterDelete, BeforeScroll, AfterScroll, OnNewRecord, OnCalcFields;
  bool AutoCalcFields = true;

 protected:
  virtual std::unique_ptr<TCustomDataProvider> CreateProvider();
  virtual void InitFieldLayout();
  // The buffer that field values read and write in the current state; null when none.
  virtual TRecordBuffer* GetActiveBuffer();
  virtual bool UsesTemporaryCopy() const { return provider_->UsesTemporaryCopy(); }

 private:
  friend class TField;
  friend class TCustomDataProvider;
  friend class TMemBlobStream;
  void CheckActive() const;
  [[noreturn]] static void FieldNotFound(const std::string& name);
  // The checks of writing a field's value, shared by the fields and the blob streams:
  // "Feld '%s' kann nicht verändert werden" for a read-only field unless loading, and
  // "Datenmenge weder im Editier- noch im Einfügemodus" outside editing and inserting.
  void CheckNotReadOnly(const TField& field) const;
  bool Editing() const {
    return state_ == TDataSetState::dsEdit || state_ == TDataSetState::dsInsert;
  }
  void CheckEditing() const;
  void CheckWritable(TField& field);
  void FieldChanged(TField* field);
  void DataSetChanged() { FieldChanged(nullptr); }
  void ClearBuffer(TRecordBuffer& buffer) const;
  // Puts the store's index on the record the cursor shows, so moves start from there.
  void SyncStore();
  // First (true) or Last; Next (true) or Prior.
  void MoveToEnd(bool first);
  void Step(bool forward);
  void Fire(const TDataSetEvent& event) {
    if (event) event(*this);
  }
  void FreeFields();
  // Makes one field per definition (fields_from_defs_); raises for types without a field
  // class and for duplicate names, leaving no fields.
  void MakeFieldsFromDefs();
  void CalculateFields(TRecordBuffer& buffer);
  // An edit or insert begins or ends: blob fields forget their stream changes, and blob streams
  // opened before stop writing (they would otherwise write into another record's edit).
  void EditBoundary();
  // Shows the stored record at index without events; false (nothing moved) when out of range.
  bool ShowRecordQuietly(int index);
  bool RecordMatches(const std::vector<TField*>& fields, const std::vector<std::string>& words,
                     const TTransformTextEvent& transform, TLocateOptions options);
  std::vector<TField*> SearchFields(const std::string& field_names);

  std::unique_ptr<TCustomDataProvider> provider_;
  TFieldHelper field_helper_;
  TFieldDefs field_defs_;
  std::vector<std::unique_ptr<TField>> fields_;
  bool fields_from_defs_ = false;
  std::vector<int> layout_;  // presence-byte offset per definition, -1 when not kept
  int record_data_size_ = 0;
  int blob_count_ = 0;
  int calculated_size_ = 0;
  TDataSetState state_ = TDataSetState::dsInactive;
  TRecordBuffer active_;  // the record the cursor shows; also the edit/insert buffer
  bool bof_ = true;
  bool eof_ = true;
  int insert_return_index_ = -1;  // where Cancel of an insert goes back to
  bool modified_ = false;         // a value was stored since the edit or insert began
  bool loading_ = false;
  bool cursor_open_ = false;
  int disable_count_ = 0;
  uint32_t edit_session_ = 0;  // counts EditBoundary calls
};

}  // namespace rb
