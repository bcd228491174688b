#include "recordset/UVirtualDataset.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "util/TestSupport.h"

namespace rb {
namespace {

// A set with ID (integer), NAME (string 10) holding the given IDs, names "n<id>".
void MakeIds(TVirtualDataSet& ds, const std::vector<int>& ids) {
  ds.LoadFieldDefsFromText("ID,3,0\r\nNAME,1,10\r\n", true);
  for (int id : ids) {
    ds.Append();
    ds.FieldByName("ID")->SetAsInteger(id);
    ds.FieldByName("NAME")->SetAsString("n" + std::to_string(id));
    ds.Post();
  }
}

std::vector<int> Walk(TVirtualDataSet& ds) {
  std::vector<int> ids;
  for (ds.First(); !ds.Eof(); ds.Next())
    ids.push_back(ds.FieldByName("ID")->AsInteger());
  return ids;
}

// ---------------------------------------------------------------------------------------------

// Every one of the thirty types in its value class: conversion, copying, search and the stream
// format all decide by it.
TEST(FieldTypes, EveryTypeHasItsValueClass) {
  using C = TValueClass;
  const C expected[30] = {
      C::kNone,  C::kText,    C::kInteger, C::kInteger, C::kInteger, C::kBoolean,  // 0-5
      C::kFloat, C::kFloat,   C::kFixed,   C::kDate,    C::kDate,    C::kDate,     // 6-11
      C::kBytes, C::kBytes,   C::kInteger, C::kBlob,    C::kBlob,    C::kBlob,     // 12-17
      C::kBlob,  C::kBlob,    C::kBlob,    C::kBlob,    C::kNone,    C::kText,     // 18-23
      C::kNone,  C::kInteger, C::kNone,    C::kNone,    C::kNone,    C::kNone,     // 24-29
  };
  for (int t = 0; t < 30; ++t) {
    EXPECT_EQ(ValueClassOf(static_cast<TFieldType>(t)), expected[t]) << "type " << t;
    EXPECT_EQ(IsBlobType(static_cast<TFieldType>(t)), expected[t] == C::kBlob) << "type " << t;
  }
}

TEST(FastList, GrowsByFourThenSixteenThenAQuarter) {
  TFastList list;
  std::vector<int> capacities;
  for (int i = 0; i < 100; ++i) {
    list.Add(nullptr);
    if (capacities.empty() || capacities.back() != list.Capacity())
      capacities.push_back(list.Capacity());
  }
  EXPECT_EQ(capacities, (std::vector<int>{4, 8, 12, 28, 44, 60, 76, 95, 118}));
  EXPECT_EQ(list.Count(), 100);
}

TEST(FastList, InsertDeleteKeepOrder) {
  TFastList list;
  std::vector<TRecordData*> p;
  for (int i = 0; i < 6; ++i)
    p.push_back(reinterpret_cast<TRecordData*>(16 * (i + 1)));
  list.Add(p[0]);
  list.Add(p[2]);
  list.Insert(1, p[1]);
  list.Insert(3, p[3]);  // at count: allowed
  list.Insert(0, p[4]);
  list.Delete(2);  // p[1]
  std::vector<TRecordData*> got;
  for (int i = 0; i < list.Count(); ++i)
    got.push_back(list.Get(i));
  EXPECT_EQ(got, (std::vector<TRecordData*>{p[4], p[0], p[2], p[3]}));
}

TEST(FastList, ErrorsCarryTheirTextsAndNumbers) {
  TFastList list;
  list.Add(nullptr);
  struct Case {
    const char* name;
    std::function<void()> act;
    std::string text;
  } cases[] = {
      {"get past end", [&] { list.Get(1); },
       "Der Index der Liste \xFC"
       "berschreitet das Maximum (1)"},
      {"get negative", [&] { list.Get(-1); },
       "Der Index der Liste \xFC"
       "berschreitet das Maximum (-1)"},
      {"put past end", [&] { list.Put(5, nullptr); },
       "Der Index der Liste \xFC"
       "berschreitet das Maximum (5)"},
      {"delete past end", [&] { list.Delete(1); },
       "Der Index der Liste \xFC"
       "berschreitet das Maximum (1)"},
      {"insert beyond count", [&] { list.Insert(2, nullptr); },
       "Der Index der Liste \xFC"
       "berschreitet das Maximum (2)"},
      {"capacity below count", [&] { list.SetCapacity(0); },
       "Die Kapazit\xE4t der Liste ist ersch\xF6pft (0)"},
      {"capacity above limit", [&] { list.SetCapacity(134217728); },
       "Die Kapazit\xE4t der Liste ist ersch\xF6pft (134217728)"},
      {"count above limit", [&] { list.SetCount(134217728); },
       "Zu viele Eintr\xE4ge in der Liste (134217728)"},
  };
  for (auto& c : cases)
    EXPECT_EQ(ErrorText<EListError>(c.act), c.text) << c.name;
  EXPECT_EQ(list.Count(), 1);
}

// ---------------------------------------------------------------------------------------------

TEST(FieldDefs, DefinitionTextRows) {
  struct Case {
    const char* name;
    std::string text;
    std::vector<std::tuple<std::string, TFieldType, int>> defs;
  } cases[] = {
      {"ID large integer becomes integer", "ID,25,0\r\n", {{"ID", ftInteger, 0}}},
      {"ID with a size keeps its type", "ID,1,10\r\n", {{"ID", ftString, 10}}},
      {"lower-case id keeps its type", "id,25,0\r\n", {{"id", ftLargeint, 0}}},
      {"two rows", "ID,3,0\r\nPOT,3,0\r\n", {{"ID", ftInteger, 0}, {"POT", ftInteger, 0}}},
      {"last row without CR LF is dropped", "ID,3,0\r\nPOT,3,0", {{"ID", ftInteger, 0}}},
      {"single row without CR LF", "ID,3,0", {}},
      {"type not a number", "X,abc,0\r\n", {{"X", ftUnknown, 0}}},
      {"quoted name with comma", "\"A,B\",6,0\r\n", {{"A,B", ftFloat, 0}}},
      {"view's query",
       "ID,14,0\r\nWW_NETTO,6,0\r\nID_ORDER,1,20\r\n",
       {{"ID", ftInteger, 0}, {"WW_NETTO", ftFloat, 0}, {"ID_ORDER", ftString, 20}}},
  };
  for (auto& c : cases) {
    TVirtualDataSet ds;
    ds.LoadFieldDefsFromText(c.text, false);
    std::vector<std::tuple<std::string, TFieldType, int>> got;
    for (int i = 0; i < ds.FieldDefs().Count(); ++i) {
      const TFieldDef& d = ds.FieldDefs()[i];
      got.emplace_back(d.Name, d.DataType, d.Size);
      EXPECT_FALSE(d.Required);
    }
    EXPECT_EQ(got, c.defs) << c.name;
  }
}

TEST(FieldDefs, StreamIsReadFromItsStart) {
  TMemoryStream stream("ID,3,0\r\nPOT,3,0\r\n");
  stream.Seek(0, SeekOrigin::kEnd);
  TVirtualDataSet ds;
  ds.LoadFieldDefsFromStream(stream, true);
  EXPECT_TRUE(ds.Active());
  EXPECT_EQ(ds.FieldCount(), 2);
}

TEST(FieldDefs, OpenRefusesBadDefinitions) {
  struct Case {
    const char* name;
    std::string text;
    std::string error;
  } cases[] = {
      {"type not a number", "ID,3,0\r\nX,abc,0\r\n", "Typ f\xFCr Feld 'X' ist unbekannt"},
      {"wide string", "W,24,10\r\n", "Typ f\xFCr Feld 'W' ist unbekannt"},
      {"cursor", "C,22,0\r\n", "Typ f\xFCr Feld 'C' ist unbekannt"},
      {"beyond the list", "Z,30,0\r\n", "Typ f\xFCr Feld 'Z' ist unbekannt"},
      {"duplicate ignoring case", "POT,3,0\r\npot,6,0\r\n", "Doppelter Feldname 'pot'"},
      {"empty name", "ID,3,0\r\n,3,0\r\n", "Feldname fehlt"},
  };
  for (auto& c : cases) {
    TVirtualDataSet ds;
    EXPECT_EQ(ErrorText<EDatabaseError>([&] { ds.LoadFieldDefsFromText(c.text, true); }), c.error)
        << c.name;
    EXPECT_FALSE(ds.Active()) << c.name;
    EXPECT_EQ(ds.FieldCount(), 0) << c.name;
  }
}

TEST(FieldDefs, FieldsMadeWithoutDefinitionsNeedADataType) {
  TVirtualDataSet ds;
  ds.AddField("A", ftInteger);
  ds.AddField("B", ftArray).SetDisplayLabel("Liste");
  EXPECT_EQ(ErrorText<EDatabaseError>([&] { ds.Open(); }), "Typ f\xFCr Feld 'Liste' ist unbekannt");
  TVirtualDataSet ok;
  ok.AddField("A", ftInteger);
  ok.AddField("T", ftString, 5);
  ok.Open();
  EXPECT_EQ(ok.FieldDefs().Count(), 2);
  EXPECT_EQ(ok.RecordDataSize(), 5 + 7);
  ok.Close();
  EXPECT_EQ(ok.FieldCount(), 2);  // kept: they were not made from the definitions
}

TEST(FieldDefs, RecordDataSizeSumsPresenceBytesAndWidths) {
  TVirtualDataSet ds;
  // string 20: 1+21, integer 1+4, float 1+8, BCD 1+34, memo: not in the area, ADT 1+0,
  // boolean 1+2, var bytes 5: 1+7, date 1+4, large integer 1+8.
  ds.LoadFieldDefsFromText(
      "S,1,20\r\nI,3,0\r\nF,6,0\r\nB,8,0\r\nM,16,0\r\nA,26,0\r\nL,5,0\r\nV,13,5\r\nD,9,0\r\n"
      "G,25,0\r\n",
      true);
  EXPECT_EQ(ds.RecordDataSize(), 22 + 5 + 9 + 35 + 1 + 3 + 8 + 5 + 9);
}

TEST(FieldDefs, SizesOutsideWhatAFieldCanHoldAreRefusedOrReadAsZero) {
  // A size from the host's text must neither overflow the layout nor allocate without bound.
  std::string many_large;  // each field allowed, all of them together more than 16 MiB
  for (int i = 0; i < 17; ++i)
    many_large += "S" + std::to_string(i) + ",1,1000000\r\n";
  for (const std::string& text : {std::string("S,1,2147483647\r\n"), std::string("V,13,65536\r\n"),
                                  std::string("B,12,1048577\r\n"), many_large}) {
    TVirtualDataSet ds;
    EXPECT_EQ(ErrorText<EDatabaseError>([&] { ds.LoadFieldDefsFromText(text, true); })
                  .rfind("Ung\xFCltige Feldgr\xF6\xDF"
                         "e f\xFCr Feld '",
                         0),
              0u)
        << text;
    EXPECT_FALSE(ds.Active()) << text;
  }
  // A negative size holds nothing, like size 0, and reads and writes stay inside the record.
  TVirtualDataSet ds;
  ds.LoadFieldDefsFromText("I,3,0\r\nV,13,-1\r\nS,1,-5\r\n", true);
  EXPECT_EQ(ds.RecordDataSize(), 5 + 3 + 2);
  ds.Append();
  ds.FieldByName("V")->SetAsString("abc");
  ds.FieldByName("S")->SetAsString("abc");
  ds.Post();
  EXPECT_EQ(ds.FieldByName("V")->AsString(), "");
  EXPECT_TRUE(ds.FieldByName("S")->IsNull());
  TVirtualDataSet wide;  // the largest var bytes; a size on an integer means nothing
  wide.LoadFieldDefsFromText("V,13,65535\r\nI,3,2147483647\r\n", true);
  EXPECT_EQ(wide.RecordDataSize(), 1 + 65537 + 5);
}

TEST(FieldLookup, ByNameIgnoringCaseThroughTheCache) {
  TVirtualDataSet ds;
  ds.LoadFieldDefsFromText("ID,3,0\r\nPOT,3,0\r\n", true);
  EXPECT_EQ(ds.FieldByName("pot"), &ds.Fields(1));
  EXPECT_EQ(ds.FieldByName("Pot"), &ds.Fields(1));
  EXPECT_EQ(ds.FindField("XYZ"), nullptr);
  EXPECT_EQ(ErrorText<EDatabaseError>([&] { ds.FieldByName("XYZ"); }),
            "Das Feld 'XYZ' wurde nicht gefunden");
  EXPECT_EQ(ds.FieldHelper().Tree().ItemCount(), 2);  // "pot" and the cached miss "xyz"
  // Reopening with other definitions must not find stale fields through the cache.
  ds.Close();
  EXPECT_EQ(ds.FindField("pot"), nullptr);  // freed with the close
  ds.LoadFieldDefsFromText("XYZ,6,0\r\n", true);
  EXPECT_EQ(ds.FindField("pot"), nullptr);
  EXPECT_EQ(ds.FindField("xyz"), &ds.Fields(0));
}

TEST(FieldLookup, AFieldAddedAfterAMissIsFound) {
  // The cache remembers misses: a field added later must not stay hidden behind one.
  TVirtualDataSet ds;
  ds.AddField("A", ftInteger);
  EXPECT_EQ(ds.FindField("B"), nullptr);
  TField& b = ds.AddField("B", ftInteger);
  EXPECT_EQ(ds.FindField("b"), &b);
  ds.Open();
  EXPECT_EQ(ds.FieldByName("B"), &b);
}

TEST(FieldLookup, ManyNamesInTurnEachFindTheirOwnField) {
  // More names than the look-up remembers verbatim, asked for over and over in several
  // spellings: names of one length that differ only in one byte, and misses among them. Each
  // answer must be the field under that name, however the remembered names were replaced.
  TVirtualDataSet ds;
  std::string defs;
  for (int i = 0; i < 12; ++i)
    defs += "F" + std::to_string(10 + i) + ",3,0\r\n";
  defs += "F1X,3,0\r\nFX1,3,0\r\n";
  ds.LoadFieldDefsFromText(defs, true);
  const std::vector<std::string> names = {"F1X", "FX1", "F10", "f11", "F12",  "F13", "NOPE",
                                          "F14", "F15", "f1x", "F16", "F17",  "F18", "F19",
                                          "F20", "F21", "fx1", "F10", "nope", "F2"};
  for (int round = 0; round < 3; ++round) {
    for (const std::string& name : names) {
      SCOPED_TRACE(name + " in round " + std::to_string(round));
      TField* field = ds.FindField(name);
      if (name == "NOPE" || name == "nope" || name == "F2") {
        EXPECT_EQ(field, nullptr);
      } else {
        ASSERT_NE(field, nullptr);
        std::string upper = name;
        for (char& c : upper)
          c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        EXPECT_EQ(field->FieldName(), upper);
      }
    }
  }
}

TEST(FieldLookup, RememberedNamesDoNotOutliveTheirFields) {
  // A name answered a moment ago must not be answered again from memory once the fields it
  // named are gone: after new definitions it names the new field or none.
  TVirtualDataSet ds;
  ds.LoadFieldDefsFromText("ID,3,0\r\nPOT,3,0\r\n", true);
  EXPECT_EQ(ds.FieldByName("POT"), &ds.Fields(1));
  EXPECT_EQ(ds.FindField("NEU"), nullptr);
  ds.LoadFieldDefsFromText("NEU,3,0\r\nPOT,6,0\r\n", true);
  EXPECT_EQ(ds.FieldByName("POT"), &ds.Fields(1));
  EXPECT_EQ(ds.FieldByName("POT")->DataType(), ftFloat);
  EXPECT_EQ(ds.FieldByName("NEU"), &ds.Fields(0));
  EXPECT_EQ(ds.FindField("ID"), nullptr);
  ds.Close();
  ds.FieldDefs().Clear();
  TField& id = ds.AddField("ID", ftInteger);
  EXPECT_EQ(ds.FindField("ID"), &id);
  EXPECT_EQ(ds.FindField("POT"), nullptr);
}

// ---------------------------------------------------------------------------------------------

TEST(Cursor, EmptySetStandsAtBothEnds) {
  TVirtualDataSet ds;
  MakeIds(ds, {});
  EXPECT_TRUE(ds.Eof());
  EXPECT_TRUE(ds.Bof());
  EXPECT_EQ(ds.RecNo(), -1);
  ds.Next();
  ds.Last();
  EXPECT_TRUE(ds.Eof());
  EXPECT_TRUE(ds.FieldByName("ID")->IsNull());
  EXPECT_EQ(ds.FieldByName("ID")->AsInteger(), 0);
}

TEST(Cursor, WalksBothWaysWithFlagsAndRecordNumbers) {
  TVirtualDataSet ds;
  MakeIds(ds, {10, 20, 30});
  EXPECT_EQ(Walk(ds), (std::vector<int>{10, 20, 30}));
  ds.First();
  EXPECT_TRUE(ds.Bof());
  EXPECT_FALSE(ds.Eof());
  EXPECT_EQ(ds.RecNo(), 1);
  ds.Last();
  EXPECT_TRUE(ds.Eof());
  EXPECT_EQ(ds.RecNo(), 3);
  EXPECT_EQ(ds.FieldByName("ID")->AsInteger(), 30);
  ds.Next();  // stays on the last record
  EXPECT_EQ(ds.FieldByName("ID")->AsInteger(), 30);
  std::vector<int> back;
  for (ds.Last(); !ds.Bof(); ds.Prior())
    back.push_back(ds.FieldByName("ID")->AsInteger());
  EXPECT_EQ(back, (std::vector<int>{30, 20, 10}));
  // At the beginning the cursor still shows the first record; Next goes to the second.
  EXPECT_EQ(ds.FieldByName("ID")->AsInteger(), 10);
  EXPECT_EQ(ds.RecNo(), 1);
  ds.Next();
  EXPECT_EQ(ds.FieldByName("ID")->AsInteger(), 20);
  ds.SetRecNo(3);
  EXPECT_EQ(ds.FieldByName("ID")->AsInteger(), 30);
  ds.SetRecNo(4);  // out of range: nothing happens
  ds.SetRecNo(0);
  EXPECT_EQ(ds.RecNo(), 3);
}

// A failed move raises its own end flag and drops the other: both flags together mean "no
// records", and the search would then find nothing in a set that has a record.
TEST(Cursor, FailedMoveOnOneRecordLeavesOnlyItsOwnFlag) {
  struct Case {
    const char* name;
    std::function<void(TVirtualDataSet&)> moves;
    bool bof, eof;
  } cases[] = {
      {"First, Next",
       [](TVirtualDataSet& ds) {
         ds.First();
         ds.Next();
       },
       false, true},
      {"Last, Prior",
       [](TVirtualDataSet& ds) {
         ds.Last();
         ds.Prior();
       },
       true, false},
      {"First, Next, Next",
       [](TVirtualDataSet& ds) {
         ds.First();
         ds.Next();
         ds.Next();
       },
       false, true},
      {"Last, Prior, Prior",
       [](TVirtualDataSet& ds) {
         ds.Last();
         ds.Prior();
         ds.Prior();
       },
       true, false},
      {"First only", [](TVirtualDataSet& ds) { ds.First(); }, true, false},
      {"Last only", [](TVirtualDataSet& ds) { ds.Last(); }, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TVirtualDataSet ds;
    MakeIds(ds, {7});
    c.moves(ds);
    EXPECT_EQ(ds.Bof(), c.bof);
    EXPECT_EQ(ds.Eof(), c.eof);
    EXPECT_EQ(ds.FieldByName("ID")->AsInteger(), 7);
    EXPECT_TRUE(ds.Locate("ID", "7", 0)) << "the set still has its record";
  }
}

TEST(Cursor, ClosingFreesRecordsAndReopeningStartsEmpty) {
  TVirtualDataSet ds;
  MakeIds(ds, {1, 2});
  ds.Close();
  EXPECT_FALSE(ds.Active());
  EXPECT_EQ(ds.RecordCount(), 0);
  EXPECT_EQ(ds.RecNo(), -1);
  ds.Open();
  EXPECT_EQ(ds.RecordCount(), 0);
  EXPECT_TRUE(ds.Eof());
  ds.Close();
  EXPECT_THROW(ds.First(), EDatabaseError);
}

// ---------------------------------------------------------------------------------------------

TEST(Editing, AppendInsertEditDeleteKeepOrder) {
  TVirtualDataSet ds;
  MakeIds(ds, {1, 2, 3});
  ds.SetRecNo(2);
  ds.Insert();
  EXPECT_EQ(ds.State(), TDataSetState::dsInsert);
  ds.FieldByName("ID")->SetAsInteger(15);
  ds.Post();
  EXPECT_EQ(ds.State(), TDataSetState::dsBrowse);
  EXPECT_EQ(ds.FieldByName("ID")->AsInteger(), 15);  // the new record is current
  EXPECT_EQ(ds.RecNo(), 2);
  EXPECT_EQ(Walk(ds), (std::vector<int>{1, 15, 2, 3}));

  ds.SetRecNo(3);
  ds.Edit();
  ds.FieldByName("ID")->SetAsInteger(22);
  ds.Post();
  EXPECT_EQ(Walk(ds), (std::vector<int>{1, 15, 22, 3}));

  ds.SetRecNo(4);
  ds.Delete();  // the last: the cursor moves back
  EXPECT_EQ(ds.FieldByName("ID")->AsInteger(), 22);
  ds.First();
  ds.Delete();
  EXPECT_EQ(ds.FieldByName("ID")->AsInteger(), 15);
  EXPECT_EQ(Walk(ds), (std::vector<int>{15, 22}));
  ds.Delete();
  ds.Delete();
  EXPECT_TRUE(ds.IsEmpty());
  EXPECT_TRUE(ds.Eof() && ds.Bof());
  ds.Delete();  // nothing to delete
}

TEST(Editing, InsertIntoEmptySetAndCancel) {
  TVirtualDataSet ds;
  MakeIds(ds, {});
  ds.Insert();
  ds.FieldByName("ID")->SetAsInteger(5);
  ds.Post();
  EXPECT_EQ(Walk(ds), (std::vector<int>{5}));

  ds.First();
  ds.Append();
  ds.FieldByName("ID")->SetAsInteger(6);
  ds.Cancel();
  EXPECT_EQ(ds.RecordCount(), 1);
  EXPECT_EQ(ds.FieldByName("ID")->AsInteger(), 5);  // back where it was

  ds.Edit();
  ds.FieldByName("ID")->SetAsInteger(9);
  EXPECT_EQ(ds.FieldByName("ID")->AsInteger(), 9);
  ds.Cancel();
  EXPECT_EQ(ds.FieldByName("ID")->AsInteger(), 5);
}

TEST(Editing, MovingPostsAChangedRecordAndDropsAnUntouchedOne) {
  TVirtualDataSet ds;
  MakeIds(ds, {1});
  ds.Append();
  ds.First();  // nothing was set: no empty record
  EXPECT_EQ(ds.RecordCount(), 1);
  ds.Append();
  ds.FieldByName("ID")->SetAsInteger(2);
  ds.First();
  EXPECT_EQ(Walk(ds), (std::vector<int>{1, 2}));
}

TEST(Editing, EditOnEmptySetInserts) {
  TVirtualDataSet ds;
  MakeIds(ds, {});
  ds.Edit();
  EXPECT_EQ(ds.State(), TDataSetState::dsInsert);
}

TEST(Editing, WritesOutsideEditAndReadOnlyFieldsAreRefused) {
  TVirtualDataSet ds;
  MakeIds(ds, {1});
  TField& id = *ds.FieldByName("ID");
  EXPECT_EQ(ErrorText<EDatabaseError>([&] { id.SetAsInteger(3); }),
            "Datenmenge weder im Editier- noch im Einf\xFCgemodus");
  id.SetReadOnly(true);
  id.SetDisplayLabel("Nummer");
  ds.Edit();
  EXPECT_EQ(ErrorText<EDatabaseError>([&] { id.SetAsInteger(3); }),
            "Feld 'Nummer' kann nicht ver\xE4ndert werden");
  ds.SetLoading(true);  // what the stream reader does
  id.SetAsInteger(3);
  ds.SetLoading(false);
  ds.Post();
  EXPECT_EQ(id.AsInteger(), 3);
}

TEST(Editing, EventsFireInOrder) {
  TVirtualDataSet ds;
  std::vector<std::string> log;
  auto note = [&](const char* what) {
    return [&log, what](TVirtualDataSet&) { log.push_back(what); };
  };
  ds.BeforeInsert = note("BeforeInsert");
  ds.OnNewRecord = note("OnNewRecord");
  ds.AfterInsert = note("AfterInsert");
  ds.BeforePost = note("BeforePost");
  ds.AfterPost = note("AfterPost");
  ds.BeforeDelete = note("BeforeDelete");
  ds.AfterDelete = note("AfterDelete");
  MakeIds(ds, {1});
  ds.Delete();
  EXPECT_EQ(log,
            (std::vector<std::string>{"BeforeInsert", "OnNewRecord", "AfterInsert", "BeforePost",
                                      "AfterPost", "BeforeDelete", "AfterDelete"}));
}

TEST(Editing, ValidationCanRefuseAValue) {
  TVirtualDataSet ds;
  MakeIds(ds, {1});
  ds.FieldByName("ID")->OnValidate = [](TField&) { throw EDatabaseError("nein"); };
  ds.Edit();
  EXPECT_THROW(ds.FieldByName("ID")->SetAsInteger(7), EDatabaseError);
  ds.Cancel();
  EXPECT_EQ(ds.FieldByName("ID")->AsInteger(), 1);
}

// ---------------------------------------------------------------------------------------------

TEST(Values, TextFieldsCutAndTreatEmptyAsNull) {
  TVirtualDataSet ds;
  ds.LoadFieldDefsFromText("S,1,5\r\nZ,1,0\r\nF,23,3\r\n", true);
  ds.Append();
  ds.FieldByName("S")->SetAsString("abcdefgh");
  ds.FieldByName("Z")->SetAsString("x");
  ds.FieldByName("F")->SetAsString("");
  ds.Post();
  EXPECT_EQ(ds.FieldByName("S")->AsString(), "abcde");
  EXPECT_TRUE(ds.FieldByName("Z")->IsNull());  // size 0 holds nothing
  EXPECT_TRUE(ds.FieldByName("F")->IsNull());
  ds.Edit();
  ds.FieldByName("S")->SetAsString("");
  ds.Post();
  EXPECT_TRUE(ds.FieldByName("S")->IsNull());
}

TEST(Values, NumbersAndTheirConversions) {
  TVirtualDataSet ds;
  ds.LoadFieldDefsFromText(
      "I,3,0\r\nF,6,0\r\nB,8,0\r\nC,7,0\r\nL,25,0\r\nW,4,0\r\nS,2,0\r\nX,5,0\r\nD,11,0\r\n", true);
  ds.Append();
  // Null reads as 0 and the empty text.
  EXPECT_EQ(ds.FieldByName("I")->AsInteger(), 0);
  EXPECT_EQ(ds.FieldByName("I")->AsString(), "");
  EXPECT_EQ(ds.FieldByName("F")->AsFloat(), 0.0);
  ds.FieldByName("I")->SetAsInteger(-42);
  ds.FieldByName("F")->SetAsFloat(2.5);
  ds.FieldByName("B")->SetAsFloat(1.23456);
  ds.FieldByName("C")->SetAsCurrency(12.34567);
  ds.FieldByName("L")->SetAsLargeInt(INT64_C(9007199254740993));
  ds.FieldByName("W")->SetAsInteger(65535);
  ds.FieldByName("X")->SetAsBoolean(true);
  ds.FieldByName("D")->SetAsDateTime(1.5);
  EXPECT_THROW(ds.FieldByName("S")->SetAsInteger(40000), EDatabaseError);
  EXPECT_THROW(ds.FieldByName("W")->SetAsInteger(-1), EDatabaseError);
  ds.Post();
  EXPECT_EQ(ds.FieldByName("I")->AsString(), "-42");
  EXPECT_EQ(ds.FieldByName("I")->AsFloat(), -42.0);
  EXPECT_EQ(ds.FieldByName("F")->AsInteger(), 2);  // ties to even
  EXPECT_EQ(ds.FieldByName("B")->AsFixed(), 12346);
  EXPECT_DOUBLE_EQ(ds.FieldByName("B")->AsFloat(), 1.2346);
  EXPECT_DOUBLE_EQ(ds.FieldByName("C")->AsFloat(), 12.3457);
  EXPECT_EQ(ds.FieldByName("L")->AsLargeInt(), INT64_C(9007199254740993));
  EXPECT_EQ(ds.FieldByName("W")->AsInteger(), 65535);
  EXPECT_TRUE(ds.FieldByName("S")->IsNull());
  EXPECT_TRUE(ds.FieldByName("X")->AsBoolean());
  EXPECT_EQ(ds.FieldByName("X")->AsString(), "True");
  EXPECT_EQ(ds.FieldByName("D")->AsDateTime(), 1.5);
  EXPECT_EQ(ds.FieldByName("D")->AsString(), "31.12.1899 12:00:00");
}

TEST(Values, IntegersAreRangeCheckedByTheFieldsWidth) {
  // Integers go into integer fields without rounding; only the range of the field's width
  // decides, at both ends, with the value in the error text.
  struct Case {
    const char* field;
    int64_t value;
    bool fits;
  };
  const Case cases[] = {
      {"S", 32767, true},     {"S", 32768, false},
      {"S", -32768, true},    {"S", -32769, false},
      {"W", 0, true},         {"W", 65535, true},
      {"W", 65536, false},    {"W", -1, false},
      {"I", INT32_MAX, true}, {"I", INT64_C(2147483648), false},
      {"I", INT32_MIN, true}, {"I", INT64_C(-2147483649), false},
      {"A", INT32_MAX, true}, {"A", INT64_C(2147483648), false},
      {"L", INT64_MAX, true}, {"L", INT64_MIN, true},
  };
  TVirtualDataSet ds;
  ds.LoadFieldDefsFromText("S,2,0\r\nW,4,0\r\nI,3,0\r\nA,14,0\r\nL,25,0\r\n", true);
  ds.Append();
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.field) + " " + std::to_string(c.value));
    TField& field = *ds.FieldByName(c.field);
    field.Clear();
    if (c.fits) {
      field.SetAsLargeInt(c.value);
      EXPECT_EQ(field.AsLargeInt(), c.value);
      EXPECT_EQ(field.AsString(), std::to_string(c.value));
    } else {
      const std::string text = ErrorText<EDatabaseError>([&] { field.SetAsLargeInt(c.value); });
      EXPECT_NE(
          text.find("ist kein g\xFCltiger Wert f\xFCr das Feld '" + std::string(c.field) + "'"),
          std::string::npos)
          << text;
      EXPECT_TRUE(field.IsNull());
    }
  }
  // Reading a 64-bit value as a 32-bit integer checks the same range.
  ds.FieldByName("L")->SetAsLargeInt(INT64_C(2147483647));
  EXPECT_EQ(ds.FieldByName("L")->AsInteger(), INT32_MAX);
  ds.FieldByName("L")->SetAsLargeInt(INT64_C(-2147483648));
  EXPECT_EQ(ds.FieldByName("L")->AsInteger(), INT32_MIN);
  ds.FieldByName("L")->SetAsLargeInt(INT64_C(2147483648));
  EXPECT_EQ(ErrorText<EDatabaseError>([&] { ds.FieldByName("L")->AsInteger(); }),
            "2.14748e+09 ist kein g\xFCltiger Wert f\xFCr das Feld 'L'");
  ds.FieldByName("S")->SetAsInteger(-7);
  EXPECT_EQ(ds.FieldByName("S")->AsInteger(), -7);
  ds.FieldByName("W")->SetAsInteger(65535);
  EXPECT_EQ(ds.FieldByName("W")->AsInteger(), 65535);
}

