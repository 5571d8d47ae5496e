#pragma once

#include <cstdint>
#include <string_view>

namespace orb {

// Operator of an expression node.
enum TORBDataOperator : uint8_t {
  doUNDEFINED, doEQ, doNE, doGT, doLT, doGE, doLE, doNOT, doAND, doOR, doIN, doNOTIN,
  doEXISTS, doBETWEEN, doNOTBETWEEN, doLIKE, doNOTLIKE, doISNULL, doISNOTNULL, doTRUE,
  doFALSE, doADD, doSUB, doMUL, doDIV, doCONCAT, doUPPER, doLOWER, doTRIM, doLTRIM,
  doRTRIM, doLENGTH, doPOS, doSUBSTRING, doSUM, doAVG, doMIN, doMAX, doCOUNT, doCOUNTALL,
  doSYSDATE, doCURRENT_DATE, doCURRENT_TIME, doTODATE, doTOSTRING, doEXTRACT, doCAST,
  doLASTAUTOINC, doMIMETOBIN, doROWNUM, doABS, doACOS, doASIN, doATAN, doCEIL, doCOS,
  doEXP, doFLOOR, doLOG, doPOWER, doRAND, doROUND, doSIGN, doSIN, doSQR, doSQRT,
};

enum TORBQuantifier : uint8_t { qUNDEFINED, qALL, qANY };

enum TORBDateTimeExtractField : uint8_t {
  dtefYear, dtefMonth, dtefDay, dtefHour, dtefMinute, dtefSecond,
};

// SQL spelling of an operator, for messages.
std::string_view GetOperatorName(TORBDataOperator op);

// Swaps the sides of a comparison: '>' becomes '<', '>=' becomes '<='.
TORBDataOperator ReverseComparisonOperator(TORBDataOperator op);
// Negates a comparison: '=' and '<>', '>' and '<=', '<' and '>='.
TORBDataOperator InvertComparisonOperator(TORBDataOperator op);

}  // namespace orb
