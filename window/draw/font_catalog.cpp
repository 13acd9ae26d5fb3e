#include "window/draw/font_catalog.h"

#include <fontconfig/fontconfig.h>
#include <strings.h>
#include <cstring>

#include <algorithm>
#include <array>
#include <string_view>

namespace {

struct FontAlias {
  std::string_view windows;
  std::string_view installed;
};

constexpr std::array<FontAlias, 4> kAliases = {{
    {"Arial", "Liberation Sans"},
    {"Arial Narrow", "Liberation Sans Narrow"},
    {"Times New Roman", "Liberation Serif"},
    {"Courier New", "Liberation Mono"},
}};

std::vector<std::string> ReadFamilies() {
  std::vector<std::string> names;
  FcConfig* config = FcInitLoadConfigAndFonts();
  if (config == nullptr) return names;
  FcPattern* pattern = FcPatternCreate();
  FcObjectSet* objects = FcObjectSetBuild(FC_FAMILY, nullptr);
  FcFontSet* set = FcFontList(config, pattern, objects);
  if (set != nullptr) {
    for (int i = 0; i < set->nfont; ++i) {
      FcChar8* family = nullptr;
      // The first family name of a font is its own (others are translations).
      if (FcPatternGetString(set->fonts[i], FC_FAMILY, 0, &family) == FcResultMatch)
        names.emplace_back(reinterpret_cast<const char*>(family));
    }
    FcFontSetDestroy(set);
  }
  FcObjectSetDestroy(objects);
  FcPatternDestroy(pattern);
  FcConfigDestroy(config);
  auto has = [&](std::string_view n) { return std::find(names.begin(), names.end(), n) != names.end(); };
  for (const FontAlias& a : kAliases)
    if (has(a.installed) && !has(a.windows)) names.emplace_back(a.windows);
  std::sort(names.begin(), names.end());
  names.erase(std::unique(names.begin(), names.end()), names.end());
  return names;
}

}  // namespace

const std::vector<std::string>& InstalledFontFamilies() {
  static const std::vector<std::string> families = ReadFamilies();
  return families;
}

std::string FontFaceFor(const char* requested) {
  // Names longer than a family name can be are nobody's.
  const std::string_view want(requested, strnlen(requested, 100));
  if (want.empty()) return {};
  auto same = [&](std::string_view a) {
    return a.size() == want.size() && strncasecmp(a.data(), want.data(), a.size()) == 0;
  };
  for (const FontAlias& a : kAliases)
    if (same(a.windows)) {
      for (const std::string& f : InstalledFontFamilies())
        if (f == a.installed) return f;
    }
  for (const std::string& f : InstalledFontFamilies())
    if (same(f)) return f;
  return {};
}
