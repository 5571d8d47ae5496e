#include "engine/disk/integrity_report.h"

#include <algorithm>
#include <tuple>
#include <utility>

namespace orb {

std::string TORBIntegrityFinding::Text() const {
  std::string line = PageNo < 0 ? std::string("file") : "page " + std::to_string(PageNo);
  line += ": ";
  line += What;
  if (!Expected.empty()) {
    line += " (expected " + Expected + ", found " + Found + ")";
  } else if (!Found.empty()) {
    line += " (found " + Found + ")";
  }
  // Text from the file (names) never breaks the one-line form.
  for (char& c : line) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  }
  return line;
}

void TORBIntegrityReport::Add(TORBIntegrityFindingKind kind, int64_t page_no, std::string what, std::string expected,
                              std::string found) {
  FFindings.push_back({kind, page_no < 0 ? -1 : page_no, std::move(what), std::move(expected), std::move(found)});
}

std::vector<TORBIntegrityFinding> TORBIntegrityReport::Findings() const {
  std::vector<std::pair<std::string, const TORBIntegrityFinding*>> keyed;
  keyed.reserve(FFindings.size());
  for (const TORBIntegrityFinding& f : FFindings) keyed.emplace_back(f.Text(), &f);
  std::sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) {
    return std::tie(a.second->PageNo, a.second->Kind, a.first) < std::tie(b.second->PageNo, b.second->Kind, b.first);
  });
  std::vector<TORBIntegrityFinding> sorted;
  sorted.reserve(keyed.size());
  for (const auto& k : keyed) sorted.push_back(*k.second);
  return sorted;
}

std::vector<std::string> TORBIntegrityReport::Lines() const {
  std::vector<std::string> lines;
  for (const TORBIntegrityFinding& f : Findings()) lines.push_back(f.Text());
  return lines;
}

bool TORBIntegrityReport::Has(TORBIntegrityFindingKind kind, int64_t page_no) const {
  return std::any_of(FFindings.begin(), FFindings.end(),
                     [&](const TORBIntegrityFinding& f) { return f.Kind == kind && f.PageNo == page_no; });
}

}  // namespace orb