TEST(Values, TextIntoNumbersParsesOrRefuses) {
  TVirtualDataSet ds;
  ds.LoadFieldDefsFromText("I,3,0\r\nB,8,0\r\n", true);
  ds.Append();
  ds.FieldByName("I")->SetAsString("123");
  EXPECT_EQ(ds.FieldByName("I")->AsInteger(), 123);
  EXPECT_THROW(ds.FieldByName("I")->SetAsString("12x"), EConvertError);
  ds.FieldByName("I")->SetAsString("");
  EXPECT_TRUE(ds.FieldByName("I")->IsNull());
  ds.FieldByName("B")->SetAsFixed(-15000);
  EXPECT_EQ(ds.FieldByName("B")->AsString().substr(0, 2), "-1");
  EXPECT_EQ(ds.FieldByName("B")->AsString().substr(3), "5");
}

TEST(Values, BlobsLiveOutsideTheValuesArea) {
  TVirtualDataSet ds;
  ds.LoadFieldDefsFromText("M,16,0\r\nI,3,0\r\nG,15,0\r\n", true);
  EXPECT_EQ(ds.RecordDataSize(), 5);
  ds.Append();
  std::string bytes("a\0b", 3);
  ds.FieldByName("G")->SetAsString(bytes);
  ds.FieldByName("M")->SetAsString("memo text");
  ds.Post();
  ds.Append();
  ds.FieldByName("I")->SetAsInteger(1);
  ds.Post();
  ds.First();
  EXPECT_EQ(ds.FieldByName("G")->AsString(), bytes);
  EXPECT_EQ(ds.FieldByName("M")->AsString(), "memo text");
  ds.Next();
  EXPECT_TRUE(ds.FieldByName("M")->IsNull());
}

