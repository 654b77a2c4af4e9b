#include "shell/cli_analyze.hpp"

#include "analysis/analysis_texts.hpp"
#include "analysis/assessment.hpp"
#include "analysis/landmark_model.hpp"
#include "base/files.hpp"
#include "library/imaging/decoded_image.hpp"
#include "library/import_scan.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>

namespace tw::shell {
namespace {

constexpr const char* kUsage =
    "usage: tidewick analyze [--strictness 宽松|标准|严格] [--checks 整体模糊,人脸失焦,闭眼,过曝,欠曝,噪点过高] "
    "[--json] PATH…\n";

const std::vector<std::string>& AllChecks() {
  static const std::vector<std::string> checks = {"整体模糊", "人脸失焦", "闭眼", "过曝", "欠曝", "噪点过高"};
  return checks;
}

struct Options {
  std::string strictness = "标准";
  std::vector<std::string> checks = AllChecks();
  bool json = false;
  std::vector<std::string> paths;
};

std::optional<Options> ParseArguments(const std::vector<std::string>& arguments, std::string& error) {
  Options options;
  for (size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    auto value = [&]() -> std::optional<std::string> {
      if (i + 1 >= arguments.size()) return std::nullopt;
      return arguments[++i];
    };
    if (argument == "--json") {
      options.json = true;
    } else if (argument == "--strictness") {
      auto strictness = value();
      if (!strictness || (*strictness != "宽松" && *strictness != "标准" && *strictness != "严格")) {
        error = "--strictness takes 宽松, 标准 or 严格";
        return std::nullopt;
      }
      options.strictness = *strictness;
    } else if (argument == "--checks") {
      auto list = value();
      if (!list) {
        error = "--checks takes a comma-separated list";
        return std::nullopt;
      }
      options.checks.clear();
      std::stringstream stream(*list);
      for (std::string check; std::getline(stream, check, ',');) {
        if (check.empty()) continue;
        if (std::find(AllChecks().begin(), AllChecks().end(), check) == AllChecks().end()) {
          error = "unknown check: " + check;
          return std::nullopt;
        }
        options.checks.push_back(check);
      }
    } else if (argument.rfind("--", 0) == 0) {
      error = "unknown option: " + argument;
      return std::nullopt;
    } else {
      options.paths.push_back(argument);
    }
  }
  if (options.paths.empty()) {
    error = "no photo or folder given";
    return std::nullopt;
  }
  return options;
}

// Columns a terminal gives a text: East Asian wide characters take two.
size_t DisplayWidth(const std::string& text) {
  size_t width = 0;
  for (size_t i = 0; i < text.size();) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    char32_t point = c;
    int length = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    if (length > 1) {
      point = c & (0xFF >> (length + 1));
      for (int k = 1; k < length && i + k < text.size(); ++k) point = (point << 6) | (text[i + k] & 0x3F);
    }
    bool wide = (point >= 0x1100 && point <= 0x115F) || (point >= 0x2E80 && point <= 0xA4CF) ||
                (point >= 0xAC00 && point <= 0xD7A3) || (point >= 0xF900 && point <= 0xFAFF) ||
                (point >= 0xFE30 && point <= 0xFE4F) || (point >= 0xFF00 && point <= 0xFF60) ||
                (point >= 0xFFE0 && point <= 0xFFE6) || (point >= 0x20000 && point <= 0x3FFFD);
    width += wide ? 2 : 1;
    i += static_cast<size_t>(length);
  }
  return width;
}

std::string Pad(const std::string& text, size_t width) {
  size_t have = DisplayWidth(text);
  return text + std::string(have < width ? width - have : 0, ' ');
}

std::string Joined(const Json& list, const char* separator) {
  std::string text;
  for (const auto& item : list) {
    if (!item.is_string()) continue;
    if (!text.empty()) text += separator;
    text += item.get<std::string>();
  }
  return text;
}

void PrintTable(const std::vector<std::string>& photos, const std::vector<Json>& results) {
  std::vector<std::vector<std::string>> rows = {{"照片", "问题", "清晰度", "亮度", "噪点", "人脸", "闭眼", "复核"}};
  for (size_t i = 0; i < photos.size(); ++i) {
    const Json& r = results[i];
    if (r.contains("error")) {
      rows.push_back({LastPathComponent(photos[i]), StringField(r, "error"), "", "", "", "", "", ""});
      continue;
    }
    rows.push_back({LastPathComponent(photos[i]), Joined(r["issues"], "、"),
                    fmt::format("{:.0f}", r.value("sharpness", 0.0)), fmt::format("{:.2f}", r.value("brightness", 0.0)),
                    fmt::format("{:.1f}", r.value("noise", 0.0)), fmt::format("{}", r.value("faces", 0)),
                    fmt::format("{}/{}", r.value("closedEyes", 0), r.value("eyesChecked", 0)),
                    Joined(r["reviewReasons"], "；")});
  }
  std::vector<size_t> widths(rows[0].size(), 0);
  for (const auto& row : rows) {
    for (size_t c = 0; c < row.size(); ++c) widths[c] = std::max(widths[c], DisplayWidth(row[c]));
  }
  for (const auto& row : rows) {
    std::string line;
    for (size_t c = 0; c < row.size(); ++c) line += (c + 1 < row.size() ? Pad(row[c], widths[c]) + "  " : row[c]);
    std::cout << line << "\n";
  }
}

}  // namespace

