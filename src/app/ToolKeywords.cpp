#include <cctype>
#include <cstdio>
#include <cstring>

#include "Converters.h"

void stripConfigSuffix(char* name) {
  static const char kSuffix[] = ".config";
  const size_t n = std::strlen(name), k = sizeof(kSuffix) - 1;
  if (n >= k && std::strcmp(name + n - k, kSuffix) == 0) name[n - k] = '\0';
}

namespace {

template <class Code, size_t N>
Code firstMatch(const char* text, const std::pair<const char*, Code> (&table)[N]) {
  for (const auto& [word, code] : table)
    if (std::strstr(text, word)) return code;
  return Code{};
}

}  // namespace

IntegrationScheme parseIntegrationScheme(const char* text) {
  // Longer words first: "eulerlump" also contains "euler".
  static const std::pair<const char*, IntegrationScheme> kWords[] = {
      {"explizit", IntegrationScheme::Explizit}, {"eulerlump", IntegrationScheme::EulerLump},
      {"euler", IntegrationScheme::Euler},       {"newmarklump", IntegrationScheme::NewmarkLump},
      {"newmark", IntegrationScheme::Newmark},   {"static", IntegrationScheme::Static},
  };
  return firstMatch(text, kWords);
}

ElementModel parseElementModel(const char* text) {
  static const std::pair<const char*, ElementModel> kWords[] = {
      {"nonlinear", ElementModel::Green},
      {"linear", ElementModel::Cauchy},
      {"rotated", ElementModel::Rotated},
      {"partition", ElementModel::Partition},
  };
  return firstMatch(text, kWords);
}

namespace {

bool digit(char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }

// A sign or point that begins a number belongs to it.
bool startsNumber(const char* p) {
  if (digit(*p)) return true;
  if (*p == '-' || *p == '+') ++p;
  if (*p == '.') ++p;
  return digit(*p);
}

}  // namespace

char* readToolLine(FILE* f) {
  // The whole line, however long: a fixed buffer would cut a long one and
  // hand its rest back as the next record.
  static char* line = nullptr;
  static size_t capacity = 0;
  while (getline(&line, &capacity, f) >= 0) {
    if (line[0] == '#') continue;
    char* p = line;
    while (*p && *p != '#' && !startsNumber(p) && *p != 'v' && *p != 'f' && *p != 's') ++p;
    if (*p == '#') continue;
    return *p ? p : line;
  }
  return nullptr;
}
