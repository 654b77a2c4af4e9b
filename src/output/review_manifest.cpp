#include "output/review_manifest.hpp"

#include "output/export_destination.hpp"
#include "output/output_texts.hpp"
#include "output/photo_fields.hpp"

#include <fmt/format.h>

#include <array>
#include <cstdio>
#include <string_view>
#include <vector>

namespace tw::output {
namespace {

constexpr std::array<const char*, 4> kDecisions = {texts::kKeep, texts::kPending, texts::kReject, texts::kUndecided};

size_t DecisionIndex(const Json& photo) {
  const std::string status = StringField(photo, "status");
  for (size_t i = 0; i < kDecisions.size(); ++i) {
    if (status == kDecisions[i]) return i;
  }
  return kDecisions.size() - 1;
}

// A tab or line break inside a value would break the row apart.
std::string Cleaned(std::string text) {
  for (char& c : text) {
    if (c == '\t' || c == '\r' || c == '\n') c = ' ';
  }
  return text;
}

std::string IssuesColumn(const Json& photo) {
  std::string joined;
  for (const Json& issue : ArrayField(photo, "issues")) {
    if (!issue.is_string()) continue;
    if (!joined.empty()) joined += texts::kManifestIssueSeparator;
    joined += Cleaned(issue.get<std::string>());
  }
  return joined.empty() ? texts::kManifestNoIssues : joined;
}

std::string GroupColumn(const Json& photo) {
  std::string group = Cleaned(StringField(photo, "group"));
  if (BoolField(photo, "best", false)) group = group.empty() ? texts::kManifestBest : group + texts::kManifestBestSuffix;
  return group.empty() ? texts::kManifestNone : group;
}

std::string CloudColumn(const Json& photo) {
  std::string reason = Cleaned(StringField(photo, "cloudReason"));
  if (BoolField(photo, "cloudBest", false)) {
    reason = reason.empty() ? texts::kManifestCloudBest : reason + texts::kManifestCloudBestSuffix;
  }
  if (reason.empty()) return texts::kManifestNone;
  // Whole percent, rounded as printf's "%.0f" rounds.
  char percent[64];
  std::snprintf(percent, sizeof percent, "%.0f%%", NumberField(photo, "cloudConfidence").value_or(0) * 100.0);
  return reason + " · " + percent;
}

std::string Row(const Json& photo) {
  const std::string name = Cleaned(StringField(photo, "name"));
  return fmt::format(texts::kManifestRow, SplitName(name).stem, name, Cleaned(RatingText(photo)), IssuesColumn(photo),
                     GroupColumn(photo), CloudColumn(photo));
}

std::string LocalTimeText(std::time_t moment) {
  std::tm local{};
  localtime_r(&moment, &local);
  char text[64];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

}  // namespace

std::string ManifestFileStem(const std::string& projectName) {
  static constexpr std::string_view kSeparators = "/:\\?%*|\"<>";
  std::string stem;
  std::string piece;
  auto finishPiece = [&] {
    if (piece.empty()) return;
    if (!stem.empty()) stem += "-";
    stem += piece;
    piece.clear();
  };
  for (char c : projectName) {
    if (kSeparators.find(c) != std::string_view::npos) {
      finishPiece();
    } else {
      piece += c;
    }
  }
  finishPiece();
  return stem.empty() ? texts::kManifestDefaultProject : stem;
}

std::string ReviewManifestText(const Json& photos, const std::string& projectName, std::time_t written) {
  std::array<std::vector<std::string>, kDecisions.size()> rows;
  long total = 0;
  if (photos.is_array()) {
    for (const Json& photo : photos) {
      rows[DecisionIndex(photo)].push_back(Row(photo));
      ++total;
    }
  }

  std::string text;
  auto line = [&text](const std::string& content) {
    text += content;
    text += '\n';
  };
  line(texts::kManifestTitle);
  line(fmt::format(texts::kManifestProject, projectName));
  line(fmt::format(texts::kManifestWritten, LocalTimeText(written)));
  line(fmt::format(texts::kManifestTotal, total));
  line(fmt::format(texts::kManifestCounts, rows[0].size(), rows[1].size(), rows[2].size(), rows[3].size()));
  line("");
  line(texts::kManifestNote);
  for (size_t i = 0; i < kDecisions.size(); ++i) {
    line("");
    line(fmt::format(texts::kManifestSection, kDecisions[i], rows[i].size()));
    line(texts::kManifestHeader);
    for (const std::string& row : rows[i]) line(row);
  }
  return text;
}

}  // namespace tw::output