TEST(Values, CalculatedFieldsComeFromOnCalcFields) {
  TVirtualDataSet ds;
  ds.AddField("ID", ftInteger);
  TField& twice = ds.AddField("TWICE", ftInteger, 0, TFieldKind::fkCalculated);
  std::string refused;
  ds.OnCalcFields = [&](TVirtualDataSet& d) {
    d.FieldByName("TWICE")->SetAsInteger(d.FieldByName("ID")->AsInteger() * 2);
    refused = ErrorText<EDatabaseError>([&] { d.FieldByName("ID")->SetAsInteger(0); });
  };
  ds.Open();
  EXPECT_EQ(ds.FieldDefs().Count(), 1);  // calculated fields are not stored
  EXPECT_EQ(ds.RecordDataSize(), 5);
  for (int id : {3, 4}) {
    ds.Append();
    ds.FieldByName("ID")->SetAsInteger(id);
    EXPECT_TRUE(twice.IsNull());  // not calculated before the record is stored
    ds.Post();
  }
  ds.First();
  EXPECT_EQ(twice.AsInteger(), 6);
  ds.Next();
  EXPECT_EQ(twice.AsInteger(), 8);
  EXPECT_EQ(refused, "Datenmenge weder im Editier- noch im Einf\xFCgemodus");
  EXPECT_EQ(ds.State(), TDataSetState::dsBrowse);
  ds.Close();
  ds.AddField("B", ftMemo, 0, TFieldKind::fkCalculated);
  EXPECT_EQ(ErrorText<EDatabaseError>([&] { ds.Open(); }), "Typ f\xFCr Feld 'B' ist unbekannt");
}

