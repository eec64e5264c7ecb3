// The merge rules on hand-made descriptors: the cases real sample tables
// cannot show (a reference longer or shorter than the live table, index
// names differing only in case, link descriptors in any order).
#include "cpTbMerge.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

using tbmerge::TOpList;

FLDDesc Field(std::uint16_t number, const char* name, char type = 'A', std::uint16_t sub = 0) {
  FLDDesc d{};
  d.iFldNum = number;
  std::strcpy(d.szName, name);
  d.iFldType = type;
  d.iSubType = sub;
  return d;
}

VCHKDesc Check(std::uint16_t field) {
  VCHKDesc d{};
  d.iFldNum = field;
  return d;
}

IDXDesc Index(const char* name) {
  IDXDesc d{};
  std::strcpy(d.szName, name);
  return d;
}

RINTDesc Link(const char* name, RINTType type, const char* table) {
  RINTDesc d{};
  std::strcpy(d.szRintName, name);
  d.eType = type;
  std::strcpy(d.szTblName, table);
  return d;
}

template <typename Desc, typename Key>
std::vector<std::string> Ops(const TOpList<Desc>& list, Key key) {
  std::vector<std::string> out;
  for (int i = 0; i < list.Count(); ++i) {
    const char* op = list.Ops[i] == crADD ? "add" : list.Ops[i] == crMODIFY ? "modify" : "drop";
    out.push_back(std::string(op) + ":" + key(list.Descs[i]));
  }
  return out;
}

std::string FieldKey(const FLDDesc& d) {
  return d.szName + std::string("<") + std::to_string(d.iFldNum);
}
std::string CheckKey(const VCHKDesc& d) { return std::to_string(d.iFldNum); }
std::string IndexKey(const IDXDesc& d) { return d.szName; }
std::string LinkKey(const RINTDesc& d) { return d.szRintName; }

TEST(MergeFields, ByPositionWhateverTheNames) {
  const std::vector<FLDDesc> five = {Field(1, "Id"), Field(2, "Name"), Field(3, "City"),
                                     Field(4, "Zip"), Field(5, "Phone")};
  const std::vector<FLDDesc> three = {Field(1, "Id"), Field(2, "Nom"), Field(3, "Town")};

  // A longer reference adds its last fields as new ones.
  EXPECT_EQ(Ops(tbmerge::MergeFields(five, three), FieldKey),
            (std::vector<std::string>{"modify:Id<1", "modify:Name<2", "modify:City<3", "add:Zip<0",
                                      "add:Phone<0"}));
  // A shorter one lists only its own fields: the live table's last ones go.
  EXPECT_EQ(Ops(tbmerge::MergeFields(three, five), FieldKey),
            (std::vector<std::string>{"modify:Id<1", "modify:Nom<2", "modify:Town<3"}));
}

TEST(MergeFields, AutoincrementKeepsItsValues) {
  const auto list =
      tbmerge::MergeFields({Field(1, "Id", '+', fldstAUTOINC), Field(2, "Memo", 'M', fldstMEMO)},
                           {Field(1, "Id", '+', fldstAUTOINC)});
  ASSERT_EQ(list.Count(), 2);
  EXPECT_EQ(list.Descs[0].iSubType, fldstNONE);
  EXPECT_EQ(list.Descs[0].iFldType, '+');
  EXPECT_EQ(list.Descs[1].iSubType, fldstMEMO);  // other subtypes stay
}

TEST(MergeChecks, ModifiedAddedAndDroppedByField) {
  const auto list = tbmerge::MergeChecks({Check(2), Check(3)}, {Check(2), Check(4)});
  EXPECT_EQ(Ops(list, CheckKey), (std::vector<std::string>{"modify:2", "add:3", "drop:4"}));
  EXPECT_EQ(tbmerge::MergeChecks({}, {}).Count(), 0);
}

TEST(MergeIndexes, ByExactName) {
  const auto list = tbmerge::MergeIndexes({Index(""), Index("City"), Index("Zip")},
                                          {Index(""), Index("city"), Index("Old")});
  EXPECT_EQ(Ops(list, IndexKey),
            (std::vector<std::string>{"modify:", "add:City", "add:Zip", "drop:city", "drop:Old"}));
}

TEST(StripIndexes, FirstKeptOthersDropped) {
  EXPECT_EQ(Ops(tbmerge::StripIndexes({Index(""), Index("A"), Index("B")}), IndexKey),
            (std::vector<std::string>{"modify:", "drop:A", "drop:B"}));
  EXPECT_EQ(tbmerge::StripIndexes({}).Count(), 0);
}

