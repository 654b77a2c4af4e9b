// The rated export's own copying speed, without the program around it: RunRatedExport (the worker
// the rating-export queue runs) over the corpus JPEGs against `cp` of the same files, alternating,
// best of N rounds each, from a warm page cache. Processor time (user + system, every thread) is
// printed beside the wall time: on a busy machine it shows the work itself.
//   output_rated_export_bench CORPUS_JPEG_FOLDER [ROUNDS]
#include "base/files.hpp"
#include "output/rated_export.hpp"

#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;
extern char** environ;

namespace {

double Seconds(const std::chrono::steady_clock::time_point& start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

std::string FreshFolder(const std::string& parent, const char* prefix) {
  std::string pattern = parent + "/" + prefix + "XXXXXX";
  if (!mkdtemp(pattern.data())) std::perror("mkdtemp");
  return pattern;
}

double ProcessorSeconds(int who) {
  rusage usage{};
  getrusage(who, &usage);
  auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double RunCp(const std::vector<std::string>& files, const std::string& target) {
  std::vector<std::string> arguments{"cp"};
  arguments.insert(arguments.end(), files.begin(), files.end());
  arguments.push_back(target);
  std::vector<char*> argv;
  for (auto& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  if (posix_spawnp(&pid, "cp", nullptr, nullptr, argv.data(), environ) != 0) return -1;
  int status = 0;
  waitpid(pid, &status, 0);
  return Seconds(start);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: output_rated_export_bench CORPUS_JPEG_FOLDER [ROUNDS]\n");
    return 2;
  }
  const std::string corpus = argv[1];
  const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
  std::vector<std::string> files;
  double megabytes = 0;
  for (auto& entry : fs::directory_iterator(corpus)) {
    if (!entry.is_regular_file() || entry.path().filename().string()[0] == '.') continue;
    files.push_back(entry.path());
    megabytes += static_cast<double>(entry.file_size()) / 1e6;
  }
  std::sort(files.begin(), files.end());
  tw::Json photos = tw::Json::array();
  for (size_t i = 0; i < files.size(); ++i) photos.push_back({{"id", std::to_string(i)}, {"path", files[i]}, {"rating", 4}});
  for (const auto& file : files) tw::ReadWholeFile(file);  // warm the page cache for both sides

  const std::string scratch = FreshFolder(fs::path(corpus).parent_path().parent_path(), "tidewick-bench-rated-");
  double bestOurs = 1e9, bestCp = 1e9, cpuOurs = 1e9, cpuCp = 1e9;
  for (int round = 0; round < rounds; ++round) {
    std::string cpTarget = FreshFolder(scratch, "cp-");
    double before = ProcessorSeconds(RUSAGE_CHILDREN);
    bestCp = std::min(bestCp, RunCp(files, cpTarget));
    cpuCp = std::min(cpuCp, ProcessorSeconds(RUSAGE_CHILDREN) - before);
    fs::remove_all(cpTarget);

    std::string ourTarget = FreshFolder(scratch, "rated-");
    before = ProcessorSeconds(RUSAGE_SELF);
    auto start = std::chrono::steady_clock::now();
    tw::Json answer = tw::output::RunRatedExport({"B", photos, ourTarget}, std::time(nullptr));
    bestOurs = std::min(bestOurs, Seconds(start));
    cpuOurs = std::min(cpuOurs, ProcessorSeconds(RUSAGE_SELF) - before);
    if (answer["outputs"].size() != files.size()) std::fprintf(stderr, "export failed: %s\n", answer.dump().c_str());
    fs::remove_all(ourTarget);
  }
  fs::remove_all(scratch);
  std::printf(
      "rated export worker  %zu files, %.0f MB: %7.1f MB/s (%.3f s, processor %.3f s)   "
      "cp %7.1f MB/s (%.3f s, processor %.3f s)   ratio %.2fx\n",
      files.size(), megabytes, megabytes / bestOurs, bestOurs, cpuOurs, megabytes / bestCp, bestCp, cpuCp,
      bestCp / bestOurs);
  return 0;
}