// ---------------------------------------------------------------------------------------------

TEST(Bookmarks, CompareByIndexAndReturn) {
  TVirtualDataSet ds;
  MakeIds(ds, {1, 2, 3, 4, 5});
  ds.SetRecNo(2);
  TBookmark b2 = ds.GetBookmark();
  ds.SetRecNo(5);
  TBookmark b5 = ds.GetBookmark();
  ASSERT_EQ(b2.size(), 8u);
  EXPECT_EQ(ds.CompareBookmarks(b2, b5), -1);
  EXPECT_EQ(ds.CompareBookmarks(b5, b2), 1);
  EXPECT_EQ(ds.CompareBookmarks(b2, b2), 0);
  EXPECT_EQ(ds.CompareBookmarks(b2, {}), 1);
  EXPECT_EQ(ds.CompareBookmarks({}, b2), -1);
  EXPECT_EQ(ds.CompareBookmarks({}, {}), 0);
  EXPECT_TRUE(ds.BookmarkValid(b5));
  ds.GotoBookmark(b2);
  EXPECT_EQ(ds.FieldByName("ID")->AsInteger(), 2);
  ds.Last();
  ds.Delete();
  ds.Delete();
  EXPECT_FALSE(ds.BookmarkValid(b5));
  ds.GotoBookmark(b5);  // invalid: nothing happens
  EXPECT_EQ(ds.FieldByName("ID")->AsInteger(), 3);
  EXPECT_EQ(ErrorText<EBookMarkOutOfList>([&] { ds.Provider().GotoBookmark(3); }),
            "Bookmark out of List");
  ds.Close();
  EXPECT_FALSE(ds.BookmarkValid(b2));
}

