// Writes a manual-like tree for the benchmark: nested folders of small HTML
// pages with some larger images, the same tree for the same arguments
// (fixed seed), every file with a fixed last-write time. A later EDITION
// has the same folders and names, new content and times 30 days later.
//
// Usage: make_tree OUTPUT_FOLDER FILE_COUNT TOTAL_MEGABYTES [EDITION]
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr int kFilesPerFolder = 24;
constexpr int kFoldersPerFolder = 6;
constexpr double kImageShare = 0.1;
constexpr time_t kBaseTime = 1704067200;  // 2024-01-01

bool WriteAll(const std::string& path, const std::string& content, time_t when) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return false;
  bool ok = write(fd, content.data(), content.size()) == static_cast<ssize_t>(content.size());
  timespec times[2] = {{when, 0}, {when, 0}};
  ok = futimens(fd, times) == 0 && ok;
  return close(fd) == 0 && ok;
}

std::string Page(std::mt19937& random, size_t size, int number) {
  static const char* words[] = {"install", "manual", "window", "project", "setting", "open",
                                "save", "export", "report", "option", "select", "the", "a"};
  std::string page = "<!DOCTYPE html>\n<html><head><title>Page " + std::to_string(number) +
                     "</title></head><body>\n<h1>Topic " + std::to_string(number) + "</h1>\n<p>";
  while (page.size() + 20 < size) {
    page += words[random() % (sizeof words / sizeof *words)];
    page += (random() % 12 == 0) ? ".</p>\n<p>" : " ";
  }
  return page + "</p></body></html>\n";
}

std::string Image(std::mt19937& random, size_t size) {
  std::string image = "\x89PNG\r\n\x1a\n";
  image.reserve(size);
  while (image.size() < size) image += static_cast<char>(random());
  return image;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4 && argc != 5) {
    fprintf(stderr, "usage: make_tree OUTPUT_FOLDER FILE_COUNT TOTAL_MEGABYTES [EDITION]\n");
    return 2;
  }
  const long edition = argc == 5 ? atol(argv[4]) : 0;
  const std::string root = argv[1];
  const long files = atol(argv[2]);
  const double totalBytes = atof(argv[3]) * 1024 * 1024;
  std::mt19937 random(static_cast<std::mt19937::result_type>(20261208 + edition));

  // Pages are 2-30 KB; images take what remains of the total.
  const long images = static_cast<long>(files * kImageShare);
  const long pages = files - images;
  const double pageBytes = pages * 16.0 * 1024;
  const size_t imageSize =
      images > 0 ? static_cast<size_t>(std::max(64.0 * 1024, (totalBytes - pageBytes) / images)) : 0;

  // Folders nest breadth-first, kFoldersPerFolder under each, and hold
  // kFilesPerFolder files each.
  const long folderCount = (files + kFilesPerFolder - 1) / kFilesPerFolder;
  std::vector<std::string> folders = {root};
  mkdir(root.c_str(), 0755);
  for (long k = 1; k < folderCount; ++k) {
    std::string child = folders[(k - 1) / kFoldersPerFolder] + "/section" + std::to_string(k);
    mkdir(child.c_str(), 0755);
    folders.push_back(child);
  }
  for (long written = 0; written < files; ++written) {
    const std::string& folder = folders[written / kFilesPerFolder];
    const time_t when = kBaseTime + edition * 30 * 86400 + written;
    bool image = written % 10 == 9 && written / 10 < images;
    std::string path = folder + "/" + (image ? "figure" : "page") + std::to_string(written) +
                       (image ? ".png" : ".html");
    std::string content = image ? Image(random, imageSize)
                                : Page(random, 2048 + random() % (28 * 1024), static_cast<int>(written));
    if (!WriteAll(path, content, when)) {
      perror(path.c_str());
      return 1;
    }
  }
  return 0;
}
