// TZelTableTools::Restructure: reads both tables' descriptors, merges them
// into one request (cpTbMerge) and has the engine rewrite the live table.

#include <cstdio>
#include <vector>

#include "cpTbGuard.h"
#include "cpTbMerge.h"
#include "cpTbTool.h"
#include "tlFile.h"

namespace {

// Descriptors 1..count of one kind. With firstMayFail a failing first read
// stands for "none" (a table without indexes or links) instead of an error.
template <typename Desc>
std::vector<Desc> ReadDescs(TZelTableTools& tools, hDBICur cursor, int count,
                            DBIResult (*read)(hDBICur, std::uint16_t, Desc&),
                            bool firstMayFail = false) {
  std::vector<Desc> descs;
  for (int number = 1; number <= count || (firstMayFail && number == 1); ++number) {
    Desc desc{};
    if (firstMayFail && number == 1) {
      try {
        tools.Check(read(cursor, 1, desc));
      } catch (const EBdeApi&) {
        return {};
      }
    } else {
      tools.Check(read(cursor, static_cast<std::uint16_t>(number), desc));
    }
    descs.push_back(desc);
  }
  return descs;
}

std::vector<FLDDesc> ReadFields(TZelTableTools& tools, hDBICur cursor, int count) {
  std::vector<FLDDesc> fields(static_cast<std::size_t>(count));
  if (count > 0) tools.Check(DbiGetFieldDescs(cursor, fields.data()));
  return fields;
}

template <typename Desc>
void Attach(tbmerge::TOpList<Desc>& list, std::uint16_t& count, CROpType*& ops, Desc*& descs) {
  count = static_cast<std::uint16_t>(list.Count());
  ops = count ? list.Ops.data() : nullptr;
  descs = count ? list.Descs.data() : nullptr;
}

}  // namespace

void TZelTableTools::Restructure(const std::string& saveAs, bool strip) {
  tbguard::TTablesClosed closed(*this);
  OpenTables();
  hDBICur meta = MetaTable().Handle();
  hDBICur live = Handle();
  CURProps metaProps{}, liveProps{};
  Check(DbiGetCursorProps(meta, metaProps));
  Check(DbiGetCursorProps(live, liveProps));
  CRTblDesc request = RequestHeader(metaProps);

  auto fields = tbmerge::MergeFields(ReadFields(*this, meta, metaProps.iFields),
                                     ReadFields(*this, live, liveProps.iFields));
  auto checks =
      tbmerge::MergeChecks(ReadDescs<VCHKDesc>(*this, meta, metaProps.iValChecks, DbiGetVchkDesc),
                           ReadDescs<VCHKDesc>(*this, live, liveProps.iValChecks, DbiGetVchkDesc));
  tbmerge::TOpList<IDXDesc> indexes;
  tbmerge::TOpList<RINTDesc> links;
  if (strip) {
    indexes = tbmerge::StripIndexes(
        ReadDescs<IDXDesc>(*this, live, liveProps.iIndexes, DbiGetIndexDesc, true));
    links = tbmerge::StripLinks(
        ReadDescs<RINTDesc>(*this, live, liveProps.iRefIntChecks, DbiGetRintDesc, true),
        LinkTarget(saveAs));
  } else {
    indexes =
        tbmerge::MergeIndexes(ReadDescs<IDXDesc>(*this, meta, metaProps.iIndexes, DbiGetIndexDesc),
                              ReadDescs<IDXDesc>(*this, live, liveProps.iIndexes, DbiGetIndexDesc));
    links = tbmerge::MergeLinks(
        ReadDescs<RINTDesc>(*this, meta, metaProps.iRefIntChecks, DbiGetRintDesc),
        ReadDescs<RINTDesc>(*this, live, liveProps.iRefIntChecks, DbiGetRintDesc),
        LinkTarget(saveAs));
  }
  Attach(fields, request.iFldCount, request.pecrFldOp, request.pfldDesc);
  Attach(checks, request.iValChkCount, request.pecrValChkOp, request.pvchkDesc);
  Attach(indexes, request.iIdxCount, request.pecrIdxOp, request.pidxDesc);
  Attach(links, request.iRintCount, request.pecrRintOp, request.printDesc);

  // The reference itself goes along: validity checks that descriptors
  // cannot carry (a level 3.x .VAL) are taken from it by the engine.
  const std::string reference = meta->Path();
  std::vector<char> referenceData(reference.begin(), reference.end());
  referenceData.push_back('\0');
  FLDDesc referenceParam{};
  std::snprintf(referenceParam.szName, sizeof referenceParam.szName, "%s", szCRREFERENCE);
  referenceParam.iLen = static_cast<std::uint16_t>(referenceData.size());
  request.iOptParams = 1;
  request.pfldOptParams = &referenceParam;
  request.pOptData = referenceData.data();

  DBIPATH directory{};
  Check(DbiGetDirectory(LiveDatabase(), false, directory));
  Close();  // the reference stays open until the end
  Execute(request, directory, saveAs, saveAs.empty() ? ExtractFileName(TablePath()) : saveAs);
}

std::string TZelTableTools::LinkTarget(const std::string& saveAs) const {
  std::string dir = saveAs.empty() ? "" : ExtractFilePath(saveAs);
  // A save-as name without a folder lands beside the live table.
  if (dir.empty()) dir = AliasDirectory(DatabaseName);
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  return dir;
}