TEST(Store, RecordCountCannotBeSetAndIdsDiffer) {
  TVirtualDataSet ds;
  MakeIds(ds, {1, 2, 3});
  try {
    ds.Provider().SetRecordCount(1);
    FAIL();
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "TCustomPacketProvider can'not SetRecordCount");
  }
  TFastList& list = ds.Provider().List();
  EXPECT_NE(list.Get(0)->RecordId(), list.Get(1)->RecordId());
  EXPECT_EQ(list.Get(0)->Status(), TRecordData::kStoredFromInsert);
  EXPECT_EQ(list.Get(0)->CreationMode(), TRecordData::kAppended);
  ds.First();
  ds.Edit();
  ds.FieldByName("ID")->SetAsInteger(8);
  ds.Post();
  EXPECT_EQ(list.Get(0)->Status(), TRecordData::kStoredFromEdit);
}

TEST(RecordPool, ReusesBlocksAndRefusesAnotherSizeWhileInUse) {
  TRecordPool pool;
  void* a = pool.Allocate(40);
  void* b = pool.Allocate(40);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_GE(std::abs(static_cast<char*>(a) - static_cast<char*>(b)), 40);
  EXPECT_EQ(pool.Allocate(200), nullptr) << "blocks of 40 are still in use";
  pool.Release(a);
  EXPECT_EQ(pool.Allocate(40), a) << "a block given back is handed out again";
  pool.Release(a);
  pool.Release(b);
  EXPECT_EQ(pool.BlocksInUse(), 0u);
  void* big = pool.Allocate(200);  // none in use: the pool takes the new size
  ASSERT_NE(big, nullptr);
  std::memset(big, 0xAB, 200);
  pool.Release(big);
}

