#include "engine/expr/data_operator.h"

namespace orb {

std::string_view GetOperatorName(TORBDataOperator op) {
  switch (op) {
    case doUNDEFINED: return "UNDEFINED";
    case doEQ: return "=";
    case doNE: return "<>";
    case doGT: return ">";
    case doLT: return "<";
    case doGE: return ">=";
    case doLE: return "<=";
    case doNOT: return "NOT";
    case doAND: return "AND";
    case doOR: return "OR";
    case doIN: return "IN";
    case doNOTIN: return "NOT IN";
    case doEXISTS: return "EXISTS";
    case doBETWEEN: return "BETWEEN";
    case doNOTBETWEEN: return "NOT BETWEEN";
    case doLIKE: return "LIKE";
    case doNOTLIKE: return "NOT LIKE";
    case doISNULL: return "IS NULL";
    case doISNOTNULL: return "IS NOT NULL";
    case doTRUE: return "TRUE";
    case doFALSE: return "FALSE";
    case doADD: return "+";
    case doSUB: return "-";
    case doMUL: return "*";
    case doDIV: return "/";
    case doCONCAT: return "||";
    case doUPPER: return "UPPER";
    case doLOWER: return "LOWER";
    case doTRIM: return "TRIM";
    case doLTRIM: return "LTRIM";
    case doRTRIM: return "RTRIM";
    case doLENGTH: return "LENGTH";
    case doPOS: return "POS";
    case doSUBSTRING: return "SUBSTRING";
    case doSUM: return "SUM";
    case doAVG: return "AVG";
    case doMIN: return "MIN";
    case doMAX: return "MAX";
    case doCOUNT: return "COUNT";
    case doCOUNTALL: return "COUNT(*)";
    case doSYSDATE: return "SYSDATE";
    case doCURRENT_DATE: return "CURRENT_DATE";
    case doCURRENT_TIME: return "CURRENT_TIME";
    case doTODATE: return "TODATE";
    case doTOSTRING: return "TOSTRING";
    case doEXTRACT: return "EXTRACT";
    case doCAST: return "CAST";
    case doLASTAUTOINC: return "LASTAUTOINC";
    case doMIMETOBIN: return "MIMETOBIN";
    case doROWNUM: return "ROWNUM";
    case doABS: return "ABS";
    case doACOS: return "ACOS";
    case doASIN: return "ASIN";
    case doATAN: return "ATAN";
    case doCEIL: return "CEIL";
    case doCOS: return "COS";
    case doEXP: return "EXP";
    case doFLOOR: return "FLOOR";
    case doLOG: return "LOG";
    case doPOWER: return "POWER";
    case doRAND: return "RAND";
    case doROUND: return "ROUND";
    case doSIGN: return "SIGN";
    case doSIN: return "SIN";
    case doSQR: return "SQR";
    case doSQRT: return "SQRT";
  }
  return "UNDEFINED";
}

TORBDataOperator ReverseComparisonOperator(TORBDataOperator op) {
  switch (op) {
    case doGT: return doLT;
    case doLT: return doGT;
    case doGE: return doLE;
    case doLE: return doGE;
    default: return op;
  }
}

TORBDataOperator InvertComparisonOperator(TORBDataOperator op) {
  switch (op) {
    case doEQ: return doNE;
    case doNE: return doEQ;
    case doGT: return doLE;
    case doLE: return doGT;
    case doLT: return doGE;
    case doGE: return doLT;
    default: return op;
  }
}

}  // namespace orb