int RunAnalyzeCommand(const std::vector<std::string>& arguments) {
  std::string error;
  auto options = ParseArguments(arguments, error);
  if (!options) {
    std::cerr << "tidewick analyze: " << error << "\n" << kUsage;
    return 2;
  }
  // Photos are analysed side by side, which keeps every core busy; libvips' own threads within
  // each photo would only add hand-offs (about 2 % more processor time). VIPS_CONCURRENCY still wins.
  imaging::EnsureVipsStarted();
  if (std::getenv("VIPS_CONCURRENCY") == nullptr) vips_concurrency_set(1);
  // Paths on the command line are the user's own, so a relative one is taken from the shell's folder.
  std::vector<std::string> paths;
  for (const std::string& path : options->paths) {
    std::error_code error;
    std::filesystem::path absolute = path.empty() ? std::filesystem::path() : std::filesystem::absolute(path, error);
    paths.push_back(error ? path : absolute.string());
  }
  library::PhotoListing listing = library::ListImportablePhotos(paths);
  for (const std::string& path : listing.notPhotos) {
    std::cerr << "tidewick analyze: " << path
              << (PathExists(path) ? ": neither a folder nor a CR3 or JPEG photo" : ": no such file or folder") << "\n";
  }
  if (listing.nonUTF8Names > 0) {
    std::cerr << fmt::format("tidewick analyze: left out {} {} not UTF-8\n", listing.nonUTF8Names,
                             listing.nonUTF8Names == 1 ? "photo: its file name is" : "photos: their file names are");
  }
  const int status = listing.notPhotos.empty() ? 0 : 1;
  std::vector<std::string> photos = std::move(listing.photos);
  Json settings = {{"enabled", options->checks}};

  // The same assessment as the workbench's run, on parallel workers; results keep the order.
  const auto start = std::chrono::steady_clock::now();
  // Reading the landmark model takes seconds; it loads while the first photos are decoded and
  // scanned for faces, which do not need it yet.
  std::thread modelLoader;
  if (!photos.empty()) modelLoader = std::thread([] { analysis::PreloadFaceLandmarkModel(); });
  std::vector<Json> results(photos.size());
  std::atomic<size_t> next{0};
  std::mutex printing;
  size_t printed = 0;
  std::vector<bool> done(photos.size(), false);
  auto work = [&] {
    for (size_t i; (i = next++) < photos.size();) {
      results[i] = analysis::analyzeURL(photos[i], settings, options->strictness);
      std::lock_guard lock(printing);
      done[i] = true;
      // JSON lines stream out in order as soon as every earlier photo is done.
      while (options->json && printed < photos.size() && done[printed]) {
        std::cout << JSONString(Json{{"path", photos[printed]}, {"result", results[printed]}}) << "\n" << std::flush;
        ++printed;
      }
    }
  };
  // One worker more than cores: a worker blocked on libvips' decoding threads or on the disk would
  // otherwise leave a core idle (measured: a twentieth more photos per second on two cores).
  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  unsigned workers = std::max(1u, std::min<unsigned>(cores + 1, photos.size()));
  std::vector<std::thread> threads;
  for (unsigned i = 1; i < workers; ++i) threads.emplace_back(work);
  work();
  for (auto& thread : threads) thread.join();
  if (modelLoader.joinable()) modelLoader.join();
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

  if (options->json) return status;
  PrintTable(photos, results);
  std::map<std::string, int> counts;
  int failed = 0, review = 0;
  for (const auto& result : results) {
    if (result.contains("error")) ++failed;
    if (result.value("needsReview", 0) == 1) ++review;
    for (const auto& issue : result.value("issues", Json::array())) counts[issue.get<std::string>()]++;
  }
  std::string summary = fmt::format("\n{} 张照片，{:.1f} 秒，{:.2f} 张/秒", photos.size(), seconds,
                                    seconds > 0 ? photos.size() / seconds : 0.0);
  for (const auto& check : AllChecks()) {
    if (counts.count(check)) summary += fmt::format("；{} {}", check, counts[check]);
  }
  if (review) summary += fmt::format("；需复核 {}", review);
  if (failed) summary += fmt::format("；无法解码 {}", failed);
  std::cout << summary << "\n";
  return status;
}

}  // namespace tw::shell
