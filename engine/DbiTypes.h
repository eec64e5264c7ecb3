// The descriptor structures of the direct-call API: what a cursor reports
// about its table (fields, indexes, validity checks, referential links) and
// the restructure request that changes them. Plain structs, zero-filled by
// value-initialisation, so callers can fill them the way the table tools do.
#pragma once

#include <cstdint>
#include <vector>

constexpr int DBIMAXNAMELEN = 31;
constexpr int DBIMAXPATHLEN = 260;
constexpr int DBIMAXFLDSINKEY = 16;
constexpr int DBIMAXVCHKLEN = 255;
constexpr int DBIMAXPICTLEN = 175;

using DBINAME = char[DBIMAXNAMELEN + 1];
using DBIPATH = char[DBIMAXPATHLEN + 1];
using DBITBLNAME = DBIPATH;

// Field subtypes the engine gives meaning to.
constexpr std::uint16_t fldstNONE = 0;
constexpr std::uint16_t fldstMONEY = 21;
constexpr std::uint16_t fldstMEMO = 22;
constexpr std::uint16_t fldstBINARY = 23;
constexpr std::uint16_t fldstFMTMEMO = 24;
constexpr std::uint16_t fldstOLEOBJ = 25;
constexpr std::uint16_t fldstGRAPHIC = 26;
// On a '+' field in a restructure request: number the field anew. Subtype 0
// keeps the stored values.
constexpr std::uint16_t fldstAUTOINC = 29;

// One field. iFldType is the Paradox type letter itself ('A', 'N', '+', '#',
// 'M' ...), so a descriptor never loses a type in translation.
struct FLDDesc {
  std::uint16_t iFldNum;  // position from 1; in a request, the source field (0 = new)
  DBINAME szName;
  char iFldType;
  std::uint16_t iSubType;
  std::int16_t iUnits1;   // size (alpha length, BCD digits, blob bytes kept in the record)
  std::int16_t iUnits2;   // decimals (BCD)
  std::uint16_t iOffset;  // in the record
  std::uint16_t iLen;     // bytes in the record
};

struct IDXDesc {
  DBINAME szName;  // empty for the primary index
  std::uint16_t iIndexId;
  std::uint16_t iFldsInKey;
  std::uint16_t aiKeyFld[DBIMAXFLDSINKEY];  // field numbers from 1
  bool bPrimary;
  bool bUnique;
  bool bDescending;
  bool bCaseInsensitive;
  bool bMaintained;
  std::uint16_t iKeyLen;
};

// How a table lookup fills and helps (none when there is no lookup).
enum LKUPType : std::uint8_t {
  lkupNONE = 0,
  lkupPRIVATE = 1,         // just the current field
  lkupALLCORRESP = 2,      // all corresponding fields
  lkupHELP = 3,            // just the current field, with help
  lkupALLCORRESPHELP = 4,  // all corresponding fields, with help
};

// One validity check. The minimum, maximum and default values are stored in
// the field's own record encoding (as many bytes as the field takes in a
// record); the field codec turns them into values.
struct VCHKDesc {
  std::uint16_t iFldNum;  // from 1
  bool bRequired;
  bool bHasMinVal;
  bool bHasMaxVal;
  bool bHasDefVal;
  std::uint16_t iValLen;  // bytes used in each of the three value arrays
  std::uint8_t aMinVal[DBIMAXVCHKLEN];
  std::uint8_t aMaxVal[DBIMAXVCHKLEN];
  std::uint8_t aDefVal[DBIMAXVCHKLEN];
  char szPict[DBIMAXPICTLEN + 1];
  LKUPType elkupType;
  DBIPATH szLkupTblName;
};

enum RINTType : std::uint8_t { rintMASTER = 0, rintDEPENDENT = 1 };
enum RINTQual : std::uint8_t { rintRESTRICT = 0, rintCASCADE = 1 };

// One referential-integrity link, seen from the table the cursor is on.
struct RINTDesc {
  std::uint16_t iRintNum;
  DBINAME szRintName;
  RINTType eType;
  DBIPATH szTblName;  // the other table's path
  RINTQual eModOp;    // update rule
  RINTQual eDelOp;    // Paradox always restricts deletes
  std::uint16_t iFldCount;
  std::uint16_t aiThisTabFld[DBIMAXFLDSINKEY];
  std::uint16_t aiOthTabFld[DBIMAXFLDSINKEY];
};

struct CURProps {
  DBITBLNAME szName;
  char szTableType[DBIMAXNAMELEN + 1];  // "PARADOX"
  std::uint16_t iFields;
  std::uint16_t iRecSize;
  std::uint16_t iKeySize;  // bytes of the primary key
  std::uint16_t iKeyFields;
  std::uint16_t iIndexes;
  std::uint16_t iValChecks;
  std::uint16_t iRefIntChecks;
  bool bProtected;
  std::uint32_t iRecords;
  std::uint16_t iTblLevel;   // 3, 4, 5 or 7
  std::uint16_t iBlockSize;  // in kilobytes
  std::uint16_t iCodePage;
  std::uint8_t iSortOrder;
};

enum CROpType : std::uint32_t {
  crNOOP = 0,
  crADD = 1,
  crCOPY = 2,
  crMODIFY = 3,
  crDROP = 4,
  crREDO = 5,
  crTABLE = 6,
  crGROUP = 7,
  crUSER = 8,
  crDONTADD = 9,
  crDROPADD = 10,
};

// A restructure (or pack) request. Each list is a count, an operation per
// element and the elements; an empty list leaves that part of the table as
// it is. A non-empty field list is the new table's whole field list.
struct CRTblDesc {
  DBITBLNAME szTblName;
  char szTblType[DBIMAXNAMELEN + 1];
  char szErrTblName[DBIMAXPATHLEN + 1];
  char szUserName[DBIMAXNAMELEN + 1];
  char szPassword[DBIMAXNAMELEN + 1];
  bool bProtected;
  bool bPack;
  std::uint16_t iFldCount;
  CROpType* pecrFldOp;
  FLDDesc* pfldDesc;
  std::uint16_t iIdxCount;
  CROpType* pecrIdxOp;
  IDXDesc* pidxDesc;
  std::uint16_t iSecRecCount;  // kept for the request's shape; no security list here
  std::uint16_t iValChkCount;
  CROpType* pecrValChkOp;
  VCHKDesc* pvchkDesc;
  std::uint16_t iRintCount;
  CROpType* pecrRintOp;
  RINTDesc* printDesc;
  // Optional parameters: iOptParams descriptors, each naming a parameter
  // (szName) whose value lies in pOptData at iOffset, iLen bytes long.
  std::uint16_t iOptParams;
  FLDDesc* pfldOptParams;
  void* pOptData;
};

// Optional parameter of a restructure request: the data file of the
// reference table the request was merged from. What descriptors cannot
// carry is taken from it: the validity checks of a level 3.x .VAL (kept as
// stored, never decoded) become the result's, and such checks of the table
// itself give way to the reference's.
constexpr char szCRREFERENCE[] = "REFERENCE";