TEST(MergeLinks, SharedLinkDroppedThenAddedAfterTheRest) {
  const std::vector<RINTDesc> ref = {Link("ToA", rintDEPENDENT, "/db/METADATA/A.DB"),
                                     Link("ToB", rintDEPENDENT, "/db/METADATA/B.DB")};
  const std::vector<RINTDesc> live = {Link("ToB", rintDEPENDENT, "/db/B.DB"),
                                      Link("Gone", rintDEPENDENT, "/db/X.DB"),
                                      Link("FromD", rintMASTER, "/db/D.DB")};
  const auto list = tbmerge::MergeLinks(ref, live, "/out");
  EXPECT_EQ(Ops(list, LinkKey),
            (std::vector<std::string>{"add:ToA", "drop:ToB", "add:ToB", "drop:Gone"}));
  // Every link points at the masters beside the table written, the live
  // table's own too: the masters of a table that is only read stay as they
  // are.
  for (const RINTDesc& link : list.Descs)
    EXPECT_EQ(std::string(link.szTblName).rfind("/out/", 0), 0u);
  EXPECT_STREQ(list.Descs[3].szTblName, "/out/X.DB");
}

// Master-side descriptors are never requested; a dependent link listed after
// one is requested all the same, and a live link of that name is not
// dropped for want of it.
TEST(MergeLinks, EveryDependentLinkWhateverTheOrder) {
  const std::vector<RINTDesc> ref = {Link("First", rintDEPENDENT, "M1.DB"),
                                     Link("Master", rintMASTER, "D.DB"),
                                     Link("Third", rintDEPENDENT, "M2.DB")};
  const std::vector<RINTDesc> live = {Link("Third", rintDEPENDENT, "/db/M2.DB")};
  EXPECT_EQ(Ops(tbmerge::MergeLinks(ref, live, "/db"), LinkKey),
            (std::vector<std::string>{"add:First", "drop:Third", "add:Third"}));
}

TEST(StripLinks, EveryDependentLinkDropped) {
  const std::vector<RINTDesc> live = {Link("One", rintDEPENDENT, "A.DB"),
                                      Link("Master", rintMASTER, "D.DB"),
                                      Link("Two", rintDEPENDENT, "B.DB")};
  const auto list = tbmerge::StripLinks(live, "/safe");
  EXPECT_EQ(Ops(list, LinkKey), (std::vector<std::string>{"drop:One", "drop:Two"}));
  EXPECT_STREQ(list.Descs[0].szTblName, "/safe/A.DB");
}

TEST(PointInto, KeepsOnlyTheFileName) {
  RINTDesc link = Link("L", rintDEPENDENT, "C:\\DATA\\METADATA\\ORDERS.DB");
  tbmerge::PointInto(link, "/srv/sales");
  EXPECT_STREQ(link.szTblName, "/srv/sales/ORDERS.DB");
}

// `vdx restructure --like` builds its request from the same merge: field
// numbers are places in the live list, and a dependent link listed after a
// master-side one is sent too.
TEST(BuildLikeRequest, IsTheTableToolsMerge) {
  engine::TableStructure live, ref;
  live.fields = {Field(1, "Id"), Field(3, "Name")};
  ref.fields = {Field(1, "Id"), Field(2, "Nom"), Field(3, "City")};
  ref.links = {Link("Up", rintMASTER, "D.DB"), Link("Own", rintDEPENDENT, "/x/M.DB")};
  live.links = {Link("Old", rintDEPENDENT, "/y/O.DB")};
  const engine::RestructureRequest r = engine::BuildLikeRequest(live, ref, "T.DB", "/t");
  const auto fields = tbmerge::MergeFields(ref.fields, live.fields);
  EXPECT_EQ(Ops(fields, FieldKey),
            (std::vector<std::string>{"modify:Id<1", "add:Nom<0", "modify:City<2"}));
  EXPECT_EQ(r.fldOps, fields.Ops);
  ASSERT_EQ(r.flds.size(), 3u);
  EXPECT_EQ(r.flds[2].iFldNum, 2);
  const auto links = tbmerge::MergeLinks(ref.links, live.links, "/t");
  EXPECT_EQ(Ops(links, LinkKey), (std::vector<std::string>{"add:Own", "drop:Old"}));
  EXPECT_EQ(r.rintOps, links.Ops);
  EXPECT_STREQ(r.desc.printDesc[1].szTblName, "/t/O.DB");
}

}  // namespace
