#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "recordset/UVirtualDataset.h"
#include "util/TestSupport.h"

namespace rb {
namespace {

// Every kept type, a structured one in the middle, and a blob.
const char kDefs[] =
    "ID,3,0\r\nNAME,1,12\r\nS,2,0\r\nW,4,0\r\nB,5,0\r\nF,6,0\r\nC,7,0\r\nBCD,8,0\r\n"
    "D,9,0\r\nT,10,0\r\nDT,11,0\r\nBY,12,3\r\nVB,13,5\r\nAI,14,0\r\nARR,27,0\r\nMEMO,16,0\r\n"
    "BL,15,0\r\nFC,23,3\r\nL,25,0\r\nADT,26,0\r\n";

void FillSource(TVirtualDataSet& ds, int count) {
  ds.LoadFieldDefsFromText(kDefs, true);
  for (int i = 1; i <= count; ++i) {
    ds.Append();
    ds.FieldByName("ID")->SetAsInteger(i);
    if (i != 2) {  // record 2 is null apart from its ID
      ds.FieldByName("NAME")->SetAsString(
          "Gr\xF6\xDF"
          "e " +
          std::to_string(i));
      ds.FieldByName("S")->SetAsInteger(-i);
      ds.FieldByName("W")->SetAsInteger(65535);
      ds.FieldByName("B")->SetAsBoolean(i % 2 == 1);
      ds.FieldByName("F")->SetAsFloat(i + 0.1);
      ds.FieldByName("C")->SetAsCurrency(i * 1.2345);
      ds.FieldByName("BCD")->SetAsFixed(i * 12345678);
      ds.FieldByName("D")->SetAsDateTime(45000 + i);
      ds.FieldByName("T")->SetAsDateTime(0.25);
      ds.FieldByName("DT")->SetAsDateTime(45000.75 + i);
      ds.FieldByName("BY")->SetAsString(std::string("\x01\x00\x02", 3));
      ds.FieldByName("VB")->SetAsString("ab");
      ds.FieldByName("AI")->SetAsInteger(1000 + i);
      ds.FieldByName("MEMO")->SetAsString(std::string(300, 'm'));
      ds.FieldByName("BL")->SetAsString(std::string("\x00\xFF", 2));
      ds.FieldByName("FC")->SetAsString("xyz");
      ds.FieldByName("L")->SetAsLargeInt(-9000000000000LL - i);
    }
    ds.Post();
  }
}

// Each record as the texts of the named fields (null marked), in order.
std::vector<std::string> Dump(TVirtualDataSet& ds) {
  std::vector<std::string> rows;
  for (ds.First(); !ds.Eof(); ds.Next()) {
    std::string row;
    for (int i = 0; i < ds.FieldCount(); ++i) {
      TField& f = ds.Fields(i);
      row += f.FieldName() + "=" + (f.IsNull() ? "<null>" : f.AsString()) + "|";
    }
    rows.push_back(row);
  }
  return rows;
}

std::vector<std::string> Names(TVirtualDataSet& ds) {
  std::vector<std::string> names;
  for (int i = 0; i < ds.FieldCount(); ++i)
    names.push_back(ds.Fields(i).FieldName());
  return names;
}

TEST(CopyStructure, CopiesDefinitionsLeavingOutTypesWithoutStorage) {
  TVirtualDataSet source;
  source.FieldDefs().Add("ID", ftInteger);
  source.FieldDefs().Add("U", ftUnknown);
  source.FieldDefs().Add("NAME", ftString, 7);
  source.FieldDefs().Add("CUR", ftCursor);
  source.FieldDefs().Add("X", ftADT);
  for (TFieldType t : {ftArray, ftReference, ftDataSet})
    source.FieldDefs().Add("S" + std::to_string(static_cast<int>(t)), t);
  source.FieldDefs().Add("M", ftMemo);

  TVirtualDataSet copy;
  copy.CopyStructure(&source);
  EXPECT_EQ(Names(copy), (std::vector<std::string>{"ID", "NAME", "X", "M"}));
  EXPECT_EQ(copy.FieldDefs().Count(), 4);
  EXPECT_EQ(copy.FieldByName("NAME")->DataType(), ftString);
  EXPECT_EQ(copy.FieldByName("NAME")->Size(), 7);
  EXPECT_EQ(copy.FieldByName("M")->DataType(), ftMemo);
  copy.Open();
  EXPECT_EQ(Names(copy), (std::vector<std::string>{"ID", "NAME", "X", "M"}));

  EXPECT_EQ(ErrorText<EDatabaseError>([&] { copy.CopyStructure(&source); }),
            "Operation bei ge\xF6"
            "ffneter Datenmenge nicht m\xF6glich");
  copy.Close();
  copy.CopyStructure(nullptr);  // frees the fields, keeps the definitions
  EXPECT_EQ(copy.FieldCount(), 0);
}

TEST(CopyStructure, FromFieldsMadeWithoutDefinitions) {
  TVirtualDataSet source;
  source.AddField("A", ftInteger);
  source.AddField("B", ftString, 5);
  source.AddField("CALC", ftInteger, 0, TFieldKind::fkCalculated);
  TVirtualDataSet copy;
  copy.CopyStructure(&source);
  EXPECT_EQ(Names(copy), (std::vector<std::string>{"A", "B"}));

  // Definitions left from an earlier open must not hide a field added since.
  source.Open();
  source.Close();
  source.AddField("C", ftFloat);
  TVirtualDataSet later;
  later.CopyStructure(&source);
  EXPECT_EQ(Names(later), (std::vector<std::string>{"A", "B", "C"}));
}

TEST(CopyStructure, WideStringDefinitionStillFailsToMakeAField) {
  TVirtualDataSet source;
  source.FieldDefs().Add("W", ftWideString, 4);
  TVirtualDataSet copy;
  EXPECT_EQ(ErrorText<EDatabaseError>([&] { copy.CopyStructure(&source); }),
            "Typ f\xFCr Feld 'W' ist unbekannt");
  EXPECT_EQ(copy.FieldCount(), 0);
}

TEST(CopyFrom, CopiesEveryRecordWithEveryType) {
  TVirtualDataSet source;
  FillSource(source, 3);
  source.SetRecNo(2);
  int source_scrolls = 0;
  source.AfterScroll = [&](TVirtualDataSet&) { ++source_scrolls; };

  TVirtualDataSet copy;
  copy.LoadFieldDefsFromText("OLD,3,0\r\n", true);
  copy.Append();
  copy.FieldByName("OLD")->SetAsInteger(1);
  copy.Post();
  copy.CopyFrom(&source);

  EXPECT_TRUE(copy.Active());
  EXPECT_FALSE(copy.Loading());
  EXPECT_EQ(copy.FindField("OLD"), nullptr);
  EXPECT_EQ(copy.FindField("ARR"), nullptr);  // no storage: left out
  EXPECT_EQ(copy.RecordCount(), 3);
  EXPECT_EQ(copy.RecNo(), 1);
  // The source's cursor stayed where it was, without scrolling its views.
  EXPECT_EQ(source.RecNo(), 2);
  EXPECT_EQ(source.FieldByName("ID")->AsInteger(), 2);
  EXPECT_EQ(source_scrolls, 0);

  // Field by field the same values (ARR is empty in the source's text and absent here).
  std::vector<std::string> want = Dump(source);
  for (std::string& row : want) {
    size_t at = row.find("ARR=");
    row.erase(at, row.find('|', at) - at + 1);
  }
  EXPECT_EQ(Dump(copy), want);
  EXPECT_EQ(copy.FieldByName("BCD")->AsFixed(), 3 * 12345678);
  EXPECT_EQ(copy.FieldByName("L")->AsLargeInt(), -9000000000003LL);
  EXPECT_EQ(copy.FieldByName("BL")->AsString(), std::string("\x00\xFF", 2));
}

TEST(CopyFrom, ReadOnlyTargetFieldsAreFilledWhileCopying) {
  // The loading mark lets a copy fill fields that a view may not change.
  TVirtualDataSet source;
  FillSource(source, 1);
  TVirtualDataSet copy;
  copy.OnNewRecord = [](TVirtualDataSet& ds) {
    for (int i = 0; i < ds.FieldCount(); ++i)
      ds.Fields(i).SetReadOnly(true);
  };
  copy.CopyFrom(&source);
  EXPECT_EQ(copy.RecordCount(), 1);
  EXPECT_EQ(copy.FieldByName("ID")->AsInteger(), 1);
  EXPECT_FALSE(copy.Loading());
}

TEST(CopyFrom, PendingEditInTheSourceIsPostedFirst) {
  TVirtualDataSet source;
  FillSource(source, 2);
  source.Edit();
  source.FieldByName("NAME")->SetAsString("ge\xE4ndert");
  TVirtualDataSet copy;
  copy.CopyFrom(&source);
  EXPECT_EQ(source.State(), TDataSetState::dsBrowse);
  copy.Last();
  EXPECT_EQ(copy.FieldByName("NAME")->AsString(), "ge\xE4ndert");
}

TEST(CopyFrom, NullClosedEmptyOrSelf) {
  TVirtualDataSet copy;
  copy.CopyFrom(nullptr);
  EXPECT_TRUE(copy.Active());
  EXPECT_EQ(copy.FieldCount(), 0);
  EXPECT_EQ(copy.RecordCount(), 0);

  TVirtualDataSet closed;
  closed.LoadFieldDefsFromText("A,3,0\r\n", false);
  copy.CopyFrom(&closed);
  EXPECT_EQ(Names(copy), std::vector<std::string>{"A"});
  EXPECT_EQ(copy.RecordCount(), 0);
  EXPECT_TRUE(copy.Eof());

  TVirtualDataSet empty;
  empty.LoadFieldDefsFromText("B,3,0\r\n", true);
  copy.CopyFrom(&empty);
  EXPECT_EQ(Names(copy), std::vector<std::string>{"B"});
  EXPECT_EQ(copy.RecordCount(), 0);  // no phantom record from an empty source

  TVirtualDataSet self;
  FillSource(self, 2);
  self.CopyFrom(&self);
  EXPECT_EQ(self.RecordCount(), 2);
}

TEST(CopyFrom, FailureKeepsRecordsCopiedSoFarAndClearsTheLoadingMark) {
  TVirtualDataSet source;
  FillSource(source, 3);
  source.SetRecNo(3);
  TVirtualDataSet copy;
  int posts = 0;
  copy.BeforePost = [&](TVirtualDataSet&) {
    if (++posts == 2) throw EDatabaseError("voll");
  };
  EXPECT_EQ(ErrorText<EDatabaseError>([&] { copy.CopyFrom(&source); }), "voll");
  EXPECT_EQ(copy.RecordCount(), 1);
  EXPECT_EQ(copy.State(), TDataSetState::dsBrowse);
  EXPECT_FALSE(copy.Loading());
  EXPECT_FALSE(copy.ControlsDisabled());
  EXPECT_FALSE(source.ControlsDisabled());
  EXPECT_EQ(source.RecNo(), 3);
}

TEST(EmptyRecords, FreesEveryRecordAndNotifies) {
  TVirtualDataSet ds;
  FillSource(ds, 3);
  int changes = 0;
  ds.OnDataChange = [&](TVirtualDataSet&, TField* f) {
    if (f == nullptr) ++changes;
  };
  ds.Append();
  ds.FieldByName("ID")->SetAsInteger(9);  // pending: left before emptying
  changes = 0;
  ds.EmptyRecords();
  EXPECT_EQ(ds.State(), TDataSetState::dsBrowse);
  EXPECT_EQ(ds.RecordCount(), 0);
  EXPECT_TRUE(ds.Bof() && ds.Eof());
  EXPECT_TRUE(ds.FieldByName("ID")->IsNull());
  EXPECT_GE(changes, 1);
  EXPECT_EQ(ds.RecNo(), -1);
  // Still usable.
  ds.Append();
  ds.FieldByName("ID")->SetAsInteger(1);
  ds.Post();
  EXPECT_EQ(ds.RecordCount(), 1);

  ds.Close();
  EXPECT_NO_THROW(ds.EmptyRecords());
}

}  // namespace
}  // namespace rb