TEST(Store, RecordsKeepTheirOwnValuesThroughDeletesAndInserts) {
  // Records share pages; a block handed out twice, or one too small for the values area, shows
  // as a record whose values changed behind its back.
  TVirtualDataSet ds;
  ds.LoadFieldDefsFromText("ID,3,0\r\nNAME,1,30\r\nX,6,0\r\n", true);
  std::vector<int> expected;
  auto add = [&](int id, bool insert) {
    insert ? ds.Insert() : ds.Append();
    ds.FieldByName("ID")->SetAsInteger(id);
    ds.FieldByName("NAME")->SetAsString("name of record number " + std::to_string(id));
    ds.FieldByName("X")->SetAsFloat(id * 0.5);
    ds.Post();
  };
  for (int id = 0; id < 300; ++id)
    add(id, false);
  // Delete every third record, then insert new ones in their place.
  ds.First();
  for (int n = 0; !ds.Eof(); ++n) {
    if (n % 3 == 0) {
      ds.Delete();
    } else {
      ds.Next();
    }
  }
  ds.First();
  for (int id = 1000; id < 1100; ++id)
    add(id, true);
  for (ds.First(); !ds.Eof(); ds.Next()) {
    const int id = ds.FieldByName("ID")->AsInteger();
    SCOPED_TRACE(id);
    EXPECT_EQ(ds.FieldByName("NAME")->AsString(), "name of record number " + std::to_string(id));
    EXPECT_EQ(ds.FieldByName("X")->AsFloat(), id * 0.5);
    expected.push_back(id);
  }
  EXPECT_EQ(ds.RecordCount(), 300);
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(std::adjacent_find(expected.begin(), expected.end()), expected.end());
  // Reopened with another layout the set starts empty and takes records of the new size.
  ds.LoadFieldDefsFromText("ID,3,0\r\nLONG,1,500\r\n", true);
  ds.Append();
  ds.FieldByName("LONG")->SetAsString(std::string(500, 'x'));
  ds.Post();
  EXPECT_EQ(ds.FieldByName("LONG")->AsString(), std::string(500, 'x'));
}

