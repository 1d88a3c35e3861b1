#include "ModelList.h"

#include <dirent.h>

#include <algorithm>
#include <cstring>

std::vector<std::string> listFiles(const char* path, const char* suffix) {
  std::vector<std::string> names;
  DIR* dir = opendir(path);
  if (!dir) return names;
  const size_t n = std::strlen(suffix);
  while (const dirent* entry = readdir(dir)) {
    const size_t len = std::strlen(entry->d_name);
    if (len > n && std::memcmp(entry->d_name + len - n, suffix, n) == 0)
      names.emplace_back(entry->d_name, len - n);
  }
  closedir(dir);
  std::sort(names.begin(), names.end());
  return names;
}

int modelListIndex(const std::vector<std::string>& list, const std::string& name) {
  const auto it = std::find(list.begin(), list.end(), name);
  return it == list.end() ? 0 : static_cast<int>(it - list.begin()) + 1;
}

std::string modelListEntry(const std::vector<std::string>& list, int index) {
  if (index < 1 || index > static_cast<int>(list.size())) return "";
  return list[index - 1];
}

int elementModelForChoice(int choice) { return choice >= 1 && choice <= 4 ? choice : 0; }

int schemeForSelection(int selection) {
  static const int schemes[6] = {0, 1, 2, 3, 5, 4};
  return selection >= 0 && selection < 6 ? schemes[selection] : 0;
}