// The cursor reads the record it shows in place and copies it only when an edit writes: a
// write that reached the stored record early, or a read of a record no longer there, shows here.
TEST(Cursor, TheShownRecordIsCopiedOnlyWhenWritten) {
  struct Case {
    const char* name;
    std::function<void(TVirtualDataSet&)> act;  // with the cursor on the record of ID 2
    std::vector<int> ids;                       // the walk afterwards
    std::string shown;                          // "ID NAME" of the record shown after act
  } cases[] = {
      {"an edit cancelled",
       [](TVirtualDataSet& ds) {
         ds.Edit();
         ds.FieldByName("ID")->SetAsInteger(20);
         EXPECT_EQ(ds.FieldByName("ID")->AsInteger(), 20);
         ds.Cancel();
       },
       {1, 2, 3},
       "2 n2"},
      {"an edit posted",
       [](TVirtualDataSet& ds) {
         ds.Edit();
         ds.FieldByName("NAME")->SetAsString("neu");
         ds.Post();
       },
       {1, 2, 3},
       "2 neu"},
      {"an edit left by moving",
       [](TVirtualDataSet& ds) {
         ds.Edit();
         ds.FieldByName("ID")->SetAsInteger(20);
         ds.Prior();
       },
       {1, 20, 3},
       "1 n1"},
      {"an edited record deleted",
       [](TVirtualDataSet& ds) {
         ds.Edit();
         ds.FieldByName("ID")->SetAsInteger(20);
         ds.Delete();
       },
       {1, 3},
       "3 n3"},
      {"the last record deleted",
       [](TVirtualDataSet& ds) {
         ds.Last();
         ds.Delete();
       },
       {1, 2},
       "2 n2"},
      {"every record emptied", [](TVirtualDataSet& ds) { ds.EmptyRecords(); }, {}, "0 "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TVirtualDataSet ds;
    MakeIds(ds, {1, 2, 3});
    ds.First();
    ds.Next();
    c.act(ds);
    EXPECT_EQ(std::to_string(ds.FieldByName("ID")->AsInteger()) + " " +
                  ds.FieldByName("NAME")->AsString(),
              c.shown);
    EXPECT_EQ(Walk(ds), c.ids);
  }
}

TEST(Store, RecordIdsAreUnique) {
  std::vector<uint32_t> ids;
  for (int i = 0; i < 20000; ++i)
    ids.push_back(NewRecordId());
  std::sort(ids.begin(), ids.end());
  auto distinct = std::unique(ids.begin(), ids.end()) - ids.begin();
  EXPECT_EQ(distinct, 20000);
}

}  // namespace
}  // namespace rb
